"""Real Jupyter servers with the extension loaded, for the tests in this folder.

The server binary comes from NUVEX_LINK_SERVER (CTest passes the one it built); the extension
from the source tree, unless a test installed it. Every Jupyter gets folders of its own
(runtime, config, data, temporary), so no test sees another's kernels, runtime records or
caches."""

import contextlib
import http.client
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import urllib.parse

import pytest
import websocket

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
EXTENSION_DIR = REPOSITORY / "integrations" / "jupyter"
START_DEADLINE = 60.0

sys.path.insert(0, str(REPOSITORY / "tests" / "support"))
from polling import free_port, wait_for  # noqa: E402  (the shared helpers)


def process_alive(pid):
    """True while the process exists and is not a zombie waiting for its parent."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rpartition(")")[2].split()[0] != "Z"
    except FileNotFoundError:
        return False


def children_of(pid):
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            fields = (entry / "stat").read_text().rpartition(")")[2].split()
        except (FileNotFoundError, ProcessLookupError):
            continue
        if int(fields[1]) == pid and fields[0] != "Z":
            found.append(int(entry.name))
    return found


def established_connections(pid):
    """How many TCP connections of process `pid` are established (its listening sockets and
    connections that are closing are not)."""
    sockets = set()
    for fd in pathlib.Path(f"/proc/{pid}/fd").iterdir():
        try:
            target = os.readlink(fd)
        except FileNotFoundError:
            continue
        if target.startswith("socket:["):
            sockets.add(target[len("socket:["):-1])
    count = 0
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        for line in pathlib.Path(table).read_text().splitlines()[1:]:
            fields = line.split()
            if fields[3] == "01" and fields[9] in sockets:  # 01: ESTABLISHED
                count += 1
    return count


def resident_bytes(pid):
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) * 1024
    raise AssertionError(f"no VmRSS for {pid}")


@pytest.fixture(scope="session")
def server_binary():
    binary = os.environ.get("NUVEX_LINK_SERVER")
    if not binary:
        pytest.fail("NUVEX_LINK_SERVER must name the built nuvex-link-server (ctest sets it)")
    return binary


class Answer:
    def __init__(self, status, headers, body):
        self.status, self.headers, self.body = status, headers, body

    def json(self):
        return json.loads(self.body)


class Jupyter:
    """One Jupyter server process with the extension, on loopback. With installed=True the
    extension and the server binary are whatever `python` finds installed and enabled, not the
    source tree and the built binary."""

    def __init__(self, folder, server_binary, token="jupyter-token", base_url="/",
                 extra_env=None, arguments=(), python="/usr/bin/python3", installed=False):
        self.folder = folder
        self.token = token
        self.root_dir = folder / "root"
        self.runtime_dir = folder / "runtime"
        self.temp_dir = folder / "tmp"
        for path in (self.root_dir, self.runtime_dir, self.temp_dir):
            path.mkdir(parents=True, exist_ok=True)
        self.config_dir = folder / "config"
        self.env = dict(
            os.environ,
            PYTHONPATH=str(EXTENSION_DIR),
            NUVEX_LINK_SERVER=server_binary,
            JUPYTER_RUNTIME_DIR=str(self.runtime_dir),
            JUPYTER_CONFIG_DIR=str(self.config_dir),
            JUPYTER_DATA_DIR=str(folder / "data"),
            JUPYTER_PLATFORM_DIRS="0",
            TMPDIR=str(self.temp_dir),
            XDG_CONFIG_HOME=str(folder / "xdg-config"),
        )
        if installed:
            del self.env["PYTHONPATH"], self.env["NUVEX_LINK_SERVER"]
        self.env.update(extra_env or {})
        self.base_url = base_url
        self.python = python
        # An installed extension is enabled by its own configuration file.
        self.arguments = ([] if installed else
                          ["--ServerApp.jpserver_extensions", "nuvex_link_jupyter=True"])
        self.arguments += list(arguments)
        self.log_path = folder / "jupyter.log"
        self.process = None
        self.port = None

    def start(self, wait_for_child=True):
        log = open(self.log_path, "ab")
        self.process = subprocess.Popen(
            [
                self.python, "-m", "jupyter_server",
                "--allow-root", "--no-browser",
                "--ServerApp.ip=127.0.0.1",
                f"--ServerApp.port={free_port()}",
                f"--ServerApp.token={self.token}",
                f"--ServerApp.base_url={self.base_url}",
                f"--ServerApp.root_dir={self.root_dir}",
                *self.arguments,
            ],
            env=self.env,
            stdin=subprocess.DEVNULL,
            stdout=log,
            stderr=subprocess.STDOUT,
        )
        log.close()
        record = self.runtime_dir / f"jpserver-{self.process.pid}.json"

        def read_record():
            if self.process.poll() is not None:
                raise AssertionError(f"Jupyter exited early:\n{self.log()}")
            try:
                return json.loads(record.read_text())
            except (FileNotFoundError, json.JSONDecodeError):
                return None

        self.port = wait_for(read_record, START_DEADLINE, "Jupyter's runtime record")["port"]
        if wait_for_child:
            self.wait_for_child()
        return self

    def wait_for_child(self):
        wait_for(
            lambda: self.request("GET", "nuvex-link/server/info").status == 200,
            START_DEADLINE,
            "the extension's child server",
        )

    def log(self):
        return self.log_path.read_text(errors="replace")

    def child_pids(self):
        return [
            pid for pid in children_of(self.process.pid)
            if pathlib.Path(f"/proc/{pid}/exe").resolve().name == "nuvex-link-server"
        ]

    def child_pid(self):
        return wait_for(lambda: self.child_pids(), START_DEADLINE, "the child process")[0]

    def child_port(self):
        """The port of the child that runs now, as the extension logged it."""
        pid = self.child_pid()
        found = re.search(rf"\(pid {pid}\) listens on 127\.0\.0\.1:(\d+)", self.log())
        return int(found.group(1))

    def path(self, route):
        return self.base_url.rstrip("/") + "/" + route

    def request(self, method, route, body=None, token=None, headers=None, timeout=120):
        """One request on a connection of its own; token=None sends Jupyter's token,
        token="" none at all."""
        token = self.token if token is None else token
        sent_headers = dict(headers or {})
        if token:
            sent_headers["Authorization"] = f"token {token}"
        if body is not None and not isinstance(body, bytes):
            body = json.dumps(body).encode()
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request(method, self.path(route), body=body, headers=sent_headers)
            answer = connection.getresponse()
            return Answer(answer.status, answer.headers, answer.read())
        finally:
            connection.close()

    def log_in(self):
        """A browser's login: the login page sets the XSRF cookie, the form sets the login one.
        Answers the Cookie header that carries both, and the XSRF value."""
        page = self.request("GET", "login", token="")
        xsrf = re.search(r"_xsrf=([^;]+)", page.headers["Set-Cookie"]).group(1)
        login = self.request(
            "POST", "login", token="",
            body=urllib.parse.urlencode({"password": self.token, "_xsrf": xsrf}).encode(),
            headers={"Cookie": f"_xsrf={xsrf}",
                     "Content-Type": "application/x-www-form-urlencoded"})
        assert login.status == 302, login.body
        cookies = "; ".join([f"_xsrf={xsrf}"] + [
            value.split(";")[0] for value in login.headers.get_all("Set-Cookie")])
        return cookies, xsrf

    def websocket_url(self, route, token=None):
        token = self.token if token is None else token
        query = "?" + urllib.parse.urlencode({"token": token}) if token else ""
        return f"ws://127.0.0.1:{self.port}{self.path(route)}{query}"

    def start_kernel(self):
        answer = self.request("POST", "api/kernels", {"name": "python3"})
        assert answer.status == 201, answer.body
        kernel_id = answer.json()["id"]
        wait_for(
            lambda: (self.runtime_dir / f"kernel-{kernel_id}.json").exists(),
            START_DEADLINE,
            "the kernel's connection file",
        )
        return kernel_id

    def stop(self, signal_number=signal.SIGTERM):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal_number)
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


@contextlib.contextmanager
def jupyters(folder, server_binary):
    """Starts Jupyter servers below `folder`, and stops them and their children at the end."""
    started = []

    def start(name="jupyter", wait_for_child=True, **options):
        jupyter = Jupyter(folder / name, server_binary, **options)
        started.append(jupyter)
        return jupyter.start(wait_for_child=wait_for_child)

    try:
        yield start
    finally:
        for jupyter in started:
            children = jupyter.child_pids() if jupyter.process.poll() is None else []
            jupyter.stop()
            for pid in children:
                wait_for(lambda: not process_alive(pid), 30, f"child {pid} to stop")
            # pytest shows this only for a test that failed.
            print(f"--- {jupyter.log_path}\n{jupyter.log()}")


@pytest.fixture
def start_jupyter(tmp_path, server_binary):
    """Jupyter servers of the test's own, for tests that stop, kill or break them."""
    with jupyters(tmp_path, server_binary) as start:
        yield start


