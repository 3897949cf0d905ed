#!/usr/bin/env bash
# Checks that every C++ source of the tree is laid out as .clang-format says (clang-format 14,
# Debian 12's). With --fix, formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.hpp' '*.h')
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
echo "check-format: ${#files[@]} files as .clang-format lays them out"
