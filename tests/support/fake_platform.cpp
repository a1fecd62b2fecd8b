#include "support/fake_platform.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <map>
#include <mutex>
#include <thread>

#include "base/json_io/json_text.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace test_support {
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using net::ip::tcp;

namespace {

struct ScriptedAnswer {
    int status = 200;
    std::string body;
    bool hang = false;
};

std::string route_key(std::string_view method, std::string_view target) {
    return std::string(method) + " " + std::string(target);
}

}  // namespace

// Handlers capture `this`: the thread is joined before the Impl goes, and the io_context's
// destructor drops the handlers (and their connections) that never ran.
struct FakePlatform::Impl {
    net::io_context io;
    tcp::acceptor acceptor{io};
    std::thread thread;

    mutable std::mutex mutex;
    std::map<std::string, ScriptedAnswer> answers;
    std::vector<PlatformRequestRecord> received;
    std::chrono::milliseconds delay{0};

    ScriptedAnswer respond(const http::request<http::string_body>& request) {
        std::string target(request.target().substr(0, request.target().find('?')));
        std::string authorization(request[http::field::authorization]);
        std::lock_guard lock(mutex);
        received.push_back(
            {std::string(request.method_string()), target, authorization, request.body()});
        std::string key = route_key(request.method_string(), target);
        // Routes outside /v1/ (a notebook server's, say) are not the platform's to guard.
        if (target.starts_with("/v1/") && key != "POST /v1/auth/login" &&
            authorization != "Bearer veyra-token" && authorization != "Bearer veyra-sdk-token") {
            return {
                401,
                R"({"code": "AuthenticationError.INVALID_TOKEN", "message": "Token is invalid."})"};
        }
        auto scripted = answers.find(key);
        if (scripted != answers.end()) return scripted->second;
        return {200, "{}"};
    }

    void accept() {
        acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
            if (error) return;
            serve(std::make_shared<beast::tcp_stream>(std::move(socket)));
            accept();
        });
    }

    void serve(std::shared_ptr<beast::tcp_stream> stream) {
        auto buffer = std::make_shared<beast::flat_buffer>();
        auto request = std::make_shared<http::request<http::string_body>>();
        http::async_read(*stream, *buffer, *request,
                         [this, stream, buffer, request](beast::error_code error, size_t) {
                             if (!error) reply(stream, *request);
                         });
    }

    void reply(std::shared_ptr<beast::tcp_stream> stream,
               const http::request<http::string_body>& request) {
        ScriptedAnswer answer = respond(request);
        if (answer.hang) {
            // Keeps the connection open without a word until the client gives up and closes it.
            stream->socket().async_wait(tcp::socket::wait_read, [stream](beast::error_code) {});
            return;
        }
        const std::chrono::milliseconds wait = [this] {
            std::lock_guard lock(mutex);
            return delay;
        }();
        if (wait.count() > 0) {
            // A timer, not a sleep: the platform goes on taking other requests meanwhile.
            auto timer = std::make_shared<net::steady_timer>(io, wait);
            timer->async_wait([this, stream, timer, answer, version = request.version(),
                               keep_alive = request.keep_alive()](beast::error_code) {
                write_answer(stream, answer, version, keep_alive);
            });
            return;
        }
        write_answer(stream, answer, request.version(), request.keep_alive());
    }

    void write_answer(std::shared_ptr<beast::tcp_stream> stream, const ScriptedAnswer& answer,
                      unsigned version, bool keep_alive) {
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(answer.status), version);
        response->set(http::field::content_type, "application/json");
        response->body() = answer.body;
        response->keep_alive(keep_alive);
        response->prepare_payload();
        http::async_write(*stream, *response,
                          [this, stream, response](beast::error_code error, size_t) {
                              if (!error && response->keep_alive()) serve(stream);
                          });
    }
};

FakePlatform::FakePlatform() : impl_(std::make_unique<Impl>()) {
    tcp::endpoint endpoint(net::ip::make_address("127.0.0.1"), 0);
    impl_->acceptor.open(endpoint.protocol());
    impl_->acceptor.set_option(net::socket_base::reuse_address(true));
    impl_->acceptor.bind(endpoint);
    impl_->acceptor.listen();
    answer("POST", "/v1/auth/login", 200,
           R"({"token": "veyra-token", "sdk_token": "veyra-sdk-token", "user_id": 1})");
    answer("GET", "/v1/users/me", 200, R"({"id": 1, "email": "ada@example.com", "name": "Ada"})");
    set_workspaces({{5, "admin"}});
    answer("GET", "/v1/workspaces/5/projects", 200,
           R"([{"id": 5, "name": "Vision"}, {"id": 7, "name": "Speech"}])");
    answer("GET", "/v1/workspaces/5/model-registries", 200, R"([{"id": 3, "name": "Main"}])");
    impl_->accept();
    impl_->thread = std::thread([impl = impl_.get()] { impl->io.run(); });
}

FakePlatform::~FakePlatform() {
    impl_->io.stop();
    impl_->thread.join();
}

std::string FakePlatform::url() const {
    return "http://127.0.0.1:" + std::to_string(impl_->acceptor.local_endpoint().port());
}

void FakePlatform::answer(std::string_view method, std::string_view target, int status,
                          std::string_view body) {
    std::lock_guard lock(impl_->mutex);
    impl_->answers[route_key(method, target)] = {status, std::string(body), false};
}

void FakePlatform::hang(std::string_view method, std::string_view target) {
    std::lock_guard lock(impl_->mutex);
    impl_->answers[route_key(method, target)] = {0, "", true};
}

void FakePlatform::delay_answers(std::chrono::milliseconds delay) {
    std::lock_guard lock(impl_->mutex);
    impl_->delay = delay;
}

void FakePlatform::set_workspaces(const std::vector<WorkspaceSpec>& workspaces) {
    boost::json::array list;
    for (const WorkspaceSpec& workspace : workspaces) {
        boost::json::object item{{"id", workspace.id},
                                 {"name", "Workspace " + std::to_string(workspace.id)}};
        if (workspace.role) item["workspace_role"] = *workspace.role;
        list.push_back(std::move(item));
    }
    answer("GET", "/v1/workspaces", 200, json_io::to_json_text(list));
}

void FakePlatform::log_in_client() const {
    veyra::client::Settings& settings = veyra::client::veyra_settings();
    settings.VEYRA_API_PROTOCOL = "http";
    settings.VEYRA_API_SERVER_URL = url().substr(std::string_view("http://").size());
    settings.TOKEN = "veyra-token";
    settings.VEYRA_SDK_TOKEN = "veyra-sdk-token";
    settings.VEYRA_WORKSPACE_ID = "5";
    settings.VEYRA_PROJECT_ID = "5";
}

int FakePlatform::calls(std::string_view method, std::string_view target) const {
    std::lock_guard lock(impl_->mutex);
    int count = 0;
    for (const PlatformRequestRecord& request : impl_->received) {
        if (request.method == method && request.target == target) ++count;
    }
    return count;
}

std::vector<PlatformRequestRecord> FakePlatform::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

}  // namespace test_support
