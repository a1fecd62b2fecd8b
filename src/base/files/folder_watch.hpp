#pragma once
// Tells whether names may have come into or left a folder since it was last asked, from the
// kernel's notifications (inotify): asking costs one read that finds nothing, not a walk of the
// folder's path. Events are queued by the call that adds or removes the name, so a name added
// before the question is always reported. When the folder cannot be watched (missing, moved,
// out of descriptors or watches) every question answers yes, and watching starts again as soon
// as it can.

#include <filesystem>

#include "base/files/file_descriptor.hpp"

namespace base {

class FolderWatch {
public:
    explicit FolderWatch(std::filesystem::path folder);
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // True when names may have changed since the last call: list the folder after it.
    bool changed();

private:
    // Starts watching; false when it cannot.
    bool watch();

    std::filesystem::path folder_;
    FileDescriptor notifications_;
    int watch_ = -1;
};

}  // namespace base
