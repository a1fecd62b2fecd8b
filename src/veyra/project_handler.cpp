#include "veyra/project_handler.hpp"

#include <boost/json/object.hpp>

#include "veyra/body_values.hpp"
#include "veyra/client/dataset.hpp"
#include "veyra/client/projects.hpp"

namespace veyra {

boost::json::array NuvexVeyraProjectHandler::list(client::PlatformSession& session) {
    return records_array(client::get_joined_projects(session));
}

void NuvexVeyraProjectHandler::select(client::PlatformSession& session,
                                      std::optional<std::int64_t> id,
                                      const boost::json::object& fields) {
    const boost::json::value* mount_volumes = fields.if_contains("mount_volumes");
    const bool mount = mount_volumes == nullptr || is_truthy(*mount_volumes);
    // A failed mount leaves the project selected: the selection itself succeeded.
    client::set_joined_project(session, id);
    if (mount) client::mount_dataset(session);
}

}  // namespace veyra
