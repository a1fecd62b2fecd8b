#pragma once
// The snippet catalogue's routes: every snippet with what it needs, and one snippet with its
// template text.

#include <filesystem>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "snippets/snippet_catalogue.hpp"

namespace snippets {

// Handler for listing every snippet with the parameters it takes.
class SnippetCatalogueHandler : public host::CoroutineHandler {
public:
    SnippetCatalogueHandler(host::Exchange& exchange, SnippetCatalogue& catalogue,
                            const std::filesystem::path& snippets_dir)
        : CoroutineHandler(exchange), catalogue_(catalogue), snippets_dir_(snippets_dir) {}

    // {"snippets": [entry, ...]}, by category and then id.
    host::Task get(const host::PathArgs& path_args) override;

private:
    SnippetCatalogue& catalogue_;
    const std::filesystem::path& snippets_dir_;
};

// Handler for one snippet, found by its category and id.
class SnippetHandler : public host::CoroutineHandler {
public:
    SnippetHandler(host::Exchange& exchange, SnippetCatalogue& catalogue,
                   const std::filesystem::path& snippets_dir)
        : CoroutineHandler(exchange), catalogue_(catalogue), snippets_dir_(snippets_dir) {}

    // The snippet's entry with "template"; 404 "Snippet template not found." as the generate
    // route answers for the same names.
    host::Task get(const host::PathArgs& path_args) override;

private:
    SnippetCatalogue& catalogue_;
    const std::filesystem::path& snippets_dir_;
};

}  // namespace snippets
