#!/usr/bin/env bash
# Builds the libFuzzer programs of tests/fuzz with clang (AddressSanitizer,
# UndefinedBehaviorSanitizer, leak checks) into build-fuzz/ and runs each one for
# a bounded time from its committed seed corpus.
#
#   scripts/fuzz.sh [target...]      default: every fuzz_* program
#   FUZZ_SECONDS=60                  time per target
#   FUZZ_BUILD_DIR=build-fuzz        build folder; the growing corpus stays in
#                                    $FUZZ_BUILD_DIR/corpus, crashes in .../artifacts
#
# Any crash, leak, undefined behaviour, allocation above FUZZ_MALLOC_MB or input
# slower than 25 s fails the script. Save the artifact as
# tests/fuzz/regressions/<target>/<name> so that the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${FUZZ_SECONDS:-60}
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
MALLOC_MB=${FUZZ_MALLOC_MB:-64}

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends clang libclang-rt-14-dev llvm
fi

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target velmora_fuzzers

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(find "$BUILD/tests/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -executable -printf '%f\n' |
                         sed 's/^fuzz_//' | sort)
fi

mkdir -p "$BUILD/corpus" "$BUILD/artifacts" "$BUILD/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

summary="$BUILD/fuzz-summary.txt"
printf '%-18s %8s %12s %8s %8s  %s\n' target seconds executions exec/s cov result > "$summary"
failed=0
for t in "${targets[@]}"; do
  program="$BUILD/tests/fuzz/fuzz_$t"
  corpus="$BUILD/corpus/$t"
  mkdir -p "$corpus"
  dict=()
  [ -f "tests/fuzz/dict/$t.dict" ] && dict=(-dict="tests/fuzz/dict/$t.dict")
  log="$BUILD/logs/$t.log"
  echo "== fuzz_$t for ${SECONDS_EACH}s"
  start=$(date +%s)
  result=ok
  "$program" "$corpus" "tests/fuzz/corpus/$t" "${dict[@]}" \
      -max_total_time="$SECONDS_EACH" -timeout=25 -rss_limit_mb=2048 -malloc_limit_mb="$MALLOC_MB" \
      -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$t-" >"$log" 2>&1 || result=FAILED
  elapsed=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  runs=${runs:-0}
  printf '%-18s %8s %12s %8s %8s  %s\n' "$t" "$elapsed" "$runs" "$(( runs / (elapsed > 0 ? elapsed : 1) ))" \
         "${cov:-?}" "$result" >> "$summary"
  if [ "$result" != ok ]; then
    failed=1
    grep -E 'ERROR|SUMMARY|check failed|runtime error|Test unit written' "$log" | head -20 || true
  fi
done
cat "$summary"
exit "$failed"
