#include "snippets/snippet_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "snippets/text_decoding.hpp"

namespace snippets {
namespace {

namespace fs = std::filesystem;

std::string read_bytes(const fs::path& file) {
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) ::close(fd);
        }
    } descriptor{::open(file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (descriptor.fd < 0) {
        throw fs::filesystem_error("cannot open", file, {errno, std::generic_category()});
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(descriptor.fd, buffer, sizeof buffer);
        if (count == 0) return bytes;
        if (count < 0) {
            if (errno == EINTR) continue;
            throw fs::filesystem_error("cannot read", file, {errno, std::generic_category()});
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

}  // namespace

bool is_plain_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool is_below(const std::filesystem::path& path, const std::filesystem::path& root) {
    const auto [root_end, path_end] =
        std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return root_end == root.end() && path_end != path.end();
}

std::string read_snippet_text(const fs::path& file) {
    const std::string bytes = read_bytes(file);
    check_utf8(bytes);
    return with_unix_newlines(bytes);
}

}  // namespace snippets