@pytest.fixture(scope="module")
def jupyter(tmp_path_factory, server_binary):
    """One Jupyter for the tests of a module that leave it running as they found it. It logs
    at debug level, the only level at which Jupyter logs answers below 300."""
    with jupyters(tmp_path_factory.mktemp("shared"), server_binary) as start:
        yield start(arguments=["--log-level=DEBUG"])


def pipeline_message(kernel_id, components):
    return {
        "procedure": "pipeline:updated",
        "status": "successful",
        "msg": "",
        "successful": {
            "identifier": kernel_id,
            "name": "demo",
            "diskcache_dir": None,
            "graph": {"components": components},
        },
    }


def component(identifier, code="x = 1", diskcache_dir=None, cached=False, parents=()):
    return {
        "identifier": identifier,
        "name": f"step {identifier}",
        "code": code,
        "diskcache_dir": diskcache_dir,
        "execution_status": "successful",
        "diskcache_status": "cached" if cached else "not_cached",
        "metadata": {},
        "parents": [{"id": parent} for parent in parents],
    }


def expect_pipeline_relayed(jupyter, kernel_id):
    """A pipeline posted through Jupyter is answered 200 and relayed to the kernel's websocket."""
    channel = websocket.create_connection(
        jupyter.websocket_url(f"nuvex-link/kernels/{kernel_id}/channels"), timeout=60)
    try:
        posted = jupyter.request("POST", f"nuvex-link/kernels/{kernel_id}",
                                 pipeline_message(kernel_id, [component("c1")]))
        assert posted.status == 200
        assert json.loads(channel.recv())["procedure"] == "pipeline:updated"
    finally:
        channel.close()


def make_cache(folder, size):
    """A component cache folder of `size` bytes that gzip cannot shrink."""
    folder.mkdir(parents=True)
    piece = 8 * 1024 * 1024
    written = 0
    index = 0
    while written < size:
        (folder / f"part-{index}.bin").write_bytes(os.urandom(min(piece, size - written)))
        written += min(piece, size - written)
        index += 1


def store_cached_pipeline(jupyter, size):
    """Starts a kernel and stores its pipeline of one cached component whose cache takes
    `size` bytes; the kernel's id."""
    kernel_id = jupyter.start_kernel()
    cache = jupyter.temp_dir / "nuvex-link" / "pipelines" / kernel_id / "c1"
    make_cache(cache, size)
    message = pipeline_message(kernel_id, [component("c1", diskcache_dir=str(cache), cached=True)])
    assert jupyter.request("POST", f"nuvex-link/kernels/{kernel_id}", message).status == 200
    return kernel_id
