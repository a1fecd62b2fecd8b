#include "app/command_line.hpp"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "base/logging/log.hpp"
#include "host/jupyter/host_record.hpp"
#include "page/extension_settings.hpp"
#include "veyra/client/veyra_settings.hpp"
#include "pipeline/app_temp_directory.hpp"

namespace app {
namespace {

constexpr const char* kTokenVariable = "NUVEX_LINK_TOKEN";

}  // namespace

CommandLine parse_command_line(int argc, char** argv) {
    CommandLine line;
    CLI::App cli{"nuvex-link-server: the notebook pipeline and Veyra link server"};
    cli.add_option("--ip", line.ip, "Address to listen on")->capture_default_str();
    cli.add_option("--port", line.port, "Port to listen on (0 takes a free one)")
        ->capture_default_str();
    cli.add_option("--root-dir", line.root_dir, "The notebooks' root folder");
    cli.add_option("--base-url", line.base_url, "Path prefix of every route")
        ->capture_default_str();
    cli.add_option("--token", line.token,
                   "Token clients must send (default: $NUVEX_LINK_TOKEN, else a random one)");
    cli.add_option("--temp-dir", line.temp_dir,
                   "The extension's temporary folder (default: $TMPDIR/nuvex-link)");
    cli.add_option("--snippets-dir", line.snippets_dir, "Folder of the snippet templates");
    cli.add_option("--jupyter-url", line.jupyter_url,
                   "Notebook server whose /api/kernels lists the running kernels");
    cli.add_option("--jupyter-token", line.jupyter_token, "Token for --jupyter-url");
    cli.add_option("--veyra-settings", line.veyra_settings,
                   "Veyra settings file (default: $XDG_CONFIG_HOME/nuvex-link/veyra.json)");
    cli.add_option("--log-level", line.log_level, "debug, info, warning or error")
        ->check(CLI::IsMember({"debug", "info", "warning", "error"}))
        ->capture_default_str();
    cli.add_option("--host-pid", line.host_pid,
                   "Describe the notebook server with this process id (its jpserver-PID.json) "
                   "instead of this server, and write no runtime file");
    cli.add_option("--parent-fd", line.parent_fd,
                   "Stop when this pipe from the parent process reaches its end")
        ->check(CLI::NonNegativeNumber);
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        std::exit(cli.exit(error));
    }
    if (const char* token = std::getenv(kTokenVariable); token != nullptr) {
        if (line.token.empty() && *token != '\0') {
            line.token = token;
            line.token_from_environment = true;
        }
        ::unsetenv(kTokenVariable);
    }
    return line;
}

void configure(const CommandLine& line) {
    logging::server_log().set_level(logging::parse_log_level(line.log_level));
    pipeline::APP_TEMP_DIRECTORY = line.temp_dir.empty()
                                              ? pipeline::default_app_temp_directory()
                                              : std::filesystem::absolute(line.temp_dir);
    if (!line.snippets_dir.empty()) {
        page::get_settings().snippets_dir =
            std::filesystem::absolute(line.snippets_dir);
    }
    veyra::client::load_settings(line.veyra_settings);
    if (line.host_pid) host::describe_host_process(*line.host_pid);
}

host::ServerOptions server_options(const CommandLine& line) {
    host::ServerOptions options;
    options.ip = line.ip;
    options.port = line.port;
    options.root_dir = line.root_dir.empty() ? std::filesystem::current_path() : line.root_dir;
    options.base_url = line.base_url;
    options.token = line.token;
    options.jupyter_url = line.jupyter_url;
    options.jupyter_token = line.jupyter_token;
    options.write_runtime_file = !line.host_pid;
    return options;
}

std::string start_up_banner(const CommandLine& line, const std::string& url_with_token) {
    const std::string url = line.token_from_environment
                                ? url_with_token.substr(0, url_with_token.find("?token="))
                                : url_with_token;
    return "nuvex-link-server is running at:\n    " + url + "\n";
}

}  // namespace app
