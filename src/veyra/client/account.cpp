#include "veyra/client/account.hpp"

namespace veyra::client {

Account::Account(const std::filesystem::path& file)
    : file_(file.empty() ? default_settings_file() : file),
      connect_timeout_ms_(Timeouts{}.connect.count()),
      total_timeout_ms_(Timeouts{}.total.count()) {
    settings = read_settings_file(file_);
}

void Account::save() const { write_settings_file(settings, file_); }

Timeouts Account::timeouts() const {
    return {std::chrono::milliseconds(connect_timeout_ms_),
            std::chrono::milliseconds(total_timeout_ms_)};
}

void Account::set_timeouts(Timeouts timeouts) {
    connect_timeout_ms_ = timeouts.connect.count();
    total_timeout_ms_ = timeouts.total.count();
}

}  // namespace veyra::client
