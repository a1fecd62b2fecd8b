// Request targets from the network: percent decoding, query splitting and route matching take
// any bytes, and decoding undoes encoding.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/uri/percent_coding.hpp"
#include "fuzz_check.hpp"
#include "host/query_string.hpp"
#include "host/router.hpp"

namespace {

using fuzz_support::check;

const host::RouteTable& routes() {
    static const host::RouteTable table = [] {
        host::RouteTable table;
        table.add("/nuvex-link/kernels/{kernel_id}", {"GET", "POST"}, nullptr);
        table.add_websocket("/nuvex-link/kernels/{kernel_id}/channels");
        table.add("/nuvex-link/cache/info", {"GET"}, nullptr);
        table.add("/nuvex-link/{first}/{second}/x", {"GET"}, nullptr);
        return table;
    }();
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    check(uri::percent_decode(uri::percent_encode(input)) == input);
    check(uri::percent_decode(uri::percent_encode(input, "/:@"), true) == input);
    check(uri::percent_decode(input).size() <= size);

    for (const auto& [name, value] : host::parse_query(input)) {
        check(name.size() + value.size() <= size);
    }

    if (const auto match = routes().match(input)) {
        std::size_t placeholders = 0;
        for (const auto& segment : match->route->segments) {
            placeholders += segment.starts_with('{') ? 1 : 0;
        }
        check(match->path_args.size() == placeholders);
        for (const auto& argument : match->path_args) check(!argument.empty());
    }
    return 0;
}
