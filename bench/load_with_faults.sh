#!/bin/bash
# Load with faults, bounded in time, loopback only. wrk posts pipelines to the DAG routes while
# a large cache export streams to a client that reads slowly and to one that leaves
# mid-download, websocket clients connect and drop, and dataset diffs run. Afterwards the
# server must still be up with every stored pipeline readable, and its descriptors, threads,
# temporary folders and resident memory back where they were after a warm-up round; SIGTERM
# must then stop it cleanly. Last, nothing one request does may hold back another: wrk reads a
# 10-component pipeline while 5 clients hold exports they never read, a login waits on a
# platform that never answers and a slow diff runs; it must see no timeout and a p99 under
# 10 ms.
# usage: bench/load_with_faults.sh [DURATION_SECONDS=60]   -> bench/work/faults/summary.txt
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
DUR=${1:-60}
BASELINES=${BASELINES:-$root/../shared/bench-baselines}
work=$here/work/faults; base=$here/work/baselines
PY=/usr/bin/python3; TOKEN=bench-token
rm -rf "$work"; mkdir -p "$work" "$base"
cp -r "$BASELINES"/. "$base"/ && chmod -R u+w "$base"
(cd "$base" && { [ -f data/pipeline_200_v2.json ] || $PY gen_pipelines.py >/dev/null; })

# SERVER=build/asan/nuvex-link-server runs the same load against the sanitizer build, whose
# leak report at exit lands in bench/work/faults/server.log.
if [ -z "${SERVER:-}" ]; then
  cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DNUVEX_BUILD_BENCH=ON \
    -DNUVEX_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build/bench" -j2 --target nuvex-link-server >/dev/null 2>&1 || exit 1
  SERVER=$root/build/bench/nuvex-link-server
fi

# Kernels wrk posts to and the export kernel are running; 4 datasets of 2,000 files each; a
# 64 MiB component cache that does not compress.
export JUPYTER_RUNTIME_DIR=$work/runtime TMPDIR=$work/tmp
mkdir -p "$JUPYTER_RUNTIME_DIR" "$TMPDIR"
for k in export t0-{0..7} t1-{0..7}; do echo '{}' > "$JUPYTER_RUNTIME_DIR/kernel-$k.json"; done
for d in 1 2 3 4; do
  mkdir -p "$work/root/dataset-staged/ds$d" "$work/root/dataset/ds$d/latest"
  (cd "$work/root/dataset/ds$d/latest" && seq 1 2000 | xargs touch)
  (cd "$work/root/dataset-staged/ds$d" && seq 500 2500 | xargs touch)
done
cache=$work/temp/pipelines/export/c1
mkdir -p "$cache"
head -c 64M /dev/urandom > "$cache/data.bin"

# rsync as the server finds it: the real one, two seconds late, so diffs are slow.
mkdir -p "$work/bin"
printf '#!/bin/sh\nsleep 2\nexec /usr/bin/rsync "$@"\n' > "$work/bin/rsync"
chmod +x "$work/bin/rsync"
PATH=$work/bin:$PATH "$SERVER" --port 0 --token $TOKEN --temp-dir "$work/temp" \
  --root-dir "$work/root" --log-level warning > "$work/server.log" 2>&1 & PID=$!
trap 'kill -9 $PID 2>/dev/null' EXIT
for _ in $(seq 1 100); do
  [ -f "$JUPYTER_RUNTIME_DIR/jpserver-$PID.json" ] && break
  sleep 0.1
done
PORT=$($PY -c "import json,sys; print(json.load(open(sys.argv[1]))['port'])" \
  "$JUPYTER_RUNTIME_DIR/jpserver-$PID.json") || exit 1
URL=http://127.0.0.1:$PORT

# The export kernel's pipeline: one cached component.
$PY - "$URL" "$TOKEN" "$cache" <<'PY' || exit 1
import json, sys, urllib.request
url, token, cache = sys.argv[1:]
component = {"identifier": "c1", "name": "c1", "code": "x = 1", "diskcache_dir": cache,
             "execution_status": "successful", "diskcache_status": "cached", "metadata": {},
             "parents": []}
body = {"procedure": "pipeline:updated", "status": "successful", "msg": "",
        "successful": {"identifier": "export", "name": "p", "diskcache_dir": None,
                       "graph": {"components": [component]}}}
request = urllib.request.Request(url + "/nuvex-link/kernels/export", json.dumps(body).encode(),
                                 {"Authorization": "token " + token})
urllib.request.build_opener(urllib.request.ProxyHandler({})).open(request).read()
PY

