#include "host/json_fingerprint.hpp"

#include <array>
#include <boost/json/value.hpp>
#include <cstdint>
#include <cstring>

namespace host {
namespace json = boost::json;

namespace {

// Two independent 64-bit lanes, each a chain of 64x64->128-bit multiplications folded to
// 64 bits, with its own constants.
struct Lanes {
    std::uint64_t first;
    std::uint64_t second;
};

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

inline Lanes step(Lanes lanes, std::uint64_t a, std::uint64_t b) {
    return {fold(a ^ kFirst[0] ^ lanes.first, b ^ kFirst[1]),
            fold(a ^ kSecond[0] ^ lanes.second, b ^ kSecond[1])};
}

// Every step already ends in a multiplication, so values combine unfinished; a fingerprint
// gets one last mix.
inline Lanes finish(Lanes lanes) {
    return {fold(lanes.first ^ kFirst[2], kFirst[3]), fold(lanes.second ^ kSecond[2], kSecond[3])};
}

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

constexpr Lanes text_start(std::size_t size) {
    return {fold(kString ^ kFirst[2], size ^ kFirst[3]),
            fold(kString ^ kSecond[2], size ^ kSecond[3])};
}

// The starts of short texts, worked out once.
constexpr std::array<Lanes, 17> short_text_starts() {
    std::array<Lanes, 17> starts{};
    for (std::size_t size = 0; size < starts.size(); ++size) starts[size] = text_start(size);
    return starts;
}
constexpr std::array<Lanes, 17> kShortTextStarts = short_text_starts();

Lanes hash_text(std::string_view bytes) {
    const char* at = bytes.data();
    const std::size_t size = bytes.size();
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
    Lanes lanes = text_start(size);
    Lanes other{lanes.first ^ kFirst[3], lanes.second ^ kSecond[3]};
    std::size_t left = size;
    for (; left > 32; at += 32, left -= 32) {
        lanes = step(lanes, load(at), load(at + 8));
        other = step(other, load(at + 16), load(at + 24));
    }
    if (left > 16) lanes = step(lanes, load(at), load(at + 8));
    const char* last = bytes.data() + size - 16;
    other = step(other, load(last), load(last + 8));
    return step(lanes, other.first, other.second);
}

Lanes hash_value(const json::value& value);

Lanes hash_object(const json::object& object) {
    // Members are summed, so their order does not matter; each member binds key and value.
    Lanes sum{0, 0};
    for (const auto& member : object) {
        const Lanes key = hash_text(member.key());
        const Lanes value = hash_value(member.value());
        const Lanes both = step(key, value.first, value.second);
        sum.first += both.first;
        sum.second += both.second;
    }
    return step(sum, kObject, object.size());
}

Lanes hash_value(const json::value& value) {
    switch (value.kind()) {
        case json::kind::null:
            return step({0, 0}, kNull, 0);
        case json::kind::bool_:
            return step({0, 0}, value.get_bool() ? kTrue : kFalse, 0);
        case json::kind::int64:
            return step({0, 0}, kInteger, static_cast<std::uint64_t>(value.get_int64()));
        case json::kind::uint64: {
            // Equal numbers compare equal whichever integer kind holds them.
            const std::uint64_t number = value.get_uint64();
            const bool fits = number <= static_cast<std::uint64_t>(INT64_MAX);
            return step({0, 0}, fits ? kInteger : kLargeInteger, number);
        }
        case json::kind::double_: {
            const double number =
                value.get_double() == 0.0 ? 0.0 : value.get_double();  // -0.0 == 0.0
            std::uint64_t bits;
            std::memcpy(&bits, &number, sizeof bits);
            return step({0, 0}, kDouble, bits);
        }
        case json::kind::string:
            return hash_text(value.get_string());
        case json::kind::array: {
            Lanes lanes = step({0, 0}, kArray, value.get_array().size());
            for (const auto& element : value.get_array()) {
                const Lanes inner = hash_value(element);
                lanes = step(lanes, inner.first, inner.second);
            }
            return lanes;
        }
        case json::kind::object:
            return hash_object(value.get_object());
    }
    return {0, 0};
}

}  // namespace

JsonFingerprint json_fingerprint(const json::value& value) {
    const Lanes lanes = finish(hash_value(value));
    return {lanes.first, lanes.second};
}

JsonFingerprint json_fingerprint(const json::object& object) {
    const Lanes lanes = finish(hash_object(object));
    return {lanes.first, lanes.second};
}

JsonFingerprint json_fingerprint(std::string_view text) {
    const Lanes lanes = finish(hash_text(text));
    return {lanes.first, lanes.second};
}

}  // namespace host
