#!/usr/bin/env bash
# Builds the program, makes a sample server catalog in a Wine prefix under
# demo/, and starts the Windows program under Wine: the 32-bit build where
# Wine's 32-bit loader starts, the same program built 64-bit under wine64
# otherwise. It shows on your display when there is one; otherwise it runs
# on a virtual X server, saves a screenshot and says where.
#
#   tools/run.sh [DATABASE.mdb]   (default: a generated catalog, C:\Data\qvd.mdb)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
. tools/wine/wine_env.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target tessmark-cli
cli=$root/build/release/cli/tessmark-cli

if ! wine_choose; then
  cmake --preset mingw-i686 >/dev/null
  cmake --build --preset mingw-i686 -j "$jobs"
  echo "Wine cannot start on this system ($WINE_UNAVAILABLE), so the window cannot be"
  echo "shown here. The Windows program is built at build/mingw-i686/main_window/tessmark.exe."
  echo "Compacting a copy of the sample with the same engine, natively, instead:"
  mkdir -p "$root/demo"
  sample=$root/demo/qvd.mdb
  if [ -n "${1:-}" ]; then
    cp "$1" "$sample"
    chmod u+w "$sample"
  else
    rm -f "$sample"
    "$cli" generate --kind server --rows 20000 --deleted 40% --seed 1 "$sample"
  fi
  "$cli" compact "$sample"
  "$cli" info "$sample"
  exit 1
fi
cmake --preset "$WINE_PRESET" >/dev/null
cmake --build --preset "$WINE_PRESET" -j "$jobs"
exe=$root/build/$WINE_PRESET/main_window/tessmark.exe
echo "Running the $WINE_BUILD build ($WINE_PRESET) under $WINE."

export WINEPREFIX=$root/demo/wineprefix-$WINEARCH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  wine_start_xvfb /dev/null
  xvfb_pid=$XVFB_PID
fi
[ -f "$WINEPREFIX/system.reg" ] || echo "Preparing a Wine prefix in demo/${WINEPREFIX##*/} (once)..."
mkdir -p "$root/demo"
wine_prepare_prefix "$root/demo/wineboot.log" || {
  echo "wineboot failed (see demo/wineboot.log)"
  exit 1
}
data=$WINEPREFIX/drive_c/Data
mkdir -p "$data"

sample=$data/qvd.mdb
if [ -n "${1:-}" ]; then
  cp "$1" "$sample"
  chmod u+w "$sample"
elif [ ! -f "$sample" ]; then
  echo "Generating a sample server catalog (C:\\Data\\qvd.mdb)..."
  "$cli" generate --kind server --rows 20000 --deleted 40% --seed 1 "$sample"
fi
"$cli" info "$sample"

echo "Starting Tessmark. The sample database is C:\\Data\\qvd.mdb; type it into the path box,"
echo "or press Browse, and press Compact Database."
if [ -z "$xvfb_pid" ]; then
  "$WINE" "$exe"
else
  "$WINE" "$exe" &
  app=$!
  for _ in $(seq 100); do
    xdotool search --name "Corvane - Tessmark" >/dev/null 2>&1 && break
    sleep 0.2
  done
  sleep 1
  shot=$root/demo/tessmark.png
  /usr/bin/import -display "$DISPLAY" -window root "$shot" 2>/dev/null ||
    xwd -root -silent -display "$DISPLAY" >"${shot%.png}.xwd"
  echo "No display here: the program runs on a virtual X server; screenshot saved to demo/tessmark.png"
  kill "$app" 2>/dev/null || true
  wine_stop
  kill "$xvfb_pid" 2>/dev/null || true
fi
