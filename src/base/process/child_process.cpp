#include "base/process/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

extern char** environ;

namespace base {
namespace {

std::string start_failure(const std::vector<std::string>& argv, int error_number) {
    const std::string program = argv.empty() ? std::string() : argv.front();
    return "Could not start " + program + ": " + std::strerror(error_number);
}

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
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

struct Pipe {
    FileDescriptor read_end;
    FileDescriptor write_end;
};

// Close-on-exec, so that a child started at the same time by another thread does not inherit
// this pipe and keep it open after our own child has ended.
Pipe make_pipe(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw ProcessStartError(start_failure(argv, errno));
    return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

// How the child starts: input from /dev/null, the two pipes as outputs, no other descriptor
// of the server, and default signal handling whatever the server's threads block or ignore.
class SpawnSetup {
public:
    SpawnSetup(int output_fd, int error_fd) {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_adddup2(&actions_, output_fd, STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(&actions_, error_fd, STDERR_FILENO);
        ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);

        sigset_t none;
        sigemptyset(&none);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&defaults, signal_number);
        }
        ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
        ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// Reaps the child; if we leave early (an allocation failed while reading), it is killed first
// so that no process outlives the call.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int ignored;
            reap(ignored);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Returns once the child has ended; it stays unreaped, so its pid is not reused yet.
    void wait_until_ended() noexcept {
        siginfo_t ended{};
        while (::waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOWAIT) < 0 &&
               errno == EINTR) {
        }
    }

    // The exit status, or minus the signal that ended the child.
    int wait() {
        int status = 0;
        if (!reap(status)) {
            throw std::runtime_error(std::string("Waiting for a child process failed: ") +
                                     std::strerror(errno));
        }
        if (WIFSIGNALED(status)) return -WTERMSIG(status);
        return WEXITSTATUS(status);
    }

private:
    bool reap(int& status) noexcept {
        pid_t reaped;
        do {
            reaped = ::waitpid(pid_, &status, 0);
        } while (reaped < 0 && errno == EINTR);
        pid_ = -1;
        return reaped >= 0;
    }

    pid_t pid_;
};

// Reads both pipes until both are closed, whichever the child fills first.
void drain(FileDescriptor& output, FileDescriptor& error, ProcessOutput& result) {
    std::array<char, 65536> buffer;
    std::array<pollfd, 2> watched{pollfd{output.get(), POLLIN, 0}, pollfd{error.get(), POLLIN, 0}};
    std::array<std::string*, 2> targets{&result.standard_output, &result.standard_error};
    int open_count = 2;
    while (open_count > 0) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("Reading a child's output failed: ") +
                                     std::strerror(errno));
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].fd < 0 || watched[i].revents == 0) continue;
            const ssize_t count = ::read(watched[i].fd, buffer.data(), buffer.size());
            if (count > 0) {
                targets[i]->append(buffer.data(), static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                watched[i].fd = -1;  // poll skips negative descriptors
                --open_count;
            }
        }
    }
}

}  // namespace

ProcessOutput run_process(const std::vector<std::string>& argv, const std::stop_token& stop) {
    if (argv.empty()) throw ProcessStartError("Could not start a program: no program named");
    Pipe output = make_pipe(argv);
    Pipe error = make_pipe(argv);

    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);

    if (stop.stop_requested()) {
        throw ProcessStartError("Could not start " + argv.front() + ": the server is stopping");
    }
    pid_t pid = -1;
    {
        SpawnSetup setup(output.write_end.get(), error.write_end.get());
        const int spawn_error = ::posix_spawnp(&pid, arguments.front(), setup.actions(),
                                               setup.attributes(), arguments.data(), environ);
        if (spawn_error != 0) throw ProcessStartError(start_failure(argv, spawn_error));
    }
    Child child(pid);
    // Only the child may hold the write ends now, so end of file means it closed them.
    output.write_end.reset();
    error.write_end.reset();

    ProcessOutput result;
    {
        // A stop request ends the child early. The callback goes before the child is reaped,
        // so it never signals a pid that was reused.
        const std::stop_callback end_on_stop(stop, [pid] { ::kill(pid, SIGTERM); });
        drain(output.read_end, error.read_end, result);
        child.wait_until_ended();
    }
    result.exit_status = child.wait();
    return result;
}

}  // namespace base
