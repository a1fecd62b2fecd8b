#pragma once
// The runtime file jpserver-<pid>.json that tells local tools where this server listens. It is
// written (mode 0600) when the server starts and removed when it stops.

#include <boost/json/object.hpp>
#include <filesystem>

namespace host {

class RuntimeFile {
public:
    RuntimeFile(const std::filesystem::path& runtime_dir, const boost::json::object& info);
    ~RuntimeFile();
    RuntimeFile(const RuntimeFile&) = delete;
    RuntimeFile& operator=(const RuntimeFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace host
