#pragma once
// One HTTP request as the handlers see it, with what its route made of its body beside the
// network.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/json_io/json_body.hpp"

namespace host {

// The path's placeholders ({kernel_id}), percent-decoded, in pattern order.
using PathArgs = std::vector<std::string>;
using Fields = std::vector<std::pair<std::string, std::string>>;

// What a route works out from its request's JSON body on the network thread, before the
// handler takes its turn: slow, self-contained work on large bodies (checking a
// pipeline, say) then runs beside the network instead of holding back every other handler.
class PreparedBody {
public:
    virtual ~PreparedBody() = default;
};

// Called with the parsed body (it may take parts of it, keeping the body's memory with them);
// returns null when it has nothing to prepare. It must depend on the body alone. The array
// at `deferred_array` (keys from the root), when the route names one, may be read as text
// (json_io::JsonBody::deferred) for `prepare` to take; whatever it leaves is built into the
// document.
struct BodyPreparer {
    std::function<std::unique_ptr<PreparedBody>(json_io::JsonBody& body)> prepare;
    std::vector<std::string> deferred_array;
    // The handler of a JSON body reads the running kernels in its turn with
    // KernelManager::running_kernel_ids_as_noticed(): whether connection files came or went is
    // looked up with the body, before the turn, where its system call holds back no other
    // handler.
    bool notices_kernel_changes = false;
};

struct Request {
    std::string method;
    std::string target;  // as received: path and query
    std::string path;    // raw path below the base URL
    std::string client;  // the peer's address
    Fields query;        // decoded name/value pairs, in order
    Fields headers;      // as received
    // Shared, so that what the route keeps of a parsed body may point into it; null when the
    // request has none.
    std::shared_ptr<const std::string> body;
    // The body parsed on the network thread (null when empty); nullopt when it is not JSON.
    std::optional<json_io::JsonBody> parsed_body;
    std::unique_ptr<PreparedBody> prepared;
    bool keep_alive = true;
};

}  // namespace host
