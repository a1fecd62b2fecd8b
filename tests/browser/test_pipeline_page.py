"""The pipeline page in a real browser, against the real server."""

import io
import os
import tarfile
import time

from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from conftest import Server, component, node_titles, wait_for, wait_for_nodes

DEMO = [
    component("load", "load_raw_data", cache="cached"),
    component("clean", "clean_columns", ["load"], cache="cached"),
    component("features", "build_features", ["clean"], cache="caching", status="running"),
    component("split", "train_test_split", ["features"], status="waiting"),
    component("train", "train_model", ["split", "params"], status="waiting"),
    component("report", "plot_report", ["train", "audit"], status="failed"),
    component("audit", "audit_model", ["report"], status="cancelled"),
]


def kernel_entries(driver):
    return [item.get_attribute("data-kernel-id")
            for item in driver.find_elements(By.CSS_SELECTOR, "#kernel-list li.kernel")]


def test_lists_the_kernels_and_draws_the_chosen_one(server, browser):
    server.post_pipeline("k1", [component("a", "load"), component("b", "clean", ["a"]),
                                component("c", "train", ["b"])])
    server.post_pipeline("k2", [component("z", "other")])
    browser.get(server.page_url("k1"))
    wait_for_nodes(browser, 3)
    assert sorted(node_titles(browser)) == ["a", "b", "c"]
    assert kernel_entries(browser) == ["k1", "k2"]
    # The token leaves the address (a shared link never carries it); the kernel stays.
    assert "token" not in browser.current_url and "kernel_id=k1" in browser.current_url

    browser.find_element(By.CSS_SELECTOR, '#kernel-list li[data-kernel-id="k2"] a').click()
    wait_for_nodes(browser, 1)
    assert node_titles(browser) == ["z"] and "kernel_id=k2" in browser.current_url


def test_a_single_kernel_is_shown_at_once(server, browser):
    server.post_pipeline("only", [component("a", "load")])
    browser.get(server.page_url())
    wait_for_nodes(browser, 1)


def test_a_new_pipeline_version_appears_without_reload(server, browser):
    server.post_pipeline("k1", [component("a", "load")])
    browser.get(server.page_url("k1"))
    wait_for_nodes(browser, 1)
    WebDriverWait(browser, 5).until(
        lambda d: d.find_element(By.ID, "live-state").get_attribute("data-state") == "live")
    browser.execute_script("window.sameDocument = true")

    posted = time.monotonic()
    server.post_pipeline("k1", [component("a", "load"), component("b", "clean", ["a"])])
    wait_for_nodes(browser, 2, timeout=2)
    assert time.monotonic() - posted < 2
    assert browser.execute_script("return window.sameDocument === true")


def archive_members(data):
    with tarfile.open(fileobj=io.BytesIO(data), mode="r:gz") as archive:
        return {member.name: (archive.extractfile(member).read() if member.isfile() else None)
                for member in archive.getmembers()}


def test_export_shows_progress_and_downloads_the_archive(server, browser, downloads):
    cache = server.temp / "pipelines" / "p1"
    for index in range(3):
        folder = cache / ("c%d" % index)
        folder.mkdir(parents=True)
        (folder / "data.bin").write_bytes(bytes(range(256)) * (2000 + index))
    server.post_pipeline("k1", [component("c%d" % i, "step %d" % i, ["c%d" % (i - 1)] if i else [],
                                          cache="cached", cache_dir=str(cache / ("c%d" % i)))
                                for i in range(3)], name="work/My Notebook.ipynb")
    for old in downloads.glob("*"):
        old.unlink()
    browser.get(server.page_url("k1"))
    wait_for_nodes(browser, 3)
    # Every state the bar goes through is recorded as it happens.
    browser.execute_script("""
        window.exportStates = [];
        const bar = document.getElementById('export-progress');
        new MutationObserver(() => window.exportStates.push(bar.dataset.status + ':' + bar.value))
          .observe(bar, {attributes: true});""")
    browser.find_element(By.ID, "export-button").click()

    saved = wait_for(lambda: [path for path in downloads.glob("*.tar.gz")], 20, "the download")
    assert saved[0].name == "My Notebook-diskcache.tar.gz"
    states = browser.execute_script("return window.exportStates")
    assert any(state.startswith("running:") or state.startswith("invalid:") for state in states)
    assert "successful:100" in states and states[-1] == "downloaded:100"
    assert browser.find_element(By.ID, "export-box").is_displayed()

    status, _, archive = server.request(
        "GET", "cache/export?kernel_id=k1&ipynb_name=work/My%20Notebook.ipynb")
    assert status == 200
    # The same members with the same bytes (the archive's own times may differ by a second).
    assert archive_members(wait_for(lambda: saved[0].read_bytes(), 5, "the file")) == \
        archive_members(archive)


