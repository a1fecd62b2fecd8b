"""nuvex-link's routes served by a real Jupyter server through the extension."""

import http.client
import io
import json
import os
import re
import tarfile
import signal
import socket
import time

import pytest
import websocket

from conftest import (
    component,
    pipeline_message,
    process_alive,
    resident_bytes,
    store_cached_pipeline,
    wait_for,
)


def receive_json(connection):
    return json.loads(connection.recv())


def open_channel(jupyter, kernel_id, **options):
    return websocket.create_connection(
        jupyter.websocket_url(f"nuvex-link/kernels/{kernel_id}/channels"), timeout=60, **options
    )


class TestPipelines:
    def test_a_pipeline_posted_through_jupyter_is_stored_and_relayed(self, jupyter):
        kernel_id = jupyter.start_kernel()
        channel = open_channel(jupyter, kernel_id)
        try:
            message = pipeline_message(kernel_id, [component("c1"), component("c2", parents=["c1"])])
            answer = jupyter.request("POST", f"nuvex-link/kernels/{kernel_id}", message)
            assert (answer.status, answer.json()) == (200, {"message": "Success."})

            relayed = receive_json(channel)
            assert relayed["procedure"] == "pipeline:updated"
            added = relayed["successful"]["updated_components"]["added"]
            assert [c["identifier"] for c in added] == ["c1", "c2"]
        finally:
            channel.close()

        stored = jupyter.request("GET", f"nuvex-link/kernels/{kernel_id}")
        assert stored.status == 200
        assert stored.headers["Content-Type"].startswith("application/json")
        assert [c["identifier"] for c in stored.json()["updated_components"]["added"]] == [
            "c1", "c2"]

    def test_a_kernel_shut_down_through_jupyter_loses_its_pipeline(self, jupyter):
        leaving, staying = jupyter.start_kernel(), jupyter.start_kernel()
        for kernel_id in (leaving, staying):
            answer = jupyter.request(
                "POST", f"nuvex-link/kernels/{kernel_id}",
                pipeline_message(kernel_id, [component("c1")]))
            assert answer.status == 200
        assert jupyter.request("DELETE", f"api/kernels/{leaving}").status == 204

        # The next pipeline post cleans up after kernels that no longer run.
        answer = jupyter.request(
            "POST", f"nuvex-link/kernels/{staying}",
            pipeline_message(staying, [component("c1"), component("c2")]))
        assert answer.status == 200
        gone = jupyter.request("GET", f"nuvex-link/kernels/{leaving}")
        assert (gone.status, gone.json()) == (
            400, {"message": f"Cannot get dag data in {leaving}."})
        assert jupyter.request("GET", f"nuvex-link/kernels/{staying}").status == 200

    def test_the_childs_closing_of_a_channel_reaches_the_browser_with_its_code(self, jupyter):
        channel = open_channel(jupyter, "k-any")
        # The child takes client messages up to 1 MiB and closes with 1009 beyond.
        channel.send("x" * (2 * 1024 * 1024))
        opcode, payload = channel.recv_data(control_frame=True)
        assert opcode == websocket.ABNF.OPCODE_CLOSE
        assert int.from_bytes(payload[:2], "big") == 1009

    def test_an_update_larger_than_ten_mib_reaches_the_websocket(self, jupyter):
        kernel_id = jupyter.start_kernel()
        channel = open_channel(jupyter, kernel_id)
        try:
            code = "#" * (600 * 1024)
            components = [component(f"c{i}", code=code) for i in range(20)]
            answer = jupyter.request(
                "POST", f"nuvex-link/kernels/{kernel_id}", pipeline_message(kernel_id, components))
            assert answer.status == 200
            text = channel.recv()
            assert len(text) > 10 * 1024 * 1024
            assert len(json.loads(text)["successful"]["updated_components"]["added"]) == 20
            # The connection survived it: a small update follows on the same socket.
            jupyter.request("POST", f"nuvex-link/kernels/{kernel_id}",
                            pipeline_message(kernel_id, components[:1]))
            assert len(receive_json(channel)["successful"]["updated_components"]["deleted"]) == 19
        finally:
            channel.close()


