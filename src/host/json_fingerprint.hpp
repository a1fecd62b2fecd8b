#pragma once
// A 128-bit digest of a JSON value that equal values share: objects are taken as sets of
// members, so the order of keys does not count, as it does not for ==. Comparing two
// digests stands in for comparing two large documents that live in memory far apart.

#include <boost/json/fwd.hpp>
#include <cstdint>
#include <string_view>

namespace host {

// Either half is well mixed on its own, so hash tables may take `first` as the hash.
struct JsonFingerprint {
    std::uint64_t first = 0;
    std::uint64_t second = 0;

    bool operator==(const JsonFingerprint&) const = default;
};

JsonFingerprint json_fingerprint(const boost::json::value& value);
JsonFingerprint json_fingerprint(const boost::json::object& object);
// The fingerprint of a JSON string holding this text.
JsonFingerprint json_fingerprint(std::string_view text);

}  // namespace host
