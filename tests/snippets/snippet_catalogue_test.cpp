// The snippet catalogue through the real server and the real Jinja2 engine.

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/logging/log.hpp"
#include "support/temp_dir.hpp"
#include "support/test_server.hpp"

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using test_support::expect_json_answer;
using test_support::HttpResponse;
using test_support::TempDir;
using test_support::TestServer;
using test_support::write_file;

constexpr std::string_view kCatalogue = "/nuvex-link/snippets";
constexpr std::string_view kNotFound = R"({"message": "Snippet template not found."})";

// A server whose snippets folder is a fresh one the test fills.
class SnippetCatalogueTest : public testing::Test {
protected:
    SnippetCatalogueTest() { fs::create_directories(snippets_dir()); }

    fs::path snippets_dir() const { return folder_.path() / "snippets"; }
    void add(const fs::path& snippet, std::string_view template_text,
             std::optional<std::string_view> description = std::nullopt) {
        write_file(snippets_dir() / snippet / "snippet.jinja", template_text);
        if (description) write_file(snippets_dir() / snippet / "snippet.json", *description);
    }
    json::array catalogue() {
        const HttpResponse response = server_.get(kCatalogue);
        EXPECT_EQ(response.status, 200) << response.body;
        return response.json().at("snippets").as_array();
    }
    // "category/snippet_id" of each entry, in the catalogue's order.
    std::vector<std::string> names() {
        std::vector<std::string> listed;
        for (const auto& entry : catalogue()) {
            listed.push_back(std::string(entry.at("category").as_string()) + "/" +
                             std::string(entry.at("snippet_id").as_string()));
        }
        return listed;
    }
    json::object entry(std::string_view category, std::string_view snippet_id) {
        for (const auto& item : catalogue()) {
            if (item.at("category").as_string() == category &&
                item.at("snippet_id").as_string() == snippet_id) {
                return item.as_object();
            }
        }
        ADD_FAILURE() << category << "/" << snippet_id << " is not listed";
        return {};
    }

    TempDir folder_{"nuvex-catalogue"};
    TestServer server_{[this](app::CommandLine& line) { line.snippets_dir = snippets_dir(); }};
};

json::value parse(std::string_view text) { return json::parse(text); }

}  // namespace

