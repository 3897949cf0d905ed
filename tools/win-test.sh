#!/usr/bin/env bash
# Cross-builds the Windows side (preset "mingw": toolchain cmake/toolchains/mingw-w64-x86_64.cmake)
# and runs its tests under Wine: the portable unit tests, the WinMM and Win32 tests, and the
# window checks under Xvfb (the soak, label soak, runs in preset dev only).
#
#   tools/win-test.sh [--build-only] [build-dir]   (default: build/mingw, the preset's folder)
#
# --build-only stops after the build (tools/test-all.sh builds beside the end-to-end stage).
#
# The Wine prefix (default ~/.wine-tq5, or $WINEPREFIX) is created once and reused.
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
if [ "${1:-}" = --build-only ]; then
  build_only=1
  shift
fi
build_dir=${1:-build/mingw}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-tq5}
export WINEDEBUG=-all
# No Mono or Gecko install prompts: nothing here needs .NET or HTML.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== win: creating Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
[ -f "$WINEPREFIX/system.reg" ] || { echo "win-test: Wine prefix $WINEPREFIX could not be created" >&2; exit 1; }

echo "=== win: configure and build ($build_dir)"
cmake --preset mingw -B "$build_dir" -DTQ5_WINEPREFIX="$WINEPREFIX" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
[ "$build_only" -eq 0 ] || exit 0
echo "=== win: test under Wine"
# One wineserver for the whole suite, started here and ended here by its pid. Without it the
# first test's wine starts the server and Wine's system processes, which inherit that test's
# output and hold it open until the last test ends: CTest then counts the first test as
# running all along and has one slot fewer for the rest. Persistent (-p), the server and its
# system processes (started once below, their output going nowhere) also serve every test
# without starting again.
server_pid=""
stop_server() {
  [ -z "$server_pid" ] && return 0
  kill -TERM "$server_pid" 2>/dev/null || true  # it saves the registry and exits
  wait "$server_pid" 2>/dev/null || true
}
trap stop_server EXIT
wineserver -f -p </dev/null >/dev/null 2>&1 &
server_pid=$!
wine wineboot </dev/null >/dev/null 2>&1 || true
# The soak runs once, in the dev preset (docs/TESTING.md); the preset mingw leaves it out too.
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" -LE soak
echo "=== win: Updater.exe is $build_dir/app/win32/Updater.exe; window screenshots in $build_dir/screenshots"
