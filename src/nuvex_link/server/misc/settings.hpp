#pragma once
// Settings of the extension's snippet feature, set once at start.

#include <filesystem>

namespace nuvex_link::server::misc {

struct Settings {
    std::filesystem::path snippets_dir;
};

// The process's settings; snippets_dir defaults to the installed snippets folder (or the
// source tree's when the server runs from its build folder).
Settings& get_settings();

}  // namespace nuvex_link::server::misc
