#pragma once
// Code snippets rendered from the Jinja2 templates below the snippets folder.

#include <boost/json/fwd.hpp>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "host/http_status.hpp"

namespace snippets {

// Handler for generating snippet code.
class SnippetGenerateHandler : public host::CoroutineHandler {
public:
    SnippetGenerateHandler(host::Exchange& exchange, const std::filesystem::path& snippets_dir)
        : CoroutineHandler(exchange), snippets_dir_(snippets_dir) {}

    // Generate snippet code from template with parameters.
    host::Task post(const host::PathArgs& path_args) override;

    // Render Jinja2 template with parameters.
    static std::string render_template(const std::filesystem::path& template_file,
                                       const boost::json::value& parameters);

private:
    // snippets_dir/category/snippet_id/snippet.jinja, or nullopt when no such file exists or
    // a name could leave its folder (empty, ".", "..", or holding "/", "\" or NUL).
    static std::optional<std::filesystem::path> template_file_of(
        const std::filesystem::path& snippets_dir, std::string_view category,
        std::string_view snippet_id);
    // On another thread: reads the request body, the template and renders it.
    std::pair<host::HTTPStatus, boost::json::object> generate();

    const std::filesystem::path& snippets_dir_;
};

}  // namespace snippets
