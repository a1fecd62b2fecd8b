// Nothing one request waits for holds back another: a download to a client that stopped
// reading, a platform that does not answer and a slow rsync each leave the other routes
// answering at once, while every answer and relayed message stays what it would be alone.

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/json_io/json_text.hpp"
#include "support/fake_platform.hpp"
#include "support/pipelines.hpp"
#include "support/raw_client.hpp"
#include "support/read_archive.hpp"
#include "support/slow_rsync.hpp"
#include "support/temp_dir.hpp"
#include "support/test_server.hpp"

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test_support::FakePlatform;
using test_support::HttpResponse;
using test_support::RawAnswer;
using test_support::RawConnection;
using test_support::TestServer;
using test_support::WebSocketClient;

// How long a request that waits for nothing may take while another request waits.
constexpr auto kPromptly = 500ms;

template <class Condition>
bool eventually(Condition condition, Clock::duration deadline = 30s) {
    const auto until = Clock::now() + deadline;
    while (!condition()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

std::string raw_request(const TestServer& server, std::string_view method, std::string_view target,
                        std::string_view body = {}) {
    return std::string(method) + " " + server.with_token(target) +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + std::string(body);
}

// A request on a connection of its own that must be answered promptly. A server that holds it
// back fails the test after a few seconds instead of hanging it.
RawAnswer expect_prompt_answer(const TestServer& server, std::string_view method,
                               std::string_view target, int status, std::string_view body = {}) {
    const auto start = Clock::now();
    RawAnswer answer =
        test_support::raw_exchange(server.port(), raw_request(server, method, target, body), 5s);
    const auto took = since(start);
    EXPECT_EQ(answer.status, status) << method << " " << target << ": " << answer.bytes;
    EXPECT_LT(took, kPromptly) << method << " " << target << " took " << took.count() << " ms";
    return answer;
}

std::string kernel_path(std::string_view kernel_id) {
    return "/nuvex-link/kernels/" + std::string(kernel_id);
}

std::string pipeline_with_code(std::string_view kernel_id, std::string_view code) {
    return test_support::pipeline_updated(
        test_support::make_pipeline(kernel_id, {test_support::make_component("a", code)}));
}

// The kernel whose DAG routes are asked while another request waits.
void store_other_pipeline(TestServer& server) {
    test_support::store_pipeline(
        server, "other", test_support::make_pipeline("other", {test_support::make_component("a")}));
}

// A GET and a POST of the DAG route for a kernel that is not the one waiting.
void expect_dag_requests_answer_promptly(const TestServer& server, std::string_view kernel_id,
                                         int round) {
    expect_prompt_answer(server, "GET", kernel_path(kernel_id), 200);
    const RawAnswer posted =
        expect_prompt_answer(server, "POST", kernel_path(kernel_id), 200,
                             pipeline_with_code(kernel_id, "x = " + std::to_string(round)));
    EXPECT_EQ(posted.body(), R"({"message": "Success."})");
}

// The value of a header in an answer's head, or "" when absent.
std::string header_value(std::string_view head, std::string_view name) {
    for (std::size_t at = head.find("\r\n"); at != std::string_view::npos;) {
        const auto end = head.find("\r\n", at + 2);
        const std::string_view line = head.substr(at + 2, end - at - 2);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.data(), name.data(), name.size()) == 0) {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            return std::string(value);
        }
        at = end;
    }
    return "";
}

// Bytes that gzip cannot shrink, so an archive of them is as large as they are.
std::string incompressible(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string data(size, '\0');
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
        const auto word = random();
        std::memcpy(data.data() + at, &word, 8);
    }
    return data;
}

// A cached component "a" whose cache folder holds one file of these bytes.
json::object pipeline_caching(const fs::path& cache, std::string_view code) {
    return test_support::make_pipeline(
        "ignored",
        {test_support::make_component("a", code, "successful", "cached", cache.string())});
}

std::string export_target(std::string_view kernel_id) {
    return "/nuvex-link/cache/export?kernel_id=" + std::string(kernel_id) + "&ipynb_name=n.ipynb";
}

// A download read by hand: the head first, then (later) the rest of the body.
class Download {
public:
    Download(const TestServer& server, std::string_view kernel_id)
        : connection_(server.port(), 4096) {
        connection_.send(raw_request(server, "GET", export_target(kernel_id)));
    }

