# Shared steps of the end-to-end tests: an X server, a Wine prefix, the
# program under test and the driver that reads its windows.
#
# Environment (set by CTest): E2E_WINDOWS_BUILD_32 and E2E_WINDOWS_BUILD_64
# (the mingw-i686 and mingw-x86_64 build folders), E2E_OUTPUT (where
# screenshots and logs go), E2E_SHARED (../shared), E2E_CLI (native
# tessmark-cli, for checking results). With CI set, a scenario that cannot
# run the program fails instead of skipping.
set -uo pipefail

e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$e2e_here/../../tools/wine/wine_env.sh"

SKIP=77
main_title="Corvane - Tessmark"

skip() { echo "SKIPPED: $*"; exit "$SKIP"; }
fail() { echo "FAILED: $*"; exit 1; }
step() { echo "-- $*"; }
# The program cannot be run here: a skip on a developer's machine, a failure in CI.
cannot_run() {
  [ -n "${CI:-}" ] && fail "$* (CI is set: the end-to-end tests must run)"
  skip "$*"
}

# Chooses the build to run (the 32-bit one where Wine's 32-bit loader starts,
# the 64-bit one under wine64 otherwise) and says which.
need_tools() {
  for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || cannot_run "$tool is not installed (run tools/setup.sh)"
  done
  wine_choose || cannot_run "Wine cannot start: $WINE_UNAVAILABLE"
  if [ "$WINE_BUILD" = 32-bit ]; then
    E2E_WINDOWS_BUILD=${E2E_WINDOWS_BUILD_32:-}
  else
    E2E_WINDOWS_BUILD=${E2E_WINDOWS_BUILD_64:-}
  fi
  [ -f "$E2E_WINDOWS_BUILD/main_window/tessmark.exe" ] ||
    cannot_run "no $WINE_BUILD Windows build at $E2E_WINDOWS_BUILD (cmake --build --preset $WINE_PRESET)"
  [ -f "$E2E_WINDOWS_BUILD/tests/e2e/driver/wine_driver.exe" ] ||
    cannot_run "wine_driver.exe is not built in $E2E_WINDOWS_BUILD"
  echo "build: $WINE_BUILD tessmark.exe ($WINE_PRESET) under $WINE"
}

# One X server and one Wine prefix per scenario, inside its own output folder,
# so that scenarios cannot disturb each other.
start_session() {
  local name=$1
  need_tools
  work="$E2E_OUTPUT/$name"
  rm -rf "$work"
  mkdir -p "$work"
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine_start_xvfb "$work/xvfb.log"
  xvfb_pid=$XVFB_PID
  trap end_session EXIT
  step "wine prefix"
  wine_prepare_prefix "$work/wineboot.log" ||
    cannot_run "Wine cannot start: wineboot failed ($(tail -1 "$work/wineboot.log"))"
  # The operator's folder, C:\Data inside the prefix.
  data="$WINEPREFIX/drive_c/Data"
  mkdir -p "$data"
  cp "$E2E_WINDOWS_BUILD/main_window/tessmark.exe" "$E2E_WINDOWS_BUILD/tests/e2e/driver/wine_driver.exe" "$work/"
}

end_session() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null
  wine_stop
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}

# The driver writes Windows line ends; the tests want plain ones.
driver() { "$WINE" "$work/wine_driver.exe" "$@" 2>>"$work/driver.log" | tr -d "\r"; }

winpath() { "$WINE" winepath -w "$1" 2>/dev/null | tr -d "\r"; }

start_app() {
  (cd "$work" && exec "$WINE" "$work/tessmark.exe" >"$work/app.log" 2>&1) &
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

# Fails unless the caption of the child with that class and text shows whole:
# its dark pixels must end short of the control's right and bottom edges (a
# caption cut off by an edge reaches it).
caption_whole() {
  local title=$1 class=$2 text=$3 rect ink w h
  IFS='|' read -r _ _ rect _ ink < <(driver texts "$title" | awk -F'|' -v c="$class" -v t="$text" '
    $1 == c && $2 == t { print; exit }')
  [ -n "${rect:-}" ] || fail "no $class \"$text\" in $title"
  IFS=, read -r _ _ w h <<<"$rect"
  echo "caption \"$text\": reaches ${ink/,/ x } of ${w} x ${h}"
  [ "${ink%,*}" -le $((w - 2)) ] && [ "${ink#*,}" -le $((h - 1)) ] ||
    fail "the caption \"$text\" is cut off (it reaches ${ink/,/ x } of ${w} x ${h})"
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
