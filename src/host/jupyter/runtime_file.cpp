#include "host/jupyter/runtime_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/json_io/json_text.hpp"

namespace host {

RuntimeFile::RuntimeFile(const std::filesystem::path& runtime_dir,
                         const boost::json::object& info) {
    std::filesystem::create_directories(runtime_dir);
    path_ = runtime_dir / ("jpserver-" + std::to_string(::getpid()) + ".json");
    const auto temporary = path_.string() + ".tmp";
    const std::string text = json_io::to_json_text(info);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = fd >= 0 &&
                   ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                   ::fsync(fd) == 0;
    const std::string reason = std::strerror(errno);
    if (fd >= 0) written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path_.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw std::runtime_error("Cannot write the runtime file " + path_.string() + ": " + reason);
    }
}

RuntimeFile::~RuntimeFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

}  // namespace host
