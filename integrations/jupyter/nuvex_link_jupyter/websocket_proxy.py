"""Relays a kernel's websocket channel to the child's, after Jupyter's login.

The connection to the child is made before the browser's upgrade is accepted, so a missing
child is a 503 and a refusal by the child is its own status; it is made only for a handshake
tornado will take (logged in, an upgrade, an allowed origin), and closed as soon as the
browser's websocket ends or its handshake fails anyway, so no refused or finished websocket
holds a connection to the child. Messages pass both ways whatever their size (tornado's
default limit of 10 MiB would drop a large pipeline update), one at a time: the next message
is read only once the previous one was handed to the other side."""

import asyncio
import sys

from jupyter_server.base.handlers import JupyterHandler
from tornado import httpclient, iostream, web, websocket

from .relay import (
    answer_unavailable,
    child_address,
    child_request_headers,
    child_target,
    relay_answer_headers,
)


class ChannelProxyHandler(websocket.WebSocketHandler, JupyterHandler):
    def initialize(self, child):
        self._child = child
        self._child_connection = None
        self._child_relay = None

    @property
    def max_message_size(self):
        return sys.maxsize

    def check_origin(self, origin=None):
        # Jupyter's own rule (same host, or its allow_origin settings).
        return JupyterHandler.check_origin(self)

    async def get(self, *args, **kwargs):
        if self.current_user is None:
            raise web.HTTPError(403)
        if not self._handshake_acceptable():
            # Tornado answers the refusal itself.
            await super().get(*args, **kwargs)
            return
        address = child_address(self, self._child)
        if address is None:
            return
        port, token = address
        headers = child_request_headers(self, token)
        request = httpclient.HTTPRequest(f"ws://127.0.0.1:{port}{child_target(self)}",
                                         headers=headers)
        try:
            self._child_connection = await websocket.websocket_connect(
                request, max_message_size=sys.maxsize, ping_interval=None
            )
        except httpclient.HTTPClientError as refusal:
            # The child's own answer (a wrong path, for one) passes on as it is.
            self.set_status(refusal.code)
            if refusal.response is None:
                self.finish()
                return
            relay_answer_headers(self, refusal.response.headers)
            self.finish(refusal.response.body or b"")
            return
        except (OSError, iostream.StreamClosedError, websocket.WebSocketError) as error:
            answer_unavailable(self, f"Cannot reach nuvex-link-server: {error}")
            return
        try:
            # Returns when the browser's websocket has ended, or at once when tornado refused
            # the handshake after all.
            await super().get(*args, **kwargs)
        finally:
            self._child_connection.close()

    def _handshake_acceptable(self):
        """What tornado checks before it takes a websocket handshake."""
        headers = self.request.headers
        connection = [part.strip().lower() for part in headers.get("Connection", "").split(",")]
        return (
            headers.get("Upgrade", "").lower() == "websocket"
            and "upgrade" in connection
            and "Sec-WebSocket-Key" in headers
            and headers.get("Sec-WebSocket-Version") in ("7", "8", "13")
            and self.check_origin()
        )

    def open(self, *args, **kwargs):
        self._child_relay = asyncio.ensure_future(self._relay_child_messages())

    async def _relay_child_messages(self):
        child = self._child_connection
        while True:
            message = await child.read_message()
            if message is None:
                self.close(child.close_code, child.close_reason)
                return
            try:
                await self.write_message(message, binary=isinstance(message, bytes))
            except websocket.WebSocketClosedError:
                child.close()
                return

    async def on_message(self, message):
        try:
            await self._child_connection.write_message(message, binary=isinstance(message, bytes))
        except websocket.WebSocketClosedError:
            self.close()

    def on_close(self):
        if self._child_connection is not None:
            self._child_connection.close()
