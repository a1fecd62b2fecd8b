#pragma once
// The info handlers: GET answers the pair get_info gives as the standard JSON answer; a failure
// leaving get_info answers 500 {"message": <failure text>}.

#include <boost/json/value.hpp>
#include <utility>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "host/http_status.hpp"

namespace host {

using InfoResult = std::pair<HTTPStatus, boost::json::value>;

// Info read at once.
class BaseInfoHandler : public PlainHandler {
public:
    using PlainHandler::PlainHandler;

    void get(const PathArgs& path_args) final;

protected:
    virtual InfoResult get_info() = 0;
};

// Info waited for (on the disk, on the platform) while other requests go on.
class WaitingInfoHandler : public CoroutineHandler {
public:
    using CoroutineHandler::CoroutineHandler;

    Task get(const PathArgs& path_args) final;

protected:
    virtual Awaitable<InfoResult> get_info() = 0;
};

}  // namespace host
