#pragma once
// A pipeline's picture laid out in a child process within bounds of time and memory: past
// them the layout stops and the page lists the components instead, with the reason.

#include <functional>
#include <string>

#include "nuvex_link_core/models.hpp"
#include "page/bounded_child.hpp"

namespace page {

struct PipelinePicture {
    bool drawn = false;
    std::string svg;      // when drawn
    std::string failure;  // otherwise: why, in words for the page
};

// The picture, or why there is none. `abandoned` is asked while the layout runs: once nobody
// wants the picture any more the layout is stopped and the answer is not kept.
PipelinePicture lay_out_within_bounds(
    const nuvex_link_core::NuvexLinkPipelineModel& pipeline, const ChildLimits& limits,
    const std::function<bool()>& abandoned = [] { return false; });

}  // namespace page
