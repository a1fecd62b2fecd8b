// The DAG routes through a real server with real websocket clients.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <filesystem>

#include "base/json_io/json_reader.hpp"
#include "base/json_io/json_text.hpp"
#include "support/nested_json.hpp"
#include "support/pipelines.hpp"
#include "support/test_server.hpp"

namespace {

namespace json = boost::json;
using test_support::make_component;
using test_support::make_pipeline;
using test_support::nested_json;
using test_support::pipeline_updated;
using test_support::TestServer;
using test_support::WebSocketClient;

constexpr auto kQuiet = std::chrono::milliseconds(200);

TEST(DAGHandler, GetOfUnknownKernelAndLengthsOfEscapedText) {
    TestServer server;
    auto answer = server.get("/nuvex-link/kernels/k1");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, R"({"message": "Cannot get dag data in k1."})");
    EXPECT_EQ(answer.header("Content-Type"), "application/json");
    EXPECT_EQ(answer.header("Content-Length"), std::to_string(answer.body.size()));

    // A kernel id outside ASCII comes back escaped, and the length counts the escapes.
    answer = server.get("/nuvex-link/kernels/caf%C3%A9%F0%9F%98%80");
    EXPECT_EQ(answer.body, R"({"message": "Cannot get dag data in caf\u00e9\ud83d\ude00."})");
    EXPECT_EQ(answer.header("Content-Length"), std::to_string(answer.body.size()));
}

TEST(DAGHandler, MissingKeysAreNamedInOrder) {
    TestServer server;
    auto answer = server.post("/nuvex-link/kernels/k1", R"({"procedure": "x", "msg": ""})");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, R"({"message": "status is required in the body of the request."})");
    answer = server.post("/nuvex-link/kernels/k1", "{}");
    EXPECT_EQ(answer.json().at("message"), "procedure is required in the body of the request.");
    answer =
        server.post("/nuvex-link/kernels/k1", R"({"procedure": "x", "status": "y", "msg": "m"})");
    EXPECT_EQ(answer.json().at("message"), "successful is required in the body of the request.");

    // An empty body or a wrong type is the host's generic failure.
    EXPECT_EQ(server.post("/nuvex-link/kernels/k1", "").status, 500);
    answer = server.post("/nuvex-link/kernels/k1",
                         R"({"procedure": 1, "status": "y", "msg": "", "successful": null})");
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.json().at("message"), "Unhandled error");
}

TEST(DAGHandler, RelaysToEveryConnectionOfTheKernelOnly) {
    TestServer server;
    WebSocketClient first(server, "k1");
    WebSocketClient second(server, "k1");
    WebSocketClient other(server, "k2");

    auto answer = server.post("/nuvex-link/kernels/k1",
                              R"({"procedure": "x", "status": "y", "msg": "", "successful": null,
                                  "extra": "caf\u00e9"})");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, R"({"message": "Success."})");
    const std::string relayed =
        R"({"procedure": "x", "status": "y", "successful": null, "extra": "caf\u00e9"})";
    EXPECT_EQ(first.read(), relayed);
    EXPECT_EQ(second.read(), relayed);
    EXPECT_EQ(other.read(kQuiet), std::nullopt);

    // A message that is not empty stays in the relayed message; nothing was stored.
    server.post("/nuvex-link/kernels/k1",
                R"({"procedure": "run", "status": null, "msg": "hello", "successful": null})");
    EXPECT_EQ(first.read(),
              R"({"procedure": "run", "status": null, "msg": "hello", "successful": null})");
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1").status, 400);
}

TEST(DAGHandler, StoresPipelinesAndRelaysUpdates) {
    TestServer server;
    server.start_kernel("k1");
    WebSocketClient client(server, "k1");

    const auto v1 = make_pipeline("ignored", {make_component("a"), make_component("b")});
    auto answer = server.post("/nuvex-link/kernels/k1", pipeline_updated(v1));
    EXPECT_EQ(answer.body, R"({"message": "Success."})");
    auto relayed = json::parse(client.read().value()).as_object();
    EXPECT_EQ(relayed.at("procedure"), "pipeline:updated");
    EXPECT_FALSE(relayed.contains("msg"));
    const auto& first_update = relayed.at("successful").as_object();
    EXPECT_EQ(first_update.at("identifier"), "k1");
    EXPECT_EQ(first_update.at("updated_components").at("added").as_array().size(), 2u);
    EXPECT_EQ(first_update.at("updated_components").at("added").at(1).at("identifier"), "b");

    // GET gives the stored pipeline as an update from an empty one.
    answer = server.get("/nuvex-link/kernels/k1");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), json::value(first_update));

    // The same pipeline again: stored, answered 200 with an empty body, nothing pushed.
    answer = server.post("/nuvex-link/kernels/k1", pipeline_updated(v1));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "");
    EXPECT_EQ(client.read(kQuiet), std::nullopt);

    const auto v2 = make_pipeline("k1", {make_component("a", "x = 2"), make_component("c")});
    server.post("/nuvex-link/kernels/k1", pipeline_updated(v2));
    const auto update =
        json::parse(client.read().value()).at("successful").at("updated_components");
    EXPECT_EQ(update.at("added").at(0).at("identifier"), "c");
    EXPECT_EQ(update.at("revised").at(0).at("code"), "x = 2");
    EXPECT_EQ(update.at("deleted"), json::array({"b"}));
}

