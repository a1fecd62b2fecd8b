#pragma once
// rsync's itemized output (-i, one line per changed entry) read as a list of file changes.

#include <string>
#include <string_view>
#include <vector>

namespace datasets {

struct FileChange {
    std::string path;
    std::string_view status;  // "added", "deleted" or "edited"

    bool operator==(const FileChange&) const = default;
};

// Lines whose code starts with "." (nothing transferred) and blank lines are skipped; "*del"
// is a deletion, a "+" third column an addition, anything else an edit. Runs of white space in
// a name are read as one blank. Fails on a line too short to classify.
std::vector<FileChange> parse_itemized_changes(std::string_view itemized);

}  // namespace datasets
