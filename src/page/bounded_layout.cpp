#include "page/bounded_layout.hpp"

#include "nuvex_link/server/misc/pipeline_graph.hpp"

namespace page {

PipelinePicture lay_out_within_bounds(const nuvex_link_core::NuvexLinkPipelineModel& pipeline,
                                      const ChildLimits& limits,
                                      const std::function<bool()>& abandoned) {
    // The child reads the pipeline from its copy of the server's memory and runs Graphviz
    // alone: the server itself never lays out, so no layout waits on another.
    ChildOutcome outcome =
        run_in_child([&pipeline] { return nuvex_link::server::misc::pipeline_svg(pipeline); },
                     limits, abandoned);
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
