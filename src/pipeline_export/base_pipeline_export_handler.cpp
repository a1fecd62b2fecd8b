#include "pipeline_export/base_pipeline_export_handler.hpp"

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <optional>

#include "host/json_answer.hpp"

namespace pipeline_export {
namespace {

// A body that does not fit; the text names the key.
class InvalidBody : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

std::string text_argument(const boost::json::object& body, std::string_view key) {
    const boost::json::value* value = body.if_contains(key);
    if (value == nullptr || !value->is_string()) {
        throw InvalidBody(std::string(key) + " is required and must be a string.");
    }
    return std::string(value->get_string());
}

std::vector<std::string> text_list_argument(const boost::json::object& body, std::string_view key) {
    const boost::json::value* value = body.if_contains(key);
    const std::string message = std::string(key) + " is required and must be a list of strings.";
    if (value == nullptr || !value->is_array()) throw InvalidBody(message);
    std::vector<std::string> texts;
    for (const boost::json::value& item : value->get_array()) {
        if (!item.is_string()) throw InvalidBody(message);
        texts.emplace_back(item.get_string());
    }
    return texts;
}

boost::json::object message_of(std::string_view text) { return {{"message", text}}; }

}  // namespace

UnknownKernel::UnknownKernel(std::string_view kernel_id)
    : std::out_of_range("kernel_id: '" + std::string(kernel_id) + "' not valid.") {}

void BasePipelineExportHandler::post(const host::PathArgs&) {
    boost::json::value body = get_json_body();
    static const boost::json::object no_keys;
    const boost::json::object& fields = body.is_object() ? body.get_object() : no_keys;

    std::string kernel_id;
    std::vector<std::string> cell_ids;
    std::string ipynb_name;
    try {
        kernel_id = text_argument(fields, "kernel_id");
        cell_ids = text_list_argument(fields, "cell_ids");
        ipynb_name = text_argument(fields, "ipynb_name");
    } catch (const InvalidBody& failure) {
        finish_with_json(*this, host::HTTPStatus::BAD_REQUEST, message_of(failure.what()));
        return;
    }

    std::optional<PipelineExport> exported;
    try {
        exported = get_pipeline(kernel_id, cell_ids, ipynb_name);
    } catch (const UnknownKernel& failure) {
        finish_with_json(*this, host::HTTPStatus::NOT_FOUND, message_of(failure.what()));
        return;
    }
    auto& [pipeline_contents, pipeline_type] = *exported;
    if (pipeline_type == "json") {
        set_header("Content-Type", "application/json");
        set_status(host::to_int(host::HTTPStatus::OK));
        finish(pipeline_contents);
    } else {
        finish_with_json(*this, host::HTTPStatus::BAD_REQUEST, message_of(pipeline_contents));
    }
}

}  // namespace pipeline_export
