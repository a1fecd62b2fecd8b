#include "page/graph_picture_handler.hpp"

#include <boost/asio/this_coro.hpp>
#include <boost/json/object.hpp>
#include <memory>
#include <stop_token>
#include <string>

#include "host/json_answer.hpp"
#include "page/bounded_layout.hpp"
#include "page/shared_layouts.hpp"

namespace page {

host::Task PipelineGraphHandler::get(const host::PathArgs& path_args) {
    const std::string& kernel_id = path_args.at(0);
    const auto executor = co_await boost::asio::this_coro::executor;
    // A layout abandoned because a newer pipeline was stored gives way to that one's.
    while (!answer_from_store(kernel_id)) {
        const auto& entry = dag_cabinet_.at(kernel_id);
        const auto joined = layouts_.join(kernel_id, entry.pipeline.get(), executor);
        LayoutWaiter waiter(joined.layout);
        if (joined.run_it) {
            // Besides this frame only the stored entry holds the pipeline: when that lets go,
            // a newer one is stored and this layout would show nobody anything.
            const std::shared_ptr<const pipeline::NuvexLinkPipelineModel> pipeline = entry.pipeline;
            const std::shared_ptr<SharedLayout>& layout = joined.layout;
            const std::stop_token stopping = stop_token();
            const ChildLimits limits = limits_;
            // By reference: GCC 12 destroys what a lambda given to a coroutine owns twice.
            auto picture = co_await run_blocking([&] {
                auto drawn = lay_out_within_bounds(*pipeline, limits, [&] {
                    return layout->stopped() || pipeline.use_count() <= 1 ||
                           stopping.stop_requested();
                });
                return drawn ? std::make_shared<const PipelinePicture>(std::move(*drawn))
                             : std::shared_ptr<const PipelinePicture>();
            });
            const auto stored = dag_cabinet_.find(kernel_id);
            if (picture && stored != dag_cabinet_.end() && stored->second.pipeline == pipeline) {
                if (picture->drawn) {
                    stored->second.graph_svg = std::make_shared<const std::string>(picture->svg);
                } else {
                    stored->second.graph_failure =
                        std::make_shared<const std::string>(picture->failure);
                }
            }
            layouts_.finish(kernel_id, layout, std::move(picture));
        }
        const auto picture = co_await waiter.picture();
        if (picture && picture->drawn) {
            finish_with_svg(std::make_shared<const std::string>(picture->svg));
            co_return;
        }
        if (picture) {
            finish_without_picture(picture->failure);
            co_return;
        }
    }
}

bool PipelineGraphHandler::answer_from_store(const std::string& kernel_id) {
    const auto entry = dag_cabinet_.find(kernel_id);
    if (entry == dag_cabinet_.end()) {
        finish_with_json(
            *this, host::HTTPStatus::NOT_FOUND,
            boost::json::object{{"message", "kernel_id: '" + kernel_id + "' not valid."}});
    } else if (auto svg = entry->second.graph_svg) {
        finish_with_svg(std::move(svg));
    } else if (auto failure = entry->second.graph_failure) {
        finish_without_picture(*failure);
    } else {
        return false;
    }
    return true;
}

void PipelineGraphHandler::finish_with_svg(std::shared_ptr<const std::string> svg) {
    set_header("Content-Type", "image/svg+xml; charset=utf-8");
    set_header("Cache-Control", "no-store");
    set_header("X-Content-Type-Options", "nosniff");
    // Opened on its own, the picture may show itself and nothing else.
    set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    set_status(host::to_int(host::HTTPStatus::OK));
    finish(std::move(svg));
}

void PipelineGraphHandler::finish_without_picture(const std::string& failure) {
    set_header("Cache-Control", "no-store");
    finish_with_json(*this, host::HTTPStatus::UNPROCESSABLE_ENTITY,
                     boost::json::object{{"message", failure}, {"fallback", "list"}});
}

}  // namespace page
