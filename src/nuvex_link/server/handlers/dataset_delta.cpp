#include "nuvex_link/server/handlers/dataset_delta.hpp"

#include "host/json_text.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <charconv>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "nuvex_link/server/handlers/json_answer.hpp"
#include "nuvex_link/server/misc/child_process.hpp"
#include "nuvex_link/server/misc/host_runtime.hpp"

namespace nuvex_link::server::handlers {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

// More rsync runs at once only compete for the same disks and cores.
constexpr std::size_t kMaxParallelRsync = 8;

bool path_exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

// Bytes that are white space or may begin a multi-byte white-space character; every other
// byte is skipped without a closer look, which keeps the parse fast.
constexpr std::array<bool, 256> kMayStartWhitespace = [] {
    std::array<bool, 256> table{};
    for (unsigned char byte : {' ', '\t', '\n', '\v', '\f', '\r'}) table[byte] = true;
    for (unsigned byte = 0x1c; byte <= 0x1f; ++byte) table[byte] = true;
    for (unsigned byte : {0xC2, 0xE1, 0xE2, 0xE3}) table[byte] = true;
    return table;
}();

// Bytes taken by the white-space character at text[pos], 0 when there is none: ASCII white
// space and the separators of Unicode, as rsync may print them raw inside names.
std::size_t whitespace_length(std::string_view text, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (!kMayStartWhitespace[byte]) return 0;
    if (byte < 0x80) return 1;
    const auto at = [&](std::size_t k) -> unsigned {
        return pos + k < text.size() ? static_cast<unsigned char>(text[pos + k]) : 0;
    };
    switch (byte) {
        case 0xC2:  // U+0085, U+00A0
            return at(1) == 0x85 || at(1) == 0xA0 ? 2 : 0;
        case 0xE1:  // U+1680
            return at(1) == 0x9A && at(2) == 0x80 ? 3 : 0;
        case 0xE2:  // U+2000..U+200A, U+2028, U+2029, U+202F, U+205F
            if (at(1) == 0x80) {
                const unsigned third = at(2);
                return (third >= 0x80 && third <= 0x8A) || third == 0xA8 || third == 0xA9 ||
                               third == 0xAF
                           ? 3
                           : 0;
            }
            return at(1) == 0x81 && at(2) == 0x9F ? 3 : 0;
        case 0xE3:  // U+3000
            return at(1) == 0x80 && at(2) == 0x80 ? 3 : 0;
        default:
            return 0;
    }
}

std::size_t skip_whitespace(std::string_view line, std::size_t pos) {
    while (pos < line.size()) {
        const std::size_t length = whitespace_length(line, pos);
        if (length == 0) break;
        pos += length;
    }
    return pos;
}

std::size_t token_end(std::string_view line, std::size_t pos) {
    while (pos < line.size()) {
        if (kMayStartWhitespace[static_cast<unsigned char>(line[pos])] &&
            whitespace_length(line, pos) != 0) {
            break;
        }
        ++pos;
    }
    return pos;
}

// The tokens from pos on, joined with single blanks: rsync's name with its runs of white
// space reduced.
std::string joined_tokens(std::string_view line, std::size_t pos) {
    std::string joined;
    joined.reserve(line.size() - pos);
    for (pos = skip_whitespace(line, pos); pos < line.size(); pos = skip_whitespace(line, pos)) {
        const std::size_t end = token_end(line, pos);
        if (!joined.empty()) joined += ' ';
        joined.append(line.substr(pos, end - pos));
        pos = end;
    }
    return joined;
}

// The third character of an itemize code (the checksum column, "+" for a new entry).
std::string_view third_character(std::string_view code, std::string_view line) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < code.size(); ++i) {
        if ((static_cast<unsigned char>(code[i]) & 0xC0) == 0x80) continue;  // continuation
        if (seen++ == 2) {
            std::size_t end = i + 1;
            while (end < code.size() && (static_cast<unsigned char>(code[end]) & 0xC0) == 0x80) {
                ++end;
            }
            return code.substr(i, end - i);
        }
    }
    throw std::runtime_error("Cannot classify the rsync output line \"" + std::string(line) + "\"");
}