    // Reads until the head has arrived, and no more than comes with it: from then on the
    // server finds a client that does not read.
    void read_head() {
        const auto until = Clock::now() + 30s;
        while (bytes_.find("\r\n\r\n") == std::string::npos && Clock::now() < until) {
            const RawAnswer part = connection_.read_answer(5ms);
            bytes_ += part.bytes;
            if (part.closed) break;
        }
        const auto head_end = bytes_.find("\r\n\r\n");
        ASSERT_NE(head_end, std::string::npos) << bytes_;
        head_ = bytes_.substr(0, head_end + 2);
        bytes_.erase(0, head_end + 4);
        ASSERT_TRUE(head_.starts_with("HTTP/1.1 200")) << head_;
        content_length_ = std::stoull(header_value(head_, "Content-Length"));
    }

    // Reads the rest of the body; stops at its declared length, a close or the deadline.
    void read_body() {
        const auto until = Clock::now() + 30s;
        while (bytes_.size() < content_length_ && Clock::now() < until) {
            const RawAnswer part = connection_.read_answer(100ms);
            bytes_ += part.bytes;
            if (part.closed) break;
        }
    }

    std::size_t content_length() const { return content_length_; }
    const std::string& body() const { return bytes_; }

private:
    RawConnection connection_;
    std::string head_;
    std::string bytes_;
    std::size_t content_length_ = 0;
};

// Waits for the export's "running" progress: its pipeline has been read by then.
void wait_for_running_export(WebSocketClient& client) {
    while (auto message = client.read(30s)) {
        if (message->find(R"("status": "running")") != std::string::npos) return;
    }
    ADD_FAILURE() << "the export never reported that it runs";
}

TEST(Concurrency, AnExportToAClientThatStoppedReadingHoldsBackNoOtherRoute) {
    TestServer server;
    const fs::path cache = server.scratch() / "caches" / "big";
    const std::string data = incompressible(24u << 20, 1);
    test_support::write_file(cache / "data.bin", data);
    test_support::store_pipeline(server, "big", pipeline_caching(cache, "x = 1"));
    store_other_pipeline(server);
    WebSocketClient big_channel(server, "big");
    WebSocketClient other_channel(server, "other");

    Download download(server, "big");
    ASSERT_NO_FATAL_FAILURE(download.read_head());
    // The server writes until the socket buffers are full, then waits for the client.
    std::this_thread::sleep_for(300ms);

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        expect_dag_requests_answer_promptly(server, "other", round + 2);
        const auto start = Clock::now();
        const auto relayed = other_channel.read(kPromptly);
        ASSERT_TRUE(relayed.has_value()) << "no relay within " << kPromptly.count() << " ms";
        EXPECT_LT(since(start), kPromptly);
        EXPECT_NE(relayed->find("x = " + std::to_string(round + 2)), std::string::npos);
        expect_prompt_answer(server, "GET", "/nuvex-link/server/info", 200);
        expect_prompt_answer(server, "GET", "/nuvex-link/cache/info?kernel_id=other", 200);
    }

    download.read_body();
    ASSERT_EQ(download.body().size(), download.content_length());
    const auto entries = test_support::read_archive(download.body());
    const auto* file = test_support::find_entry(entries, "component-a/data.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->data == data) << "the archived file differs from the cache";
    EXPECT_NE(test_support::find_entry(entries, "pipeline.json"), nullptr);
}

TEST(Concurrency, APipelinePostedDuringAnExportLeavesItsArchiveAsItWas) {
    TestServer server;
    const fs::path cache = server.scratch() / "caches" / "k";
    test_support::write_file(cache / "data.bin", incompressible(12u << 20, 2));
    test_support::store_pipeline(server, "k", pipeline_caching(cache, "before = 1"));
    WebSocketClient channel(server, "k");

    // Large enough that the export cannot end before this client reads.
    Download download(server, "k");
    ASSERT_NO_FATAL_FAILURE(wait_for_running_export(channel));
    json::object changed = test_support::make_pipeline(
        "k",
        {test_support::make_component("a", "after = 2", "successful", "cached", cache.string()),
         test_support::make_component("b", "b = 3", "successful", "cached", cache.string())});
    expect_prompt_answer(server, "POST", kernel_path("k"), 200,
                         test_support::pipeline_updated(changed));
    EXPECT_NE(server.get(kernel_path("k")).body.find("after = 2"), std::string::npos);

    ASSERT_NO_FATAL_FAILURE(download.read_head());
    download.read_body();
    ASSERT_EQ(download.body().size(), download.content_length());
    const auto entries = test_support::read_archive(download.body());
    const auto* pipeline_json = test_support::find_entry(entries, "pipeline.json");
    ASSERT_NE(pipeline_json, nullptr);
    const json::object records = json::parse(pipeline_json->data).as_object();
    EXPECT_EQ(records.size(), 1u) << pipeline_json->data;
    EXPECT_EQ(records.at("a").at("component_cell_code"), "before = 1");
    EXPECT_EQ(test_support::find_entry(entries, "component-b/data.bin"), nullptr);
}