TEST_F(SnippetCatalogueTest, ListsEachSnippetWithWhatItTakesAndWhatIsWrongWithIt) {
    // Parameters in the order they first appear: "a if b" holds b first in Jinja2's tree.
    add("tables/join",
        "{{ a if b }}{% for row in rows %}{{ row.a }}{% endfor %}{{ c | default('x') }}{{ a }}",
        R"({"title": "Join two tables", "description": "Joins them.",
            "parameters": {"c": {"description": "Third.", "default": "x"},
                           "rows": {"example": [1, 2]}, "b": {}, "a": {"description": "First."}}})");
    add("alpha/plain", "print({{ value }})\n");
    add("tables/broken", "ok\n{{ a }\n", R"({"title": "Broken"})");
    add("tables/no_filter", "{{ x | nofilter }}");
    add("tables/not_json", "{{ x }}", "{\"title\": ");
    add("tables/misfit", "{{ x }}",
        R"({"title": 5, "parameters": {"x": {"defualt": 1, "description": []}, "y": 3}, "extra": 1})");
    add("tables/drift", "{{ used }} {{ also_used }}",
        R"({"parameters": {"used": {}, "gone": {"description": "No longer used."}}})");
    // Not snippets: a folder without a template, a file among the categories.
    fs::create_directories(snippets_dir() / "tables" / "empty");
    write_file(snippets_dir() / "README", "not a category");

    EXPECT_EQ(names(), (std::vector<std::string>{"alpha/plain", "tables/broken", "tables/drift",
                                                 "tables/join", "tables/misfit", "tables/no_filter",
                                                 "tables/not_json"}));
    EXPECT_EQ(entry("tables", "join"), parse(R"({"category": "tables", "snippet_id": "join",
        "title": "Join two tables", "description": "Joins them.",
        "parameters": [{"name": "a", "description": "First."}, {"name": "b", "description": ""},
                       {"name": "rows", "description": "", "example": [1, 2]},
                       {"name": "c", "description": "Third.", "default": "x"}],
        "undeclared_parameters": [], "unused_parameters": [], "errors": []})"));
    // Without a snippet.json nothing is declared, so nothing is missing.
    EXPECT_EQ(entry("alpha", "plain"), parse(R"({"category": "alpha", "snippet_id": "plain",
        "title": "plain", "description": "", "parameters": [{"name": "value", "description": ""}],
        "undeclared_parameters": [], "unused_parameters": [], "errors": []})"));
    EXPECT_EQ(entry("tables", "broken"), parse(R"({"category": "tables", "snippet_id": "broken",
        "title": "Broken", "description": "", "parameters": null,
        "undeclared_parameters": [], "unused_parameters": [],
        "errors": ["snippet.jinja: line 2: unexpected '}'"]})"));
    // What only compiling finds would otherwise fail at the first render.
    EXPECT_EQ(entry("tables", "no_filter").at("errors"),
              parse(R"(["snippet.jinja: line 1: No filter named 'nofilter'."])"));
    // A snippet.json at fault leaves the template's parameters, undescribed.
    const json::object not_json = entry("tables", "not_json");
    EXPECT_EQ(not_json.at("errors"), parse(R"(["snippet.json: invalid JSON: syntax error"])"))
        << json::serialize(not_json);
    EXPECT_EQ(not_json.at("parameters"), parse(R"([{"name": "x", "description": ""}])"));
    EXPECT_EQ(
        entry("tables", "misfit").at("errors"),
        parse(
            R"(["snippet.json: extra: extra fields not permitted; title: str type expected; parameters.x.defualt: extra fields not permitted; parameters.x.description: str type expected; parameters.y: dict type expected"])"));
    const json::object drift = entry("tables", "drift");
    EXPECT_EQ(drift.at("undeclared_parameters"), parse(R"(["also_used"])"));
    EXPECT_EQ(drift.at("unused_parameters"), parse(R"(["gone"])"));
    EXPECT_EQ(drift.at("errors"), json::array());
}

TEST_F(SnippetCatalogueTest, SeesEveryChangeOnDiskWhileKeepingWhatDidNotChange) {
    add("c/s", "{{ first }}");
    EXPECT_EQ(entry("c", "s").at("parameters"), parse(R"([{"name": "first", "description": ""}])"));
    EXPECT_EQ(catalogue(), catalogue());

    add("c/s", "{{ second }} {{ third }}");
    EXPECT_EQ(
        entry("c", "s").at("parameters"),
        parse(R"([{"name": "second", "description": ""}, {"name": "third", "description": ""}])"));
    write_file(snippets_dir() / "c" / "s" / "snippet.json", R"({"title": "Now described"})");
    EXPECT_EQ(entry("c", "s").at("title").as_string(), "Now described");
    EXPECT_EQ(entry("c", "s").at("undeclared_parameters"), parse(R"(["second", "third"])"));
    write_file(snippets_dir() / "c" / "s" / "snippet.json", "[]");
    EXPECT_EQ(entry("c", "s").at("errors"), parse(R"(["snippet.json: dict type expected"])"));
    fs::remove(snippets_dir() / "c" / "s" / "snippet.json");
    EXPECT_EQ(entry("c", "s").at("errors"), json::array());

    add("c/t", "{{ x }}");
    fs::remove_all(snippets_dir() / "c" / "s");
    EXPECT_EQ(names(), std::vector<std::string>{"c/t"});
    fs::remove_all(snippets_dir());
    EXPECT_EQ(names(), std::vector<std::string>{});
}

