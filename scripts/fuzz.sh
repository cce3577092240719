#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for a bounded time on its
# generated seed corpus. CV_FUZZ_SECONDS sets the time per target (default 15).
set -uo pipefail
cd "$(dirname "$0")/.."
secs=${CV_FUZZ_SECONDS:-15}
bin=build/fuzz/bin
passed=0 failed=0
for fuzzer in "$bin"/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer" _fuzz)
  corpus=build/fuzz/corpus/$name
  rm -rf "$corpus" && mkdir -p "$corpus"
  "$bin/${name}_seeds" --write "$corpus" >/dev/null
  if "$fuzzer" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
       "$corpus" >"build/fuzz/$name.log" 2>&1; then
    echo "fuzz $name: ok ($(ls "$corpus" | wc -l) corpus files)"
    passed=$((passed + 1))
  else
    echo "fuzz $name: FAILED, log follows"
    tail -n 60 "build/fuzz/$name.log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
