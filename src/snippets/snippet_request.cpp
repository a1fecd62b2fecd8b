#include "snippets/snippet_request.hpp"

#include <boost/json/object.hpp>
#include <string_view>

namespace snippets {
namespace {

// Reads one required text field; a missing or mistyped field adds its problem to `problems`.
std::string take_text(const boost::json::object& body, std::string_view key,
                      std::string& problems) {
    const auto* value = body.if_contains(key);
    const char* problem = nullptr;
    if (value == nullptr) {
        problem = "field required";
    } else if (!value->is_string()) {
        problem = "str type expected";
    } else {
        return std::string(value->get_string());
    }
    if (!problems.empty()) problems += "; ";
    problems.append(key).append(": ").append(problem);
    return {};
}

}  // namespace

SnippetCodeRequestModel SnippetCodeRequestModel::from_json(const boost::json::object& body) {
    std::string problems;
    SnippetCodeRequestModel model;
    model.category = take_text(body, "category", problems);
    model.snippet_id = take_text(body, "snippet_id", problems);
    if (!problems.empty()) throw SnippetModelError(problems);
    const auto* parameters = body.if_contains("parameters");
    model.parameters = parameters ? *parameters : boost::json::object();
    return model;
}

boost::json::object SnippetCodeResponseModel::dict() const { return {{"code", code}}; }

}  // namespace snippets
