#pragma once
// Reads a gzip-compressed tar archive back with libarchive, entry by entry.

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

struct ArchivedEntry {
    std::string name;
    char kind;  // 'f' file, 'd' folder, 'l' symbolic link
    std::string data;
    std::string link_target;
};

// The entries of the archive held in bytes, in archive order; a damaged archive fails the test.
inline std::vector<ArchivedEntry> read_archive(std::string_view bytes) {
    std::unique_ptr<archive, int (*)(archive*)> reader(archive_read_new(), archive_read_free);
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_format_tar(reader.get());
    std::vector<ArchivedEntry> entries;
    if (archive_read_open_memory(reader.get(), bytes.data(), bytes.size()) != ARCHIVE_OK) {
        ADD_FAILURE() << archive_error_string(reader.get());
        return entries;
    }
    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        ArchivedEntry item;
        item.name = archive_entry_pathname(entry);
        auto type = archive_entry_filetype(entry);
        item.kind = type == AE_IFDIR ? 'd' : type == AE_IFLNK ? 'l' : type == AE_IFREG ? 'f' : '?';
        if (item.kind == 'l') item.link_target = archive_entry_symlink(entry);
        char buffer[65536];
        la_ssize_t got;
        while ((got = archive_read_data(reader.get(), buffer, sizeof buffer)) > 0) {
            item.data.append(buffer, static_cast<std::size_t>(got));
        }
        if (got < 0) ADD_FAILURE() << archive_error_string(reader.get());
        entries.push_back(std::move(item));
    }
    if (status != ARCHIVE_EOF) ADD_FAILURE() << archive_error_string(reader.get());
    return entries;
}

inline const ArchivedEntry* find_entry(const std::vector<ArchivedEntry>& entries,
                                       std::string_view name) {
    for (const auto& entry : entries) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

}  // namespace test_support
