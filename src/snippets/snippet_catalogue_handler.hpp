#pragma once
// The snippet catalogue's routes: every snippet with what it needs, and one snippet with its
// template text.

#include <filesystem>
#include <string>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "snippets/snippet_catalogue.hpp"

namespace snippets {

// Handler for listing every snippet with the parameters it takes.
class SnippetCatalogueHandler : public host::APIHandler {
public:
    SnippetCatalogueHandler(host::Exchange& exchange, SnippetCatalogue& catalogue,
                            std::filesystem::path snippets_dir)
        : host::APIHandler(exchange),
          catalogue_(catalogue),
          snippets_dir_(std::move(snippets_dir)) {}

    // {"snippets": [entry, ...]}, by category and then id.
    void get(const host::PathArgs& path_args) override;

private:
    host::Task _answer();

    SnippetCatalogue& catalogue_;
    std::filesystem::path snippets_dir_;
};

// Handler for one snippet, found by its category and id.
class SnippetHandler : public host::APIHandler {
public:
    SnippetHandler(host::Exchange& exchange, SnippetCatalogue& catalogue,
                   std::filesystem::path snippets_dir)
        : host::APIHandler(exchange),
          catalogue_(catalogue),
          snippets_dir_(std::move(snippets_dir)) {}

    // The snippet's entry with "template"; 404 "Snippet template not found." as the generate
    // route answers for the same names.
    void get(const host::PathArgs& path_args) override;

private:
    host::Task _answer(std::string category, std::string snippet_id);

    SnippetCatalogue& catalogue_;
    std::filesystem::path snippets_dir_;
};

}  // namespace snippets
