#include "datasets/dataset_diff_handler.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <charconv>
#include <exception>
#include <filesystem>
#include <optional>
#include <semaphore>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "base/json_io/json_text.hpp"
#include "base/process/child_process.hpp"
#include "base/text/utf8.hpp"
#include "datasets/rsync_itemized.hpp"
#include "host/jupyter/host_record.hpp"

namespace datasets {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

// More rsync runs at once only compete for the same disks and cores.
constexpr std::size_t kMaxParallelRsync = 8;

// A place among the rsync runs of every request: at most kMaxParallelRsync run at once.
class RsyncSlot {
public:
    RsyncSlot() { slots().acquire(); }
    ~RsyncSlot() { slots().release(); }
    RsyncSlot(const RsyncSlot&) = delete;
    RsyncSlot& operator=(const RsyncSlot&) = delete;

private:
    static std::counting_semaphore<kMaxParallelRsync>& slots() {
        static std::counting_semaphore<kMaxParallelRsync> slots(kMaxParallelRsync);
        return slots;
    }
};

bool path_exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

// "v" followed by decimal digits only; any other name is not a version.
std::optional<std::int64_t> version_number(std::string_view name) {
    if (name.size() < 2 || name.front() != 'v') return std::nullopt;
    const std::string_view digits = name.substr(1);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t number = 0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), number).ec != std::errc()) {
        throw std::runtime_error("The version number of \"" + std::string(name) +
                                 "\" is too large");
    }
    return number;
}

std::string root_dir_of(std::int64_t host_pid) {
    const host::JupyterServerAppInfo info(host_pid);
    if (!info.root_dir()) {
        throw std::runtime_error("The server's runtime file names no root directory");
    }
    return *info.root_dir();
}

// Folders of the store whose names do not begin with ".", in listing order.
std::vector<std::string> dataset_names(const fs::path& store) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(store)) {
        std::string name = entry.path().filename().string();
        std::error_code error;
        if (!name.starts_with('.') && entry.is_directory(error)) names.push_back(std::move(name));
    }
    return names;
}

json::object dataset_entry(std::string_view dataset_name, std::int64_t current_version,
                           const std::vector<FileChange>& changes) {
    json::array records;
    records.reserve(changes.size());
    for (const FileChange& change : changes) {
        records.push_back(json::object{{"path", change.path}, {"status", change.status}});
    }
    return {{"dataset_name", dataset_name},
            {"current_version", current_version},
            {"changes", std::move(records)}};
}

json::object does_not_exist(const fs::path& path) {
    return {{"message", path.string() + " does not exist."}};
}

