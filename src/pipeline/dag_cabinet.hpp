#pragma once
// The pipeline each running kernel's notebook edits, kept per kernel id.

#include <memory>
#include <string>
#include <unordered_map>

#include "pipeline/models.hpp"

namespace pipeline {

// One kernel's stored pipeline and the answers made from it. A stored pipeline never changes
// in place: a new one replaces the entry, and what was made from the old one goes with it.
// A handler that waits keeps its own reference to the pipeline it read, so a pipeline posted
// meanwhile does not change what it works on.
struct CabinetEntry {
    std::shared_ptr<const NuvexLinkPipelineModel> pipeline;
    // The GET answer (the pipeline's update from an empty one) as JSON text, made on the first
    // GET; answers share it rather than copying it.
    std::shared_ptr<const std::string> full_update_text;
    // The pipeline's picture as SVG text, drawn on the first request for it.
    std::shared_ptr<const std::string> graph_svg;
    // Or why it is not drawn (its layout stopped at its bounds).
    std::shared_ptr<const std::string> graph_failure;
};

// Kernel id -> that kernel's current pipeline. Touched only in the handlers' turn.
using DagCabinet = std::unordered_map<std::string, CabinetEntry>;

}  // namespace pipeline
