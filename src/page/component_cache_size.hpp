#pragma once
// The size of one component's cache folder, for the component's details on the page: walking
// one folder when a component is opened, not every folder of a large pipeline up front.

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {

class ComponentCacheSizeHandler : public host::CoroutineHandler {
public:
    ComponentCacheSizeHandler(host::Exchange& exchange, const pipeline::DagCabinet& dag_cabinet)
        : CoroutineHandler(exchange), dag_cabinet_(dag_cabinet) {}

    // {"identifier", "cache_bytes"}: null bytes when the component has no cache folder or it
    // cannot be read; 404 for an unknown kernel or component.
    host::Task get(const host::PathArgs& path_args) override;

private:
    const pipeline::DagCabinet& dag_cabinet_;
};

}  // namespace page
