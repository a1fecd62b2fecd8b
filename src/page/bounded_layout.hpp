#pragma once
// A pipeline's picture laid out in a child process within bounds of time and memory: past
// them the layout stops and the page lists the components instead, with the reason.

#include <functional>
#include <optional>
#include <string>

#include "page/bounded_child.hpp"
#include "pipeline/models.hpp"

namespace page {

// The bounds every pipeline layout gets: the notebook shapes take well under a second at
// 2,000 components.
inline constexpr ChildLimits kLayoutLimits{std::chrono::seconds(2), std::size_t{256} << 20};

struct PipelinePicture {
    bool drawn = false;
    std::string svg;      // when drawn
    std::string failure;  // otherwise: why, in words for the page
};

// The picture, or why there is none. `abandoned` is asked while the layout runs: once nobody
// wants the picture any more the layout is stopped and nullopt returned.
std::optional<PipelinePicture> lay_out_within_bounds(
    const pipeline::NuvexLinkPipelineModel& pipeline, const ChildLimits& limits,
    const std::function<bool()>& abandoned = [] { return false; });

}  // namespace page
