#pragma once
// The size of one component's cache folder, for the component's details on the page: walking
// one folder when a component is opened, not every folder of a large pipeline up front.

#include <optional>
#include <string>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"

namespace page {

class ComponentCacheSizeHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // {"identifier", "cache_bytes"}: null bytes when the component has no cache folder or it
    // cannot be read; 404 for an unknown kernel or component.
    void get(const host::PathArgs& path_args) override;

private:
    host::Task _answer(std::string identifier, std::string cache_dir);
};

}  // namespace page
