#!/usr/bin/env bash
# Peak memory of tq5-updater during a full firmware update (all ten rows):
#
#  1. `tq5-updater --simulate update`: the virtual TQ-5 runs inside the same process, so its
#     4 MiB flash, its copy of the installed images and its transcript count too (/usr/bin/time).
#  2. `tq5-updater --api jack update` against tq5-devsim on a private jackd: the updater alone.
#     /proc/PID/status is sampled every 10 ms. RssAnon + RssFile is the program's own memory
#     (heap, stacks, code and libraries, the embedded images as it reads them); RssShmem is
#     JACK's shared segments, which the server maps into every client; VmHWM counts both.
#
#   bench/update_rss.sh [BUILD_DIR]     (default build/release)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/tq5-rss.XXXXXX")
label=rss
cleanup() {
  if declare -F stop_session >/dev/null; then stop_session; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# shellcheck source=tools/jack-session.sh
source "$root/tools/jack-session.sh"

mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }

peak=$(/usr/bin/time -f "%M" "$updater" --simulate update 2>&1 >/dev/null | tail -n 1)
echo "tq5-updater --simulate update: peak RSS $(mb "$peak") (virtual TQ-5 included)"

start_jackd --sync --timeout 5000 || exit 1
start_devsim rss --boot-version 0.90 || exit 1
"$updater" --api jack --out "$port in" --in "$port out" update >"$work/update.out" 2>&1 &
pid=$!
own=0 anon=0 file=0 shmem=0 hwm=0
while kill -0 "$pid" 2>/dev/null; do
  if sample=$(cat "/proc/$pid/status" 2>/dev/null); then
    read -r a f s h < <(awk '/^RssAnon:/ {a=$2} /^RssFile:/ {f=$2} /^RssShmem:/ {s=$2}
      /^VmHWM:/ {h=$2} END {print a+0, f+0, s+0, h+0}' <<<"$sample")
    [ "$((a + f))" -gt "$own" ] && own=$((a + f)) && anon=$a && file=$f
    [ "$s" -gt "$shmem" ] && shmem=$s
    [ "$h" -gt "$hwm" ] && hwm=$h
  fi
  sleep 0.01
done
wait "$pid"
rc=$?
if [ "$rc" -ne 0 ] || ! grep -q "Version update completed." "$work/update.out"; then
  echo "rss: the update over JACK did not complete:" >&2
  cat "$work/update.out" >&2
  exit 1
fi
echo "tq5-updater --api jack update: peak own memory $(mb "$own") (RssAnon $(mb "$anon")," \
  "RssFile $(mb "$file")); JACK shared memory $(mb "$shmem"); VmHWM $(mb "$hwm")"