constexpr const char* kLogin = "/nuvex-link/veyra/user/login";

TEST(Concurrency, ALoginToAHungPlatformHoldsBackNoDagRequest) {
    FakePlatform platform;
    platform.hang("POST", "/v1/auth/login");
    TestServer server;
    test_support::ScopedPlatformTimeouts timeouts(server.veyra_account(), 1500ms);
    store_other_pipeline(server);

    const std::string body = R"({"veyra_url": ")" + platform.url() +
                             R"(", "email": "ada@example.com", "password": "secret"})";
    HttpResponse login;
    std::thread waiting([&] { login = server.post(kLogin, body); });
    EXPECT_TRUE(eventually([&] { return platform.calls("POST", "/v1/auth/login") == 1; }));

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        expect_dag_requests_answer_promptly(server, "other", round);
    }
    waiting.join();
    // What the login answers when the platform never does, with nothing else going on.
    test_support::expect_json_answer(login, 502, R"({"message": "Veyra URL is invalid."})");
}

// rsync after a pause: 2 s for a dataset whose name holds "slow", 0.25 s otherwise.
test_support::SlowRsync slow_rsync() {
    return test_support::SlowRsync(R"(case "$*" in *slow*) sleep 2;; *) sleep 0.25;; esac)");
}

// Dataset `name`, version 1, staged with one file edited.
void make_dataset(const fs::path& root, const std::string& name) {
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24);
    for (const fs::path& folder :
         {root / "dataset" / name / "v1", root / "dataset" / name / "latest",
          root / "dataset-staged" / name}) {
        test_support::write_file(folder / "same.csv", "1,2");
        fs::last_write_time(folder / "same.csv", when);
    }
    test_support::write_file(root / "dataset-staged" / name / "same.csv", "1,2,3");
}

std::string diff_entry(std::string_view name) {
    return R"({"dataset_name": ")" + std::string(name) +
           R"(", "current_version": 1, "changes": [{"path": "same.csv", "status": "edited"}]})";
}

constexpr const char* kDiff = "/nuvex-link/veyra/dataset/diff";

TEST(Concurrency, ASlowDatasetDiffHoldsBackNoDagRequest) {
    const auto rsync = slow_rsync();
    TestServer server;
    store_other_pipeline(server);
    make_dataset(fs::absolute(server.root_dir()), "slow");

    HttpResponse diff;
    std::thread waiting([&] { diff = server.get(std::string(kDiff) + "?dataset_name=slow"); });
    EXPECT_TRUE(eventually([&] { return rsync.started(); }));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        expect_dag_requests_answer_promptly(server, "other", round);
    }
    waiting.join();
    test_support::expect_json_answer(diff, 200, diff_entry("slow"));
}

TEST(Concurrency, TwoDiffsOfEveryDatasetRunAtMostEightRsyncTogether) {
    const auto rsync = slow_rsync();
    TestServer server;
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        names.push_back("d" + std::to_string(i));
        make_dataset(fs::absolute(server.root_dir()), names.back());
    }

    HttpResponse first;
    HttpResponse second;
    std::thread one([&] { first = server.get(kDiff); });
    std::thread two([&] { second = server.get(kDiff); });
    one.join();
    two.join();
    for (const HttpResponse* answer : {&first, &second}) {
        ASSERT_EQ(answer->status, 200) << answer->body;
        std::vector<std::string> found;
        const json::value body = answer->json();
        for (const auto& entry : body.at("datasets").as_array()) {
            EXPECT_EQ(json_io::to_json_text(entry),
                      diff_entry(entry.at("dataset_name").as_string()));
            found.emplace_back(entry.at("dataset_name").as_string());
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }
    EXPECT_LE(rsync.most_at_once(), 8);
    EXPECT_GE(rsync.most_at_once(), 2);
}

