#!/usr/bin/env bash
# Packs the Windows build for handing out: build-win/vellumtide-<version>-win64.zip
# holding vellumtide.exe (one self-contained file) and README.md. The version
# is the project version of the CMake build in build-win; the executable comes
# from scripts/test-windows.sh (or the cross build it describes). Nothing is
# built here: a missing executable is an error.
#   scripts/package-windows.sh [BUILD_DIR]     (default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-win}
exe=$build/vellumtide.exe
cache=$build/CMakeCache.txt

if [ ! -f "$exe" ]; then
  echo "package-windows: no $exe; build it first:" >&2
  echo "  cmake -S . -B $build --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release" >&2
  echo "  cmake --build $build -j2 --target vellumtide" >&2
  exit 1
fi
if [ "$(head -c 2 "$exe")" != "MZ" ]; then
  echo "package-windows: $exe is not a Windows executable" >&2
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$cache" 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "package-windows: no project version in $cache (is $build a CMake build folder?)" >&2
  exit 1
fi

zip=$build/vellumtide-$version-win64.zip
rm -f "$build"/vellumtide-*-win64.zip
# Python's zipfile stores each file under its own name, at the top of the archive.
python3 -m zipfile -c "$zip" "$exe" README.md
python3 -m zipfile -l "$zip"
echo "package-windows: made $zip"
