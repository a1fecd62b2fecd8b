#include "veyra/client/platform_session.hpp"

#include <boost/json/object.hpp>

#include "veyra/client/platform_http.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace veyra::client {
namespace {

bool is_set(const std::optional<std::string>& setting) { return setting && !setting->empty(); }

// TOKEN when it is set, else the SDK token.
const std::optional<std::string>& bearer_token() {
    const Settings& settings = veyra_settings();
    return is_set(settings.TOKEN) ? settings.TOKEN : settings.VEYRA_SDK_TOKEN;
}

}  // namespace

bool has_login() { return is_set(veyra_settings().VEYRA_API_SERVER_URL) && is_set(bearer_token()); }

void require_login() {
    if (!has_login()) throw std::runtime_error("Not logged in to Veyra; log in first.");
}

boost::json::value call_platform(std::string_view method, std::string_view path,
                                 const boost::json::value* body) {
    require_login();
    const Settings& settings = veyra_settings();
    std::string url = settings.VEYRA_API_PROTOCOL.value_or("https") + "://" +
                      *settings.VEYRA_API_SERVER_URL + std::string(path);
    return send_platform_request({method, url, *bearer_token(), body});
}

std::string workspace_path_segment() {
    require_login();
    const std::optional<std::string>& id = veyra_settings().VEYRA_WORKSPACE_ID;
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
