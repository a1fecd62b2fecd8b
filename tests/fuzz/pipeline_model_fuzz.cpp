// A DAG POST body in any shape: the pipeline model either refuses it with a ModelError that
// names the field, or accepts it, and then the update against the previous pipeline and the
// pipeline's own JSON form are written without failing.
//
// Input: a JSON array of pipelines posted in turn for one kernel, or a single pipeline.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "fuzz_check.hpp"
#include "host/json_text.hpp"
#include "nuvex_link/server/misc/functions.hpp"
#include "nuvex_link_core/models.hpp"

namespace {

using nuvex_link_core::ModelError;
using nuvex_link_core::NuvexLinkPipelineModel;

using fuzz_support::check;

void post(NuvexLinkPipelineModel& stored, const boost::json::value& body) {
    if (!body.is_object()) return;
    try {
        auto next = NuvexLinkPipelineModel::from_json(body.get_object());
        const auto update = nuvex_link::server::misc::get_dag_update_info(stored, next);
        const auto update_dict = update.dict();
        check(update_dict.at("identifier").as_string() == next.identifier());
        (void)host::to_json_text(update_dict);
        (void)host::to_json_text(next.to_nuvexlink_dict());
        (void)host::to_json_text(next.to_nuvexlink_dict(true));
        // The same pipeline again is no change at all.
        check(nuvex_link::server::misc::get_dag_update_info(next, next).updated_components.empty());
        stored = std::move(next);
    } catch (const ModelError& refused) {
        check(std::string_view(refused.what()).find(": ") != std::string_view::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    boost::system::error_code error;
    const auto body =
        boost::json::parse(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (error) return 0;
    NuvexLinkPipelineModel stored("kernel");
    if (body.is_array()) {
        for (const auto& pipeline : body.get_array()) post(stored, pipeline);
    } else {
        post(stored, body);
    }
    return 0;
}
