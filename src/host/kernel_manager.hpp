#pragma once
// The notebook server's running kernels: either the connection files kernel-<id>.json in the
// runtime directory, or the kernels a notebook server lists at GET /api/kernels.

#include <boost/json/array.hpp>
#include <filesystem>
#include <string>

namespace host {

class KernelManager {
public:
    // Lists the kernels from connection files in runtime_dir.
    explicit KernelManager(std::filesystem::path runtime_dir);
    // Lists the kernels of the notebook server at jupyter_url (http://host:port/base/).
    KernelManager(std::string jupyter_url, std::string jupyter_token);

    // Each kernel as an object whose "id" is its kernel id. Fails (std::runtime_error) when the
    // notebook server cannot be reached or answers with an error.
    boost::json::array list_kernels() const;

private:
    std::filesystem::path runtime_dir_;
    std::string jupyter_url_;
    std::string jupyter_token_;
};

}  // namespace host
