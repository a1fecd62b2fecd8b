// Text a client sent comes back out as printable ASCII on every path that writes JSON text:
// relayed messages, answers, the pipeline export and the cache archive's pipeline.json. DEL
// (U+007F) is the one ASCII character outside space..tilde that is not a control character.

#include <gtest/gtest.h>

#include <string>

#include "support/pipelines.hpp"
#include "support/read_archive.hpp"
#include "support/test_server.hpp"

namespace {

using namespace test_support;

// Space..tilde throughout, and the DEL escaped as \u007f at least once.
void expect_printable_with_escaped_delete(std::string_view text, std::string_view where) {
    for (const char c : text) {
        ASSERT_TRUE(c >= ' ' && c <= '~') << where << " holds byte " << int(c) << ": " << text;
    }
    EXPECT_NE(text.find(R"(\u007f)"), std::string_view::npos) << where << ": " << text;
}

TEST(EscapedText, DeleteCharacterIsEscapedOnEveryPathThatWritesJson) {
    TestServer server;
    write_file(server.scratch() / "cache" / "a.bin", "a");
    // Raw in the body (JSON allows it unescaped) and written as an escape; the component is
    // kept as text by the pipeline model and built again for each answer.
    auto component = component_of_shape({"a", (server.scratch() / "cache").string()});
    component["code"] = "x = '\x7f'\n";
    component["metadata"] = boost::json::object{{"note", "del \x7f"}};
    std::string body = pipeline_updated(make_pipeline("k", {component}));
    ASSERT_NE(body.find(R"(\u007f)"), std::string::npos);
    body.replace(body.find(R"(\u007f)"), 6, "\x7f");

    server.start_kernel("k");
    WebSocketClient client(server, "k");
    ASSERT_EQ(server.post("/nuvex-link/kernels/k", body).status, 200);
    expect_printable_with_escaped_delete(client.read().value(), "relayed update");
    expect_printable_with_escaped_delete(server.get("/nuvex-link/kernels/k").body, "GET answer");

    const auto exported = server.post("/nuvex-link/pipeline/export",
                                      R"({"kernel_id": "k", "cell_ids": [], "ipynb_name": "n"})");
    EXPECT_EQ(exported.status, 200);
    expect_printable_with_escaped_delete(exported.body, "pipeline export");

    const auto archive = server.get("/nuvex-link/cache/export?kernel_id=k&ipynb_name=n.ipynb");
    ASSERT_EQ(archive.status, 200) << archive.body;
    const auto entries = read_archive(archive.body);
    const auto* pipeline_json = find_entry(entries, "pipeline.json");
    ASSERT_NE(pipeline_json, nullptr);
    expect_printable_with_escaped_delete(pipeline_json->data, "pipeline.json");
    while (client.read(std::chrono::milliseconds(300))) {
    }

    // A message that stores nothing is relayed as it came, its DEL escaped too.
    ASSERT_EQ(server
                  .post("/nuvex-link/kernels/k",
                        "{\"procedure\": \"run\", \"status\": null, \"msg\": \"m\x7f\", "
                        "\"successful\": null}")
                  .status,
              200);
    EXPECT_EQ(client.read(),
              R"({"procedure": "run", "status": null, "msg": "m\u007f", "successful": null})");
}

}  // namespace
