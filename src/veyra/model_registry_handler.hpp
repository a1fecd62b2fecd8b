#pragma once
// Lists the Veyra model registries offered to the user and selects one.

#include "veyra/pick_handler.hpp"

namespace veyra {

class NuvexVeyraModelRegistryHandler : public PickHandler {
public:
    NuvexVeyraModelRegistryHandler(host::Exchange& exchange, client::Account& account)
        : PickHandler(exchange, account, "model_registry_id") {}

protected:
    boost::json::array list(client::PlatformSession& session) override;
    void select(client::PlatformSession& session, std::optional<std::int64_t> id,
                const boost::json::object& fields) override;
};

}  // namespace veyra
