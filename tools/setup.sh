#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
$sudo_cmd dpkg --add-architecture i386
$sudo_cmd apt-get update -q
$sudo_cmd apt-get install -y -q --no-install-recommends \
  cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
  mdbtools python3 time \
  g++-mingw-w64-i686 mingw-w64-i686-dev \
  wine wine32 fonts-wine xvfb xdotool x11-apps imagemagick icoutils
# Node.js may already come with its own npm (it conflicts with Debian's npm).
if ! command -v npm >/dev/null 2>&1; then
  $sudo_cmd apt-get install -y -q --no-install-recommends nodejs npm
fi
(cd tools/readers && npm ci --no-audit --no-fund)
