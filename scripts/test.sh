#!/usr/bin/env bash
# Builds everything and runs every test: the Release build with the unit,
# dialogue, interoperation and window tests, then the unit tests once more
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
jobs=${VLT_JOBS:-2}

cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DVLT_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DVLT_SANITIZE=ON \
      -DVLT_BENCH=OFF -DVLT_WERROR=ON
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -L unit
