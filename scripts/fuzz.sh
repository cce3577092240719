#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for a bounded time on its
# generated seed corpus. CV_FUZZ_SECONDS sets the time per target (default 15);
# CV_FUZZ_SEED the random seed (default 1, so that a test run explores the same
# inputs every time; set another value, or 0 for a fresh one, to search further).
set -uo pipefail
cd "$(dirname "$0")/.."
secs=${CV_FUZZ_SECONDS:-15}
seed=${CV_FUZZ_SEED:-1}
bin=build/fuzz/bin
passed=0 failed=0
for fuzzer in "$bin"/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer" _fuzz)
  corpus=build/fuzz/corpus/$name
  rm -rf "$corpus" && mkdir -p "$corpus"
  "$bin/${name}_seeds" --write "$corpus" >/dev/null
  # Crash files go to the build folder, not the working directory.
  if "$fuzzer" -artifact_prefix="build/fuzz/$name-" -max_total_time="$secs" -seed="$seed" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
       "$corpus" >"build/fuzz/$name.log" 2>&1; then
    echo "fuzz $name: ok ($(ls "$corpus" | wc -l) corpus files)"
    passed=$((passed + 1))
  else
    echo "fuzz $name: FAILED, log follows"
    # From the first sanitizer or libFuzzer error on: the stack and the input.
    awk '/ERROR:|==[0-9]+==/{p=1} p' "build/fuzz/$name.log" | head -n 80
    ls build/fuzz/"$name"-crash-* build/fuzz/"$name"-leak-* build/fuzz/"$name"-timeout-* 2>/dev/null
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
