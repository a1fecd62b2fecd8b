#pragma once
// Which files of the user's datasets changed since their latest stored version. For a dataset N
// below the server's root directory B, a dry run of rsync compares the staging copy
// B/dataset-staged/N/ with the stored version B/dataset/N/latest/ (or v1/, or the store of N
// itself) and its itemized output becomes the list of added, deleted and edited files.

#include <boost/json/fwd.hpp>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "datasets/rsync_itemized.hpp"
#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "host/json_answer.hpp"

namespace datasets {

// The rsync dry run of one dataset. It is started from argv, never through a shell, so a
// dataset name with blanks or shell characters stays one operand and runs nothing.
struct RsyncCommand {
    std::vector<std::string> argv;
    // The command as one line (argv joined with blanks), the form people read.
    std::string text() const;
};

// One finished run: its standard output when rsync succeeded, else its standard error.
struct RsyncRun {
    bool success = false;
    std::string text;
};

// Dataset name -> its run, in the order the runs finished. Workers store concurrently.
class RsyncResults {
public:
    void store(const std::string& key, RsyncRun run);
    // Only once every worker has stored.
    const std::vector<std::pair<std::string, RsyncRun>>& entries() const { return entries_; }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, RsyncRun>> entries_;
};

// A diff's answer: its status and JSON body.
using DiffAnswer = std::pair<host::HTTPStatus, boost::json::value>;

// The diff waits on rsync for as long as it runs: it runs on a thread of its own while other
// requests go on, and its answer is given in the handlers' turn. The root folder B is the one of
// the notebook server described (this process, or the one of --host-pid).
class DataSetDiffBaseHandler : public host::CoroutineHandler {
public:
    DataSetDiffBaseHandler(host::Exchange& exchange, const std::int64_t& host_pid)
        : CoroutineHandler(exchange), host_pid_(host_pid) {}

    // Compares base_path/dataset-staged/N/ with base_path/dataset/N//latest/, else .../N//v1/,
    // else the store of N itself.
    static RsyncCommand rsync_cmd(std::string_view base_path, std::string_view dataset_name);
    // The largest N among the entries named vN (leading zeros allowed) of dataset_path/name;
    // 0 without one. Fails when that folder cannot be listed.
    static std::int64_t current_version(std::string_view dataset_path,
                                        std::string_view dataset_name);
    // Runs cmd and stores its outcome under key. An exit status other than 0, or an rsync that
    // cannot be started, is a failed run; output that is not UTF-8 fails the call. A stop
    // request ends rsync early.
    static void run_rsync(const RsyncCommand& cmd, RsyncResults& results, const std::string& key,
                          const std::stop_token& stop = {});
    // rsync's itemized lines as changes, in output order; lines rsync reports without a
    // transfer (".") and blank lines are skipped. Fails on a line it cannot classify.
    static std::vector<FileChange> parse_file_changes(std::string_view file_changes);

    host::Task get(const host::PathArgs& path_args) final;

protected:
    // Reads what the diff needs from the request, in the handlers' turn; an answer refuses it.
    virtual std::optional<DiffAnswer> read_request() { return std::nullopt; }
    // The diff of the datasets below root_dir, on another thread: it must not touch the request.
    virtual DiffAnswer diff(const std::string& root_dir, const std::stop_token& stop) = 0;

private:
    const std::int64_t& host_pid_;
};

// GET: the changes of every dataset, {"datasets": [...]} in the order the runs finished.
class DataSetDiffHandler : public DataSetDiffBaseHandler {
public:
    using DataSetDiffBaseHandler::DataSetDiffBaseHandler;

protected:
    DiffAnswer diff(const std::string& root_dir, const std::stop_token& stop) override;
};

// GET ?dataset_name=N: the changes of one dataset.
class SingleDataSetDiffHandler : public DataSetDiffBaseHandler {
public:
    using DataSetDiffBaseHandler::DataSetDiffBaseHandler;

protected:
    std::optional<DiffAnswer> read_request() override;
    DiffAnswer diff(const std::string& root_dir, const std::stop_token& stop) override;

private:
    std::string dataset_name_;
};

// The path both forms share: the one-dataset form when the query has dataset_name (even
// empty), otherwise the all-datasets form.
class DataSetDiffRouteHandler : public host::CoroutineHandler {
public:
    DataSetDiffRouteHandler(host::Exchange& exchange, const std::int64_t& host_pid)
        : CoroutineHandler(exchange), host_pid_(host_pid) {}
    host::Task get(const host::PathArgs& path_args) override;

private:
    const std::int64_t& host_pid_;
};

}  // namespace datasets