class TestLogin:
    def test_requests_without_jupyters_login_are_refused_before_the_child(self, jupyter):
        kernel_id = "k-unauthorised"
        message = pipeline_message(kernel_id, [component("c1")])
        for token in ("", "wrong-token"):
            answer = jupyter.request("POST", f"nuvex-link/kernels/{kernel_id}", message,
                                     token=token)
            assert answer.status == 403, answer.body
            assert "Location" not in answer.headers
            assert jupyter.request("GET", "nuvex-link/server/info", token=token).status == 403
        # Had the child seen either post, the pipeline would be stored.
        assert jupyter.request("GET", f"nuvex-link/kernels/{kernel_id}").status == 400

        with pytest.raises(websocket.WebSocketBadStatusException) as refused:
            websocket.create_connection(
                jupyter.websocket_url(f"nuvex-link/kernels/{kernel_id}/channels", token="wrong"),
                timeout=30)
        assert refused.value.status_code == 403

    def test_the_login_cookie_works_with_jupyters_xsrf_rule(self, jupyter):
        cookies, xsrf = jupyter.log_in()

        info = jupyter.request("GET", "nuvex-link/server/info", token="",
                               headers={"Cookie": cookies})
        assert info.status == 200
        # The child sees the browser's cookies.
        assert "_xsrf=" in info.json()["cookie"]

        message = pipeline_message("k-cookie", [component("c1")])
        without_xsrf = jupyter.request("POST", "nuvex-link/kernels/k-cookie", message, token="",
                                       headers={"Cookie": cookies})
        assert without_xsrf.status == 403
        with_xsrf = jupyter.request("POST", "nuvex-link/kernels/k-cookie", message, token="",
                                    headers={"Cookie": cookies, "X-XSRFToken": xsrf})
        assert with_xsrf.status == 200


class TestDescribesJupyter:
    def test_server_info_is_jupyters_record_and_the_child_writes_none(self, jupyter):
        info = jupyter.request("GET", "nuvex-link/server/info").json()
        assert info["port"] == jupyter.port
        assert info["base_url"] == "/"
        assert info["pid"] == jupyter.process.pid
        assert info["root_dir"].rstrip("/") == str(jupyter.root_dir)
        assert info["token"] == jupyter.token
        records = sorted(p.name for p in jupyter.runtime_dir.glob("*server-*.json"))
        assert records == [f"jpserver-{jupyter.process.pid}.json"]

    def test_a_dataset_diff_runs_in_jupyters_root_folder(self, jupyter):
        staged = jupyter.root_dir / "dataset-staged" / "iris"
        stored = jupyter.root_dir / "dataset" / "iris" / "v1"
        staged.mkdir(parents=True)
        stored.mkdir(parents=True)
        (stored / "train.csv").write_text("a\n1\n")
        (staged / "train.csv").write_text("a\n1\n")
        (staged / "labels.csv").write_text("id\n")
        answer = jupyter.request("GET", "nuvex-link/veyra/dataset/diff?dataset_name=iris")
        assert answer.status == 200, answer.body
        assert answer.json()["changes"] == [{"path": "labels.csv", "status": "added"}]

    def test_a_base_url_puts_the_routes_below_it(self, start_jupyter):
        jupyter = start_jupyter(base_url="/user/alice/")
        info = jupyter.request("GET", "nuvex-link/server/info")
        assert info.status == 200
        assert info.json()["base_url"] == "/user/alice/"
        assert info.json()["port"] == jupyter.port
        kernel_id = jupyter.start_kernel()
        channel = open_channel(jupyter, kernel_id)
        try:
            assert jupyter.request("POST", f"nuvex-link/kernels/{kernel_id}",
                                   pipeline_message(kernel_id, [component("c1")])).status == 200
            assert receive_json(channel)["procedure"] == "pipeline:updated"
        finally:
            channel.close()

    def test_the_childs_token_is_on_no_command_line(self, jupyter):
        arguments = open(f"/proc/{jupyter.child_pid()}/cmdline", "rb").read().split(b"\0")
        assert b"--token" not in arguments
        assert b"--host-pid" in arguments and b"--parent-fd" in arguments

    def test_the_childs_token_is_in_neither_its_command_line_nor_its_environment(self, jupyter):
        child, port = jupyter.child_pid(), jupyter.child_port()
        arguments = open(f"/proc/{child}/cmdline", "rb").read().split(b"\0")
        environment = open(f"/proc/{child}/environ", "rb").read().split(b"\0")
        assert b"--token-fd" in arguments
        assert not any(entry.startswith(b"NUVEX_LINK_TOKEN=") for entry in environment)
        # Whatever the token is, none of these texts is it.
        candidates = {part.decode(errors="replace") for part in arguments if part}
        candidates |= {entry.partition(b"=")[2].decode(errors="replace")
                       for entry in environment if entry}
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        try:
            for candidate in candidates:
                if not candidate.isprintable():
                    continue
                connection.request("GET", "/nuvex-link/server/info",
                                   headers={"Authorization": f"token {candidate}"})
                answer = connection.getresponse()
                answer.read()
                assert answer.status == 403, candidate
        finally:
            connection.close()
        assert jupyter.request("GET", "nuvex-link/server/info").status == 200


