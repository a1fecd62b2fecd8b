#pragma once
// Base of the info handlers: GET calls _get_info once and answers its pair as the standard JSON
// answer; a failure leaving _get_info answers 500 {"message": <failure text>}.

#include <boost/json/value.hpp>
#include <utility>
#include <variant>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "host/http_status.hpp"

namespace host {

using InfoResult = std::pair<host::HTTPStatus, boost::json::value>;
// The info at once, or the wait for it (on the disk, on the platform) while other requests go
// on.
using InfoAnswer = std::variant<InfoResult, host::Awaitable<InfoResult>>;

class BaseInfoHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    void get(const host::PathArgs& path_args) final;

protected:
    virtual InfoAnswer _get_info() = 0;

private:
    host::Task _answer_when_ready(host::Awaitable<InfoResult> info);
};

}  // namespace host
