#include "app/parent_watch.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>

namespace app {

ParentWatch::ParentWatch(int pipe_fd) : pipe_fd_(pipe_fd) {
    if (::fcntl(pipe_fd_, F_SETFD, FD_CLOEXEC) != 0) {
        throw std::runtime_error("--parent-fd " + std::to_string(pipe_fd_) +
                                 " is not an open file descriptor: " + std::strerror(errno));
    }
    if (::pipe2(wake_fds_, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("Cannot watch the parent process: ") +
                                 std::strerror(errno));
    }
    thread_ = std::thread([this] { watch(); });
}

ParentWatch::~ParentWatch() {
    const char wake = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_fds_[1], &wake, 1);
    thread_.join();
    ::close(wake_fds_[0]);
    ::close(wake_fds_[1]);
    ::close(pipe_fd_);
}

void ParentWatch::watch() {
    pollfd watched[2] = {{pipe_fd_, POLLIN, 0}, {wake_fds_[0], POLLIN, 0}};
    char buffer[256];
    while (true) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[1].revents != 0) return;
        if (watched[0].revents == 0) continue;
        // Whatever the parent writes means nothing; only the end of the pipe counts.
        const ssize_t got = ::read(pipe_fd_, buffer, sizeof buffer);
        if (got > 0 || (got < 0 && (errno == EINTR || errno == EAGAIN))) continue;
        break;
    }
    // To the process, not this thread: main() waits for it with sigwait.
    ::kill(::getpid(), SIGTERM);
}

}  // namespace app
