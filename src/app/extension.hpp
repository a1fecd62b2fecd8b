#pragma once
// What the extension's capabilities share for the life of a server: the pipeline store, the
// Veyra account and the folders and settings chosen at start. One owner (main, or a test) keeps it
// while the server runs; the route table lends each handler the parts it uses.

#include <cstdint>
#include <filesystem>

#include "app/command_line.hpp"
#include "page/bounded_layout.hpp"
#include "page/shared_layouts.hpp"
#include "pipeline/dag_cabinet.hpp"
#include "snippets/snippet_catalogue.hpp"
#include "veyra/client/account.hpp"

namespace app {

struct Extension {
    explicit Extension(const CommandLine& command_line);
    Extension(const Extension&) = delete;
    Extension& operator=(const Extension&) = delete;

    pipeline::DagCabinet dag_cabinet;
    // Pipeline caches live below its "pipelines" folder.
    std::filesystem::path app_temp_directory;
    std::filesystem::path snippets_dir;
    // What the template engine found in the snippets, kept until their files change.
    snippets::SnippetCatalogue snippet_catalogue;
    // The pipeline page: index.html and its static/ files.
    std::filesystem::path web_dir;
    // The pictures being laid out, and the bounds of each layout.
    page::SharedLayouts shared_layouts;
    page::ChildLimits layout_limits = page::kLayoutLimits;
    // The notebook server described by server info and whose root the dataset diff reads:
    // this process, or the one given by --host-pid.
    std::int64_t host_pid;
    // True when the running kernels come from a notebook server's /api/kernels (--jupyter-url):
    // listing them then waits on the network.
    bool kernels_listed_by_notebook_server;
    // The platform login, loaded from --veyra-settings.
    veyra::client::Account veyra_account;
};

// Every route of the server, lending the handlers what they use of the extension.
host::RouteTable make_routes(Extension& extension);

}  // namespace app
