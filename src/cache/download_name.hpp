#pragma once
// The name and header of a cache download, made from the notebook's path.

#include <string>
#include <string_view>

namespace cache {

// The notebook's file name without its folders and extension ("work/My Notebook.ipynb" gives
// "My Notebook"); a leading dot does not start an extension.
std::string notebook_stem(std::string_view ipynb_name);

// The Content-Disposition value of a download: the name's UTF-8 bytes percent-encoded, with
// letters, digits, "_.-~/" kept.
std::string attachment_disposition(std::string_view artifact_name);

}  // namespace cache
