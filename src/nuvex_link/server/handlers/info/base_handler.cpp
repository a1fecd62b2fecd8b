#include "nuvex_link/server/handlers/info/base_handler.hpp"

#include "nuvex_link/server/handlers/json_answer.hpp"

namespace nuvex_link::server::handlers::info {

void BaseInfoHandler::get(const host::PathArgs&) {
    InfoResult result;
    try {
        result = _get_info();
    } catch (const std::exception& error) {
        result = {host::HTTPStatus::INTERNAL_SERVER_ERROR, {{"message", error.what()}}};
    }
    finish_with_json(*this, result.first, result.second);
}

}  // namespace nuvex_link::server::handlers::info
