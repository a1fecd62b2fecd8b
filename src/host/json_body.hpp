#pragma once
// Request bodies parsed into one block of memory: a pipeline of hundreds of components is
// thousands of values, and allocating and freeing each of them one by one costs more than
// reading them.

#include <boost/json/value.hpp>
#include <boost/system/error_code.hpp>
#include <string_view>

namespace host {

// Parses a JSON text into a block sized from the text's length (more blocks follow if the
// document needs them). Every value of the result shares the block, which is released when
// the last of them is gone, so parts of a body may be kept after the request.
boost::json::value parse_json_body(std::string_view text, boost::system::error_code& error);

}  // namespace host
