#include "page/shared_layouts.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace page {

SharedLayout::SharedLayout(const boost::asio::any_io_executor& executor, const void* version)
    : version_(version), done_signal_(executor, boost::asio::steady_timer::time_point::max()) {}

LayoutWaiter::LayoutWaiter(std::shared_ptr<SharedLayout> layout) : layout_(std::move(layout)) {
    ++layout_->waiting_;
}

LayoutWaiter::~LayoutWaiter() {
    if (--layout_->waiting_ == 0 && !layout_->done_) layout_->stop_ = true;
}

host::Awaitable<std::shared_ptr<const PipelinePicture>> LayoutWaiter::picture() {
    while (!layout_->done_) {
        co_await layout_->done_signal_.async_wait(
            boost::asio::as_tuple(boost::asio::use_awaitable));
    }
    co_return layout_->picture_;
}

SharedLayouts::Joined SharedLayouts::join(const std::string& kernel_id, const void* version,
                                          const boost::asio::any_io_executor& executor) {
    auto& slot = running_[kernel_id];
    // A layout stopped for want of waiters (the server stopping) is never joined.
    if (slot && slot->version_ == version && !slot->stop_) return {slot, false};
    if (slot) slot->stop_ = true;
    slot = std::make_shared<SharedLayout>(executor, version);
    ++started_;
    return {slot, true};
}

void SharedLayouts::finish(const std::string& kernel_id,
                           const std::shared_ptr<SharedLayout>& layout,
                           std::shared_ptr<const PipelinePicture> picture) {
    layout->done_ = true;
    layout->picture_ = std::move(picture);
    if (const auto own = running_.find(kernel_id); own != running_.end() && own->second == layout)
        running_.erase(own);
    layout->done_signal_.cancel();
}

}  // namespace page
