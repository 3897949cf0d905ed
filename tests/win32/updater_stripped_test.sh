#!/usr/bin/env bash
# The shipped Updater.exe of a release build carries no debug sections and no symbol table.
#
#   updater_stripped_test.sh <objdump> <Updater.exe>
set -euo pipefail

objdump=$1
exe=$2
sections=$("$objdump" -h "$exe")
symbols=$("$objdump" -t "$exe")
status=0
if grep -E '^ +[0-9]+ +\.debug' <<<"$sections"; then
  echo "FAIL: $exe carries the debug sections above"
  status=1
fi
if ! grep -qx 'no symbols' <<<"$symbols"; then
  echo "FAIL: $exe carries a symbol table of $(grep -c '^\[' <<<"$symbols") entries"
  status=1
fi
[ "$status" -ne 0 ] || echo "$exe: no debug sections, no symbols ($(stat -c %s "$exe") bytes)"
exit "$status"
