#pragma once
// Logging in to and out of the platform, and the logged-in user's profile.

#include <optional>
#include <string_view>

#include "veyra/client/records.hpp"

namespace veyra::client {

// Logs in at `veyra_url` ("http://host:port"; without a scheme https is meant). On success
// the settings hold the address, its scheme and both tokens, and no workspace, project or
// registry yet. An empty or absent address fails with ConnectionError.
TokenInfo login(std::optional<std::string_view> veyra_url, std::optional<std::string_view> email,
                std::optional<std::string_view> password);

// Ends the login at the platform (when there is one to end). The tokens and ids are cleared from
// memory and from the settings file even when the platform refuses or cannot be reached (the
// failure is still raised), so a stale token never outlives the user's wish to log out.
void logout();

UserInfo get_user_profile();

}  // namespace veyra::client
