#pragma once
// The pipeline page and the static files it loads, read from the web folder.

#include "host/api_handler.hpp"

namespace page {

// The page itself (index.html), served with the policy that keeps it to this server. It holds
// no user data and loads without the token, so a reload works once the token has left the
// address: the page keeps it for the tab and sends it with every request for data.
class PipelinePageHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;
    void get(const host::PathArgs& path_args) override;
};

// static/<file>: scripts, styles and icons, which hold no user data. Only plain file names
// of the known kinds are served; anything else is 404.
class PipelinePageFileHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;
    void get(const host::PathArgs& path_args) override;
};

}  // namespace page