TEST_F(SnippetCatalogueTest, ListsOnlyRealFoldersAndFilesBelowTheSnippetsFolder) {
    const fs::path outside = folder_.path() / "outside";
    write_file(outside / "secret" / "snippet.jinja", "{{ stolen }}");
    write_file(outside / "file.jinja", "{{ stolen }}");
    add("real/ok", "{{ x }}");
    fs::create_directory_symlink(outside, snippets_dir() / "linked_category");
    fs::create_directory_symlink(outside / "secret", snippets_dir() / "real" / "linked_snippet");
    fs::create_directories(snippets_dir() / "real" / "linked_template");
    fs::create_symlink(outside / "file.jinja",
                       snippets_dir() / "real" / "linked_template" / "snippet.jinja");
    fs::create_symlink(outside / "file.jinja", snippets_dir() / "real" / "ok" / "snippet.json");
    fs::create_directory_symlink(snippets_dir() / "nowhere", snippets_dir() / "dangling");
    // A link that stays inside leads to a real folder.
    fs::create_directory_symlink(snippets_dir() / "real" / "ok", snippets_dir() / "real" / "alias");
    // Names a path could not carry whole, and names that are not text.
    add("back\\slash/s", "{{ x }}");
    add("real/back\\slash", "{{ x }}");
    add("\xff\xfe/s", "{{ x }}");
    add("real/caf\xe9", "{{ x }}");

    logging::server_log().set_level(logging::LogLevel::warning);
    testing::internal::CaptureStderr();
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(names(), (std::vector<std::string>{"real/alias", "real/ok"}));
    }
    const std::string log = testing::internal::GetCapturedStderr();
    logging::server_log().set_level(logging::LogLevel::error);
    // Each skipped once, whatever the bytes of its name.
    const auto logged = [&](const std::string& name) {
        std::size_t count = 0;
        for (auto at = log.find(name); at != std::string::npos; at = log.find(name, at + 1)) {
            ++count;
        }
        return count;
    };
    for (const std::string name :
         {"/linked_category: a link that leads out", "/real/linked_snippet: a link that leads out",
          "/linked_template/snippet.jinja: a link that leads out",
          "/ok/snippet.json: a link that leads out", "snippets/back\\x5cslash: a name",
          "/real/back\\x5cslash: a name", "/\\xff\\xfe: a name", "/real/caf\\xe9: a name"}) {
        EXPECT_EQ(logged(name), 1u) << name << " in:\n" << log;
    }
    EXPECT_EQ(entry("real", "ok").at("errors"), json::array());
    EXPECT_EQ(entry("real", "ok").at("title").as_string(), "ok");  // its snippet.json leads out

    for (const std::string_view target :
         {"linked_category/secret", "real/linked_snippet", "real/linked_template", "dangling/s",
          "back%5Cslash/s", "real/back%5Cslash", "%FF%FE/s", "real/caf%E9", "%2E%2E/outside",
          "real/%2E", "real/..", "real/a%2Fb", "real/ok%00", "real/missing", "missing/ok"}) {
        expect_json_answer(server_.get(std::string(kCatalogue) + "/" + std::string(target)), 404,
                           kNotFound);
    }
}

