// Malformed and hostile requests on every route, sent as raw bytes to a real server: each one
// gets a clear answer (a status line, and JSON when the answer says it is JSON) or a clean
// close, never a hang, and the server keeps serving other clients throughout. The run prints
// how many cases it tried and how they were answered.

#include <gtest/gtest.h>

#include <array>
#include <boost/json/parse.hpp>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "support/pipelines.hpp"
#include "support/raw_client.hpp"
#include "support/test_server.hpp"

namespace {

using test_support::RawAnswer;
using test_support::RawConnection;
using test_support::TestServer;

constexpr std::size_t kCases = 6;  // hostile queries, and hostile bodies for a POST

// A route, one of its methods and the status each hostile query and body must get: the
// answers of the routes as documented (a 500 is the route's own answer to a body it cannot
// use, or the platform call of a server that is not logged in).
struct RouteUnderTest {
    std::string method;
    std::string path;
    std::array<int, kCases> query_answers;
    std::array<int, kCases> body_answers{};
    int unreadable_body_answer = 400;  // logout takes no body and ignores one
};

const std::vector<RouteUnderTest> kRoutes = {
    {"GET", "/nuvex-link/kernels/k1", {400, 400, 400, 400, 400, 400}},
    {"POST",
     "/nuvex-link/kernels/k1",
     {400, 400, 400, 400, 400, 400},
     {500, 500, 500, 500, 500, 500}},
    {"GET", "/nuvex-link/cache/info", {400, 200, 400, 400, 200, 200}},
    {"GET", "/nuvex-link/cache/export", {500, 400, 400, 400, 400, 500}},
    {"POST",
     "/nuvex-link/pipeline/export",
     {400, 400, 400, 400, 400, 400},
     {400, 400, 400, 400, 400, 404}},
    {"GET", "/nuvex-link/veyra/dataset/diff", {400, 400, 400, 200, 200, 200}},
    {"GET", "/nuvex-link/server/info", {200, 200, 200, 200, 200, 200}},
    {"POST",
     "/nuvex-link/veyra/user/login",
     {400, 400, 400, 400, 400, 400},
     {500, 500, 500, 500, 500, 400}},
    {"POST",
     "/nuvex-link/veyra/user/logout",
     {200, 200, 200, 200, 200, 200},
     {200, 200, 200, 200, 200, 200},
     200},
    {"GET", "/nuvex-link/veyra/user/info", {200, 200, 200, 200, 200, 200}},
    {"GET", "/nuvex-link/veyra/projects", {500, 500, 500, 500, 500, 500}},
    {"POST",
     "/nuvex-link/veyra/projects",
     {400, 400, 400, 400, 400, 400},
     {500, 500, 500, 500, 500, 500}},
    {"GET", "/nuvex-link/veyra/model-registries", {500, 500, 500, 500, 500, 500}},
    {"POST",
     "/nuvex-link/veyra/model-registries",
     {400, 400, 400, 400, 400, 400},
     {500, 500, 500, 500, 500, 500}},
    {"POST",
     "/nuvex-link/snippets/generate",
     {400, 400, 400, 400, 400, 400},
     {500, 500, 500, 500, 400, 404}},
};

constexpr const char* kUpgradeHeaders =
    "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

// A request as a client would frame it, closing the connection after the answer.
std::string request_bytes(std::string_view method, std::string_view target,
                          std::string_view body = {}, std::string_view extra_headers = {}) {
    std::string bytes =
        std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (extra_headers.find("Upgrade:") == std::string_view::npos) bytes += "Connection: close\r\n";
    bytes += extra_headers;
    if (method == "POST") bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    bytes += "\r\n";
    bytes += body;
    return bytes;
}

// Runs the cases and keeps the counts the run prints.
class HostileTable {
public:
    explicit HostileTable(const TestServer& server) : server_(server) {}

    // Sends the bytes on a fresh connection; expected 0 means the connection is closed without
    // an answer.
    void run(const std::string& label, const std::string& bytes, int expected = 0) {
        check(label, test_support::raw_exchange(server_.port(), bytes), expected);
    }

    void check(const std::string& label, const RawAnswer& answer, int expected = 0) {
        ++tried_;
        EXPECT_FALSE(answer.timed_out) << label << ": neither an answer nor a close";
        if (answer.status == 0) {
            EXPECT_TRUE(answer.closed) << label;
            EXPECT_TRUE(answer.bytes.empty()) << label << ": not HTTP: " << answer.bytes;
            ++closed_;
            EXPECT_EQ(expected, 0) << label << ": closed instead of " << expected;
            return;
        }
        ++by_status_[answer.status];
        EXPECT_EQ(answer.status, expected) << label << "\n" << answer.bytes;
        const bool json = answer.bytes.find("Content-Type: application/json") != std::string::npos;
        if (json) {
            boost::system::error_code error;
            boost::json::parse(answer.body(), error);
            EXPECT_FALSE(error) << label << ": answer is not JSON: " << answer.body();
        }
    }

