#pragma once
// The notebook server's running kernels: either the connection files kernel-<id>.json in the
// runtime directory, or the kernels a notebook server lists at GET /api/kernels.

#include <atomic>
#include <boost/json/array.hpp>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/files/folder_watch.hpp"

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
    // The same kernels' ids, sorted. Fails as list_kernels does.
    using KernelIds = std::shared_ptr<const std::vector<std::string>>;
    KernelIds running_kernel_ids() const;
    // Looks whether connection files came or went (one system call), for
    // running_kernel_ids_as_noticed(). Nothing to do when a notebook server lists the kernels.
    void notice_changes() const;
    // running_kernel_ids() from the runtime folder without looking at it: the listing read again
    // only if a look saw a change. Right for a request when notice_changes() was called after it
    // arrived: a kernel's connection file is there before the kernel's requests are sent.
    KernelIds running_kernel_ids_as_noticed() const;
    // True when the kernels come from a notebook server: listing them then waits on the network.
    bool lists_from_server() const { return !jupyter_url_.empty(); }

private:
    std::filesystem::path runtime_dir_;
    std::string jupyter_url_;
    std::string jupyter_token_;
    // The last listing of the runtime folder, kept until a look at the folder sees a name come
    // into it or leave it. Looks and listings have locks of their own, so that a look (a system
    // call) never holds back a reader of the listing.
    mutable std::mutex watch_mutex_;
    mutable base::FolderWatch runtime_watch_;
    mutable std::atomic<bool> changed_{true};
    mutable std::mutex listing_mutex_;
    mutable KernelIds listing_;
};

}  // namespace host
