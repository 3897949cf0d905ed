#!/usr/bin/env bash
# Checks the includes of the two bottom layers against the build's dependencies:
#   protocol/  the tree's own protocol/ headers and the C++ standard library, nothing else
#   engine/    engine/, protocol/ and the C++ standard library: no MIDI transport, no
#              application, no simulator, no firmware build, no platform or third-party header
# Every offending include is named with its file and line; the exit status is 1 if there is one.
# Standard library headers are the ones with neither an extension nor a folder (<mutex>, not
# <pthread.h>, <sys/time.h>, <alsa/asoundlib.h> or <RtMidi.h>).
set -euo pipefail
cd "$(dirname "$0")/.."

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
  done < <(find "$layer" -type f \( -name '*.hpp' -o -name '*.cpp' -o -name '*.h' \
              -o -name '*.in' \) | sort)
}

check_layer protocol "protocol/ and the C++ standard library" protocol
check_layer engine "engine/, protocol/ and the C++ standard library" engine protocol

if ((violations > 0)); then
  echo "check-layers: ${violations} include(s) against the layers (docs/ARCHITECTURE.md)" >&2
  exit 1
fi
echo "check-layers: protocol/ and engine/ include only what they may"
