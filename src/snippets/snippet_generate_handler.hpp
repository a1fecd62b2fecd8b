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
class SnippetGenerateHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // Generate snippet code from template with parameters.
    void post(const host::PathArgs& path_args) override;

    // Render Jinja2 template with parameters.
    static std::string _render_template(const std::filesystem::path& template_file,
                                        const boost::json::value& parameters);

private:
    // snippets_dir/category/snippet_id/snippet.jinja, or nullopt when no such file exists or
    // a name could leave its folder (empty, ".", "..", or holding "/", "\" or NUL).
    static std::optional<std::filesystem::path> _template_file(
        const std::filesystem::path& snippets_dir, std::string_view category,
        std::string_view snippet_id);
    std::pair<host::HTTPStatus, boost::json::object> _generate();
    host::Task _answer_generated();
};

}  // namespace snippets
