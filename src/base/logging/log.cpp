#include "base/logging/log.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <string>

namespace logging {
namespace {

constexpr const char* kLevelLetters[] = {"D", "I", "W", "E"};

}  // namespace

void Log::write(LogLevel level, std::string_view text) {
    if (!enabled(level)) return;
    static std::mutex mutex;
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::lock_guard lock(mutex);
    std::fprintf(stderr, "[%s %s NuvexLink] %.*s\n", kLevelLetters[static_cast<int>(level)], stamp,
                 static_cast<int>(text.size()), text.data());
}

Log& server_log() {
    static Log log;
    return log;
}

LogLevel parse_log_level(std::string_view name) {
    if (name == "debug") return LogLevel::debug;
    if (name == "info") return LogLevel::info;
    if (name == "warning") return LogLevel::warning;
    if (name == "error") return LogLevel::error;
    throw std::invalid_argument("unknown log level '" + std::string(name) +
                                "' (debug, info, warning or error)");
}

}  // namespace logging
