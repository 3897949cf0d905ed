#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a bounded time
# (FUZZ_SECONDS, default 60), FUZZ_JOBS of them side by side (default: one per core; each
# fuzzer is one process on one core, so side by side each still gets its FUZZ_SECONDS of a
# core). Any crash, leak or sanitizer report fails the run. Reports come in target order.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
parallel=${FUZZ_JOBS:-$(nproc)}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target fuzzers

# <target> <seed corpus folder under fuzz/corpus>
targets=(
  "fuzz_dispatcher classifier"
  "fuzz_unpack unpack"
  "fuzz_device device"
  "fuzz_sysex_assembler sysex"
)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tq5-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

start() {  # start <index>: the target in the background, its output in $scratch/<index>.log
  local target corpus
  read -r target corpus <<<"${targets[$1]}"
  mkdir -p "$scratch/$1"
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=9000 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$target-" "$scratch/$1" "fuzz/corpus/$corpus" \
    >"$scratch/$1.log" 2>&1 &
  pids[$1]=$!
}
finish() {  # finish <index>: waits for the target and prints its report; 1 on a finding
  local target corpus rc=0
  read -r target corpus <<<"${targets[$1]}"
  wait "${pids[$1]}" || rc=$?
  echo "=== fuzz: $target for ${seconds}s"
  if [ "$rc" -eq 0 ]; then
    # The seed count, the final line and the statistics (runs, speed, corpus size).
    grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+DONE|Done |stat::)' "$scratch/$1.log" || true
  else
    tail -n 80 "$scratch/$1.log"  # the finding: the sanitizer report and the artifact's name
  fi
  return "$rc"
}

pids=()
failed=0
# Interrupted (tools/test-all.sh ends this script by its pid after a failure elsewhere): the
# fuzzers started here end with it.
trap 'for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done; exit 130' INT TERM
for ((first = 0; first < ${#targets[@]}; first += parallel)); do
  last=$((first + parallel < ${#targets[@]} ? first + parallel : ${#targets[@]}))
  for ((i = first; i < last; i++)); do start "$i"; done
  for ((i = first; i < last; i++)); do finish "$i" || failed=$((failed + 1)); done
  [ "$failed" -eq 0 ] || exit 1
done
echo "=== fuzz: no findings"
