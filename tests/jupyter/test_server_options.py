"""The server's options for running on behalf of a notebook server, on the binary alone."""

import http.client
import json
import os
import subprocess

import pytest



class Server:
    def __init__(self, binary, folder, arguments=(), env=None, pass_fds=()):
        self.runtime_dir = folder / "runtime"
        self.runtime_dir.mkdir(parents=True, exist_ok=True)
        self.process = subprocess.Popen(
            [binary, "--port", "0", "--temp-dir", str(folder / "tmp"), *arguments],
            env=dict(os.environ, JUPYTER_RUNTIME_DIR=str(self.runtime_dir), **(env or {})),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            pass_fds=pass_fds)
        self.banner = self.process.stdout.readline() + self.process.stdout.readline()
        address = self.banner.split(b"\n")[1].strip().decode()
        assert address.startswith("http://"), self.banner
        self.url = address
        self.port = int(address.split(":")[2].split("/")[0])

    def get(self, path, token):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        connection.request("GET", path, headers={"Authorization": f"token {token}"})
        answer = connection.getresponse()
        body = answer.read()
        connection.close()
        return answer.status, body

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(timeout=30)


@pytest.fixture
def start_server(server_binary, tmp_path):
    servers = []

    def start(*arguments, **options):
        server = Server(server_binary, tmp_path, arguments, **options)
        servers.append(server)
        return server

    yield start
    for server in servers:
        server.stop()


def test_a_token_from_the_environment_is_used_and_kept_out_of_the_banner(start_server):
    secret = "secret-from-the-environment"
    server = start_server(env={"NUVEX_LINK_TOKEN": secret})
    assert secret.encode() not in server.banner
    assert "token" not in server.url
    assert server.get("/nuvex-link/cache/info", secret)[0] == 200
    assert server.get("/nuvex-link/cache/info", "other")[0] == 403


def test_the_token_option_still_wins_and_is_shown(start_server):
    server = start_server("--token", "given", env={"NUVEX_LINK_TOKEN": "ignored"})
    assert server.url.endswith("?token=given")
    assert server.get("/nuvex-link/cache/info", "given")[0] == 200
    assert server.get("/nuvex-link/cache/info", "ignored")[0] == 403


def test_a_token_read_from_a_pipe_is_used_kept_out_of_the_banner_and_its_pipe_closed(
        start_server):
    read_end, write_end = os.pipe()
    os.write(write_end, b"secret-from-a-pipe\n")
    os.close(write_end)
    server = start_server("--token-fd", str(read_end), pass_fds=(read_end,))
    os.close(read_end)
    assert b"secret-from-a-pipe" not in server.banner
    assert "token" not in server.url
    assert server.get("/nuvex-link/cache/info", "secret-from-a-pipe")[0] == 200
    assert server.get("/nuvex-link/cache/info", "other")[0] == 403
    assert not os.path.exists(f"/proc/{server.process.pid}/fd/{read_end}")


@pytest.mark.parametrize("arguments, message", [
    (["--token-fd", "917"], b"--token-fd 917 cannot be read: Bad file descriptor"),
    (["--token-fd", "0"], b"--token-fd 0 held no token"),
    (["--token-fd", "0", "--token", "t"], b"excludes"),
])
def test_a_token_fd_that_gives_no_token_is_refused(server_binary, tmp_path, arguments,
                                                    message):
    finished = subprocess.run(
        [server_binary, "--port", "0", *arguments], capture_output=True, stdin=subprocess.DEVNULL,
        env=dict(os.environ, JUPYTER_RUNTIME_DIR=str(tmp_path)), timeout=30)
    assert finished.returncode != 0
    assert message in finished.stderr, finished.stderr


def test_host_pid_reports_that_servers_record_read_at_each_request(start_server, tmp_path):
    host_pid = os.getpid()
    server = start_server("--token", "t", "--host-pid", str(host_pid))
    # The host writes its record after it loaded its extensions, so at first there is none.
    assert server.get("/nuvex-link/server/info", "t")[0] == 500

    root = tmp_path / "host-root"
    (root / "dataset-staged" / "d").mkdir(parents=True)
    (root / "dataset" / "d" / "v1").mkdir(parents=True)
    (root / "dataset-staged" / "d" / "new.csv").write_text("x\n")
    record = {"base_url": "/user/alice/", "hostname": "localhost", "password": False,
              "pid": host_pid, "port": 4242, "root_dir": str(root), "secure": False,
              "sock": "", "token": "host-token", "url": "http://localhost:4242/user/alice/",
              "version": "1.23.3"}
    (server.runtime_dir / f"jpserver-{host_pid}.json").write_text(json.dumps(record))

    status, body = server.get("/nuvex-link/server/info", "t")
    assert status == 200
    info = json.loads(body)
    del info["cookie"]
    assert info == record
    status, body = server.get("/nuvex-link/veyra/dataset/diff?dataset_name=d", "t")
    assert status == 200, body
    assert json.loads(body)["changes"] == [{"path": "new.csv", "status": "added"}]
    # The server wrote no record of its own.
    assert not (server.runtime_dir / f"jpserver-{server.process.pid}.json").exists()


def test_the_server_stops_cleanly_when_its_parent_pipe_ends(start_server):
    read_end, write_end = os.pipe()
    server = start_server("--token", "t", "--parent-fd", str(read_end), pass_fds=(read_end,))
    os.close(read_end)
    assert server.get("/nuvex-link/cache/info", "t")[0] == 200
    # Written bytes mean nothing; only the end of the pipe stops it.
    os.write(write_end, b"still here")
    assert server.get("/nuvex-link/cache/info", "t")[0] == 200
    os.close(write_end)
    assert server.process.wait(timeout=30) == 0
    assert b"Stopping on signal 15" in server.process.stderr.read()


def test_a_parent_fd_that_is_not_open_is_refused(server_binary, tmp_path):
    finished = subprocess.run(
        [server_binary, "--port", "0", "--parent-fd", "917"], capture_output=True,
        env=dict(os.environ, JUPYTER_RUNTIME_DIR=str(tmp_path)), timeout=30)
    assert finished.returncode == 1
    assert b"--parent-fd 917 is not an open file descriptor" in finished.stderr
