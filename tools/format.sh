#!/usr/bin/env bash
# Formats every C++ source of the tree with clang-format (.clang-format at the
# top). With --check, changes nothing and fails when a file differs, naming it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1) && exit 0
  echo "These sources differ from the house format (bash tools/format.sh fixes them):"
  grep -oE '^[^:]+\.(cpp|h):' <<<"$report" | tr -d : | sort -u | sed 's/^/  /'
  exit 1
else
  clang-format -i "${files[@]}"
fi
