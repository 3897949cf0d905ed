# Sourced by the window tests: a program under Wine on a virtual desktop in Xvfb, poked and
# read through window_probe.exe, with screenshots. The caller sets `probe_exe` and `out` (the
# screenshot folder), calls rerun_in_xvfb "$@" first and window_test_end last.

# Runs the calling script again inside its own Xvfb server, unless it already is in one.
rerun_in_xvfb() {
  if [ "${TQ5_IN_XVFB:-}" != 1 ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" env TQ5_IN_XVFB=1 bash "$0" "$@"
  fi
}

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
desktop="tq5-window-test-$$"
failures=0
mkdir -p "$out"

# start <program.exe> [arguments...]: on the test's desktop, in the background.
start() { wine explorer "/desktop=$desktop,1024x768" "$@" >/dev/null 2>&1 & }
probe() { wine "$probe_exe" --desktop "$desktop" "$@" 2>/dev/null | tr -d '\r'; }
shot() { import -window root "$out/$1.png"; echo "screenshot: $out/$1.png"; }
# key <title> <key>...: typed on the keyboard with the window in front (enter, esc, tab, space).
key() { probe key "$@"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wait_for() { probe wait "$1" "${2:-60000}" || fail "window '$1' did not appear"; }
wait_gone() { probe wait-gone "$1" "${2:-30000}" || fail "window '$1' did not go away"; }
expect_line() {  # <window title> <regex a line of its dump must match>
  local dump
  dump=$(probe dump "$1")
  grep -Eq -- "$2" <<<"$dump" || { fail "'$1' has no line matching: $2"; echo "$dump"; }
}
# wait_line <title> <regex>: until a line of the window's dump matches, for what a worker's
# call changes a moment later (the focus once the controls come back).
wait_line() {
  local dump i
  for i in $(seq 50); do
    dump=$(probe dump "$1")
    grep -Eq -- "$2" <<<"$dump" && return 0
    sleep 0.1
  done
  fail "'$1' never had a line matching: $2"
  echo "$dump"
}
# expect_centred <title> [<other title>]: the window's middle is within a pixel of the middle
# of its monitor's work area, or of the other window.
expect_centred() {
  local own rect around l t r b L T R B
  own=$(probe dump "$1")
  rect=$(sed -n 's/^rect=\([^ ]*\) workarea=.*$/\1/p' <<<"$own")
  if [ $# -ge 2 ]; then
    around=$(probe dump "$2" | sed -n 's/^rect=\([^ ]*\) workarea=.*$/\1/p')
  else
    around=$(sed -n 's/^rect=[^ ]* workarea=\(.*\)$/\1/p' <<<"$own")
  fi
  IFS=, read -r l t r b <<<"${rect:-0,0,0,0}"
  IFS=, read -r L T R B <<<"${around:-9999,9999,9999,9999}"
  # Sums of both edges: twice the middles, so that no half pixel is rounded away.
  if (((l + r) - (L + R) > 2 || (L + R) - (l + r) > 2 || (t + b) - (T + B) > 2 ||
       (T + B) - (t + b) > 2)); then
    fail "'$1' at ${rect:-?} is not centred on ${2:-its work area} at ${around:-?}"
  fi
}

window_test_end() {  # <test name>
  if [ "$failures" -ne 0 ]; then
    echo "$1: $failures failure(s)"
    exit 1
  fi
  echo "$1: all checks passed"
}
