"""The nuvex-link-server child process: started on loopback with a token only this process
knows, watched, and started again with backoff whenever it stops."""

import asyncio
import os
import secrets
import signal
import subprocess
import urllib.parse

from .settings import SERVER_NAME

# A token of this process's own would otherwise be inherited; the child's comes through a pipe.
TOKEN_VARIABLE = "NUVEX_LINK_TOKEN"
FIRST_BACKOFF = 0.5
LONGEST_BACKOFF = 30.0


class ChildUnavailable(Exception):
    """The child cannot take requests now; the text says why."""


class _StartFailure(Exception):
    pass


def _describe_exit(returncode):
    if returncode < 0:
        try:
            return "killed by " + signal.Signals(-returncode).name
        except ValueError:
            return f"killed by signal {-returncode}"
    return f"exit status {returncode}"


def _pipe_holding(data):
    """The read end of a pipe that holds `data` and then ends."""
    read_end, write_end = os.pipe()
    try:
        # Far below a pipe's capacity, so the write completes without a reader.
        os.write(write_end, data)
    except OSError:
        os.close(read_end)
        raise
    finally:
        os.close(write_end)
    return read_end


class ChildServer:
    def __init__(self, log, settings, runtime_dir, root_dir):
        self._log = log
        self._settings = settings
        self._runtime_dir = runtime_dir
        self._root_dir = root_dir
        self._port = None
        self._token = None
        self._problem = "nuvex-link-server is starting"
        self._process = None
        self._task = None
        self._stopped = False

    def address(self):
        """(port, token) of the running child; ChildUnavailable when there is none."""
        if self._port is None:
            raise ChildUnavailable(self._problem)
        return self._port, self._token

    def start(self):
        self._task = asyncio.ensure_future(self._keep_running())

    def stop(self):
        """Stops the child now; called at exit, when Jupyter's event loop may be gone."""
        self._stopped = True
        self._port = None
        if self._process is not None and self._process.returncode is None:
            try:
                os.kill(self._process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass

    async def _keep_running(self):
        loop = asyncio.get_running_loop()
        backoff = FIRST_BACKOFF
        logged = None
        while not self._stopped:
            began = loop.time()
            try:
                returncode = await self._run_once()
                problem = (
                    f"nuvex-link-server stopped ({_describe_exit(returncode)}); "
                    "starting it again"
                )
                logged = None
            except _StartFailure as failure:
                problem = str(failure)
            except Exception as failure:
                # Whatever went wrong, the supervisor lives on and tries again later.
                problem = f"nuvex-link-server could not be run: {failure!r}"
            self._port = None
            self._problem = problem
            if self._stopped:
                return
            # The same failure again (a binary still missing) is not logged again.
            if problem != logged:
                self._log.error("nuvex-link: %s", problem)
                logged = problem
            if loop.time() - began > LONGEST_BACKOFF:
                backoff = FIRST_BACKOFF
            await asyncio.sleep(backoff)
            backoff = min(backoff * 2, LONGEST_BACKOFF)

    def _binary(self):
        binary = self._settings.find_server_binary()
        if not binary:
            raise _StartFailure(
                f"{SERVER_NAME} was not found: set c.NuvexLink.server_binary or "
                "NUVEX_LINK_SERVER to its path, or put it on the PATH"
            )
        return binary

    async def _run_once(self):
        """Runs one child until it exits and answers its return code."""
        binary = self._binary()
        timeout = self._settings.start_timeout
        token = secrets.token_urlsafe(32)
        # The child stops when this pipe ends: when this process closes it or dies, even by
        # SIGKILL. The write end is not inherited by any child process.
        read_end, write_end = os.pipe()
        environment = {name: value for name, value in os.environ.items()
                       if name != TOKEN_VARIABLE}
        environment["JUPYTER_RUNTIME_DIR"] = self._runtime_dir
        try:
            token_read_end = None
            try:
                # The token goes through a pipe of its own, read by the child to its end: it is
                # then in neither the child's command line (every user's ps shows it) nor its
                # environment.
                token_read_end = _pipe_holding(token.encode())
                process = await asyncio.create_subprocess_exec(
                    binary,
                    "--ip", "127.0.0.1",
                    "--port", "0",
                    "--root-dir", self._root_dir,
                    "--host-pid", str(os.getpid()),
                    "--parent-fd", str(read_end),
                    "--token-fd", str(token_read_end),
                    *self._settings.server_arguments(),
                    stdin=subprocess.DEVNULL,
                    stdout=subprocess.PIPE,
                    env=environment,
                    pass_fds=(read_end, token_read_end),
                )
            except OSError as error:
                raise _StartFailure(f"cannot start {binary}: {error.strerror}") from None
            finally:
                os.close(read_end)
                if token_read_end is not None:
                    os.close(token_read_end)
            self._process = process
            if self._stopped:
                process.send_signal(signal.SIGTERM)
            try:
                port = await asyncio.wait_for(self._read_port(process.stdout), timeout)
            except asyncio.TimeoutError:
                process.kill()
                await process.wait()
                raise _StartFailure(
                    f"{binary} did not report its address within {timeout:g} s"
                ) from None
            if port is None:
                returncode = await process.wait()
                raise _StartFailure(
                    f"{binary} stopped before it was ready ({_describe_exit(returncode)}); "
                    "its own message is above"
                )
            self._token, self._port = token, port
            self._log.info(
                "nuvex-link: nuvex-link-server (pid %d) listens on 127.0.0.1:%d",
                process.pid,
                port,
            )
            # Nothing more is expected on its standard output, but it must never fill up.
            drain = asyncio.ensure_future(self._drain(process.stdout))
            returncode = await process.wait()
            drain.cancel()
            return returncode
        finally:
            self._process = None
            os.close(write_end)

    @staticmethod
    async def _read_port(stdout):
        """The port of the address the child prints when it listens; None at its end."""
        async for line in stdout:
            text = line.decode(errors="replace").strip()
            if text.startswith("http://"):
                return urllib.parse.urlsplit(text).port
        return None

    @staticmethod
    async def _drain(stdout):
        while await stdout.read(65536):
            pass
