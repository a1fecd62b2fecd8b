#pragma once
// Settings of the extension's snippet feature and pipeline page, set once at start.

#include <filesystem>

namespace page {

struct Settings {
    std::filesystem::path snippets_dir;
    // The pipeline page: index.html and its static/ files.
    std::filesystem::path web_dir;
};

// The process's settings; snippets_dir and web_dir default to the installed folders (or the
// source tree's when the server runs from its build folder).
Settings& get_settings();

}  // namespace page
