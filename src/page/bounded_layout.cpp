#include "page/bounded_layout.hpp"

#include "page/pipeline_drawing.hpp"

namespace page {

std::optional<PipelinePicture> lay_out_within_bounds(
    const pipeline::NuvexLinkPipelineModel& pipeline, const ChildLimits& limits,
    const std::function<bool()>& abandoned) {
    // The child reads the pipeline from its copy of the server's memory and runs Graphviz
    // alone: the server itself never lays out, so no layout waits on another.
    ChildOutcome outcome =
        run_in_child([&pipeline] { return pipeline_svg(pipeline); }, limits, abandoned);
    if (outcome.end == ChildOutcome::End::abandoned) return std::nullopt;
    PipelinePicture picture;
    if (outcome.end == ChildOutcome::End::finished) {
        picture.drawn = true;
        picture.svg = std::move(outcome.output);
    } else {
        picture.failure = "The pipeline is not drawn: its layout stopped because " +
                          outcome.failure + ". Its components are listed instead.";
    }
    return picture;
}

}  // namespace page
