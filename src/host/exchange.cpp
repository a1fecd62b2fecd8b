#include "host/exchange.hpp"

#include <strings.h>

#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/http/status.hpp>

#include "base/json_io/json_text.hpp"
#include "base/logging/log.hpp"
#include "host/http_error.hpp"
#include "host/request_log.hpp"

namespace host {
namespace {

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string chunk_of(std::string_view bytes) {
    char size[24];
    const int length = std::snprintf(size, sizeof size, "%zx\r\n", bytes.size());
    std::string chunk(size, static_cast<std::size_t>(length));
    chunk.append(bytes);
    chunk += "\r\n";
    return chunk;
}

}  // namespace

const std::string* Exchange::find_header(std::string_view name) const {
    for (const auto& [key, value] : headers_) {
        if (same_name(key, name)) return &value;
    }
    return nullptr;
}

void Exchange::set_header(std::string_view name, std::string_view value) {
    // A line break would let a value write headers or a body of its own.
    if (name.find_first_of("\r\n:") != std::string_view::npos ||
        value.find_first_of("\r\n") != std::string_view::npos) {
        throw std::invalid_argument("Invalid header " + std::string(name));
    }
    for (auto& [key, current] : headers_) {
        if (same_name(key, name)) {
            current = value;
            return;
        }
    }
    headers_.emplace_back(name, value);
}

void Exchange::clear_header(std::string_view name) {
    std::erase_if(headers_, [&](const auto& field) { return same_name(field.first, name); });
}

void Exchange::set_status(int status) {
    if (status < 100 || status > 999) throw std::invalid_argument("invalid status code");
    status_ = status;
}

std::string Exchange::head(std::optional<std::size_t> content_length) {
    std::string reason(
        boost::beast::http::obsolete_reason(static_cast<boost::beast::http::status>(status_)));
    if (reason == "<unknown-status>") reason = "Unknown";
    std::string text = "HTTP/1.1 " + std::to_string(status_) + " " + reason + "\r\n";
    for (const auto& [name, value] : headers_) {
        if (same_name(name, "Content-Length") || same_name(name, "Transfer-Encoding")) continue;
        text.append(name).append(": ").append(value).append("\r\n");
    }
    if (content_length) {
        text += "Content-Length: " + std::to_string(*content_length) + "\r\n";
    } else {
        text += "Transfer-Encoding: chunked\r\n";
    }
    if (!request_.keep_alive) text += "Connection: close\r\n";
    text += "\r\n";
    headers_sent_ = true;
    return text;
}

void Exchange::write(std::string_view chunk) {
    if (finished_) throw std::logic_error("Cannot write() after finish()");
    pending_.append(chunk);
}

Task Exchange::flush() {
    if (finished_) throw std::logic_error("Cannot flush() after finish()");
    std::string bytes;
    if (!headers_sent_) {
        // A declared length is kept and the body streamed raw; otherwise it goes chunked.
        const std::string* declared = find_header("Content-Length");
        chunked_ = declared == nullptr;
        bytes = head(declared ? std::optional<std::size_t>(std::stoull(*declared)) : std::nullopt);
    }
    if (!pending_.empty()) bytes += chunked_ ? chunk_of(pending_) : pending_;
    pending_.clear();
    if (bytes.empty()) co_return;
    const bool written =
        co_await boost::asio::async_initiate<const boost::asio::use_awaitable_t<>&, void(bool)>(
            [&](auto resume) {
                // The handler resumes in its own turn, never inside the session's completion.
                auto shared = std::make_shared<decltype(resume)>(std::move(resume));
                auto handler = boost::asio::get_associated_executor(*shared);
                sink_->send({std::move(bytes), {}, false, {}}, [shared, handler](bool taken) {
                    boost::asio::post(handler, [shared, taken] { std::move (*shared)(taken); });
                });
            },
            boost::asio::use_awaitable);
    if (!written) throw StreamClosed("Stream is closed");
}

void Exchange::finish(std::string_view text) {
    if (finished_) throw std::logic_error("finish() called twice");
    std::string bytes;
    if (!headers_sent_) {
        // Large answers are copied once, straight behind the head.
        bytes = head(pending_.size() + text.size());
        bytes.reserve(bytes.size() + pending_.size() + text.size());
        bytes.append(pending_).append(text);
    } else if (chunked_) {
        pending_.append(text);
        if (!pending_.empty()) bytes += chunk_of(pending_);
        bytes += "0\r\n\r\n";
    } else {
        bytes.append(pending_).append(text);
    }
    // A handler's own 5xx answer says why in its body.
    if (status_ >= 500 && failure_.empty()) failure_ = text.substr(0, 1000);
    pending_.clear();
    send_last({std::move(bytes), {}, true, {}});
}

void Exchange::finish(std::shared_ptr<const std::string> text) {
    if (headers_sent_ || !pending_.empty()) return finish(std::string_view(*text));
    if (finished_) throw std::logic_error("finish() called twice");
    std::string bytes = head(text->size());
    send_last({std::move(bytes), std::move(text), true, {}});
}

void Exchange::send_last(AnswerPart part) {
    finished_ = true;
    log_answer(failure_);
    part.leftovers = std::move(leftovers_);
    sink_->send(std::move(part));
}

void Exchange::log_answer(std::string_view cause) const {
    log_request(request_, status_, std::chrono::steady_clock::now() - started_, cause);
}

void Exchange::dispose_after_answer(std::shared_ptr<const void> leftover) {
    leftovers_.push_back(std::move(leftover));
}

void Exchange::fail(int status, const boost::json::value& body) {
    if (finished_) return;
    const auto* fields = body.if_object();
    const auto* reason = fields ? fields->if_contains("reason") : nullptr;
    const auto* message = fields ? fields->if_contains("message") : nullptr;
    const auto* cause = reason && reason->is_string() ? reason : message;
    if (headers_sent_) {
        return abort(cause && cause->is_string() ? std::string_view(cause->get_string())
                                                 : std::string_view("the answer failed"));
    }
    if (cause && cause->is_string()) failure_ = cause->get_string();
    headers_.clear();
    pending_.clear();
    status_ = status;
    set_header("Content-Type", "application/json");
    finish(json_io::to_json_text(body));
}

void Exchange::abort(std::string_view cause) {
    if (finished_) return;
    finished_ = true;
    log_answer(cause);
    logging::server_log().warning(request_.method + " " + target_without_token(request_.target) +
                                  ": answer cut off, connection closed: " + std::string(cause));
    sink_->abort();
}

}  // namespace host
