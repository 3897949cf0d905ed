#!/usr/bin/env bash
# Configures, builds and runs every test suite, stopping at the first failure. Each test runs
# in the stage where it catches most (docs/TESTING.md says what runs where and why):
#   layers   protocol/, engine/, midi/ and sim/ include nothing above them (tools/check-layers.sh)
#   format   every C++ source as .clang-format lays it out (tools/check-format.sh)
#   dev      Debug with ASan+UBSan: every test of the tree (unit suites, the soak, the dialog
#            closed and tq5-updater interrupted at random moments, the JACK tests)
#   tsan     ThreadSanitizer: the tests labelled threads, built alone
#   release  Release: the unit suites, and the programs and benchmarks the later stages use
#   e2e      tq5-updater against tq5-devsim through private jackds (release), in four parts
#   win      mingw-w64 cross build, tests and the dialog window under Wine and Xvfb
#   package  the .deb and the .zip built (tools/package.sh) and checked (tools/package-test.sh)
#   web      the page (emscripten) in headless chromium against its virtual TQ-5
#   guest    in a guest kernel with the real ALSA sequencer (tools/guest/): the ALSA driver,
#            tq5-updater against tq5-devsim, Updater.exe under Wine on WinMM, the page in
#            chromium over Web MIDI (ctest label guest; after win and web, whose builds it runs)
#   fuzz     libFuzzer targets, FUZZ_SECONDS each (default 60), one at a time
# Two stages spend most of their time waiting with a core to spare: the end-to-end runs wait
# out the product's own time-outs, and the guest's emulation keeps one core busy. Beside them,
# at the lowest priority (nice 19, which takes only what they leave), go the Windows and web
# builds (beside e2e) and the fuzzers (beside guest); the stages win, web and fuzz then wait
# for them, and their times here are what they took beyond.
# Each stage prints how long it took; the end lists them all (also after a failure).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
passed=0
stage=""
started=0
times=()

begin() {  # begin NAME WHAT
  stage=$1
  started=$SECONDS
  echo "=== $1: $2"
}
done_stage() {
  local took=$((SECONDS - started))
  times+=("$(printf '%-8s %5d s' "$stage" "$took")")
  echo "=== $stage: passed in $took s"
  passed=$((passed + 1))
  stage=""
}
print_times() {
  [ ${#times[@]} -eq 0 ] || printf 'stage times:\n%s\n' "$(printf '  %s\n' "${times[@]}")"
}

# beside NAME COMMAND...: COMMAND in the background at the lowest priority, in a process
# group of its own, its output in build/NAME.log; await NAME waits for it, prints that output
# and fails when it failed. What is left of it when the stage that needs it begins goes on at
# normal priority: beside a busy machine's other work a nice-19 build barely moves. (Raising
# a priority needs root, as CI runs; elsewhere it goes on at the lowest.)
declare -A beside_pids=()
beside() {
  local name=$1
  shift
  echo "=== $stage: $name goes on beside it at the lowest priority (build/$name.log)"
  nice -n 19 setsid "$@" >"build/$name.log" 2>&1 &
  beside_pids[$name]=$!
}
await() {
  local name=$1 rc=0
  renice -n 0 -g "${beside_pids[$name]}" >/dev/null 2>&1 || true
  wait "${beside_pids[$name]}" || rc=$?
  unset "beside_pids[$name]"
  cat "build/$name.log"
  return "$rc"
}

# After a failure (set -e ends the script inside a stage): what still runs beside is ended by
# its pid; the times so far, and which stage failed.
on_exit() {
  local rc=$?
  for pid in "${beside_pids[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
  if [ -n "$stage" ]; then
    print_times
    echo "=== $stage: FAILED after $((SECONDS - started)) s"
    echo "suites: ${passed} passed, 1 failed"
  fi
  exit "$rc"
}
trap on_exit EXIT
trap 'exit 130' INT TERM
mkdir -p build

# configure, build and test one preset; the build preset chooses what is built.
preset() {  # preset NAME
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}

begin layers "the includes of protocol/, engine/, midi/ and sim/"
bash tools/check-layers.sh
done_stage

begin format "clang-format --dry-run --Werror over the tree"
bash tools/check-format.sh
done_stage

begin dev "ASan+UBSan: every test (the soak, the random closes and the JACK tests included)"
preset dev
done_stage

begin tsan "ThreadSanitizer: the tests labelled threads"
preset tsan
done_stage

begin release "Release: the unit suites; the programs and benchmarks for the later stages"
preset release
done_stage

begin e2e "tq5-updater against tq5-devsim through private jackds"
beside win-web-build bash -c 'bash tools/win-test.sh --build-only && bash tools/web-test.sh --build-only'
bash tools/e2e-jack.sh build/release
done_stage

begin win "cross build and Wine"
await win-web-build
bash tools/win-test.sh
done_stage

begin package "build the .deb and the .zip, then check them"
bash tools/package.sh
bash tools/package-test.sh
done_stage

begin web "the page in headless chromium"
bash tools/web-test.sh
done_stage

begin guest "the ALSA sequencer, Updater.exe's WinMM and the page's Web MIDI in a guest kernel"
beside fuzz env FUZZ_JOBS=1 bash tools/fuzz.sh
ctest --preset guest
done_stage

begin fuzz "the libFuzzer targets (started beside the guest stage)"
await fuzz
done_stage

print_times
echo "=== all test suites passed in $SECONDS s"
echo "suites: ${passed} passed, 0 failed"
