#include "host/request_log.hpp"

#include <cstdio>

#include "base/logging/log.hpp"
#include "base/uri/percent_coding.hpp"

namespace host {

std::string target_without_token(std::string_view target) {
    const auto question = target.find('?');
    if (question == std::string_view::npos) return std::string(target);
    std::string scrubbed(target.substr(0, question + 1));
    std::string_view query = target.substr(question + 1);
    bool first = true;
    while (true) {
        const auto ampersand = query.find('&');
        const std::string_view pair = query.substr(0, ampersand);
        const auto equals = pair.find('=');
        if (!first) scrubbed += '&';
        first = false;
        if (uri::percent_decode(pair.substr(0, equals), true) == "token") {
            scrubbed.append(pair.substr(0, equals)).append("=[secret]");
        } else {
            scrubbed.append(pair);
        }
        if (ampersand == std::string_view::npos) break;
        query.remove_prefix(ampersand + 1);
    }
    return scrubbed;
}

void log_request(const Request& request, int status, std::chrono::steady_clock::duration took,
                 std::string_view cause) {
    const auto level = status >= 500   ? logging::LogLevel::error
                       : status >= 400 ? logging::LogLevel::warning
                                       : logging::LogLevel::debug;
    auto& log = logging::server_log();
    if (!log.enabled(level)) return;
    char milliseconds[32];
    std::snprintf(milliseconds, sizeof milliseconds, "%.2fms",
                  std::chrono::duration<double, std::milli>(took).count());
    std::string line = std::to_string(status) + " " + request.method + " " +
                       target_without_token(request.target) + " (" + request.client + ") " +
                       milliseconds;
    if (status >= 500 && !cause.empty()) line.append(": ").append(cause);
    log.write(level, line);
}

}  // namespace host
