"""Serves nuvex-link-server's routes inside a Jupyter server.

On load the extension starts nuvex-link-server as a child process on loopback and relays every
``<base_url>nuvex-link/...`` request and websocket to it, behind Jupyter's own login. The child
describes this Jupyter server (its runtime record, root folder and kernels), not itself. Its
settings are the `NuvexLink` section of Jupyter's configuration (see settings.py).
"""

import atexit
import importlib.metadata

from jupyter_server.utils import url_path_join
from tornado.ioloop import IOLoop

from .child_server import ChildServer
from .http_proxy import HttpProxyHandler
from .settings import NuvexLink
from .websocket_proxy import ChannelProxyHandler

try:
    __version__ = importlib.metadata.version("nuvex-link-jupyter")
except importlib.metadata.PackageNotFoundError:
    # Loaded from the source tree, not installed.
    __version__ = ""


def _jupyter_server_extension_points():
    return [{"module": "nuvex_link_jupyter"}]


def _load_jupyter_server_extension(serverapp):
    settings = NuvexLink(parent=serverapp)
    child = ChildServer(serverapp.log, settings, serverapp.runtime_dir, serverapp.root_dir)
    base_url = serverapp.web_app.settings["base_url"]
    routes = url_path_join(base_url, "nuvex-link")
    handler_settings = {"child": child}
    serverapp.web_app.add_handlers(
        ".*$",
        [
            (routes + r"/kernels/[^/]+/channels", ChannelProxyHandler, handler_settings),
            (routes + r"(?:/.*)?", HttpProxyHandler, handler_settings),
        ],
    )
    # The child is started once Jupyter's event loop runs. It also stops by itself when this
    # process ends in any way; stopping it here only makes that immediate.
    IOLoop.current().add_callback(child.start)
    atexit.register(child.stop)
    serverapp.log.info("nuvex-link: serving %snuvex-link/ through nuvex-link-server", base_url)

