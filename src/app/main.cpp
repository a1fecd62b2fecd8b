// nuvex-link-server: serves the notebook extension's pipeline, cache, dataset, Veyra and
// snippet routes until SIGINT or SIGTERM.

#include <malloc.h>

#include <csignal>
#include <iostream>
#include <optional>

#include "app/command_line.hpp"
#include "app/extension.hpp"
#include "app/parent_watch.hpp"
#include "base/logging/log.hpp"
#include "veyra/client/platform_http.hpp"

int main(int argc, char** argv) {
    const app::CommandLine command_line = app::parse_command_line(argc, argv);

    // Large buffers (export chunks, compression blocks) go back to the system when freed, and
    // few allocator arenas keep freed memory from piling up per thread, so resident memory
    // returns to where it was after a large export. Up to 4 MiB of free heap is kept: a
    // pipeline post needs a few hundred KiB, and handing them back to the system after each
    // post costs page faults on the next.
    mallopt(M_MMAP_THRESHOLD, 512 * 1024);
    mallopt(M_ARENA_MAX, 2);
    mallopt(M_TRIM_THRESHOLD, 4 << 20);

    // The signals are taken by sigwait below, not by whichever thread they happen to hit.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        app::configure(command_line);
        std::optional<app::ParentWatch> parent_watch;
        if (command_line.parent_fd) parent_watch.emplace(*command_line.parent_fd);
        app::Extension extension(command_line);
        host::Server server(app::server_options(command_line), app::make_routes(extension));
        server.start();
        std::cout << app::start_up_banner(command_line, server.url_with_token()) << std::flush;
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        logging::server_log().info("Stopping on signal " + std::to_string(signal_number));
        // What waits on the platform ends now rather than when it would.
        veyra::client::abandon_platform_requests();
        server.stop();
    } catch (const std::exception& error) {
        std::cerr << "nuvex-link-server: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
