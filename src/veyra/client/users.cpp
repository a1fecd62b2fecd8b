#include "veyra/client/users.hpp"

#include <boost/json/value.hpp>
#include <exception>
#include <stdexcept>
#include <string>

#include "veyra/client/errors.hpp"
#include "veyra/client/platform_http.hpp"
#include "veyra/client/platform_session.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace veyra::client {
namespace {

struct PlatformAddress {
    std::string protocol;
    std::string server_url;
};

PlatformAddress split_address(std::string_view veyra_url) {
    PlatformAddress address{"https", std::string(veyra_url)};
    if (size_t scheme_end = veyra_url.find("://"); scheme_end != std::string_view::npos) {
        address.protocol = std::string(veyra_url.substr(0, scheme_end));
        address.server_url = std::string(veyra_url.substr(scheme_end + 3));
    }
    while (!address.server_url.empty() && address.server_url.back() == '/') {
        address.server_url.pop_back();
    }
    if (address.server_url.empty()) {
        throw ConnectionError("The Veyra URL \"" + std::string(veyra_url) + "\" has no host.");
    }
    return address;
}

boost::json::value text_or_null(std::optional<std::string_view> text) {
    if (text) return boost::json::string(*text);
    return nullptr;
}

std::optional<std::string> optional_text(const boost::json::object& object, std::string_view key) {
    const boost::json::value* value = object.if_contains(key);
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return std::string(value->as_string());
}

void clear_login() {
    Settings& settings = veyra_settings();
    settings.TOKEN.reset();
    settings.VEYRA_SDK_TOKEN.reset();
    settings.VEYRA_WORKSPACE_ID.reset();
    settings.VEYRA_PROJECT_ID.reset();
    settings.VEYRA_MODEL_REGISTRY_ID.reset();
}

}  // namespace

TokenInfo login(std::optional<std::string_view> veyra_url, std::optional<std::string_view> email,
                std::optional<std::string_view> password) {
    if (!veyra_url || veyra_url->empty()) throw ConnectionError("No Veyra URL was given.");
    PlatformAddress address = split_address(*veyra_url);

    boost::json::value credentials = {{"email", text_or_null(email)},
                                      {"password", text_or_null(password)}};
    std::string url = address.protocol + "://" + address.server_url + "/v1/auth/login";
    TokenInfo token_info{{expect_object(
        send_platform_request({"POST", url, std::nullopt, &credentials}), "the login")}};

    // Either token will do: later calls send TOKEN when it is set, else the SDK token.
    std::optional<std::string> token = optional_text(token_info.kwargs, "token");
    std::optional<std::string> sdk_token = optional_text(token_info.kwargs, "sdk_token");
    if ((!token || token->empty()) && (!sdk_token || sdk_token->empty())) {
        throw std::runtime_error(
            "Veyra's answer to the login holds neither a \"token\" nor an \"sdk_token\".");
    }
    Settings& settings = veyra_settings();
    clear_login();
    settings.VEYRA_API_SERVER_URL = address.server_url;
    settings.VEYRA_API_PROTOCOL = address.protocol;
    settings.TOKEN = std::move(token);
    settings.VEYRA_SDK_TOKEN = std::move(sdk_token);
    save_settings();
    return token_info;
}

void logout() {
    std::exception_ptr failure;
    if (has_login()) {
        try {
            call_platform("POST", "/v1/auth/logout");
        } catch (...) {
            failure = std::current_exception();
        }
    }
    clear_login();
    save_settings();
    if (failure) std::rethrow_exception(failure);
}

UserInfo get_user_profile() {
    return UserInfo{{expect_object(call_platform("GET", "/v1/users/me"), "the user profile")}};
}

}  // namespace veyra::client
