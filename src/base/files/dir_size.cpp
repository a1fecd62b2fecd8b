#include "base/files/dir_size.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace base {
namespace {

[[noreturn]] void fail(const std::string& path, int error) {
    throw std::runtime_error("Cannot measure '" + path + "': " + std::strerror(error));
}

// Closes the directory stream when the walk of one folder ends, also by a failure.
struct DirStream {
    DIR* dir;
    ~DirStream() { closedir(dir); }
};

// Adds the regular files of one folder and queues its subfolders. Entries are looked up
// relative to the open folder (fstatat), so no path is resolved twice; d_type spares the
// lookup of subfolders and links.
std::uintmax_t sum_folder(const std::string& folder, std::vector<std::string>& pending) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return 0;
        fail(folder, errno);
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        int error = errno;
        close(fd);
        fail(folder, error);
    }
    DirStream stream{dir};
    std::uintmax_t total = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            if (errno != 0) fail(folder, errno);
            return total;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN || type == DT_REG) {
            struct stat info;
            if (fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                int error = errno;
                if (error == ENOENT) continue;
                fail(folder + "/" + name, error);
            }
            if (S_ISREG(info.st_mode)) total += static_cast<std::uintmax_t>(info.st_size);
            if (S_ISDIR(info.st_mode)) pending.push_back(folder + "/" + name);
        } else if (type == DT_DIR) {
            pending.push_back(folder + "/" + name);
        }
    }
}

// Folders waiting to be summed, shared by the walking threads. A thread that finds the queue
// empty waits while others are still reading folders, which may add more.
class FolderQueue {
public:
    explicit FolderQueue(std::string root) : pending_{std::move(root)} {}

    void walk() {
        std::vector<std::string> found;
        std::uintmax_t subtotal = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !pending_.empty() || busy_ == 0 || failure_; });
            if (pending_.empty() || failure_) break;
            std::string folder = std::move(pending_.back());
            pending_.pop_back();
            ++busy_;
            lock.unlock();
            try {
                subtotal += sum_folder(folder, found);
            } catch (...) {
                lock.lock();
                failure_ = std::current_exception();
                --busy_;
                break;
            }
            lock.lock();
            --busy_;
            for (auto& name : found) pending_.push_back(std::move(name));
            found.clear();
            changed_.notify_all();
        }
        total_ += subtotal;
        changed_.notify_all();
    }

    std::uintmax_t total() const {
        if (failure_) std::rethrow_exception(failure_);
        return total_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> pending_;
    int busy_ = 0;
    std::uintmax_t total_ = 0;
    std::exception_ptr failure_;
};

}  // namespace

std::uintmax_t get_dir_size(const std::filesystem::path& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        int error = errno;
        if (error == ENOENT) return 0;
        fail(path.string(), error);
    }
    if (S_ISREG(info.st_mode)) return static_cast<std::uintmax_t>(info.st_size);
    if (!S_ISDIR(info.st_mode)) return 0;

    // The walk waits on the kernel's lookups more than on the processor: one thread per core
    // (at most four) keeps large trees ahead of `du`.
    FolderQueue queue(path.string());
    unsigned helpers = std::min(std::thread::hardware_concurrency(), 4u);
    std::vector<std::jthread> threads;
    for (unsigned i = 1; i < helpers; ++i) threads.emplace_back([&queue] { queue.walk(); });
    queue.walk();
    threads.clear();
    return queue.total();
}

}  // namespace base
