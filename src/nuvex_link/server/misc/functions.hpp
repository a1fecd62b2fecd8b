#pragma once
// Comparing two pipelines of one kernel.

#include "nuvex_link/server/misc/models.hpp"
#include "nuvex_link_core/models.hpp"

namespace nuvex_link::server::misc {

// Components are matched by identifier: added when only the new pipeline has one, deleted
// when only the old one has it, revised when any field of the two differs (their fingerprints
// differ). Lists keep the pipelines' component order.
NuvexLinkDagUpdateModel get_dag_update_info(const nuvex_link_core::NuvexLinkPipelineModel& old,
                                            const nuvex_link_core::NuvexLinkPipelineModel& now);

}  // namespace nuvex_link::server::misc
