#pragma once
// A fresh folder under /tmp that is removed with everything in it when the object goes.

#include <filesystem>
#include <string_view>

namespace test_support {

class TempDir {
public:
    explicit TempDir(std::string_view prefix = "nuvex-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes text to a file, making its folders.
void write_file(const std::filesystem::path& path, std::string_view text);
std::string read_file(const std::filesystem::path& path);

}  // namespace test_support
