#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a bounded time
# (FUZZ_SECONDS, default 60). Any crash, leak or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target fuzzers
run() {  # run <target> <seed corpus folder>
  local work
  work=$(mktemp -d)
  echo "=== fuzz: $1 for ${seconds}s"
  "build/fuzz/fuzz/$1" -max_total_time="$seconds" -max_len=9000 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$1-" "$work" "fuzz/corpus/$2" 2>&1 | tail -n 12
  local rc=${PIPESTATUS[0]}
  rm -rf "$work"
  return "$rc"
}
run fuzz_dispatcher classifier
run fuzz_unpack unpack
run fuzz_device device
echo "=== fuzz: no findings"
