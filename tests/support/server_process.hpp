#pragma once
// The server program started as a process of its own, in its own folder (runtime, temporary
// and root folders inside it); what it writes to stderr goes to a file there.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/temp_dir.hpp"

namespace test_support {

// Polls until the condition holds or the deadline passes.
template <class Condition>
bool eventually(Condition condition, std::chrono::seconds deadline = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// How the server program is started.
struct Launch {
    // Both the soft and the hard descriptor limit, set by a shell that then becomes the server.
    std::optional<int> descriptor_limit;
    // Run as this user (needs root); the server's folder is handed to that user first.
    std::optional<std::string> user;
    // $TMPDIR for the server, which then takes its default temporary folder below it; without
    // it, TMPDIR is tmp() and --temp-dir is tmp()/nuvex-link.
    std::optional<std::filesystem::path> tmpdir;
    // Given after the server's own.
    std::vector<std::string> arguments;
};

class ServerProcess {
public:
    // Starts the program with token "secret" and waits for its runtime file.
    explicit ServerProcess(Launch launch = {});
    // Kills the program if it still runs.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Sends SIGTERM; the exit status, or nullopt when the program is still running at the
    // deadline.
    std::optional<int> terminate();

    // Once it is complete: the server writes it under another name and renames it.
    std::optional<std::filesystem::path> runtime_file() const;

    unsigned short port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::filesystem::path runtime_dir() const { return folder_.path() / "runtime"; }
    std::filesystem::path tmp() const { return folder_.path() / "tmp"; }
    std::filesystem::path root() const { return folder_.path() / "root"; }
    std::filesystem::path log_path() const { return folder_.path() / "server.log"; }

    // A request with the server's token, as raw bytes.
    std::string request(std::string_view method, std::string_view path, std::string_view body,
                        std::string_view extra_headers = {}) const;

private:
    TempDir folder_{"nuvex-process"};
    pid_t pid_ = -1;
    unsigned short port_ = 0;
};

}  // namespace test_support
