#!/usr/bin/env bash
# Runs every libFuzzer target (or the ones named) for SECONDS each:
#   scripts/fuzz.sh SECONDS [TARGET...]
# Configures and builds the fuzz build folder build-fuzz first (clang-14,
# AddressSanitizer and UndefinedBehaviorSanitizer). The seeds in
# fuzz/corpus/<target>/ are read only; what the fuzzer finds new goes to
# build-fuzz/corpus/<target>/, and an input that fails is kept in
# build-fuzz/findings/. Any crash, leak, undefined behaviour, failed property,
# input slower than 10 s or single allocation over 64 MB fails the command.
# VLT_FUZZ_PARALLEL=N runs N targets at a time (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
jobs=${VLT_JOBS:-2}
parallel=${VLT_FUZZ_PARALLEL:-1}
build=build-fuzz
cxx=${VLT_FUZZ_CXX:-clang++-14}

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
  generator=(-GNinja)
fi
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" "${generator[@]}" "${launcher[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_BUILD_TYPE= -DVLT_FUZZ=ON -DVLT_TESTS=OFF -DVLT_BENCH=OFF -DVLT_GUI=OFF \
      -DCMAKE_CXX_FLAGS="-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
      >/dev/null
cmake --build "$build" -j"$jobs" --target vlt_fuzzers

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

mkdir -p "$build/logs" "$build/findings" "$build/tmp"

# Runs one target; its output goes to build-fuzz/logs/<target>.log.
run_one() {
  local name=$1
  local corpus="$build/corpus/$name" status
  mkdir -p "$corpus"
  local dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  # The targets that read files keep them under TMPDIR, here inside the build folder.
  TMPDIR="$PWD/$build/tmp" \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/$name" -max_total_time="$seconds" -malloc_limit_mb=64 -rss_limit_mb=4096 \
      -timeout=10 -print_final_stats=1 -artifact_prefix="$build/findings/$name-" \
      "${dict[@]}" "$corpus" "fuzz/corpus/$name" >"$build/logs/$name.log" 2>&1 && status=0 || status=$?
  echo "$status" >"$build/logs/$name.status"
}

# One line per target: the executions and the coverage of its last status line.
summary() {
  local name=$1 status=$2
  local log="$build/logs/$name.log"
  local last runs
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  runs=$(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1 || true)
  if [ "$status" -eq 0 ]; then
    printf '%-18s ok      %s | %s\n' "$name" "$runs" \
      "$(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [^ ]+' || true)"
  else
    printf '%-18s FAILED  (exit %s, log %s)\n' "$name" "$status" "$log"
    grep -E 'ERROR|SUMMARY|fuzz property failed|runtime error|Test unit written' "$log" \
      | head -n 20 | sed 's/^/    /'
  fi
}

failed=0
started=()
for name in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/$name" ]; then
    echo "no fuzz target $name" >&2
    failed=1
    continue
  fi
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  rm -f "$build/logs/$name.status"
  run_one "$name" &
  started+=("$name")
done
wait
for name in "${started[@]}"; do
  status=$(cat "$build/logs/$name.status" 2>/dev/null || echo 1)
  summary "$name" "$status"
  [ "$status" -eq 0 ] || failed=1
done
exit "$failed"
