"""The extension installed by pip into a virtual environment, as a Python package: enabled by
the file it installs, configured in Jupyter's configuration, serving the routes.

The package is built from a copy of its folder (with the project's CMakeLists.txt, where its
version is read), so the build leaves nothing in the source tree."""

import re
import shutil
import subprocess

import pytest

from conftest import EXTENSION_DIR, REPOSITORY, expect_pipeline_relayed, jupyters

PROJECT_VERSION = re.search(r"project\(\S+ VERSION ([0-9.]+)",
                            (REPOSITORY / "CMakeLists.txt").read_text()).group(1)


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    folder = tmp_path_factory.mktemp("venv")
    source = folder / "source"
    shutil.copytree(EXTENSION_DIR, source / "integrations" / "jupyter",
                    ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
    shutil.copy(REPOSITORY / "CMakeLists.txt", source)
    environment = folder / "V"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", environment],
                   check=True)
    subprocess.run([environment / "bin" / "pip", "install", "--no-build-isolation", "--no-index",
                    "--quiet", source / "integrations" / "jupyter"], check=True)
    return environment


def test_the_installed_extension_is_enabled_with_the_projects_version(venv, tmp_path):
    # Debian's Jupyter is outside the environment, so it has no bin/jupyter of its own: its
    # Python runs Jupyter Server's command.
    listed = subprocess.run(
        [venv / "bin" / "python", "-m", "jupyter_server", "extension", "list"],
        capture_output=True, text=True, check=True,
        env={"PATH": "/usr/bin:/bin", "JUPYTER_CONFIG_DIR": str(tmp_path),
             "HOME": str(tmp_path)})
    text = re.sub(r"\x1b\[[0-9;]*m", "", listed.stdout + listed.stderr)
    assert f"Config dir: {venv}/etc/jupyter" in text
    assert "nuvex_link_jupyter enabled" in text
    assert f"nuvex_link_jupyter {PROJECT_VERSION} OK" in text


def test_the_installed_extension_serves_the_routes_with_its_settings(venv, tmp_path,
                                                                    server_binary):
    snippets = tmp_path / "snippets"
    (snippets / "demo" / "hello").mkdir(parents=True)
    (snippets / "demo" / "hello" / "snippet.jinja").write_text("print({{ name | tojson }})")
    with jupyters(tmp_path, server_binary) as start:
        folder = tmp_path / "jupyter"
        (folder / "config").mkdir(parents=True)
        (folder / "config" / "jupyter_server_config.py").write_text(
            f"c.NuvexLink.server_binary = {str(server_binary)!r}\n"
            f"c.NuvexLink.snippets_dir = {str(snippets)!r}\n"
            f"c.NuvexLink.temp_dir = {str(tmp_path / 'nuvex-temp')!r}\n")
        jupyter = start(python=str(venv / "bin" / "python"), installed=True,
                        arguments=["--NuvexLink.log_level=debug"])

        arguments = open(f"/proc/{jupyter.child_pid()}/cmdline").read().split("\0")
        assert arguments[0] == str(server_binary)
        assert arguments[arguments.index("--log-level") + 1] == "debug"
        assert arguments[arguments.index("--temp-dir") + 1] == str(tmp_path / "nuvex-temp")
        snippet = jupyter.request("POST", "nuvex-link/snippets/generate",
                                  {"category": "demo", "snippet_id": "hello",
                                   "parameters": {"name": "from the settings"}})
        assert (snippet.status, snippet.json()) == (200, {"code": 'print("from the settings")'})

        expect_pipeline_relayed(jupyter, "k1")
