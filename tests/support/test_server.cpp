#include "support/test_server.hpp"

#include <gtest/gtest.h>
#include <strings.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/json/parse.hpp>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "app/extension.hpp"
#include "dag/dag_handler.hpp"
#include "host/server.hpp"

namespace test_support {
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using net::ip::tcp;

std::string HttpResponse::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
            return value;
        }
    }
    return "";
}

bool HttpResponse::has_header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
            return true;
        }
    }
    return false;
}

boost::json::value HttpResponse::json() const { return boost::json::parse(body); }

void expect_json_answer(const HttpResponse& response, int status, std::string_view body) {
    EXPECT_EQ(response.status, status) << response.body;
    EXPECT_EQ(response.body, body);
    EXPECT_EQ(response.header("Content-Type"), "application/json");
    EXPECT_EQ(response.header("Content-Length"), std::to_string(response.body.size()));
}

// Each server has pipelines of its own, as a fresh process would.
struct TestServer::Running {
    Running(const app::CommandLine& command_line, host::ServerOptions options)
        : extension(command_line), server(std::move(options), app::make_routes(extension)) {}
    app::Extension extension;
    host::Server server;
};

TestServer::TestServer(const std::function<void(app::CommandLine&)>& adjust)
    : folder_("nuvex-server") {
    runtime_dir_ = folder_.path() / "runtime";
    std::filesystem::create_directories(runtime_dir_);
    ::setenv("JUPYTER_RUNTIME_DIR", runtime_dir_.c_str(), 1);
    command_line_.ip = "127.0.0.1";
    command_line_.port = 0;
    command_line_.root_dir = folder_.path() / "root";
    command_line_.temp_dir = folder_.path() / "app-temp";
    command_line_.snippets_dir = NUVEX_SNIPPETS_SOURCE_DIR;
    command_line_.veyra_settings = folder_.path() / "config" / "veyra.json";
    command_line_.token = "test-token";
    command_line_.log_level = "error";
    if (adjust) adjust(command_line_);
    std::filesystem::create_directories(command_line_.root_dir);

    app::configure(command_line_);
    auto options = app::server_options(command_line_);
    options.runtime_dir = runtime_dir_;
    running_ = std::make_unique<Running>(command_line_, std::move(options));
    running_->server.start();
}

TestServer::~TestServer() { running_->server.stop(); }

unsigned short TestServer::port() const { return running_->server.port(); }
const std::string& TestServer::token() const { return running_->server.token(); }
veyra::client::Account& TestServer::veyra_account() { return running_->extension.veyra_account; }
app::Extension& TestServer::extension() { return running_->extension; }

void TestServer::start_kernel(std::string_view kernel_id) {
    write_file(runtime_dir_ / ("kernel-" + std::string(kernel_id) + ".json"), "{}");
}

void TestServer::stop_kernel(std::string_view kernel_id) {
    std::filesystem::remove(runtime_dir_ / ("kernel-" + std::string(kernel_id) + ".json"));
}

std::string TestServer::with_token(std::string_view target) const {
    const char separator = target.find('?') == std::string_view::npos ? '?' : '&';
    return std::string(target) + separator + "token=" + token();
}

HttpResponse TestServer::get(std::string_view target, bool with_token) const {
    return request("GET", target, "", {}, with_token);
}

HttpResponse TestServer::post(std::string_view target, std::string_view body,
                              bool with_token) const {
    return request("POST", target, body, {{"Content-Type", "application/json"}}, with_token);
}

HttpResponse TestServer::request(std::string_view method, std::string_view target,
                                 std::string_view body,
                                 const std::vector<std::pair<std::string, std::string>>& headers,
                                 bool with_token) const {
    net::io_context io;
    beast::tcp_stream stream(io);
    stream.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port()));
    http::request<http::string_body> request(
        http::string_to_verb(method), with_token ? this->with_token(target) : std::string(target),
        11);
    request.set(http::field::host, "127.0.0.1");
    for (const auto& [name, value] : headers) request.set(name, value);
    request.body() = std::string(body);
    request.prepare_payload();
    // A server may answer and close before taking the whole body (a refused upload); its
    // answer is still there to read.
    beast::error_code write_error;
    http::write(stream, request, write_error);

    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(1ull << 32);
    http::read(stream, buffer, parser);
    const auto& message = parser.get();
    HttpResponse response;
    response.status = static_cast<int>(message.result_int());
    for (const auto& field : message)
        response.headers.emplace_back(field.name_string(), field.value());
    response.body = message.body();
    return response;
}

struct WebSocketClient::Impl {
    net::io_context io;
    websocket::stream<tcp::socket> ws{io};
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::string> messages;
    bool done = false;
    std::thread reader;
};

WebSocketClient::WebSocketClient(const TestServer& server, std::string_view kernel_id,
                                 bool with_token)
    : impl_(std::make_unique<Impl>()) {
    const std::string target = "/nuvex-link/kernels/" + std::string(kernel_id) + "/channels";
    impl_->ws.next_layer().connect(
        tcp::endpoint(net::ip::make_address("127.0.0.1"), server.port()));
    impl_->ws.handshake("127.0.0.1", with_token ? server.with_token(target) : target);
    // As large as the largest body the server takes, so a relay of any pipeline fits.
    impl_->ws.read_message_max(64u << 20);
    impl_->reader = std::thread([impl = impl_.get()] {
        beast::flat_buffer buffer;
        beast::error_code error;
        while (!error) {
            impl->ws.read(buffer, error);
            if (error) break;
            const std::lock_guard lock(impl->mutex);
            impl->messages.push_back(beast::buffers_to_string(buffer.data()));
            buffer.clear();
            impl->arrived.notify_all();
        }
        const std::lock_guard lock(impl->mutex);
        impl->done = true;
        impl->arrived.notify_all();
    });
}

WebSocketClient::~WebSocketClient() { close(); }

std::optional<std::string> WebSocketClient::read(std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    impl_->arrived.wait_for(lock, timeout, [&] { return !impl_->messages.empty() || impl_->done; });
    if (impl_->messages.empty()) return std::nullopt;
    std::string message = std::move(impl_->messages.front());
    impl_->messages.pop_front();
    return message;
}

void WebSocketClient::send(std::string_view text) { impl_->ws.write(net::buffer(text)); }

void WebSocketClient::close() {
    if (!impl_->reader.joinable()) return;
    beast::error_code ignored;
    impl_->ws.next_layer().shutdown(tcp::socket::shutdown_both, ignored);
    impl_->reader.join();
    impl_->ws.next_layer().close(ignored);
}

}  // namespace test_support
