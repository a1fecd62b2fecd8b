#pragma once
// Runs a program from an argument vector (never through a shell) and captures its standard
// output and standard error separately and completely.

#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace base {

struct ProcessOutput {
    // The exit status; minus the signal number when a signal ended the program.
    int exit_status = 0;
    std::string standard_output;
    std::string standard_error;
};

// The program could not be started (not found on the PATH, not executable, no resources).
class ProcessStartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Starts argv[0] (searched on the PATH) with argv, standard input from /dev/null, and waits
// for it. Both outputs are drained at once, so a program that writes much to either never
// blocks. Safe to call from several threads at once. A stop request (a stopping server) ends
// the program with SIGTERM, or keeps it from starting: no one waits for a long diff to end on
// its own.
ProcessOutput run_process(const std::vector<std::string>& argv, const std::stop_token& stop = {});

}  // namespace base
