#pragma once
// Request bodies parsed into one block of memory: a pipeline of hundreds of components is
// thousands of values, and allocating, counting references to and freeing each of them one
// by one costs more than reading them.

#include <boost/json/value.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/json_io/deferred_array.hpp"

namespace json_io {

// The values of `document`, and the texts of `deferred`, borrow `memory`: whatever keeps one
// of them (or a part of one) must keep `memory` too, or copy it out
// (boost::json::value(std::move(v), {})).
struct JsonBody {
    std::shared_ptr<const void> memory;
    boost::json::value document;  // after memory, so destroyed before it
    // The array asked to be deferred, when the reader could: it is empty in the document.
    // Whoever takes the elements clears `deferred.found`.
    DeferredArray deferred;
    std::span<const std::string> deferred_path;

    // Builds the elements still deferred into their array in the document.
    void build_deferred();
};

// Parses a JSON text into a block sized from the text's length (more blocks follow if the
// document needs them); destroying the values then frees nothing one by one. The text is
// kept with the memory. With a path, the array there may be deferred (see read_json).
JsonBody parse_json_body(std::shared_ptr<const std::string> text, boost::system::error_code& error,
                         std::span<const std::string> deferred_path = {});

}  // namespace json_io
