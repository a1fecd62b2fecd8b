// A DAG POST body in any shape: the pipeline model either refuses it with a ModelError that
// names the field, or accepts it, and then the update against the previous pipeline and the
// pipeline's own JSON form are written without failing.
//
// Read from its text as a posted body is, with the components kept as text where they can
// be, a pipeline is refused with the same failure or makes the same model. A pipeline holding a
// number too large for a double has no JSON text (it is written as Infinity), so it is only
// read as a value.
//
// Input: a JSON array of pipelines posted in turn for one kernel, or a single pipeline.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/json_io/json_body.hpp"
#include "base/json_io/json_reader.hpp"
#include "base/json_io/json_text.hpp"
#include "fuzz_check.hpp"
#include "pipeline/models.hpp"
#include "pipeline/update_diff.hpp"
#include "same_json.hpp"

namespace {

using pipeline::ModelError;
using pipeline::NuvexLinkPipelineModel;

using fuzz_support::check;

using ReadFromText = std::variant<NuvexLinkPipelineModel, std::string>;

// The model of a pipeline read from its text, or the failure's text; nothing when its text is
// not JSON.
std::optional<ReadFromText> from_text(const boost::json::object& pipeline) {
    static const std::vector<std::string> path = {"graph", "components"};
    boost::system::error_code error;
    auto body = json_io::parse_json_body(
        std::make_shared<const std::string>(json_io::to_json_text(pipeline)), error, path);
    if (error) {
        check(!fuzz_support::all_finite(boost::json::value(pipeline)));
        return std::nullopt;
    }
    auto& object = body.document.as_object();
    try {
        return NuvexLinkPipelineModel::from_json(std::move(object), body.deferred, body.memory);
    } catch (const ModelError& refused) {
        return std::string(refused.what());
    }
}

void check_same_model(const NuvexLinkPipelineModel& model,
                      const std::optional<ReadFromText>& read) {
    if (!read) return;
    const auto* same = std::get_if<NuvexLinkPipelineModel>(&*read);
    check(same != nullptr);
    check(same->components().size() == model.components().size());
    for (std::size_t index = 0; index < model.components().size(); ++index) {
        check(same->components()[index].fingerprint() == model.components()[index].fingerprint());
        check(same->components()[index].identifier() == model.components()[index].identifier());
    }
    check(fuzz_support::same_json(boost::json::value(model.to_nuvexlink_dict(true)),
                                  boost::json::value(same->to_nuvexlink_dict(true))));
}

void post(NuvexLinkPipelineModel& stored, const boost::json::value& body) {
    if (!body.is_object()) return;
    const auto read = from_text(body.get_object());
    try {
        auto next = NuvexLinkPipelineModel::from_json(body.get_object());
        check_same_model(next, read);
        const auto update = pipeline::get_dag_update_info(stored, next);
        const auto update_dict = update.dict();
        check(update_dict.at("identifier").as_string() == next.identifier());
        (void)json_io::to_json_text(update_dict);
        (void)json_io::to_json_text(next.to_nuvexlink_dict());
        (void)json_io::to_json_text(next.to_nuvexlink_dict(true));
        // The same pipeline again is no change at all.
        check(pipeline::get_dag_update_info(next, next).updated_components.empty());
        stored = std::move(next);
    } catch (const ModelError& refused) {
        check(std::string_view(refused.what()).find(": ") != std::string_view::npos);
        if (!read) return;
        check(std::get_if<std::string>(&*read) &&
              *std::get_if<std::string>(&*read) == refused.what());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    boost::system::error_code error;
    const auto body =
        boost::json::parse(std::string_view(reinterpret_cast<const char*>(data), size), error, {},
                           json_io::reader_parse_options());
    if (error) return 0;
    NuvexLinkPipelineModel stored("kernel");
    if (body.is_array()) {
        for (const auto& pipeline : body.get_array()) post(stored, pipeline);
    } else {
        post(stored, body);
    }
    return 0;
}
