#pragma once
// Where an answer's bytes go: the session that read the request hands one to the handler.

#include <memory>
#include <string>
#include <vector>

namespace host {

// Objects that travel with an answer's last bytes and are destroyed on the network thread.
using Leftovers = std::vector<std::shared_ptr<const void>>;

// Where the answer's bytes go. Called on the handler thread.
class AnswerSink {
public:
    virtual ~AnswerSink() = default;
    // Queues bytes for the client, then the shared text if any (written from where it is,
    // not copied). With wait, blocks until the socket took them and returns false when the
    // client is gone. last ends the answer.
    virtual bool send(std::string bytes, bool last, bool wait, Leftovers leftovers = {},
                      std::shared_ptr<const std::string> shared = {}) = 0;
    // Drops the connection (an answer that cannot be completed).
    virtual void abort() = 0;
};

}  // namespace host
