#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz) and runs each for a bounded time.
#   tests/fuzz/run.sh [seconds per target, default 60] [target ...]
# Each target starts from the seeds in tests/fuzz/corpus/<target>/ plus what earlier runs in
# build/fuzz found. A failing input is saved as build/fuzz/findings/<target>/crash-*; replay it
# with build/fuzz/<target> FILE. Exits non-zero when any target found a fault.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-build/fuzz}

cmake -S tests/fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(find tests/fuzz -maxdepth 1 -name '*_fuzz.cpp' -printf '%f\n' |
    sed 's/\.cpp$//' | sort)
fi

failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  echo "== $target: ${seconds}s"
  dictionary=()
  [ -f "tests/fuzz/$target.dict" ] && dictionary=(-dict="tests/fuzz/$target.dict")
  # -timeout and -rss_limit_mb turn a hang or a memory blow-up into a finding too.
  if ! "$build/$target" "$corpus" "tests/fuzz/corpus/$target" "${dictionary[@]}" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="$findings/" -print_final_stats=1 2>"$build/$target.log"; then
    failed+=("$target")
    tail -n 40 "$build/$target.log"
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz findings in: ${failed[*]} (inputs under $build/findings/)" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no findings"
