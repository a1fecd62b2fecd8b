#pragma once
// The server's log: one line per entry on standard error, below a level threshold.

#include <string_view>

namespace logging {

enum class LogLevel { debug, info, warning, error };

class Log {
public:
    void debug(std::string_view text) { write(LogLevel::debug, text); }
    void info(std::string_view text) { write(LogLevel::info, text); }
    void warning(std::string_view text) { write(LogLevel::warning, text); }
    void error(std::string_view text) { write(LogLevel::error, text); }
    void write(LogLevel level, std::string_view text);

    void set_level(LogLevel level) { level_ = level; }
    bool enabled(LogLevel level) const { return level >= level_; }

private:
    LogLevel level_ = LogLevel::info;
};

// The process-wide log the handlers and the host write to.
Log& server_log();
// "debug", "info", "warning" or "error"; anything else fails with a text naming it.
LogLevel parse_log_level(std::string_view name);

}  // namespace logging
