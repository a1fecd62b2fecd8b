#pragma once
// Base of the info handlers: GET calls _get_info once and answers its pair as the standard JSON
// answer; a failure leaving _get_info answers 500 {"message": <failure text>}.

#include <boost/json/value.hpp>
#include <utility>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"

namespace nuvex_link::server::handlers::info {

using InfoResult = std::pair<host::HTTPStatus, boost::json::value>;

class BaseInfoHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;
    void get(const host::PathArgs& path_args) final;

protected:
    virtual InfoResult _get_info() = 0;
};

}  // namespace nuvex_link::server::handlers::info
