#pragma once
// Owns an open file descriptor and closes it when it goes.

#include <unistd.h>

#include <utility>

namespace base {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes now, so that a failed close (e.g. quota on a network disk) is reported.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

}  // namespace base
