#pragma once
// Comparing two pipelines of one kernel.

#include "pipeline/models.hpp"
#include "pipeline/update_info.hpp"

namespace pipeline {

// Components are matched by identifier: added when only the new pipeline has one, deleted
// when only the old one has it, revised when any field of the two differs (their fingerprints
// differ). Lists keep the pipelines' component order.
NuvexLinkDagUpdateModel get_dag_update_info(const pipeline::NuvexLinkPipelineModel& old,
                                            const pipeline::NuvexLinkPipelineModel& now);

}  // namespace pipeline
