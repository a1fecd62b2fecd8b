#pragma once
// The running notebook server's description, read from the runtime file the server writes
// when it starts ("jpserver-<pid>.json", or "nbserver-<pid>.json" from older servers).

#include <boost/json/object.hpp>
#include <cstdint>
#include <optional>
#include <string>

namespace host {

// The runtime record: the eleven fields a notebook server writes, each empty when absent.
// Keys it does not know are dropped; a value of the wrong kind is refused with a text that
// names the field, so that every field read afterwards has its documented kind.
struct JupyterServerAppInfoModel {
    std::optional<std::string> base_url;
    std::optional<std::string> hostname;
    std::optional<bool> password;
    std::optional<std::int64_t> pid;
    std::optional<std::int64_t> port;
    std::optional<std::string> root_dir;
    std::optional<bool> secure;
    std::optional<std::string> sock;
    std::optional<std::string> token;
    std::optional<std::string> url;
    std::optional<std::string> version;

    static JupyterServerAppInfoModel from_object(const boost::json::object& fields);
    // The eleven fields in the order above, null where absent.
    boost::json::object dict() const;
};

// Information of running Jupyter serverapp. Made per request: it reflects the runtime file at
// the moment it is constructed.
class JupyterServerAppInfo {
public:
    // Reads the runtime file of the server with that process id: this server's own, or the
    // notebook server's it serves (--host-pid).
    // Fails with a text naming the file when it is missing, unreadable, not a JSON object or
    // not a valid record.
    explicit JupyterServerAppInfo(std::int64_t pid);

    boost::json::object dict() const { return _server_info.dict(); }

    const std::optional<std::string>& base_url() const { return _server_info.base_url; }
    const std::optional<std::string>& hostname() const { return _server_info.hostname; }
    std::optional<bool> password() const { return _server_info.password; }
    std::optional<std::int64_t> pid() const { return _server_info.pid; }
    std::optional<std::int64_t> port() const { return _server_info.port; }
    const std::optional<std::string>& root_dir() const { return _server_info.root_dir; }
    std::optional<bool> secure() const { return _server_info.secure; }
    const std::optional<std::string>& sock() const { return _server_info.sock; }
    const std::optional<std::string>& token() const { return _server_info.token; }
    const std::optional<std::string>& url() const { return _server_info.url; }
    const std::optional<std::string>& version() const { return _server_info.version; }

private:
    JupyterServerAppInfoModel _server_info;
};

}  // namespace host
