#!/usr/bin/env bash
# Builds the Debian packages vellumtide and vellumtide-gui into build/: a
# Release build installed under /usr (so that the program looks for its
# windows module in /usr/lib/<multiarch>/vellumtide), packed by CPack with the
# dependencies computed by dpkg-shlibdeps, then checked by lintian when it is
# installed.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${VLT_JOBS:-2}
work=build/deb

# Ninja when it is there; a build folder made earlier keeps its own generator.
generator=()
if [ ! -f "$work/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
  generator=(-GNinja)
fi

cmake -S . -B "$work" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DVLT_PACKAGE_DEB=ON -DVLT_TESTS=OFF -DVLT_BENCH=OFF
cmake --build "$work" -j"$jobs"
rm -f build/vellumtide_*.deb build/vellumtide-gui_*.deb
(cd "$work" && cpack -G DEB -B "$PWD/cpack")
mv "$work"/cpack/*.deb build/
ls -l build/*.deb

if command -v lintian >/dev/null 2>&1; then
  lintian --fail-on error --tag-display-limit 0 build/vellumtide_*.deb build/vellumtide-gui_*.deb
else
  echo "lintian is not installed: the packages were not checked"
fi