TEST(DAGHandler, MessagesThatStoreNothingCarryTheirComponentsWhole) {
    TestServer server;
    server.start_kernel("k1");
    WebSocketClient client(server, "k1");
    const std::string pipeline =
        R"({"identifier": "p", "graph": {"components": [{"identifier": "a", "code": "x\n"}, 7]}})";
    for (const char* procedure : {"pipeline:run", "pipeline:updated"}) {
        const auto answer =
            server.post("/nuvex-link/kernels/k1",
                        std::string(R"({"procedure": ")") + procedure +
                            R"(", "status": "failed", "msg": "", "successful": )" + pipeline + "}");
        EXPECT_EQ(answer.status, 200) << procedure;
        EXPECT_EQ(json::parse(client.read().value()).at("successful"), json::parse(pipeline))
            << procedure;
    }
}

TEST(DAGHandler, SamePipelineWrittenOtherwiseIsNoChange) {
    TestServer server;
    server.start_kernel("k1");
    WebSocketClient client(server, "k1");
    const auto a = make_component("a", "x = 'caf\u00e9'\n");
    const auto b = make_component("b");
    const auto v1 = pipeline_updated(make_pipeline("k1", {a, b}));
    ASSERT_EQ(server.post("/nuvex-link/kernels/k1", v1).status, 200);
    ASSERT_TRUE(client.read().has_value());
    const auto stored = server.get("/nuvex-link/kernels/k1").body;

    // Keys in another order and a character written without its escape: the same values.
    const auto reversed = [](const json::object& component) {
        json::object out;
        for (auto it = component.end(); it != component.begin();) {
            --it;
            out.emplace(it->key(), it->value());
        }
        return out;
    };
    std::string same = pipeline_updated(make_pipeline("k1", {reversed(a), reversed(b)}));
    same.replace(same.find(R"(\u00e9)"), 6, "\xc3\xa9");
    // An identifier written with an escape has the pipeline read as objects: still the same.
    std::string escaped = v1;
    escaped.replace(escaped.find(R"("identifier": "b")"), 17, R"("identifier": "\u0062")");
    for (const auto& body : {same, escaped}) {
        const auto answer = server.post("/nuvex-link/kernels/k1", body);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "");
    }
    EXPECT_EQ(client.read(kQuiet), std::nullopt);
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1").body, stored);
}

TEST(DAGHandler, PipelineThatDoesNotFitLeavesTheStoreAlone) {
    TestServer server;
    server.start_kernel("k1");
    server.post("/nuvex-link/kernels/k1",
                pipeline_updated(make_pipeline("k1", {make_component("a")})));

    auto broken = make_pipeline("k1", {make_component("a"), make_component("b")});
    broken["graph"].as_object()["components"].as_array()[1].as_object().erase("identifier");
    auto answer = server.post("/nuvex-link/kernels/k1", pipeline_updated(broken));
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.body, R"({"message": "graph.components[1].identifier: field required"})");

    answer = server.post("/nuvex-link/kernels/k1",
                         R"({"procedure": "pipeline:updated", "status": "successful", "msg": null,
                             "successful": null})");
    EXPECT_EQ(answer.status, 500);

    const auto stored = server.get("/nuvex-link/kernels/k1").json();
    EXPECT_EQ(stored.at("updated_components").at("added").as_array().size(), 1u);
}

TEST(DAGHandler, CleanUpRemovesOnlyCachesInsideThePipelinesFolder) {
    TestServer server;
    const auto pipelines = server.temp_dir() / "pipelines";
    const auto inside = pipelines / "k-old";
    const auto outside = server.scratch() / "user-data";
    const auto sneaky = pipelines / ".." / ".." / "user-data";
    const auto link = pipelines / "link-out";
    for (const auto& folder : {inside, outside}) {
        test_support::write_file(folder / "cache.db", "data");
    }
    std::filesystem::create_directory_symlink(outside, link);

    const std::pair<const char*, std::filesystem::path> kernels[] = {
        {"k-old", inside}, {"k-outside", outside}, {"k-dots", sneaky}, {"k-link", link}};
    for (const auto& [kernel, folder] : kernels) {
        server.start_kernel(kernel);
        server.post(
            std::string("/nuvex-link/kernels/") + kernel,
            pipeline_updated(make_pipeline(kernel, {make_component("a")}, folder.string())));
    }
    server.start_kernel("k-null");
    server.post("/nuvex-link/kernels/k-null",
                pipeline_updated(make_pipeline("k-null", {make_component("a")})));

    for (const auto& [kernel, folder] : kernels) server.stop_kernel(kernel);
    server.stop_kernel("k-null");
    server.start_kernel("k-live");
    const auto answer = server.post("/nuvex-link/kernels/k-live",
                                    R"({"procedure": "x", "status": "y", "msg": "",
                                        "successful": null})");
    EXPECT_EQ(answer.body, R"({"message": "Success."})");

    EXPECT_FALSE(std::filesystem::exists(inside));
    EXPECT_TRUE(std::filesystem::exists(outside / "cache.db"));
    EXPECT_TRUE(std::filesystem::exists(pipelines));
    for (const char* kernel : {"k-old", "k-outside", "k-dots", "k-link", "k-null"}) {
        EXPECT_EQ(server.get(std::string("/nuvex-link/kernels/") + kernel).status, 400) << kernel;
    }
}

