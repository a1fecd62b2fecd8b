#include "host/jupyter/host_record.hpp"

#include <unistd.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "base/json_io/json_text.hpp"
#include "host/jupyter/runtime_dir.hpp"

namespace host {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

std::runtime_error wrong_kind(std::string_view key, std::string_view expected,
                              const json::value& value) {
    return std::runtime_error("Server info field \"" + std::string(key) + "\" must be " +
                              std::string(expected) + ", not " + json_io::to_json_text(value));
}

const json::value* present(const json::object& fields, std::string_view key) {
    const json::value* value = fields.if_contains(key);
    return value == nullptr || value->is_null() ? nullptr : value;
}

void read_text(const json::object& fields, std::string_view key, std::optional<std::string>& to) {
    if (const json::value* value = present(fields, key)) {
        if (!value->is_string()) throw wrong_kind(key, "text", *value);
        to = std::string(value->get_string());
    }
}

void read_flag(const json::object& fields, std::string_view key, std::optional<bool>& to) {
    if (const json::value* value = present(fields, key)) {
        if (!value->is_bool()) throw wrong_kind(key, "true or false", *value);
        to = value->get_bool();
    }
}

// Any number is taken by its integer part, as notebook servers of every age write them.
void read_integer(const json::object& fields, std::string_view key,
                  std::optional<std::int64_t>& to) {
    const json::value* value = present(fields, key);
    if (value == nullptr) return;
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (value->is_int64()) {
        to = value->get_int64();
    } else if (value->is_uint64() &&
               value->get_uint64() <= std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
        to = static_cast<std::int64_t>(value->get_uint64());
    } else if (value->is_double() && std::abs(value->get_double()) < limit) {
        to = static_cast<std::int64_t>(std::trunc(value->get_double()));
    } else {
        throw wrong_kind(key, "an integer", *value);
    }
}

template <class T>
json::value or_null(const std::optional<T>& field) {
    return field ? json::value(*field) : json::value(nullptr);
}

json::object read_runtime_object(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("Cannot read the runtime file " + path.string() + ": " +
                                 std::strerror(errno));
    }
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    if (file.bad()) throw std::runtime_error("Cannot read the runtime file " + path.string());
    boost::system::error_code error;
    json::value value = json::parse(text, error);
    if (error) {
        throw std::runtime_error("The runtime file " + path.string() +
                                 " is not valid JSON: " + error.message());
    }
    if (!value.is_object()) {
        throw std::runtime_error("The runtime file " + path.string() +
                                 " does not hold a JSON object");
    }
    return std::move(value.get_object());
}

// Current servers write "jpserver-<pid>.json"; older ones "nbserver-<pid>.json".
fs::path runtime_file_path(std::int64_t pid) {
    const fs::path runtime_dir = host::jupyter_runtime_dir();
    const std::string suffix = std::to_string(pid) + ".json";
    fs::path path = runtime_dir / ("jpserver-" + suffix);
    std::error_code error;
    if (!fs::exists(path, error)) path = runtime_dir / ("nbserver-" + suffix);
    return path;
}

// 0: this process.
}  // namespace

JupyterServerAppInfoModel JupyterServerAppInfoModel::from_object(const json::object& fields) {
    JupyterServerAppInfoModel model;
    read_text(fields, "base_url", model.base_url);
    read_text(fields, "hostname", model.hostname);
    read_flag(fields, "password", model.password);
    read_integer(fields, "pid", model.pid);
    read_integer(fields, "port", model.port);
    read_text(fields, "root_dir", model.root_dir);
    read_flag(fields, "secure", model.secure);
    read_text(fields, "sock", model.sock);
    read_text(fields, "token", model.token);
    read_text(fields, "url", model.url);
    read_text(fields, "version", model.version);
    return model;
}

json::object JupyterServerAppInfoModel::dict() const {
    return {{"base_url", or_null(base_url)}, {"hostname", or_null(hostname)},
            {"password", or_null(password)}, {"pid", or_null(pid)},
            {"port", or_null(port)},         {"root_dir", or_null(root_dir)},
            {"secure", or_null(secure)},     {"sock", or_null(sock)},
            {"token", or_null(token)},       {"url", or_null(url)},
            {"version", or_null(version)}};
}

JupyterServerAppInfo::JupyterServerAppInfo(std::int64_t pid) {
    json::object fields = read_runtime_object(runtime_file_path(pid));
    // Older servers name the root directory "notebook_dir".
    if (!fields.contains("root_dir") && fields.contains("notebook_dir")) {
        fields["root_dir"] = fields["notebook_dir"];
        fields.erase("notebook_dir");
    }
    if (!fields.contains("version")) fields["version"] = host::server_version();
    _server_info = JupyterServerAppInfoModel::from_object(fields);
}

}  // namespace host
