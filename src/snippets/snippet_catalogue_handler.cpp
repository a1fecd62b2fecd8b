#include "snippets/snippet_catalogue_handler.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <optional>
#include <utility>

#include "host/blocking_call.hpp"
#include "host/json_answer.hpp"

namespace snippets {

void SnippetCatalogueHandler::get(const host::PathArgs&) { wait_for(_answer()); }

host::Task SnippetCatalogueHandler::_answer() {
    // Walking the folder and parsing changed templates wait on the disk and the engine.
    boost::json::array snippets =
        co_await host::run_blocking([this] { return catalogue_.list(snippets_dir_); });
    host::finish_with_json(*this, host::HTTPStatus::OK,
                           boost::json::object{{"snippets", std::move(snippets)}});
}

void SnippetHandler::get(const host::PathArgs& path_args) {
    wait_for(_answer(path_args.at(0), path_args.at(1)));
}

// A coroutine takes its parameters by value: references would dangle once it suspends.
// cppcheck-suppress passedByValue
host::Task SnippetHandler::_answer(std::string category, std::string snippet_id) {
    std::optional<boost::json::object> snippet =
        co_await host::run_blocking([this, &category, &snippet_id] {
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
