#pragma once
// Whether two JSON documents are the same, keys in the same order. Doubles may differ by a few
// units in the last place: Boost.JSON 1.81 reads some long decimals a unit or two off the
// nearest double, and a zero with a huge exponent ("0e309") as NaN, where the right value
// is 0.
//
// all_finite tells whether a document has a JSON text at all.

#include <boost/json/value.hpp>
#include <cmath>
#include <cstddef>

namespace fuzz_support {

inline bool close_doubles(double x, double y) {
    if (std::isnan(x)) return std::isnan(y) || y == 0;
    if (x == y) return std::signbit(x) == std::signbit(y);
    // A few steps apart, across the largest finite double to infinity too.
    for (int step = 0; step < 4; ++step) {
        x = std::nextafter(x, y);
        if (x == y) return true;
    }
    return false;
}

// The writer spells non-finite numbers as Python does (NaN, Infinity), which strict JSON
// cannot read back; the round trip is only promised for documents without them.
inline bool all_finite(const boost::json::value& value) {
    if (value.is_double()) return std::isfinite(value.get_double());
    if (value.is_array()) {
        for (const auto& item : value.get_array()) {
            if (!all_finite(item)) return false;
        }
    }
    if (value.is_object()) {
        for (const auto& member : value.get_object()) {
            if (!all_finite(member.value())) return false;
        }
    }
    return true;
}

inline bool same_json(const boost::json::value& a, const boost::json::value& b) {
    if (a.kind() != b.kind()) return false;
    if (a.is_double()) return close_doubles(a.get_double(), b.get_double());
    if (a.is_array()) {
        const auto& left = a.get_array();
        const auto& right = b.get_array();
        if (left.size() != right.size()) return false;
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (!same_json(left[i], right[i])) return false;
        }
        return true;
    }
    if (a.is_object()) {
        const auto& left = a.get_object();
        const auto& right = b.get_object();
        if (left.size() != right.size()) return false;
        for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
            if (l->key() != r->key() || !same_json(l->value(), r->value())) return false;
        }
        return true;
    }
    return a == b;
}

}  // namespace fuzz_support
