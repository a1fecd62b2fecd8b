"""The Snippets panel in a real browser, against the real server and its real template engine."""

import json

from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from conftest import Server


def snippet_choices(driver):
    return driver.execute_script(
        "return [...document.querySelectorAll('#snippet-list .snippet-choice')]"
        ".map(b => b.dataset.category + '/' + b.dataset.snippetId)")


def wait_for_catalogue(driver):
    WebDriverWait(driver, 10).until(lambda d: snippet_choices(d))


def field(driver, name):
    for candidate in driver.find_elements(By.CSS_SELECTOR, "#snippet-fields input, #snippet-fields textarea"):
        if candidate.get_attribute("data-parameter") == name:
            return candidate
    raise AssertionError("no field for " + name)


def choose(driver, category, snippet_id):
    for button in driver.find_elements(By.CSS_SELECTOR, "#snippet-list .snippet-choice"):
        if button.get_attribute("data-category") == category and \
                button.get_attribute("data-snippet-id") == snippet_id:
            button.click()
            return
    raise AssertionError("no snippet %s/%s in the list" % (category, snippet_id))


def test_picks_fills_renders_and_copies_a_shipped_snippet(server, browser, artifacts):
    origin = server.base.split("/nuvex-link/")[0]
    browser.execute_cdp_cmd("Browser.grantPermissions", {
        "origin": origin, "permissions": ["clipboardReadWrite", "clipboardSanitizedWrite"]})
    browser.get(server.page_url())
    wait_for_catalogue(browser)
    # Grouped by category, in the catalogue's order.
    groups = browser.execute_script(
        "return [...document.querySelectorAll('#snippet-list .snippet-group h3')].map(h => h.textContent)")
    assert groups == ["dataset", "model_registry", "pipeline"]

    browser.find_element(By.ID, "snippet-search").send_keys("compare")
    WebDriverWait(browser, 5).until(lambda d: snippet_choices(d) == ["dataset/compare_versions"])
    choose(browser, "dataset", "compare_versions")
    assert browser.find_element(By.ID, "snippet-title").text == "Compare two dataset versions"
    # Defaults and examples are filled in; descriptions are shown.
    assert field(browser, "dataset_name").get_attribute("value") == "churn"
    assert field(browser, "old_version").get_attribute("value") == "v1"
    assert field(browser, "new_version").get_attribute("value") == "latest"
    assert "The version compared from." in browser.find_element(By.ID, "snippet-fields").text

    name = field(browser, "dataset_name")
    name.clear()
    name.send_keys('sales "2024"')
    field(browser, "old_version").clear()
    browser.find_element(By.ID, "snippet-render").click()
    WebDriverWait(browser, 10).until(lambda d: d.find_element(By.ID, "snippet-code").text)
    code = browser.find_element(By.ID, "snippet-code").text
    status, _, body = server.request("POST", "snippets/generate", {
        "category": "dataset", "snippet_id": "compare_versions",
        "parameters": {"dataset_name": 'sales "2024"', "new_version": "latest"}})
    assert status == 200 and code == json.loads(body)["code"]
    assert 'versions = Path("dataset") / "sales \\"2024\\""' in code

    browser.find_element(By.ID, "snippet-copy").click()
    WebDriverWait(browser, 5).until(lambda d: d.find_element(By.ID, "snippet-copy-state").text == "Copied")
    copied = browser.execute_async_script(
        "const done = arguments[0]; navigator.clipboard.readText().then(done, e => done('failed: ' + e))")
    assert copied == code
    browser.find_element(By.ID, "snippets-panel").screenshot(str(artifacts / "snippets-panel.png"))


def test_a_hostile_snippet_stays_text_and_errors_read_as_the_route_words_them(browser, tmp_path):
    hostile = '<img src=x onerror="alert(1)">'
    snippets = tmp_path / "snippets"
    folder = snippets / hostile / "range"
    folder.mkdir(parents=True)
    (folder / "snippet.jinja").write_text("{{ range(1, 2, step) | list }}")
    (folder / "snippet.json").write_text(json.dumps({
        "title": "<script>alert(2)</script>", "description": hostile,
        "parameters": {"step": {"description": hostile, "example": 0}}}))
    broken = snippets / "broken" / "syntax"
    broken.mkdir(parents=True)
    (broken / "snippet.jinja").write_text("{% for x in %}")
    server = Server(tmp_path / "server", snippets=snippets)
    try:
        browser.get(server.page_url())
        wait_for_catalogue(browser)
        choose(browser, hostile, "range")
        assert browser.find_element(By.ID, "snippet-title").text == "<script>alert(2)</script>"
        assert field(browser, "step").get_attribute("value") == "0"
        browser.find_element(By.ID, "snippet-render").click()
        message = browser.find_element(By.ID, "snippet-message")
        WebDriverWait(browser, 10).until(lambda d: message.is_displayed())
        assert message.text == "range() arg 3 must not be zero"

        # A template that does not parse: the catalogue's error, then the route's answer.
        choose(browser, "broken", "syntax")
        assert browser.find_element(By.ID, "snippet-problems").text == \
            "snippet.jinja: line 1: Expected an expression, got 'end of statement block'"
        browser.find_element(By.ID, "snippet-render").click()
        WebDriverWait(browser, 10).until(
            lambda d: d.find_element(By.ID, "snippet-message").text == "Failed to generate snippet code.")

        try:
            text = browser.switch_to.alert.text
            raise AssertionError("an alert opened: " + text)
        except NoAlertPresentException:
            pass
        assert browser.execute_script(
            "return document.querySelectorAll('#snippets-panel img, #snippets-panel script').length") == 0
    finally:
        server.stop()
