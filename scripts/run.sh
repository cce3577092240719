#!/usr/bin/env bash
# Sets up what is missing, builds, and starts Skinwork on the bundled sample actor.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release
# Without an actor file among the arguments, the bundled sample actor.
file_given=0
for arg in "$@"; do case "$arg" in -*) ;; *) file_given=1 ;; esac; done
if [ "$file_given" -eq 0 ]; then set -- "$@" build/release/bin/sample.act; fi
exec build/release/bin/skinwork "$@"
