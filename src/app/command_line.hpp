#pragma once
// The server's command line and how it sets up the process before serving.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "host/router.hpp"
#include "host/server.hpp"

namespace app {

struct CommandLine {
    std::string ip = "127.0.0.1";
    unsigned short port = 8888;
    std::filesystem::path root_dir;  // empty: the current directory
    std::string base_url = "/";
    std::string token;            // empty: --token-fd, $NUVEX_LINK_TOKEN or a random one
    std::optional<int> token_fd;  // the token is read from this descriptor to its end
    // The token came from --token-fd or the environment: it is kept out of the start-up banner,
    // so that only the process that gave it knows it.
    bool token_kept_private = false;
    std::filesystem::path temp_dir;      // empty: $TMPDIR/nuvex-link
    std::filesystem::path snippets_dir;  // empty: the installed snippets
    std::string jupyter_url;
    std::string jupyter_token;
    std::filesystem::path veyra_settings;  // empty: $XDG_CONFIG_HOME/nuvex-link/veyra.json
    std::string log_level = "info";
    // The notebook server this one serves: its runtime record is reported, its root folder
    // diffed, and no runtime file of this server's own is written.
    std::optional<std::int64_t> host_pid;
    std::optional<int> parent_fd;  // stop when this pipe from the parent reaches its end
};

// Parses argv (reading the token from --token-fd, else from $NUVEX_LINK_TOKEN, which it then
// removes from the environment so that no child process inherits it); prints help or an error
// and exits on a bad command line.
CommandLine parse_command_line(int argc, char** argv);

// Sets the log level and loads the platform settings file named on the command line.
void configure(const CommandLine& command_line);

host::ServerOptions server_options(const CommandLine& command_line);

// The first lines the server prints: where it listens, with its token unless the token came
// from --token-fd or the environment.
std::string start_up_banner(const CommandLine& command_line, const std::string& url_with_token);

}  // namespace app
