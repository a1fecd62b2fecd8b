// Deferred components, the model's part. Three files must agree: the body reader
// (json_io/json_reader.cpp) digests each component's members into fingerprint parts as it
// reads them; the fingerprint rules (json_io/json_fingerprint.cpp) combine those parts into
// what json_fingerprint gives for the component built as an object; and this file adds the
// parts of the defaults that check_component (models.cpp) fills in for absent fields, and
// takes a component as text only where check_component would take its object without a
// failure, reading the same fields. Then a component read as text and the same component read
// as an object share fingerprint, fields and JSON form, and a pipeline posted again counts as
// unchanged however it was read. When this file and check_component part,
// PipelineModel.ComponentsReadAsTextAreTheComponentsReadAsObjects fails (and the
// pipeline_model_fuzz target finds it).

#include "pipeline/deferred_components.hpp"

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/value.hpp>
#include <string>
#include <string_view>

#include "base/json_io/json_fingerprint.hpp"
#include "base/json_io/json_reader.hpp"
#include "pipeline/component_fields.hpp"

namespace pipeline {
namespace json = boost::json;
using namespace component_fields;

namespace {

// Whether a list of parents, as text that reads as JSON, is written the way the front end
// writes it: [{"id": "..."}, ...] with unescaped ids. Such a list passes check_parents.
bool is_plain_parent_list(std::string_view text) {
    std::size_t at = 0;
    const auto skip_space = [&] {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t')) {
            ++at;
        }
    };
    const auto take = [&](std::string_view word) {
        skip_space();
        if (text.substr(at, word.size()) != word) return false;
        at += word.size();
        return true;
    };
    if (!take("[")) return false;
    if (take("]")) return at == text.size();
    do {
        if (!take("{") || !take("\"id\"") || !take(":") || !take("\"")) return false;
        while (at < text.size() && text[at] != '"' && text[at] != '\\') ++at;
        if (at == text.size() || text[at] != '"') return false;
        ++at;
        if (!take("}")) return false;
    } while (take(","));
    return take("]") && at == text.size();
}

// The fingerprint part of the default check_component fills in for an absent field.
json_io::fingerprint::Part default_part(ComponentField field) {
    namespace fingerprint = json_io::fingerprint;
    if (field == kMetadata) return fingerprint::object_end({}, 0);
    if (field == kParents) return fingerprint::array_end(fingerprint::array_start(), 0);
    return fingerprint::null_value();
}

}  // namespace

bool add_usual_component(std::vector<NuvexLinkComponentModel>& components,
                         const json_io::DeferredArray& array,
                         const json_io::DeferredElement& element) {
    const json_io::DeferredMember* found[kFieldCount] = {};
    for (const auto& member : array.members_of(element)) {
        const int field = field_of(member.key);
        if (field < kFieldCount) found[field] = &member;
    }
    const auto* identifier = found[kIdentifier];
    if (!identifier || identifier->kind != json::kind::string || identifier->escaped) return false;
    for (int field : {kName, kCode}) {
        if (!found[field] || found[field]->kind != json::kind::string) return false;
    }
    std::string_view optional_texts[3];
    for (int field : {kDiskcacheDir, kExecutionStatus, kDiskcacheStatus}) {
        const auto* member = found[field];
        if (!member || member->kind == json::kind::null) continue;
        if (member->kind != json::kind::string || member->escaped) return false;
        optional_texts[field - kDiskcacheDir] = member->text;
    }
    if (found[kMetadata] && found[kMetadata]->kind != json::kind::object) return false;
    if (const auto* parents = found[kParents]) {
        if (parents->kind != json::kind::array) return false;
        if (!is_plain_parent_list(parents->text)) {
            unsigned char room[2048];
            json::monotonic_resource scratch(room, sizeof room);
            boost::system::error_code error;
            const auto list = json_io::read_json(parents->text, &scratch, error);
            try {
                check_parents(list.as_array(), [] { return std::string(); });
            } catch (const ModelError&) {
                return false;
            }
        }
    }
    auto sum = element.member_sum;
    std::size_t members = element.member_count;
    for (ComponentField field : kDefaulted) {
        if (found[field]) continue;
        json_io::fingerprint::add_member(
            sum, json_io::fingerprint::member(json_io::fingerprint::text(kComponentFields[field]),
                                              default_part(field)));
        ++members;
    }
    components.emplace_back(
        element.text, identifier->text, optional_texts[0], optional_texts[1], optional_texts[2],
        json_io::fingerprint::finish(json_io::fingerprint::object_end(sum, members)));
    return true;
}

}  // namespace pipeline
