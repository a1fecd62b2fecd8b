#include "host/channel_registry.hpp"

#include <algorithm>

namespace host {

void ChannelRegistry::add(const std::shared_ptr<Channel>& channel) {
    const std::lock_guard lock(mutex_);
    channels_.push_back(channel);
    keys_.push_back(channel.get());
}

void ChannelRegistry::remove(const Channel* channel) {
    const std::lock_guard lock(mutex_);
    const auto at = std::find(keys_.begin(), keys_.end(), channel);
    if (at == keys_.end()) return;
    channels_.erase(channels_.begin() + (at - keys_.begin()));
    keys_.erase(at);
}

std::vector<std::shared_ptr<Channel>> ChannelRegistry::snapshot() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Channel>> open;
    open.reserve(channels_.size());
    for (const auto& weak : channels_) {
        if (auto channel = weak.lock()) open.push_back(std::move(channel));
    }
    return open;
}

std::vector<std::shared_ptr<Channel>> ChannelRegistry::snapshot(
    const std::string& kernel_id) const {
    const std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Channel>> open;
    for (const auto& weak : channels_) {
        auto channel = weak.lock();
        if (channel && channel->kernel_id() == kernel_id) open.push_back(std::move(channel));
    }
    return open;
}

std::size_t ChannelRegistry::size() const {
    const std::lock_guard lock(mutex_);
    return channels_.size();
}

}  // namespace host
