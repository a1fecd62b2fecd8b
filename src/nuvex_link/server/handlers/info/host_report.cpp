#include "nuvex_link/server/handlers/info/host_report.hpp"

#include <boost/json/object.hpp>
#include <exception>
#include <string>

#include "logging/log.hpp"
#include "nuvex_link/server/misc/host_runtime.hpp"

namespace nuvex_link::server::handlers::info {
namespace {

// name=value pairs as the host parsed them, in order, joined with "; ".
std::string cookie_text(const host::Cookies& cookies) {
    std::string text;
    for (const auto& [name, value] : cookies) {
        if (!text.empty()) text += "; ";
        text += name;
        text += '=';
        text += value;
    }
    return text;
}

}  // namespace

InfoAnswer ServerAppInfoHandler::_get_info() {
    try {
        boost::json::object result = misc::JupyterServerAppInfo().dict();
        result["cookie"] = cookie_text(cookies());
        return InfoResult{host::HTTPStatus::OK, std::move(result)};
    } catch (const std::exception& failure) {
        log().warning(request_path() + ": " + failure.what());
        return InfoResult{host::HTTPStatus::INTERNAL_SERVER_ERROR,
                          boost::json::object{{"message", "Failed to get information."}}};
    }
}

}  // namespace nuvex_link::server::handlers::info
