#pragma once
// Lists the Veyra projects the user has joined and selects one, mounting its datasets unless
// the body's "mount_volumes" is false.

#include "veyra/pick_handler.hpp"

namespace veyra {

class NuvexVeyraProjectHandler : public PickHandler {
public:
    NuvexVeyraProjectHandler(host::Exchange& exchange, client::Account& account)
        : PickHandler(exchange, account, "project_id") {}

protected:
    boost::json::array list(client::PlatformSession& session) override;
    void select(client::PlatformSession& session, std::optional<std::int64_t> id,
                const boost::json::object& fields) override;
};

}  // namespace veyra