def test_a_script_named_component_runs_no_script(server, browser):
    hostile = "<script>alert(1)</script>"
    server.post_pipeline("k1", [component(hostile, hostile),
                                component("img", '<img src=x onerror="alert(2)">', [hostile])])
    browser.get(server.page_url("k1"))
    wait_for_nodes(browser, 2)
    try:
        text = browser.switch_to.alert.text
        raise AssertionError("an alert opened: " + text)
    except NoAlertPresentException:
        pass
    # Only the page's own scripts, none that came with the data.
    sources = browser.execute_script("return [...document.scripts].map(s => s.src)")
    assert sources and all(source.startswith(server.base + "view/static/") for source in sources)
    assert browser.execute_script("return document.querySelectorAll('#graph img, #graph script').length") == 0
    labels = browser.execute_script(
        "return [...document.querySelectorAll('#graph svg text')].map(t => t.textContent)")
    assert hostile in labels and '<img src=x onerror="alert(2)">' in labels
    assert hostile in node_titles(browser)


def test_hostile_names_are_literal_text_everywhere(tmp_path, browser):
    # Pipeline, kernel, dataset, file and root folder share the name; made into markup it would
    # load an image that fails and runs its handler.
    hostile = "<img src=x onerror=window.pwned=1>"
    server = Server(tmp_path / hostile)
    try:
        (server.root / "dataset" / hostile / "v1").mkdir(parents=True)
        (server.root / "dataset" / hostile / "v1" / "old.csv").write_text("a\n")
        (server.root / "dataset-staged" / hostile).mkdir(parents=True)
        (server.root / "dataset-staged" / hostile / hostile).write_text("b\n")
        server.post_pipeline(hostile, [component("a", "load")], name=hostile)
        browser.get(server.page_url(hostile))
        wait_for_nodes(browser, 1)
        WebDriverWait(browser, 10).until(
            lambda d: d.find_element(By.ID, "diff-table").is_displayed())
        WebDriverWait(browser, 10).until(
            lambda d: len(d.find_elements(By.CSS_SELECTOR, "#server-info dd")) >= 4)

        texts = browser.execute_script("""
            const text = (selector) => [...document.querySelectorAll(selector)].map(n => n.textContent);
            return {kernels: text('#kernel-list .kernel-name'), heading: text('#pipeline-name'),
                    kernel: text('#pipeline-kernel'), details: text('#server-info dd'),
                    cells: text('#diff-table td')};""")
        assert texts["kernels"] == [hostile]
        assert texts["heading"] == [hostile] and texts["kernel"] == [hostile]
        assert any(hostile in value for value in texts["details"]), texts["details"]
        # The dataset on both of its rows (old.csv deleted, the hostile file added), and the file.
        assert texts["cells"].count(hostile) == 3, texts["cells"]
        assert browser.execute_script("return document.querySelectorAll('main img').length") == 0
        assert browser.execute_script("return window.pwned === undefined")
    finally:
        server.stop()


def demo_server(server):
    stored = server.root / "dataset" / "iris" / "v1"
    staged = server.root / "dataset-staged" / "iris"
    stored.mkdir(parents=True)
    staged.mkdir(parents=True)
    (stored / "train.csv").write_text("a,b\n1,2\n")
    (staged / "train.csv").write_text("a,b\n1,2\n3,4\n")
    (staged / "labels.csv").write_text("label\nsetosa\n")
    cache = server.temp / "pipelines" / "demo"
    for name in ("load", "clean"):
        (cache / name).mkdir(parents=True)
        (cache / name / "data.bin").write_bytes(b"x" * 150000)
    components = [dict(item) for item in DEMO]
    for item in components[:2]:
        item["diskcache_dir"] = str(cache / item["identifier"])
    server.post_pipeline("3f2c9a1e", components, name="churn_model.ipynb")
    server.post_pipeline("8b7d44c0", [component("q", "query_events")], name="events.ipynb")


def test_screenshots_at_laptop_and_narrow_widths(demo_folder_server, browser, artifacts):
    server = demo_folder_server
    demo_server(server)
    try:
        for width, height, name in ((1366, 1200, "pipeline-page.png"), (800, 1400, "pipeline-page-800.png")):
            browser.set_window_size(width, height)
            browser.get(server.page_url("3f2c9a1e") + "#component=train")
            wait_for_nodes(browser, 8)
            WebDriverWait(browser, 10).until(
                lambda d: d.find_element(By.ID, "diff-table").is_displayed())
            WebDriverWait(browser, 5).until(
                lambda d: d.find_element(By.ID, "live-state").get_attribute("data-state") == "live")
            WebDriverWait(browser, 5).until(
                lambda d: d.find_element(By.ID, "details-name").text == "train_model")
            # Nothing sticks out sideways, and the token is nowhere on the page.
            assert browser.execute_script(
                "return document.documentElement.scrollWidth <= window.innerWidth")
            assert server.token not in browser.find_element(By.TAG_NAME, "body").text
            browser.save_screenshot(str(artifacts / name))
    finally:
        browser.set_window_size(1366, 1000)


def test_inside_jupyter_the_header_names_jupyter_server(tmp_path, browser):
    hosted = Server(tmp_path, host_record={"version": "1.23.3", "root_dir": "/home/demo/notebooks",
                                           "pid": os.getpid(), "base_url": "/"})
    try:
        hosted.post_pipeline("k1", [component("a", "load")])
        browser.get(hosted.page_url("k1"))
        wait_for_nodes(browser, 1)
        WebDriverWait(browser, 5).until(
            lambda d: d.find_element(By.ID, "server-line").text.startswith("Jupyter Server"))
        assert browser.find_element(By.ID, "server-line").text == \
            "Jupyter Server 1.23.3 · /home/demo/notebooks"
    finally:
        hosted.stop()
