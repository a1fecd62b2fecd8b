"""A user logged in to a JupyterHub reaches the routes on their single-user server."""

import os
import re
import subprocess

import pytest
import requests

from conftest import EXTENSION_DIR, START_DEADLINE, free_port, wait_until

HUB_CONFIG = """
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
c.JupyterHub.spawner_class = "simple"
c.SimpleLocalProcessSpawner.home_dir_template = "{folder}/home/{{username}}"
c.Spawner.cmd = ["/usr/bin/python3", "-m", "jupyterhub.singleuser"]
c.Spawner.args = ["--allow-root"]
c.Spawner.start_timeout = 60
c.Spawner.http_timeout = 60
# Jupyter Server as the single-user server; the extension is enabled by its configuration file.
c.Spawner.environment = {{
    "JUPYTERHUB_SINGLEUSER_APP": "jupyter_server.serverapp.ServerApp",
    "PYTHONPATH": "{extension_dir}",
    "JUPYTER_CONFIG_PATH": "{extension_dir}",
    "NUVEX_LINK_SERVER": "{server_binary}",
    "TMPDIR": "{folder}/tmp",
}}
"""


@pytest.fixture
def hub(tmp_path, server_binary):
    folder = tmp_path / "hub"
    (folder / "tmp").mkdir(parents=True)
    port = free_port()
    (folder / "jupyterhub_config.py").write_text(HUB_CONFIG.format(
        port=port, hub_port=free_port(), proxy_api_port=free_port(), folder=folder,
        extension_dir=EXTENSION_DIR, server_binary=server_binary))
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
        wait_until(hub_answers, START_DEADLINE, "JupyterHub")
        yield url
    finally:
        process.terminate()
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        print(log_path.read_text(errors="replace"))


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

    wait_until(server_ready, START_DEADLINE, "alice's server")

    # Without the hub's login the routes are closed.
    assert requests.get(user + "nuvex-link/server/info", timeout=30).status_code == 403

    # A page of alice's server sends the browser through the hub's OAuth login, which ends
    # with the server's own login cookie.
    page = session.get(user + "files/nothing.txt", timeout=60)
    assert any("oauth_callback" in step.url for step in page.history), page.url

    def info():
        answer = session.get(user + "nuvex-link/server/info", timeout=30)
        return answer if answer.status_code == 200 else None

    answer = wait_until(info, START_DEADLINE, "the routes on alice's server")
    assert answer.json()["base_url"] == "/user/alice/"
    dag = session.get(user + "nuvex-link/kernels/no-such-kernel", timeout=30)
    assert (dag.status_code, dag.json()) == (
        400, {"message": "Cannot get dag data in no-such-kernel."})
