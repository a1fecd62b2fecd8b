#pragma once
// The pipeline page and the static files it loads, read from the web folder.

#include <filesystem>

#include "host/api_handler.hpp"

namespace page {

// The page itself (index.html), served with the policy that keeps it to this server.
class PipelinePageHandler : public host::PlainHandler {
public:
    // web_dir: the page's folder, index.html and its static/ files.
    PipelinePageHandler(host::Exchange& exchange, const std::filesystem::path& web_dir)
        : PlainHandler(exchange), web_dir_(web_dir) {}
    void get(const host::PathArgs& path_args) override;

private:
    const std::filesystem::path& web_dir_;
};

// static/<file>: scripts, styles and icons, which hold no user data. Only plain file names
// of the known kinds are served; anything else is 404.
class PipelinePageFileHandler : public host::PlainHandler {
public:
    PipelinePageFileHandler(host::Exchange& exchange, const std::filesystem::path& web_dir)
        : PlainHandler(exchange), web_dir_(web_dir) {}
    void get(const host::PathArgs& path_args) override;

private:
    const std::filesystem::path& web_dir_;
};

}  // namespace page
