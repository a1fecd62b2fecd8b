#pragma once
// The whole server in-process on a free loopback port, with its own root, runtime, temporary
// and settings folders, plus small blocking HTTP and websocket clients for the tests.

#include <boost/json/value.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.hpp"
#include "support/temp_dir.hpp"

namespace app {
struct Extension;
}

namespace veyra::client {
class Account;
}

namespace test_support {

struct HttpResponse {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // in wire order
    std::string body;

    // The first header of that name (any case), or "" when absent.
    std::string header(std::string_view name) const;
    bool has_header(std::string_view name) const;
    boost::json::value json() const;
};

// The standard JSON answer: status, exact body, "Content-Type" application/json and a
// "Content-Length" equal to the body's bytes.
void expect_json_answer(const HttpResponse& response, int status, std::string_view body);

class TestServer {
public:
    // Starts the server; `adjust` may change the command line before it is applied
    // (root_dir, temp_dir, snippets_dir and veyra_settings point into a fresh folder).
    explicit TestServer(const std::function<void(app::CommandLine&)>& adjust = {});
    ~TestServer();

    unsigned short port() const;
    const std::string& token() const;
    const app::CommandLine& command_line() const { return command_line_; }
    const std::filesystem::path& root_dir() const { return command_line_.root_dir; }
    const std::filesystem::path& temp_dir() const { return command_line_.temp_dir; }
    const std::filesystem::path& runtime_dir() const { return runtime_dir_; }
    const std::filesystem::path& scratch() const { return folder_.path(); }
    // The server's Veyra login, for a test to set up or read back between requests.
    veyra::client::Account& veyra_account();
    // What the server's handlers share (its store, layouts, folders).
    app::Extension& extension();

    // Marks a kernel as running (its connection file) or stopped.
    void start_kernel(std::string_view kernel_id);
    void stop_kernel(std::string_view kernel_id);

    // target is the path with its query (without the token, which is added unless
    // with_token is false).
    HttpResponse get(std::string_view target, bool with_token = true) const;
    HttpResponse post(std::string_view target, std::string_view body, bool with_token = true) const;
    HttpResponse request(std::string_view method, std::string_view target, std::string_view body,
                         const std::vector<std::pair<std::string, std::string>>& headers = {},
                         bool with_token = true) const;
    // The target with "token=..." appended to its query.
    std::string with_token(std::string_view target) const;

private:
    TempDir folder_;
    std::filesystem::path runtime_dir_;
    app::CommandLine command_line_;
    struct Running;
    std::unique_ptr<Running> running_;
};

// A blocking websocket client of the front end's channel of one kernel.
class WebSocketClient {
public:
    // Connects to /nuvex-link/kernels/<kernel_id>/channels (with the server's token unless
    // told otherwise); fails when the server refuses the upgrade.
    WebSocketClient(const TestServer& server, std::string_view kernel_id, bool with_token = true);
    ~WebSocketClient();

    // The next text message, or nullopt when none arrives before the timeout.
    std::optional<std::string> read(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void send(std::string_view text);
    void close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace test_support