// The code of the component a relayed pipeline update adds or revises.
std::string relayed_code(const std::string& message) {
    const json::object update =
        json::parse(message).at("successful").at("updated_components").as_object();
    for (const char* kind : {"added", "revised"}) {
        const json::array& components = update.at(kind).as_array();
        if (!components.empty()) return std::string(components.at(0).at("code").as_string());
    }
    return "";
}

TEST(Concurrency, RelaysLeaveInTheOrderTheirPostsWereAnswered) {
    TestServer server;
    server.start_kernel("k");
    WebSocketClient channel(server, "k");

    // One after another, each on a connection of its own.
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(
            server.post(kernel_path("k"), pipeline_with_code("k", "s" + std::to_string(i))).status,
            200);
    }
    for (int i = 0; i < 10; ++i) {
        const auto message = channel.read();
        ASSERT_TRUE(message.has_value()) << i;
        EXPECT_EQ(relayed_code(*message), "s" + std::to_string(i));
    }

    // From several threads at once: a post answered before another was sent is relayed first.
    struct Post {
        std::string code;
        Clock::time_point sent;
        Clock::time_point answered;
    };
    constexpr int kThreads = 4;
    constexpr int kPostsEach = 15;
    std::vector<std::vector<Post>> posts(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPostsEach; ++i) {
                Post post{"t" + std::to_string(t) + "-" + std::to_string(i), Clock::now(), {}};
                const auto answer =
                    server.post(kernel_path("k"), pipeline_with_code("k", post.code));
                post.answered = Clock::now();
                EXPECT_EQ(answer.status, 200);
                posts[t].push_back(post);
            }
        });
    }
    for (auto& thread : threads) thread.join();

    std::map<std::string, int> position;
    for (int at = 0; at < kThreads * kPostsEach; ++at) {
        const auto message = channel.read();
        ASSERT_TRUE(message.has_value()) << "relay " << at << " never came";
        position[relayed_code(*message)] = at;
    }
    ASSERT_EQ(position.size(), static_cast<std::size_t>(kThreads * kPostsEach));
    for (const auto& mine : posts) {
        for (const Post& earlier : mine) {
            for (const auto& theirs : posts) {
                for (const Post& later : theirs) {
                    if (earlier.answered < later.sent) {
                        EXPECT_LT(position[earlier.code], position[later.code])
                            << earlier.code << " was answered before " << later.code << " was sent";
                    }
                }
            }
        }
    }
}

