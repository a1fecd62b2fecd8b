#include "veyra/client/platform_session.hpp"

#include <boost/json/object.hpp>
#include <utility>

#include "veyra/client/platform_http.hpp"

namespace veyra::client {
namespace {

bool is_set(const std::optional<std::string>& setting) { return setting && !setting->empty(); }

// The token when it is set, else the SDK token.
const std::optional<std::string>& bearer_token(const Settings& settings) {
    return is_set(settings.token) ? settings.token : settings.sdk_token;
}

}  // namespace

PlatformSession::PlatformSession(Account& account, std::stop_token stop)
    : account_(account), turn_(account.turn_), stop_(std::move(stop)) {}

bool PlatformSession::has_login() const {
    const Settings& settings = account_.settings;
    return is_set(settings.api_server_url) && is_set(bearer_token(settings));
}

void PlatformSession::require_login() const {
    if (!has_login()) throw std::runtime_error("Not logged in to Veyra; log in first.");
}

boost::json::value PlatformSession::call(std::string_view method, std::string_view path,
                                         const boost::json::value* body) {
    require_login();
    const Settings& settings = account_.settings;
    std::string url = settings.api_protocol.value_or("https") + "://" + *settings.api_server_url +
                      std::string(path);
    return send_platform_request(
        {method, url, *bearer_token(settings), body, account_.timeouts(), stop_});
}

boost::json::value PlatformSession::send(std::string_view method, std::string_view url,
                                         const boost::json::value* body) {
    return send_platform_request({method, url, std::nullopt, body, account_.timeouts(), stop_});
}

std::string PlatformSession::workspace_path_segment() const {
    require_login();
    const std::optional<std::string>& id = account_.settings.workspace_id;
    if (!is_set(id)) throw std::runtime_error("No Veyra workspace is selected; log in first.");
    return path_segment(*id);
}

std::string path_segment(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string segment;
    for (unsigned char c : text) {
        bool alphanumeric =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (alphanumeric || c == '-' || c == '.' || c == '_' || c == '~') {
            segment += static_cast<char>(c);
        } else {
            segment += '%';
            segment += kHex[c >> 4];
            segment += kHex[c & 0xF];
        }
    }
    return segment;
}

boost::json::object expect_object(boost::json::value&& answer, std::string_view what) {
    if (!answer.is_object()) {
        throw std::runtime_error("Veyra's answer for " + std::string(what) +
                                 " is not a JSON object.");
    }
    return std::move(answer.as_object());
}

}  // namespace veyra::client
