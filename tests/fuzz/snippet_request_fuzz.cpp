// Snippet request bodies in any shape: the request model takes them or refuses them with a
// SnippetModelError naming each field at fault, and nothing else escapes.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/json_io/json_reader.hpp"
#include "fuzz_check.hpp"
#include "snippets/snippet_request.hpp"

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    boost::system::error_code error;
    const auto body =
        boost::json::parse(std::string_view(reinterpret_cast<const char*>(data), size), error, {},
                           json_io::reader_parse_options());
    if (error || !body.is_object()) return 0;
    using snippets::SnippetCodeRequestModel;
    try {
        const auto model = SnippetCodeRequestModel::from_json(body.get_object());
        check(body.get_object().at("category").as_string() == model.category);
        check(body.get_object().at("snippet_id").as_string() == model.snippet_id);
        const auto* parameters = body.get_object().if_contains("parameters");
        check(parameters ? *parameters == model.parameters : model.parameters.is_object());
    } catch (const snippets::SnippetModelError& refused) {
        const std::string_view text = refused.what();
        check(text.find("category") != text.npos || text.find("snippet_id") != text.npos);
    }
    return 0;
}
