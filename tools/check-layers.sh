#!/usr/bin/env bash
# Checks the includes of the layers against the build's dependencies:
#   protocol/  the tree's own protocol/ headers and the C++ standard library, nothing else
#   engine/    engine/, protocol/ and the C++ standard library: no MIDI transport, no
#              application, no simulator, no firmware build, no platform or third-party header
#   midi/      nothing from app/, sim/ or firmware/; the drivers (midi/drivers/) nothing from
#              engine/ either: only the ports implement the engine's interfaces
#   sim/       nothing from app/
# Every offending include is named with its file and line; the exit status is 1 if there is one.
# Standard library headers are the ones with neither an extension nor a folder (<mutex>, not
# <pthread.h>, <sys/time.h>, <alsa/asoundlib.h> or <RtMidi.h>).
#
# usage: check-layers.sh [tree]   (the source tree to check; by default this one)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

violations=0

# check_layer <folder> <what it may use, for the message> <allowed quoted prefixes...>
check_layer() {
  local layer=$1 allowed_text=$2
  shift 2
  local -a allowed=("$@")
  local file line text header ok prefix
  while IFS= read -r file; do
    while IFS=: read -r line text; do
      if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]*)\> ]]; then
        header=${BASH_REMATCH[1]}
        if [[ $header == */* || $header == *.* ]]; then
          echo "${file}:${line}: includes <${header}>, not a C++ standard header;" \
            "${layer}/ may use ${allowed_text}" >&2
          violations=$((violations + 1))
        fi
      elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]*)\" ]]; then
        header=${BASH_REMATCH[1]}
        ok=false
        for prefix in "${allowed[@]}"; do
          [[ $header == "$prefix"/* && $header != *..* ]] && ok=true
        done
        # A bare name is a file beside the includer (a generated header is not one).
        if [[ $header != */* && -f "$(dirname "$file")/${header}" ]]; then
          ok=true
        fi
        if [[ $ok == false ]]; then
          echo "${file}:${line}: includes \"${header}\"; ${layer}/ may use ${allowed_text}" >&2
          violations=$((violations + 1))
        fi
      elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include ]]; then
        echo "${file}:${line}: an include this check cannot read: ${text}" >&2
        violations=$((violations + 1))
      fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
  done < <(sources "$layer")
}

# The C and C++ sources and headers under a folder, in order.
sources() {
  find "$1" -type f \( -name '*.hpp' -o -name '*.cpp' -o -name '*.h' -o -name '*.in' \) | sort
}

# check_above <folder> <what it may not use, for the message> <forbidden quoted prefixes...>:
# for the layers that may use platform and third-party headers, only the tree's own layers
# above them are held back.
check_above() {
  local layer=$1 forbidden_text=$2
  shift 2
  local file line text header prefix
  while IFS= read -r file; do
    while IFS=: read -r line text; do
      [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]*)\" ]] || continue
      header=${BASH_REMATCH[1]}
      for prefix in "$@"; do
        if [[ $header == "$prefix"/* ]]; then
          echo "${file}:${line}: includes \"${header}\"; ${layer}/ may use nothing from" \
            "${forbidden_text}" >&2
          violations=$((violations + 1))
        fi
      done
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
  done < <(sources "$layer")
}

check_layer protocol "protocol/ and the C++ standard library" protocol
check_layer engine "engine/, protocol/ and the C++ standard library" engine protocol
check_above midi "app/, sim/ or firmware/" app sim firmware
check_above midi/drivers "engine/ (the ports stand between the drivers and the engine)" engine
check_above sim "app/" app

if ((violations > 0)); then
  echo "check-layers: ${violations} include(s) against the layers (docs/ARCHITECTURE.md)" >&2
  exit 1
fi
echo "check-layers: protocol/, engine/, midi/ and sim/ include only what they may"
