#pragma once
// A folder only this process's user can change. Folders the server keeps in a place other
// users share (/tmp) are used only when they are the user's own: another user could otherwise
// plant a link there, or swap what the server later removes.

#include <filesystem>
#include <stdexcept>

#include "base/files/file_descriptor.hpp"

namespace base {

// The folder exists but is not this user's own, or cannot be made or opened; the text says
// why ("it is a symbolic link").
class FolderRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Opens the folder `path`, relative to the open folder `at` (AT_FDCWD for the working
// folder), and creates it with mode 0700 when it is missing. An existing one is used only
// when it is a real folder, not a symbolic link, owned by this process's effective user and
// writable neither by its group nor by others; otherwise FolderRefused says why.
FileDescriptor open_private_folder(int at, const std::filesystem::path& path);

// Makes the folders of `path` that are missing, each with mode 0700; existing ones stay as
// they are. A failure throws std::system_error whose code is the cause.
void create_private_folders(const std::filesystem::path& path);

}  // namespace base
