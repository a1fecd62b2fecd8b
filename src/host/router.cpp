#include "host/router.hpp"

#include "base/uri/percent_coding.hpp"

namespace host {
namespace {

std::vector<std::string> split_segments(std::string_view path) {
    std::vector<std::string> segments;
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    while (true) {
        const auto slash = path.find('/');
        segments.emplace_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return segments;
}

bool is_placeholder(const std::string& segment) {
    return segment.size() > 2 && segment.front() == '{' && segment.back() == '}';
}

}  // namespace

void RouteTable::add(std::string_view pattern, std::vector<std::string> methods,
                     HandlerFactory make, BodyPreparer prepare_body) {
    routes_.push_back({RouteKind::http, split_segments(pattern), std::move(methods),
                       std::move(make), std::move(prepare_body)});
}

void RouteTable::add_websocket(std::string_view pattern) {
    routes_.push_back({RouteKind::websocket, split_segments(pattern), {"GET"}, nullptr, nullptr});
}

void RouteTable::add_without_token(std::string_view pattern, HandlerFactory make) {
    routes_.push_back(
        {RouteKind::http, split_segments(pattern), {"GET"}, std::move(make), {}, false});
}

std::optional<RouteMatch> RouteTable::match(std::string_view path) const {
    // Segments are split on the raw path and decoded afterwards, so an escaped "/" stays
    // inside its segment.
    const auto segments = split_segments(path);
    for (const auto& route : routes_) {
        if (route.segments.size() != segments.size()) continue;
        RouteMatch match{&route, {}};
        bool matched = true;
        for (std::size_t i = 0; i < segments.size() && matched; ++i) {
            if (is_placeholder(route.segments[i])) {
                matched = !segments[i].empty();
                match.path_args.push_back(uri::percent_decode(segments[i]));
            } else {
                matched = route.segments[i] == segments[i];
            }
        }
        if (matched) return match;
    }
    return std::nullopt;
}

}  // namespace host
