#pragma once
// A gzip file written by several threads at once, as pigz does: the input is cut into blocks
// that a small pool compresses independently, and the blocks are written in input order, each
// as one gzip member. A series of members is one valid gzip file (RFC 1952) that gzip, tar and
// libarchive read as a whole.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct libdeflate_compressor;

namespace cache {

class ParallelGzipWriter {
public:
    static constexpr std::size_t default_block_size = 1 << 20;
    // gzip's own default: the ratio of `gzip -6`, at several times its speed.
    static constexpr int default_level = 6;

    // Writes to fd, which stays the caller's. threads 0 means one per core.
    explicit ParallelGzipWriter(int fd, unsigned threads = 0, int level = default_level,
                                std::size_t block_size = default_block_size);
    ~ParallelGzipWriter();
    ParallelGzipWriter(const ParallelGzipWriter&) = delete;
    ParallelGzipWriter& operator=(const ParallelGzipWriter&) = delete;

    // Both fail (std::runtime_error) when the file cannot be written, e.g. a full disk.
    void write(const void* data, std::size_t size);
    // Compresses and writes what is left; the file is complete when it returns.
    void finish();

private:
    struct Block {
        std::vector<std::uint8_t> input;
        // Not a vector: its resize would clear a megabyte per block for nothing.
        std::unique_ptr<std::uint8_t[]> output;
        std::size_t output_capacity = 0;
        std::size_t output_size = 0;
        bool compressed = false;
    };

    void submit_current();
    void write_oldest(std::unique_lock<std::mutex>& lock);
    void compress_blocks(libdeflate_compressor* compressor);

    int fd_;
    std::size_t block_size_;
    std::size_t max_in_flight_;
    std::unique_ptr<Block> current_;

    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable block_done_;
    std::deque<std::unique_ptr<Block>> in_flight_;  // input order
    std::deque<Block*> to_compress_;
    std::vector<std::unique_ptr<Block>> spare_;  // reused, so that memory stays flat
    bool closing_ = false;
    std::vector<std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>>
        compressors_;
    std::vector<std::thread> workers_;
};

}  // namespace cache
