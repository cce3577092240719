#!/usr/bin/env bash
# Writes a target's seed corpus afresh and runs every seed through it once.
set -euo pipefail
seeds=$1 dir=$2
rm -rf "$dir" && mkdir -p "$dir"
"$seeds" --write "$dir"
"$seeds" "$dir"
