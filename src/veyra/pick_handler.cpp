#include "veyra/pick_handler.hpp"

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <string>

#include "host/json_answer.hpp"
#include "veyra/body_values.hpp"
#include "veyra/platform_failure.hpp"

namespace veyra {

PickHandler::PickHandler(host::Exchange& exchange, client::Account& account,
                         std::string_view id_key)
    : host::CoroutineHandler(exchange), account_(account), id_key_(id_key) {}

host::Task PickHandler::get(const host::PathArgs&) {
    const std::stop_token stop = stop_token();
    const VeyraAnswer answer = co_await run_veyra_operation(
        *this, account_, stop,
        [this](client::PlatformSession& session) { return answer_list(session); });
    finish_with_json(*this, answer.first, answer.second);
}

VeyraAnswer PickHandler::answer_list(client::PlatformSession& session) {
    boost::json::array records;
    if (auto failure = run_platform_call([&] { records = list(session); })) {
        return {failure->status, error_answer(*failure)};
    }
    return {host::HTTPStatus::OK, std::move(records)};
}

host::Task PickHandler::post(const host::PathArgs&) {
    // Captured by reference: GCC 12 destroys what a temporary in a co_await expression owns twice.
    const boost::json::value body = get_json_body();
    const std::stop_token stop = stop_token();
    const VeyraAnswer answer = co_await run_veyra_operation(
        *this, account_, stop,
        [this, &body](client::PlatformSession& session) { return answer_select(session, body); });
    finish_with_json(*this, answer.first, answer.second);
}

VeyraAnswer PickHandler::answer_select(client::PlatformSession& session,
                                       const boost::json::value& body) {
    const boost::json::object& fields = body_object(body);
    const boost::json::value* id_value = fields.if_contains(id_key_);
    if (id_value == nullptr) {
        return {host::HTTPStatus::BAD_REQUEST,
                boost::json::object{{"message", required_in_body(id_key_)}}};
    }
    const std::optional<std::int64_t> id = integer_or_null(*id_value, id_key_);
    if (auto failure = run_platform_call([&] { select(session, id, fields); })) {
        return {failure->status, error_answer(*failure)};
    }
    return {host::HTTPStatus::OK, boost::json::object{{"success", true}}};
}

}  // namespace veyra
