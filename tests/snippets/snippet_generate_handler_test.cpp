// Snippet generation through the real server and the real Jinja2 engine.

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <cstdlib>
#include <filesystem>

#include "base/json_io/json_reader.hpp"
#include "snippets/template_engine.hpp"
#include "support/nested_json.hpp"
#include "support/temp_dir.hpp"
#include "support/test_server.hpp"

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using test_support::HttpResponse;
using test_support::TempDir;
using test_support::TestServer;
using test_support::write_file;

constexpr std::string_view kRoute = "/nuvex-link/snippets/generate";

std::string request_body(std::string_view category, std::string_view snippet_id,
                         const json::value& parameters) {
    return json::serialize(json::object{
        {"category", category}, {"snippet_id", snippet_id}, {"parameters", parameters}});
}

void expect_answer(const HttpResponse& response, int status, std::string_view body) {
    EXPECT_EQ(response.status, status) << response.body;
    EXPECT_EQ(response.body, body);
    EXPECT_EQ(response.header("Content-Type"), "application/json");
}

// A server whose snippets folder is a fresh one the test fills.
class SnippetRenderTest : public testing::Test {
protected:
    fs::path snippets_dir() const { return folder_.path() / "snippets"; }
    void add_template(std::string_view category, std::string_view snippet_id,
                      std::string_view text) {
        write_file(snippets_dir() / category / snippet_id / "snippet.jinja", text);
    }
    HttpResponse render(std::string_view text, const json::value& parameters = json::object{}) {
        add_template("test", "case", text);
        return server_.post(kRoute, request_body("test", "case", parameters));
    }
    std::string rendered_code(std::string_view text,
                              const json::value& parameters = json::object{}) {
        const HttpResponse response = render(text, parameters);
        EXPECT_EQ(response.status, 200) << response.body;
        return std::string(response.json().at("code").as_string());
    }

    TempDir folder_{"nuvex-snippets"};
    TestServer server_{[this](app::CommandLine& line) { line.snippets_dir = snippets_dir(); }};
};

}  // namespace

// First in the file so that it meets the interpreter cold, also when every test of the
// file runs in one process.
TEST(SnippetEngineStart, RendersColdThenWarmWhateverThePythonEnvironmentSays) {
    // Settings for some other Python must not reach the embedded one.
    ::setenv("PYTHONHOME", "/nonexistent-python-home", 1);
    ::setenv("PYTHONPATH", "/nonexistent-python-path", 1);
    ASSERT_FALSE(snippets::template_engine_started());
    TestServer server;
    const std::string body = request_body(
        "dataset", "load_version", json::object{{"dataset_name", "churn"}, {"version", "v2"}});

    const HttpResponse cold = server.post(kRoute, body);
    ASSERT_EQ(cold.status, 200) << cold.body;
    EXPECT_TRUE(snippets::template_engine_started());
    const std::string code(cold.json().at("code").as_string());
    EXPECT_NE(code.find("\"churn\""), std::string::npos) << code;
    EXPECT_NE(code.find("\"v2\""), std::string::npos) << code;

    const HttpResponse warm = server.post(kRoute, body);
    EXPECT_EQ(warm.status, 200);
    EXPECT_EQ(warm.body, cold.body);
    ::unsetenv("PYTHONHOME");
    ::unsetenv("PYTHONPATH");
}

TEST_F(SnippetRenderTest, FollowsJinja2DefaultSettings) {
    // A missing name renders empty; markup characters are not escaped.
    EXPECT_EQ(rendered_code("a={{ missing }};b={{ given }}", json::object{{"given", "<x> & 'y'"}}),
              "a=;b=<x> & 'y'");
    // One trailing newline is dropped, a second one stays.
    EXPECT_EQ(rendered_code("line\n"), "line");
    EXPECT_EQ(rendered_code("line\n\n"), "line\n");
    // Carriage-return line ends read as line feeds.
    EXPECT_EQ(rendered_code("one\r\ntwo\rthree\r\n"), "one\ntwo\nthree");
    // Loops and filters over structured parameters.
    EXPECT_EQ(rendered_code("{% for c in columns %}{{ c | upper }}{{ ', ' if not loop.last }}"
                            "{% endfor %} ({{ limits.rows }}, {{ flag }}, {{ none_value }})",
                            json::object{{"columns", json::array{"id", "price"}},
                                         {"limits", json::object{{"rows", 10}}},
                                         {"flag", true},
                                         {"none_value", nullptr}}),
              "ID, PRICE (10, True, None)");
}

