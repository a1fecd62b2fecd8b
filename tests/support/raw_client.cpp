#include "support/raw_client.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace test_support {
namespace {

using Clock = std::chrono::steady_clock;

// Whether `bytes` hold one whole answer: its head and, by its framing, all of its body.
bool answer_complete(std::string_view bytes) {
    const auto head_end = bytes.find("\r\n\r\n");
    if (head_end == std::string_view::npos) return false;
    const std::string_view head = bytes.substr(0, head_end + 2);
    const std::string_view body = bytes.substr(head_end + 4);
    for (std::size_t at = head.find("\r\n"); at != std::string_view::npos;) {
        const auto line_end = head.find("\r\n", at + 2);
        if (line_end == std::string_view::npos) break;
        const std::string_view line = head.substr(at + 2, line_end - at - 2);
        at = line_end;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string name(line.substr(0, colon));
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        if (strcasecmp(name.c_str(), "Content-Length") == 0) {
            return body.size() >= std::strtoull(std::string(value).c_str(), nullptr, 10);
        }
        if (strcasecmp(name.c_str(), "Transfer-Encoding") == 0) {
            return body.find("0\r\n\r\n") != std::string_view::npos;
        }
    }
    // No framing: the answer ends when the connection does (or it has no body).
    return bytes.starts_with("HTTP/1.1 101") || bytes.starts_with("HTTP/1.1 204") ||
           bytes.starts_with("HTTP/1.1 304");
}

int status_of(std::string_view bytes) {
    if (!bytes.starts_with("HTTP/1.") || bytes.size() < 12) return 0;
    return std::atoi(std::string(bytes.substr(9, 3)).c_str());
}

}  // namespace

std::string RawAnswer::body() const {
    const auto head_end = bytes.find("\r\n\r\n");
    return head_end == std::string::npos ? std::string() : bytes.substr(head_end + 4);
}

RawConnection::RawConnection(unsigned short port, std::optional<int> receive_buffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket: " + std::to_string(errno));
    if (receive_buffer) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &*receive_buffer, sizeof(int));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd_);
        throw std::runtime_error("connect to port " + std::to_string(port) + ": " +
                                 std::to_string(error));
    }
}

RawConnection::~RawConnection() { ::close(fd_); }

bool RawConnection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void RawConnection::close_write() { ::shutdown(fd_, SHUT_WR); }

RawAnswer RawConnection::read_answer(std::chrono::milliseconds timeout) {
    RawAnswer answer;
    const auto deadline = Clock::now() + timeout;
    char buffer[65536];
    while (!answer_complete(answer.bytes)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd ready{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) == 0) {
            answer.timed_out = true;
            break;
        }
        const auto received = ::recv(fd_, buffer, sizeof buffer, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) {
            answer.closed = true;
            break;
        }
        answer.bytes.append(buffer, static_cast<std::size_t>(received));
    }
    answer.status = status_of(answer.bytes);
    return answer;
}

bool RawConnection::wait_for_close(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    char buffer[65536];
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd ready{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) == 0) {
            return false;
        }
        const auto received = ::recv(fd_, buffer, sizeof buffer, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return true;
    }
}

RawAnswer raw_exchange(unsigned short port, std::string_view bytes,
                       std::chrono::milliseconds timeout) {
    RawConnection connection(port);
    connection.send(bytes);
    return connection.read_answer(timeout);
}

}  // namespace test_support
