#!/bin/bash
# Cache export through the running server against GNU tar on the same tree, same run.
#
# usage: bench/archive_export.sh speed [ROUNDS=3]   wall time and size vs tar -czf / pigz
#        bench/archive_export.sh memory               server RSS while exporting ~1.2 GiB
# env:   SERVER (default build/bench/nuvex-link-server), SRC (default /tmp/bench-cache),
#        BASELINES (default ../shared/bench-baselines), WORK (default /tmp/nuvex-archive-bench)
# Everything stays on 127.0.0.1; the server started here is stopped on exit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
MODE=${1:-speed}; ROUNDS=${2:-3}
SERVER=${SERVER:-$here/../build/bench/nuvex-link-server}
SRC=${SRC:-/tmp/bench-cache}
BASELINES=${BASELINES:-$here/../../shared/bench-baselines}
WORK=${WORK:-/tmp/nuvex-archive-bench}
TOKEN=bench-token

[ -d "$SRC" ] || /usr/bin/python3 "$BASELINES/gen_cache_tree.py" "$SRC"
rm -rf "$WORK"; mkdir -p "$WORK/runtime" "$WORK/temp" "$WORK/out"
export JUPYTER_RUNTIME_DIR=$WORK/runtime
echo '{}' > "$WORK/runtime/kernel-bench.json"

PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$SERVER" --port "$PORT" --token "$TOKEN" --temp-dir "$WORK/temp" --root-dir "$WORK" \
  --log-level error > "$WORK/server.log" 2>&1 &
SERVER_PID=$!
trap 'kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true' EXIT
URL=http://127.0.0.1:$PORT
for _ in $(seq 100); do
  curl -sf -o /dev/null "$URL/nuvex-link/cache/info?token=$TOKEN" && break
  sleep 0.1
done

# One successful, cached component per top folder of the export tree.
store_pipeline() {  # $1: folders
  /usr/bin/python3 - "$@" > "$WORK/pipeline.json" <<'PY'
import json, sys
components = [{"identifier": "c%03d" % i, "name": "c%d" % i, "code": "", "diskcache_dir": d,
               "execution_status": "successful", "diskcache_status": "cached",
               "metadata": {}, "parents": []} for i, d in enumerate(sys.argv[1:])]
print(json.dumps({"procedure": "pipeline:updated", "status": "successful", "msg": "",
                  "successful": {"identifier": "bench", "name": "bench", "diskcache_dir": None,
                                 "graph": {"components": components}}}))
PY
  curl -sf -o /dev/null -X POST --data-binary @"$WORK/pipeline.json" \
    "$URL/nuvex-link/kernels/bench?token=$TOKEN"
}
EXPORT="curl -sf -o $WORK/out/server.tgz '$URL/nuvex-link/cache/export?kernel_id=bench&ipynb_name=bench.ipynb&token=$TOKEN'"

if [ "$MODE" = speed ]; then
  store_pipeline "$SRC"/*/
  P=$(dirname "$SRC"); B=$(basename "$SRC")
  /usr/bin/python3 "$BASELINES/rr_time.py" -n "$ROUNDS" -w 1 --before "rm -f $WORK/out/*.tgz" -- \
    tar_czf "tar -czf $WORK/out/tar_czf.tgz -C $P $B" \
    server_export "$EXPORT" \
    tar_pigz "tar -I pigz -cf $WORK/out/tar_pigz.tgz -C $P $B"
  # The last round's outputs are kept: compare their sizes and check the server's archive.
  tar -czf "$WORK/out/tar_czf.tgz" -C "$P" "$B"
  eval "$EXPORT"
  tar -I pigz -cf "$WORK/out/tar_pigz.tgz" -C "$P" "$B"
  ls -l "$WORK"/out/*.tgz
  ref=$(stat -c %s "$WORK/out/tar_czf.tgz"); ours=$(stat -c %s "$WORK/out/server.tgz")
  echo "server archive size / tar -czf size: $(/usr/bin/python3 -c "print(round($ours/$ref, 4))")"
  gzip -t "$WORK/out/server.tgz" && echo "gzip -t: ok"
  mkdir -p "$WORK/extract" && tar -xzf "$WORK/out/server.tgz" -C "$WORK/extract" && echo "tar -xzf: ok"
elif [ "$MODE" = memory ]; then
  # Three hard-linked copies of the tree: 1.2 GiB to archive, no extra disk.
  for i in 1 2 3; do cp -al "$SRC" "$WORK/tree$i"; done
  store_pipeline "$WORK"/tree*/*/
  rss() { awk '/^VmRSS/ {print $2}' "/proc/$SERVER_PID/status"; }
  idle=$(rss); peak=$idle
  eval "$EXPORT" & CURL_PID=$!
  while kill -0 "$CURL_PID" 2>/dev/null; do
    now=$(rss); [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.05
  done
  wait "$CURL_PID"
  echo "archive: $(stat -c %s "$WORK/out/server.tgz") bytes"
  echo "server RSS idle ${idle} KiB, peak during export ${peak} KiB, growth $(( (peak - idle) / 1024 )) MiB"
else
  echo "usage: $0 speed [ROUNDS] | memory" >&2; exit 2
fi