TEST_F(SnippetRenderTest, WritesNonAsciiCodeAsEscapesAndTakesAnAbsentParametersKey) {
    add_template("test", "case", "caf\xC3\xA9 {{ name }}\n");
    const HttpResponse response =
        server_.post(kRoute, R"({"category": "test", "snippet_id": "case", "extra": 1})");
    expect_answer(response, 200, R"({"code": "caf\u00e9 "})");
}

TEST_F(SnippetRenderTest, AnswersEveryFailureWithItsStatusAndMessage) {
    add_template("test", "case", "{{ x }}");
    const auto post = [&](std::string_view body) { return server_.post(kRoute, body); };

    expect_answer(post(""), 400, R"({"message": "Invalid JSON request body."})");
    expect_answer(post("{\"category\": "), 400, R"({"message": "Invalid JSON request body."})");
    expect_answer(
        post("{\"category\": \"t\xFF\"}"), 400,
        R"({"message": "'utf-8' codec can't decode byte 0xff in position 15: invalid start byte"})");
    expect_answer(post(R"({"snippet_id": 5})"), 400,
                  R"({"message": "category: field required; snippet_id: str type expected"})");
    expect_answer(post(R"(["test", "case"])"), 500,
                  R"({"message": "Failed to generate snippet code."})");
    // "parameters" that is not an object fails at rendering.
    expect_answer(post(R"({"category": "test", "snippet_id": "case", "parameters": null})"), 500,
                  R"({"message": "Failed to generate snippet code."})");
    // A leading byte order mark is no part of the JSON text.
    EXPECT_EQ(post("\xEF\xBB\xBF{\"category\": \"test\", \"snippet_id\": \"case\"}").status, 200);
}

TEST_F(SnippetRenderTest, TakesParametersNestedUpToTheLimit) {
    using test_support::nested_json;
    const auto body = [](const std::string& parameters) {
        return R"({"category": "test", "snippet_id": "case", "parameters": )" + parameters + "}";
    };
    // 100 levels reach the template whole: its JSON text is the one sent.
    const std::string deep = nested_json(100, R"("bottom")");
    add_template("test", "case", "{{ deep | tojson }}");
    HttpResponse response = server_.post(kRoute, body(R"({"deep": )" + deep + "}"));
    ASSERT_EQ(response.status, 200) << response.body;
    EXPECT_EQ(response.json().at("code").as_string(), deep);

    add_template("test", "case", "ok");
    constexpr int kLimit = json_io::kMaxNestingDepth;
    EXPECT_EQ(server_.post(kRoute, body(nested_json(kLimit - 1))).status, 200);
    response = server_.post(kRoute, body(nested_json(kLimit)));
    EXPECT_EQ(response.status, 400);
    EXPECT_EQ(
        response.body,
        R"({"message": "JSON in body of request is nested deeper than 500 levels", "reason": null})");
}

TEST_F(SnippetRenderTest, AnswersTemplateFailuresWithTheirStatusAndMessage) {
    const std::string failed = R"({"message": "Failed to generate snippet code."})";
    fs::create_directories(snippets_dir() / "test" / "empty");
    expect_answer(server_.post(kRoute, request_body("test", "empty", json::object{})), 404,
                  R"({"message": "Snippet template not found."})");
    expect_answer(server_.post(kRoute, request_body("nothing", "here", json::object{})), 404,
                  R"({"message": "Snippet template not found."})");

    expect_answer(
        render("ok\n\xC3\x28"), 400,
        R"({"message": "'utf-8' codec can't decode byte 0xc3 in position 3: invalid continuation byte"})");
    expect_answer(render("{% for x in %}"), 500, failed);
    expect_answer(render("{{ missing.attribute.deeper }}"), 500, failed);
    // A value error raised while rendering keeps its own text, as value errors do.
    expect_answer(render("{{ range(1, 2, 0) | list }}"), 400,
                  R"({"message": "range() arg 3 must not be zero"})");

    // A "snippet.jinja" that cannot be read as a file.
    fs::create_directories(snippets_dir() / "test" / "folder" / "snippet.jinja");
    expect_answer(server_.post(kRoute, request_body("test", "folder", json::object{})), 500,
                  failed);
}

TEST_F(SnippetRenderTest, RefusesNamesThatWouldLeaveTheSnippetsFolder) {
    // Templates beside and above the snippets folder that a joined path could reach.
    write_file(folder_.path() / "x" / "snippet.jinja", "outside");
    write_file(folder_.path() / "snippet.jinja", "outside");
    write_file(snippets_dir() / "snippet.jinja", "outside");
    add_template("test", "case", "inside");
    const json::array names{"",
                            ".",
                            "..",
                            "../x",
                            "/",
                            "x/..",
                            "a\\b",
                            json::string("a\0b", 3),
                            (folder_.path() / "x").string()};
    for (const auto& name : names) {
        const std::string_view text = name.as_string();
        for (const auto& [category, snippet_id] :
             {std::pair{text, std::string_view("x")}, std::pair{std::string_view(".."), text},
              std::pair{std::string_view("test"), text}}) {
            const std::string body = request_body(category, snippet_id, json::object{});
            expect_answer(server_.post(kRoute, body), 404,
                          R"({"message": "Snippet template not found."})");
        }
    }
    // Links: one that leads out of the folder is not followed, one that stays inside is.
    fs::create_directory_symlink(folder_.path() / "x", snippets_dir() / "test" / "out");
    fs::create_directory_symlink(snippets_dir() / "test" / "case", snippets_dir() / "test" / "in");
    expect_answer(server_.post(kRoute, request_body("test", "out", json::object{})), 404,
                  R"({"message": "Snippet template not found."})");
    EXPECT_EQ(server_.post(kRoute, request_body("test", "in", json::object{})).status, 200);
    EXPECT_EQ(rendered_code("inside"), "inside");
}

TEST(ShippedSnippets, RenderWithTheirDocumentedParameters) {
    TestServer server;
    const struct {
        std::string_view category, snippet_id;
        json::object parameters;
        std::string_view expected_line;
    } snippets[] = {
        {"dataset",
         "load_version",
         {{"dataset_name", "churn"}, {"file_name", "train \"v2\".csv"}},
         R"(df = pd.read_csv(dataset_dir / "train \"v2\".csv"))"},
        {"dataset", "compare_versions", {{"dataset_name", "churn"}}, R"(    versions / "v1",)"},
        {"model_registry",
         "log_model",
         {{"model_registry_id", "5"},
          {"model_name", "churn-xgb"},
          {"metrics", json::object{{"auc", 0.91}}}},
         R"(        "auc": 0.91,)"},
        {"pipeline",
         "read_component_cache",
         {{"diskcache_dir", "/tmp/c1"}, {"key", "model"}},
         R"(    output = cache["model"])"},
    };
    for (const auto& snippet : snippets) {
        const HttpResponse response = server.post(
            kRoute, request_body(snippet.category, snippet.snippet_id, snippet.parameters));
        ASSERT_EQ(response.status, 200) << snippet.snippet_id << ": " << response.body;
        const std::string code(response.json().at("code").as_string());
        EXPECT_NE(code.find(std::string(snippet.expected_line) + "\n"), std::string::npos)
            << snippet.snippet_id << ":\n"
            << code;
    }
}
