// Notebook paths in any shape: the stem is a folder-free part of the name, and the download
// header is one line of safe characters that decodes back to the name.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/uri/percent_coding.hpp"
#include "cache/download_name.hpp"
#include "fuzz_check.hpp"

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    const std::string stem = cache::notebook_stem(path);
    check(stem.find('/') == std::string::npos);
    check(path.find(stem) != std::string_view::npos);

    const std::string name = stem + "-diskcache.tar.gz";
    const std::string header = cache::attachment_disposition(name);
    constexpr std::string_view prefix = "attachment; filename=";
    check(header.starts_with(prefix));
    const std::string_view encoded = std::string_view(header).substr(prefix.size());
    for (char c : encoded) {
        check((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              std::string_view("-._~/%").find(c) != std::string_view::npos);
    }
    check(uri::percent_decode(encoded) == name);
    return 0;
}
