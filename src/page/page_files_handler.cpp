#include "page/page_files_handler.hpp"

#include <unistd.h>

#include <boost/json/object.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "host/json_answer.hpp"

namespace page {
namespace {

// The page loads only its own files and talks only to this server. The graph is SVG
// inserted into the page, styled by attributes and the page's own style sheet.
constexpr std::string_view kPagePolicy =
    "default-src 'self'; img-src 'self' data:; script-src 'self'; style-src 'self'; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

constexpr std::string_view kStandaloneMark = "data-host=\"standalone\"";
constexpr std::string_view kHostedMark = "data-host=\"jupyter\"";

std::optional<std::string> read_file(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::optional<std::string_view> content_type_of(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view extension = name.substr(dot);
    if (extension == ".js") return "text/javascript; charset=utf-8";
    if (extension == ".css") return "text/css; charset=utf-8";
    if (extension == ".svg") return "image/svg+xml";
    if (extension == ".png") return "image/png";
    return std::nullopt;
}

// Letters, digits, ".", "_" and "-", not starting with a dot: never a path.
bool is_plain_file_name(std::string_view name) {
    if (name.empty() || name.front() == '.') return false;
    for (const char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!allowed) return false;
    }
    return true;
}

void answer_file(host::APIHandler& handler, std::string_view content_type,
                 const std::string& body) {
    handler.set_header("Content-Type", content_type);
    handler.set_header("Content-Length", std::to_string(body.size()));
    handler.set_header("X-Content-Type-Options", "nosniff");
    // Served again after an upgrade, never from a stale copy.
    handler.set_header("Cache-Control", "no-cache");
    handler.set_status(host::to_int(host::HTTPStatus::OK));
    handler.finish(body);
}

void answer_missing(host::APIHandler& handler) {
    finish_with_json(handler, host::HTTPStatus::NOT_FOUND,
                     boost::json::object{{"message", "Not Found"}});
}

}  // namespace

void PipelinePageHandler::get(const host::PathArgs&) {
    auto page = read_file(web_dir_ / "index.html");
    if (!page) {
        throw std::runtime_error("The pipeline page is missing from " + web_dir_.string());
    }
    // The header names the notebook server the page runs in, whose version server info gives.
    if (host_pid_ != ::getpid()) {
        const auto mark = page->find(kStandaloneMark);
        if (mark != std::string::npos) page->replace(mark, kStandaloneMark.size(), kHostedMark);
    }
    set_header("Content-Security-Policy", kPagePolicy);
    set_header("Referrer-Policy", "no-referrer");
    answer_file(*this, "text/html; charset=utf-8", *page);
}

void PipelinePageFileHandler::get(const host::PathArgs& path_args) {
    const std::string& name = path_args.at(0);
    const auto content_type = content_type_of(name);
    if (!is_plain_file_name(name) || !content_type) return answer_missing(*this);
    const auto body = read_file(web_dir_ / "static" / name);
    if (!body) return answer_missing(*this);
    answer_file(*this, *content_type, *body);
}

}  // namespace page
