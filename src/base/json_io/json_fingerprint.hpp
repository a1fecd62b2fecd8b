#pragma once
// A 128-bit digest of a JSON value that equal values share: objects are taken as sets of
// members, so the order of keys does not count, as it does not for ==. Comparing two
// digests stands in for comparing two large documents that live in memory far apart.

#include <boost/json/fwd.hpp>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace json_io {

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

// The parts a fingerprint is made of, for a reader that meets a value's parts in turn and
// never holds the whole value. Combined as below, they give what json_fingerprint gives for
// the value itself:
//   array:  array_end(array_element(...array_element(array_start(), e1)..., en), n)
//   object: members m = member(text(key), value), added up with add_member, then
//           object_end(sum, n)
//   finish(part) is the fingerprint.
namespace fingerprint {

// Two independent 64-bit lanes, each a chain of 64x64->128-bit multiplications folded to
// 64 bits, with its own constants.
struct Part {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
};

namespace detail {

constexpr std::uint64_t kFirst[4] = {0xa0761d6478bd642full, 0xe7037ed1a0b428dbull,
                                     0x8ebc6af09c88c6e3ull, 0x589965cc75374cc3ull};
constexpr std::uint64_t kSecond[4] = {0x1d8e4e27c47d124full, 0x9e3779b97f4a7c15ull,
                                      0xbf58476d1ce4e5b9ull, 0x94d049bb133111ebull};

// Kinds of value, so that "1", 1, 1.0 and [1] all differ.
enum Tag : std::uint64_t {
    kNull = 1,
    kFalse,
    kTrue,
    kInteger,
    kLargeInteger,
    kDouble,
    kString,
    kArray,
    kObject
};

constexpr std::uint64_t fold(std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

constexpr Part step(Part part, std::uint64_t a, std::uint64_t b) {
    return {fold(a ^ kFirst[0] ^ part.first, b ^ kFirst[1]),
            fold(a ^ kSecond[0] ^ part.second, b ^ kSecond[1])};
}

}  // namespace detail

// A string of these (decoded) characters.
Part text(std::string_view characters);

inline Part null_value() { return detail::step({}, detail::kNull, 0); }
inline Part boolean(bool value) {
    return detail::step({}, value ? detail::kTrue : detail::kFalse, 0);
}
inline Part integer(std::int64_t value) {
    return detail::step({}, detail::kInteger, static_cast<std::uint64_t>(value));
}
// Equal numbers share a part whichever integer kind holds them.
inline Part unsigned_integer(std::uint64_t value) {
    const bool fits = value <= static_cast<std::uint64_t>(INT64_MAX);
    return detail::step({}, fits ? detail::kInteger : detail::kLargeInteger, value);
}
inline Part real(double value) {
    const double number = value == 0.0 ? 0.0 : value;  // -0.0 == 0.0
    std::uint64_t bits;
    std::memcpy(&bits, &number, sizeof bits);
    return detail::step({}, detail::kDouble, bits);
}

inline Part array_start() { return {detail::kArray, detail::kArray}; }
inline Part array_element(Part array, Part element) {
    return detail::step(array, element.first, element.second);
}
inline Part array_end(Part array, std::size_t size) {
    return detail::step(array, detail::kArray, size);
}

// A member binds its key and value; members are added up, so their order does not matter.
inline Part member(Part key, Part value) { return detail::step(key, value.first, value.second); }
inline void add_member(Part& sum, Part member) {
    sum.first += member.first;
    sum.second += member.second;
}
inline Part object_end(Part sum, std::size_t size) {
    return detail::step(sum, detail::kObject, size);
}

// Every part already ends in a multiplication, so parts combine unfinished; a fingerprint
// gets one last mix.
inline JsonFingerprint finish(Part part) {
    using namespace detail;
    return {fold(part.first ^ kFirst[2], kFirst[3]), fold(part.second ^ kSecond[2], kSecond[3])};
}

}  // namespace fingerprint
}  // namespace json_io
