// SIGTERM stops the real server program cleanly: it exits with 0, removes its runtime file,
// a cache export that was under way leaves no temporary folder behind, a download under way is
// cut short, a dataset diff under way has its rsync ended and a login waiting on the platform
// does not hold the exit back, and a blocking call that ends a moment later is waited for. Under
// a low descriptor limit, a flood of idle connections is waited out without flooding the log or
// spinning on a processor.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_platform.hpp"
#include "support/pipelines.hpp"
#include "support/raw_client.hpp"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test_support::eventually;
using test_support::Launch;
using test_support::read_file;
using test_support::ServerProcess;
using test_support::TempDir;

constexpr auto kDeadline = std::chrono::seconds(60);

std::vector<fs::path> entries_starting_with(const fs::path& folder, std::string_view prefix) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
    }
    return found;
}

// Marks kernel k1 as running and stores a pipeline whose one component is cached in `cache`;
// the status of the post.
int store_cached_pipeline(const ServerProcess& server, const fs::path& cache) {
    test_support::write_file(server.runtime_dir() / "kernel-k1.json", "{}");
    const auto pipeline = test_support::make_pipeline(
        "k1",
        {test_support::make_component("c1", "x = 1", "successful", "cached", cache.string())});
    return test_support::raw_exchange(
               server.port(),
               server.request("POST", "/nuvex-link/kernels/k1",
                              test_support::pipeline_updated(pipeline), "Connection: close\r\n"))
        .status;
}

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
    ASSERT_EQ(store_cached_pipeline(server, cache), 200);

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

// Bytes that gzip cannot shrink, in a file: an archive of them is as large as they are.
void write_incompressible(const fs::path& path, std::size_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> block(1 << 16);
    for (std::size_t written = 0; written < size; written += block.size() * 8) {
        for (auto& word : block) word = random();
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * 8));
    }
}

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

TEST(Shutdown, SigtermDuringADownloadCutsItShortWithoutAJsonText) {
    ServerProcess server;
    const fs::path cache = server.tmp() / "nuvex-link" / "pipelines" / "k1" / "c1";
    write_incompressible(cache / "data.bin", 24u << 20);
    ASSERT_EQ(store_cached_pipeline(server, cache), 200);

    // A client that reads the head of the download, then no more for now.
    test_support::RawConnection downloader(server.port(), 4096);
    downloader.send(
        server.request("GET", "/nuvex-link/cache/export?kernel_id=k1&ipynb_name=a.ipynb", ""));
    std::string bytes;
    const auto until = Clock::now() + kDeadline;
    while (bytes.find("\r\n\r\n") == std::string::npos && Clock::now() < until) {
        const auto part = downloader.read_answer(std::chrono::milliseconds(5));
        bytes += part.bytes;
        if (part.closed) break;
    }
    const auto head_end = bytes.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos) << bytes;
    ASSERT_TRUE(bytes.starts_with("HTTP/1.1 200")) << bytes.substr(0, head_end);
    const auto length_at = bytes.find("Content-Length: ");
    ASSERT_LT(length_at, head_end);
    const std::size_t content_length = std::stoull(bytes.substr(length_at + 16));

    const auto signalled = Clock::now();
    EXPECT_EQ(server.terminate(), 0);
    EXPECT_LT(since(signalled), std::chrono::seconds(5));
    const auto rest = downloader.read_answer(std::chrono::seconds(10));
    EXPECT_TRUE(rest.closed);
    bytes += rest.bytes;
    const std::string body = bytes.substr(head_end + 4);
    EXPECT_LT(body.size(), content_length);
    EXPECT_EQ(body.find(R"({"message")"), std::string::npos) << "a JSON text inside the download";
}

