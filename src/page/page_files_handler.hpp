#pragma once
// The pipeline page and the static files it loads, read from the web folder.

#include <cstdint>
#include <filesystem>

#include "host/api_handler.hpp"

namespace page {

// The page itself (index.html), served with the policy that keeps it to this server. It holds
// no user data and loads without the token, so a reload works once the token has left the
// address: the page keeps it for the tab and sends it with every request for data.
class PipelinePageHandler : public host::PlainHandler {
public:
    // web_dir: the page's folder, index.html and its static/ files. host_pid: the notebook
    // server server info describes; another process than this one when the page runs inside it.
    PipelinePageHandler(host::Exchange& exchange, const std::filesystem::path& web_dir,
                        const std::int64_t& host_pid)
        : PlainHandler(exchange), web_dir_(web_dir), host_pid_(host_pid) {}
    void get(const host::PathArgs& path_args) override;

private:
    const std::filesystem::path& web_dir_;
    const std::int64_t& host_pid_;
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
