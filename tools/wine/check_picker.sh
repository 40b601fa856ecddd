#!/bin/bash
# Runs the folder picker over the system's own folder dialog under Wine:
# cross-builds tools/wine/picker_check.cpp and runs it on a virtual screen.
# Needs the mingw-i686 toolchain, wine and xvfb.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$repo/build/wine-check}"
cmake --preset mingw-i686 -S "$repo" -B "$build" > /dev/null
cmake --build "$build" --target picker_wine_check -j2
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG=-all
cd "$build"
timeout 300 xvfb-run -a wine tools_wine/picker_wine_check.exe
