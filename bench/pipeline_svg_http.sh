#!/bin/bash
# The pipeline picture through the server: the first request for a 200-component pipeline
# (layout and drawing) and then wrk on the same route, answered from the kept SVG.
# usage: bench/pipeline_svg_http.sh [BUILD_DIR=build/bench] [DURATION=5s]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build/bench}; DUR=${2:-5s}
work=$(mktemp -d); TOKEN=bench-token
trap 'kill $SERVER_PID 2>/dev/null; rm -rf "$work"' EXIT
export JUPYTER_RUNTIME_DIR=$work/runtime
mkdir -p "$JUPYTER_RUNTIME_DIR"; echo '{}' > "$JUPYTER_RUNTIME_DIR/kernel-k200.json"

"$build/nuvex-link-server" --port 0 --token $TOKEN --temp-dir "$work/temp" --root-dir "$work" \
  --log-level warning >/dev/null 2>&1 & SERVER_PID=$!
for _ in $(seq 200); do
  record=$(ls "$JUPYTER_RUNTIME_DIR"/jpserver-*.json 2>/dev/null || true)
  [ -n "$record" ] && PORT=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["port"])' "$record" 2>/dev/null) && break
  sleep 0.05
done
url=http://127.0.0.1:$PORT/nuvex-link

/usr/bin/python3 - "$work/body.json" <<'PY'
import json, sys
components = [{"identifier": "c%d" % i, "name": "step_%d" % i, "code": "x = 1", "diskcache_dir": None,
               "execution_status": "successful", "diskcache_status": "cached", "metadata": {},
               "parents": ([{"id": "c%d" % (i - 1)}] if i else []) + ([{"id": "c%d" % (i // 2)}] if i > 3 and i % 3 == 0 else [])}
              for i in range(200)]
json.dump({"procedure": "pipeline:updated", "status": "successful", "msg": "",
           "successful": {"identifier": "k200", "name": "bench", "diskcache_dir": None,
                          "graph": {"components": components}}}, open(sys.argv[1], "w"))
PY
curl -s -o /dev/null -H "Authorization: token $TOKEN" --data-binary @"$work/body.json" "$url/kernels/k200"
echo "first request (layout): $(curl -s -o /dev/null -w '%{time_total}' -H "Authorization: token $TOKEN" "$url/view/kernels/k200/graph.svg") s"
wrk -t2 -c16 -d"$DUR" --latency -H "Authorization: token $TOKEN" "$url/view/kernels/k200/graph.svg" \
  | grep -E 'Requests/sec|50%|99%|Transfer'
