#!/usr/bin/env bash
# Builds and runs the whole test suite: the 32-bit Windows cross build (its
# program is tested under Wine by the end-to-end tests), the native debug
# build, and the same tests under ASan+UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

if command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "== mingw-i686"
  cmake --preset mingw-i686 >/dev/null
  cmake --build --preset mingw-i686 -j "$jobs"
else
  echo "== mingw-i686 skipped: i686-w64-mingw32-g++ is not installed (run tools/setup.sh)"
fi

for preset in debug asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

# A short fuzzing run of every harness (longer campaigns: tools/fuzz.sh SECONDS).
echo "== fuzz"
bash tools/fuzz.sh "${FUZZ_SECONDS:-60}"
