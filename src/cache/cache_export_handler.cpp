#include "cache/cache_export_handler.hpp"

#include <stdlib.h>

#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "base/files/dir_size.hpp"
#include "base/json_io/json_text.hpp"
#include "base/uri/percent_coding.hpp"
#include "cache/cache_compress_thread.hpp"
#include "host/http_error.hpp"
#include "host/json_answer.hpp"
#include "pipeline/dag_cabinet.hpp"
#include "pipeline/kernel_channels.hpp"
#include "pipeline/status.hpp"

namespace cache {
namespace {

namespace fs = std::filesystem;

constexpr auto poll_interval = std::chrono::milliseconds(250);

// A fresh folder in the system's temporary location, removed with its contents when the export
// ends, whether it succeeded or not.
class TemporaryFolder {
public:
    explicit TemporaryFolder(std::string_view prefix) {
        std::string pattern = (fs::temp_directory_path() / prefix).string() + "XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            int error = errno;
            throw std::runtime_error("Cannot create a temporary folder '" + pattern +
                                     "': " + std::strerror(error));
        }
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void write_text_file(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw std::runtime_error("Cannot write '" + path.string() + "'");
}

void set_progress(boost::json::object& cache_progress_data, std::string_view status,
                  std::int64_t progress) {
    boost::json::object& msg = cache_progress_data["msg"].as_object();
    msg["status"] = status;
    msg["progress"] = progress;
}

}  // namespace

boost::json::object cached_pipeline_records(const pipeline::NuvexLinkPipelineModel& dag) {
    boost::json::object cached_pipeline;
    for (const auto& component : dag.components()) {
        if (!component.has_cached_result()) continue;
        const boost::json::object fields = component.object();
        boost::json::array parent_ids;
        for (const auto& parent : fields.at("parents").as_array()) {
            parent_ids.push_back(parent.as_object().at("id"));
        }
        boost::json::object record;
        record["component_name"] = fields.at("name");
        record["component_metadata"] = fields.at("metadata");
        record["component_cell_code"] = fields.at("code");
        if (auto cache_dir = component.diskcache_dir()) {
            record["component_cache_dir"] = *cache_dir;
        } else {
            record["component_cache_dir"] = nullptr;
        }
        record["execution_status"] = *component.execution_status();
        record["parent_ids"] = std::move(parent_ids);
        // Assigning to an existing key keeps its place.
        cached_pipeline[component.identifier()] = std::move(record);
    }
    return cached_pipeline;
}

host::Task CacheExportHandler::get(const host::PathArgs&) {
    std::optional<std::string> kernel_id = get_query_argument("kernel_id", std::nullopt);
    std::optional<std::string> ipynb_name = get_query_argument("ipynb_name", std::nullopt);
    if (!kernel_id || !ipynb_name) {
        std::string_view missing = !kernel_id ? "kernel_id" : "ipynb_name";
        finish_with_message(host::HTTPStatus::BAD_REQUEST,
                            std::string(missing) + " is required in the parameters of the query.");
        co_return;
    }

    auto entry = dag_cabinet_.find(*kernel_id);
    if (entry == dag_cabinet_.end()) {
        finish_with_message(host::HTTPStatus::INTERNAL_SERVER_ERROR,
                            "kernel_id: '" + *kernel_id + "' not valid.");
        co_return;
    }
    const auto& dag = *entry->second.pipeline;
    if (dag.components().empty()) {
        finish_with_message(host::HTTPStatus::INTERNAL_SERVER_ERROR,
                            "There are no components in this pipeline.");
        co_return;
    }
    const boost::json::object cached_pipeline = cached_pipeline_records(dag);
    if (cached_pipeline.empty()) {
        finish_with_message(
            host::HTTPStatus::INTERNAL_SERVER_ERROR,
            "There is no cache to export in this pipeline. Please run at least one component.");
        co_return;
    }
    // From here on the export works on its own copies: a pipeline posted meanwhile changes
    // nothing of it.
    const std::string tar_filename = notebook_stem(*ipynb_name) + "-diskcache.tar.gz";
    auto transmit = [this, &kernel_id](const boost::json::value& data) {
        pipeline::transmit_to_kernel(channels(), *kernel_id, data);
    };

    boost::json::object cache_progress_data{
        {"procedure", "export:cache"},
        {"msg", boost::json::object{{"status", "invalid"}, {"progress", 0}}}};
    std::optional<std::string> failure_text;
    try {
        transmit(cache_progress_data);
        // Declared before the worker, so that a failure stops and joins the worker before the
        // folder it writes into is removed.
        TemporaryFolder temporary_folder("nuvexlink-cache-");
        fs::path tarfile_path = temporary_folder.path() / tar_filename;
        PipelineInfo pipeline_info{temporary_folder.path() / PIPELINE_JSON,
                                   std::string(PIPELINE_JSON)};

        std::string pipeline_text = json_io::to_json_text(cached_pipeline);
        write_text_file(pipeline_info.filepath, pipeline_text);

        std::vector<CacheInfo> cache_info;
        for (const auto& [identifier, record] : cached_pipeline) {
            const boost::json::value& cache_dir = record.as_object().at("component_cache_dir");
            if (cache_dir.is_null()) continue;
            cache_info.push_back(
                {std::string(cache_dir.as_string()), "component-" + std::string(identifier)});
        }
        const std::uintmax_t estimate_size =
            pipeline_text.size() + co_await run_blocking([&cache_info] {
                std::uintmax_t size = 0;
                for (const auto& folder : cache_info) size += base::get_dir_size(folder.dirpath);
                return size;
            });

        // The poll wakes early when the worker ends, so a small export does not wait a full
        // poll. The timer is shared with the worker's call, which may come after this ends.
        const auto executor = co_await boost::asio::this_coro::executor;
        auto poll = std::make_shared<boost::asio::steady_timer>(executor);
        CacheCompressThread worker(tarfile_path, std::move(pipeline_info), std::move(cache_info));
        worker.start([executor, poll] { boost::asio::post(executor, [poll] { poll->cancel(); }); });
        set_progress(cache_progress_data, "running", 0);
        transmit(cache_progress_data);

        std::uintmax_t last_size = 0;
        while (!worker.is_stopped()) {
            std::error_code error;
            std::uintmax_t size = fs::file_size(tarfile_path, error);
            if (error && error != std::errc::no_such_file_or_directory) {
                throw fs::filesystem_error("Cannot measure the archive", tarfile_path, error);
            }
            // A missing file is one the worker is about to create.
            if (!error && size > last_size) {
                last_size = size;
                // Not clamped: an archive larger than its estimate reports over 100.
                set_progress(cache_progress_data, "running",
                             static_cast<std::int64_t>(100.0 * static_cast<double>(size) /
                                                       static_cast<double>(estimate_size)));
                transmit(cache_progress_data);
            }
            poll->expires_after(poll_interval);
            boost::system::error_code woken;
            co_await poll->async_wait(
                boost::asio::redirect_error(boost::asio::use_awaitable, woken));
        }
        worker.join();
        // Never send a broken archive as a successful download.
        if (auto failure = worker.failure()) throw std::runtime_error(*failure);

        set_progress(cache_progress_data, "successful", 100);
        transmit(cache_progress_data);
        co_await finish_with_artifact(tar_filename, tarfile_path);
    } catch (const host::StreamClosed&) {
        // The client left during the download: nothing more can reach it.
        throw;
    } catch (const std::exception& failure) {
        failure_text = failure.what();
    }
    if (!failure_text) co_return;
    set_progress(cache_progress_data, "failed", 0);
    transmit(cache_progress_data);
    // After the download's head left, the host drops the connection and logs why.
    if (headers_sent()) throw std::runtime_error(*failure_text);
    finish_with_message(host::HTTPStatus::INTERNAL_SERVER_ERROR, *failure_text);
}

void CacheExportHandler::finish_with_message(host::HTTPStatus status_code,
                                             std::string_view message) {
    host::finish_with_json(*this, status_code, boost::json::object{{"message", message}});
}

host::Task CacheExportHandler::finish_with_artifact(std::string_view artifact_name,
                                                    const fs::path& artifact_path) {
    set_header("Content-Type", "application/octet-stream");
    set_header("Content-Disposition", attachment_disposition(artifact_name));
    std::uintmax_t size = fs::file_size(artifact_path);
    set_header("Content-Length", std::to_string(size));
    set_status(host::to_int(host::HTTPStatus::OK));

    std::ifstream file(artifact_path, std::ios::binary);
    if (!file) throw std::runtime_error("Cannot open '" + artifact_path.string() + "'");
    std::string chunk(CACHE_PROBE_INFO.cache_buffer_size, '\0');
    for (;;) {
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (file.bad()) throw std::runtime_error("Cannot read '" + artifact_path.string() + "'");
        auto got = static_cast<std::size_t>(file.gcount());
        if (got == 0) break;
        write(std::string_view(chunk.data(), got));
        co_await flush();
    }
    finish();
}

}  // namespace cache
