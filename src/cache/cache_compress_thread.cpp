#include "cache/cache_compress_thread.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "cache/parallel_gzip_writer.hpp"

namespace cache {
namespace {

constexpr std::size_t read_buffer_size = 1 << 20;

class Stopped : public std::runtime_error {
public:
    Stopped()
        : std::runtime_error("The cache export was stopped before the archive was complete.") {}
};

[[noreturn]] void fail(std::string_view what, const std::filesystem::path& path, int error) {
    throw std::runtime_error(std::string(what) + " '" + path.string() +
                             "': " + std::strerror(error));
}

// Owns an open file descriptor.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, so that a failed close (e.g. quota on a network disk) is reported.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

int create_archive_file(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("Cannot create the archive", path, errno);
    return fd;
}

// A tar stream (GNU format, like `tar -c`) written by libarchive into a parallel gzip file.
class TarGzWriter {
public:
    TarGzWriter(const std::filesystem::path& tarfile_path, const std::atomic<bool>& stop_requested)
        : file_(create_archive_file(tarfile_path)),
          tarfile_path_(tarfile_path),
          stop_requested_(stop_requested),
          archive_(archive_write_new(), archive_write_free),
          buffer_(std::make_unique_for_overwrite<char[]>(read_buffer_size)) {
        gzip_.emplace(file_.get());
        if (!archive_ || archive_write_set_format_gnutar(archive_.get()) != ARCHIVE_OK ||
            archive_write_add_filter_none(archive_.get()) != ARCHIVE_OK ||
            archive_write_open2(archive_.get(), this, nullptr, &TarGzWriter::write_callback,
                                nullptr, nullptr) != ARCHIVE_OK) {
            throw_archive_error();
        }
    }

    // Adds path under arcname, and a folder's whole tree below it.
    void add(const std::filesystem::path& path, const std::string& arcname) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) fail("Cannot read", path, errno);
        if (S_ISDIR(info.st_mode)) {
            write_header(arcname, info, nullptr);
            add_folder_entries(path, arcname);
        } else if (S_ISREG(info.st_mode)) {
            add_file(path, arcname, info);
        } else if (S_ISLNK(info.st_mode)) {
            add_link(path, arcname, info);
        }
    }

    void close() {
        if (archive_write_close(archive_.get()) != ARCHIVE_OK) throw_archive_error();
        gzip_->finish();
        gzip_.reset();
        if (file_.close() != 0) fail("Cannot write the archive", tarfile_path_, errno);
    }

private:
    void add_folder_entries(const std::filesystem::path& folder, const std::string& arcname) {
        std::vector<std::string> names;
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            names.push_back(it->path().filename().string());
        }
        if (error) fail("Cannot read", folder, error.value());
        // Sorted, so that the same cache always gives the same archive.
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::string child = arcname;
            child += '/';
            child += name;
            add(folder / name, child);
        }
    }

    void add_file(const std::filesystem::path& path, const std::string& arcname,
                  const struct stat& info) {
        FileDescriptor input(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (input.get() < 0) fail("Cannot read", path, errno);
        posix_fadvise(input.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        write_header(arcname, info, nullptr);
        // The header promised st_size bytes: a file that grew is cut there, one that shrank is
        // padded with zeros by libarchive.
        auto left = static_cast<std::uintmax_t>(info.st_size);
        while (left > 0) {
            if (stop_requested_) throw Stopped();
            ssize_t got =
                ::read(input.get(), buffer_.get(),
                       static_cast<std::size_t>(std::min<std::uintmax_t>(left, read_buffer_size)));
            if (got < 0) {
                if (errno == EINTR) continue;
                fail("Cannot read", path, errno);
            }
            if (got == 0) break;
            if (archive_write_data(archive_.get(), buffer_.get(), static_cast<std::size_t>(got)) <
                0) {
                throw_archive_error();
            }
            left -= static_cast<std::uintmax_t>(got);
        }
    }

    void add_link(const std::filesystem::path& path, const std::string& arcname,
                  const struct stat& info) {
        std::error_code error;
        std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) fail("Cannot read", path, error.value());
        write_header(arcname, info, target.c_str());
    }

    void write_header(const std::string& arcname, const struct stat& info, const char* link) {
        if (stop_requested_) throw Stopped();
        std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(),
                                                                       archive_entry_free);
        archive_entry_copy_stat(entry.get(), &info);
        archive_entry_copy_pathname(entry.get(), arcname.c_str());
        if (link != nullptr) {
            archive_entry_copy_symlink(entry.get(), link);
        }
        if (!S_ISREG(info.st_mode)) archive_entry_set_size(entry.get(), 0);
        if (archive_write_header(archive_.get(), entry.get()) < ARCHIVE_WARN) {
            throw_archive_error();
        }
    }

    [[noreturn]] void throw_archive_error() {
        if (!write_failure_.empty()) throw std::runtime_error(write_failure_);
        const char* text = archive_ ? archive_error_string(archive_.get()) : nullptr;
        throw std::runtime_error(std::string("Cannot write the archive: ") +
                                 (text != nullptr ? text : "libarchive failed"));
    }

    static la_ssize_t write_callback(archive*, void* self_pointer, const void* data,
                                     std::size_t size) {
        auto* self = static_cast<TarGzWriter*>(self_pointer);
        try {
            self->gzip_->write(data, size);
            return static_cast<la_ssize_t>(size);
        } catch (const std::exception& failure) {
            // libarchive only sees -1; the text is kept for the failure report.
            self->write_failure_ = failure.what();
            return -1;
        }
    }

    FileDescriptor file_;
    std::filesystem::path tarfile_path_;
    const std::atomic<bool>& stop_requested_;
    std::optional<ParallelGzipWriter> gzip_;
    std::unique_ptr<archive, int (*)(archive*)> archive_;
    std::unique_ptr<char[]> buffer_;
    std::string write_failure_;
};

}  // namespace

CacheCompressThread::CacheCompressThread(std::filesystem::path tarfile_path,
                                         PipelineInfo pipeline_info,
                                         std::vector<CacheInfo> cache_info)
    : tarfile_path_(std::move(tarfile_path)),
      pipeline_info_(std::move(pipeline_info)),
      cache_info_(std::move(cache_info)) {}

CacheCompressThread::~CacheCompressThread() {
    stop();
    join();
}

void CacheCompressThread::start(std::function<void()> on_stopped) {
    on_stopped_ = std::move(on_stopped);
    thread_ = std::thread([this] { run(); });
}

void CacheCompressThread::stop() { stop_requested_ = true; }

bool CacheCompressThread::is_stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

void CacheCompressThread::join() {
    if (thread_.joinable()) thread_.join();
}

std::optional<std::string> CacheCompressThread::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

void CacheCompressThread::run() {
    std::optional<std::string> failure;
    try {
        write_archive();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    {
        std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
        stopped_ = true;
    }
    if (on_stopped_) on_stopped_();
}

void CacheCompressThread::write_archive() {
    TarGzWriter writer(tarfile_path_, stop_requested_);
    writer.add(pipeline_info_.filepath, pipeline_info_.arcname);
    for (const CacheInfo& folder : cache_info_) writer.add(folder.dirpath, folder.arcname);
    writer.close();
}

}  // namespace cache
