#!/usr/bin/env bash
# Sets up what is missing, builds, and starts Skinwork on the bundled sample actor.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release
if [ ! -x build/release/bin/skinwork ]; then
  echo "run: the Skinwork program is not part of this build yet" >&2
  exit 1
fi
exec build/release/bin/skinwork "$@"
