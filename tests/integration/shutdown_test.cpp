// SIGTERM stops the real server program cleanly: it exits with 0, removes its runtime file,
// a cache export that was under way leaves no temporary folder behind, and a dataset diff
// under way has its rsync ended.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/pipelines.hpp"
#include "support/raw_client.hpp"
#include "support/temp_dir.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test_support::read_file;
using test_support::TempDir;

constexpr auto kDeadline = std::chrono::seconds(60);

// Polls until the condition holds or the deadline passes.
template <class Condition>
bool eventually(Condition condition, std::chrono::seconds deadline = kDeadline) {
    const auto until = Clock::now() + deadline;
    while (!condition()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<fs::path> entries_starting_with(const fs::path& folder, std::string_view prefix) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
    }
    return found;
}

// The server program in its own folder (runtime, temporary and root folders inside it).
class ServerProcess {
public:
    ServerProcess() {
        for (const auto* name : {"runtime", "tmp", "root"})
            fs::create_directories(folder_.path() / name);
        std::vector<std::string> arguments = {NUVEX_SERVER_BINARY,
                                              "--port",
                                              "0",
                                              "--token",
                                              "secret",
                                              "--root-dir",
                                              (folder_.path() / "root").string(),
                                              "--temp-dir",
                                              (tmp() / "nuvex-link").string(),
                                              "--veyra-settings",
                                              (folder_.path() / "veyra.json").string()};
        std::vector<std::string> environment = {"JUPYTER_RUNTIME_DIR=" + runtime_dir().string(),
                                                "TMPDIR=" + tmp().string()};
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
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
            throw std::runtime_error("cannot start " + arguments[0]);
        }
        if (!eventually([&] { return runtime_file().has_value(); })) {
            throw std::runtime_error("the server wrote no runtime file");
        }
        const auto info = boost::json::parse(read_file(*runtime_file())).as_object();
        port_ = static_cast<unsigned short>(info.at("port").to_number<int>());
    }

    ~ServerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // Sends SIGTERM; the exit status, or nullopt when the program is still running at the
    // deadline.
    std::optional<int> terminate() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        const bool ended = eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!ended) return std::nullopt;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Once it is complete: the server writes it under another name and renames it.
    std::optional<fs::path> runtime_file() const {
        const auto path = runtime_dir() / ("jpserver-" + std::to_string(pid_) + ".json");
        if (!fs::exists(path)) return std::nullopt;
        return path;
    }

    unsigned short port() const { return port_; }
    fs::path runtime_dir() const { return folder_.path() / "runtime"; }
    fs::path tmp() const { return folder_.path() / "tmp"; }
    fs::path root() const { return folder_.path() / "root"; }

    std::string request(std::string_view method, std::string_view path, std::string_view body,
                        std::string_view extra_headers = {}) const {
        std::string bytes = std::string(method) + " " + std::string(path) +
                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: token secret\r\n"
                            "Content-Length: " +
                            std::to_string(body.size()) + "\r\n";
        bytes += extra_headers;
        bytes += "\r\n";
        bytes += body;
        return bytes;
    }

private:
    TempDir folder_{"nuvex-shutdown"};
    pid_t pid_ = -1;
    unsigned short port_ = 0;
};

TEST(Shutdown, SigtermWhenIdleRemovesTheRuntimeFile) {
    ServerProcess server;
    const auto runtime_file = server.runtime_file();
    ASSERT_TRUE(runtime_file.has_value());
    const auto answer = test_support::raw_exchange(
        server.port(),
        server.request("GET", "/nuvex-link/server/info", "", "Connection: close\r\n"));
    EXPECT_EQ(answer.status, 200) << answer.bytes;

    EXPECT_EQ(server.terminate(), 0);
    EXPECT_FALSE(fs::exists(*runtime_file));
}

TEST(Shutdown, SigtermDuringACacheExportRemovesItsTemporaryFolder) {
    ServerProcess server;
    // A cached component whose cache is large enough that the export is still packing or
    // sending when the signal arrives.
    const fs::path cache = server.tmp() / "nuvex-link" / "pipelines" / "k1" / "c1";
    fs::create_directories(cache);
    {
        std::ofstream out(cache / "data.bin", std::ios::binary);
        std::string block(1 << 20, '\0');
        for (int i = 0; i < 96; ++i) {
            for (std::size_t at = 0; at < block.size(); at += 8)
                block[at] = static_cast<char>(i * at);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    test_support::write_file(server.runtime_dir() / "kernel-k1.json", "{}");
    const auto pipeline = test_support::make_pipeline(
        "k1",
        {test_support::make_component("c1", "x = 1", "successful", "cached", cache.string())});
    ASSERT_EQ(test_support::raw_exchange(
                  server.port(),
                  server.request("POST", "/nuvex-link/kernels/k1",
                                 test_support::pipeline_updated(pipeline), "Connection: close\r\n"))
                  .status,
              200);

    // A client that asks for the export and never reads it.
    test_support::RawConnection downloader(server.port(), 4096);
    downloader.send(
        server.request("GET", "/nuvex-link/cache/export?kernel_id=k1&ipynb_name=a.ipynb", ""));
    ASSERT_TRUE(eventually(
        [&] { return !entries_starting_with(server.tmp(), "nuvexlink-cache-").empty(); }));

    EXPECT_EQ(server.terminate(), 0);
    EXPECT_TRUE(entries_starting_with(server.tmp(), "nuvexlink-cache-").empty());
    EXPECT_TRUE(entries_starting_with(server.runtime_dir(), "jpserver-").empty());
}

TEST(Shutdown, SigtermDuringADatasetDiffEndsItsRsync) {
    // An rsync that would run for minutes, and that tells its pid.
    TempDir stubs("nuvex-rsync-stub");
    test_support::write_file(stubs.path() / "rsync",
                             "#!/bin/sh\necho $$ >> \"$(dirname \"$0\")/pids\"\nexec sleep 300\n");
    fs::permissions(stubs.path() / "rsync", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    ::setenv("PATH", (stubs.path().string() + ":" + path).c_str(), 1);
    ServerProcess server;
    ::setenv("PATH", path.c_str(), 1);
    test_support::write_file(server.root() / "dataset" / "d1" / "latest" / "a.csv", "a");
    test_support::write_file(server.root() / "dataset-staged" / "d1" / "a.csv", "b");

    test_support::RawConnection client(server.port(), 4096);
    client.send(server.request("GET", "/nuvex-link/veyra/dataset/diff", ""));
    const fs::path pids = stubs.path() / "pids";
    ASSERT_TRUE(eventually([&] { return fs::exists(pids) && fs::file_size(pids) > 0; }));
    const pid_t rsync = std::stoi(read_file(pids));

    EXPECT_EQ(server.terminate(), 0);
    EXPECT_TRUE(eventually([&] { return ::kill(rsync, 0) != 0; }, std::chrono::seconds(10)));
}

}  // namespace
