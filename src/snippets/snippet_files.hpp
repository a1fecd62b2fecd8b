#pragma once
// The files of a snippet, <snippets folder>/<category>/<snippet_id>/snippet.jinja (and the
// optional snippet.json beside it): which names may lead there, and how a template is read.

#include <filesystem>
#include <string>
#include <string_view>

namespace snippets {

// A name that stays one folder level below its parent: not empty, ".", "..", and without "/",
// "\" or NUL.
bool is_plain_name(std::string_view name);

// Whether `path` lies strictly below `root`, both already free of links and "..".
bool is_below(const std::filesystem::path& path, const std::filesystem::path& root);

// A template (or snippet.json) read as the engine takes it: strict UTF-8, text-mode line ends.
// Throws std::filesystem::filesystem_error when the file cannot be read and UnicodeDecodeError
// when it is not UTF-8.
std::string read_snippet_text(const std::filesystem::path& file);

}  // namespace snippets
