// The host's own behaviour through a real server: token checks, its error answers, framing.

#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/json/parse.hpp>
#include <boost/url/parse.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "support/pipelines.hpp"
#include "support/raw_client.hpp"
#include "support/test_server.hpp"

namespace {

using test_support::TestServer;

std::size_t count_of(const std::string& text, std::string_view part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(Host, TokenIsRequiredOnEveryRouteAndUpgrade) {
    TestServer server;
    const std::string forbidden = R"({"message": "Forbidden", "reason": null})";
    auto answer = server.get("/nuvex-link/kernels/k1", false);
    EXPECT_EQ(answer.status, 403);
    EXPECT_EQ(answer.body, forbidden);
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1?token=wrong", false).status, 403);
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1?token=" + server.token() + "x", false).status,
              403);
    EXPECT_EQ(server.post("/nuvex-link/kernels/k1", "{}", false).status, 403);

    for (const char* scheme : {"token ", "Bearer "}) {
        answer = server.request("GET", "/nuvex-link/kernels/k1", "",
                                {{"Authorization", std::string(scheme) + server.token()}}, false);
        EXPECT_EQ(answer.status, 400) << scheme;  // let in; no pipeline stored
    }
    EXPECT_ANY_THROW(test_support::WebSocketClient(server, "k1", false));
    test_support::WebSocketClient allowed(server, "k1");
}

TEST(Host, OwnAnswersForBadRequests) {
    TestServer server;
    auto answer = server.get("/nuvex-link/nowhere");
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.body, R"({"message": "Not Found", "reason": null})");
    EXPECT_EQ(server.get("/elsewhere/kernels/k1").status, 404);

    answer = server.request("DELETE", "/nuvex-link/kernels/k1", "");
    EXPECT_EQ(answer.status, 405);
    EXPECT_EQ(answer.body, R"({"message": "Method Not Allowed", "reason": null})");

    answer = server.post("/nuvex-link/kernels/k1", "{not json");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, R"({"message": "Invalid JSON in body of request", "reason": null})");
    EXPECT_EQ(answer.header("Content-Type"), "application/json");

    answer = server.post("/nuvex-link/kernels/k1", std::string((64u << 20) + 1, ' '));
    EXPECT_EQ(answer.status, 413);

    // Valid JSON of the wrong shape is a fault no handler foresees: the generic answer.
    answer = server.post("/nuvex-link/kernels/k1", "[1, 2]");
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.json().at("message"), "Unhandled error");
    EXPECT_FALSE(answer.json().at("reason").as_string().empty());

    // The server keeps serving after all of that.
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1").status, 400);
}

