"""The extension's settings, part of Jupyter's configuration: `c.NuvexLink.<name> = ...` in
jupyter_server_config.py, or `--NuvexLink.<name>=...` on Jupyter's command line."""

import os
import shutil
import sys

from traitlets import Enum, Float, Unicode, default
from traitlets.config import Configurable

SERVER_NAME = "nuvex-link-server"
SERVER_VARIABLE = "NUVEX_LINK_SERVER"


class NuvexLink(Configurable):
    server_binary = Unicode(
        help="Path of the nuvex-link-server program (default: $NUVEX_LINK_SERVER, else "
        "nuvex-link-server on the PATH, else in the bin folder of this Python's installation)"
    ).tag(config=True)

    log_level = Enum(
        ["debug", "info", "warning", "error"], default_value="info",
        help="Log level of nuvex-link-server",
    ).tag(config=True)

    temp_dir = Unicode(
        "", help="nuvex-link-server's temporary folder, where the pipeline caches live "
        "(default: $TMPDIR/nuvex-link)"
    ).tag(config=True)

    snippets_dir = Unicode(
        "", help="Folder of the snippet templates (default: the installed ones)"
    ).tag(config=True)

    start_timeout = Float(
        30.0, help="Seconds nuvex-link-server may take to start listening before it is "
        "stopped and started again"
    ).tag(config=True)

    @default("server_binary")
    def _server_binary_from_environment(self):
        return os.environ.get(SERVER_VARIABLE, "")

    def find_server_binary(self):
        """The program to run, or None when it is nowhere to be found. Next to the PATH, the
        bin folders of this Python's installation are searched, so that a package installed
        with it is found even by a Jupyter started with a narrow PATH."""
        if self.server_binary:
            return self.server_binary
        folders = [os.environ.get("PATH", os.defpath)]
        folders += [os.path.join(prefix, "bin") for prefix in (sys.prefix, sys.base_prefix)]
        return shutil.which(SERVER_NAME, path=os.pathsep.join(folders))

    def server_arguments(self):
        """The command line options that carry these settings to nuvex-link-server."""
        arguments = ["--log-level", self.log_level]
        if self.temp_dir:
            arguments += ["--temp-dir", self.temp_dir]
        if self.snippets_dir:
            arguments += ["--snippets-dir", self.snippets_dir]
        return arguments
