#!/usr/bin/env bash
# Builds and runs the whole test suite: the native debug build, the same
# tests under ASan+UBSan, and the 32-bit Windows cross build when its
# toolchain is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

run_preset() {
  local preset=$1
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
}

run_preset debug
run_preset asan

if command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "== mingw-i686"
  cmake --preset mingw-i686 >/dev/null
  cmake --build --preset mingw-i686 -j "$jobs"
else
  echo "== mingw-i686 skipped: i686-w64-mingw32-g++ is not installed (run tools/setup.sh)"
fi
