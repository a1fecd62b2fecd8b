"""A user logged in to a JupyterHub reaches the routes on their single-user server, and only
theirs."""

import contextlib
import os
import pathlib
import pwd
import re
import signal
import subprocess

import pytest
import requests
import websocket

from conftest import (
    EXTENSION_DIR,
    START_DEADLINE,
    component,
    free_port,
    pipeline_message,
    wait_for,
)

SERVICE_TOKEN = "test-service-token"
HUB_CONFIG = """
import pwd
c.JupyterHub.ip = "127.0.0.1"
c.JupyterHub.port = {port}
c.JupyterHub.hub_ip = "127.0.0.1"
c.JupyterHub.hub_port = {hub_port}
c.ConfigurableHTTPProxy.api_url = "http://127.0.0.1:{proxy_api_port}"
c.ConfigurableHTTPProxy.should_start = True
c.JupyterHub.db_url = "sqlite:///{folder}/hub.sqlite"
c.JupyterHub.cookie_secret_file = "{folder}/cookie_secret"
c.JupyterHub.pid_file = "{folder}/hub.pid"
c.JupyterHub.authenticator_class = "dummy"
# The tests' own service: it adds users, starts their servers and makes their tokens.
c.JupyterHub.services = [{{"name": "test", "api_token": "{service_token}"}}]
c.JupyterHub.load_roles = [{{"name": "test", "services": ["test"],
                             "scopes": ["admin:users", "admin:servers", "tokens"]}}]
c.Spawner.cmd = ["/usr/bin/python3", "-m", "jupyterhub.singleuser"]
c.Spawner.start_timeout = 60
c.Spawner.http_timeout = 60
# Jupyter Server as the single-user server; the extension is enabled by its configuration file.
c.Spawner.environment = {{
    "JUPYTERHUB_SINGLEUSER_APP": "jupyter_server.serverapp.ServerApp",
    "PYTHONPATH": "{extension_dir}",
    "JUPYTER_CONFIG_PATH": "{extension_dir}",
    "NUVEX_LINK_SERVER": "{server_binary}",
}}
"""
# Every user's server runs as the hub's own user, with one temporary folder for all.
SAME_USER_SPAWNER = """
c.JupyterHub.spawner_class = "simple"
c.SimpleLocalProcessSpawner.home_dir_template = "{folder}/home/{{username}}"
c.Spawner.args = ["--allow-root"]
c.Spawner.environment["TMPDIR"] = "{folder}/tmp"
"""
# Each user's server runs as that system user with a TMPDIR of their own, as on a machine
# users share.
SYSTEM_USER_SPAWNER = """
c.JupyterHub.spawner_class = "localprocess"
c.Spawner.environment["TMPDIR"] = lambda spawner: pwd.getpwnam(spawner.user.name).pw_dir + "/tmp"
"""


@contextlib.contextmanager
def running_hub(folder, spawner_config, server_binary):
    """A JupyterHub with its proxy, answering at the URL it yields; stopped at the end."""
    (folder / "tmp").mkdir(parents=True)
    port = free_port()
    (folder / "jupyterhub_config.py").write_text((HUB_CONFIG + spawner_config).format(
        port=port, hub_port=free_port(), proxy_api_port=free_port(), folder=folder,
        service_token=SERVICE_TOKEN, extension_dir=EXTENSION_DIR, server_binary=server_binary))
    log_path = folder / "hub.log"
    with open(log_path, "wb") as log:
        process = subprocess.Popen(
            ["/usr/bin/python3", "-m", "jupyterhub", "-f", str(folder / "jupyterhub_config.py")],
            cwd=folder, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            env=dict(os.environ, JUPYTER_RUNTIME_DIR=str(folder / "runtime"),
                     # Debian's Node.js finds the proxy's modules there by itself; a Node.js
                     # from another source (as these machines have) needs to be told.
                     NODE_PATH="/usr/share/nodejs"))
    url = f"http://127.0.0.1:{port}"

    def hub_answers():
        if process.poll() is not None:
            raise AssertionError("JupyterHub exited:\n" + log_path.read_text(errors="replace"))
        try:
            return requests.get(url + "/hub/api", timeout=5).status_code == 200
        except requests.ConnectionError:
            return False

    try:
        wait_for(hub_answers, START_DEADLINE, "JupyterHub")
        yield url
    finally:
        process.terminate()
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        print(log_path.read_text(errors="replace"))


@pytest.fixture
def hub(tmp_path, server_binary):
    with running_hub(tmp_path / "hub", SAME_USER_SPAWNER, server_binary) as url:
        yield url


def test_a_hub_user_reaches_the_routes_through_the_hubs_proxy(hub):
    session = requests.Session()
    login_page = session.get(hub + "/hub/login", timeout=30)
    form = {"username": "alice", "password": "any"}
    xsrf = re.search(r'name="_xsrf" value="([^"]+)"', login_page.text)
    if xsrf:
        form["_xsrf"] = xsrf.group(1)
    # Logging in starts alice's server.
    session.post(hub + "/hub/login?next=", data=form, timeout=90)

    user = hub + "/user/alice/"

    def server_ready():
        answer = session.get(user + "api", allow_redirects=False, timeout=30)
        return answer.status_code == 200 and "version" in answer.json()

    wait_for(server_ready, START_DEADLINE, "alice's server")

    # Without the hub's login the routes are closed.
    assert requests.get(user + "nuvex-link/server/info", timeout=30).status_code == 403

    # A page of alice's server sends the browser through the hub's OAuth login, which ends
    # with the server's own login cookie.
    page = session.get(user + "files/nothing.txt", timeout=60)
    assert any("oauth_callback" in step.url for step in page.history), page.url

    def info():
        answer = session.get(user + "nuvex-link/server/info", timeout=30)
        return answer if answer.status_code == 200 else None

    answer = wait_for(info, START_DEADLINE, "the routes on alice's server")
    assert answer.json()["base_url"] == "/user/alice/"
    dag = session.get(user + "nuvex-link/kernels/no-such-kernel", timeout=30)
    assert (dag.status_code, dag.json()) == (
        400, {"message": "Cannot get dag data in no-such-kernel."})


