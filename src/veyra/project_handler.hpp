#pragma once
// Lists the Veyra projects the user has joined and selects one, mounting its datasets.

#include <boost/json/fwd.hpp>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"

namespace veyra {

class NuvexVeyraProjectHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // GET method to retrieve joined projects.
    void get(const host::PathArgs& path_args) override;
    // POST method to set project id.
    void post(const host::PathArgs& path_args) override;

private:
    void _get();
    void _post();
    void _finish_with_result(host::HTTPStatus status_code, const boost::json::value& result);
};

}  // namespace veyra
