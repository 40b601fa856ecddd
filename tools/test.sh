#!/usr/bin/env bash
# Builds and runs the whole test suite: the Windows cross builds (the 32-bit
# program, and the same program 64-bit for machines whose kernel runs no
# 32-bit code; the end-to-end tests run whichever Wine can start), the native
# debug build, and the same tests under ASan+UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== format"
bash tools/format.sh --check

for cross in mingw-i686:i686-w64-mingw32-g++ mingw-x86_64:x86_64-w64-mingw32-g++; do
  preset=${cross%%:*}
  compiler=${cross#*:}
  if command -v "$compiler" >/dev/null 2>&1; then
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
  else
    echo "== $preset skipped: $compiler is not installed (run tools/setup.sh)"
  fi
done

for preset in debug asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [ "$preset" = debug ]; then
    echo "== layering"
    python3 tools/check_layering.py "build/$preset"
  fi
  ctest --preset "$preset" -j "$jobs"
done

# A short fuzzing run of the harnesses (longer campaigns: tools/fuzz.sh SECONDS).
echo "== fuzz"
bash tools/fuzz.sh "${FUZZ_SECONDS:-60}"
