#include "snippets/snippet_catalogue.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <tuple>
#include <vector>

#include "base/json_io/json_text.hpp"
#include "base/logging/log.hpp"
#include "base/text/utf8.hpp"
#include "snippets/snippet_description.hpp"
#include "snippets/snippet_files.hpp"
#include "snippets/template_engine.hpp"
#include "snippets/text_decoding.hpp"

namespace snippets {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTemplateName = "snippet.jinja";
constexpr std::string_view kDescriptionName = "snippet.json";

// Bytes outside printable ASCII as \xNN, so that a hostile name cannot forge log lines.
std::string printable(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text;
}

std::string cannot_read(std::string_view file, const fs::filesystem_error& error) {
    return std::string(file) + ": cannot read it: " + error.code().message();
}

boost::json::array texts(const std::vector<std::string>& items) {
    boost::json::array array;
    for (const auto& item : items) array.emplace_back(item);
    return array;
}

}  // namespace

boost::json::array SnippetCatalogue::list(const fs::path& snippets_dir) {
    const std::lock_guard lock(mutex_);
    std::error_code error;
    const fs::path root = fs::canonical(snippets_dir, error);
    if (error == std::errc::no_such_file_or_directory) return {};
    if (error) throw fs::filesystem_error("cannot open the snippets folder", snippets_dir, error);

    std::vector<Location> found;
    for (const auto& category : fs::directory_iterator(root)) {
        if (!accepted(category, root, true)) continue;
        fs::directory_iterator snippets(category.path(), error);
        if (error) {
            skip(category.path(), "cannot be read: " + error.message());
            continue;
        }
        for (const auto& snippet : snippets) {
            if (!accepted(snippet, root, true)) continue;
            const fs::directory_entry template_file(snippet.path() / kTemplateName, error);
            if (error || !accepted(template_file, root, false)) continue;
            found.push_back({snippet.path(), category.path().filename().string(),
                             snippet.path().filename().string()});
        }
    }
    std::sort(found.begin(), found.end(), [](const Location& a, const Location& b) {
        return std::tie(a.category, a.snippet_id) < std::tie(b.category, b.snippet_id);
    });

    boost::json::array catalogue;
    catalogue.reserve(found.size());
    std::set<fs::path> listed;
    for (const auto& snippet : found) {
        catalogue.push_back(describe(snippet, root));
        listed.insert(snippet.folder);
    }
    // What was kept of snippets that are gone goes with them.
    std::erase_if(kept_, [&](const auto& item) {
        return is_below(item.first, root) && !listed.contains(item.first);
    });
    return catalogue;
}

std::optional<boost::json::object> SnippetCatalogue::find(const fs::path& snippets_dir,
                                                          std::string_view category,
                                                          std::string_view snippet_id) {
    for (const std::string_view name : {category, snippet_id}) {
        if (!is_plain_name(name) || !base::is_valid_utf8(name)) return std::nullopt;
    }
    const std::lock_guard lock(mutex_);
    std::error_code error;
    const fs::path root = fs::canonical(snippets_dir, error);
    if (error) return std::nullopt;
    const Location snippet{root / category / snippet_id, std::string(category),
                           std::string(snippet_id)};
    const fs::directory_entry category_folder(root / category, error);
    if (error || !accepted(category_folder, root, true)) return std::nullopt;
    const fs::directory_entry snippet_folder(snippet.folder, error);
    if (error || !accepted(snippet_folder, root, true)) return std::nullopt;
    const fs::directory_entry template_file(snippet.folder / kTemplateName, error);
    if (error || !accepted(template_file, root, false)) return std::nullopt;

    boost::json::object entry = describe(snippet, root);
    try {
        entry["template"] = read_snippet_text(template_file.path());
    } catch (const std::exception&) {
        entry["template"] = nullptr;  // "errors" says why
    }
    return entry;
}

