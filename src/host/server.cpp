#include "host/server.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "base/logging/log.hpp"
#include "host/auth.hpp"
#include "host/blocking_call.hpp"
#include "host/jupyter/runtime_dir.hpp"
#include "host/jupyter/runtime_file.hpp"
#include "host/listener.hpp"

namespace host {
namespace net = boost::asio;

namespace {

constexpr auto kBlockingGrace = std::chrono::seconds(3);

std::string base_path_of(std::string base_url) {
    if (base_url.empty() || base_url.front() != '/') base_url.insert(0, "/");
    while (!base_url.empty() && base_url.back() == '/') base_url.pop_back();
    return base_url;
}

// The host part of a URL for the address the server listens on: an IPv6 address goes in
// brackets, or its colons would read as the port's.
std::string url_host(const std::string& ip) {
    return ip.find(':') == std::string::npos ? ip : "[" + ip + "]";
}

KernelManager kernel_manager_for(const ServerOptions& options,
                                 const std::filesystem::path& runtime_dir) {
    if (!options.jupyter_url.empty()) {
        return KernelManager(options.jupyter_url, options.jupyter_token);
    }
    return KernelManager(runtime_dir);
}

// Every connection, pipe and file takes a descriptor; a server may use as many as the system
// lets this process have.
void raise_descriptor_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

// One network thread's event loop. Its connections are read, answered and relayed to on it.
class Loop : public net::io_context {
public:
    Loop() : net::io_context(1) {}
    // Ends what the loop still holds without freeing the loop: work of one loop may own objects
    // of another, so every loop is shut down before any is destroyed.
    using net::io_context::shutdown;
};

struct Server::State {
    State(ServerOptions options_in, RouteTable routes)
        : options(std::move(options_in)),
          runtime_dir(options.runtime_dir.empty() ? jupyter_runtime_dir() : options.runtime_dir),
          services([this] { return kernel_manager_for(options, runtime_dir); }),
          context{std::move(routes),
                  options.token.empty() ? make_token() : options.token,
                  base_path_of(options.base_url),
                  services,
                  {}} {
        for (int i = 0; i < std::max(1, options.network_threads); ++i) {
            loops.push_back(std::make_unique<Loop>());
        }
    }
    ~State() {
        for (auto& loop : loops) loop->shutdown();
    }

    ServerOptions options;
    std::filesystem::path runtime_dir;
    // Outlives the network: sessions the loops still hold leave the registry as they go.
    ServerServices services;
    ServerContext context;
    std::vector<std::unique_ptr<Loop>> loops;
    std::shared_ptr<Listener> listener;
    std::vector<std::thread> threads;
    std::optional<RuntimeFile> runtime_file;
    std::mutex mutex;
    std::condition_variable stopped_signal;
    bool stopped = false;
};

Server::Server(ServerOptions options, RouteTable routes)
    : state_(std::make_unique<State>(std::move(options), std::move(routes))) {}

Server::~Server() { stop(); }

void Server::start() {
    auto& s = *state_;
    raise_descriptor_limit();
    boost::system::error_code error;
    const auto address = net::ip::make_address(s.options.ip, error);
    if (error) throw std::runtime_error("Invalid --ip '" + s.options.ip + "'");
    std::vector<NetworkLoop> loops;
    for (auto& loop : s.loops) loops.push_back(loop->get_executor());
    s.listener = std::make_shared<Listener>(
        std::move(loops), net::ip::tcp::endpoint(address, s.options.port), s.context);
    // The runtime file names the port, and is there before the first request is taken.
    if (s.options.write_runtime_file) {
        const std::string base = s.context.base_path + "/";
        s.runtime_file.emplace(
            s.runtime_dir,
            boost::json::object{
                {"base_url", base},
                {"hostname", s.options.ip},
                {"password", false},
                {"pid", ::getpid()},
                {"port", port()},
                {"root_dir", std::filesystem::absolute(s.options.root_dir).string()},
                {"secure", false},
                {"sock", ""},
                {"token", s.context.token},
                {"url", "http://" + url_host(s.options.ip) + ":" + std::to_string(port()) + base},
                {"version", server_version()}});
    }
    s.listener->run();
    for (auto& loop : s.loops) {
        // A loop without connections waits for its next one rather than ending.
        s.threads.emplace_back([&loop = *loop] {
            const auto busy = net::make_work_guard(loop);
            loop.run();
        });
    }
}

void Server::wait() {
    std::unique_lock lock(state_->mutex);
    state_->stopped_signal.wait(lock, [this] { return state_->stopped; });
}

void Server::stop() {
    auto& s = *state_;
    {
        const std::lock_guard lock(s.mutex);
        if (s.stopped) return;
        s.stopped = true;
    }
    if (s.listener) s.listener->close();
    // What waits on a child process or the platform ends now rather than when it would. Calls
    // still blocking would hand their results to a loop that is gone: wait for them.
    s.context.services.stopping.request_stop();
    if (!s.context.services.blocking_calls.wait_idle(std::chrono::steady_clock::now() +
                                                     kBlockingGrace)) {
        logging::server_log().warning("Stopping with work still running on other threads");
    }
    for (auto& loop : s.loops) loop->stop();
    for (auto& thread : s.threads) thread.join();
    // Handlers still waiting (an export to a stalled client, say) end when the server is
    // destroyed: their coroutines go with the loops' queues, removing their temporary folders.
    s.runtime_file.reset();
    s.stopped_signal.notify_all();
}

unsigned short Server::port() const {
    return state_->listener ? state_->listener->port() : state_->options.port;
}

const std::string& Server::token() const { return state_->context.token; }

std::string Server::url_with_token() const {
    return "http://" + url_host(state_->options.ip) + ":" + std::to_string(port()) +
           state_->context.base_path + "/?token=" + token();
}

}  // namespace host