def raw_get(port, path, token):
    """A socket carrying one GET, its answer not yet read."""
    connection = socket.create_connection(("127.0.0.1", port), timeout=120)
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
    connection.sendall(
        f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: token {token}\r\n"
        "Connection: close\r\n\r\n".encode())
    return connection


def read_answer(connection, pause_after=None, pause=None, sample=None):
    """Reads a whole answer: (head, body). Optionally stops reading for `pause` seconds after
    `pause_after` bytes, calling sample() meanwhile."""
    data = b""
    while b"\r\n\r\n" not in data:
        data += connection.recv(65536)
    head, _, body = data.partition(b"\r\n\r\n")
    paused = pause_after is None
    body = bytearray(body)
    while True:
        if not paused and len(body) >= pause_after:
            paused = True
            end = time.monotonic() + pause
            while time.monotonic() < end:
                sample()
                time.sleep(0.05)
        part = connection.recv(1024 * 1024)
        if not part:
            return head.decode(), bytes(body)
        body += part


class TestExport:
    def test_the_export_streams_through_jupyter_unchanged_and_without_piling_up(
            self, jupyter, server_binary, tmp_path):
        archive_size = 48 * 1024 * 1024
        kernel_id = store_cached_pipeline(jupyter, archive_size)
        route = f"nuvex-link/cache/export?kernel_id={kernel_id}&ipynb_name=work/Demo.ipynb"

        # A slow browser: it stops reading for a while after the first MiB. Without
        # back-pressure Jupyter would read the whole archive from the child meanwhile.
        before = resident_bytes(jupyter.process.pid)
        peak = [before]
        connection = raw_get(jupyter.port, jupyter.path(route), jupyter.token)
        try:
            head, through_jupyter = read_answer(
                connection, pause_after=1024 * 1024, pause=2.0,
                sample=lambda: peak.append(resident_bytes(jupyter.process.pid)))
        finally:
            connection.close()
        assert head.startswith("HTTP/1.1 200"), head
        assert "content-length: %d" % len(through_jupyter) in head.lower()
        assert "filename=Demo-diskcache.tar.gz" in head
        # The child's Content-Type replaced the one Jupyter's API handlers set.
        assert head.lower().count("content-type:") == 1
        assert "application/octet-stream" in head
        growth = max(peak) - before
        assert growth < archive_size / 4, f"Jupyter grew by {growth} bytes"
        assert len(through_jupyter) > archive_size

        # The same export taken from a server of its own, directly.
        direct = start_direct_server(server_binary, tmp_path / "direct", jupyter, kernel_id)
        try:
            cache = jupyter.temp_dir / "nuvex-link" / "pipelines" / kernel_id / "c1"
            message = pipeline_message(
                kernel_id, [component("c1", diskcache_dir=str(cache), cached=True)])
            assert direct.post(f"/nuvex-link/kernels/{kernel_id}", message) == 200
            connection = raw_get(direct.port, "/" + route, direct.token)
            head, directly = read_answer(connection)
            connection.close()
        finally:
            direct.stop()
        assert head.startswith("HTTP/1.1 200"), head
        # Each export dates its own pipeline.json, so the archives are compared by content.
        assert archive_content(through_jupyter) == archive_content(directly)

    def test_a_browser_that_leaves_halfway_leaves_no_error_behind(self, jupyter):
        kernel_id = store_cached_pipeline(jupyter, 16 * 1024 * 1024)
        route = f"nuvex-link/cache/export?kernel_id={kernel_id}&ipynb_name=a.ipynb"
        connection = raw_get(jupyter.port, jupyter.path(route), jupyter.token)
        received = 0
        while received < 1024 * 1024:
            received += len(connection.recv(65536))
        connection.close()
        wait_for(lambda: f"200 GET /nuvex-link/cache/export?kernel_id={kernel_id}" in
                   jupyter.log(), 60,
                   "Jupyter to end the export")
        for failure in ("Uncaught exception", "Task exception", "Exception in callback"):
            assert failure not in jupyter.log()
        assert jupyter.request("GET", f"nuvex-link/kernels/{kernel_id}").status == 200


def archive_content(archive):
    with tarfile.open(fileobj=io.BytesIO(archive), mode="r:gz") as tar:
        return {member.name: tar.extractfile(member).read() if member.isfile() else member.type
                for member in tar.getmembers()}


