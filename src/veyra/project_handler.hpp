#pragma once
// Lists the Veyra projects the user has joined and selects one, mounting its datasets.

#include <boost/json/fwd.hpp>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "veyra/operation_turn.hpp"

namespace veyra {

class NuvexVeyraProjectHandler : public host::CoroutineHandler {
public:
    using host::CoroutineHandler::CoroutineHandler;

    // GET method to retrieve joined projects.
    host::Task get(const host::PathArgs& path_args) override;
    // POST method to set project id.
    host::Task post(const host::PathArgs& path_args) override;

private:
    // Run on the platform's turn, off the strand.
    static VeyraAnswer list();
    static VeyraAnswer select(const boost::json::value& body);
};

}  // namespace veyra
