#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the unit tests,
# the same tests under the sanitizers, and each fuzz target for a short time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build
passed=0

# Runs CTest in a build folder, echoing its output and adding its count of
# passed tests; stops the whole run on any failure.
run_ctest() {
  local dir=$1 log=build/ctest-$(basename "$1").log
  shift
  (cd "$dir" && "$@" ctest --output-on-failure -j "$(nproc)") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  [ "$rc" -eq 0 ] || { echo "tests: FAILED in $dir"; exit 1; }
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${n:-0}))
}

echo "== release build and tests"
bash scripts/build.sh release
run_ctest build/release env

echo "== sanitizer build and tests"
bash scripts/build.sh asan
run_ctest build/asan env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== fuzz targets"
bash scripts/build.sh fuzz
bash scripts/fuzz.sh | tee build/fuzz.log
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "tests: FAILED in fuzzing"; exit 1; }
fuzzed=$(sed -n 's/^fuzz: \([0-9]*\) passed.*/\1/p' build/fuzz.log)
passed=$((passed + ${fuzzed:-0}))

echo "tests: $passed passed, 0 failed"
