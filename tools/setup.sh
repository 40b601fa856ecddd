#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine.
# Safe to run again; prints little when all is in place already.
#
# A package index that fails to download (a mirror caught mid-sync) does not
# stop the set-up: what was fetched is used. When the install then fails on
# multiarch version skew (amd64 libraries from the security suite, their i386
# twins only in the base suite), it is retried with the release itself as the
# target release.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev libgtest-dev libgmock-dev
  mdbtools python3 time libcli11-dev nlohmann-json3-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64 fonts-wine xvfb xdotool x11-apps imagemagick icoutils zip unzip
)
# Wine's 32-bit half; its loader only runs on kernels that execute 32-bit code,
# but where they do, the shipped 32-bit program is tested as it is.
packages_i386=(wine32:i386)

missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${db:Status-Status}\n' "$p" 2>/dev/null | grep -qx installed || echo "$p"
  done
}

# Installs the given packages; on failure the tail of apt's output is left in
# $apt_log for the caller to show.
apt_log=$(mktemp)
trap 'rm -f "$apt_log"' EXIT
apt_install() {
  local log=$apt_log codename
  if $sudo_cmd apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1; then
    return 0
  fi
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ] &&
    $sudo_cmd apt-get install -y -q --no-install-recommends -t "$codename" "$@" >"$log" 2>&1; then
    echo "setup: installed with target release $codename (the suites' versions differ)"
    return 0
  fi
  return 1
}

updated=""
update_index() {
  [ -n "$updated" ] && return 0
  updated=1
  grep -qx i386 < <(dpkg --print-foreign-architectures) || $sudo_cmd dpkg --add-architecture i386
  local log
  log=$(mktemp)
  if ! $sudo_cmd apt-get update -q >"$log" 2>&1; then
    echo "setup: warning: some package indexes could not be fetched; going on with the rest:" >&2
    grep -E '^(E|W|Err):' "$log" | head -5 >&2 || true
  fi
  rm -f "$log"
}

# One transaction for both halves, so that the i386 libraries and their amd64
# twins are chosen together (multiarch wants equal versions).
mapfile -t need < <(missing "${packages[@]}" "${packages_i386[@]}")
if [ "${#need[@]}" -gt 0 ]; then
  update_index
  echo "setup: installing ${need[*]}"
  if ! apt_install "${need[@]}"; then
    # The 64-bit Wine covers the end-to-end tests where the 32-bit half cannot be had.
    mapfile -t need < <(missing "${packages[@]}")
    echo "setup: warning: ${packages_i386[*]} could not be installed; the 64-bit build runs under wine64 instead" >&2
    if [ "${#need[@]}" -gt 0 ] && ! apt_install "${need[@]}"; then
      tail -20 "$apt_log" >&2
      exit 1
    fi
  fi
fi

# Node.js may already come with its own npm (it conflicts with Debian's npm).
if ! command -v npm >/dev/null 2>&1; then
  update_index
  apt_install nodejs npm || { tail -20 "$apt_log" >&2; exit 1; }
fi
if [ ! -d tools/readers/node_modules/mdb-reader ]; then
  (cd tools/readers && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi
