#pragma once
// Jinja2 templates rendered by the real Jinja2 engine (Debian's python3-jinja2) in an embedded
// Python interpreter. The interpreter starts on the first render and lives as long as the
// process; renders may come from any thread.

#include <boost/json/fwd.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace snippets {

// The engine raised a ValueError (or a subclass) while compiling or rendering; the text is
// the error's own.
class TemplateValueError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Any other failure: the interpreter or Jinja2 would not start, a syntax error, an undefined
// name used as an object, parameters that are not an object. The text is for the log.
class TemplateEngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Renders template source with Jinja2's default settings: no autoescaping, a missing name
// renders as "", one trailing newline dropped. Each entry of the `parameters` object becomes
// a template variable (JSON objects as dicts, arrays as lists, null as None).
std::string render_template_source(std::string_view source, const boost::json::value& parameters);

// True once the interpreter runs and Jinja2 is loaded.
bool template_engine_started();

}  // namespace snippets