    void print() const {
        std::cout << "hostile input: " << tried_ << " cases tried; answers by status:";
        for (const auto& [status, count] : by_status_) std::cout << " " << status << "=" << count;
        std::cout << "; closed without answer: " << closed_ << "; crashes: 0\n";
    }

    const TestServer& server() const { return server_; }
    std::string with_token(std::string_view target) const { return server_.with_token(target); }

private:
    const TestServer& server_;
    int tried_ = 0;
    int closed_ = 0;
    std::map<int, int> by_status_;
};

void run_route_cases(HostileTable& table) {
    const std::array<std::string, kCases> bodies = {
        "[]",
        "\"text\"",
        "5",
        "null",
        R"({"kernel_id": 5, "cell_ids": "x", "ipynb_name": [], "category": {},
            "snippet_id": null, "parameters": 7, "procedure": 1, "status": [], "msg": {},
            "successful": "x", "veyra_url": 3, "email": [], "password": {},
            "project_id": [], "model_registry_id": {}})",
        R"({"kernel_id": "k1", "cell_ids": ["..", "\u0000"], "ipynb_name": "../../etc/passwd",
            "category": "..", "snippet_id": "../../../etc/passwd", "parameters": [],
            "procedure": "pipeline:updated", "status": "successful", "msg": "",
            "successful": {"identifier": "k1", "graph": {"components": [{"identifier": 1}]}},
            "project_id": "\u0000", "model_registry_id": "../x"})",
    };
    const std::array<std::string, kCases> queries = {
        "kernel_id=%00&ipynb_name=..%2F..%2Fetc%2Fpasswd&dataset_name=..&category=%2e%2e",
        "dataset_name=%00",
        "dataset_name=a%2Fb&kernel_id=..",
        "kernel_id=%FF%FE&ipynb_name=%C0%AF",
        "dataset_name=" + std::string(20000, 'd'),
        "kernel_id&ipynb_name&&&=&==%",
    };
    for (const auto& route : kRoutes) {
        const std::string& method = route.method;
        const std::string label = method + " " + route.path;
        table.run(label + " without token", request_bytes(method, route.path, "{}"), 403);
        table.run(label + " wrong token", request_bytes(method, route.path + "?token=nope", "{}"),
                  403);
        for (std::size_t i = 0; i < kCases; ++i) {
            table.run(label + " ?" + queries[i].substr(0, 40),
                      request_bytes(method, table.with_token(route.path + "?" + queries[i]), "{}"),
                      route.query_answers[i]);
        }
        if (method != "POST") continue;
        const std::string target = table.with_token(route.path);
        const int refused = route.unreadable_body_answer;
        table.run(label + " bad JSON", request_bytes(method, target, "{\"a\": "), refused);
        table.run(label + " invalid UTF-8",
                  request_bytes(method, target, "{\"category\": \"\xff\xfe\xc0\xaf\"}"), refused);
        table.run(label + " deep nesting", request_bytes(method, target, std::string(100000, '[')),
                  refused);
        for (std::size_t i = 0; i < kCases; ++i) {
            table.run(label + " body " + bodies[i].substr(0, 20),
                      request_bytes(method, target, bodies[i]), route.body_answers[i]);
        }
        table.run(label + " declared body over the limit",
                  request_bytes("GET", target, {}, "Content-Length: 67108865\r\n"), 413);
    }
}

void run_path_cases(HostileTable& table) {
    const std::vector<std::string> kernels = {
        "%00", "..", "%2e%2e", "%2F..%2F..", "%FF%FE", "a%00b", std::string(30000, 'k')};
    for (const auto& kernel : kernels) {
        const std::string path = "/nuvex-link/kernels/" + kernel;
        // A kernel without a pipeline; any id is one path segment a pipeline can be stored under.
        table.run("GET kernel " + kernel.substr(0, 20),
                  request_bytes("GET", table.with_token(path)), 400);
        table.run("POST kernel " + kernel.substr(0, 20),
                  request_bytes("POST", table.with_token(path),
                                test_support::pipeline_updated(test_support::make_pipeline(
                                    "k", {test_support::make_component("c1")}))),
                  200);
    }
    table.run("path of dots",
              request_bytes("GET", table.with_token("/nuvex-link/../../etc/passwd")), 404);
    table.run("empty placeholder", request_bytes("GET", table.with_token("/nuvex-link/kernels/")),
              404);
}

