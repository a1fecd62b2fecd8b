"""The server (a child process on a free loopback port) and headless Chromium for the page tests."""

import json
import os
import secrets
import shutil
import sys
import subprocess
import tempfile
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from polling import free_port, wait_for  # noqa: E402  (the shared helpers)

SERVER = os.environ.get("NUVEX_LINK_SERVER", "")
ARTIFACTS = Path(os.environ.get("NUVEX_BROWSER_ARTIFACTS", tempfile.gettempdir()))


class Server:
    def __init__(self, folder: Path, root: Path = None, host_record: dict = None,
                 snippets: Path = None):
        """With host_record, the server runs as inside a notebook server: this process stands
        for it, with that runtime record, and the server writes none of its own."""
        self.folder = folder
        self.token = secrets.token_hex(16)
        self.root = root or folder / "root"
        self.runtime = folder / "runtime"
        self.temp = folder / "temp"
        for path in (self.root, self.runtime, self.temp):
            path.mkdir(parents=True, exist_ok=path == root)
        environment = dict(os.environ, JUPYTER_RUNTIME_DIR=str(self.runtime))
        port = 0
        hosted = []
        if host_record is not None:
            (self.runtime / ("jpserver-%d.json" % os.getpid())).write_text(json.dumps(host_record))
            port = free_port()
            hosted = ["--host-pid", str(os.getpid())]
        self.process = subprocess.Popen(
            [SERVER, "--port", str(port), "--token", self.token, "--root-dir", str(self.root),
             "--temp-dir", str(self.temp), "--veyra-settings", str(folder / "veyra.json")] + hosted
            + ([] if snippets is None else ["--snippets-dir", str(snippets)]),
            env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if host_record is None:
            record = wait_for(self._runtime_record, 20, "the server's runtime file")
            port = record["port"]
        self.base = "http://127.0.0.1:%d/nuvex-link/" % port
        if host_record is not None:
            wait_for(self._answers, 20, "the server to answer")

    def _answers(self):
        if self.process.poll() is not None:
            raise AssertionError("the server exited with %s" % self.process.returncode)
        try:
            with urllib.request.urlopen(self.base + "view/static/app.js", timeout=5) as response:
                return response.status == 200
        except OSError:
            return False

    def _runtime_record(self):
        if self.process.poll() is not None:
            raise AssertionError("the server exited with %s" % self.process.returncode)
        for path in self.runtime.glob("jpserver-*.json"):
            try:
                return json.loads(path.read_text())
            except ValueError:
                return None  # still being written
        return None

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)

    def request(self, method, path, body=None):
        """(status, headers, body bytes) of a request with the token."""
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Authorization": "token " + self.token})
        try:
            with urllib.request.urlopen(request, timeout=30) as response:
                return response.status, response.headers, response.read()
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read()

    def post_pipeline(self, kernel_id, components, name="analysis.ipynb"):
        (self.runtime / ("kernel-%s.json" % kernel_id)).write_text("{}")
        status, _, body = self.request("POST", "kernels/" + urllib.parse.quote(kernel_id, safe=""), {
            "procedure": "pipeline:updated", "status": "successful", "msg": "",
            "successful": {"identifier": kernel_id, "name": name, "diskcache_dir": None,
                           "graph": {"components": components}}})
        assert status == 200, body

    def page_url(self, kernel_id=None):
        query = {"token": self.token}
        if kernel_id is not None:
            query["kernel_id"] = kernel_id
        return self.base + "view/?" + urllib.parse.urlencode(query)


def component(identifier, name, parents=(), status="successful", cache="not_cached", cache_dir=None):
    return {"identifier": identifier, "name": name, "code": "%s = step()" % identifier,
            "diskcache_dir": cache_dir, "execution_status": status, "diskcache_status": cache,
            "metadata": {}, "parents": [{"id": parent} for parent in parents]}


@pytest.fixture
def server(tmp_path):
    running = Server(tmp_path)
    yield running
    running.stop()


@pytest.fixture
def demo_folder_server(tmp_path):
    """A server whose root folder reads as a demo folder, for the pictures in the README."""
    plain = Path(tempfile.gettempdir()) / "nuvex-link-demo"
    try:
        plain.mkdir()
        root = plain
    except FileExistsError:
        root = Path(tempfile.mkdtemp(prefix="nuvex-link-demo-"))
    running = Server(tmp_path, root)
    yield running
    running.stop()
    shutil.rmtree(root, ignore_errors=True)


@pytest.fixture(scope="session")
def downloads():
    folder = Path(tempfile.mkdtemp(prefix="nuvex-downloads-"))
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="session")
def browser(downloads):
    profile = tempfile.mkdtemp(prefix="nuvex-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--no-first-run", "--window-size=1366,1000",
                     "--user-data-dir=" + profile):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {
        "download.default_directory": str(downloads), "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": str(downloads)})
    yield driver
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


@pytest.fixture
def artifacts():
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    return ARTIFACTS


def node_titles(driver):
    return driver.execute_script(
        "return [...document.querySelectorAll('#graph svg g.node > title')].map(t => t.textContent)")


def wait_for_nodes(driver, count, timeout=5):
    WebDriverWait(driver, timeout).until(lambda d: len(node_titles(d)) == count)
