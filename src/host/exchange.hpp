#pragma once
// One request and its answer as the handlers see them. The session that read the request
// gives it an AnswerSink to hand the answer's bytes back to the network. Every answer is
// logged once, when it ends.

#include <boost/json/value.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/answer_sink.hpp"
#include "host/awaitable.hpp"
#include "host/request.hpp"

namespace host {

struct ServerServices;

class Exchange {
public:
    Exchange(Request request, std::shared_ptr<AnswerSink> sink, ServerServices& services)
        : request_(std::move(request)), sink_(std::move(sink)), services_(services) {}

    const Request& request() const { return request_; }
    Request& request() { return request_; }
    ServerServices& services() { return services_; }

    void set_header(std::string_view name, std::string_view value);
    void clear_header(std::string_view name);
    void set_status(int status);
    void write(std::string_view chunk);
    // Sends what was written so far and resumes once the socket took it; StreamClosed when
    // the client is gone.
    Task flush();
    void finish(std::string_view text);
    void finish(std::shared_ptr<const std::string> text);
    bool finished() const { return finished_; }
    bool headers_sent() const { return headers_sent_; }
    // Keeps an object until the answer is complete, then lets the network thread destroy it.
    void dispose_after_answer(std::shared_ptr<const void> leftover);

    // Answers a failure that left the handler: the host's JSON error when nothing was sent
    // yet, otherwise the connection is dropped.
    void fail(int status, const boost::json::value& body);
    // Drops the connection of an answer whose head already left, logging why.
    void abort(std::string_view cause);

private:
    std::string head(std::optional<std::size_t> content_length);
    void send_last(AnswerPart part);
    void log_answer(std::string_view cause) const;
    const std::string* find_header(std::string_view name) const;

    Request request_;
    std::shared_ptr<AnswerSink> sink_;
    ServerServices& services_;
    int status_ = 200;
    Fields headers_;
    std::string pending_;
    bool headers_sent_ = false;
    bool chunked_ = false;
    bool finished_ = false;
    Leftovers leftovers_;
    std::string failure_;  // why a 5xx answer was given, for the log
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace host