TEST(Host, BodiesSentBackToBackOrInPiecesAreReadWhole) {
    TestServer server;
    server.start_kernel("k1");
    server.start_kernel("k2");
    std::vector<boost::json::object> components;
    for (int i = 0; i < 400; ++i) {
        components.push_back(
            test_support::make_component("c" + std::to_string(i), std::string(300, 'x') + "\n"));
    }
    const std::string large =
        test_support::pipeline_updated(test_support::make_pipeline("p", components));
    const std::string small = test_support::pipeline_updated(
        test_support::make_pipeline("p", {test_support::make_component("c0")}));
    const auto post = [&](std::string_view kernel, const std::string& body) {
        return "POST /nuvex-link/kernels/" + std::string(kernel) + "?token=" + server.token() +
               " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    test_support::RawConnection connection(server.port());

    // Two requests in one write: the second begins right behind the first body.
    ASSERT_TRUE(connection.send(post("k1", small) + post("k2", large)));
    std::string answers;
    while (count_of(answers, "HTTP/1.1 200 OK") < 2) {
        const auto answer = connection.read_answer(std::chrono::seconds(10));
        ASSERT_FALSE(answer.timed_out || answer.closed) << answers;
        answers += answer.bytes;
    }

    // One request in pieces, with pauses between them.
    const std::string request = post("k1", large);
    for (std::size_t at = 0; at < request.size(); at += 50000) {
        ASSERT_TRUE(connection.send(request.substr(at, 50000)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(connection.read_answer().status, 200);

    for (const char* kernel : {"k1", "k2"}) {
        const auto stored = server.get(std::string("/nuvex-link/kernels/") + kernel).json();
        EXPECT_EQ(stored.at("updated_components").at("added").as_array().size(), 400u) << kernel;
    }
}

// A slow client is not cut off: each part of a request, and the next request on the same
// connection, may come a second after the one before.
TEST(Host, RequestsArrivingInPiecesASecondApartAreAnswered) {
    TestServer server;
    server.start_kernel("k1");
    const std::string body = test_support::pipeline_updated(
        test_support::make_pipeline("p", {test_support::make_component("c0")}));
    const std::string line =
        "POST /nuvex-link/kernels/k1?token=" + server.token() + " HTTP/1.1\r\nHost: x\r\n";
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::seconds(1)); };
    test_support::RawConnection connection(server.port());

    // A body of declared length, read straight into the request.
    ASSERT_TRUE(connection.send(line));
    pause();
    ASSERT_TRUE(connection.send("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n"));
    pause();
    ASSERT_TRUE(connection.send(body.substr(0, body.size() / 2)));
    pause();
    ASSERT_TRUE(connection.send(body.substr(body.size() / 2)));
    auto answer = connection.read_answer(std::chrono::seconds(20));
    ASSERT_EQ(answer.status, 200) << answer.bytes;

    // After a pause on the kept connection, a chunked body, read through the parser.
    pause();
    ASSERT_TRUE(connection.send(line + "Transfer-Encoding: chunked\r\n\r\n"));
    pause();
    const auto chunk = [](std::string_view part) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        return size + std::string(part) + "\r\n";
    };
    ASSERT_TRUE(connection.send(chunk(std::string_view(body).substr(0, 10))));
    pause();
    ASSERT_TRUE(connection.send(chunk(std::string_view(body).substr(10)) + "0\r\n\r\n"));
    answer = connection.read_answer(std::chrono::seconds(20));
    ASSERT_EQ(answer.status, 200) << answer.bytes;
}

// A client that hangs up halfway through a header has left, which is no error: no answer, no
// log line. A request that is malformed gets its 400, logged with the client's address and,
// once the request line was read, its method and target without the token.
TEST(Host, ClientsThatLeaveMidHeaderAreQuietMalformedRequestsAreLogged) {
    TestServer server([](app::CommandLine& line) { line.log_level = "info"; });
    const std::string target = "/nuvex-link/kernels/k1?token=" + server.token();
    testing::internal::CaptureStderr();
    const std::string complete =
        "GET /nuvex-link/server/info?token=" + server.token() + " HTTP/1.1\r\nHost: x\r\n\r\n";
    for (const std::string& sent :
         {std::string("GE"), "GET " + target, "GET " + target + " HTTP/1.1\r\nHost: x\r\nAcc",
          // One whole request answered, then the next one cut off.
          complete + "GET " + target + " HTTP/1.1\r\nHo"}) {
        test_support::RawConnection connection(server.port());
        ASSERT_TRUE(connection.send(sent));
        connection.close_write();
        std::string received;
        test_support::RawAnswer answer;
        do {
            answer = connection.read_answer(std::chrono::seconds(20));
            received += answer.bytes;
        } while (!answer.closed && !answer.timed_out);
        ASSERT_TRUE(answer.closed) << sent;
        EXPECT_EQ(count_of(received, "HTTP/1.1"), sent.starts_with(complete) ? 1u : 0u) << received;
    }
    const auto bad_field = test_support::raw_exchange(
        server.port(), "GET " + target + " HTTP/1.1\r\nNo colon here\r\n\r\n");
    const auto bad_line = test_support::raw_exchange(server.port(), "\x01\x02 what\r\n\r\n");
    const std::string log = testing::internal::GetCapturedStderr();

    for (const auto* answer : {&bad_field, &bad_line}) {
        EXPECT_EQ(answer->status, 400) << answer->bytes;
        EXPECT_EQ(answer->body(), R"({"message": "Bad Request", "reason": null})");
    }
    EXPECT_EQ(count_of(log, "\n"), 2u) << log;
    EXPECT_NE(log.find("] 400 GET /nuvex-link/kernels/k1?token=[secret] (127.0.0.1) "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("] 400 (127.0.0.1) "), std::string::npos) << log;
    EXPECT_EQ(count_of(log, "[W "), 2u) << log;
    EXPECT_EQ(log.find(server.token()), std::string::npos) << log;
}

// An answer larger than the socket takes at once is written on as the client reads it.
TEST(Host, LargeAnswerReachesAClientThatReadsLate) {
    TestServer server;
    server.start_kernel("k1");
    std::vector<boost::json::object> components;
    for (int i = 0; i < 100; ++i) {
        components.push_back(
            test_support::make_component("c" + std::to_string(i), std::string(40000, 'x')));
    }
    ASSERT_EQ(server
                  .post("/nuvex-link/kernels/k1", test_support::pipeline_updated(
                                                      test_support::make_pipeline("p", components)))
                  .status,
              200);

    test_support::RawConnection connection(server.port(), 4096);
    ASSERT_TRUE(connection.send("GET /nuvex-link/kernels/k1?token=" + server.token() +
                                " HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto answer = connection.read_answer(std::chrono::seconds(20));
    ASSERT_EQ(answer.status, 200);
    const auto stored = boost::json::parse(answer.body());
    EXPECT_EQ(stored.at("updated_components").at("added").as_array().size(), 100u);
}

TEST(Host, RuntimeFileLivesWithTheServer) {
    std::filesystem::path runtime_file;
    {
        TestServer server;
        for (const auto& entry : std::filesystem::directory_iterator(server.runtime_dir())) {
            if (entry.path().filename().string().starts_with("jpserver-")) runtime_file = entry;
        }
        ASSERT_FALSE(runtime_file.empty());
        const auto info = boost::json::parse(test_support::read_file(runtime_file)).as_object();
        EXPECT_EQ(info.at("port").to_number<int>(), server.port());
        EXPECT_EQ(info.at("token").as_string(), server.token());
        EXPECT_EQ(info.at("base_url"), "/");
        EXPECT_EQ(std::filesystem::status(runtime_file).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_FALSE(std::filesystem::exists(runtime_file));
}

TEST(Host, RuntimeFileUrlOfAnIpv6AddressOpens) {
    {
        boost::asio::io_context io;
        boost::asio::ip::tcp::acceptor probe(io);
        boost::system::error_code error;
        probe.open(boost::asio::ip::tcp::v6(), error);
        if (!error) probe.bind({boost::asio::ip::address_v6::loopback(), 0}, error);
        if (error) GTEST_SKIP() << "no IPv6 loopback here: " << error.message();
    }
    TestServer server([](app::CommandLine& line) { line.ip = "::1"; });
    boost::json::object info;
    for (const auto& entry : std::filesystem::directory_iterator(server.runtime_dir())) {
        if (entry.path().filename().string().starts_with("jpserver-")) {
            info = boost::json::parse(test_support::read_file(entry.path())).as_object();
        }
    }
    const std::string port = std::to_string(server.port());
    EXPECT_EQ(info.at("hostname"), "::1");
    ASSERT_EQ(info.at("url").as_string(), "http://[::1]:" + port + "/");

    // A client that reads the URL reaches the server.
    const std::string text(info.at("url").as_string());
    const auto url = boost::urls::parse_uri(text).value();
    ASSERT_EQ(url.host_type(), boost::urls::host_type::ipv6);
    const std::string request = "GET /nuvex-link/server/info?token=" + server.token() +
                                " HTTP/1.1\r\nHost: " + std::string(url.encoded_host_and_port()) +
                                "\r\nConnection: close\r\n\r\n";
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    socket.connect({boost::asio::ip::make_address_v6(url.host_ipv6_address().to_bytes()),
                    static_cast<unsigned short>(url.port_number())});
    boost::asio::write(socket, boost::asio::buffer(request));
    std::string answer;
    boost::system::error_code error;
    boost::asio::read(socket, boost::asio::dynamic_buffer(answer), error);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
}

TEST(Host, BaseUrlPrefixesEveryRoute) {
    TestServer server([](app::CommandLine& line) { line.base_url = "/lab/"; });
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1").status, 404);
    EXPECT_EQ(server.get("/lab/nuvex-link/kernels/k1").status, 400);
}

}  // namespace
