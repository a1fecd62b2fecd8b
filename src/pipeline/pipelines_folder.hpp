#pragma once
// The folder the kernels keep their pipelines' caches in: <temporary folder>/pipelines. The
// temporary folder usually sits where every user of the machine writes (/tmp/nuvex-link), so
// both folders are used only when they are this user's own (base::open_private_folder):
// another user's folder, or a link planted in its place, would let the clean-up delete or the
// cache size read the files the link points to.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/files/file_descriptor.hpp"

namespace pipeline {

// The temporary folder or its pipelines folder is not used; the text names the folder and
// why, for the client's answer and the log.
class PipelinesFolderRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class PipelinesFolder {
public:
    // Opens <temp_directory>/pipelines, making both folders (0700) when missing. A refusal
    // throws PipelinesFolderRefused; the first one in the process is also logged.
    explicit PipelinesFolder(const std::filesystem::path& temp_directory);

    const std::filesystem::path& path() const { return path_; }
    // The open folder, as checked.
    int descriptor() const { return folder_.get(); }

private:
    std::filesystem::path path_;
    base::FileDescriptor folder_;
};

// Removes the cache folders of dropped pipelines that lie strictly below the pipelines folder,
// walking down from it without following any link (base::remove_below); others are left
// alone, and a removal that fails is logged. The folder is opened only when there is
// something to remove: when it cannot be used, PipelinesFolderRefused is thrown and nothing is
// removed.
void remove_pipeline_caches(const std::filesystem::path& temp_directory,
                            const std::vector<std::string>& diskcache_dirs);

// Opens the folders once at start, so that a refusal is in the log before any request needs
// them.
void check_pipelines_folder(const std::filesystem::path& temp_directory);

}  // namespace pipeline
