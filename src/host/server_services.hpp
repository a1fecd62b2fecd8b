#pragma once
// What the server lends every handler for the life of the server: the running kernels, the
// open websocket connections, the count of blocking calls and the one cancellation that
// stopping the server sends to whatever still waits (child processes, platform calls).

#include <stop_token>

#include "host/blocking_call.hpp"
#include "host/channel_registry.hpp"
#include "host/jupyter/kernel_manager.hpp"

namespace host {

struct ServerServices {
    // make_kernels() gives the kernel list (which is built in place, not moved).
    template <class MakeKernels>
    explicit ServerServices(MakeKernels make_kernels) : kernels(make_kernels()) {}
    ServerServices(const ServerServices&) = delete;
    ServerServices& operator=(const ServerServices&) = delete;

    KernelManager kernels;
    ChannelRegistry channels;
    BlockingCalls blocking_calls;
    std::stop_source stopping;
};

}  // namespace host
