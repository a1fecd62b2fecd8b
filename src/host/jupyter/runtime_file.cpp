#include "host/jupyter/runtime_file.hpp"

#include <unistd.h>

#include <stdexcept>
#include <system_error>

#include "base/files/private_file.hpp"
#include "base/files/private_folder.hpp"
#include "base/json_io/json_text.hpp"

namespace host {

RuntimeFile::RuntimeFile(const std::filesystem::path& runtime_dir, const boost::json::object& info)
    : path_(runtime_dir / ("jpserver-" + std::to_string(::getpid()) + ".json")) {
    try {
        // The record holds the token: a folder made here is the user's alone, and the file is
        // never one that someone else put in its place.
        base::create_private_folders(runtime_dir);
        base::write_private_file(path_, json_io::to_json_text(info));
    } catch (const std::system_error& failure) {
        throw std::runtime_error("Cannot write the runtime file " + path_.string() + ": " +
                                 failure.what());
    }
}

RuntimeFile::~RuntimeFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

}  // namespace host
