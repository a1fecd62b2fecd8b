#include "page/shared_layouts.hpp"

#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <unordered_map>

#include "host/blocking_call.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {
namespace {

using Pipeline = std::shared_ptr<const pipeline::NuvexLinkPipelineModel>;

struct Layout {
    Layout(const boost::asio::any_io_executor& executor, const void* version)
        : version(version), done_signal(executor, boost::asio::steady_timer::time_point::max()) {}

    const void* version;  // the pipeline laid out; compared, never followed
    std::atomic<bool> stop{false};
    int waiting = 0;
    bool done = false;
    std::shared_ptr<const PipelinePicture> picture;  // null when abandoned
    boost::asio::steady_timer done_signal;           // cancelled when done, waking every waiter
};

// Kernel id -> the layout running for it. Touched only on the handlers' strand.
std::unordered_map<std::string, std::shared_ptr<Layout>> running;
std::atomic<unsigned long> started{0};

// Counts a waiter for as long as it waits; the last to leave an unfinished layout stops it.
class Waiting {
public:
    explicit Waiting(Layout& layout) : layout_(layout) { ++layout_.waiting; }
    ~Waiting() {
        if (--layout_.waiting == 0 && !layout_.done) layout_.stop = true;
    }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

private:
    Layout& layout_;
};

host::Task lay_out(std::string kernel_id, std::shared_ptr<Layout> layout, Pipeline pipeline,
                   ChildLimits limits) {
    // By reference: GCC 12 destroys what a lambda given to a coroutine owns twice. The
    // server waits for blocking calls before this frame can go.
    auto picture = co_await host::run_blocking([&] {
        auto drawn = lay_out_within_bounds(*pipeline, limits, [&] {
            // Besides this frame, only the kernel's entry holds the pipeline: when that lets go,
            // a newer pipeline is stored and this picture would show nobody anything.
            return layout->stop.load() || pipeline.use_count() <= 1;
        });
        return drawn ? std::make_shared<const PipelinePicture>(std::move(*drawn))
                     : std::shared_ptr<const PipelinePicture>();
    });
    layout->done = true;
    layout->picture = picture;
    if (const auto own = running.find(kernel_id); own != running.end() && own->second == layout) {
        running.erase(own);
    }
    const auto stored = pipeline::dag_cabinet.find(kernel_id);
    if (picture && stored != pipeline::dag_cabinet.end() && stored->second.pipeline == pipeline) {
        if (picture->drawn) {
            stored->second.graph_svg = std::make_shared<const std::string>(picture->svg);
        } else {
            stored->second.graph_failure = std::make_shared<const std::string>(picture->failure);
        }
    }
    layout->done_signal.cancel();
}

}  // namespace

host::Awaitable<std::shared_ptr<const PipelinePicture>> shared_picture(std::string kernel_id,
                                                                       Pipeline&& pipeline,
                                                                       ChildLimits limits) {
    const auto executor = co_await boost::asio::this_coro::executor;
    auto& slot = running[kernel_id];
    if (!slot || slot->version != pipeline.get()) {
        // A layout of an older pipeline is of no use any more.
        if (slot) slot->stop = true;
        slot = std::make_shared<Layout>(executor, pipeline.get());
        ++started;
        boost::asio::co_spawn(executor, lay_out(kernel_id, slot, std::move(pipeline), limits),
                              boost::asio::detached);
    }
    pipeline.reset();
    const std::shared_ptr<Layout> layout = slot;
    const Waiting waiting(*layout);
    while (!layout->done) {
        co_await layout->done_signal.async_wait(boost::asio::as_tuple(boost::asio::use_awaitable));
    }
    co_return layout->picture;
}

unsigned long layouts_started() { return started; }

}  // namespace page
