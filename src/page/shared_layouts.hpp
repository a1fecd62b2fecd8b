#pragma once
// One layout per kernel at a time, shared by every request for the same pipeline version. A
// layout whose pipeline has been replaced, or that nobody waits for any more, is stopped; a
// finished picture (or the reason there is none) is kept with the pipeline it shows.

#include <memory>
#include <string>

#include "host/awaitable.hpp"
#include "page/bounded_layout.hpp"
#include "pipeline/models.hpp"

namespace page {

// On the handlers' strand: waits for the picture of `pipeline`, the kernel's stored pipeline,
// starting its layout or joining the one that runs. Null when the layout was abandoned because
// the kernel's pipeline changed meanwhile: the caller looks again at what is stored. Takes
// `pipeline` over and lets go of it at once, so that only the stored entry and the layout hold
// it: once the entry lets go too, the layout knows it is of no use.
host::Awaitable<std::shared_ptr<const PipelinePicture>> shared_picture(
    std::string kernel_id, std::shared_ptr<const pipeline::NuvexLinkPipelineModel>&& pipeline,
    ChildLimits limits);

// How many layouts have been started since the process began, for tests.
unsigned long layouts_started();

}  // namespace page