void append_change(std::string_view line, std::vector<FileChange>& changes) {
    const std::size_t start = skip_whitespace(line, 0);
    if (start == line.size()) return;
    const std::size_t end = token_end(line, start);
    const std::string_view code = line.substr(start, end - start);
    if (code.front() == '.') return;  // an entry whose content is not transferred
    std::string_view status = "deleted";
    if (!code.starts_with("*del")) {
        status = third_character(code, line) == "+" ? "added" : "edited";
    }
    changes.push_back({joined_tokens(line, end), status});
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

std::string root_dir_of(const misc::JupyterServerAppInfo& info) {
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
void run_all(const std::vector<std::pair<std::string, RsyncCommand>>& cmds, RsyncResults& results) {
    std::atomic<std::size_t> next = 0;
    std::mutex failure_mutex;
    std::exception_ptr failure;
    const auto work = [&] {
        for (std::size_t i = next++; i < cmds.size(); i = next++) {
            try {
                DataSetDiffBaseHandler::_run_rsync(cmds[i].second, results, cmds[i].first);
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

RsyncCommand DataSetDiffBaseHandler::_rsync_cmd(std::string_view base_path,
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

std::int64_t DataSetDiffBaseHandler::_current_version(std::string_view dataset_path,
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

void DataSetDiffBaseHandler::_run_rsync(const RsyncCommand& cmd, RsyncResults& results,
                                        const std::string& key) {
    RsyncRun run;
    try {
        misc::ProcessOutput output = misc::run_process(cmd.argv);
        run.success = output.exit_status == 0;
        run.text = std::move(run.success ? output.standard_output : output.standard_error);
    } catch (const misc::ProcessStartError& failure) {
        run.text = failure.what();
    }
    if (!host::is_valid_utf8(run.text)) {
        throw std::runtime_error("The output of \"" + cmd.text() + "\" is not valid UTF-8");
    }
    results.store(key, std::move(run));
}

std::vector<FileChange> DataSetDiffBaseHandler::_parse_file_changes(std::string_view file_changes) {
    while (!file_changes.empty() && file_changes.back() == '\n') file_changes.remove_suffix(1);
    std::vector<FileChange> changes;
    changes.reserve(std::count(file_changes.begin(), file_changes.end(), '\n') + 1);
    std::size_t start = 0;
    while (start <= file_changes.size()) {
        std::size_t end = file_changes.find('\n', start);
        if (end == std::string_view::npos) end = file_changes.size();
        append_change(file_changes.substr(start, end - start), changes);
        start = end + 1;
    }
    return changes;
}

void DataSetDiffBaseHandler::_finish_with_result(host::HTTPStatus status_code,
                                                 const json::value& result) {
    finish_with_json(*this, status_code, result);
}

void DataSetDiffHandler::get(const host::PathArgs&) {
    host::HTTPStatus status = host::HTTPStatus::OK;
    const std::string base_path = root_dir_of(misc::JupyterServerAppInfo());
    const fs::path store = fs::path(base_path) / "dataset";
    if (!path_exists(store)) return _finish_with_result(status, does_not_exist(store));

    std::vector<std::pair<std::string, RsyncCommand>> cmds;
    std::unordered_map<std::string, std::int64_t> current_versions;
    for (const std::string& name : dataset_names(store)) {
        cmds.emplace_back(name, _rsync_cmd(base_path, name));
        current_versions[name] = _current_version(store.string(), name);
    }
    RsyncResults thread_results;
    run_all(cmds, thread_results);

    json::object result;
    json::array entries;
    for (const auto& [name, run] : thread_results.entries()) {
        if (!run.success) {
            status = host::HTTPStatus::INTERNAL_SERVER_ERROR;
            result = {{"message", run.text}};
            break;
        }
        entries.push_back(
            dataset_entry(name, current_versions.at(name), _parse_file_changes(run.text)));
    }
    result["datasets"] = std::move(entries);
    _finish_with_result(status, result);
}

void SingleDataSetDiffHandler::get(const host::PathArgs&) {
    const misc::JupyterServerAppInfo info;
    const std::string dataset_name = get_query_argument("dataset_name");
    // A name is one folder of the store; anything that could step elsewhere is refused.
    if (dataset_name == ".." ||
        dataset_name.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
        return _finish_with_result(host::HTTPStatus::BAD_REQUEST,
                                   json::object{{"message", "Invalid dataset name."}});
    }
    const std::string base_path = root_dir_of(info);
    const fs::path store = fs::path(base_path) / "dataset";
    if (!path_exists(store / dataset_name)) {
        return _finish_with_result(host::HTTPStatus::OK, does_not_exist(store / dataset_name));
    }
    const RsyncCommand cmd = _rsync_cmd(base_path, dataset_name);
    const std::int64_t version = _current_version(store.string(), dataset_name);
    RsyncResults table;
    _run_rsync(cmd, table, dataset_name);
    const RsyncRun& run = table.entries().front().second;
    if (!run.success) {
        return _finish_with_result(host::HTTPStatus::INTERNAL_SERVER_ERROR,
                                   json::object{{"message", run.text}});
    }
    _finish_with_result(host::HTTPStatus::OK,
                        dataset_entry(dataset_name, version, _parse_file_changes(run.text)));
}

void DataSetDiffRouteHandler::get(const host::PathArgs& path_args) {
    if (get_query_argument("dataset_name", std::nullopt)) {
        SingleDataSetDiffHandler(exchange()).get(path_args);
    } else {
        DataSetDiffHandler(exchange()).get(path_args);
    }
}

}  // namespace nuvex_link::server::handlers