// Runs the commands in order, at most kMaxParallelRsync at a time; each run lands in results
// as it finishes. A run that fails other than by its exit status fails the whole call, once
// every worker has ended, instead of silently leaving its dataset out.
void run_all(const std::vector<std::pair<std::string, RsyncCommand>>& cmds, RsyncResults& results,
             const std::stop_token& stop) {
    std::atomic<std::size_t> next = 0;
    std::mutex failure_mutex;
    std::exception_ptr failure;
    const auto work = [&] {
        for (std::size_t i = next++; i < cmds.size(); i = next++) {
            try {
                DataSetDiffBaseHandler::run_rsync(cmds[i].second, results, cmds[i].first, stop);
            } catch (...) {
                const std::lock_guard lock(failure_mutex);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    {
        std::vector<std::jthread> workers;
        const std::size_t worker_count = std::min(kMaxParallelRsync, cmds.size());
        for (std::size_t k = 0; k < worker_count; ++k) workers.emplace_back(work);
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace

std::string RsyncCommand::text() const {
    std::string line;
    for (const std::string& argument : argv) {
        if (!line.empty()) line += ' ';
        line += argument;
    }
    return line;
}

void RsyncResults::store(const std::string& key, RsyncRun run) {
    const std::lock_guard lock(mutex_);
    entries_.emplace_back(key, std::move(run));
}

RsyncCommand DataSetDiffBaseHandler::rsync_cmd(std::string_view base_path,
                                               std::string_view dataset_name) {
    const fs::path base(base_path);
    const fs::path stored = base / "dataset" / dataset_name;
    // The suffix follows a target that already ends in "/" (…/N//latest/); the doubled
    // separator is harmless and keeps the command as users know it.
    std::string target = stored.string() + "/";
    if (path_exists(stored / "latest")) {
        target += "/latest/";
    } else if (path_exists(stored / "v1")) {
        target += "/v1/";
    }
    // The trailing "/" makes rsync compare the staging folder's contents, not the folder.
    return {{"rsync", "-aui", "--dry-run", "--delete", "--exclude=.nuvex-link-logs",
             "--exclude=.ipynb_checkpoints",
             (base / "dataset-staged" / dataset_name).string() + "/", std::move(target)}};
}

std::int64_t DataSetDiffBaseHandler::current_version(std::string_view dataset_path,
                                                     std::string_view dataset_name) {
    std::int64_t current = 0;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(dataset_path) / dataset_name)) {
        if (const auto number = version_number(entry.path().filename().string())) {
            current = std::max(current, *number);
        }
    }
    return current;
}

void DataSetDiffBaseHandler::run_rsync(const RsyncCommand& cmd, RsyncResults& results,
                                       const std::string& key, const std::stop_token& stop) {
    RsyncRun run;
    try {
        const RsyncSlot slot;
        base::ProcessOutput output = base::run_process(cmd.argv, stop);
        run.success = output.exit_status == 0;
        run.text = std::move(run.success ? output.standard_output : output.standard_error);
    } catch (const base::ProcessStartError& failure) {
        run.text = failure.what();
    }
    if (!base::is_valid_utf8(run.text)) {
        throw std::runtime_error("The output of \"" + cmd.text() + "\" is not valid UTF-8");
    }
    results.store(key, std::move(run));
}

std::vector<FileChange> DataSetDiffBaseHandler::parse_file_changes(std::string_view file_changes) {
    return parse_itemized_changes(file_changes);
}

host::Task DataSetDiffBaseHandler::get(const host::PathArgs&) {
    if (const auto refusal = read_request()) {
        host::finish_with_json(*this, refusal->first, refusal->second);
        co_return;
    }
    // Captured by reference: GCC 12 destroys what a temporary in a co_await expression owns twice.
    const std::stop_token stop = stop_token();
    const DiffAnswer answer =
        co_await run_blocking([this, &stop] { return diff(root_dir_of(host_pid_), stop); });
    host::finish_with_json(*this, answer.first, answer.second);
}

DiffAnswer DataSetDiffHandler::diff(const std::string& base_path, const std::stop_token& stop) {
    host::HTTPStatus status = host::HTTPStatus::OK;
    const fs::path store = fs::path(base_path) / "dataset";
    if (!path_exists(store)) return {status, does_not_exist(store)};

    std::vector<std::pair<std::string, RsyncCommand>> cmds;
    std::unordered_map<std::string, std::int64_t> current_versions;
    for (const std::string& name : dataset_names(store)) {
        cmds.emplace_back(name, rsync_cmd(base_path, name));
        current_versions[name] = current_version(store.string(), name);
    }
    RsyncResults thread_results;
    run_all(cmds, thread_results, stop);

    json::object result;
    json::array entries;
    for (const auto& [name, run] : thread_results.entries()) {
        if (!run.success) {
            status = host::HTTPStatus::INTERNAL_SERVER_ERROR;
            result = {{"message", run.text}};
            break;
        }
        entries.push_back(
            dataset_entry(name, current_versions.at(name), parse_file_changes(run.text)));
    }
    result["datasets"] = std::move(entries);
    return {status, std::move(result)};
}

std::optional<DiffAnswer> SingleDataSetDiffHandler::read_request() {
    dataset_name_ = get_query_argument("dataset_name");
    // A name is one folder of the store; anything that could step elsewhere is refused.
    if (dataset_name_ == ".." ||
        dataset_name_.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
        return DiffAnswer{host::HTTPStatus::BAD_REQUEST,
                          json::object{{"message", "Invalid dataset name."}}};
    }
    return std::nullopt;
}

DiffAnswer SingleDataSetDiffHandler::diff(const std::string& base_path,
                                          const std::stop_token& stop) {
    const fs::path store = fs::path(base_path) / "dataset";
    if (!path_exists(store / dataset_name_)) {
        return {host::HTTPStatus::OK, does_not_exist(store / dataset_name_)};
    }
    const RsyncCommand cmd = rsync_cmd(base_path, dataset_name_);
    const std::int64_t version = current_version(store.string(), dataset_name_);
    RsyncResults table;
    run_rsync(cmd, table, dataset_name_, stop);
    const RsyncRun& run = table.entries().front().second;
    if (!run.success) {
        return {host::HTTPStatus::INTERNAL_SERVER_ERROR, json::object{{"message", run.text}}};
    }
    return {host::HTTPStatus::OK,
            dataset_entry(dataset_name_, version, parse_file_changes(run.text))};
}

host::Task DataSetDiffRouteHandler::get(const host::PathArgs& path_args) {
    std::unique_ptr<DataSetDiffBaseHandler> form;
    if (get_query_argument("dataset_name", std::nullopt)) {
        form = std::make_unique<SingleDataSetDiffHandler>(exchange(), host_pid_);
    } else {
        form = std::make_unique<DataSetDiffHandler>(exchange(), host_pid_);
    }
    co_await form->get(path_args);
}

}  // namespace datasets
