#pragma once
// Settings of the extension's snippet feature and pipeline page, set once at start.

#include <chrono>
#include <cstddef>
#include <filesystem>

namespace page {

struct Settings {
    std::filesystem::path snippets_dir;
    // The pipeline page: index.html and its static/ files.
    std::filesystem::path web_dir;
    // What one layout of a pipeline's picture may take before the page lists the components
    // instead: the notebook shapes take well under a second at 2,000 components.
    std::chrono::milliseconds layout_cpu_time{2000};
    std::size_t layout_memory_bytes = std::size_t{256} << 20;
};

// The process's settings; snippets_dir and web_dir default to the installed folders (or the
// source tree's when the server runs from its build folder).
Settings& get_settings();

}  // namespace page
