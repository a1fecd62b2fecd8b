#pragma once
// Files only their owner may read (tokens), written whole or not at all.

#include <filesystem>
#include <string_view>

namespace base {

// Writes `text` to `path` through a new file beside it, created with mode 0600 by mkostemp
// (O_CREAT | O_EXCL: a file or link someone put there beforehand is never opened, followed or
// written), synced and renamed over `path` in one step. A failure throws std::system_error
// whose code is the cause; the temporary file is gone then.
void write_private_file(const std::filesystem::path& path, std::string_view text);

}  // namespace base
