#pragma once
// Removing a tree below an open folder without ever following a symbolic link, so that no
// link planted inside the folder, at any depth, makes the removal reach outside it.

#include <filesystem>

namespace base {

// Removes the entry `relative` below the open folder `root`, with everything in it. Each
// folder on the way is opened relative to its parent without following links (openat with
// O_NOFOLLOW | O_DIRECTORY) and entries go with unlinkat:
// - a link or a file where a folder is on the way, or a link as the entry itself: nothing is
//   removed;
// - a link inside the removed tree is removed itself, never what it points to;
// - an entry that is missing, or vanishes meanwhile, is no failure.
// `relative` holds plain names only ("." is skipped); "..", a name holding NUL, an absolute
// path or no name at all fail std::invalid_argument. Other failures throw std::runtime_error naming
// the path below `root` and the cause.
void remove_below(int root, const std::filesystem::path& relative);

}  // namespace base
