// The route table: every path, its methods and the handler class, in one place.

#include "app/extension.hpp"
#include "cache/cache_export_handler.hpp"
#include "cache/cache_info_handler.hpp"
#include "dag/dag_handler.hpp"
#include "datasets/dataset_diff_handler.hpp"
#include "page/component_cache_size.hpp"
#include "page/graph_picture_handler.hpp"
#include "page/kernel_list_handler.hpp"
#include "page/page_files_handler.hpp"
#include "page/page_redirect.hpp"
#include "pipeline_export/pipeline_export_handler.hpp"
#include "server_info/server_info_handler.hpp"
#include "snippets/snippet_catalogue_handler.hpp"
#include "snippets/snippet_generate_handler.hpp"
#include "veyra/model_registry_handler.hpp"
#include "veyra/project_handler.hpp"
#include "veyra/user_handlers.hpp"

namespace app {

host::RouteTable make_routes(Extension& extension) {
    using host::make_handler;

    host::RouteTable routes;
    routes.add(
        "/nuvex-link/kernels/{kernel_id}", {"GET", "POST"},
        extension.kernels_listed_by_notebook_server
            ? make_handler<dag::DAGHandlerListingFromServer>(extension.dag_cabinet,
                                                             extension.app_temp_directory)
            : make_handler<dag::DAGHandler>(extension.dag_cabinet, extension.app_temp_directory),
        dag::DagRoute::body_preparer());
    routes.add_websocket("/nuvex-link/kernels/{kernel_id}/channels");
    routes.add(
        "/nuvex-link/cache/info", {"GET"},
        make_handler<cache::CacheInfoHandler>(extension.dag_cabinet, extension.app_temp_directory));
    routes.add("/nuvex-link/cache/export", {"GET"},
               make_handler<cache::CacheExportHandler>(extension.dag_cabinet));
    routes.add(
        "/nuvex-link/pipeline/export", {"POST"},
        make_handler<pipeline_export::NuvexLinkPipelineExportHandler>(extension.dag_cabinet));
    // SingleDataSetDiffHandler when the query has dataset_name, else DataSetDiffHandler.
    routes.add("/nuvex-link/veyra/dataset/diff", {"GET"},
               make_handler<datasets::DataSetDiffRouteHandler>(extension.host_pid));
    routes.add("/nuvex-link/server/info", {"GET"},
               make_handler<server_info::ServerAppInfoHandler>(extension.host_pid));
    routes.add("/nuvex-link/veyra/user/login", {"POST"},
               make_handler<veyra::NuvexVeyraUserLoginHandler>(extension.veyra_account));
    routes.add("/nuvex-link/veyra/user/logout", {"POST"},
               make_handler<veyra::NuvexVeyraUserLogoutHandler>(extension.veyra_account));
    routes.add("/nuvex-link/veyra/user/info", {"GET"},
               make_handler<veyra::NuvexVeyraUserInfoHandler>(extension.veyra_account));
    routes.add("/nuvex-link/veyra/projects", {"GET", "POST"},
               make_handler<veyra::NuvexVeyraProjectHandler>(extension.veyra_account));
    routes.add("/nuvex-link/veyra/model-registries", {"GET", "POST"},
               make_handler<veyra::NuvexVeyraModelRegistryHandler>(extension.veyra_account));
    routes.add("/nuvex-link/snippets/generate", {"POST"},
               make_handler<snippets::SnippetGenerateHandler>(extension.snippets_dir));
    routes.add("/nuvex-link/snippets", {"GET"},
               make_handler<snippets::SnippetCatalogueHandler>(extension.snippet_catalogue,
                                                               extension.snippets_dir));
    routes.add("/nuvex-link/snippets/{category}/{snippet_id}", {"GET"},
               make_handler<snippets::SnippetHandler>(extension.snippet_catalogue,
                                                      extension.snippets_dir));
    // The pipeline page. It and its static files hold no user data and load without the token.
    routes.add_without_token("/nuvex-link/view", make_handler<page::PageRedirectHandler>());
    routes.add_without_token("/nuvex-link/view/", make_handler<page::PipelinePageHandler>(
                                                      extension.web_dir, extension.host_pid));
    routes.add("/nuvex-link/view/kernels", {"GET"},
               make_handler<page::PipelineKernelsHandler>(extension.dag_cabinet));
    routes.add("/nuvex-link/view/kernels/{kernel_id}/graph.svg", {"GET"},
               make_handler<page::PipelineGraphHandler>(
                   extension.dag_cabinet, extension.shared_layouts, extension.layout_limits));
    routes.add("/nuvex-link/view/kernels/{kernel_id}/components/{component_id}/cache", {"GET"},
               make_handler<page::ComponentCacheSizeHandler>(extension.dag_cabinet));
    routes.add_without_token("/nuvex-link/view/static/{file}",
                             make_handler<page::PipelinePageFileHandler>(extension.web_dir));
    return routes;
}

}  // namespace app
