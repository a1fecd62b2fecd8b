// Running kernels listed by a notebook server (--jupyter-url) decide which pipelines the DAG
// clean-up keeps; a notebook server that fails makes the clean-up fail after the store.

#include <gtest/gtest.h>

#include "support/fake_platform.hpp"
#include "support/pipelines.hpp"
#include "support/test_server.hpp"

namespace {

using test_support::make_component;
using test_support::make_pipeline;
using test_support::pipeline_updated;
using test_support::TestServer;

std::string notebook_url;

void use_notebook_server(app::CommandLine& line) {
    line.jupyter_url = notebook_url + "/";
    line.jupyter_token = "nb-token";
}

TEST(KernelList, RunningKernelsComeFromTheNotebookServer) {
    test_support::FakePlatform notebook;
    notebook.answer("GET", "/api/kernels", 200, R"([{"id": "k1", "name": "python3"}])");
    notebook_url = notebook.url();
    TestServer server(use_notebook_server);

    for (const char* kernel : {"k2", "k1"}) {
        const auto answer =
            server.post(std::string("/nuvex-link/kernels/") + kernel,
                        pipeline_updated(make_pipeline(kernel, {make_component("a")})));
        EXPECT_EQ(answer.body, R"({"message": "Success."})") << kernel;
    }
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1").status, 200);
    EXPECT_EQ(server.get("/nuvex-link/kernels/k2").status, 400);  // not running: dropped
    ASSERT_FALSE(notebook.requests().empty());
    EXPECT_EQ(notebook.requests().back().authorization, "token nb-token");

    // The notebook server failing: the pipeline is stored, the answer names the failure.
    notebook.answer("GET", "/api/kernels", 503, "{}");
    const auto answer = server.post("/nuvex-link/kernels/k1",
                                    pipeline_updated(make_pipeline("k1", {make_component("b")})));
    EXPECT_EQ(answer.status, 500);
    EXPECT_NE(answer.json().at("message").as_string().find("status 503"), std::string::npos)
        << answer.body;
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1")
                  .json()
                  .at("updated_components")
                  .at("added")
                  .at(0)
                  .at("identifier"),
              "b");
}

}  // namespace
