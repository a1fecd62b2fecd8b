#include "snippets/snippet_description.hpp"

#include <algorithm>
#include <boost/json/object.hpp>
#include <boost/system/error_code.hpp>
#include <initializer_list>

#include "base/json_io/json_reader.hpp"

namespace snippets {
namespace {

// Collects the problems of one file, each under the path of its field.
class Problems {
public:
    void add(std::string_view field, std::string_view problem) {
        if (!text_.empty()) text_ += "; ";
        text_.append(field).append(": ").append(problem);
    }
    void throw_if_any() const {
        if (!text_.empty()) throw SnippetDescriptionError(text_);
    }

private:
    std::string text_;
};

std::optional<std::string> take_text(const boost::json::object& object, std::string_view key,
                                     const std::string& field, Problems& problems) {
    const auto* value = object.if_contains(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) {
        problems.add(field, "str type expected");
        return std::nullopt;
    }
    return std::string(value->get_string());
}

void refuse_other_keys(const boost::json::object& object,
                       std::initializer_list<std::string_view> known, const std::string& prefix,
                       Problems& problems) {
    for (const auto& [key, value] : object) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            problems.add(prefix + std::string(key), "extra fields not permitted");
        }
    }
}

ParameterDescription take_parameter(std::string_view name, const boost::json::value& value,
                                    Problems& problems) {
    const std::string field = "parameters." + std::string(name);
    ParameterDescription parameter{std::string(name), {}, {}, {}};
    if (!value.is_object()) {
        problems.add(field, "dict type expected");
        return parameter;
    }
    const auto& object = value.get_object();
    refuse_other_keys(object, {"description", "default", "example"}, field + ".", problems);
    parameter.description =
        take_text(object, "description", field + ".description", problems).value_or("");
    if (const auto* found = object.if_contains("default")) parameter.default_value = *found;
    if (const auto* found = object.if_contains("example")) parameter.example = *found;
    return parameter;
}

}  // namespace

const ParameterDescription* SnippetDescription::parameter(std::string_view name) const {
    for (const auto& parameter : parameters) {
        if (parameter.name == name) return &parameter;
    }
    return nullptr;
}

SnippetDescription SnippetDescription::from_json_text(std::string_view text) {
    boost::system::error_code error;
    const boost::json::value document = json_io::read_json(text, {}, error);
    if (error) throw SnippetDescriptionError("invalid JSON: " + error.message());
    if (!document.is_object()) throw SnippetDescriptionError("dict type expected");
    const auto& object = document.get_object();

    Problems problems;
    refuse_other_keys(object, {"title", "description", "parameters"}, "", problems);
    SnippetDescription description;
    description.title = take_text(object, "title", "title", problems);
    description.description = take_text(object, "description", "description", problems);
    if (const auto* parameters = object.if_contains("parameters")) {
        if (!parameters->is_object()) {
            problems.add("parameters", "dict type expected");
        } else {
            for (const auto& [name, value] : parameters->get_object()) {
                description.parameters.push_back(take_parameter(name, value, problems));
            }
        }
    }
    problems.throw_if_any();
    return description;
}

}  // namespace snippets
