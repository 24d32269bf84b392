#!/usr/bin/env bash
# Runs every test program of an ordinary build once under valgrind memcheck:
# any invalid access, use of an uninitialised value or definite/indirect leak
# fails the run. Programs run whole (not test by test) to keep the time down,
# two at a time. hostile_memory_test is left out: it replaces operator new to
# meter the heap, which memcheck's own allocator replacement cannot share.
#
#   scripts/memcheck.sh [build folder]     default: build (made by scripts/setup.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}

if ! command -v valgrind >/dev/null; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends valgrind
fi
cmake --build "$BUILD" -j"$(nproc)"

LOGS="$BUILD/memcheck"
rm -rf "$LOGS" && mkdir -p "$LOGS"
mapfile -t programs < <(find "$BUILD/tests" -maxdepth 2 -type f -executable \
                          \( -name '*_test' -o -name 'fuzz_replay_*' \) ! -name hostile_memory_test | sort)
corpus=tests/fuzz/corpus
regressions=tests/fuzz/regressions

run_one() {
  local program=$1 name args=()
  name=$(basename "$program")
  case "$name" in
    fuzz_replay_*) args=("$corpus/${name#fuzz_replay_}" "$regressions/${name#fuzz_replay_}") ;;
  esac
  if valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
       --show-leak-kinds=definite,indirect --track-origins=yes --log-file="$LOGS/$name.valgrind" \
       "$program" "${args[@]}" >"$LOGS/$name.out" 2>&1; then
    echo "clean   $name"
  else
    echo "FAILED  $name (see $LOGS/$name.valgrind and .out)"
    return 1
  fi
}
export -f run_one
export LOGS corpus regressions

start=$(date +%s)
status=0
printf '%s\n' "${programs[@]}" | xargs -P "$(nproc)" -I{} bash -c 'run_one {}' || status=1
echo "memcheck: ${#programs[@]} programs in $(( $(date +%s) - start )) s"
exit "$status"
