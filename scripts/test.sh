#!/usr/bin/env bash
# Builds everything and runs every test: the Release build with the unit,
# dialogue, interoperation and window tests, then the Debian packages
# installed and used as a user would (only as root with CI=true, since it
# installs packages and adds a user; elsewhere it says it was not run), the
# unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# every fuzz target for a few seconds (about a minute for all of them
# together), and last the Windows build with its tests under wine
# (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${VLT_JOBS:-2}

# Ninja when it is there; a build folder made earlier keeps its own generator.
generator_for() {
  if [ ! -f "$1/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    echo "-GNinja"
  fi
}

cmake -S . -B build $(generator_for build) -DCMAKE_BUILD_TYPE=Release -DVLT_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# The packages: built, installed with apt, used by a user made for the test,
# purged (tests/package/package_test.py; a no-op unless root with CI=true).
VLT_JOBS="$jobs" python3 tests/package/package_test.py

cmake -S . -B build-asan $(generator_for build-asan) -DCMAKE_BUILD_TYPE=Debug -DVLT_SANITIZE=ON \
      -DVLT_BENCH=OFF -DVLT_WERROR=ON
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -L unit

# A short fuzzing pass (scripts/fuzz.sh runs longer ones); any finding fails.
scripts/fuzz.sh "${VLT_FUZZ_SECONDS:-6}"

# Then the Windows build: cross-compiled with mingw-w64 and its tests run under
# wine. It fails, never skips, when the compilers or wine are missing.
VLT_JOBS="$jobs" scripts/test-windows.sh
