#include "page/page_redirect.hpp"

#include <string>

#include "base/uri/percent_coding.hpp"

namespace page {

void PageRedirectHandler::get(const host::PathArgs&) {
    std::string query;
    for (const char* name : {"token", "kernel_id"}) {
        if (const auto value = get_query_argument(name, std::nullopt)) {
            query +=
                (query.empty() ? "?" : "&") + std::string(name) + "=" + uri::percent_encode(*value);
        }
    }
    // Relative, so it holds behind any base URL: ".../view" resolves "view/" beside itself.
    set_header("Location", "view/" + query);
    set_header("Cache-Control", "no-store");
    set_status(301);
    finish();
}

}  // namespace page