const boost::json::object& SnippetCatalogue::describe(const Location& snippet,
                                                      const fs::path& root) {
    const fs::path template_file = snippet.folder / kTemplateName;
    const std::optional<fs::path> description_path = description_file(snippet.folder, root);
    const std::optional<FileVersion> template_version = version_of(template_file);
    const std::optional<FileVersion> description_version =
        description_path ? version_of(*description_path) : std::nullopt;
    const auto kept = kept_.find(snippet.folder);
    if (kept != kept_.end() && template_version &&
        kept->second.template_version == *template_version &&
        kept->second.description_version == description_version) {
        return kept->second.entry;
    }

    std::vector<std::string> errors;
    std::optional<std::vector<std::string>> used;
    try {
        used = template_parameters(read_snippet_text(template_file));
    } catch (const TemplateSyntaxError& error) {
        errors.push_back(std::string(kTemplateName) + ": " + error.what());
    } catch (const UnicodeDecodeError& error) {
        errors.push_back(std::string(kTemplateName) + ": " + error.what());
    } catch (const fs::filesystem_error& error) {
        errors.push_back(cannot_read(kTemplateName, error));
    }
    std::optional<SnippetDescription> described;
    if (description_path) {
        try {
            described = SnippetDescription::from_json_text(read_snippet_text(*description_path));
        } catch (const SnippetDescriptionError& error) {
            errors.push_back(std::string(kDescriptionName) + ": " + error.what());
        } catch (const UnicodeDecodeError& error) {
            errors.push_back(std::string(kDescriptionName) + ": " + error.what());
        } catch (const fs::filesystem_error& error) {
            errors.push_back(cannot_read(kDescriptionName, error));
        }
    }

    boost::json::object entry;
    entry["category"] = snippet.category;
    entry["snippet_id"] = snippet.snippet_id;
    entry["title"] = described && described->title ? *described->title : snippet.snippet_id;
    entry["description"] =
        described && described->description ? *described->description : std::string();
    std::vector<std::string> undeclared;
    std::vector<std::string> unused;
    if (used) {
        boost::json::array parameters;
        for (const auto& name : *used) {
            boost::json::object parameter{{"name", name}, {"description", ""}};
            const ParameterDescription* declared = described ? described->parameter(name) : nullptr;
            if (declared != nullptr) {
                parameter["description"] = declared->description;
                if (declared->default_value) parameter["default"] = *declared->default_value;
                if (declared->example) parameter["example"] = *declared->example;
            } else if (described) {
                undeclared.push_back(name);
            }
            parameters.push_back(std::move(parameter));
        }
        entry["parameters"] = std::move(parameters);
        if (described) {
            for (const auto& declared : described->parameters) {
                if (std::find(used->begin(), used->end(), declared.name) == used->end()) {
                    unused.push_back(declared.name);
                }
            }
        }
    } else {
        entry["parameters"] = nullptr;
    }
    entry["undeclared_parameters"] = texts(undeclared);
    entry["unused_parameters"] = texts(unused);
    entry["errors"] = texts(errors);

    // A template that could not be looked at is described again next time (the check above
    // wants its version).
    Kept& kept_entry = kept_[snippet.folder];
    kept_entry = {template_version.value_or(FileVersion{}), description_version, std::move(entry)};
    return kept_entry.entry;
}

std::optional<SnippetCatalogue::FileVersion> SnippetCatalogue::version_of(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) return std::nullopt;
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
    };
    return FileVersion{status.st_dev, status.st_ino, status.st_size, nanoseconds(status.st_mtim),
                       nanoseconds(status.st_ctim)};
}

bool SnippetCatalogue::accepted(const fs::directory_entry& entry, const fs::path& root,
                                bool want_folder) {
    const std::string name = entry.path().filename().string();
    if (!is_plain_name(name) || !base::is_valid_utf8(name)) {
        skip(entry.path(), "a name that is not UTF-8 or could leave its folder");
        return false;
    }
    std::error_code error;
    if (entry.is_symlink(error)) {
        const fs::path target = fs::canonical(entry.path(), error);
        if (error) {
            if (error != std::errc::no_such_file_or_directory) skip(entry.path(), error.message());
            return false;
        }
        if (!is_below(target, root)) {
            skip(entry.path(), "a link that leads out of the snippets folder");
            return false;
        }
    }
    return want_folder ? entry.is_directory(error) : entry.is_regular_file(error);
}

std::optional<fs::path> SnippetCatalogue::description_file(const fs::path& folder,
                                                           const fs::path& root) {
    std::error_code error;
    const fs::directory_entry file(folder / kDescriptionName, error);
    if (error || !file.exists(error) || !accepted(file, root, false)) return std::nullopt;
    return file.path();
}

void SnippetCatalogue::skip(const fs::path& path, std::string_view why) {
    if (!skipped_.insert(path.string()).second) return;
    logging::server_log().warning("The snippet catalogue skips " + printable(path.string()) + ": " +
                                  std::string(why));
}

}  // namespace snippets
