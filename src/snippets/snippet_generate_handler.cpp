#include "snippets/snippet_generate_handler.hpp"

#include <boost/json/error.hpp>
#include <boost/json/object.hpp>
#include <system_error>

#include "base/json_io/json_reader.hpp"
#include "base/json_io/json_text.hpp"
#include "base/logging/log.hpp"
#include "host/blocking_call.hpp"
#include "host/http_error.hpp"
#include "snippets/snippet_files.hpp"
#include "snippets/snippet_request.hpp"
#include "snippets/template_engine.hpp"
#include "snippets/text_decoding.hpp"

namespace snippets {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

boost::json::object message(std::string_view text) { return {{"message", text}}; }

}  // namespace

host::Task SnippetGenerateHandler::post(const host::PathArgs&) {
    // Reading the template and rendering it wait on the disk and the embedded interpreter.
    const auto [status_code, result] = co_await run_blocking([this] { return generate(); });
    set_header("Content-Type", "application/json");
    set_status(host::to_int(status_code));
    // The host declares the length.
    finish(json_io::to_json_text(result));
}

std::pair<host::HTTPStatus, boost::json::object> SnippetGenerateHandler::generate() {
    try {
        std::string_view body = request_body();
        // A body is decoded before it is parsed, as a JSON reader of bytes does; a leading
        // byte order mark only names the encoding.
        check_utf8(body);
        if (body.starts_with(kUtf8Bom)) body.remove_prefix(kUtf8Bom.size());
        boost::system::error_code parse_error;
        const boost::json::value parsed = json_io::read_json(body, {}, parse_error);
        if (parse_error == boost::json::error::too_deep) throw host::too_deeply_nested_body();
        if (parse_error)
            return {host::HTTPStatus::BAD_REQUEST, message("Invalid JSON request body.")};
        if (!parsed.is_object()) throw std::invalid_argument("the request body is not an object");

        const auto request = SnippetCodeRequestModel::from_json(parsed.as_object());
        const auto template_file =
            template_file_of(snippets_dir_, request.category, request.snippet_id);
        if (!template_file) {
            return {host::HTTPStatus::NOT_FOUND, message("Snippet template not found.")};
        }
        SnippetCodeResponseModel response{render_template(*template_file, request.parameters)};
        return {host::HTTPStatus::OK, response.dict()};
    } catch (const host::HTTPError&) {
        throw;  // the host's own answer
    } catch (const UnicodeDecodeError& error) {
        return {host::HTTPStatus::BAD_REQUEST, message(error.what())};
    } catch (const SnippetModelError& error) {
        return {host::HTTPStatus::BAD_REQUEST, message(error.what())};
    } catch (const TemplateValueError& error) {
        return {host::HTTPStatus::BAD_REQUEST, message(error.what())};
    } catch (const std::exception& error) {
        log().error("Snippet generation failed for " + request_path() + ": " + error.what());
        return {host::HTTPStatus::INTERNAL_SERVER_ERROR,
                message("Failed to generate snippet code.")};
    }
}

std::optional<fs::path> SnippetGenerateHandler::template_file_of(const fs::path& snippets_dir,
                                                                 std::string_view category,
                                                                 std::string_view snippet_id) {
    if (!is_plain_name(category) || !is_plain_name(snippet_id)) return std::nullopt;
    fs::path template_file = snippets_dir / category / snippet_id / "snippet.jinja";
    std::error_code error;
    const bool exists = fs::exists(template_file, error);
    // Like a missing file, a link loop leads nowhere; other failures (no permission to look)
    // are real failures.
    if (error && error != std::errc::too_many_symbolic_link_levels) {
        throw fs::filesystem_error("cannot look for the template", template_file, error);
    }
    if (!exists) return std::nullopt;
    // A link may lead elsewhere inside the folder, never out of it.
    const fs::path target = fs::canonical(template_file, error);
    if (error) return std::nullopt;
    const fs::path root = fs::canonical(snippets_dir, error);
    if (error || !is_below(target, root)) return std::nullopt;
    return template_file;
}

std::string SnippetGenerateHandler::render_template(const fs::path& template_file,
                                                    const boost::json::value& parameters) {
    return render_template_source(read_snippet_text(template_file), parameters);
}

}  // namespace snippets
