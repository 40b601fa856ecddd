#!/usr/bin/env bash
# End-to-end scenarios: the real Windows program under Wine on an X server,
# driven with the real mouse and keyboard the way an operator uses it.
# Usage: scenarios.sh NAME   (CTest runs one scenario per test)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

# Types a path into the path box and presses Compact Database.
enter_path_and_compact() {
  local path=$1 xy
  xy=$(control_centre "$main_title" Edit "")
  type_at "$main_title" ${xy% *} ${xy#* } "$path"
  xy=$(control_centre "$main_title" Button "Compact Database")
  click_at "$main_title" ${xy% *} ${xy#* }
}

press_ok() { driver press "$1" OK; driver gone "$1" 30 || fail "box $1 did not close"; }

# Fails unless the main window's control of that class and caption (any
# caption when empty) has the focus within three seconds (a Tab just sent
# may still be on its way).
focus_on() {
  local try
  for try in $(seq 30); do
    driver texts "$main_title" | awk -F'|' -v c="$1" -v t="$2" '
      $1 == c && (t == "" || $2 == t) && $4 ~ /focus/ { found = 1 } END { exit !found }' &&
      return 0
    sleep 0.1
  done
  fail "the focus is not on $1 $2"
}

same_content() {
  diff <(tables_dump "$1") <(tables_dump "$2") >"$work/content.diff" ||
    fail "content differs (see $work/content.diff)"
}

# The window as it opens on a screen of the given DPI (the prefix's
# LogPixels): every control and caption there, the captions whole, the
# geometry scaled from twips at that DPI. Screenshot under the given name.
start_at_dpi() {
  local name=$1 shot=$2 dpi=$3
  start_session "$name"
  if [ "$dpi" != 96 ]; then
    "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
      >>"$work/wineboot.log" 2>&1 || fail "could not set the screen's DPI to $dpi"
  fi
  # OLE traced: the system's folder dialog needs it started on the program's
  # thread, before the window, and the program ends it at exit.
  WINEDEBUG=+ole start_app
  local listing
  listing=$(driver texts "$main_title")
  echo "$listing"
  grep -q '^Static|Select path for database: |' <<<"$listing" || fail "label missing"
  grep -q '^Edit||.*focus' <<<"$listing" || fail "empty path box with the focus missing"
  grep -q '^Button|Browse|' <<<"$listing" || fail "Browse missing"
  grep -q '^Button|Compact Database|' <<<"$listing" || fail "Compact Database missing"
  grep -q '^Button|Cancel|' <<<"$listing" || fail "Cancel missing"
  grep -q '^Button|Server (qvd.mdb)|.*checked' <<<"$listing" || fail "server option not selected"
  grep -q '^Button|Client (backup.mdb)|' <<<"$listing" || fail "client option missing"
  caption_whole "$main_title" Static "Select path for database: "
  caption_whole "$main_title" Button "Server (qvd.mdb)"
  caption_whole "$main_title" Button "Client (backup.mdb)"
  # Compact Database is 2415 x 495 twips; a window that ignores the DPI keeps
  # its 96-DPI size of 161 x 33.
  local size
  size=$(awk -F'|' '$1 == "Button" && $2 == "Compact Database" { split($3, r, ","); print r[3] "x" r[4] }' \
    <<<"$listing")
  [ "$size" = "$(((2415 * dpi + 720) / 1440))x$(((495 * dpi + 720) / 1440))" ] ||
    fail "Compact Database is $size pixels at $dpi DPI"
  screenshot "$shot"
  driver press "$main_title" Cancel
  driver gone "$main_title" 30 || fail "Cancel did not end the program"
  wait "$app_pid" 2>/dev/null
  grep -q 'trace:ole:OleInitialize' "$work/app.log" || fail "the program did not start OLE"
  grep -q 'trace:ole:OleUninitialize' "$work/app.log" || fail "the program did not end OLE"
}

scenario_start() { start_at_dpi start 1-start 96; }
# A desk at 150 %.
scenario_start_144dpi() { start_at_dpi start_144dpi 1-start-144dpi 144; }

scenario_compact() {
  start_session compact
  local db="$data/qvd.mdb"
  sample_database "$db"
  cp "$db" "$work/original.mdb"
  start_app
  enter_path_and_compact "$(winpath "$db")"
  local text
  text=$(box_text Tessmark)
  screenshot 2-completed
  [ "$text" = "Compact Database Operation Completed" ] || fail "box says: $text"
  press_ok Tessmark
  driver gone "$main_title" 30 || fail "the program did not end after the completion box"
  [ ! -e "$data/qvd1.mdb" ] || fail "temporary file left behind"
  local before after
  before=$(stat -c %s "$work/original.mdb")
  after=$(stat -c %s "$db")
  echo "size $before -> $after"
  [ "$after" -lt "$before" ] || fail "not smaller"
  "$E2E_CLI" check "$db" || fail "compacted file does not check clean"
  same_content "$work/original.mdb" "$db"
  if [ -f "$E2E_READERS/node_modules/mdb-reader/package.json" ]; then
    local t
    for t in $(mdb-tables -1 "$db"); do
      diff <(node "$E2E_READERS/dump-table.js" "$work/original.mdb" "$t" | sort) \
        <(node "$E2E_READERS/dump-table.js" "$db" "$t" | sort) >>"$work/mdb-reader.diff" ||
        fail "mdb-reader sees different content in $t"
    done
  else
    echo "note: mdb-reader is not installed (npm ci in tools/readers); its cross-check is skipped"
  fi
}

scenario_missing() {
  start_session missing
  start_app
  enter_path_and_compact 'C:\nowhere\qvd.mdb'
  local text
  text=$(box_text Tessmark)
  screenshot 3-invalid-entry
  [ "$text" = "Invalid entry. Please enter the Complete path for the catalog." ] ||
    fail "box says: $text"
  press_ok Tessmark
  driver wait "$main_title" 5 || fail "the program ended"
  driver press "$main_title" Cancel
}

scenario_in_use() {
  start_session in-use
  local db="$data/qvd.mdb"
  sample_database "$db"
  local sum
  sum=$(md5sum <"$db")
  ("$WINE" "$work/wine_driver.exe" hold "$(winpath "$db")" 120 >"$work/hold.log" 2>&1 &)
  for _ in $(seq 100); do grep -q holding "$work/hold.log" 2>/dev/null && break; sleep 0.2; done
  grep -q holding "$work/hold.log" || fail "the helper could not open the database"
  start_app
  enter_path_and_compact "$(winpath "$db")"
  local text
  text=$(box_text RandC)
  screenshot 4-in-use
  [[ $text == "3045 Description: "* ]] || fail "box says: $text"
  press_ok RandC
  driver wait "$main_title" 5 || fail "the program ended"
  [ "$(md5sum <"$db")" = "$sum" ] || fail "the database changed"
  driver press "$main_title" Cancel
}

# Enter and Escape with the focus on each control in turn reach no command:
# no box, no folder dialog, the window stays and the database is untouched.
# Space on Compact Database, reached by Tab, still runs it.
scenario_keys() {
  start_session keys
  local db="$data/qvd.mdb" path sum xy
  sample_database "$db"
  sum=$(md5sum <"$db")
  start_app
  path=$(winpath "$db")
  xy=$(control_centre "$main_title" Edit "")
  type_at "$main_title" ${xy% *} ${xy#* } "$path"
  local control name key windows
  for control in "Edit|" "Button|Browse" "Button|Compact Database" "Button|Cancel" \
    "Button|Server (qvd.mdb)"; do
    name=${control#*|}
    name=${name:-path box}
    for key in Return Escape; do
      focus_on "${control%%|*}" "${control#*|}"
      xdotool key "$key"
      sleep 1
      windows=$(driver windows)
      [ "$windows" = "$main_title" ] ||
        fail "$key on $name: the windows are now: ${windows:-none}"
      [ "$(driver texts "$main_title" | awk -F'|' '$1 == "Edit" { print $2 }')" = "$path" ] ||
        fail "$key on $name changed the path box"
      [ "$(md5sum <"$db")" = "$sum" ] || fail "$key on $name changed the database"
      echo "$key on $name: nothing"
    done
    xdotool key Tab
  done
  focus_on Edit ""
  xdotool key Tab Tab
  focus_on Button "Compact Database"
  xdotool key space
  local text
  text=$(box_text Tessmark)
  [ "$text" = "Compact Database Operation Completed" ] || fail "Space on Compact Database: $text"
  press_ok Tessmark
  driver gone "$main_title" 30 || fail "the program did not end after the completion box"
  [ "$(md5sum <"$db")" != "$sum" ] || fail "Space on Compact Database left the database as it was"
}

scenario_browse() {
  start_session browse
  local db="$data/backup.mdb"
  sample_database "$db"
  cp "$db" "$work/original.mdb"
  start_app
  local xy
  xy=$(control_centre "$main_title" Button "Client (backup.mdb)")
  click_at "$main_title" ${xy% *} ${xy#* }
  xy=$(control_centre "$main_title" Button "Browse")
  click_at "$main_title" ${xy% *} ${xy#* }
  driver wait "Select Catalog" 30 || fail "the folder dialog did not open"
  local rect
  read -r l t r b < <(driver rect "Select Catalog")
  echo "dialog rectangle $l $t $r $b"
  [ $((r - l)) -eq 320 ] && [ $((b - t)) -eq 320 ] || fail "dialog is not 320x320"
  local listing
  listing=$(driver texts "Select Catalog")
  echo "$listing"
  grep -q '^Button|New Folder|' <<<"$listing" || fail "no New Folder button"
  grep -q '^Static|Folder :|' <<<"$listing" || fail "no path box label"
  screenshot 5-browse
  # A drive root typed into the path box, Enter, then OK.
  local box
  xy=$(driver texts "Select Catalog" | awk -F'|' '$1 == "Edit" { split($3, r, ","); print int(r[1] + r[3] / 2), int(r[2] + r[4] / 2) }' | tail -1)
  type_at "Select Catalog" ${xy% *} ${xy#* } 'z:\'
  xdotool key Return
  sleep 1
  driver press "Select Catalog" OK
  driver gone "Select Catalog" 30 || fail "the dialog did not close"
  box=$(driver texts "$main_title" | awk -F'|' '$1 == "Edit" { print $2 }')
  [ "$box" = 'Z:\backup.mdb' ] || fail "after z:\\ the path box holds: $box"
  xy=$(control_centre "$main_title" Button "Browse")
  click_at "$main_title" ${xy% *} ${xy#* }
  driver wait "Select Catalog" 30 || fail "the folder dialog did not open again"
  sleep 1
  # Type the folder's full path into the path box and press Enter, then OK.
  xy=$(driver texts "Select Catalog" | awk -F'|' '$1 == "Edit" { split($3, r, ","); print int(r[1] + r[3] / 2), int(r[2] + r[4] / 2) }' | tail -1)
  type_at "Select Catalog" ${xy% *} ${xy#* } "$(winpath "$data")"
  xdotool key Return
  sleep 1
  screenshot 5-browse-typed
  driver press "Select Catalog" OK
  driver gone "Select Catalog" 30 || fail "the dialog did not close"
  box=$(driver texts "$main_title" | awk -F'|' '$1 == "Edit" { print $2 }')
  [ "$box" = "$(winpath "$data")\\backup.mdb" ] || fail "path box holds: $box"
  xy=$(control_centre "$main_title" Button "Compact Database")
  click_at "$main_title" ${xy% *} ${xy#* }
  [ "$(box_text Tessmark)" = "Compact Database Operation Completed" ] || fail "compaction failed"
  press_ok Tessmark
  same_content "$work/original.mdb" "$db"
}

scenario_new_folder() {
  start_session new-folder
  mkdir -p "$data/catalogs"
  start_app
  local xy
  xy=$(control_centre "$main_title" Edit "")
  type_at "$main_title" ${xy% *} ${xy#* } "$(winpath "$data/catalogs")"
  xy=$(control_centre "$main_title" Button "Browse")
  click_at "$main_title" ${xy% *} ${xy#* }
  driver wait "Select Catalog" 30 || fail "the folder dialog did not open"
  sleep 1
  driver texts "Select Catalog"
  screenshot 6-new-folder-opened
  xy=$(control_centre "Select Catalog" Button "New Folder")
  click_at "Select Catalog" ${xy% *} ${xy#* }
  driver wait "Select Catalog" 30
  # The name entry box carries the picker's title too; it is the one with an OK and a Cancel
  # button and an edit field, in front of the dialog.
  sleep 1
  screenshot 6-new-folder-name
  xdotool type --delay 20 "March"
  xdotool key Return
  for _ in $(seq 50); do [ -d "$data/catalogs/March" ] && break; sleep 0.2; done
  [ -d "$data/catalogs/March" ] || fail "the folder was not created"
  driver wait "Select Catalog" 30 || fail "the dialog did not reopen"
  sleep 1
  local box
  box=$(driver texts "Select Catalog" | awk -F'|' '$1 == "Edit" { print $2 }' | tail -1)
  screenshot 6-new-folder
  [ "$box" = "March" ] || fail "path box shows: $box"
  driver press "Select Catalog" Cancel
  driver gone "Select Catalog" 30
  driver press "$main_title" Cancel
}

# The package an operator takes to a desk, made by tools/package.sh for the
# build Wine runs here, unpacked into the prefix and run from there: the
# command line compacts a generated catalog in place, the window opens.
scenario_package() {
  start_session package
  local arch=${WINE_PRESET#mingw-} name bits
  bits=$([ "$arch" = i686 ] && echo 32 || echo 64)
  name=tessmark-1.0-win$bits
  step "tools/package.sh --arch $arch"
  JOBS=2 bash "$here/../../tools/package.sh" --arch "$arch" >"$work/package.log" 2>&1 ||
    fail "tools/package.sh failed (see $work/package.log)"
  local zip="$here/../../build/package/$name.zip"
  [ "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = \
    "$name/ $name/README.txt $name/tessmark-cli.exe $name/tessmark.exe " ] ||
    fail "the package holds: $(unzip -Z1 "$zip" | tr '\n' ' ')"
  unzip -q "$zip" -d "$WINEPREFIX/drive_c" || fail "could not unpack $zip"
  local dir="$WINEPREFIX/drive_c/$name"
  grep -qv $'\r$' "$dir/README.txt" && fail "README.txt has lines without a Windows line end"
  local exe
  for exe in tessmark.exe tessmark-cli.exe; do
    if command -v wrestool >/dev/null; then
      wrestool -l "$dir/$exe" | grep -q 'type=version' || fail "$exe has no version resource"
    fi
    "${arch}-w64-mingw32-objdump" -t "$dir/$exe" | grep -q '^no symbols' ||
      fail "$exe is not stripped"
  done
  local version
  version=$("$WINE" "$dir/tessmark-cli.exe" --version 2>>"$work/cli.log" | tr -d '\r')
  echo "packaged: $version"
  [ "$version" = "tessmark-cli 1.0.0" ] || fail "tessmark-cli.exe --version says: $version"
  local db="$data/qvd.mdb"
  "$WINE" "$dir/tessmark-cli.exe" generate --kind server --rows 2000 --deleted 40% --seed 7 \
    'C:\Data\qvd.mdb' >>"$work/cli.log" 2>&1 || fail "generate failed (see $work/cli.log)"
  cp "$db" "$work/original.mdb"
  "$WINE" "$dir/tessmark-cli.exe" compact 'C:\Data\qvd.mdb' 2>&1 | tr -d '\r' | tee -a "$work/cli.log"
  [ "${PIPESTATUS[0]}" = 0 ] || fail "the packaged tessmark-cli.exe could not compact"
  [ ! -e "$data/qvd1.mdb" ] || fail "temporary file left behind"
  [ "$(stat -c %s "$db")" -lt "$(stat -c %s "$work/original.mdb")" ] || fail "nothing was reclaimed"
  "$WINE" "$dir/tessmark-cli.exe" check 'C:\Data\qvd.mdb' >>"$work/cli.log" 2>&1 ||
    fail "the compacted catalog does not check clean (see $work/cli.log)"
  same_content "$work/original.mdb" "$db"
  (cd "$dir" && exec "$WINE" "$dir/tessmark.exe" >"$work/app.log" 2>&1) &
  app_pid=$!
  driver wait "$main_title" 60 || fail "the packaged tessmark.exe showed no window"
  screenshot 8-package
  driver press "$main_title" Cancel
  driver gone "$main_title" 30 || fail "Cancel did not end the packaged program"
}

scenario_cancel() {
  start_session cancel
  start_app
  driver settext "$main_title" Edit 0 'C:\windows\win.ini'
  local xy
  xy=$(control_centre "$main_title" Button Cancel)
  click_at "$main_title" ${xy% *} ${xy#* }
  driver gone "$main_title" 30 || fail "Cancel did not end the program"
  screenshot 7-cancel
}

"scenario_${1:?scenario name}"
echo "PASSED: $1"
