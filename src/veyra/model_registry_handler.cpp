#include "veyra/model_registry_handler.hpp"

#include "veyra/client/model_registries.hpp"

namespace veyra {

boost::json::array NuvexVeyraModelRegistryHandler::list(client::PlatformSession& session) {
    return records_array(client::get_model_registry_list(session));
}

void NuvexVeyraModelRegistryHandler::select(client::PlatformSession& session,
                                            std::optional<std::int64_t> id,
                                            const boost::json::object&) {
    client::set_model_registry(session, id);
}

}  // namespace veyra
