"""What the Python suites share: waiting on a condition with a deadline, and a free port."""

import socket
import time


def wait_for(condition, timeout, what):
    """Polls condition() until it gives something true and returns that; fails naming `what`
    once `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(0.02)


def free_port():
    """A loopback port free now, for a server that cannot report the one it took; should
    another process take it first, the server fails or moves on, as the caller expects."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]
