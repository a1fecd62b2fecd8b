#include "host/info_handler.hpp"

#include <exception>

#include "host/json_answer.hpp"

namespace host {
namespace {

InfoResult failure_result(const std::exception& error) {
    return {HTTPStatus::INTERNAL_SERVER_ERROR, {{"message", error.what()}}};
}

}  // namespace

void BaseInfoHandler::get(const PathArgs&) {
    InfoResult result;
    try {
        result = get_info();
    } catch (const std::exception& error) {
        result = failure_result(error);
    }
    finish_with_json(*this, result.first, result.second);
}

Task WaitingInfoHandler::get(const PathArgs&) {
    InfoResult result;
    try {
        result = co_await get_info();
    } catch (const std::exception& error) {
        result = failure_result(error);
    }
    finish_with_json(*this, result.first, result.second);
}

}  // namespace host
