#include "base/files/folder_watch.hpp"

#include <sys/inotify.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace base {
namespace {

constexpr std::uint32_t kNameEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

FolderWatch::FolderWatch(std::filesystem::path folder) : folder_(std::move(folder)) {}

bool FolderWatch::watch() {
    if (!notifications_) notifications_ = FileDescriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!notifications_) return false;
    watch_ = ::inotify_add_watch(notifications_.get(), folder_.c_str(), kNameEvents | IN_ONLYDIR);
    return watch_ >= 0;
}

bool FolderWatch::changed() {
    if (watch_ < 0) {
        // What came before the watch is not known: the folder must be listed once more.
        watch();
        return true;
    }
    bool changed = false;
    alignas(inotify_event) std::array<char, 4096> events;
    while (true) {
        const ssize_t size = ::read(notifications_.get(), events.data(), events.size());
        if (size <= 0) {
            if (size < 0 && errno == EINTR) continue;
            // EAGAIN: nothing more is queued. Another failure leaves the queue unknown.
            if (size == 0 || errno != EAGAIN) changed = true;
            break;
        }
        changed = true;
        for (ssize_t at = 0; at < size;) {
            inotify_event event;
            std::memcpy(&event, events.data() + at, sizeof event);
            // The folder itself went (or was moved away: its path may name another folder now),
            // or events were lost: the next question watches the path afresh.
            const bool this_watch = event.wd == watch_;
            if ((this_watch && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) ||
                (event.mask & IN_Q_OVERFLOW)) {
                if (!(event.mask & IN_IGNORED)) ::inotify_rm_watch(notifications_.get(), watch_);
                watch_ = -1;
            }
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    return changed;
}

}  // namespace base
