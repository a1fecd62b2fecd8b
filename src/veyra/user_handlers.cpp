#include "veyra/user_handlers.hpp"

#include <array>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/logging/log.hpp"
#include "host/json_answer.hpp"
#include "veyra/body_values.hpp"
#include "veyra/client/users.hpp"
#include "veyra/client/workspaces.hpp"
#include "veyra/platform_failure.hpp"

namespace veyra {
namespace {

namespace platform = veyra::client;

constexpr const char* kNotAuthorized =
    "The account you entered does not have proper authorization to access target Veyra system";

boost::json::object message_object(boost::json::value message) {
    return boost::json::object{{"message", std::move(message)}};
}

// The message a refused login answers with: 422 and the two credential codes of a 400 become
// one wording that does not tell which of email and password was wrong.
boost::json::value refused_login_message(const PlatformFailure& failure) {
    if (failure.status == host::HTTPStatus::UNPROCESSABLE_ENTITY)
        return "Email or password is invalid.";
    if (failure.status != host::HTTPStatus::BAD_REQUEST)
        return boost::json::string(failure.message);

    boost::json::value error_body = boost::json::parse(failure.body);
    if (!error_body.is_object()) {
        throw std::runtime_error("Veyra's error body is not a JSON object: " + failure.body);
    }
    const boost::json::object& error = error_body.as_object();
    const boost::json::value* code = error.if_contains("code");
    if (code != nullptr && code->is_string()) {
        if (*code == "NotFoundError.USER_NOT_FOUND" ||
            *code == "AuthenticationError.INVALID_USERNAME_OR_PASSWORD") {
            return "Email or password is invalid.";
        }
        if (*code == "ResourceError.API_TOKEN_LIMIT_EXCEEDED") {
            return "Allowed API token limit exceeded.";
        }
    }
    const boost::json::value* message = error.if_contains("message");
    return message != nullptr ? *message : boost::json::value(nullptr);
}

// Logout and info share their answers: a refused request with 400 or 422 means the stored
// token is no longer good.
boost::json::object token_failure_answer(const PlatformFailure& failure) {
    if (failure.kind == FailureKind::refused &&
        (failure.status == host::HTTPStatus::BAD_REQUEST ||
         failure.status == host::HTTPStatus::UNPROCESSABLE_ENTITY)) {
        return message_object("Veyra token is invalid.");
    }
    return message_object(boost::json::string(failure.message));
}

bool is_set(const std::optional<std::string>& setting) { return setting && !setting->empty(); }

boost::json::value setting_value(const std::optional<std::string>& setting) {
    if (setting) return boost::json::string(*setting);
    return nullptr;
}

}  // namespace

host::Task NuvexVeyraUserLoginHandler::post(const host::PathArgs&) {
    // Captured by reference: GCC 12 destroys what a temporary in a co_await expression owns twice.
    const boost::json::value body = get_json_body();
    const std::stop_token stop = stop_token();
    const VeyraAnswer answer = co_await run_veyra_operation(
        *this, account_, stop,
        [this, &body](platform::PlatformSession& session) { return log_in(session, body); });
    finish_with_json(*this, answer.first, answer.second);
}

VeyraAnswer NuvexVeyraUserLoginHandler::log_in(platform::PlatformSession& session,
                                               const boost::json::value& body) {
    const boost::json::object& fields = body_object(body);
    static constexpr std::array<const char*, 3> kKeys{"veyra_url", "email", "password"};
    std::array<std::optional<std::string>, 3> values;
    for (size_t i = 0; i < kKeys.size(); ++i) {
        const boost::json::value* value = fields.if_contains(kKeys[i]);
        if (value == nullptr) {
            return {host::HTTPStatus::BAD_REQUEST,
                    message_object(boost::json::string(required_in_body(kKeys[i])))};
        }
        values[i] = text_or_null(*value, kKeys[i]);
    }
    // Named references rather than a structured binding, which lambdas of clang 14 cannot see.
    const auto& veyra_url = values[0];
    const auto& email = values[1];
    const auto& password = values[2];

    platform::TokenInfo token_info;
    if (auto failure = run_platform_call(
            [&] { token_info = platform::login(session, veyra_url, email, password); })) {
        boost::json::value message = failure->kind == FailureKind::refused
                                         ? refused_login_message(*failure)
                                         : boost::json::string(failure->message);
        return {failure->status, message_object(std::move(message))};
    }

    // Only the first workspace decides; it is the one the login works in.
    std::vector<platform::WorkspaceInfo> workspaces = platform::get_joined_workspaces(session);
    if (workspaces.empty()) {
        log().debug("There is no workspace.");
        platform::logout(session);
        return {host::HTTPStatus::FORBIDDEN, message_object(kNotAuthorized)};
    }
    const boost::json::value* role = workspaces.front().fields.if_contains("workspace_role");
    bool admitted = role == nullptr ? false : (*role == "admin" || *role == "member");
    if (!admitted) {
        platform::logout(session);
        return {host::HTTPStatus::FORBIDDEN, message_object(kNotAuthorized)};
    }
    return {host::HTTPStatus::OK, std::move(token_info.fields)};
}

host::Task NuvexVeyraUserLogoutHandler::post(const host::PathArgs&) {
    const std::stop_token stop = stop_token();
    const VeyraAnswer answer = co_await run_veyra_operation(
        *this, account_, stop, [](platform::PlatformSession& session) { return log_out(session); });
    finish_with_json(*this, answer.first, answer.second);
}

VeyraAnswer NuvexVeyraUserLogoutHandler::log_out(platform::PlatformSession& session) {
    if (auto failure = run_platform_call([&] { platform::logout(session); })) {
        return {failure->status, token_failure_answer(*failure)};
    }
    return {host::HTTPStatus::OK, boost::json::object()};
}

host::Awaitable<host::InfoResult> NuvexVeyraUserInfoHandler::get_info() {
    const std::stop_token stop = stop_token();
    co_return co_await run_veyra_operation(
        *this, account_, stop,
        [](platform::PlatformSession& session) { return user_info(session); });
}

host::InfoResult NuvexVeyraUserInfoHandler::user_info(platform::PlatformSession& session) {
    const platform::Settings& settings = session.settings();
    bool logged_in = is_set(settings.api_server_url) &&
                     (is_set(settings.token) || is_set(settings.sdk_token)) &&
                     is_set(settings.workspace_id) && is_set(settings.project_id);
    if (!logged_in) return {host::HTTPStatus::OK, boost::json::object()};

    platform::UserInfo user_info;
    if (auto failure =
            run_platform_call([&] { user_info = platform::get_user_profile(session); })) {
        return {failure->status, token_failure_answer(*failure)};
    }
    boost::json::object result = std::move(user_info.fields);
    result["veyra_url"] =
        settings.api_protocol.value_or("") + "://" + settings.api_server_url.value_or("");
    result["veyra_token"] =
        setting_value(is_set(settings.token) ? settings.token : settings.sdk_token);
    result["veyra_workspace_id"] = setting_value(settings.workspace_id);
    result["veyra_project_id"] = setting_value(settings.project_id);
    return {host::HTTPStatus::OK, std::move(result)};
}

}  // namespace veyra