TEST(DAGHandler, RemovingAComponentOnlyIsAnUpdate) {
    TestServer server;
    server.start_kernel("k1");
    WebSocketClient client(server, "k1");
    server.post("/nuvex-link/kernels/k1",
                pipeline_updated(make_pipeline("k1", {make_component("a"), make_component("b")})));
    ASSERT_TRUE(client.read().has_value());

    const auto answer = server.post("/nuvex-link/kernels/k1",
                                    pipeline_updated(make_pipeline("k1", {make_component("a")})));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, R"({"message": "Success."})");
    EXPECT_EQ(client.read(), R"({"procedure": "pipeline:updated", "status": "successful", )"
                             R"("successful": {"identifier": "k1", "updated_components": )"
                             R"({"added": [], "revised": [], "deleted": ["b"]}}})");
    const auto stored = server.get("/nuvex-link/kernels/k1").json();
    EXPECT_EQ(stored.at("updated_components").at("added").as_array().size(), 1u);
}

// A pipeline body whose component "a" has {"deep": <value>} as metadata, 6 levels above it.
std::string pipeline_with_deep_metadata(std::string_view value) {
    auto component = make_component("a");
    component["metadata"] = json::object{{"deep", "@value@"}};
    std::string body = pipeline_updated(make_pipeline("k1", {component}));
    return body.replace(body.find(R"("@value@")"), 9, value);
}

TEST(DAGHandler, DeeplyNestedMetadataIsStoredAndWrittenBackUnchanged) {
    TestServer server;
    server.start_kernel("k1");
    WebSocketClient client(server, "k1");
    const std::string deep = nested_json(100, R"("caf\u00e9")");
    const std::string metadata = R"("metadata": {"deep": )" + deep + "}";

    const auto answer = server.post("/nuvex-link/kernels/k1", pipeline_with_deep_metadata(deep));
    EXPECT_EQ(answer.body, R"({"message": "Success."})");
    EXPECT_NE(client.read().value().find(metadata), std::string::npos);
    EXPECT_NE(server.get("/nuvex-link/kernels/k1").body.find(metadata), std::string::npos);
    const auto exported = server.post("/nuvex-link/pipeline/export",
                                      R"({"kernel_id": "k1", "cell_ids": [], "ipynb_name": "n"})");
    EXPECT_NE(exported.body.find(metadata), std::string::npos);

    // Changed at the bottom, it is a revision.
    const std::string changed = nested_json(100, "1");
    server.post("/nuvex-link/kernels/k1", pipeline_with_deep_metadata(changed));
    const auto revised = client.read().value();
    EXPECT_NE(revised.find(R"("revised": [{"identifier": "a")"), std::string::npos);
    EXPECT_NE(revised.find(changed), std::string::npos);
}

TEST(DAGHandler, BodiesNestedUpToTheLimitAreTakenDeeperOnesRefused) {
    constexpr int kLimit = json_io::kMaxNestingDepth;
    const std::string refused =
        R"({"message": "JSON in body of request is nested deeper than 500 levels", "reason": null})";
    TestServer server;
    server.start_kernel("k1");
    WebSocketClient client(server, "k1");

    const std::string deepest = nested_json(kLimit - 6);
    EXPECT_EQ(server.post("/nuvex-link/kernels/k1", pipeline_with_deep_metadata(deepest)).status,
              200);
    EXPECT_NE(client.read().value().find(deepest), std::string::npos);
    auto answer =
        server.post("/nuvex-link/kernels/k1", pipeline_with_deep_metadata(nested_json(kLimit - 5)));
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, refused);

    // A message that stores nothing is relayed as it came, as deep as the limit.
    const std::string message = R"({"procedure": "x", "status": "y", "msg": "m", )"
                                R"("successful": null, )"
                                R"("extra": )" +
                                nested_json(kLimit - 1) + "}";
    EXPECT_EQ(server.post("/nuvex-link/kernels/k1", message).status, 200);
    EXPECT_EQ(client.read(), message);
    answer = server.post("/nuvex-link/kernels/k1", "[" + message + "]");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, refused);
    EXPECT_EQ(server.post("/nuvex-link/kernels/k1", std::string(1'000'000, '[')).body, refused);

    EXPECT_EQ(client.read(kQuiet), std::nullopt);
    EXPECT_NE(server.get("/nuvex-link/kernels/k1").body.find(deepest), std::string::npos);
}

}  // namespace
