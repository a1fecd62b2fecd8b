#!/usr/bin/env bash
# Render latency of POST /nuvex-link/snippets/generate on servers of our own on 127.0.0.1:
#   - the first render of a fresh server, interpreter start included (target: under 300 ms),
#     median of several starts;
#   - warm renders of a 2 KB template with 10 parameters, one connection (target: p50 under 1 ms).
# Baselines from the same run: a bare python3 process importing Jinja2 and rendering the
# template once (median of as many runs), and the server's own 404 answer under the same load.
# Usage: bench/snippet_render_bench.sh [path/to/nuvex-link-server] [seconds of load] [starts]
set -euo pipefail

server=${1:-build/bench/nuvex-link-server}
seconds=${2:-5}
starts=${3:-5}
work=$(mktemp -d)
server_pid=
stop_server() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=
    fi
}
trap 'stop_server; rm -rf "$work"' EXIT

# A 2 KB template using ten parameters, with a loop, conditions and filters.
template="$work/snippets/bench/two_kb/snippet.jinja"
mkdir -p "$(dirname "$template")" "$work/runtime" "$work/root"
{
    echo 'from pathlib import Path'
    echo 'import pandas as pd'
    for i in $(seq 1 10); do
        echo "# Step $i: {{ p$i }} ({{ p$i | upper }}) after {{ p$((i % 10 + 1)) | default('x', true) }}."
        echo "path_$i = Path({{ p$i | tojson }}) / \"part-$i.csv\""
        echo "frame_$i = pd.read_csv(path_$i){% if p$i | length > 3 %}.dropna(){% endif %}"
    done
    echo '{% for name in [p1, p2, p3, p4, p5] %}print({{ name | tojson }}, {{ loop.index }})'
    echo '{% endfor %}'
} >"$template"
body='{"category": "bench", "snippet_id": "two_kb", "parameters": {"p1": "alpha", "p2": "beta", "p3": "gamma", "p4": "delta", "p5": "epsilon", "p6": "zeta", "p7": "eta", "p8": "theta", "p9": "iota", "p10": "kappa"}}'

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

start_server() {
    rm -f "$work"/runtime/*
    JUPYTER_RUNTIME_DIR="$work/runtime" "$server" --ip 127.0.0.1 --port 0 --token bench \
        --root-dir "$work/root" --temp-dir "$work/tmp" --snippets-dir "$work/snippets" \
        --log-level error >/dev/null 2>&1 &
    server_pid=$!
    local runtime_file="$work/runtime/jpserver-$server_pid.json"
    for _ in $(seq 1 100); do
        [ -s "$runtime_file" ] && break
        sleep 0.1
    done
    port=$(/usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["port"])' \
        "$runtime_file")
    url="http://127.0.0.1:$port/nuvex-link/snippets/generate?token=bench"
}

first_render() {
    local timing
    timing=$(curl -sS -o "$work/answer.json" -w '%{time_total}' --max-time 30 \
        -H 'Content-Type: application/json' --data-binary "$body" "$url")
    grep -q '"code"' "$work/answer.json" || { echo "render failed: $(cat "$work/answer.json")" >&2; exit 1; }
    echo "$timing"
}

python_first=$(for _ in $(seq 1 "$starts"); do
    { /usr/bin/time -f %e /usr/bin/python3 -c '
import sys, jinja2
jinja2.Template(open(sys.argv[1], encoding="utf-8").read()).render(**{f"p{i}": "x" for i in range(1, 11)})
' "$template"; } 2>&1
done | median)

server_first=$(for _ in $(seq 1 "$starts"); do
    start_server
    first_render
    stop_server
done | median)

start_server
first_render >/dev/null
cat >"$work/post.lua" <<LUA
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/json"
wrk.body = '$body'
LUA
p50() { wrk -t1 -c1 -d"${seconds}s" --latency -s "$work/post.lua" "$1" | awk '$1 == "50%" { print $2 }'; }
warm_p50=$(p50 "$url")
floor_p50=$(p50 "http://127.0.0.1:$port/nuvex-link/no-such-route?token=bench")

echo "template: $(stat -c %s "$template") bytes, 10 parameters; load average: $(cut -d' ' -f1 /proc/loadavg)"
echo "first render through HTTP, interpreter start included (median of $starts): ${server_first} s   [target < 0.300 s]"
echo "baseline, python3 start + import jinja2 + one render (median of $starts):     ${python_first} s"
echo "warm render p50 through HTTP, 1 connection, ${seconds} s:                          ${warm_p50}   [target < 1 ms]"
echo "baseline, 404 answer p50, same load:                                      ${floor_p50}"
