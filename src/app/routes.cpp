// The route table: every path, its methods and the handler class, in one place.

#include "app/command_line.hpp"
#include "nuvex_link/server/handlers/graph_sync.hpp"

namespace app {

host::RouteTable make_routes() {
    using namespace nuvex_link::server::handlers;
    using host::make_handler;

    host::RouteTable routes;
    routes.add("/nuvex-link/kernels/{kernel_id}", {"GET", "POST"}, make_handler<DAGHandler>());
    routes.add_websocket("/nuvex-link/kernels/{kernel_id}/channels");
    return routes;
}

}  // namespace app
