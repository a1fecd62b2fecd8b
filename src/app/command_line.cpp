#include "app/command_line.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "base/logging/log.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace app {
namespace {

constexpr const char* kTokenVariable = "NUVEX_LINK_TOKEN";

// Everything readable from `fd` up to its end, without a final line break (so that
// `echo secret | nuvex-link-server --token-fd 0` works); the descriptor is closed. Exits with a
// message when it cannot be read or holds no token.
std::string read_token(int fd) {
    std::string token;
    char buffer[256];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::cerr << "nuvex-link-server: --token-fd " << fd
                      << " cannot be read: " << std::strerror(errno) << "\n";
            std::exit(1);
        }
        token.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
    if (token.empty()) {
        std::cerr << "nuvex-link-server: --token-fd " << fd << " held no token\n";
        std::exit(1);
    }
    return token;
}

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
    CLI::Option* token_option = cli.add_option(
        "--token", line.token,
        "Token clients must send; other users see it in the process list, so prefer "
        "$NUVEX_LINK_TOKEN or --token-fd (default: $NUVEX_LINK_TOKEN, else a random one)");
    cli.add_option("--token-fd", line.token_fd,
                   "Read the token from this file descriptor up to its end (a pipe from the "
                   "parent process), then close it")
        ->check(CLI::NonNegativeNumber)
        ->excludes(token_option);
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
    if (line.token_fd) {
        line.token = read_token(*line.token_fd);
        line.token_kept_private = true;
    }
    if (const char* token = std::getenv(kTokenVariable); token != nullptr) {
        if (line.token.empty() && *token != '\0') {
            line.token = token;
            line.token_kept_private = true;
        }
        ::unsetenv(kTokenVariable);
    }
    return line;
}

void configure(const CommandLine& line) {
    logging::server_log().set_level(logging::parse_log_level(line.log_level));
    veyra::client::load_settings(line.veyra_settings);
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
    const std::string url = line.token_kept_private
                                ? url_with_token.substr(0, url_with_token.find("?token="))
                                : url_with_token;
    return "nuvex-link-server is running at:\n    " + url + "\n";
}

}  // namespace app
