// Websocket fan-out load: opens N websocket connections of one kernel, posts M small messages
// to the kernel's DAG route and measures how fast the server delivers all N*M of them.
//
// usage: ws_fanout_tool PORT TOKEN [CONNECTIONS=100] [MESSAGES=3000] [TIMEOUT_S=120] [POSTERS=4]
// prints one JSON line: deliveries, seconds, deliveries_per_s, posts_per_s.

#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<long> delivered{0};
std::atomic<long> finished_readers{0};

struct Reader : std::enable_shared_from_this<Reader> {
    websocket::stream<tcp::socket> ws;
    beast::flat_buffer buffer;
    long expected;
    long seen = 0;
    Reader(net::io_context& io, long expected_messages) : ws(io), expected(expected_messages) {}

    void read_next() {
        ws.async_read(buffer, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error) return;
            self->buffer.clear();
            ++self->seen;
            delivered.fetch_add(1, std::memory_order_relaxed);
            if (self->seen == self->expected) {
                finished_readers.fetch_add(1);
                return;
            }
            self->read_next();
        });
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: ws_fanout_tool PORT TOKEN [CONNECTIONS] [MESSAGES] [TIMEOUT_S]\n";
        return 2;
    }
    const std::string port = argv[1];
    const std::string token = argv[2];
    const int connections = argc > 3 ? std::stoi(argv[3]) : 100;
    const long messages = argc > 4 ? std::stol(argv[4]) : 3000;
    const int timeout_s = argc > 5 ? std::stoi(argv[5]) : 120;
    const std::string kernel = "fanout";

    net::io_context io;
    const auto endpoints = tcp::resolver(io).resolve("127.0.0.1", port);
    std::vector<std::shared_ptr<Reader>> readers;
    for (int i = 0; i < connections; ++i) {
        auto reader = std::make_shared<Reader>(io, messages);
        net::connect(reader->ws.next_layer(), endpoints);
        reader->ws.handshake("127.0.0.1",
                             "/nuvex-link/kernels/" + kernel + "/channels?token=" + token);
        readers.push_back(reader);
    }
    for (auto& reader : readers) reader->read_next();
    std::thread network([&io] { io.run(); });

    // About 200 bytes once relayed.
    const std::string body = R"({"procedure": "bench", "status": "ok", "msg": ")" +
                             std::string(130, 'x') + R"(", "successful": null})";
    // Several posting connections keep the server busy; the messages' order does not matter.
    const int posters_count = argc > 6 ? std::stoi(argv[6]) : 4;
    const auto start = Clock::now();
    std::atomic<bool> failed{false};
    std::vector<std::thread> posters;
    for (int p = 0; p < posters_count; ++p) {
        posters.emplace_back([&, p] {
            net::io_context post_io;
            beast::tcp_stream poster(post_io);
            poster.connect(tcp::resolver(post_io).resolve("127.0.0.1", port));
            http::request<http::string_body> request(http::verb::post,
                                                     "/nuvex-link/kernels/" + kernel, 11);
            request.set(http::field::host, "127.0.0.1");
            request.set(http::field::authorization, "token " + token);
            request.set(http::field::content_type, "application/json");
            request.body() = body;
            request.prepare_payload();
            beast::flat_buffer buffer;
            for (long i = p; i < messages; i += posters_count) {
                http::write(poster, request);
                http::response<http::string_body> response;
                http::read(poster, buffer, response);
                if (response.result_int() != 200) {
                    std::cerr << "POST answered " << response.result_int() << "\n";
                    failed = true;
                    return;
                }
            }
        });
    }
    for (auto& poster : posters) poster.join();
    if (failed) return 1;
    const auto posted = Clock::now();
    const auto deadline = start + std::chrono::seconds(timeout_s);
    while (finished_readers.load() < connections && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto end = Clock::now();
    const double seconds = std::chrono::duration<double>(end - start).count();
    const double post_seconds = std::chrono::duration<double>(posted - start).count();
    std::printf(
        "{\"connections\": %d, \"messages\": %ld, \"deliveries\": %ld, \"expected\": %ld, "
        "\"seconds\": %.3f, \"deliveries_per_s\": %.0f, \"posts_per_s\": %.0f}\n",
        connections, messages, delivered.load(), messages * connections, seconds,
        delivered.load() / seconds, messages / post_seconds);
    io.stop();
    network.join();
    return delivered.load() == messages * connections ? 0 : 1;
}
