#include "host/jupyter/kernel_manager.hpp"

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/json/parse.hpp>
#include <boost/url/parse.hpp>
#include <stdexcept>

namespace host {
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

KernelManager::KernelManager(std::filesystem::path runtime_dir)
    : runtime_dir_(std::move(runtime_dir)), runtime_watch_(runtime_dir_) {}

KernelManager::KernelManager(std::string jupyter_url, std::string jupyter_token)
    : jupyter_url_(std::move(jupyter_url)),
      jupyter_token_(std::move(jupyter_token)),
      runtime_watch_(runtime_dir_) {}

namespace {

std::vector<std::string> ids_from_connection_files(const std::filesystem::path& runtime_dir) {
    std::vector<std::string> ids;
    std::error_code error;
    for (std::filesystem::directory_iterator it(runtime_dir, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 12 && name.starts_with("kernel-") && name.ends_with(".json")) {
            ids.push_back(name.substr(7, name.size() - 12));
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

boost::json::array kernels_from_server(const std::string& jupyter_url, const std::string& token) {
    const auto url = boost::urls::parse_uri(jupyter_url);
    if (!url || url->scheme() != "http") {
        throw std::runtime_error("Cannot list kernels: '" + jupyter_url + "' is not an http URL");
    }
    std::string path(url->encoded_path());
    if (path.empty() || path.back() != '/') path += '/';
    path += "api/kernels";
    const std::string host(url->host());
    const std::string port = url->has_port() ? std::string(url->port()) : "80";

    net::io_context io;
    beast::tcp_stream stream(io);
    stream.expires_after(std::chrono::seconds(5));
    http::request<http::empty_body> request(http::verb::get, path, 11);
    request.set(http::field::host, host);
    if (!token.empty()) request.set(http::field::authorization, "token " + token);
    http::response<http::string_body> response;
    try {
        stream.connect(net::ip::tcp::resolver(io).resolve(host, port));
        http::write(stream, request);
        beast::flat_buffer buffer;
        http::read(stream, buffer, response);
    } catch (const std::exception& error) {
        throw std::runtime_error("Cannot list kernels from " + jupyter_url + ": " + error.what());
    }
    if (response.result_int() != 200) {
        throw std::runtime_error("Cannot list kernels from " + jupyter_url + ": status " +
                                 std::to_string(response.result_int()));
    }
    boost::system::error_code error;
    auto kernels = boost::json::parse(response.body(), error);
    if (error || !kernels.is_array()) {
        throw std::runtime_error("Cannot list kernels from " + jupyter_url +
                                 ": the answer is not a JSON array");
    }
    return std::move(kernels.get_array());
}

}  // namespace

boost::json::array KernelManager::list_kernels() const {
    if (!jupyter_url_.empty()) return kernels_from_server(jupyter_url_, jupyter_token_);
    boost::json::array kernels;
    for (const auto& id : *running_kernel_ids()) kernels.push_back(boost::json::object{{"id", id}});
    return kernels;
}

KernelManager::KernelIds KernelManager::running_kernel_ids() const {
    if (jupyter_url_.empty()) {
        notice_changes();
        return running_kernel_ids_as_noticed();
    }
    std::vector<std::string> ids;
    for (const auto& kernel : kernels_from_server(jupyter_url_, jupyter_token_)) {
        const auto* object = kernel.if_object();
        const auto* id = object ? object->if_contains("id") : nullptr;
        if (id && id->is_string()) ids.emplace_back(id->get_string());
    }
    std::sort(ids.begin(), ids.end());
    return std::make_shared<const std::vector<std::string>>(std::move(ids));
}

void KernelManager::notice_changes() const {
    if (!jupyter_url_.empty()) return;
    const std::lock_guard lock(watch_mutex_);
    if (runtime_watch_.changed()) changed_ = true;
}

// Listing the runtime folder costs system calls for every entry, on every pipeline post; it is
// listed again only once a file came or went.
KernelManager::KernelIds KernelManager::running_kernel_ids_as_noticed() const {
    const std::lock_guard lock(listing_mutex_);
    // Taken back before the listing: a change seen while the folder is read lists it again.
    if (changed_.exchange(false) || !listing_) {
        listing_ = std::make_shared<const std::vector<std::string>>(
            ids_from_connection_files(runtime_dir_));
    }
    return listing_;
}

}  // namespace host
