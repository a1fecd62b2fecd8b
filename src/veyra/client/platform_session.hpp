#pragma once
// One Veyra operation's use of the account: the session has the account to itself from its
// start to its end, sends the authenticated calls below the logged-in platform's address, and
// its requests end when the server stops. Also the client operations' shared steps for turning
// answers into records.

#include <boost/json/array.hpp>
#include <boost/json/value.hpp>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "veyra/client/account.hpp"

namespace veyra::client {

class PlatformSession {
public:
    // Waits for the operation before it to end. `stop` ends the session's requests in flight
    // and refuses new ones (ConnectionError).
    PlatformSession(Account& account, std::stop_token stop);
    PlatformSession(const PlatformSession&) = delete;
    PlatformSession& operator=(const PlatformSession&) = delete;

    Settings& settings() { return account_.settings; }
    // Writes the settings to the account's file.
    void save_settings() { account_.save(); }

    // Whether the settings hold a platform address and a token to call it with.
    bool has_login() const;
    // Fails with a text asking to log in when there is no login.
    void require_login() const;

    // Sends an authenticated request to `path` (e.g. "/v1/users/me") below the platform of the
    // current login; fails with a text asking to log in when there is none.
    boost::json::value call(std::string_view method, std::string_view path,
                            const boost::json::value* body = nullptr);
    // Sends a request to a full address without a token (the login itself).
    boost::json::value send(std::string_view method, std::string_view url,
                            const boost::json::value* body);

    // The selected workspace's id as one percent-encoded path segment; fails without a login
    // or when none is selected.
    std::string workspace_path_segment() const;

private:
    Account& account_;
    std::unique_lock<std::mutex> turn_;
    std::stop_token stop_;
};

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
