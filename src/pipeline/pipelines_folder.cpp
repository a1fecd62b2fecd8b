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

// Where a pipeline's cache folder lies below <temp_directory>/pipelines, if it does.
std::optional<std::filesystem::path> below_pipelines(const std::filesystem::path& temp_directory,
                                                     const std::filesystem::path& target) {
    if (auto relative = below(temp_directory / "pipelines", target)) return relative;
    // The kernel may spell the temporary folder through the links above it (a linked $TMPDIR
    // or home); the folder itself is checked not to be a link when it is opened.
    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical(temp_directory, error);
    if (error) return std::nullopt;
    return below(resolved / "pipelines", target);
}

}  // namespace

PipelinesFolder::PipelinesFolder(const std::filesystem::path& temp_directory)
    : path_(temp_directory / "pipelines") {
    base::FileDescriptor temp;
    try {
        temp = base::open_private_folder(AT_FDCWD, temp_directory);
    } catch (const base::FolderRefused& refused) {
        refuse(temp_directory, refused);
    }
    try {
        folder_ = base::open_private_folder(temp.get(), "pipelines");
    } catch (const base::FolderRefused& refused) {
        refuse(path_, refused);
    }
}

void remove_pipeline_caches(const std::filesystem::path& temp_directory,
                            const std::vector<std::string>& diskcache_dirs) {
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> inside;
    for (const auto& diskcache_dir : diskcache_dirs) {
        std::error_code error;  // "" is no folder at all
        auto target = std::filesystem::absolute(diskcache_dir, error);
        if (error) continue;
        if (auto relative = below_pipelines(temp_directory, target)) {
            inside.emplace_back(std::move(target), std::move(*relative));
        }
    }
    if (inside.empty()) return;
    const PipelinesFolder folder(temp_directory);
    for (const auto& [target, relative] : inside) {
        try {
            base::remove_below(folder.descriptor(), relative);
        } catch (const std::exception& failure) {
            logging::server_log().warning("Cache folder " + target.string() +
                                          " not removed: " + failure.what());
        }
    }
}

void check_pipelines_folder(const std::filesystem::path& temp_directory) {
    try {
        PipelinesFolder folder(temp_directory);
    } catch (const PipelinesFolderRefused&) {
        // Logged by the refusal; requests that need the folder answer it.
    }
}

}  // namespace pipeline
