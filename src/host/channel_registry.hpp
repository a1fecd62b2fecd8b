#pragma once
// The open websocket connections of the front end, in the order they opened, each with the
// kernel id of its path. Sessions add themselves when the handshake is done and leave in their
// destructor; the registry never keeps a connection alive.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace host {

class Channel {
public:
    virtual ~Channel() = default;
    virtual const std::string& kernel_id() const = 0;
    // Queues one text message; a connection whose queue passes its limit is closed.
    virtual void write_message(std::shared_ptr<const std::string> text) = 0;
};

class ChannelRegistry {
public:
    void add(const std::shared_ptr<Channel>& channel);
    void remove(const Channel* channel);
    // The open connections, in opening order.
    std::vector<std::shared_ptr<Channel>> snapshot() const;
    // The open connections of one kernel, in opening order.
    std::vector<std::shared_ptr<Channel>> snapshot(const std::string& kernel_id) const;
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<Channel>> channels_;
    std::vector<const Channel*> keys_;
};

}  // namespace host
