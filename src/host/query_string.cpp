#include "host/query_string.hpp"

#include "base/uri/percent_coding.hpp"

namespace host {

std::vector<std::pair<std::string, std::string>> parse_query(std::string_view query) {
    std::vector<std::pair<std::string, std::string>> fields;
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        const auto equals = pair.find('=');
        fields.emplace_back(uri::percent_decode(pair.substr(0, equals), true),
                            equals == std::string_view::npos
                                ? std::string()
                                : uri::percent_decode(pair.substr(equals + 1), true));
    }
    return fields;
}

}  // namespace host