TEST(Shutdown, SigtermWhileALoginWaitsOnAPlatformThatNeverAnswers) {
    test_support::FakePlatform platform;
    platform.hang("POST", "/v1/auth/login");
    ServerProcess server;
    test_support::RawConnection client(server.port());
    client.send(server.request("POST", "/nuvex-link/veyra/user/login",
                               R"({"veyra_url": ")" + platform.url() +
                                   R"(", "email": "ada@example.com", "password": "secret"})"));
    ASSERT_TRUE(eventually([&] { return platform.calls("POST", "/v1/auth/login") == 1; }));

    const auto signalled = Clock::now();
    EXPECT_EQ(server.terminate(), 0);
    EXPECT_LT(since(signalled), std::chrono::seconds(5));
    EXPECT_TRUE(entries_starting_with(server.runtime_dir(), "jpserver-").empty());
}

// The server waits for a blocking call still running before it stops: the call's result must
// not reach a strand that is gone. Here the call is the clean-up's question to a notebook
// server for its kernels, answered a second after it was asked.
TEST(Shutdown, SigtermWaitsForABlockingCallThatEndsASecondLater) {
    test_support::FakePlatform notebook_server;
    notebook_server.answer("GET", "/api/kernels", 200, R"([{"id": "k1"}])");
    notebook_server.delay_answers(std::chrono::seconds(1));
    ServerProcess server(Launch{.arguments = {"--jupyter-url", notebook_server.url()}});
    const auto pipeline = test_support::make_pipeline("k1", {test_support::make_component("c1")});
    test_support::RawConnection client(server.port());
    client.send(
        server.request("POST", "/nuvex-link/kernels/k1", test_support::pipeline_updated(pipeline)));
    ASSERT_TRUE(eventually([&] { return notebook_server.calls("GET", "/api/kernels") == 1; }));

    EXPECT_EQ(server.terminate(), 0);
    EXPECT_EQ(notebook_server.answers_written(), 1)
        << "the server exited before the call it was waiting on had its answer";
    const std::string log = read_file(server.log_path());
    EXPECT_EQ(log.find("work still running"), std::string::npos) << log;
}

// The processor time a process has used so far, user and system, in clock ticks.
long cpu_ticks(pid_t pid) {
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    // The command name may hold blanks; the fields after it are plain numbers.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skipped;
    for (int field = 3; field < 14; ++field) fields >> skipped;
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
}

TEST(DescriptorExhaustion, IdleConnectionsBeyondTheLimitAreWaitedOutQuietly) {
    ServerProcess server(Launch{.descriptor_limit = 64});
    const std::string info =
        server.request("GET", "/nuvex-link/server/info", "", "Connection: close\r\n");
    ASSERT_EQ(test_support::raw_exchange(server.port(), info).status, 200);

    {
        // Far more connections than the server has descriptors for, held open and idle.
        std::vector<std::unique_ptr<test_support::RawConnection>> idle;
        for (int i = 0; i < 200; ++i) {
            idle.push_back(std::make_unique<test_support::RawConnection>(server.port()));
        }
        // The server meets the limit over and over for as long as they stay, and waits
        // between its tries rather than spinning on a processor.
        ASSERT_TRUE(eventually([&] {
            return read_file(server.log_path()).find("Too many open files") != std::string::npos;
        }));
        const long ticks_before = cpu_ticks(server.pid());
        const auto started = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const long used = cpu_ticks(server.pid()) - ticks_before;
        const auto waited = std::chrono::duration<double>(Clock::now() - started).count();
        // A server that waits uses next to nothing; one that spins takes what a processor
        // the machine shares with others gives it, far more than a tenth.
        EXPECT_LT(static_cast<double>(used),
                  waited * static_cast<double>(sysconf(_SC_CLK_TCK)) / 10)
            << "clock ticks of processor time used while out of descriptors";
    }
    const auto answer = test_support::raw_exchange(server.port(), info, std::chrono::seconds(10));
    EXPECT_EQ(answer.status, 200) << answer.bytes;

    const std::string log = read_file(server.log_path());
    EXPECT_NE(log.find("Too many open files"), std::string::npos) << log;
    EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 100) << log.substr(0, 4000);
    EXPECT_EQ(server.terminate(), 0);
}

}  // namespace
