#!/usr/bin/env bash
# Builds everything, makes a sample server catalog in demo/, and starts the
# Windows program under Wine: on your display when there is one, otherwise on
# a virtual X server, where it saves a screenshot and says where.
#
#   tools/run.sh [DATABASE.mdb]   (default: a generated catalog, demo/Data/qvd.mdb)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target tessmark-cli
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j "$jobs"
cli=$root/build/release/cli/tessmark-cli
exe=$root/build/mingw-i686/main_window/tessmark.exe

export WINEPREFIX=$root/demo/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
data=$WINEPREFIX/drive_c/Data
if ! wine --version >/dev/null 2>&1; then
  # Wine's loader is a 32-bit program; some kernels cannot run those at all.
  echo "Wine cannot start on this system (it does not run 32-bit programs), so the window"
  echo "cannot be shown here. The Windows program is built at $exe."
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
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  echo "Preparing a Wine prefix in demo/wineprefix (once)..."
  wineboot -i >/dev/null 2>&1 || true
fi
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

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:77
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true

echo "Starting Tessmark. The sample database is C:\\Data\\qvd.mdb; type it into the path box,"
echo "or press Browse, and press Compact Database."
if [ -z "$xvfb_pid" ]; then
  wine "$exe"
else
  wine "$exe" &
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
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
fi