TEST_F(SnippetCatalogueTest, GivesOneSnippetWithItsTemplate) {
    add("data/load", "caf\xc3\xa9 {{ name }}\r\n", R"({"title": "Load", "parameters":
        {"name": {"description": "Its name.", "example": "churn"}}})");
    expect_json_answer(server_.get("/nuvex-link/snippets/data/load"), 200,
                       R"({"category": "data", "snippet_id": "load", "title": "Load", )"
                       R"("description": "", "parameters": [{"name": "name", "description": )"
                       R"("Its name.", "example": "churn"}], "undeclared_parameters": [], )"
                       R"("unused_parameters": [], "errors": [], "template": "caf\u00e9 )"
                       R"({{ name }}\n"})");
    add("data/bytes", "\xff{{ x }}");
    const HttpResponse bytes = server_.get("/nuvex-link/snippets/data/bytes");
    EXPECT_EQ(bytes.status, 200);
    EXPECT_TRUE(bytes.json().at("template").is_null());
    EXPECT_EQ(
        bytes.json().at("errors"),
        parse(
            R"(["snippet.jinja: 'utf-8' codec can't decode byte 0xff in position 0: invalid start byte"])"));
}

TEST_F(SnippetCatalogueTest, NeedsTheToken) {
    add("data/load", "{{ x }}");
    for (const std::string_view target :
         {"/nuvex-link/snippets", "/nuvex-link/snippets/data/load"}) {
        expect_json_answer(server_.get(target, false), 403,
                           R"({"message": "Forbidden", "reason": null})");
    }
}

namespace {

// The README's table of shipped snippets, as the catalogue has them.
std::string readme_table(const json::array& catalogue) {
    std::string table =
        "| Category / snippet id | Title | Parameters | What it writes |\n|---|---|---|---|\n";
    for (const auto& item : catalogue) {
        const json::object& snippet = item.as_object();
        std::string parameters;
        for (const auto& parameter : snippet.at("parameters").as_array()) {
            if (!parameters.empty()) parameters += "; ";
            parameters += "`" + std::string(parameter.at("name").as_string()) + "`";
            if (const auto* value = parameter.as_object().if_contains("default")) {
                parameters += " (default `" +
                              (value->is_string() ? std::string(value->get_string())
                                                  : json::serialize(*value)) +
                              "`)";
            }
        }
        table += "| `" + std::string(snippet.at("category").as_string()) + "` / `" +
                 std::string(snippet.at("snippet_id").as_string()) + "` | " +
                 std::string(snippet.at("title").as_string()) + " | " + parameters + " | " +
                 std::string(snippet.at("description").as_string()) + " |\n";
    }
    return table;
}

// The table's lines as they stand in the README.
std::string table_in(const fs::path& readme, std::string_view first_line) {
    std::ifstream file(readme);
    std::string line;
    std::string table;
    bool inside = false;
    while (std::getline(file, line)) {
        inside = inside ? line.starts_with("|") : line.starts_with(first_line);
        if (inside) table += line + "\n";
        if (!inside && !table.empty()) break;
    }
    return table;
}

}  // namespace

TEST(ShippedSnippets, DescribeThemselvesAndMatchTheReadme) {
    TestServer server;  // on the source tree's snippets
    const HttpResponse response = server.get(kCatalogue);
    ASSERT_EQ(response.status, 200) << response.body;
    const json::value answer = response.json();
    const json::array& catalogue = answer.at("snippets").as_array();
    ASSERT_FALSE(catalogue.empty());
    for (const auto& item : catalogue) {
        const json::object& snippet = item.as_object();
        const std::string name = std::string(snippet.at("category").as_string()) + "/" +
                                 std::string(snippet.at("snippet_id").as_string());
        EXPECT_TRUE(
            fs::is_regular_file(fs::path(NUVEX_SNIPPETS_SOURCE_DIR) / name / "snippet.json"))
            << name;
        EXPECT_EQ(snippet.at("errors"), json::array()) << name;
        EXPECT_EQ(snippet.at("undeclared_parameters"), json::array()) << name;
        EXPECT_EQ(snippet.at("unused_parameters"), json::array()) << name;
        EXPECT_NE(snippet.at("description").as_string(), "") << name;
        for (const auto& parameter : snippet.at("parameters").as_array()) {
            EXPECT_NE(parameter.at("description").as_string(), "")
                << name << " " << parameter.at("name");
        }
    }
    const std::string expected = readme_table(catalogue);
    EXPECT_EQ(table_in(fs::path(NUVEX_SNIPPETS_SOURCE_DIR).parent_path() / "README.md",
                       "| Category / snippet id |"),
              expected)
        << "The README's table of shipped snippets should read:\n"
        << expected;
}