class DirectServer:
    def __init__(self, process, port, token):
        self.process, self.port, self.token = process, port, token

    def post(self, path, body):
        import http.client

        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        connection.request("POST", path, body=json.dumps(body),
                           headers={"Authorization": f"token {self.token}"})
        status = connection.getresponse().status
        connection.close()
        return status

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


def start_direct_server(binary, folder, jupyter, kernel_id):
    import subprocess

    runtime = folder / "runtime"
    runtime.mkdir(parents=True)
    (runtime / f"kernel-{kernel_id}.json").write_text("{}")
    token = "direct-token"
    process = subprocess.Popen(
        [binary, "--port", "0", "--token", token, "--root-dir", str(jupyter.root_dir),
         "--temp-dir", str(jupyter.temp_dir / "nuvex-link")],
        env=dict(os.environ, JUPYTER_RUNTIME_DIR=str(runtime)),
        stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    for line in process.stdout:
        if line.strip().startswith(b"http://"):
            port = int(line.split(b":")[2].split(b"/")[0])
            return DirectServer(process, port, token)
    raise AssertionError("the direct server did not start")


class TestLifecycle:
    @pytest.mark.parametrize("signal_number", [signal.SIGTERM, signal.SIGKILL])
    def test_the_child_ends_with_jupyter(self, start_jupyter, signal_number):
        jupyter = start_jupyter()
        child = jupyter.child_pid()
        jupyter.stop(signal_number)
        wait_for(lambda: not process_alive(child), 30, "the child to stop")

    def test_a_dead_child_gives_503_until_it_is_started_again(self, start_jupyter):
        jupyter = start_jupyter()
        child = jupyter.child_pid()
        os.kill(child, signal.SIGKILL)
        wait_for(lambda: not process_alive(child), 30, "the child to die")
        unavailable = jupyter.request("GET", "nuvex-link/server/info")
        if unavailable.status != 200:  # it may already be back
            assert unavailable.status == 503
            body = unavailable.json()
            assert body["reason"] is None and "nuvex-link-server" in body["message"]
        jupyter.wait_for_child()
        assert jupyter.child_pid() != child
        assert "nuvex-link-server stopped (killed by SIGKILL)" in jupyter.log()

    def test_an_answer_the_child_breaks_off_is_cut_off_for_the_browser_too(self, start_jupyter):
        jupyter = start_jupyter()
        kernel_id = store_cached_pipeline(jupyter, 24 * 1024 * 1024)
        child = jupyter.child_pid()
        killed = []

        def kill_child_once():
            if not killed:
                os.kill(child, signal.SIGKILL)
                killed.append(child)

        connection = raw_get(
            jupyter.port,
            jupyter.path(f"nuvex-link/cache/export?kernel_id={kernel_id}&ipynb_name=a.ipynb"),
            jupyter.token)
        try:
            head, body = read_answer(connection, pause_after=1024 * 1024, pause=0.5,
                                     sample=kill_child_once)
        finally:
            connection.close()
        length = int(re.search(r"(?i)content-length: (\d+)", head).group(1))
        assert len(body) < length

    def test_a_missing_binary_is_one_log_line_and_503_while_jupyter_works(
            self, start_jupyter, tmp_path):
        missing = str(tmp_path / "no-such-server")
        jupyter = start_jupyter(wait_for_child=False, extra_env={"NUVEX_LINK_SERVER": missing})
        wait_for(lambda: "cannot start" in jupyter.log(), 30, "the failure in the log")
        answer = jupyter.request("GET", "nuvex-link/server/info")
        assert answer.status == 503
        assert answer.json() == {
            "message": f"cannot start {missing}: No such file or directory", "reason": None}
        assert jupyter.request("GET", "api/status").status == 200
        failures = [line for line in jupyter.log().splitlines() if "cannot start" in line]
        assert len(failures) == 1

    def test_settings_on_jupyters_command_line_win_over_the_environment(
            self, start_jupyter, tmp_path):
        silent = tmp_path / "silent-server"
        silent.write_text("#!/bin/sh\nexec sleep 60\n")
        silent.chmod(0o755)
        jupyter = start_jupyter(wait_for_child=False, arguments=[
            f"--NuvexLink.server_binary={silent}", "--NuvexLink.start_timeout=0.5"])
        wait_for(lambda: "did not report its address" in jupyter.log(), 30,
                   "the start timeout in the log")
        assert f"{silent} did not report its address within 0.5 s" in jupyter.log()
