#pragma once
// The worker that packs a pipeline's cache into one gzip-compressed tar archive on its own
// thread, while the export handler polls the archive's size to report progress.

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cache {

// One file stored under its name in the archive.
struct PipelineInfo {
    std::filesystem::path filepath;
    std::string arcname;
};

// One folder tree stored below its name in the archive.
struct CacheInfo {
    std::filesystem::path dirpath;
    std::string arcname;
};

class CacheCompressThread {
public:
    CacheCompressThread(std::filesystem::path tarfile_path, PipelineInfo pipeline_info,
                        std::vector<CacheInfo> cache_info);
    // Stops and joins a worker that is still running.
    ~CacheCompressThread();
    CacheCompressThread(const CacheCompressThread&) = delete;
    CacheCompressThread& operator=(const CacheCompressThread&) = delete;

    // Creates the archive file at once and fills it: the pipeline file, then each folder with
    // its regular files, subfolders and symbolic links (kept as links). Other kinds of entry
    // (sockets, pipes, devices) carry no cache data and are left out. `on_stopped`, when
    // given, is called on the worker's thread once it has ended.
    void start(std::function<void()> on_stopped = {});
    // Asks the worker to end early; the archive is then incomplete.
    void stop();
    // True once the worker has ended, whether it finished, failed or was stopped.
    bool is_stopped() const;
    void join();
    // After the worker has ended: why the archive is not complete (a folder that vanished or
    // cannot be read, a full disk, a stop), or nullopt when it is.
    std::optional<std::string> failure() const;

private:
    void run();
    void write_archive();

    std::filesystem::path tarfile_path_;
    PipelineInfo pipeline_info_;
    std::vector<CacheInfo> cache_info_;

    std::atomic<bool> stop_requested_{false};
    mutable std::mutex mutex_;
    std::function<void()> on_stopped_;
    bool stopped_ = false;
    std::optional<std::string> failure_;
    std::thread thread_;
};

}  // namespace cache
