#include "host/jupyter/host_record.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/json_io/json_text.hpp"
#include "support/temp_dir.hpp"

namespace host {
namespace {

namespace fs = std::filesystem;
using test_support::write_file;

class JupyterServerAppInfoTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("JUPYTER_RUNTIME_DIR", folder_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("JUPYTER_RUNTIME_DIR"); }

    fs::path runtime_file(std::string_view prefix, long pid = ::getpid()) const {
        return folder_.path() / (std::string(prefix) + std::to_string(pid) + ".json");
    }
    std::string failure_text() const {
        try {
            const JupyterServerAppInfo info(::getpid());
        } catch (const std::exception& failure) {
            return failure.what();
        }
        return "no failure";
    }

    test_support::TempDir folder_;
};

TEST_F(JupyterServerAppInfoTest, ReadsTheRecordOfThisOrAnotherServer) {
    write_file(runtime_file("jpserver-"),
               R"({"url": "http://127.0.0.1:8888/", "port": 8888.9, "pid": 42, "token": "t0k",
                   "password": false, "secure": false, "sock": "", "hostname": "localhost",
                   "base_url": "/", "root_dir": "/new", "notebook_dir": "/old",
                   "version": "2.7.0", "extra": [1]})");
    write_file(runtime_file("nbserver-"), R"({"root_dir": "/ignored"})");
    // The current server's file wins; "root_dir" wins over "notebook_dir"; any number is
    // taken by its integer part; unknown keys are dropped; the order is fixed.
    EXPECT_EQ(json_io::to_json_text(JupyterServerAppInfo(::getpid()).dict()),
              R"({"base_url": "/", "hostname": "localhost", "password": false, "pid": 42, )"
              R"("port": 8888, "root_dir": "/new", "secure": false, "sock": "", )"
              R"("token": "t0k", "url": "http://127.0.0.1:8888/", "version": "2.7.0"})");

    write_file(runtime_file("nbserver-", 777), R"({"notebook_dir": "/nb", "version": "1.0"})");
    const JupyterServerAppInfo other(777);
    EXPECT_EQ(other.root_dir(), "/nb");
    EXPECT_EQ(other.version(), "1.0");
    EXPECT_EQ(other.port(), std::nullopt);
}

TEST_F(JupyterServerAppInfoTest, FailuresNameTheFileAndTheCause) {
    EXPECT_EQ(failure_text(), "Cannot read the runtime file " + runtime_file("nbserver-").string() +
                                  ": No such file or directory");
    const std::string file = runtime_file("jpserver-").string();
    write_file(file, "{\"root_dir\": ");
    EXPECT_TRUE(failure_text().starts_with("The runtime file " + file + " is not valid JSON: "));
    write_file(file, "{\"root_dir\": \"\xff\"}");
    EXPECT_TRUE(failure_text().starts_with("The runtime file " + file + " is not valid JSON: "));
    write_file(file, "[1, 2]");
    EXPECT_EQ(failure_text(), "The runtime file " + file + " does not hold a JSON object");
    write_file(file, R"({"port": "8888"})");
    EXPECT_EQ(failure_text(), R"(Server info field "port" must be an integer, not "8888")");
    write_file(file, R"({"root_dir": 5})");
    EXPECT_EQ(failure_text(), R"(Server info field "root_dir" must be text, not 5)");
}

}  // namespace
}  // namespace host
