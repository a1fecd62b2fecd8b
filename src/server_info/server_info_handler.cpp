#include "server_info/server_info_handler.hpp"

#include <boost/json/object.hpp>
#include <exception>
#include <string>

#include "base/logging/log.hpp"
#include "host/jupyter/host_record.hpp"

namespace server_info {
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

host::InfoResult ServerAppInfoHandler::get_info() {
    try {
        boost::json::object result = host::JupyterServerAppInfo(host_pid_).dict();
        result["cookie"] = cookie_text(cookies());
        return host::InfoResult{host::HTTPStatus::OK, std::move(result)};
    } catch (const std::exception& failure) {
        log().warning(request_path() + ": " + failure.what());
        return host::InfoResult{host::HTTPStatus::INTERNAL_SERVER_ERROR,
                                boost::json::object{{"message", "Failed to get information."}}};
    }
}

}  // namespace server_info
