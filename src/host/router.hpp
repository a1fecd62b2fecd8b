#pragma once
// Route table: path patterns with {placeholder} segments, the methods each answers and the
// handler class made for a request. Websocket routes are matched the same way.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/api_handler.hpp"

namespace host {

using HandlerFactory = std::function<std::unique_ptr<APIHandler>(Exchange&)>;

// Makes a Handler(exchange, uses...) per request. What it uses (a store, a folder, settings)
// is lent by reference and must outlive the server.
template <class Handler, class... Uses>
HandlerFactory make_handler(Uses&... uses) {
    return [&uses...](Exchange& exchange) { return std::make_unique<Handler>(exchange, uses...); };
}

enum class RouteKind { http, websocket };

struct Route {
    RouteKind kind = RouteKind::http;
    std::vector<std::string> segments;  // "{name}" marks a placeholder
    std::vector<std::string> methods;   // "GET", "POST"
    HandlerFactory make;
    BodyPreparer prepare_body;
    // False only for files that hold no user data (a page's scripts and styles), which a
    // browser fetches without the token, as notebook servers serve theirs.
    bool needs_token = true;
};

struct RouteMatch {
    const Route* route = nullptr;
    PathArgs path_args;
};

class RouteTable {
public:
    void add(std::string_view pattern, std::vector<std::string> methods, HandlerFactory make,
             BodyPreparer prepare_body = {});
    void add_websocket(std::string_view pattern);
    // A GET route that answers without the token.
    void add_without_token(std::string_view pattern, HandlerFactory make);

    // Matches a decoded request path (without the base URL prefix). A placeholder takes one
    // non-empty segment.
    std::optional<RouteMatch> match(std::string_view path) const;

private:
    std::vector<Route> routes_;
};

}  // namespace host
