#include "cache/download_name.hpp"

#include "base/uri/percent_coding.hpp"

namespace cache {

std::string notebook_stem(std::string_view ipynb_name) {
    std::string_view base = ipynb_name.substr(ipynb_name.rfind('/') + 1);
    std::size_t first_non_dot = base.find_first_not_of('.');
    std::size_t last_dot = base.rfind('.');
    if (first_non_dot != std::string_view::npos && last_dot != std::string_view::npos &&
        last_dot > first_non_dot) {
        base = base.substr(0, last_dot);
    }
    return std::string(base);
}

std::string attachment_disposition(std::string_view artifact_name) {
    return "attachment; filename=" + uri::percent_encode(artifact_name, "/");
}

}  // namespace cache
