#!/usr/bin/env bash
# Builds the libFuzzer programs of tests/fuzz with clang (AddressSanitizer,
# UndefinedBehaviorSanitizer, leak checks) into build-fuzz/ and runs each one for
# a bounded time from its committed seed corpus.
#
#   scripts/fuzz.sh [target...]      default: every fuzz_* program
#   FUZZ_SECONDS=60                  time per target
#   FUZZ_JOBS=<cores>                targets fuzzed at the same time (each uses one core)
#   FUZZ_BUILD_DIR=build-fuzz        build folder; the growing corpus stays in
#                                    $FUZZ_BUILD_DIR/corpus, crashes in .../artifacts
#
# Any crash, leak, undefined behaviour, allocation above FUZZ_MALLOC_MB or input
# slower than 25 s fails the script. Save the artifact as
# tests/fuzz/regressions/<target>/<name> so that the test suite replays it.
# Ends with a table of the seconds and executions of every target.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${FUZZ_SECONDS:-60}
JOBS=${FUZZ_JOBS:-$(nproc)}
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
MALLOC_MB=${FUZZ_MALLOC_MB:-64}
stage_start=$(date +%s)

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends clang libclang-rt-14-dev llvm
fi

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target velmora_fuzzers
build_seconds=$(( $(date +%s) - stage_start ))

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(find "$BUILD/tests/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -executable -printf '%f\n' |
                         sed 's/^fuzz_//' | sort)
fi

mkdir -p "$BUILD/corpus" "$BUILD/artifacts" "$BUILD/logs"
rm -f "$BUILD"/logs/*.row
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Fuzzes one target and leaves its row of the summary in logs/<target>.row.
fuzz_one() {
  local t=$1
  local program="$BUILD/tests/fuzz/fuzz_$t"
  local corpus="$BUILD/corpus/$t"
  local log="$BUILD/logs/$t.log"
  local dict=()
  mkdir -p "$corpus"
  [ -f "tests/fuzz/dict/$t.dict" ] && dict=(-dict="tests/fuzz/dict/$t.dict")
  echo "== fuzz_$t for ${SECONDS_EACH}s"
  local start result=ok
  start=$(date +%s)
  "$program" "$corpus" "tests/fuzz/corpus/$t" "${dict[@]}" \
      -max_total_time="$SECONDS_EACH" -timeout=25 -rss_limit_mb=2048 -malloc_limit_mb="$MALLOC_MB" \
      -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$t-" >"$log" 2>&1 || result=FAILED
  local elapsed=$(( $(date +%s) - start ))
  # libFuzzer's final statistics; "Done N runs" when they are missing.
  local runs cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$runs" ] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
  runs=${runs:-0}
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  printf '%-18s %8s %12s %8s %8s  %s\n' "$t" "$elapsed" "$runs" "$(( runs / (elapsed > 0 ? elapsed : 1) ))" \
         "${cov:-?}" "$result" > "$BUILD/logs/$t.row"
  if [ "$result" != ok ]; then
    echo "== fuzz_$t FAILED:"
    grep -E 'ERROR|SUMMARY|check failed|runtime error|Test unit written' "$log" | head -20 || true
  fi
}

running=0
for t in "${targets[@]}"; do
  fuzz_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

summary="$BUILD/fuzz-summary.txt"
{
  printf '%-18s %8s %12s %8s %8s  %s\n' target seconds executions exec/s cov result
  for t in "${targets[@]}"; do
    if [ -f "$BUILD/logs/$t.row" ]; then cat "$BUILD/logs/$t.row"; else printf '%-18s %8s\n' "$t" "no result"; fi
  done
  printf 'fuzz stage: %s s (build %s s), %s targets, %s at a time, %s s each, %s cores\n' \
         "$(( $(date +%s) - stage_start ))" "$build_seconds" "${#targets[@]}" "$JOBS" "$SECONDS_EACH" "$(nproc)"
} > "$summary"
cat "$summary"
failed=$(grep -cE ' (FAILED|no result)$' "$summary" || true)
printf 'fuzz: %d passed, %d failed\n' "$(( ${#targets[@]} - failed ))" "$failed"
[ "$failed" -eq 0 ]
