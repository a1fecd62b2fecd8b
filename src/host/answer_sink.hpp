#pragma once
// Where an answer's bytes go: the session that read the request hands one to the handler.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace host {

// Objects that travel with an answer's last bytes and are destroyed on the network thread.
using Leftovers = std::vector<std::shared_ptr<const void>>;

// Called on the network thread with true once the socket took the bytes, false when the
// client is gone.
using Written = std::function<void(bool)>;

struct AnswerPart {
    std::string bytes;
    // Written after the bytes from where it is, not copied (a kept answer, say).
    std::shared_ptr<const std::string> shared;
    bool last = false;  // ends the answer
    Leftovers leftovers;
};

class AnswerSink {
public:
    virtual ~AnswerSink() = default;
    // Queues a part for the client; `written`, when given, learns when the socket took it.
    virtual void send(AnswerPart part, Written written = {}) = 0;
    // Drops the connection (an answer that cannot be completed).
    virtual void abort() = 0;
};

}  // namespace host
