#pragma once
// Stops the server when the process that started it goes away. The parent keeps the write end
// of a pipe and hands the read end to the server; the read end sees end of file when the
// parent closes it or dies in any way (SIGKILL included), since the kernel closes a dead
// process's files.

#include <thread>

namespace app {

class ParentWatch {
public:
    // Watches `pipe_fd` (taken over; closed on exec, so no grandchild holds it). At end of file
    // the process sends itself SIGTERM, which main() takes as its stop request. Fails with a
    // text when `pipe_fd` is not an open file descriptor.
    explicit ParentWatch(int pipe_fd);
    ~ParentWatch();
    ParentWatch(const ParentWatch&) = delete;
    ParentWatch& operator=(const ParentWatch&) = delete;

private:
    void watch();

    int pipe_fd_;
    // Written by the destructor to end the watch without waiting for the parent.
    int wake_fds_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace app
