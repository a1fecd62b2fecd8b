#include "base/files/private_folder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace base {

FileDescriptor open_private_folder(int at, const std::filesystem::path& given) {
    // A trailing "/" would have a link at the end followed despite O_NOFOLLOW.
    std::filesystem::path path = given;
    while (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    if (::mkdirat(at, path.c_str(), 0700) != 0 && errno != EEXIST) {
        throw FolderRefused(std::string("it cannot be created: ") + std::strerror(errno));
    }
    // Opened before it is checked, so that what was checked is what is used.
    FileDescriptor folder(
        ::openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        const int error = errno;
        struct stat entry;
        if ((error == ELOOP || error == ENOTDIR) &&
            ::fstatat(at, path.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
            throw FolderRefused(S_ISLNK(entry.st_mode) ? "it is a symbolic link"
                                                       : "it is not a folder");
        }
        throw FolderRefused(std::string("it cannot be opened: ") + std::strerror(error));
    }
    struct stat info;
    if (::fstat(folder.get(), &info) != 0) {
        throw FolderRefused(std::string("it cannot be examined: ") + std::strerror(errno));
    }
    const uid_t user = ::geteuid();
    if (info.st_uid != user) {
        throw FolderRefused("it belongs to user " + std::to_string(info.st_uid) +
                            ", not to this server's user " + std::to_string(user));
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        throw FolderRefused(std::string("other users can write to it (mode ") + mode + ")");
    }
    return folder;
}

void create_private_folders(const std::filesystem::path& path) {
    std::filesystem::path made;
    for (const auto& part : path) {
        made /= part;
        if (part.empty() || ::mkdir(made.c_str(), 0700) == 0 || errno == EEXIST) continue;
        throw std::system_error(errno, std::generic_category(), "create " + made.string());
    }
    if (!std::filesystem::is_directory(path)) {
        throw std::system_error(ENOTDIR, std::generic_category(), "create " + path.string());
    }
}

}  // namespace base
