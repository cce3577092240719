#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the unit tests,
# the same tests under the sanitizers, and each fuzz target for a short time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== release build and tests"
bash scripts/build.sh release
(cd build/release && ctest --output-on-failure -j "$(nproc)")

echo "== sanitizer build and tests"
bash scripts/build.sh asan
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$(nproc)")

echo "== fuzz targets"
bash scripts/build.sh fuzz
bash scripts/fuzz.sh
echo "== all tests passed"
