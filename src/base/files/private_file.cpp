#include "base/files/private_file.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "base/files/file_descriptor.hpp"

namespace base {
namespace {

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::system_error(error, std::generic_category(), what);
}

void write_all(int fd, std::string_view text, const std::string& path) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("write " + path, errno);
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

void write_private_file(const std::filesystem::path& path, std::string_view text) {
    std::string temporary = path.string() + ".tmp.XXXXXX";
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file) fail("create " + temporary, errno);
    try {
        write_all(file.get(), text, temporary);
        if (::fsync(file.get()) != 0) fail("sync " + temporary, errno);
        if (file.close() != 0) fail("close " + temporary, errno);
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            fail("rename " + temporary + " to " + path.string(), errno);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

}  // namespace base