# The faulty clients, for a given number of seconds: slow and leaving export readers,
# websocket churn, dataset diffs.
cat > "$work/clients.py" <<'PY'
import base64, os, socket, sys, threading, time
port, token, seconds = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
deadline = time.time() + seconds
counts = {"export_slow": 0, "export_left": 0, "ws": 0, "diff": 0, "failures": 0}
lock = threading.Lock()

def count(name):
    with lock: counts[name] += 1

def request(target, extra=""):
    s = socket.create_connection(("127.0.0.1", port), timeout=60)
    s.sendall(f"GET {target} HTTP/1.1\r\nHost: x\r\nAuthorization: token {token}\r\n"
              f"{extra}Connection: close\r\n\r\n".encode())
    return s

def export(slow):
    while time.time() < deadline:
        try:
            s = request("/nuvex-link/cache/export?kernel_id=export&ipynb_name=load.ipynb")
            got = 0
            while time.time() < deadline:
                part = s.recv(65536)
                if not part: break
                got += len(part)
                if slow: time.sleep(0.005)
                elif got > (8 << 20): break   # leaves mid-download
            s.close()
            count("export_slow" if slow else "export_left")
        except OSError:
            count("failures")

def websockets():
    while time.time() < deadline:
        try:
            key = base64.b64encode(os.urandom(16)).decode()
            s = request(f"/nuvex-link/kernels/t0-{counts['ws'] % 8}/channels",
                        "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                        f"Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: {key}\r\n")
            s.recv(4096)
            time.sleep(0.05)
            s.close()   # drops without a close frame
            count("ws")
        except OSError:
            count("failures")

def diffs():
    while time.time() < deadline:
        try:
            s = request("/nuvex-link/veyra/dataset/diff")
            answer = b""
            while True:
                part = s.recv(65536)
                if not part: break
                answer += part
            s.close()
            count("diff" if answer.startswith(b"HTTP/1.1 200") else "failures")
        except OSError:
            count("failures")

threads = [threading.Thread(target=f, args=a) for f, a in
           [(export, (True,)), (export, (False,)), (websockets, ()), (websockets, ()), (diffs, ())]]
for t in threads: t.start()
for t in threads: t.join()
print(" ".join(f"{k}={v}" for k, v in counts.items()))
PY

rss() { awk '/VmRSS/ {print $2}' /proc/$PID/status; }
threads() { awk '/Threads/ {print $2}' /proc/$PID/status; }
fds() { ls /proc/$PID/fd | wc -l; }
tmpdirs() { find "$TMPDIR" -mindepth 1 -maxdepth 1 | wc -l; }
children() { pgrep -P $PID | wc -l; }
settle() {  # waits until the server has no children and no temporary folders, up to 30 s
  for _ in $(seq 1 300); do [ "$(children)" = 0 ] && [ "$(tmpdirs)" = 0 ] && break; sleep 0.1; done
  sleep 2
}

export WRK_REPORT=$base/report.lua
cd "$base"
load() {  # seconds: wrk and the faulty clients together
  timeout $(($1 + 60)) wrk -t2 -c16 -d"$1s" -s post.lua "$URL" -- \
    data/pipeline_200_v1.json data/pipeline_200_v2.json 8 $TOKEN > "$work/wrk.txt" 2>&1 &
  local wrk_pid=$!
  CLIENTS=$(timeout $(($1 + 120)) $PY "$work/clients.py" "$PORT" $TOKEN "$1")
  wait $wrk_pid
  settle
}
# Warm-up: a shorter round of the same load, so that stored pipelines, lazily made state and
# the memory the allocator keeps for reuse count as the start.
load $((DUR / 3))
RSS0=$(rss); FD0=$(fds); TH0=$(threads); TMP0=$(tmpdirs)
load "$DUR"
RSS1=$(rss); FD1=$(fds); TH1=$(threads); TMP1=$(tmpdirs)

# Every stored pipeline is still readable.
UNREADABLE=0
for k in t0-{0..7} t1-{0..7} export; do
  code=$(curl --noproxy '*' -s -o /dev/null -w '%{http_code}' -H "Authorization: token $TOKEN" \
    "$URL/nuvex-link/kernels/$k")
  [ "$code" = 200 ] || UNREADABLE=$((UNREADABLE + 1))
done

# Stalled faults: exports nobody reads, a platform that never answers, a slow diff; wrk reads
# a 10-component pipeline meanwhile.
curl --noproxy '*' -s -o /dev/null -H "Authorization: token $TOKEN" \
  --data-binary @data/pipeline_10_v1.json "$URL/nuvex-link/kernels/t1-0"
cat > "$work/stalls.py" <<'PY'
import json, socket, sys, threading, time
port, token, seconds = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
deadline = time.time() + seconds
held = []
silent = socket.socket(); silent.bind(("127.0.0.1", 0)); silent.listen(16)
def send(target, method="GET", body=b""):
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.sendall(f"{method} {target} HTTP/1.1\r\nHost: x\r\nAuthorization: token {token}\r\n"
              f"Content-Length: {len(body)}\r\n\r\n".encode() + body)
    return s
for _ in range(5):   # exports whose clients never read
    held.append(send("/nuvex-link/cache/export?kernel_id=export&ipynb_name=stall.ipynb"))
def logins():        # a platform that accepts and never answers
    body = json.dumps({"veyra_url": "http://127.0.0.1:%d" % silent.getsockname()[1],
                       "email": "a@b.c", "password": "p"}).encode()
    while time.time() < deadline:
        s = send("/nuvex-link/veyra/user/login", "POST", body); s.settimeout(40)
        try: s.recv(65536)
        except OSError: pass
        s.close()
def diffs():         # rsync two seconds late, every time
    while time.time() < deadline:
        s = send("/nuvex-link/veyra/dataset/diff"); s.settimeout(60)
        try:
            while s.recv(65536): pass
        except OSError: pass
        s.close()
threads = [threading.Thread(target=f, daemon=True) for f in (logins, diffs)]
for t in threads: t.start()
time.sleep(seconds)
PY
timeout $((DUR + 60)) $PY "$work/stalls.py" "$PORT" $TOKEN $((DUR / 2 + 12)) & STALLS=$!
# The exports pack their archives first (every core busy), then stall on their clients.
sleep 10
STALLED=$(timeout $((DUR + 30)) wrk -t2 -c16 -d"$((DUR / 2))s" --latency -s get.lua \
  "$URL/nuvex-link/kernels/t1-0" -- $TOKEN | grep '^RESULT ' | sed 's/^RESULT //')
wait $STALLS
settle
STALL_P99=$(echo "$STALLED" | $PY -c "import json,sys; print(json.load(sys.stdin)['p99_ms'])")
STALL_TIMEOUTS=$(echo "$STALLED" | $PY -c "import json,sys; print(json.load(sys.stdin)['err_timeout'])")
STALL_RPS=$(echo "$STALLED" | $PY -c "import json,sys; print(json.load(sys.stdin)['rps'])")

kill -TERM $PID
for _ in $(seq 1 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
wait $PID; EXIT=$?
trap - EXIT
RUNTIME_LEFT=$(find "$JUPYTER_RUNTIME_DIR" -name 'jpserver-*' | wc -l)

REQUESTS=$(grep -Eo '[0-9]+ requests in' "$work/wrk.txt" | grep -Eo '^[0-9]+')
ERRORS=$(grep -E 'Non-2xx|Socket errors' "$work/wrk.txt" | tr '\n' ' ')
{
  echo "duration ${DUR}s; wrk DAG posts: ${REQUESTS:-?} requests; errors: ${ERRORS:-none}"
  echo "faulty clients: $CLIENTS"
  echo "resident memory: ${RSS0} kB -> ${RSS1} kB"
  echo "descriptors: $FD0 -> $FD1; threads: $TH0 -> $TH1; temporary folders: $TMP0 -> $TMP1"
  echo "unreadable pipelines: $UNREADABLE; SIGTERM exit: $EXIT; runtime files left: $RUNTIME_LEFT"
  echo "DAG GET beside stalled exports, a hung platform and a slow diff: ${STALL_RPS} req/s," \
    "p99 ${STALL_P99} ms, timeouts ${STALL_TIMEOUTS}"
} | tee "$work/summary.txt"

ok=1
[ "$UNREADABLE" = 0 ] && [ "$EXIT" = 0 ] && [ "$RUNTIME_LEFT" = 0 ] || ok=0
[ "$FD1" -le "$FD0" ] && [ "$TH1" -le "$TH0" ] && [ "$TMP1" -le "$TMP0" ] || ok=0
[ $((RSS1 * 10)) -le $((RSS0 * 11)) ] || ok=0
[ "$STALL_TIMEOUTS" = 0 ] && $PY -c "import sys; sys.exit(float('$STALL_P99') >= 10)" || ok=0
[ $ok = 1 ] && echo "load with faults: passed" || { echo "load with faults: FAILED"; exit 1; }
