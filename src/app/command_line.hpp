#pragma once
// The server's command line and how it sets up the process before serving.

#include <filesystem>
#include <string>

#include "host/router.hpp"
#include "host/server.hpp"

namespace app {

struct CommandLine {
    std::string ip = "127.0.0.1";
    unsigned short port = 8888;
    std::filesystem::path root_dir;  // empty: the current directory
    std::string base_url = "/";
    std::string token;  // empty: a random token
    std::filesystem::path temp_dir;      // empty: $TMPDIR/nuvex-link
    std::filesystem::path snippets_dir;  // empty: the installed snippets
    std::string jupyter_url;
    std::string jupyter_token;
    std::filesystem::path veyra_settings;  // empty: $XDG_CONFIG_HOME/nuvex-link/veyra.json
    std::string log_level = "info";
};

// Parses argv; prints help or an error and exits on a bad command line.
CommandLine parse_command_line(int argc, char** argv);

// Sets the process-wide settings of the modules (temporary folder, snippets, platform
// settings file, log level) from the command line.
void configure(const CommandLine& command_line);

host::ServerOptions server_options(const CommandLine& command_line);

// Every route of the server.
host::RouteTable make_routes();

}  // namespace app
