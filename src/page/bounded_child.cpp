#include "page/bounded_child.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <new>
#include <system_error>

namespace page {
namespace {

constexpr int kExitFailed = 2;
constexpr int kExitOutOfMemory = 3;

// What the process maps now: the child starts with all of it, so its memory bound adds to it.
std::size_t mapped_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

void write_all(int fd, const std::string& text) {
    for (std::size_t written = 0; written < text.size();) {
        const ssize_t step = write(fd, text.data() + written, text.size() - written);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) return;
        written += static_cast<std::size_t>(step);
    }
}

[[noreturn]] void run_child(int out, const std::function<std::string()>& work,
                            const ChildLimits& limits, std::size_t mapped) {
    // The server's handlers would tell the server of signals meant for the child.
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        ::signal(signal_number, SIG_DFL);
    }
    const auto seconds = static_cast<rlim_t>((limits.cpu_time.count() + 999) / 1000);
    const rlimit cpu{seconds, seconds + 1};
    const rlimit memory{mapped + limits.memory_bytes, mapped + limits.memory_bytes};
    setrlimit(RLIMIT_CPU, &cpu);
    setrlimit(RLIMIT_AS, &memory);
    int code = 0;
    std::string text;
    try {
        text = work();
    } catch (const std::bad_alloc&) {
        code = kExitOutOfMemory;
    } catch (const std::exception& failure) {
        text = failure.what();
        code = kExitFailed;
    } catch (...) {
        code = kExitFailed;
    }
    write_all(out, text);
    _exit(code);
}

std::string seconds_text(std::chrono::milliseconds time) {
    const auto tenths = (time.count() + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "");
}

}  // namespace

ChildOutcome run_in_child(const std::function<std::string()>& work, const ChildLimits& limits,
                          const std::function<bool()>& abandoned) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    const std::size_t mapped = mapped_bytes();
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        throw std::system_error(error, std::generic_category(), "fork");
    }
    if (pid == 0) {
        close(fds[0]);
        run_child(fds[1], work, limits, mapped);
    }
    close(fds[1]);

    // The kernel stops the child at its CPU bound; the wall-clock bound is for a machine so
    // busy that the CPU bound comes late.
    const auto deadline =
        std::chrono::steady_clock::now() + 3 * limits.cpu_time + std::chrono::seconds(1);
    ChildOutcome outcome;
    bool killed_for_time = false;
    bool killed_as_abandoned = false;
    char buffer[65536];
    for (;;) {
        pollfd ready{fds[0], POLLIN, 0};
        const int polled = poll(&ready, 1, 100);
        if (polled > 0) {
            const ssize_t got = read(fds[0], buffer, sizeof buffer);
            if (got > 0) {
                outcome.output.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            if (got == 0 || errno != EINTR) break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            killed_for_time = true;
        } else if (abandoned()) {
            killed_as_abandoned = true;
        } else {
            continue;
        }
        kill(pid, SIGKILL);
        break;
    }
    close(fds[0]);

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    outcome.cpu_time = std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    outcome.peak_memory_bytes = static_cast<std::size_t>(usage.ru_maxrss) * 1024;

    const bool exited = WIFEXITED(status);
    if (killed_as_abandoned) {
        outcome.end = ChildOutcome::End::abandoned;
    } else if (exited && WEXITSTATUS(status) == 0) {
        outcome.end = ChildOutcome::End::finished;
        return outcome;
    } else if (killed_for_time || (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) ||
               (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) {
        outcome.end = ChildOutcome::End::over_time;
        outcome.failure = "it took more than " + seconds_text(limits.cpu_time) + " s";
    } else if (exited && WEXITSTATUS(status) == kExitFailed && !outcome.output.empty()) {
        outcome.end = ChildOutcome::End::failed;
        outcome.failure = outcome.output;
    } else {
        outcome.end = ChildOutcome::End::failed;
        outcome.failure =
            "it needed more than " + std::to_string(limits.memory_bytes >> 20) + " MiB of memory";
    }
    outcome.output.clear();
    return outcome;
}

}  // namespace page
