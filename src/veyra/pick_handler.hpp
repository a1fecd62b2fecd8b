#pragma once
// The shape the project and model registry routes share: GET lists what the platform offers,
// POST selects one of them by the integer id under the route's key. Platform failures answer
// {"error": ...} with the platform's status; a body without the key answers 400
// {"message": "<key> is required in the body of the request."}.

#include <boost/json/array.hpp>
#include <boost/json/fwd.hpp>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "host/api_handler.hpp"
#include "veyra/client/account.hpp"
#include "veyra/client/platform_session.hpp"
#include "veyra/veyra_operation.hpp"

namespace veyra {

class PickHandler : public host::CoroutineHandler {
public:
    PickHandler(host::Exchange& exchange, client::Account& account, std::string_view id_key);

    host::Task get(const host::PathArgs& path_args) final;
    host::Task post(const host::PathArgs& path_args) final;

protected:
    // Run on the platform's turn, on another thread; failures go through run_platform_call.
    virtual boost::json::array list(client::PlatformSession& session) = 0;
    // `fields` is the request body, for what else the selection reads from it.
    virtual void select(client::PlatformSession& session, std::optional<std::int64_t> id,
                        const boost::json::object& fields) = 0;

private:
    VeyraAnswer answer_list(client::PlatformSession& session);
    VeyraAnswer answer_select(client::PlatformSession& session, const boost::json::value& body);

    client::Account& account_;
    std::string_view id_key_;
};

// The records' objects as the platform gave them, in its order.
template <class Record>
boost::json::array records_array(std::vector<Record>&& records) {
    boost::json::array array;
    array.reserve(records.size());
    for (Record& record : records) array.push_back(std::move(record.fields));
    return array;
}

}  // namespace veyra
