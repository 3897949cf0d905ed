#!/usr/bin/env bash
# Serves the updater's page on this computer: builds it (preset "web") when it is missing,
# then serves the static folder with the headers the page needs, at http://127.0.0.1:8018/
# (Web MIDI wants HTTPS or this computer; open the address in Chrome, Edge or Opera).
#
#   tools/serve-web.sh [--port N] [--test] [--no-isolation-headers]
#
# --test serves the test page instead, whose virtual TQ-5 stands behind fake MIDI ports.
set -euo pipefail
cd "$(dirname "$0")/.."

folder=build/web/site
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --test) folder=build/web/test-site ;;
    --port) args+=(--port "$2"); shift ;;
    --no-isolation-headers) args+=("$1") ;;
    *) echo "serve-web: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

if [ ! -f "$folder/tq5-updater.wasm" ]; then
  echo "serve-web: building the page (preset web)"
  cmake --preset web >/dev/null
  cmake --build --preset web -j 2
fi
exec node tools/serve-web.mjs "${args[@]}" "$folder"
