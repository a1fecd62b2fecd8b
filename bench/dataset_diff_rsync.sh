#!/bin/bash
# All-datasets diff through the running server against the same eight rsync dry runs started
# in parallel from a shell, interleaved in the same run.
#
# usage: bench/dataset_diff_rsync.sh [ROUNDS=5]
# env:   SERVER (default build/bench/nuvex-link-server), BASELINES (default
#        ../shared/bench-baselines), WORK (default /tmp/nuvex-dataset-bench)
# Eight datasets of 20,000 files (about 5% added, deleted and edited). Everything stays on
# 127.0.0.1; the server started here is stopped on exit, and every run has a time limit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ROUNDS=${1:-5}
SERVER=${SERVER:-$here/../build/bench/nuvex-link-server}
BASELINES=${BASELINES:-$here/../../shared/bench-baselines}
WORK=${WORK:-/tmp/nuvex-dataset-bench}
TOKEN=bench-token

# The generator writes set_K/src (staged) and set_K/dst (stored); lay them out as the server
# expects: dataset-staged/set_K and dataset/set_K/latest.
if [ ! -d "$WORK/root/dataset/set_7/latest" ]; then
  rm -rf "$WORK"; mkdir -p "$WORK/root/dataset-staged" "$WORK/root/dataset"
  /usr/bin/python3 "$BASELINES/gen_rsync_sets.py" "$WORK/sets" 8 20000
  for i in 0 1 2 3 4 5 6 7; do
    mv "$WORK/sets/set_$i/src" "$WORK/root/dataset-staged/set_$i"
    mkdir -p "$WORK/root/dataset/set_$i"
    mv "$WORK/sets/set_$i/dst" "$WORK/root/dataset/set_$i/latest"
  done
  rm -rf "$WORK/sets"
fi
mkdir -p "$WORK/runtime"
export JUPYTER_RUNTIME_DIR=$WORK/runtime

PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$SERVER" --port "$PORT" --token "$TOKEN" --root-dir "$WORK/root" --log-level error \
  > "$WORK/server.log" 2>&1 &
SERVER_PID=$!
trap 'kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true' EXIT
URL="http://127.0.0.1:$PORT/nuvex-link/veyra/dataset/diff?token=$TOKEN"
for _ in $(seq 100); do
  curl -sf -o /dev/null "http://127.0.0.1:$PORT/nuvex-link/server/info?token=$TOKEN" && break
  sleep 0.1
done

# Check the answer once: eight datasets, 3,000 changes each.
curl -sf --max-time 120 "$URL" | /usr/bin/python3 -c '
import json, sys
d = json.load(sys.stdin)["datasets"]
print("datasets:", len(d), "changes:", [len(x["changes"]) for x in d])
assert len(d) == 8 and all(len(x["changes"]) == 3000 for x in d)'

R="rsync -aui --dry-run --delete --exclude=.nuvex-link-logs --exclude=.ipynb_checkpoints"
S=$WORK/root/dataset-staged; D=$WORK/root/dataset
PAR8="for i in 0 1 2 3 4 5 6 7; do $R $S/set_\$i/ $D/set_\$i//latest/ >/dev/null & done; wait"
/usr/bin/python3 "$BASELINES/rr_time.py" -n "$ROUNDS" -w 1 -- \
  shell_par8 "timeout 120 sh -c '$PAR8'" \
  server_diff "curl -sf --max-time 120 -o /dev/null '$URL'"
