#pragma once
// The notebook server stand-in: listens, authenticates, routes, runs handler operations one at
// a time on its network threads, and keeps the runtime file while it runs.

#include <filesystem>
#include <memory>
#include <string>

#include "host/router.hpp"

namespace host {

struct ServerOptions {
    std::string ip = "127.0.0.1";
    unsigned short port = 8888;  // 0 takes a free port
    std::filesystem::path root_dir;
    std::string base_url = "/";
    std::string token;  // empty: a random one is made
    std::string jupyter_url;
    std::string jupyter_token;
    std::filesystem::path runtime_dir;  // empty: jupyter_runtime_dir()
    bool write_runtime_file = true;
    // Network threads, each with an event loop of its own that takes every other connection.
    // Request bodies are parsed there, beside the handlers' turn.
    int network_threads = 2;
};

class Server {
public:
    Server(ServerOptions options, RouteTable routes);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds, starts the threads and writes the runtime file; fails with a text when it cannot.
    void start();
    // Blocks until stop() (from any thread or a signal handler thread).
    void wait();
    void stop();

    unsigned short port() const;
    const std::string& token() const;
    // http://ip:port/base_url?token=...
    std::string url_with_token() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace host
