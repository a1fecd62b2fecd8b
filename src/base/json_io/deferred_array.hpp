#pragma once
// An array of a request body whose elements are checked and fingerprinted as the body is read
// but not built into values: a route that only needs a few fields of each element, and
// whether it changed since the last request, is spared building hundreds of objects it would
// never read. The elements stay as text, to be built when something reads them.

#include <boost/json/kind.hpp>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/json_io/json_fingerprint.hpp"

namespace json_io {

// One member of a deferred element, as it stands in the text.
struct DeferredMember {
    std::string_view key;  // keys of deferred elements are written without escapes
    boost::json::kind kind;
    // The value's text; for a string, its characters between the quotes.
    std::string_view text;
    // A string written with escapes: `text` is then not yet its characters.
    bool escaped = false;
};

// An element that is an object without repeated keys at any depth.
struct DeferredElement {
    std::string_view text;  // from its '{' to its '}'
    // Its members' fingerprint parts added up (fingerprint::object_end and finish complete it).
    fingerprint::Part member_sum;
    std::uint32_t first_member = 0;
    std::uint32_t member_count = 0;
};

struct DeferredArray {
    // False when the body has no array there, or one the reader built in full after all.
    bool found = false;
    std::vector<DeferredElement> elements;
    std::vector<DeferredMember> members;

    std::span<const DeferredMember> members_of(const DeferredElement& element) const {
        return {members.data() + element.first_member, element.member_count};
    }
};

}  // namespace json_io
