# Shared by the scripts that run the Windows program under Wine (tools/run.sh,
# tools/wine/check_picker.sh, tests/e2e): which build runs, with which Wine
# loader, and how a new prefix is prepared. Source it; it sets no options.
#
# The shipped program is the 32-bit build. Wine runs it only where its 32-bit
# loader can start, which needs Wine's 32-bit part and a kernel that runs
# 32-bit programs; elsewhere the same program, built 64-bit, runs under the
# 64-bit loader (wine64) in a 64-bit prefix.

# The ELF class of a file: 1 for 32-bit, 2 for 64-bit, empty for anything else.
wine_elf_class() {
  [ "$(head -c 4 "$1" 2>/dev/null | od -An -c | tr -d ' ')" = "177ELF" ] || return 0
  od -An -tu1 -j4 -N1 "$1" | tr -d ' '
}

# Sets WINE_FOUND to the first loader among the candidates that is an ELF
# program of the given class and starts here. Scripts (Debian's /usr/bin/wine
# picks a loader itself, falling back to wine64 without saying so) are passed
# over; a loader that fails to start is noted in WINE_TRIED with its error.
wine_find_loader() {
  local class=$1 loader error
  shift
  WINE_FOUND=""
  for loader in "$@"; do
    [ -n "$loader" ] && [ -x "$loader" ] || continue
    [ "$(wine_elf_class "$loader")" = "$class" ] || continue
    if error=$("$loader" --version 2>&1); then
      WINE_FOUND=$loader
      return 0
    fi
    # The shell's own words when the kernel refuses the program.
    WINE_TRIED+="${WINE_TRIED:+; }$(head -1 <<<"$error" | sed 's/^.*: line [0-9]*: //')"
  done
  return 1
}

# Chooses the build and the loader. Sets WINE_PRESET (mingw-i686 or
# mingw-x86_64), WINE_BUILD ("32-bit" or "64-bit"), WINE (the loader),
# WINESERVER, WINELOADER and WINEARCH, and returns 0; or returns 1 with the
# reason in WINE_UNAVAILABLE.
wine_choose() {
  local bindir server
  WINE_UNAVAILABLE="" WINE_TRIED=""
  if wine_find_loader 1 /usr/lib/wine/wine "$(command -v wine 2>/dev/null)"; then
    WINE_PRESET=mingw-i686 WINE_BUILD=32-bit WINEARCH=win32
  elif wine_find_loader 2 /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)" \
    "$(command -v wine 2>/dev/null)"; then
    WINE_PRESET=mingw-x86_64 WINE_BUILD=64-bit WINEARCH=win64
  elif [ -n "$WINE_TRIED" ]; then
    WINE_UNAVAILABLE="no Wine loader starts here ($WINE_TRIED)"
    return 1
  else
    WINE_UNAVAILABLE="Wine is not installed (run tools/setup.sh)"
    return 1
  fi
  WINE=$WINE_FOUND
  bindir=$(dirname "$WINE")
  WINESERVER=$(command -v wineserver 2>/dev/null || true)
  for server in "$bindir/wineserver${WINE_BUILD%-bit}" "$bindir/wineserver"; do
    [ -x "$server" ] && [ -n "$(wine_elf_class "$server")" ] && {
      WINESERVER=$server
      break
    }
  done
  # Processes that Wine starts itself (wineboot, services) use the same loader.
  export WINE WINESERVER WINEARCH WINELOADER=$WINE
  return 0
}

# The folder of Wine's own fonts (tahoma.ttf, sserife.fon, ...), if installed.
wine_fonts_dir() {
  local dir
  for dir in /usr/share/wine/fonts /usr/local/share/wine/fonts /opt/wine*/share/wine/fonts; do
    [ -f "$dir/tahoma.ttf" ] && {
      echo "$dir"
      return 0
    }
  done
  return 1
}

# Creates the prefix in WINEPREFIX (nothing when it exists already) and makes
# it like a Windows machine for the program: Wine's own fonts in
# C:\windows\Fonts (the 64-bit loader does not find them where fonts-wine
# puts them, and every face would fall back to a wider one), and windows
# drawn with Wine's own frames, as no window manager runs on a virtual
# screen. Output goes to the log file given. Returns 1 when wineboot fails.
wine_prepare_prefix() {
  local log=$1 fonts
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE" wineboot -i >>"$log" 2>&1 || return 1
  fi
  if fonts=$(wine_fonts_dir); then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp -u "$fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/"
  else
    echo "note: Wine's own fonts are not installed (fonts-wine); captions may be cut off" >&2
  fi
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1 || true
}

# Starts a virtual X server of 1024 x 768 on a free display, logging to the
# file given; sets DISPLAY and XVFB_PID and waits (with xdotool) until it
# answers.
wine_start_xvfb() {
  local log=$1 display
  for display in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
  done
  export DISPLAY=":$display"
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$log" 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do
    xdotool getmouselocation >/dev/null 2>&1 && break
    sleep 0.1
  done
}

# Ends every process of the prefix.
wine_stop() { "${WINESERVER:-wineserver}" -k 2>/dev/null || true; }
