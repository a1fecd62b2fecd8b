"""The extension's relays let go of every connection to the child they open."""

import http.client

import websocket

from conftest import established_connections, store_cached_pipeline, wait_for
from test_extension import open_channel, raw_get

CHANNEL = "nuvex-link/kernels/k1/channels"
HANDSHAKE = {"Upgrade": "websocket", "Connection": "Upgrade", "Sec-WebSocket-Version": "13",
             "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ=="}


def settles_at(jupyter, child, expected):
    wait_for(lambda: established_connections(child) == expected, 30,
               f"the child to hold {expected} established connections "
               f"(it holds {established_connections(child)})")


def test_a_thousand_refused_handshakes_leave_the_childs_connections_as_they_were(jupyter):
    child = jupyter.child_pid()
    before = established_connections(child)
    token = {"Authorization": f"token {jupyter.token}"}
    # Jupyter checks the origin of browsers, which log in with a cookie, not of token holders.
    cookies, _ = jupyter.log_in()
    refusals = [
        ({**HANDSHAKE}, 403),  # no login
        ({**HANDSHAKE, "Cookie": cookies, "Origin": "http://elsewhere.example"}, 403),
        ({**token}, 400),  # a plain GET, no upgrade
        ({**HANDSHAKE, **token, "Connection": "keep-alive"}, 400),
    ]
    connection = http.client.HTTPConnection("127.0.0.1", jupyter.port, timeout=30)
    try:
        for round_number in range(250):
            for headers, status in refusals:
                connection.request("GET", jupyter.path(CHANNEL), headers=headers)
                answer = connection.getresponse()
                answer.read()
                assert answer.status == status, (headers, answer.status)
                if answer.will_close:
                    connection.close()
    finally:
        connection.close()
    assert established_connections(child) == before
    # Jupyter itself still works.
    assert jupyter.request("GET", "nuvex-link/server/info").status == 200


def test_a_websocket_closed_from_either_side_frees_its_child_connection(jupyter):
    child = jupyter.child_pid()
    before = established_connections(child)

    browser_closes = open_channel(jupyter, "k-either")
    settles_at(jupyter, child, before + 1)
    browser_closes.close()
    settles_at(jupyter, child, before)

    child_closes = open_channel(jupyter, "k-either")
    settles_at(jupyter, child, before + 1)
    # The child closes a channel whose client sends more than 1 MiB at once.
    child_closes.send("x" * (2 * 1024 * 1024))
    opcode, _ = child_closes.recv_data(control_frame=True)
    assert opcode == websocket.ABNF.OPCODE_CLOSE
    child_closes.close()
    settles_at(jupyter, child, before)


def test_a_download_the_browser_abandons_frees_its_child_connection(jupyter):
    kernel_id = store_cached_pipeline(jupyter, 16 * 1024 * 1024)
    child = jupyter.child_pid()
    before = established_connections(child)

    download = raw_get(
        jupyter.port,
        jupyter.path(f"nuvex-link/cache/export?kernel_id={kernel_id}&ipynb_name=a.ipynb"),
        jupyter.token)
    received = 0
    while received < 1024 * 1024:
        received += len(download.recv(65536))
    # The browser stops reading: the rest of the answer waits in the child's connection.
    settles_at(jupyter, child, before + 1)
    download.close()
    settles_at(jupyter, child, before)
