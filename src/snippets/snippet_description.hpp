#pragma once
// What a snippet says of itself in the optional snippet.json beside its template:
//   {"title": text, "description": text,
//    "parameters": {"<name>": {"description": text, "default": any, "example": any}, ...}}
// Every key is optional; keys it does not know are mistakes (a misspelt "default" would
// otherwise pass unnoticed).

#include <boost/json/value.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace snippets {

// A snippet.json that is not JSON or does not fit; the text names each field at fault, e.g.
// "title: str type expected; parameters.version.defualt: extra fields not permitted".
class SnippetDescriptionError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

struct ParameterDescription {
    std::string name;
    std::string description;
    std::optional<boost::json::value> default_value;
    std::optional<boost::json::value> example;
};

struct SnippetDescription {
    std::optional<std::string> title;
    std::optional<std::string> description;
    // In the order the file declares them.
    std::vector<ParameterDescription> parameters;

    const ParameterDescription* parameter(std::string_view name) const;
    static SnippetDescription from_json_text(std::string_view text);
};

}  // namespace snippets
