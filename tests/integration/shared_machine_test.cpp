// Two users on one machine, as JupyterHub's local spawner runs them, sharing one temporary
// place. The intruder plants its own folder and a link to the victim's projects where the
// victim's server keeps its pipeline caches; the victim's server (the real program, run as
// the victim) says why it will not use that folder, answers so, and never deletes, reads or
// writes the victim's files through it. Needs root to make the two users.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/process/child_process.hpp"
#include "support/pipelines.hpp"
#include "support/raw_client.hpp"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using test_support::read_file;

void run(const std::vector<std::string>& command) {
    const auto done = base::run_process(command);
    if (done.exit_status != 0) {
        throw std::runtime_error(command.front() + " failed: " + done.standard_error);
    }
}

// A user made for one test and removed with its home when the test ends, also when it fails.
class ThrowawayUser {
public:
    explicit ThrowawayUser(std::string name) : name_(std::move(name)) {
        run({"useradd", "--create-home", "--shell", "/usr/sbin/nologin", name_});
        const passwd* entry = ::getpwnam(name_.c_str());
        if (entry == nullptr) throw std::runtime_error("no user " + name_ + " after useradd");
        uid_ = entry->pw_uid;
        home_ = entry->pw_dir;
    }
    ~ThrowawayUser() { base::run_process({"userdel", "--remove", name_}); }
    ThrowawayUser(const ThrowawayUser&) = delete;
    ThrowawayUser& operator=(const ThrowawayUser&) = delete;

    const std::string& name() const { return name_; }
    uid_t uid() const { return uid_; }
    const fs::path& home() const { return home_; }

    // Runs the command as this user.
    void run_as(std::vector<std::string> command) const {
        command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=" + name_, "--regid=" + name_,
                                         "--init-groups", "--"});
        run(command);
    }

private:
    std::string name_;
    uid_t uid_ = 0;
    fs::path home_;
};

int post_pipeline(const test_support::ServerProcess& server, std::string_view kernel,
                  const fs::path& diskcache_dir, std::string* body = nullptr) {
    const auto answer = test_support::raw_exchange(
        server.port(),
        server.request("POST", "/nuvex-link/kernels/" + std::string(kernel),
                       test_support::pipeline_updated(test_support::make_pipeline(
                           kernel, {test_support::make_component("c1")}, diskcache_dir.string())),
                       "Connection: close\r\n"));
    if (body) *body = answer.body();
    return answer.status;
}

}  // namespace

TEST(SharedMachine, AFolderPlantedByAnotherUserIsNeverUsed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the test makes two throwaway users (useradd) and runs the "
                        "server as one of them";
    }
    const std::string suffix = std::to_string(::getpid());
    const ThrowawayUser intruder("nvx-intruder-" + suffix);
    const ThrowawayUser victim("nvx-victim-" + suffix);

    // The place both users' temporary folders default to, as /tmp is.
    const test_support::TempDir shared("nuvex-shared");
    ::chmod(shared.path().c_str(), 01777);
    const fs::path folder = shared.path() / "nuvex-link";

    const fs::path projects = victim.home() / "projects";
    victim.run_as({"mkdir", "-p", (projects / "analysis").string()});
    victim.run_as({"cp", "/etc/hostname", (projects / "analysis" / "notes.txt").string()});
    const std::string notes = read_file(projects / "analysis" / "notes.txt");

    intruder.run_as({"mkdir", "-m", "777", folder.string()});
    intruder.run_as({"ln", "-s", projects.string(), (folder / "pipelines").string()});

    test_support::ServerProcess server(
        test_support::Launch{.user = victim.name(), .tmpdir = shared.path()});
    const std::string refusal = "The temporary folder " + folder.string() +
                                " is not used: it belongs to user " +
                                std::to_string(intruder.uid()) + ", not to this server's user " +
                                std::to_string(victim.uid());
    EXPECT_NE(read_file(server.log_path()).find(refusal), std::string::npos)
        << read_file(server.log_path());

    // The victim's kernel caches where the kernel side was told to; the kernel stops and the
    // next post's clean-up would delete that cache, and with it the victim's projects.
    test_support::write_file(server.runtime_dir() / "kernel-k1.json", "{}");
    EXPECT_EQ(post_pipeline(server, "k1", folder / "pipelines" / "analysis"), 200);
    fs::remove(server.runtime_dir() / "kernel-k1.json");
    test_support::write_file(server.runtime_dir() / "kernel-k2.json", "{}");
    std::string body;
    EXPECT_EQ(post_pipeline(server, "k2", {}, &body), 500);
    EXPECT_EQ(body, R"({"message": ")" + refusal + R"("})");

    const auto size = test_support::raw_exchange(
        server.port(),
        server.request("GET", "/nuvex-link/cache/info", "", "Connection: close\r\n"));
    EXPECT_EQ(size.status, 500);
    EXPECT_EQ(size.body(), R"({"message": ")" + refusal + R"("})");

    EXPECT_EQ(read_file(projects / "analysis" / "notes.txt"), notes);
    EXPECT_EQ(std::distance(fs::directory_iterator(projects), fs::directory_iterator()), 1);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::all);
    EXPECT_TRUE(fs::is_symlink(folder / "pipelines"));

    // Once the planted folder is gone, the server makes its own and uses it.
    fs::remove_all(folder);
    const auto after = test_support::raw_exchange(
        server.port(),
        server.request("GET", "/nuvex-link/cache/info", "", "Connection: close\r\n"));
    EXPECT_EQ(after.status, 200) << after.body();
    struct stat made;
    ASSERT_EQ(::lstat((folder / "pipelines").c_str(), &made), 0);
    EXPECT_EQ(made.st_uid, victim.uid());
    EXPECT_EQ(made.st_mode & 07777, 0700u);
    EXPECT_EQ(server.terminate(), 0);
}
