"""The Debian package built by scripts/package, installed with apt-get: Debian's own Jupyter
serves the routes and the page with nothing but the package (no PYTHONPATH, no
NUVEX_LINK_SERVER), and removing the package takes every file of it away.

It installs into the system, so it needs root and runs apart from the other tests (CTest's
label `package`)."""

import os
import pathlib
import re
import subprocess

import pytest

from conftest import REPOSITORY, expect_pipeline_relayed, jupyters

PACKAGE = "nuvex-link"

pytestmark = pytest.mark.skipif(
    os.geteuid() != 0, reason="installs a Debian package into the system, which needs root")


def package_installed():
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE],
                            capture_output=True, text=True)
    return "install ok installed" in status.stdout


def apt_get(*arguments):
    # Waits for another apt-get or dpkg that holds the lock instead of failing at once.
    subprocess.run(["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=300", *arguments],
                   check=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def test_the_package_installs_serves_jupyter_and_leaves_nothing_when_removed(tmp_path):
    if package_installed():
        pytest.skip(f"{PACKAGE} is already installed here; this test would remove it")
    # The same build type as the tests' build, so the compiler cache serves most of it.
    subprocess.run([REPOSITORY / "scripts" / "package"], check=True,
                   env=dict(os.environ, BUILD_TYPE="RelWithDebInfo"))
    packages = list((REPOSITORY / "build" / "package").glob(f"{PACKAGE}_*.deb"))
    assert len(packages) == 1, packages

    apt_get("install", "--no-install-recommends", str(packages[0]))
    try:
        files = subprocess.run(["dpkg-query", "-L", PACKAGE], capture_output=True, text=True,
                               check=True).stdout.split()
        assert "/usr/bin/nuvex-link-server" in files
        listed = subprocess.run(
            ["/usr/bin/jupyter", "server", "extension", "list"], capture_output=True,
            text=True, check=True, env={"PATH": "/usr/bin:/bin", "HOME": str(tmp_path)})
        text = re.sub(r"\x1b\[[0-9;]*m", "", listed.stdout + listed.stderr)
        assert "nuvex_link_jupyter enabled" in text
        assert re.search(r"nuvex_link_jupyter \d+\.\d+\.\d+ OK", text), text
        serve_through_installed_jupyter(tmp_path)
    finally:
        apt_get("remove", PACKAGE)
    assert not package_installed()
    left = [path for path in files
            if os.path.lexists(path) and not pathlib.Path(path).is_dir()]
    assert left == []
    for folder in ("/usr/lib/python3/dist-packages/nuvex_link_jupyter",
                   "/usr/share/nuvex-link-server"):
        assert not os.path.exists(folder)


def serve_through_installed_jupyter(folder):
    with jupyters(folder, server_binary=None) as start:
        # Debian's Jupyter, its Python and the package's files only.
        jupyter = start(installed=True,
                        extra_env={"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": str(folder)})
        assert os.readlink(f"/proc/{jupyter.child_pid()}/exe") == "/usr/bin/nuvex-link-server"

        page = jupyter.request("GET", "nuvex-link/view/")
        assert page.status == 200
        assert page.headers["Content-Type"].startswith("text/html")
        assert b"<html" in page.body.lower()
        assert jupyter.request("GET", "nuvex-link/view/static/app.js").status == 200

        expect_pipeline_relayed(jupyter, "k1")
