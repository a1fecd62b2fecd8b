#pragma once
// A plain TCP client for requests no well-behaved client would send: raw bytes in, whatever
// the server writes back out, and whether it closed the connection.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace test_support {

// What came back for a raw request.
struct RawAnswer {
    int status = 0;          // of the first answer's status line; 0 when none arrived
    std::string bytes;       // everything read
    bool closed = false;     // the server closed (or reset) the connection
    bool timed_out = false;  // neither a whole answer nor a close before the deadline

    // The first answer's body (after the blank line); empty when there is none.
    std::string body() const;
};

class RawConnection {
public:
    // Connects to 127.0.0.1:port. A receive buffer size limits how much the kernel takes in
    // for a client that does not read.
    explicit RawConnection(unsigned short port, std::optional<int> receive_buffer = std::nullopt);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Sends everything it can; false once the server closed its side.
    bool send(std::string_view bytes);
    // Ends the request side, as a client that gives up sending does.
    void close_write();
    // Reads until one whole HTTP answer (by Content-Length or chunked framing) has arrived,
    // the server closes, or the timeout passes.
    RawAnswer read_answer(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Reads and drops everything until the server closes; false when it is still open at the
    // deadline.
    bool wait_for_close(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
};

// One request on its own connection: send, then read the answer.
RawAnswer raw_exchange(unsigned short port, std::string_view bytes,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace test_support
