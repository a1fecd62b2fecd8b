#include "pipeline/pipelines_folder.hpp"

#include <fcntl.h>

#include <atomic>
#include <optional>

#include "base/files/private_folder.hpp"
#include "base/files/remove_below.hpp"
#include "base/logging/log.hpp"

namespace pipeline {
namespace {

std::atomic_flag refusal_logged;

[[noreturn]] void refuse(const std::filesystem::path& folder, const base::FolderRefused& refused) {
    const std::string text =
        "The temporary folder " + folder.string() + " is not used: " + refused.what();
    if (!refusal_logged.test_and_set()) logging::server_log().warning(text);
    throw PipelinesFolderRefused(text);
}

// The part of `target` below `root`, compared as written ("." and ".." resolved by name, no
// link followed); nothing when it is not strictly below.
std::optional<std::filesystem::path> below(const std::filesystem::path& root,
                                           const std::filesystem::path& target) {
    const auto relative = target.lexically_normal().lexically_relative(root.lexically_normal());
    if (relative.empty() || relative == "." || *relative.begin() == "..") return std::nullopt;
    return relative;
}

}  // namespace

PipelinesFolder::PipelinesFolder(const std::filesystem::path& temp_directory)
    : temp_directory_(temp_directory), path_(temp_directory / "pipelines") {
    base::FileDescriptor temp;
    try {
        temp = base::open_private_folder(AT_FDCWD, temp_directory_);
    } catch (const base::FolderRefused& refused) {
        refuse(temp_directory_, refused);
    }
    try {
        folder_ = base::open_private_folder(temp.get(), "pipelines");
    } catch (const base::FolderRefused& refused) {
        refuse(path_, refused);
    }
}

void PipelinesFolder::remove_cache(std::string_view diskcache_dir) const {
    const auto target = std::filesystem::absolute(std::filesystem::path(diskcache_dir));
    auto relative = below(path_, target);
    if (!relative) {
        // The kernel may spell the temporary folder through the links above it (a linked
        // $TMPDIR or home); the folder itself was checked not to be a link.
        std::error_code error;
        const auto resolved = std::filesystem::weakly_canonical(temp_directory_, error);
        if (!error) relative = below(resolved / "pipelines", target);
    }
    if (!relative) return;
    try {
        base::remove_below(folder_.get(), *relative);
    } catch (const std::exception& failure) {
        logging::server_log().warning("Cache folder " + target.string() +
                                      " not removed: " + failure.what());
    }
}

void remove_pipeline_caches(const std::filesystem::path& temp_directory,
                            const std::vector<std::string>& diskcache_dirs) {
    if (diskcache_dirs.empty()) return;
    const PipelinesFolder folder(temp_directory);
    for (const auto& diskcache_dir : diskcache_dirs) folder.remove_cache(diskcache_dir);
}

void check_pipelines_folder(const std::filesystem::path& temp_directory) {
    try {
        PipelinesFolder folder(temp_directory);
    } catch (const PipelinesFolderRefused&) {
        // Logged by the refusal; requests that need the folder answer it.
    }
}

}  // namespace pipeline