void run_framing_cases(HostileTable& table) {
    const std::string info = table.with_token("/nuvex-link/server/info");
    table.run("header of 100 KB",
              request_bytes("GET", info, {}, "X-Long: " + std::string(100000, 'h') + "\r\n"), 431);
    table.run("path of 100 KB", request_bytes("GET", "/" + std::string(100000, 'p')), 431);
    std::string many_headers;
    for (int i = 0; i < 20000; ++i) many_headers += "X-" + std::to_string(i) + ": v\r\n";
    table.run("20000 headers", request_bytes("GET", info, {}, many_headers), 431);
    table.run("TLS hello", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), 400);
    table.run("binary garbage", std::string("\x00\xff\r\n\r\n\x00", 7), 400);
    table.run("unknown version", "GET " + info + " HTTP/9.9\r\nHost: x\r\n\r\n", 400);
    table.run("unknown method", request_bytes("BREW", info), 405);
    table.run("NUL in a header", request_bytes("GET", info, {}, std::string("X-A: a\0b\r\n", 10)),
              400);
    table.run("non-numeric length", request_bytes("GET", info, {}, "Content-Length: abc\r\n"), 400);
    table.run(
        "length and chunked",
        request_bytes("GET", info, {}, "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n") +
            "zz\r\n",
        400);
    table.run("bad chunk size",
              request_bytes("GET", info, {}, "Transfer-Encoding: chunked\r\n") + "zz\r\nab\r\n");
    table.run("absolute URI target", "GET http://evil.example" + info + " HTTP/1.1\r\n\r\n", 404);
    table.run("invalid UTF-8 in path",
              request_bytes("GET", table.with_token("/nuvex-link/\xff\xfe/info")), 404);

    // A body that never completes: the client gives up half-way.
    {
        RawConnection connection(table.server().port());
        connection.send(request_bytes("GET", info, {}, "Content-Length: 1000\r\n") +
                        std::string(10, 'x'));
        connection.close_write();
        table.check("truncated body", connection.read_answer());
    }
}

void run_websocket_cases(HostileTable& table) {
    const std::string channel = "/nuvex-link/kernels/k1/channels";
    table.run("upgrade without token", request_bytes("GET", channel, {}, kUpgradeHeaders), 403);
    table.run("upgrade without key",
              request_bytes("GET", table.with_token(channel), {},
                            "Upgrade: websocket\r\nConnection: Upgrade\r\n"),
              400);
    const std::vector<std::pair<std::string, std::string>> garbage = {
        {"reserved opcode", std::string("\x83\x80mask", 6)},
        {"extension bits", std::string("\xf1\x80mask", 6)},
        {"unmasked frame", std::string("\x81\x05hello", 7)},
        {"length of 2^63", std::string("\x81\xff\x80\x00\x00\x00\x00\x00\x00\x00mask", 14)},
        {"fragmented ping", std::string("\x09\x80mask", 6)},
        {"plain HTTP after upgrade", "GET / HTTP/1.1\r\n\r\n"},
    };
    for (const auto& [label, bytes] : garbage) {
        RawConnection connection(table.server().port());
        connection.send(request_bytes("GET", table.with_token(channel), {}, kUpgradeHeaders));
        const RawAnswer upgrade = connection.read_answer();
        EXPECT_EQ(upgrade.status, 101) << label;
        connection.send(bytes);
        EXPECT_TRUE(connection.wait_for_close(std::chrono::seconds(10)))
            << "websocket " << label << ": server kept the connection";
        table.check("websocket " + label, upgrade, 101);
    }
}

TEST(HostileInput, EveryRouteAnswersClearlyAndTheServerKeepsServing) {
    TestServer server;
    server.start_kernel("k1");
    HostileTable table(server);

    // A client that sends half a request head and then nothing holds one connection, not the
    // server.
    RawConnection stalled(server.port());
    stalled.send("GET /nuvex-link/server/info HTTP/1.1\r\nHost: x\r\nX-Slow: ");

    run_route_cases(table);
    run_path_cases(table);
    run_framing_cases(table);
    run_websocket_cases(table);
    table.print();

    EXPECT_EQ(server.get("/nuvex-link/server/info").status, 200);
    const auto pipeline = test_support::make_pipeline("k1", {test_support::make_component("c1")});
    EXPECT_EQ(
        server.post("/nuvex-link/kernels/k1", test_support::pipeline_updated(pipeline)).status,
        200);
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1").status, 200);
}

TEST(HostileInput, WebsocketClientThatNeverReadsIsClosedAndOthersStillGetMessages) {
    TestServer server;
    server.start_kernel("k1");
    const std::string channel = server.with_token("/nuvex-link/kernels/k1/channels");

    RawConnection never_reads(server.port(), 4096);
    never_reads.send(request_bytes("GET", channel, {}, kUpgradeHeaders));
    ASSERT_EQ(never_reads.read_answer().status, 101);
    test_support::WebSocketClient reader(server, "k1");

    // Each update relays about 2 MiB to the kernel's connections; well past the 16 MiB a
    // connection may keep queued.
    const std::string big_code(2u << 20, 'x');
    for (int i = 0; i < 14; ++i) {
        const auto pipeline = test_support::make_pipeline(
            "k1", {test_support::make_component("c1", big_code + std::to_string(i))});
        ASSERT_EQ(
            server.post("/nuvex-link/kernels/k1", test_support::pipeline_updated(pipeline)).status,
            200);
        ASSERT_TRUE(reader.read(std::chrono::seconds(30)).has_value()) << "update " << i;
    }
    EXPECT_TRUE(never_reads.wait_for_close(std::chrono::seconds(30)));
    EXPECT_EQ(server.get("/nuvex-link/server/info").status, 200);
}

}  // namespace
