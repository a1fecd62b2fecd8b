// Deferred components, the fingerprint rules' part. Three files must agree: the parts below
// (text, member, add_member, object_end, array_element, ...) combined as json_fingerprint.hpp
// says must give exactly what json_fingerprint gives for the value itself, because the body
// reader (json_reader.cpp) fingerprints the components it leaves as text from their parts,
// and the pipeline model (pipeline/deferred_components.cpp) adds the parts of the
// defaults it fills in, while components read as objects are fingerprinted whole. When the
// parts and the whole disagree, JsonReader.DefersTheArrayAtThePathWithWhatEachElementHolds
// fails (and the json_reader_fuzz target finds it).

#include "base/json_io/json_fingerprint.hpp"

#include <array>
#include <boost/json/value.hpp>
#include <cstdint>
#include <cstring>

namespace json_io {
namespace json = boost::json;

namespace fingerprint {
namespace {

using namespace detail;

inline std::uint64_t load(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

inline std::uint64_t load4(const char* at) {
    std::uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

constexpr Part text_start(std::size_t size) {
    return {fold(kString ^ kFirst[2], size ^ kFirst[3]),
            fold(kString ^ kSecond[2], size ^ kSecond[3])};
}

// The starts of short texts, worked out once.
constexpr std::array<Part, 17> short_text_starts() {
    std::array<Part, 17> starts{};
    for (std::size_t size = 0; size < starts.size(); ++size) starts[size] = text_start(size);
    return starts;
}
constexpr std::array<Part, 17> kShortTextStarts = short_text_starts();

}  // namespace

Part text(std::string_view characters) {
    const char* at = characters.data();
    const std::size_t size = characters.size();
    // Kind and length start the lanes. Short texts (most keys and values) take one step; the
    // last block of a longer one overlaps the block before it rather than being copied out.
    if (size < kShortTextStarts.size()) {
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        if (size >= 8) {
            a = load(at);
            b = load(at + size - 8);
        } else if (size >= 4) {
            a = load4(at) | load4(at + size - 4) << 32;
        } else if (size > 0) {
            a = static_cast<std::uint64_t>(static_cast<unsigned char>(at[0])) << 16 |
                static_cast<std::uint64_t>(static_cast<unsigned char>(at[size / 2])) << 8 |
                static_cast<unsigned char>(at[size - 1]);
        }
        return step(kShortTextStarts[size], a, b);
    }
    // Long texts run two chains side by side, each taking every other block, so one
    // multiplication need not wait for the one before.
    Part lanes = text_start(size);
    Part other{lanes.first ^ kFirst[3], lanes.second ^ kSecond[3]};
    std::size_t left = size;
    for (; left > 32; at += 32, left -= 32) {
        lanes = step(lanes, load(at), load(at + 8));
        other = step(other, load(at + 16), load(at + 24));
    }
    if (left > 16) lanes = step(lanes, load(at), load(at + 8));
    const char* last = characters.data() + size - 16;
    other = step(other, load(last), load(last + 8));
    return step(lanes, other.first, other.second);
}

}  // namespace fingerprint

namespace {

fingerprint::Part value_part(const json::value& value);

fingerprint::Part object_part(const json::object& object) {
    fingerprint::Part sum;
    for (const auto& member : object) {
        fingerprint::add_member(
            sum, fingerprint::member(fingerprint::text(member.key()), value_part(member.value())));
    }
    return fingerprint::object_end(sum, object.size());
}

fingerprint::Part value_part(const json::value& value) {
    switch (value.kind()) {
        case json::kind::null:
            return fingerprint::null_value();
        case json::kind::bool_:
            return fingerprint::boolean(value.get_bool());
        case json::kind::int64:
            return fingerprint::integer(value.get_int64());
        case json::kind::uint64:
            return fingerprint::unsigned_integer(value.get_uint64());
        case json::kind::double_:
            return fingerprint::real(value.get_double());
        case json::kind::string:
            return fingerprint::text(value.get_string());
        case json::kind::array: {
            fingerprint::Part array = fingerprint::array_start();
            for (const auto& element : value.get_array()) {
                array = fingerprint::array_element(array, value_part(element));
            }
            return fingerprint::array_end(array, value.get_array().size());
        }
        case json::kind::object:
            return object_part(value.get_object());
    }
    return {};
}

}  // namespace

JsonFingerprint json_fingerprint(const json::value& value) {
    return fingerprint::finish(value_part(value));
}

JsonFingerprint json_fingerprint(const json::object& object) {
    return fingerprint::finish(object_part(object));
}

JsonFingerprint json_fingerprint(std::string_view text) {
    return fingerprint::finish(fingerprint::text(text));
}

}  // namespace json_io
