#include "base/files/remove_below.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/files/file_descriptor.hpp"

namespace base {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

[[noreturn]] void fail(const std::filesystem::path& path, int error) {
    throw std::runtime_error("Cannot remove '" + path.string() + "': " + std::strerror(error));
}

// Errors of an openat with kFolderFlags that mean "not a folder of its own here": a link,
// something else, or nothing any more.
bool is_no_folder(int error) { return error == ELOOP || error == ENOTDIR || error == ENOENT; }

std::vector<std::string> names_of(const std::filesystem::path& relative) {
    if (relative.is_absolute())
        throw std::invalid_argument("Not a relative path: " + relative.string());
    std::vector<std::string> names;
    for (const auto& part : relative) {
        if (part.empty() || part == ".") continue;
        // A name is passed on as a C string: one holding NUL would name something else ("..").
        if (part == ".." || part.native().find('\0') != std::string::npos) {
            throw std::invalid_argument("Not a plain name in '" + relative.string() + "'");
        }
        names.push_back(part.string());
    }
    if (names.empty()) throw std::invalid_argument("No name in '" + relative.string() + "'");
    return names;
}

bool remove_folder(int parent, const std::string& name, const std::filesystem::path& shown);

// Removes everything in the open folder. Names are read first and removed after: a directory
// stream that changes while it is read may skip entries.
void empty_folder(int folder, const std::filesystem::path& shown) {
    const int listing = ::dup(folder);
    if (listing < 0) fail(shown, errno);
    DIR* stream = ::fdopendir(listing);
    if (stream == nullptr) {
        const int error = errno;
        ::close(listing);
        fail(shown, error);
    }
    std::vector<std::pair<std::string, bool>> entries;  // name, maybe a folder
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream);
        if (entry == nullptr) break;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        entries.emplace_back(name, entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN);
    }
    const int read_error = errno;
    ::closedir(stream);
    if (read_error != 0) fail(shown, read_error);

    for (const auto& [name, maybe_folder] : entries) {
        // A link is removed itself, whatever it points to.
        if (maybe_folder && remove_folder(folder, name, shown / name)) continue;
        if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) fail(shown / name, errno);
    }
}

// Removes the folder `name` of `parent` with its contents; false, with nothing removed, when
// it is not a folder (a link put in its place meanwhile) or is gone.
bool remove_folder(int parent, const std::string& name, const std::filesystem::path& shown) {
    FileDescriptor folder(::openat(parent, name.c_str(), kFolderFlags));
    if (!folder) {
        if (is_no_folder(errno)) return false;
        fail(shown, errno);
    }
    empty_folder(folder.get(), shown);
    folder.reset();
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) fail(shown, errno);
    return true;
}

}  // namespace

void remove_below(int root, const std::filesystem::path& relative) {
    const auto names = names_of(relative);
    std::filesystem::path shown;
    FileDescriptor current;
    int at = root;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        shown /= names[i];
        FileDescriptor next(::openat(at, names[i].c_str(), kFolderFlags));
        if (!next) {
            if (is_no_folder(errno)) return;
            fail(shown, errno);
        }
        current = std::move(next);
        at = current.get();
    }
    const std::string& last = names.back();
    shown /= last;
    struct stat info;
    if (::fstatat(at, last.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return;
        fail(shown, errno);
    }
    if (S_ISLNK(info.st_mode)) return;
    if (S_ISDIR(info.st_mode)) {
        remove_folder(at, last, shown);
    } else if (::unlinkat(at, last.c_str(), 0) != 0 && errno != ENOENT) {
        fail(shown, errno);
    }
}

}  // namespace base
