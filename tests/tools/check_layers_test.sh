#!/usr/bin/env bash
# tools/check-layers.sh against a copy of the tree: the copy as it stands passes, and one
# include planted against each layer's rule fails it, naming the planted file. The tree
# itself is never written to.
set -euo pipefail
source_tree=$(cd "$(dirname "$0")/../.." && pwd)
check="${source_tree}/tools/check-layers.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "${work}/tree"
cp -r "${source_tree}"/{protocol,engine,midi,sim} "${work}/tree/"

failures=0
if ! bash "$check" "${work}/tree" >"${work}/out" 2>&1; then
  echo "FAIL: the tree as it stands does not pass:" && cat "${work}/out"
  failures=$((failures + 1))
fi

# <file to plant> <the include in it>
cases=(
  "protocol/planted.hpp|#include \"engine/seams/sysex_output.hpp\""
  "engine/planted.hpp|#include <alsa/asoundlib.h>"
  "engine/state/planted.cpp|#include \"midi/driver.hpp\""
  "midi/planted.hpp|#include \"sim/virtual_device.hpp\""
  "midi/drivers/virtual/planted.cpp|#include \"engine/seams/sysex_output.hpp\""
  "midi/drivers/planted.hpp|#include \"app/preferred_ports.hpp\""
  "sim/planted.hpp|#include \"app/preferred_ports.hpp\""
  "sim/devsim/planted.cpp|  #  include \"app/cli/commands.hpp\""
)
for entry in "${cases[@]}"; do
  file=${entry%%|*}
  include=${entry#*|}
  printf '%s\n' "#pragma once" "$include" >"${work}/tree/${file}"
  if bash "$check" "${work}/tree" >"${work}/out" 2>&1; then
    echo "FAIL: ${file} with ${include} passes"
    failures=$((failures + 1))
  elif ! grep -q "^${file}:2: " "${work}/out"; then
    echo "FAIL: ${file} with ${include} fails without naming it:" && cat "${work}/out"
    failures=$((failures + 1))
  else
    echo "ok: ${file} with ${include} is refused"
  fi
  rm "${work}/tree/${file}"
done
((failures == 0))
