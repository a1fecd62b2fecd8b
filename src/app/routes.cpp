// The route table: every path, its methods and the handler class, in one place.

#include "app/command_line.hpp"
#include "nuvex_link/server/handlers/cache/cache_archive.hpp"
#include "nuvex_link/server/handlers/dataset_delta.hpp"
#include "nuvex_link/server/handlers/graph_sync.hpp"
#include "nuvex_link/server/handlers/info/cache_probe.hpp"
#include "nuvex_link/server/handlers/info/host_report.hpp"
#include "nuvex_link/server/handlers/pipeline_export/pipeline_dump.hpp"
#include "nuvex_link/server/handlers/snippet/snippet_render.hpp"
#include "nuvex_link/server/handlers/veyra/account_gate.hpp"
#include "nuvex_link/server/handlers/veyra/project_pick.hpp"
#include "nuvex_link/server/handlers/veyra/registry_pick.hpp"
#include "nuvex_link/server/handlers/view/graph_picture.hpp"
#include "nuvex_link/server/handlers/view/kernel_list.hpp"
#include "nuvex_link/server/handlers/view/page_files.hpp"
#include "page/component_cache_size.hpp"
#include "page/page_redirect.hpp"

namespace app {

host::RouteTable make_routes() {
    using namespace nuvex_link::server::handlers;
    using host::make_handler;

    host::RouteTable routes;
    routes.add("/nuvex-link/kernels/{kernel_id}", {"GET", "POST"}, make_handler<DAGHandler>(),
               DAGHandler::body_preparer());
    routes.add_websocket("/nuvex-link/kernels/{kernel_id}/channels");
    routes.add("/nuvex-link/cache/info", {"GET"}, make_handler<info::CacheInfoHandler>());
    routes.add("/nuvex-link/cache/export", {"GET"}, make_handler<cache::CacheExportHandler>());
    routes.add("/nuvex-link/pipeline/export", {"POST"},
               make_handler<pipeline_export::NuvexLinkPipelineExportHandler>());
    // SingleDataSetDiffHandler when the query has dataset_name, else DataSetDiffHandler.
    routes.add("/nuvex-link/veyra/dataset/diff", {"GET"}, make_handler<DataSetDiffRouteHandler>());
    routes.add("/nuvex-link/server/info", {"GET"}, make_handler<info::ServerAppInfoHandler>());
    routes.add("/nuvex-link/veyra/user/login", {"POST"},
               make_handler<veyra::NuvexVeyraUserLoginHandler>());
    routes.add("/nuvex-link/veyra/user/logout", {"POST"},
               make_handler<veyra::NuvexVeyraUserLogoutHandler>());
    routes.add("/nuvex-link/veyra/user/info", {"GET"},
               make_handler<veyra::NuvexVeyraUserInfoHandler>());
    routes.add("/nuvex-link/veyra/projects", {"GET", "POST"},
               make_handler<veyra::NuvexVeyraProjectHandler>());
    routes.add("/nuvex-link/veyra/model-registries", {"GET", "POST"},
               make_handler<veyra::NuvexVeyraModelRegistryHandler>());
    routes.add("/nuvex-link/snippets/generate", {"POST"},
               make_handler<snippet::SnippetGenerateHandler>());
    // The pipeline page. It and its static files hold no user data and load without the token.
    routes.add_without_token("/nuvex-link/view", make_handler<page::PageRedirectHandler>());
    routes.add_without_token("/nuvex-link/view/", make_handler<view::PipelinePageHandler>());
    routes.add("/nuvex-link/view/kernels", {"GET"}, make_handler<view::PipelineKernelsHandler>());
    routes.add("/nuvex-link/view/kernels/{kernel_id}/graph.svg", {"GET"},
               make_handler<view::PipelineGraphHandler>());
    routes.add("/nuvex-link/view/kernels/{kernel_id}/components/{component_id}/cache", {"GET"},
               make_handler<page::ComponentCacheSizeHandler>());
    routes.add_without_token("/nuvex-link/view/static/{file}",
                             make_handler<view::PipelinePageFileHandler>());
    return routes;
}

}  // namespace app
