#pragma once
// The status texts a component carries; compared with the texts by equality.

#include <string_view>

namespace pipeline {

struct NuvexLinkComponentStatus {
    static constexpr std::string_view WAITING = "waiting";
    static constexpr std::string_view RUNNING = "running";
    static constexpr std::string_view SUCCESSFUL = "successful";
    static constexpr std::string_view FAILED = "failed";
    static constexpr std::string_view CANCELLED = "cancelled";
};

struct NuvexLinkDiskcacheStatus {
    static constexpr std::string_view NOT_CACHED = "not_cached";
    static constexpr std::string_view CACHING = "caching";
    static constexpr std::string_view CACHED = "cached";
};

}  // namespace pipeline
