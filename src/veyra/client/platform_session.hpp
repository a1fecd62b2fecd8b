#pragma once
// The client operations' shared steps: authenticated calls below the logged-in platform's
// address, and turning answers into records.

#include <boost/json/array.hpp>
#include <boost/json/value.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace veyra::client {

// Whether the settings hold a platform address and a token to call it with.
bool has_login();
// Fails with a text asking to log in when there is no login.
void require_login();

// Sends an authenticated request to `path` (e.g. "/v1/users/me") below the platform of the
// current login; fails with a text asking to log in when there is none.
boost::json::value call_platform(std::string_view method, std::string_view path,
                                 const boost::json::value* body = nullptr);

// The selected workspace's id as one percent-encoded path segment; fails without a login or
// when none is selected.
std::string workspace_path_segment();

// Percent-encodes everything but the unreserved characters, so an id stays one segment.
std::string path_segment(std::string_view text);

// The answer as an object, or a failure naming what was asked for.
boost::json::object expect_object(boost::json::value&& answer, std::string_view what);

// The answer as a list of records, one per object of the array, in the platform's order.
template <class Record>
std::vector<Record> expect_records(boost::json::value&& answer, std::string_view what) {
    if (!answer.is_array()) {
        throw std::runtime_error("Veyra's answer for " + std::string(what) + " is not a list.");
    }
    std::vector<Record> records;
    records.reserve(answer.as_array().size());
    for (boost::json::value& item : answer.as_array()) {
        records.push_back(Record{{expect_object(std::move(item), what)}});
    }
    return records;
}

}  // namespace veyra::client
