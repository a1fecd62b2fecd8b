#include "support/server_process.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace test_support {
namespace fs = std::filesystem;

namespace {

// Gives the folder and everything in it to the user.
void hand_over(const fs::path& folder, const std::string& user) {
    const passwd* entry = ::getpwnam(user.c_str());
    if (entry == nullptr) throw std::runtime_error("no user " + user);
    const auto give = [&](const fs::path& path) {
        if (::lchown(path.c_str(), entry->pw_uid, entry->pw_gid) != 0) {
            throw std::runtime_error("cannot hand " + path.string() + " to " + user);
        }
    };
    give(folder);
    for (const auto& item : fs::recursive_directory_iterator(folder)) give(item.path());
}

}  // namespace

ServerProcess::ServerProcess(Launch launch) {
    for (const auto* name : {"runtime", "tmp", "root"})
        fs::create_directories(folder_.path() / name);
    const fs::path tmpdir = launch.tmpdir.value_or(tmp());
    std::vector<std::string> arguments;
    if (launch.descriptor_limit) {
        arguments = {
            "/bin/sh", "-c",
            "ulimit -n " + std::to_string(*launch.descriptor_limit) + " && exec \"$0\" \"$@\""};
    }
    if (launch.user) {
        hand_over(folder_.path(), *launch.user);
        arguments.insert(arguments.end(), {"/usr/bin/setpriv", "--reuid=" + *launch.user,
                                           "--regid=" + *launch.user, "--init-groups", "--"});
    }
    arguments.insert(arguments.end(), {NUVEX_SERVER_BINARY, "--port", "0", "--token", "secret",
                                       "--root-dir", root().string(), "--veyra-settings",
                                       (folder_.path() / "veyra.json").string()});
    if (!launch.tmpdir)
        arguments.insert(arguments.end(), {"--temp-dir", (tmp() / "nuvex-link").string()});
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<std::string> environment = {"JUPYTER_RUNTIME_DIR=" + runtime_dir().string(),
                                            "TMPDIR=" + tmpdir.string()};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view entry(*variable);
        if (!entry.starts_with("JUPYTER_RUNTIME_DIR=") && !entry.starts_with("TMPDIR=")) {
            environment.emplace_back(entry);
        }
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_path().c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + arguments[0]);
    if (!eventually([&] { return runtime_file().has_value(); })) {
        throw std::runtime_error("the server wrote no runtime file; its log:\n" +
                                 read_file(log_path()));
    }
    const auto info = boost::json::parse(read_file(*runtime_file())).as_object();
    port_ = static_cast<unsigned short>(info.at("port").to_number<int>());
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::optional<int> ServerProcess::terminate() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    const bool ended = eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!ended) return std::nullopt;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::optional<fs::path> ServerProcess::runtime_file() const {
    const auto path = runtime_dir() / ("jpserver-" + std::to_string(pid_) + ".json");
    if (!fs::exists(path)) return std::nullopt;
    return path;
}

std::string ServerProcess::request(std::string_view method, std::string_view path,
                                   std::string_view body, std::string_view extra_headers) const {
    std::string bytes = std::string(method) + " " + std::string(path) +
                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: token secret\r\n"
                        "Content-Length: " +
                        std::to_string(body.size()) + "\r\n";
    bytes += extra_headers;
    bytes += "\r\n";
    bytes += body;
    return bytes;
}

}  // namespace test_support
