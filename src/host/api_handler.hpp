#pragma once
// The base of every HTTP handler: the request/answer operations the handlers call.
// A handler object is made for one request on the handlers' strand, runs one operation (get or
// post) and is dropped after its answer. An operation that has to wait (for a slow client, a
// child process, the platform) hands the rest of its work to wait_for as a coroutine: the
// strand serves other requests while it waits.

#include <boost/json/value.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/awaitable.hpp"
#include "host/request.hpp"

namespace logging {
class Log;
}

namespace host {

class Exchange;
class KernelManager;

using Cookies = std::vector<std::pair<std::string, std::string>>;

class APIHandler {
public:
    explicit APIHandler(Exchange& exchange) : exchange_(exchange) {}
    APIHandler(const APIHandler&) = delete;
    APIHandler& operator=(const APIHandler&) = delete;
    virtual ~APIHandler() = default;

    // Request operations; a route lists which ones a class answers.
    virtual void get(const PathArgs& path_args);
    virtual void post(const PathArgs& path_args);

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
    // The operation goes on as this coroutine once the function returns; the answer is
    // finished when the coroutine ends. Called at most once.
    void wait_for(Task rest);
    std::optional<Task> take_wait() { return std::exchange(rest_, std::nullopt); }
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

protected:
    Exchange& exchange() { return exchange_; }

private:
    Exchange& exchange_;
    std::optional<Task> rest_;
};

}  // namespace host
