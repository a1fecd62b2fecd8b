// The body reader must take exactly the texts boost::json::parse takes and build the same
// values; only doubles may differ, where Boost.JSON 1.81 is wrong and the reader right: it
// rounds some long decimals off by a unit or two in the last place, and reads a zero with a
// large exponent ("0e309") as NaN.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/json_reader.hpp"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

bool close_doubles(double x, double y) {
    if (std::isnan(x)) return std::isnan(y) || y == 0;
    if (x == y) return std::signbit(x) == std::signbit(y);
    // Off by a few units in the last place, across the largest finite double to infinity too.
    for (int step = 0; step < 4; ++step) {
        x = std::nextafter(x, y);
        if (x == y) return true;
    }
    return false;
}

bool same(const boost::json::value& a, const boost::json::value& b) {
    if (a.kind() != b.kind()) return false;
    if (a.is_double()) return close_doubles(a.get_double(), b.get_double());
    if (a.is_array()) {
        const auto& left = a.get_array();
        const auto& right = b.get_array();
        if (left.size() != right.size()) return false;
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (!same(left[i], right[i])) return false;
        }
        return true;
    }
    if (a.is_object()) {
        const auto& left = a.get_object();
        const auto& right = b.get_object();
        if (left.size() != right.size()) return false;
        // Same keys in the same order.
        for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
            if (l->key() != r->key() || !same(l->value(), r->value())) return false;
        }
        return true;
    }
    return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    boost::system::error_code boost_error;
    const boost::json::value expected = boost::json::parse(text, boost_error);
    boost::system::error_code reader_error;
    const boost::json::value read = host::read_json(text, {}, reader_error);
    check(static_cast<bool>(boost_error) == static_cast<bool>(reader_error));
    if (!boost_error) check(same(expected, read));
    return 0;
}
