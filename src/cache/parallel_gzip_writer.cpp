#include "cache/parallel_gzip_writer.hpp"

#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace cache {
namespace {

void write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            int error = errno;
            if (error == EINTR) continue;
            throw std::runtime_error(std::string("Cannot write the archive: ") +
                                     std::strerror(error));
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

}  // namespace

ParallelGzipWriter::ParallelGzipWriter(int fd, unsigned threads, int level, std::size_t block_size)
    : fd_(fd), block_size_(block_size) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    // Two blocks per thread keep every thread busy while the oldest block is written.
    max_in_flight_ = 2 * static_cast<std::size_t>(threads);
    for (unsigned i = 0; i < threads; ++i) {
        compressors_.emplace_back(libdeflate_alloc_compressor(level), libdeflate_free_compressor);
        if (!compressors_.back()) throw std::runtime_error("Cannot set up gzip compression");
    }
    workers_.reserve(threads);
    for (auto& compressor : compressors_) {
        workers_.emplace_back([this, raw = compressor.get()] { compress_blocks(raw); });
    }
}

ParallelGzipWriter::~ParallelGzipWriter() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    work_ready_.notify_all();
    for (auto& worker : workers_) worker.join();
}

void ParallelGzipWriter::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        if (!current_) {
            std::unique_lock lock(mutex_);
            if (spare_.empty()) {
                current_ = std::make_unique<Block>();
            } else {
                current_ = std::move(spare_.back());
                spare_.pop_back();
            }
            lock.unlock();
            current_->input.clear();
            current_->input.reserve(block_size_);
        }
        std::size_t take = std::min(size, block_size_ - current_->input.size());
        current_->input.insert(current_->input.end(), bytes, bytes + take);
        bytes += take;
        size -= take;
        if (current_->input.size() == block_size_) submit_current();
    }
}

void ParallelGzipWriter::finish() {
    if (current_ && !current_->input.empty()) submit_current();
    std::unique_lock lock(mutex_);
    while (!in_flight_.empty()) write_oldest(lock);
}

void ParallelGzipWriter::submit_current() {
    std::unique_lock lock(mutex_);
    current_->compressed = false;
    to_compress_.push_back(current_.get());
    in_flight_.push_back(std::move(current_));
    work_ready_.notify_one();
    while (in_flight_.size() >= max_in_flight_) write_oldest(lock);
}

void ParallelGzipWriter::write_oldest(std::unique_lock<std::mutex>& lock) {
    block_done_.wait(lock, [this] { return in_flight_.front()->compressed; });
    std::unique_ptr<Block> block = std::move(in_flight_.front());
    in_flight_.pop_front();
    lock.unlock();
    try {
        write_all(fd_, block->output.get(), block->output_size);
    } catch (...) {
        lock.lock();
        throw;
    }
    lock.lock();
    spare_.push_back(std::move(block));
}

void ParallelGzipWriter::compress_blocks(libdeflate_compressor* compressor) {
    for (;;) {
        std::unique_lock lock(mutex_);
        work_ready_.wait(lock, [this] { return closing_ || !to_compress_.empty(); });
        if (closing_) return;
        Block* block = to_compress_.front();
        to_compress_.pop_front();
        lock.unlock();

        std::size_t bound = libdeflate_gzip_compress_bound(compressor, block->input.size());
        if (block->output_capacity < bound) {
            block->output = std::make_unique_for_overwrite<std::uint8_t[]>(bound);
            block->output_capacity = bound;
        }
        // Never 0: the bound leaves room for incompressible input.
        block->output_size =
            libdeflate_gzip_compress(compressor, block->input.data(), block->input.size(),
                                     block->output.get(), block->output_capacity);

        lock.lock();
        block->compressed = true;
        block_done_.notify_all();
    }
}

}  // namespace cache
