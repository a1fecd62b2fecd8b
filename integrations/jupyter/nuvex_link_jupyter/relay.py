"""What the HTTP and websocket relays share: the child's address for a request, the headers
that cross, and the answer when the child cannot take requests."""

import json
import urllib.parse

from tornado import httputil

from .child_server import ChildUnavailable

# Headers that belong to one connection, not to the message (RFC 9110, 7.6.1); Host and the
# credential are set for the child's connection instead.
_HOP_BY_HOP = frozenset(
    name.lower()
    for name in (
        "Connection", "Keep-Alive", "Proxy-Authenticate", "Proxy-Authorization", "TE",
        "Trailer", "Transfer-Encoding", "Upgrade", "Host", "Authorization", "Content-Length",
        "Expect",
    )
)
# A websocket handshake's own headers are made anew on the child's connection.
_WEBSOCKET_HANDSHAKE = frozenset(
    ("sec-websocket-key", "sec-websocket-version", "sec-websocket-extensions",
     "sec-websocket-accept")
)


def answer_unavailable(handler, message):
    """503 in Jupyter's error shape, for a child that is missing, starting or gone."""
    handler.set_status(503)
    handler.set_header("Content-Type", "application/json")
    handler.finish(json.dumps({"message": message, "reason": None}))


def child_target(handler):
    """The child's path and query for this request: the part below Jupyter's base_url, with
    Jupyter's token argument left out (the child has a token of its own). Everything else
    passes byte for byte, so the child decodes the path and query itself."""
    base_url = handler.base_url
    path = handler.request.path
    target = "/" + path[len(base_url):] if path.startswith(base_url) else path
    query = "&".join(
        part
        for part in handler.request.query.split("&")
        if part and urllib.parse.unquote_plus(part.partition("=")[0]) != "token"
    )
    return target + ("?" + query if query else "")


def child_request_headers(handler, token):
    """The request's headers minus those of its connection and its websocket handshake,
    cookies included, with the child's credential."""
    headers = httputil.HTTPHeaders()
    for name, value in handler.request.headers.get_all():
        lowered = name.lower()
        if lowered not in _HOP_BY_HOP and lowered not in _WEBSOCKET_HANDSHAKE:
            headers.add(name, value)
    headers["Authorization"] = "token " + token
    return headers


def relay_answer_headers(handler, headers):
    """Sets the child's answer headers on the handler, each replacing what Jupyter set under
    that name (its Content-Security-Policy and Content-Type included)."""
    names = {}
    for name, value in headers.get_all():
        if name.lower() in _HOP_BY_HOP and name.lower() != "content-length":
            continue
        names.setdefault(name, []).append(value)
    for name, values in names.items():
        handler.clear_header(name)
        for value in values:
            handler.add_header(name, value)


def child_address(handler, child):
    """(port, token) of the child, or None after answering 503."""
    try:
        return child.address()
    except ChildUnavailable as unavailable:
        answer_unavailable(handler, str(unavailable))
        return None
