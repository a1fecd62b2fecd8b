#pragma once
// Request bodies parsed into one block of memory: a pipeline of hundreds of components is
// thousands of values, and allocating, counting references to and freeing each of them one
// by one costs more than reading them.

#include <boost/json/value.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <string_view>

namespace host {

// The values of `document` borrow `memory`: whatever keeps one of them (or a part of one)
// must keep `memory` too, or copy it out (boost::json::value(std::move(v), {})).
struct JsonBody {
    std::shared_ptr<const void> memory;
    boost::json::value document;  // after memory, so destroyed before it
};

// Parses a JSON text into a block sized from the text's length (more blocks follow if the
// document needs them); destroying the values then frees nothing one by one.
JsonBody parse_json_body(std::string_view text, boost::system::error_code& error);

}  // namespace host
