#!/usr/bin/env bash
# Cross-builds the Windows build into build-win with the mingw-w64 toolchain
# and runs its tests under wine, in a wine prefix of the build folder's own.
# Fails when the compilers or wine are missing: the Windows tests never skip.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${VLT_JOBS:-2}
build="build-win"
toolchain=cmake/mingw-w64-x86_64.cmake

missing=()
for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix \
            x86_64-w64-mingw32-windres x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "test-windows: missing ${missing[*]} (scripts/install-deps.sh installs them)" >&2
  exit 1
fi
. scripts/wine-env.sh
vlt_wine_missing_tools

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
  generator=(-GNinja)
fi
cmake -S . -B "$build" "${generator[@]}" --toolchain "$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DVLT_WERROR=ON -DVLT_BENCH=OFF
cmake --build "$build" -j"$jobs"

# Every program must run when copied alone: it may import system DLLs only,
# never the compiler's run-time libraries.
status=0
while IFS= read -r -d '' exe; do
  if x86_64-w64-mingw32-objdump -p "$exe" | grep -iE 'DLL Name: *lib(stdc\+\+|gcc|winpthread)' >&2; then
    echo "test-windows: $exe needs the DLLs above beside it" >&2
    status=1
  fi
done < <(find "$build" -name '*.exe' -not -path "$build/wine-prefix/*" -print0)
[ "$status" -eq 0 ] || exit 1

# The window tests draw on a private virtual X server. Wine's desktop takes
# the display it finds when the prefix's server starts, so Xvfb comes first;
# it also ends by itself after an hour.
command -v Xvfb >/dev/null 2>&1 || { echo "test-windows: Xvfb is missing" >&2; exit 1; }
exec {xvfb_fd}<> <(:)
timeout 3600 Xvfb -displayfd "$xvfb_fd" -screen 0 1280x1024x24 -nolisten tcp -noreset \
  >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 20 -u "$xvfb_fd" display_number || { echo "test-windows: Xvfb did not start" >&2; exit 1; }
exec {xvfb_fd}<&-
export DISPLAY=":$display_number"

vlt_wine_start "$build"
# The prefix's server first, then the X server it draws on.
trap 'vlt_wine_stop; kill "$xvfb_pid" 2>/dev/null || true' EXIT
vlt_wine_exec ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs"

# The system tests of vellumtide.exe under wine (they need build/vellumtide
# too, for the settings file shared between the two builds).
vlt_wine_exec /usr/bin/python3 tests/system/windows_test.py
vlt_wine_exec /usr/bin/python3 tests/system/windows_gui_test.py
