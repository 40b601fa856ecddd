# Shared steps of the end-to-end tests: an X server, a Wine prefix, the
# program under test and the driver that reads its windows.
#
# Environment (set by CTest): E2E_WINDOWS_BUILD (the mingw-i686 build folder),
# E2E_OUTPUT (where screenshots and logs go), E2E_SHARED (../shared),
# E2E_CLI (native tessmark-cli, for checking results).
set -uo pipefail

SKIP=77
main_title="Corvane - Tessmark"

skip() { echo "SKIPPED: $*"; exit "$SKIP"; }
fail() { echo "FAILED: $*"; exit 1; }
step() { echo "-- $*"; }

need_tools() {
  for tool in wine Xvfb xdotool; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (run tools/setup.sh)"
  done
  # Some kernels are built without 32-bit support; Wine's loader is a 32-bit
  # program and cannot start there at all.
  wine --version >/dev/null 2>&1 ||
    skip "wine cannot start on this system (it does not run 32-bit programs)"
  [ -f "$E2E_WINDOWS_BUILD/main_window/tessmark.exe" ] ||
    skip "no Windows build at $E2E_WINDOWS_BUILD (cmake --build --preset mingw-i686)"
  [ -f "$E2E_WINDOWS_BUILD/tests/e2e/driver/wine_driver.exe" ] || skip "wine_driver.exe is not built"
}

# One X server and one Wine prefix per scenario, inside its own output folder,
# so that scenarios cannot disturb each other.
start_session() {
  local name=$1
  need_tools
  work="$E2E_OUTPUT/$name"
  rm -rf "$work"
  mkdir -p "$work"
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
  local display
  for display in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
  done
  export DISPLAY=":$display"
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  trap end_session EXIT
  for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
  step "wine prefix"
  wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot failed (see $work/wineboot.log)"
  # No window manager runs here: let Wine draw the frames and captions itself,
  # so that screenshots show the windows as an operator sees them.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$work/wineboot.log" 2>&1
  # The operator's folder, C:\Data inside the prefix.
  data="$WINEPREFIX/drive_c/Data"
  mkdir -p "$data"
  cp "$E2E_WINDOWS_BUILD/main_window/tessmark.exe" "$E2E_WINDOWS_BUILD/tests/e2e/driver/wine_driver.exe" "$work/"
}

end_session() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}

# The driver writes Windows line ends; the tests want plain ones.
driver() { wine "$work/wine_driver.exe" "$@" 2>>"$work/driver.log" | tr -d "\r"; }

winpath() { winepath -w "$1" 2>/dev/null; }

start_app() {
  (cd "$work" && exec wine "$work/tessmark.exe" >"$work/app.log" 2>&1) &
  app_pid=$!
  driver wait "$main_title" 60 || fail "the main window did not appear"
}

screenshot() {
  local file="$E2E_OUTPUT/$1.png"
  if command -v import >/dev/null && [ -x /usr/bin/import ]; then
    /usr/bin/import -display "$DISPLAY" -window root "$file" 2>/dev/null
  else
    xwd -root -silent -display "$DISPLAY" >"$file.xwd"
  fi
  echo "screenshot: $file"
}

# Clicks with the real mouse at a point given in the window's client pixels.
click_at() {
  local title=$1 x=$2 y=$3 ox oy
  read -r ox oy < <(driver origin "$title") || fail "no window titled $title"
  xdotool mousemove --sync $((ox + x)) $((oy + y)) click 1
}

# Types text with the real keyboard into the control under the given point.
type_at() {
  local title=$1 x=$2 y=$3 text=$4
  click_at "$title" "$x" "$y"
  xdotool key --clearmodifiers ctrl+Home ctrl+shift+End Delete
  xdotool type --delay 20 "$text"
}

# The centre of a child control, in client pixels, from the driver's listing.
control_centre() {
  local title=$1 class=$2 text=$3
  driver texts "$title" | awk -F'|' -v c="$class" -v t="$text" '
    $1 == c && (t == "" || $2 == t) { split($3, r, ","); print int(r[1] + r[3] / 2), int(r[2] + r[4] / 2); exit }'
}

# Waits for a message box with the given title and prints its text.
box_text() {
  local title=$1
  driver wait "$title" 120 || fail "no box titled $title"
  driver texts "$title" | awk -F'|' '$1 == "Static" && $2 != "" { print $2 }'
}

sample_database() {
  local out=$1 src=""
  for f in "$E2E_SHARED/corpus/jet4/testV2000.mdb" "$E2E_SHARED/corpus/jet4/delTestV2000.mdb"; do
    [ -f "$f" ] && { src=$f; break; }
  done
  if [ -n "$src" ]; then
    cp "$src" "$out" && chmod u+w "$out"
  elif "$E2E_CLI" generate --help >/dev/null 2>&1; then
    "$E2E_CLI" generate --kind server --rows 2000 --deleted 40% --seed 7 "$out" >/dev/null
  else
    skip "no sample database: ../shared/corpus is absent and the generator is not built"
  fi
}

tables_dump() {
  local db=$1
  mdb-tables -1 "$db" | sort | while read -r t; do
    echo "== $t"
    mdb-export "$db" "$t" | sort
  done
}
