#pragma once
// Lists the Veyra model registries offered to the user and selects one.

#include <boost/json/fwd.hpp>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"

namespace veyra {

class NuvexVeyraModelRegistryHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // GET method to retrieve model registry list.
    void get(const host::PathArgs& path_args) override;
    // POST method to set model registry id.
    void post(const host::PathArgs& path_args) override;

private:
    void _get();
    void _post();
    void _finish_with_result(host::HTTPStatus status_code, const boost::json::value& result);
};

}  // namespace veyra
