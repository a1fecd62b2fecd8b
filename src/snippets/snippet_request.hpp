#pragma once
// The request and answer of snippet generation.

#include <boost/json/fwd.hpp>
#include <boost/json/value.hpp>
#include <stdexcept>
#include <string>

namespace snippets {

// A request body that does not fit the request model; the text names each field at fault,
// e.g. "category: field required; snippet_id: str type expected".
class SnippetModelError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

struct SnippetCodeRequestModel {
    std::string category;
    std::string snippet_id;
    // An empty object when the body has none; otherwise exactly what the body holds (null or
    // a list included), so that a value that is not an object fails when it is rendered.
    boost::json::value parameters;

    // Other keys of the body are ignored.
    static SnippetCodeRequestModel from_json(const boost::json::object& body);
};

struct SnippetCodeResponseModel {
    std::string code;

    // {"code": code}
    boost::json::object dict() const;
};

}  // namespace snippets
