#include "page/component_cache_size.hpp"

#include <boost/json/object.hpp>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "base/files/dir_size.hpp"
#include "host/json_answer.hpp"

namespace page {

host::Task ComponentCacheSizeHandler::get(const host::PathArgs& path_args) {
    const std::string& kernel_id = path_args.at(0);
    const std::string& identifier = path_args.at(1);
    const auto entry = dag_cabinet_.find(kernel_id);
    if (entry == dag_cabinet_.end()) {
        host::finish_with_json(
            *this, host::HTTPStatus::NOT_FOUND,
            boost::json::object{{"message", "kernel_id: '" + kernel_id + "' not valid."}});
        co_return;
    }
    std::optional<std::string> cache_dir;
    bool found = false;
    for (const auto& component : entry->second.pipeline->components()) {
        if (!component.stands_for_identifier() || component.identifier() != identifier) continue;
        found = true;
        if (const auto dir = component.diskcache_dir()) cache_dir.emplace(*dir);
        break;
    }
    if (!found) {
        host::finish_with_json(
            *this, host::HTTPStatus::NOT_FOUND,
            boost::json::object{{"message", "component: '" + identifier + "' not found."}});
        co_return;
    }
    boost::json::object answer{{"identifier", identifier}, {"cache_bytes", nullptr}};
    if (cache_dir) {
        const std::optional<std::uintmax_t> bytes =
            co_await run_blocking([&cache_dir]() -> std::optional<std::uintmax_t> {
                try {
                    return base::get_dir_size(*cache_dir);
                } catch (const std::exception&) {
                    return std::nullopt;
                }
            });
        if (bytes) answer["cache_bytes"] = *bytes;
    }
    host::finish_with_json(*this, host::HTTPStatus::OK, answer);
}

}  // namespace page
