#!/bin/bash
# Runs the folder picker over the system's own folder dialog under Wine:
# builds tools/wine/picker_check.cpp in the Windows build that runs here (the
# 32-bit one where Wine's 32-bit loader starts, the 64-bit one under wine64
# otherwise), runs it on a virtual screen and keeps its screenshots as PNG
# files beside it. Needs that build's MinGW compiler, Wine, Xvfb and xdotool.
# Exits with 77 when it cannot run here, or fails instead when CI is set.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
. "$repo/tools/wine/wine_env.sh"

cannot_run() {
  if [ -n "${CI:-}" ]; then
    echo "FAILED: $* (CI is set: the picker check must run)"
    exit 1
  fi
  echo "SKIPPED: $*"
  exit 77
}

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || cannot_run "$tool is not installed (run tools/setup.sh)"
done
wine_choose || cannot_run "Wine cannot start: $WINE_UNAVAILABLE"
if [ "$WINE_BUILD" = 32-bit ]; then
  compiler=i686-w64-mingw32-g++
  build=${E2E_WINDOWS_BUILD_32:-$repo/build/mingw-i686}
else
  compiler=x86_64-w64-mingw32-g++
  build=${E2E_WINDOWS_BUILD_64:-$repo/build/mingw-x86_64}
fi
build=${BUILD_DIR:-$build}
command -v "$compiler" >/dev/null || cannot_run "$compiler is not installed (run tools/setup.sh)"
echo "build: $WINE_BUILD picker check ($WINE_PRESET, in $build) under $WINE"
cmake --preset "$WINE_PRESET" -S "$repo" -B "$build" >/dev/null
cmake --build "$build" --target picker_wine_check -j2

out="$build/tools_wine"
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_start_xvfb "$out/xvfb.log"
trap 'wine_stop; kill "$XVFB_PID" 2>/dev/null || true' EXIT
wine_prepare_prefix "$out/wineboot.log" ||
  cannot_run "Wine cannot start: wineboot failed ($(tail -1 "$out/wineboot.log"))"
cd "$out"
rm -f picker-*.bmp picker-*.png
status=0
timeout 300 "$WINE" picker_wine_check.exe || status=$?
for shot in picker-*.bmp; do
  [ -f "$shot" ] || continue
  if convert "$shot" "${shot%.bmp}.png" 2>/dev/null; then
    rm -f "$shot"
    shot=${shot%.bmp}.png
  fi
  echo "screenshot: $out/$shot"
done
exit "$status"
