#include "host/info_handler.hpp"

#include "host/json_answer.hpp"

namespace host {
namespace {

InfoResult failure_result(const std::exception& error) {
    return {host::HTTPStatus::INTERNAL_SERVER_ERROR, {{"message", error.what()}}};
}

}  // namespace

void BaseInfoHandler::get(const host::PathArgs&) {
    InfoAnswer answer;
    try {
        answer = _get_info();
    } catch (const std::exception& error) {
        answer = failure_result(error);
    }
    if (auto* waiting = std::get_if<host::Awaitable<InfoResult>>(&answer)) {
        return wait_for(_answer_when_ready(std::move(*waiting)));
    }
    const auto& result = std::get<InfoResult>(answer);
    finish_with_json(*this, result.first, result.second);
}

host::Task BaseInfoHandler::_answer_when_ready(host::Awaitable<InfoResult> info) {
    InfoResult result;
    try {
        result = co_await std::move(info);
    } catch (const std::exception& error) {
        result = failure_result(error);
    }
    finish_with_json(*this, result.first, result.second);
}

}  // namespace host
