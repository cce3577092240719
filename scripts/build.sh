#!/usr/bin/env bash
# Configures and builds one flavour of the tree into build/<flavour>:
#   release  the program, tools, tests and benchmarks
#   asan     the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz     the libFuzzer targets (clang)
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
jobs=${CV_JOBS:-$(nproc)}
case "$flavour" in
  release) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    args=(-DCMAKE_BUILD_TYPE=Debug -DCV_SANITIZE=ON -DCV_BUILD_BENCH=OFF) ;;
  fuzz)    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCV_FUZZ=ON -DBUILD_TESTING=OFF
                 -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
# A compiler cache, when the machine has one, shares objects between builds
# and between checkouts of the same tree.
if command -v ccache >/dev/null 2>&1; then
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
fi
cmake -S . -B "build/$flavour" -G Ninja "${args[@]}" >/dev/null
cmake --build "build/$flavour" -j "$jobs"
