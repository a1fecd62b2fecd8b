"""Relays HTTP requests below <base_url>nuvex-link/ to the child, after Jupyter's login.

The answer is streamed: each piece read from the child's socket is written to the browser and
flushed before the next piece is read, so a browser that reads slowly slows the child down
instead of piling the answer up in Jupyter's memory. No body size limit and no timeout apply
to the child's answer (an export is only answered once its archive is built)."""

import sys

from jupyter_server.base.handlers import APIHandler
from tornado import httputil, iostream, web
from tornado.http1connection import HTTP1Connection, HTTP1ConnectionParameters
from tornado.tcpclient import TCPClient

from .relay import (
    answer_unavailable,
    child_address,
    child_request_headers,
    child_target,
    relay_answer_headers,
)

_READ_SIZE = 256 * 1024


class _AnswerRelay(httputil.HTTPMessageDelegate):
    """Passes the child's answer on to the browser as it arrives."""

    def __init__(self, handler, child_stream):
        self._handler = handler
        self._child_stream = child_stream
        self.headers_sent = False
        self.complete = False
        self.browser_gone = False

    async def headers_received(self, start_line, headers):
        handler = self._handler
        handler.set_status(start_line.code, start_line.reason)
        relay_answer_headers(handler, headers)
        # Sent now, so that nothing Jupyter sets when the handler finishes replaces them.
        await self._send(handler.flush)
        self.headers_sent = True

    async def data_received(self, chunk):
        self._handler.write(chunk)
        await self._send(self._handler.flush)

    def finish(self):
        self.complete = True

    def abandon(self):
        """The browser went away: closing the child's connection ends the read of its answer,
        and the child stops sending."""
        self.browser_gone = True
        self._child_stream.close()

    async def _send(self, flush):
        try:
            await flush()
        except iostream.StreamClosedError:
            self.abandon()


class HttpProxyHandler(APIHandler):
    def initialize(self, child):
        self._child = child
        self._answer_relay = None

    def on_connection_close(self):
        # Also while nothing is being sent: the child may take long before its first byte (an
        # export builds its archive first), and its connection must not wait for that.
        super().on_connection_close()
        if self._answer_relay is not None:
            self._answer_relay.abandon()

    @web.authenticated
    async def get(self):
        await self._relay()

    post = put = patch = delete = get

    async def _relay(self):
        address = child_address(self, self._child)
        if address is None:
            return
        port, token = address
        try:
            stream = await TCPClient().connect("127.0.0.1", port, max_buffer_size=_READ_SIZE * 4)
        except (OSError, iostream.StreamClosedError) as error:
            answer_unavailable(self, f"Cannot reach nuvex-link-server: {error}")
            return
        try:
            await self._exchange(stream, port, token)
        finally:
            stream.close()

    async def _exchange(self, stream, port, token):
        connection = HTTP1Connection(
            stream,
            True,
            HTTP1ConnectionParameters(
                no_keep_alive=True, chunk_size=_READ_SIZE, max_body_size=sys.maxsize
            ),
        )
        headers = child_request_headers(self, token)
        headers["Host"] = f"127.0.0.1:{port}"
        body = self.request.body
        if body or self.request.method in ("POST", "PUT", "PATCH"):
            headers["Content-Length"] = str(len(body))
        relay = self._answer_relay = _AnswerRelay(self, stream)
        try:
            connection.write_headers(
                httputil.RequestStartLine(self.request.method, child_target(self), "HTTP/1.1"),
                headers,
            )
            if body:
                connection.write(body)
            connection.finish()
            await connection.read_response(relay)
        except iostream.StreamClosedError:
            pass
        if relay.browser_gone:
            return
        if relay.complete:
            self.finish()
        elif not relay.headers_sent:
            answer_unavailable(self, "nuvex-link-server closed the connection without answering")
        else:
            # The child stopped halfway: the browser must not take a cut answer as complete.
            self.log.warning("nuvex-link: nuvex-link-server stopped in the middle of %s",
                             self.request.path)
            self.request.connection.close()
