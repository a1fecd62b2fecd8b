#include "snippets/snippet_catalogue_handler.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <optional>
#include <utility>

#include "host/json_answer.hpp"

namespace snippets {

host::Task SnippetCatalogueHandler::get(const host::PathArgs&) {
    // Walking the folder and parsing changed templates wait on the disk and the engine.
    boost::json::array snippets =
        co_await run_blocking([this] { return catalogue_.list(snippets_dir_); });
    host::finish_with_json(*this, host::HTTPStatus::OK,
                           boost::json::object{{"snippets", std::move(snippets)}});
}

host::Task SnippetHandler::get(const host::PathArgs& path_args) {
    const std::string& category = path_args.at(0);
    const std::string& snippet_id = path_args.at(1);
    std::optional<boost::json::object> snippet =
        co_await run_blocking([this, &category, &snippet_id] {
            return catalogue_.find(snippets_dir_, category, snippet_id);
        });
    if (!snippet) {
        host::finish_with_json(*this, host::HTTPStatus::NOT_FOUND,
                               boost::json::object{{"message", "Snippet template not found."}});
        co_return;
    }
    host::finish_with_json(*this, host::HTTPStatus::OK, *snippet);
}

}  // namespace snippets