// Connections are spread over the network threads and their handlers run where they were
// read: posts from many keep-alive connections at once must still take turns on the store.
TEST(Concurrency, PostsFromManyConnectionsAtOnceAreEachStoredWhole) {
    TestServer server;
    constexpr int kConnections = 8;
    constexpr int kRounds = 300;
    const auto kernel_of = [](int connection, int round) {
        return "c" + std::to_string(connection) + "-" + std::to_string(round % 4);
    };
    for (int c = 0; c < kConnections; ++c) {
        for (int k = 0; k < 4; ++k) server.start_kernel(kernel_of(c, k));
    }
    std::vector<std::thread> threads;
    for (int c = 0; c < kConnections; ++c) {
        threads.emplace_back([&, c] {
            RawConnection connection(server.port());
            const auto post = [&](const std::string& kernel, int round) {
                const std::string body = pipeline_with_code(kernel, "x = " + std::to_string(round));
                ASSERT_TRUE(connection.send("POST " + server.with_token(kernel_path(kernel)) +
                                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                                            std::to_string(body.size()) + "\r\n\r\n" + body));
                ASSERT_EQ(connection.read_answer().status, 200) << kernel << " round " << round;
            };
            for (int round = 0; round < kRounds; ++round) {
                post(kernel_of(c, round), round);
                // A kernel that does not run: stored, then dropped by the same post's clean-up.
                post("gone-" + std::to_string(c) + "-" + std::to_string(round), round);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int c = 0; c < kConnections; ++c) {
        for (int round = kRounds - 4; round < kRounds; ++round) {
            const auto answer = server.get(kernel_path(kernel_of(c, round)));
            ASSERT_EQ(answer.status, 200) << kernel_of(c, round);
            EXPECT_NE(answer.body.find("x = " + std::to_string(round)), std::string::npos)
                << kernel_of(c, round) << ": " << answer.body;
        }
    }
}

TEST(Concurrency, VeyraRequestsAtOnceEachGetTheAnswerTheyGetAlone) {
    FakePlatform platform;
    platform.delay_answers(200ms);
    TestServer server;
    platform.log_in_client(server.veyra_account());
    store_other_pipeline(server);

    struct Call {
        std::string method;
        std::string target;
        std::string body;
        HttpResponse alone;
        HttpResponse together;
    };
    std::vector<Call> calls = {
        {"GET", "/nuvex-link/veyra/projects", "", {}, {}},
        {"GET", "/nuvex-link/veyra/model-registries", "", {}, {}},
        {"GET", "/nuvex-link/veyra/user/info", "", {}, {}},
        {"POST",
         "/nuvex-link/veyra/projects",
         R"({"project_id": 5, "mount_volumes": false})",
         {},
         {}},
    };
    for (Call& call : calls) {
        call.alone = server.request(call.method, call.target, call.body);
        EXPECT_EQ(call.alone.status, 200) << call.target << ": " << call.alone.body;
    }

    const std::size_t asked_before = platform.requests().size();
    std::vector<std::thread> threads;
    for (Call& call : calls) {
        threads.emplace_back([&server, &call] {
            call.together = server.request(call.method, call.target, call.body);
        });
    }
    EXPECT_TRUE(eventually([&] { return platform.requests().size() > asked_before; }));
    expect_dag_requests_answer_promptly(server, "other", 0);
    for (auto& thread : threads) thread.join();
    for (const Call& call : calls) {
        EXPECT_EQ(call.together.status, call.alone.status) << call.target;
        EXPECT_EQ(call.together.body, call.alone.body) << call.target;
    }
}

TEST(Concurrency, ARelayOfFortyMebibytesReachesEveryConnection) {
    TestServer server;
    server.start_kernel("k");
    WebSocketClient first(server, "k");
    WebSocketClient second(server, "k");

    // Written into the body's text directly: a JSON writer takes seconds over so much text.
    const std::string code(40u << 20, 'x');
    std::string body = pipeline_with_code("k", "@code@");
    body.replace(body.find("@code@"), 6, code);
    const HttpResponse answer = server.post(kernel_path("k"), body);
    test_support::expect_json_answer(answer, 200, R"({"message": "Success."})");
    for (WebSocketClient* channel : {&first, &second}) {
        const auto message = channel->read(30s);
        ASSERT_TRUE(message.has_value()) << "the connection got no relay";
        EXPECT_TRUE(relayed_code(*message) == code) << "the relayed code differs";
    }
}

TEST(Concurrency, RequestLogHasOneLinePerFailedRequestWithoutTheToken) {
    TestServer server([](app::CommandLine& line) { line.log_level = "warning"; });
    testing::internal::CaptureStderr();
    const HttpResponse forbidden = server.request(
        "GET", "/nuvex-link/kernels/k?token=wrong-token-4242", "", {}, /*with_token=*/false);
    const HttpResponse missing = server.get("/nuvex-link/no-such-route");
    const HttpResponse failed = server.post(kernel_path("k"), "[1, 2]");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(forbidden.status, 403);
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(failed.status, 500);

    std::vector<std::string> lines;
    for (std::size_t at = 0; at < log.size();) {
        const auto end = log.find('\n', at);
        lines.push_back(log.substr(at, end - at));
        at = end == std::string::npos ? log.size() : end + 1;
    }
    ASSERT_EQ(lines.size(), 3u) << log;
    EXPECT_TRUE(lines[0].starts_with("[W ")) << lines[0];
    EXPECT_NE(lines[0].find("403 GET /nuvex-link/kernels/k?token=[secret] (127.0.0.1"),
              std::string::npos)
        << lines[0];
    EXPECT_TRUE(lines[1].starts_with("[W ")) << lines[1];
    EXPECT_NE(lines[1].find("404 GET /nuvex-link/no-such-route?token=[secret] (127.0.0.1"),
              std::string::npos)
        << lines[1];
    EXPECT_TRUE(lines[2].starts_with("[E ")) << lines[2];
    EXPECT_NE(lines[2].find("500 POST /nuvex-link/kernels/k?token=[secret] (127.0.0.1"),
              std::string::npos)
        << lines[2];
    // The cause of a failure is logged with it.
    EXPECT_NE(lines[2].find("JSON object"), std::string::npos) << lines[2];
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find(server.token()), std::string::npos) << line;
        EXPECT_EQ(line.find("wrong-token-4242"), std::string::npos) << line;
    }
}

}  // namespace
