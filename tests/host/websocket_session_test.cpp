// The server's end of a websocket connection, looked at from inside the process that runs it.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/raw_client.hpp"
#include "support/test_server.hpp"

namespace {

using test_support::TestServer;

// The server's connected sockets in this process, by the port of their peer.
std::map<unsigned short, int> server_sockets(unsigned short server_port) {
    std::map<unsigned short, int> sockets;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in local{}, peer{};
        socklen_t size = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
            local.sin_family != AF_INET || ntohs(local.sin_port) != server_port) {
            continue;
        }
        size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) continue;
        sockets[ntohs(peer.sin_port)] = fd;
    }
    return sockets;
}

int option(int fd, int level, int name) {
    int value = -1;
    socklen_t size = sizeof value;
    EXPECT_EQ(::getsockopt(fd, level, name, &value, &size), 0);
    return value;
}

TEST(WebSocketSession, ProbesIdleConnectionsSoAVanishedPeerIsNoticed) {
    TestServer server;
    // A plain HTTP connection, kept open after its answer: no keepalive of its own.
    test_support::RawConnection plain(server.port());
    ASSERT_TRUE(plain.send("GET /nuvex-link/server/info?token=" + server.token() +
                           " HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_EQ(plain.read_answer().status, 200);
    const auto before = server_sockets(server.port());
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(option(before.begin()->second, SOL_SOCKET, SO_KEEPALIVE), 0);

    test_support::WebSocketClient client(server, "k1");
    int websocket = -1;
    for (const auto& [peer, fd] : server_sockets(server.port())) {
        if (!before.contains(peer)) websocket = fd;
    }
    ASSERT_NE(websocket, -1);
    EXPECT_EQ(option(websocket, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(websocket, IPPROTO_TCP, TCP_KEEPIDLE), 60);
    EXPECT_EQ(option(websocket, IPPROTO_TCP, TCP_KEEPCNT), 3);
}

}  // namespace