def processes_of(uid):
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        try:
            status = (entry / "status").read_text() if entry.name.isdigit() else ""
        except (FileNotFoundError, ProcessLookupError):
            continue
        if re.search(rf"^Uid:\s+{uid}\s", status, re.MULTILINE):
            found.append(int(entry.name))
    return found


def server_children_of(uid):
    children = []
    for pid in processes_of(uid):
        try:
            if os.readlink(f"/proc/{pid}/exe").endswith("/nuvex-link-server"):
                children.append(pid)
        except FileNotFoundError:
            continue
    return children


@pytest.fixture
def two_users():
    """Two throwaway system users, removed at the end with their homes and processes."""
    if os.geteuid() != 0:
        pytest.skip("creates system users and runs their servers as them, which needs root")
    names = [f"nvx{os.getpid()}{letter}" for letter in "ab"]
    users = []
    try:
        for name in names:
            subprocess.run(["useradd", "--create-home", "--shell", "/bin/sh", name], check=True)
            entry = pwd.getpwnam(name)
            temp = pathlib.Path(entry.pw_dir) / "tmp"
            temp.mkdir(mode=0o700)
            os.chown(temp, entry.pw_uid, entry.pw_gid)
            users.append(entry)
        yield users
    finally:
        for entry in users:
            # The hub stops its users' servers when it stops; anything left is ended here.
            for pid in processes_of(entry.pw_uid):
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signal.SIGKILL)
            wait_for(lambda: not processes_of(entry.pw_uid), 30,
                       f"{entry.pw_name}'s processes to end")
            subprocess.run(["userdel", "--remove", entry.pw_name], check=True,
                           stderr=subprocess.DEVNULL)


def test_each_hub_user_has_a_child_and_temp_folder_of_their_own_and_no_way_into_the_other(
        tmp_path, two_users, server_binary):
    admin = requests.Session()
    admin.headers["Authorization"] = f"token {SERVICE_TOKEN}"
    with running_hub(tmp_path / "hub", SYSTEM_USER_SPAWNER, server_binary) as hub:
        tokens = {}
        for entry in two_users:
            name = entry.pw_name
            assert admin.post(f"{hub}/hub/api/users/{name}", timeout=30).status_code == 201
            assert admin.post(f"{hub}/hub/api/users/{name}/server", timeout=90).status_code in (
                201, 202)
            tokens[name] = admin.post(f"{hub}/hub/api/users/{name}/tokens", json={},
                                      timeout=30).json()["token"]
        for entry in two_users:
            wait_for(lambda: len(server_children_of(entry.pw_uid)) == 1, START_DEADLINE,
                       f"{entry.pw_name}'s nuvex-link-server")
            child = server_children_of(entry.pw_uid)[0]
            environment = pathlib.Path(f"/proc/{child}/environ").read_bytes().split(b"\0")
            assert f"TMPDIR={entry.pw_dir}/tmp".encode() in environment

        (owner, owner_token), (other, other_token) = [
            (entry.pw_name, tokens[entry.pw_name]) for entry in two_users]

        def route(user, path, token, method="GET", body=None):
            def answer():
                response = requests.request(
                    method, f"{hub}/user/{user}/{path}", json=body,
                    headers={"Authorization": f"token {token}"}, allow_redirects=False,
                    timeout=30)
                # 502/503 while the user's server is still starting behind the hub's proxy.
                # (A list, since a response with an error status is false.)
                return [response] if response.status_code not in (502, 503) else None
            return wait_for(answer, START_DEADLINE, f"{user}'s server to answer")[0]

        # A pipeline is kept while its kernel runs.
        started = route(owner, "api/kernels", owner_token, "POST", {"name": "python3"})
        assert started.status_code == 201, started.text
        kernel = started.json()["id"]
        posted = route(owner, f"nuvex-link/kernels/{kernel}", owner_token, "POST",
                       pipeline_message(kernel, [component("c1")]))
        assert posted.status_code == 200, posted.text
        assert route(owner, f"nuvex-link/kernels/{kernel}", owner_token).status_code == 200

        # The other user's login opens neither the owner's routes nor the owner's channel...
        assert route(owner, f"nuvex-link/kernels/{kernel}", other_token).status_code == 403
        with pytest.raises(websocket.WebSocketBadStatusException) as refused:
            websocket.create_connection(
                hub.replace("http:", "ws:") +
                f"/user/{owner}/nuvex-link/kernels/{kernel}/channels",
                header=[f"Authorization: token {other_token}"], timeout=30)
        assert refused.value.status_code == 403
        # ... and the other user's own server knows nothing of the owner's pipeline.
        theirs = route(other, f"nuvex-link/kernels/{kernel}", other_token)
        assert (theirs.status_code, theirs.json()) == (
            400, {"message": f"Cannot get dag data in {kernel}."})
