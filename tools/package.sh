#!/usr/bin/env bash
# Makes the package an operator takes to a Windows desk:
# build/package/tessmark-VERSION-win32.zip, holding the stripped programs of
# the 32-bit build (tessmark.exe, tessmark-cli.exe) and README.txt with
# Windows line ends, all in one folder of the same name.
#
# Usage: tools/package.sh [--arch i686|x86_64]
#   --arch x86_64 packages the 64-bit build instead (tessmark-VERSION-win64.zip),
#   for trying the package under wine64 where no 32-bit code runs.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; }
arch=i686
while [ $# -gt 0 ]; do
  case $1 in
  --arch)
    [ $# -ge 2 ] || { usage >&2; exit 2; }
    arch=$2
    shift 2
    ;;
  --arch=*)
    arch=${1#*=}
    shift
    ;;
  -h | --help)
    usage
    exit 0
    ;;
  *)
    echo "package: unknown argument '$1'" >&2
    usage >&2
    exit 2
    ;;
  esac
done
case $arch in
i686) bits=32 ;;
x86_64) bits=64 ;;
*)
  echo "package: --arch must be i686 or x86_64, not '$arch'" >&2
  exit 2
  ;;
esac

preset=mingw-$arch
strip=$arch-w64-mingw32-strip
for tool in "$strip" zip; do
  command -v "$tool" >/dev/null || {
    echo "package: $tool is not installed (run tools/setup.sh)" >&2
    exit 1
  }
done
# "1.0" from the project's version 1.0.0.
version=$(sed -n 's/^project(Tessmark VERSION \([0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no project version in CMakeLists.txt" >&2; exit 1; }

echo "== $preset"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "${JOBS:-$(nproc)}" --target tessmark tessmark-cli

name=tessmark-$version-win$bits
out=build/package
stage=$out/$name
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage"
"$strip" -o "$stage/tessmark.exe" "build/$preset/main_window/tessmark.exe"
"$strip" -o "$stage/tessmark-cli.exe" "build/$preset/cli/tessmark-cli.exe"
sed 's/\r*$/\r/' app/README.txt >"$stage/README.txt"
(cd "$out" && zip -q -r -X "$name.zip" "$name")
echo "package: $out/$name.zip"
unzip -l "$out/$name.zip"
