#include "page/component_cache_size.hpp"

#include <boost/json/object.hpp>
#include <cstdint>
#include <exception>

#include "base/files/dir_size.hpp"
#include "host/blocking_call.hpp"
#include "host/json_answer.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {

using host::finish_with_json;
using host::HTTPStatus;

void ComponentCacheSizeHandler::get(const host::PathArgs& path_args) {
    const std::string& kernel_id = path_args.at(0);
    const std::string& identifier = path_args.at(1);
    const auto entry = pipeline::dag_cabinet.find(kernel_id);
    if (entry == pipeline::dag_cabinet.end()) {
        finish_with_json(
            *this, HTTPStatus::NOT_FOUND,
            boost::json::object{{"message", "kernel_id: '" + kernel_id + "' not valid."}});
        return;
    }
    for (const auto& component : entry->second.pipeline->components()) {
        if (!component.stands_for_identifier() || component.identifier() != identifier) continue;
        const auto cache_dir = component.diskcache_dir();
        if (!cache_dir) {
            finish_with_json(
                *this, HTTPStatus::OK,
                boost::json::object{{"identifier", identifier}, {"cache_bytes", nullptr}});
            return;
        }
        wait_for(_answer(identifier, std::string(*cache_dir)));
        return;
    }
    finish_with_json(
        *this, HTTPStatus::NOT_FOUND,
        boost::json::object{{"message", "component: '" + identifier + "' not found."}});
}

host::Task ComponentCacheSizeHandler::_answer(std::string identifier, std::string cache_dir) {
    const std::optional<std::uintmax_t> bytes =
        co_await host::run_blocking([&cache_dir]() -> std::optional<std::uintmax_t> {
            try {
                return base::get_dir_size(cache_dir);
            } catch (const std::exception&) {
                return std::nullopt;
            }
        });
    boost::json::object answer{{"identifier", identifier}};
    if (bytes) {
        answer["cache_bytes"] = *bytes;
    } else {
        answer["cache_bytes"] = nullptr;
    }
    finish_with_json(*this, HTTPStatus::OK, answer);
}

}  // namespace page
