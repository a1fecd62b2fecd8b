#!/bin/bash
# DAG routes: this server beside the tornado peer and the minimal Beast floor, same wrk
# settings (2 threads, 16 connections), interleaved reps; then websocket fan-out beside the
# tornado fan-out, and resident memory idle and with 1,000 stored 200-component pipelines.
# usage: bench/run_dag_http.sh [REPS=3] [DURATION=15s]   -> bench/work/results/
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
REPS=${1:-3}; DUR=${2:-15s}
BASELINES=${BASELINES:-$root/../shared/bench-baselines}
work=$here/work; base=$work/baselines; results=$work/results
PY=/usr/bin/python3; TOKEN=bench-token
mkdir -p "$base" "$results"
cp -r "$BASELINES"/. "$base"/ && chmod -R u+w "$base"

cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DNUVEX_BUILD_BENCH=ON \
  -DNUVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/bench" -j2 --target nuvex-link-server ws_fanout_tool fixed_answer_tool \
  >/dev/null || exit 1
SERVER=$root/build/bench/nuvex-link-server

cd "$base"
[ -f data/pipeline_200_v2.json ] || $PY gen_pipelines.py >/dev/null
[ -x beast_floor ] || g++ -O2 -std=c++20 beast_floor.cpp -o beast_floor -pthread

# The kernels wrk posts to are running ones, so clean-up keeps their pipelines.
export JUPYTER_RUNTIME_DIR=$work/runtime
rm -rf "$JUPYTER_RUNTIME_DIR"; mkdir -p "$JUPYTER_RUNTIME_DIR"
for k in get10 get200 fanout t0-{0..7} t1-{0..7}; do echo '{}' > "$JUPYTER_RUNTIME_DIR/kernel-$k.json"; done

$PY peer_tornado.py --port 8888 --token $TOKEN > "$results/peer.log" 2>&1 & PEER=$!
./beast_floor 8889 1 > "$results/floor.log" 2>&1 & FLOOR=$!
"$SERVER" --port 8890 --token $TOKEN --temp-dir "$work/temp" --root-dir "$work" --log-level warning \
  > "$results/nuvex.log" 2>&1 & OURS=$!
trap 'kill $PEER $FLOOR $OURS 2>/dev/null' EXIT
sleep 1.5
rss() { awk '/VmRSS/ {print $2}' /proc/$1/status; }
IDLE_KB=$(rss $OURS)

for port in 8888 8890; do
  for n in 10 200; do
    curl -s -o /dev/null -X POST -H "Authorization: token $TOKEN" -H 'Content-Type: application/json' \
      --data-binary @data/pipeline_${n}_v1.json http://127.0.0.1:$port/nuvex-link/kernels/get$n
  done
done

# The floor for GET 200: a server that only writes this server's own answer, as many bytes.
curl -s -H "Authorization: token $TOKEN" -o "$work/get200_answer.json" \
  http://127.0.0.1:8890/nuvex-link/kernels/get200
"$root/build/bench/bench/fixed_answer_tool" 8897 "$work/get200_answer.json" 1 \
  > "$results/fixed_answer.log" 2>&1 & FIXED=$!
trap 'kill $PEER $FLOOR $OURS $FIXED 2>/dev/null' EXIT
sleep 0.5

cpu() { awk '{print $14+$15}' /proc/$1/stat; }
TCK=$(getconf CLK_TCK)
OUT=$results/http.jsonl; : > "$OUT"
run() {  # name pid wrk-args...
  local name=$1 pid=$2; shift 2
  local c0; c0=$(cpu "$pid")
  local line; line=$(timeout 60 wrk -t2 -c16 -d"$DUR" --latency "$@" | grep '^RESULT ' | sed 's/^RESULT //')
  local c1; c1=$(cpu "$pid")
  echo "$line" | $PY -c "import json,sys; d=json.loads(sys.stdin.read()); d.update(name='$name', rep=$rep, server_cpu=round(($c1-$c0)/$TCK/d['duration_s'],3)); print(json.dumps(d))" >> "$OUT"
  tail -1 "$OUT"
}
P10="data/pipeline_10_v1.json data/pipeline_10_v2.json 8 $TOKEN"
P200="data/pipeline_200_v1.json data/pipeline_200_v2.json 8 $TOKEN"
for rep in $(seq 1 "$REPS"); do
  run floor_post10    $FLOOR -s post.lua http://127.0.0.1:8889 -- $P10
  run floor_post200   $FLOOR -s post.lua http://127.0.0.1:8889 -- $P200
  run floor_get200    $FIXED -s get.lua  http://127.0.0.1:8897/nuvex-link/kernels/get200 -- $TOKEN
  run tornado_get200  $PEER  -s get.lua  http://127.0.0.1:8888/nuvex-link/kernels/get200 -- $TOKEN
  run tornado_post10  $PEER  -s post.lua http://127.0.0.1:8888 -- $P10
  run tornado_post200 $PEER  -s post.lua http://127.0.0.1:8888 -- $P200
  run nuvex_get200    $OURS  -s get.lua  http://127.0.0.1:8890/nuvex-link/kernels/get200 -- $TOKEN
  run nuvex_post10    $OURS  -s post.lua http://127.0.0.1:8890 -- $P10
  run nuvex_post200   $OURS  -s post.lua http://127.0.0.1:8890 -- $P200
done
$PY "$here/summarize_dag.py" "$OUT" | tee "$results/http_summary.md"

# Websocket fan-out: 100 connections of one kernel, 3000 relayed messages of about 200 bytes
# posted over 16 connections, as wrk posts.
kill $PEER 2>/dev/null
$PY ws_fanout_server.py 8891 > "$results/ws_server.log" 2>&1 & WS=$!
trap 'kill $PEER $FLOOR $OURS $FIXED $WS 2>/dev/null' EXIT
sleep 1
for rep in $(seq 1 "$REPS"); do
  echo "tornado: $(timeout 180 $PY ws_fanout_client.py 8891 100 3000 120 | tail -1)"
  echo "nuvex:   $(timeout 180 "$root/build/bench/bench/ws_fanout_tool" 8890 $TOKEN 100 3000 120 16)"
done | tee "$results/ws.txt"

# Memory: idle, then with 1,000 kernels' 200-component pipelines stored.
urls=(); for i in $(seq 0 999); do
  echo '{}' > "$JUPYTER_RUNTIME_DIR/kernel-m$i.json"; urls+=(http://127.0.0.1:8890/nuvex-link/kernels/m$i)
done
curl -s -o /dev/null -X POST -H "Authorization: token $TOKEN" -H 'Content-Type: application/json' \
  --data-binary @data/pipeline_200_v1.json "${urls[@]}" > /dev/null
echo "resident memory: idle ${IDLE_KB} KiB, with 1000 pipelines of 200 components $(rss $OURS) KiB" \
  | tee "$results/memory.txt"
