#pragma once
// How many bytes a cache folder takes: the sum of the sizes of the regular files below it.

#include <cstdint>
#include <filesystem>

namespace base {

// Symbolic links are not followed and count nothing; a path that does not exist gives 0, a
// regular file gives its own size. A folder that cannot be read fails (std::runtime_error)
// with a text naming it. Entries that vanish during the walk are skipped: caches change while
// the notebook runs.
std::uintmax_t get_dir_size(const std::filesystem::path& path);

}  // namespace base
