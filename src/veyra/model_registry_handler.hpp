#pragma once
// Lists the Veyra model registries offered to the user and selects one.

#include <boost/json/fwd.hpp>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "veyra/operation_turn.hpp"

namespace veyra {

class NuvexVeyraModelRegistryHandler : public host::CoroutineHandler {
public:
    using host::CoroutineHandler::CoroutineHandler;

    // GET method to retrieve model registry list.
    host::Task get(const host::PathArgs& path_args) override;
    // POST method to set model registry id.
    host::Task post(const host::PathArgs& path_args) override;

private:
    // Run on the platform's turn, off the strand.
    static VeyraAnswer list();
    static VeyraAnswer select(const boost::json::value& body);
};

}  // namespace veyra
