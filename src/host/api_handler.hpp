#pragma once
// The base of every HTTP handler: the request/answer operations the handlers call.
// A handler object is made for one request in the handlers' turn, runs one operation (get or
// post) and is dropped after its answer. Its type says whether it waits: a PlainHandler's
// operations are plain functions that answer before they return; a CoroutineHandler's are
// coroutines that may wait (for a slow client, a child process, the platform) while other
// handlers take their turns. Every answer is given in the handler's turn.

#include <boost/json/value.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/awaitable.hpp"
#include "host/blocking_call.hpp"
#include "host/request.hpp"

namespace logging {
class Log;
}

namespace host {

class ChannelRegistry;
class Exchange;
class KernelManager;

using Cookies = std::vector<std::pair<std::string, std::string>>;

class APIHandler {
public:
    explicit APIHandler(Exchange& exchange) : exchange_(exchange) {}
    APIHandler(const APIHandler&) = delete;
    APIHandler& operator=(const APIHandler&) = delete;
    virtual ~APIHandler() = default;

    // Runs the request's operation: a plain one to its end, a waiting one up to its first wait,
    // giving the coroutine that goes on from there.
    virtual std::optional<Task> start(const PathArgs& path_args) = 0;

    // The answer. Headers and status may change until the first flush; after finish
    // nothing more is written.
    void set_header(std::string_view name, std::string_view value);
    void clear_header(std::string_view name);
    void set_status(int status);
    // Appends to the answer body; flush sends what was written so far and resumes once the
    // socket took it (one chunk in memory), failing with StreamClosed when the client left.
    void write(std::string_view chunk);
    Task flush();
    void finish();
    void finish(std::string_view text);
    // A text shared with others (a kept answer, say) is written without a copy.
    void finish(std::shared_ptr<const std::string> text);
    // Serialised with the server's JSON text writer.
    void finish(const boost::json::value& object);
    bool finished() const;
    // True once the answer's status and headers left with a flush.
    bool headers_sent() const;
    // Hands an object over to be destroyed on the network thread once the answer is complete:
    // tearing down a large structure then holds back no other handler.
    void dispose_after_answer(std::shared_ptr<const void> leftover);

    // The request.
    // The body parsed as JSON, null when it is empty; HTTPError 400 when it is not JSON.
    boost::json::value get_json_body();
    std::string_view request_body() const;
    // What the route's BodyPreparer made of the body, if anything.
    PreparedBody* prepared_body();
    // The last value of the query argument; HTTPError 400 "Missing argument NAME" without it.
    std::string get_query_argument(std::string_view name);
    // The same with a default (null): a missing argument gives nullopt.
    std::optional<std::string> get_query_argument(std::string_view name, std::nullopt_t);
    // Every name=value pair of the Cookie headers, in order.
    Cookies cookies() const;
    const std::string& request_path() const;

    logging::Log& log();
    KernelManager& kernel_manager();
    // The front end's open websocket connections.
    ChannelRegistry& channels();
    // Stopped when the server stops: what waits on a child process or a platform ends then.
    std::stop_token stop_token();
    // Runs work that blocks on a thread of its own and resumes in the turn with its result
    // (or its failure); the server waits for such calls before it stops.
    template <class Function>
    auto run_blocking(Function function) {
        return host::run_blocking(blocking_calls(), std::move(function));
    }

protected:
    Exchange& exchange() { return exchange_; }

private:
    BlockingCalls& blocking_calls();

    Exchange& exchange_;
};

// A handler that never waits: get and post answer before they return.
class PlainHandler : public APIHandler {
public:
    using APIHandler::APIHandler;

    // Request operations; a route lists which ones a class answers.
    virtual void get(const PathArgs& path_args);
    virtual void post(const PathArgs& path_args);

    std::optional<Task> start(const PathArgs& path_args) final;
};

// A handler that may wait: get and post are coroutines, and the answer is given by the time
// they end.
class CoroutineHandler : public APIHandler {
public:
    using APIHandler::APIHandler;

    virtual Task get(const PathArgs& path_args);
    virtual Task post(const PathArgs& path_args);

    std::optional<Task> start(const PathArgs& path_args) final;

private:
    // The coroutine refers to the handler's own copy, which lives as long as it runs.
    PathArgs path_args_;
};

}  // namespace host
