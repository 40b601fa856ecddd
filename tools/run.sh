#!/usr/bin/env bash
# Builds the command-line engine and shows what it makes of a sample database.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
sample=${1:-}
if [ -z "$sample" ]; then
  for f in ../shared/corpus/jet4/testV2000.mdb; do [ -f "$f" ] && sample=$f; done
fi
if [ -z "$sample" ]; then
  echo "usage: tools/run.sh DATABASE.mdb" >&2
  exit 2
fi
build/release/cli/tessmark-cli info "$sample"
