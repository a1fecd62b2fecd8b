#pragma once
// The catalogue of the snippets below a snippets folder: for each
// <category>/<snippet_id>/snippet.jinja, its title, description and the parameters its
// template takes, as found by the template engine and described by an optional snippet.json.
//
// Only real folders and files below the snippets folder count: a link that leads out of it,
// a name that is empty, "." or "..", holds "/", "\" or NUL, or is not UTF-8 is skipped (and
// logged once). What the engine found is kept until the template or its snippet.json changes,
// so listing again costs a walk of the folder and two file checks per snippet.
//
// Every call blocks (the disk, the engine): run it outside the handlers' turn. Calls may come
// from several threads at once.

#include <sys/types.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace snippets {

class SnippetCatalogue {
public:
    // Every snippet, sorted by category and then by id (as bytes). Each entry:
    //   {"category", "snippet_id", "title", "description",
    //    "parameters": [{"name", "description", "default"?, "example"?}, ...] or null,
    //    "undeclared_parameters": [...], "unused_parameters": [...], "errors": [...]}
    // "parameters" is null when the template cannot be read or does not compile; "errors"
    // says why, and names a snippet.json that is not JSON or does not fit.
    boost::json::array list(const std::filesystem::path& snippets_dir);

    // One snippet's entry with its template's text under "template" (null when the template
    // cannot be read as text); nullopt when no snippet has that category and id.
    std::optional<boost::json::object> find(const std::filesystem::path& snippets_dir,
                                            std::string_view category, std::string_view snippet_id);

private:
    // What identifies one version of a file: a change of content or a replacement gives
    // another.
    struct FileVersion {
        dev_t device;
        ino_t inode;
        off_t size;
        long long modified_ns;
        long long changed_ns;
        bool operator==(const FileVersion&) const = default;
    };
    struct Kept {
        FileVersion template_version;
        std::optional<FileVersion> description_version;
        boost::json::object entry;
    };
    struct Location {
        std::filesystem::path folder;
        std::string category;
        std::string snippet_id;
    };

    static std::optional<FileVersion> version_of(const std::filesystem::path& file);
    const boost::json::object& describe(const Location& snippet, const std::filesystem::path& root);
    // True when the entry is a real folder (or regular file) below `root` with a plain UTF-8
    // name; a name or link that could lead elsewhere is skipped and logged once.
    bool accepted(const std::filesystem::directory_entry& entry, const std::filesystem::path& root,
                  bool want_folder);
    std::optional<std::filesystem::path> description_file(const std::filesystem::path& folder,
                                                          const std::filesystem::path& root);
    void skip(const std::filesystem::path& path, std::string_view why);

    std::mutex mutex_;
    std::map<std::filesystem::path, Kept> kept_;  // by snippet folder
    std::set<std::string> skipped_;               // logged already
};

}  // namespace snippets
