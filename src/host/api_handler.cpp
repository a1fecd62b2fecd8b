#include "host/api_handler.hpp"

#include <strings.h>

#include <boost/json/error.hpp>

#include "base/json_io/json_reader.hpp"
#include "base/json_io/json_text.hpp"
#include "base/text/utf8.hpp"
#include "base/logging/log.hpp"
#include "host/exchange.hpp"
#include "host/http_error.hpp"
#include "host/server_services.hpp"

namespace host {
namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

void PlainHandler::get(const PathArgs&) { throw HTTPError(405, "Method Not Allowed"); }
void PlainHandler::post(const PathArgs&) { throw HTTPError(405, "Method Not Allowed"); }

std::optional<Task> PlainHandler::start(const PathArgs& path_args) {
    if (exchange().request().method == "POST") {
        post(path_args);
    } else {
        get(path_args);
    }
    return std::nullopt;
}

Task CoroutineHandler::get(const PathArgs&) {
    throw HTTPError(405, "Method Not Allowed");
    co_return;
}
Task CoroutineHandler::post(const PathArgs&) {
    throw HTTPError(405, "Method Not Allowed");
    co_return;
}

std::optional<Task> CoroutineHandler::start(const PathArgs& path_args) {
    path_args_ = path_args;
    return exchange().request().method == "POST" ? post(path_args_) : get(path_args_);
}

void APIHandler::set_header(std::string_view name, std::string_view value) {
    exchange_.set_header(name, value);
}
void APIHandler::clear_header(std::string_view name) { exchange_.clear_header(name); }
void APIHandler::set_status(int status) { exchange_.set_status(status); }
void APIHandler::write(std::string_view chunk) { exchange_.write(chunk); }
Task APIHandler::flush() { return exchange_.flush(); }
void APIHandler::finish() { exchange_.finish(std::string_view()); }
void APIHandler::finish(std::string_view text) { exchange_.finish(text); }
void APIHandler::finish(std::shared_ptr<const std::string> text) {
    exchange_.finish(std::move(text));
}
void APIHandler::finish(const boost::json::value& object) {
    exchange_.set_header("Content-Type", "application/json");
    exchange_.finish(json_io::to_json_text(object));
}
bool APIHandler::finished() const { return exchange_.finished(); }
bool APIHandler::headers_sent() const { return exchange_.headers_sent(); }
void APIHandler::dispose_after_answer(std::shared_ptr<const void> leftover) {
    exchange_.dispose_after_answer(std::move(leftover));
}

boost::json::value APIHandler::get_json_body() {
    auto& request = exchange_.request();
    if (!request.body || request.body->empty()) return nullptr;
    if (request.parsed_body) {
        // Handed over once (a second call parses again), copied out of the memory the parse
        // used so that the handler may keep any part of it. A route's BodyPreparer may have
        // taken the large parts already.
        boost::json::value body(std::move(request.parsed_body->document),
                                boost::json::storage_ptr());
        request.parsed_body.reset();
        return body;
    }
    boost::system::error_code error;
    boost::json::value body = json_io::read_json(*request.body, {}, error);
    if (error == boost::json::error::too_deep) throw too_deeply_nested_body();
    if (error) throw HTTPError(400, "Invalid JSON in body of request");
    return body;
}

std::string_view APIHandler::request_body() const {
    const auto& body = exchange_.request().body;
    return body ? std::string_view(*body) : std::string_view();
}

PreparedBody* APIHandler::prepared_body() { return exchange_.request().prepared.get(); }

std::optional<std::string> APIHandler::get_query_argument(std::string_view name, std::nullopt_t) {
    const Fields& query = exchange_.request().query;
    for (auto at = query.rbegin(); at != query.rend(); ++at) {
        if (at->first != name) continue;
        if (!base::is_valid_utf8(at->second)) {
            throw HTTPError(400, "Invalid unicode in query argument " + std::string(name));
        }
        return at->second;
    }
    return std::nullopt;
}

std::string APIHandler::get_query_argument(std::string_view name) {
    auto value = get_query_argument(name, std::nullopt);
    if (!value) throw HTTPError(400, "Missing argument " + std::string(name));
    return std::move(*value);
}

Cookies APIHandler::cookies() const {
    Cookies cookies;
    for (const auto& [header, value] : exchange_.request().headers) {
        if (header.size() != 6 || strncasecmp(header.data(), "Cookie", 6) != 0) continue;
        std::string_view rest = value;
        while (!rest.empty()) {
            const auto semicolon = rest.find(';');
            const std::string_view pair = trim(rest.substr(0, semicolon));
            rest = semicolon == std::string_view::npos ? std::string_view()
                                                       : rest.substr(semicolon + 1);
            const auto equals = pair.find('=');
            if (equals == std::string_view::npos) continue;
            cookies.emplace_back(trim(pair.substr(0, equals)), trim(pair.substr(equals + 1)));
        }
    }
    return cookies;
}

const std::string& APIHandler::request_path() const { return exchange_.request().path; }

logging::Log& APIHandler::log() { return logging::server_log(); }
KernelManager& APIHandler::kernel_manager() { return exchange_.services().kernels; }
ChannelRegistry& APIHandler::channels() { return exchange_.services().channels; }
std::stop_token APIHandler::stop_token() { return exchange_.services().stopping.get_token(); }
BlockingCalls& APIHandler::blocking_calls() { return exchange_.services().blocking_calls; }

}  // namespace host
