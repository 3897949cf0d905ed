#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a bounded time
# (FUZZ_SECONDS, default 60). Any crash, leak or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target fuzzers
run() {  # run <target> <seed corpus folder>
  local work log rc=0
  work=$(mktemp -d)
  log="$work.log"
  echo "=== fuzz: $1 for ${seconds}s"
  "build/fuzz/fuzz/$1" -max_total_time="$seconds" -max_len=9000 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$1-" "$work" "fuzz/corpus/$2" >"$log" 2>&1 || rc=$?
  if [ "$rc" -eq 0 ]; then
    # The seed count, the final line and the statistics (runs, speed, corpus size).
    grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+DONE|Done |stat::)' "$log" || true
  else
    tail -n 80 "$log"  # the finding: the sanitizer report and the artifact's name
  fi
  rm -rf "$work" "$log"
  return "$rc"
}
run fuzz_dispatcher classifier
run fuzz_unpack unpack
run fuzz_device device
run fuzz_sysex_assembler sysex
echo "=== fuzz: no findings"
