#pragma once
// The Veyra account the server works for: its login settings, the file they persist in, the
// timeouts of its platform requests and the turn its operations take. One per server, owned
// by the extension and lent to the Veyra handlers.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>

#include "veyra/client/platform_http.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace veyra::client {

class Account {
public:
    // Loads the settings kept in `file` (empty: default_settings_file()); see
    // read_settings_file for a missing or damaged file.
    explicit Account(const std::filesystem::path& file);
    Account(const Account&) = delete;
    Account& operator=(const Account&) = delete;

    // Read and written by the operation that holds the turn (a PlatformSession).
    Settings settings;

    // Writes the settings to the account's file.
    void save() const;
    const std::filesystem::path& file() const { return file_; }

    // The timeouts of every later request.
    Timeouts timeouts() const;
    void set_timeouts(Timeouts timeouts);

private:
    friend class PlatformSession;

    std::filesystem::path file_;
    // Operations share the address, tokens and selections, so they run one at a time.
    std::mutex turn_;
    std::atomic<std::chrono::milliseconds::rep> connect_timeout_ms_;
    std::atomic<std::chrono::milliseconds::rep> total_timeout_ms_;
};

}  // namespace veyra::client
