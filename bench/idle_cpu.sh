#!/usr/bin/env bash
# The window's idle cost: starts Skinwork on the sample actor in a virtual X
# server, leaves it alone, and prints the share of one core it used over the
# measuring period (user + system time from /proc/PID/stat).
#
#   bash bench/idle_cpu.sh [BIN_DIR] [SECONDS]
#
# BIN_DIR defaults to build/release/bin, SECONDS to 20. The program first
# gets 5 seconds to start and open the actor, which are not counted.
set -euo pipefail
bin=$(realpath "${1:-build/release/bin}")
seconds=${2:-20}
[ -x "$bin/skinwork" ] && [ -f "$bin/sample.act" ] || {
  echo "idle_cpu: build skinwork and the sample actor first ($bin)" >&2
  exit 2
}
command -v xvfb-run >/dev/null || { echo "idle_cpu: xvfb-run is needed (package xvfb)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/measure.sh" <<'INNER'
set -euo pipefail
bin=$1 seconds=$2 work=$3
# The program's own temporary folder keeps its exchange file away from others'.
TMPDIR=$work "$bin/skinwork" --no-logo "$bin/sample.act" >"$work/log" 2>&1 &
pid=$!
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }  # utime + stime, clock ticks
sleep 5
kill -0 "$pid" 2>/dev/null || { echo "idle_cpu: skinwork ended early:" >&2; cat "$work/log" >&2; exit 1; }
start=$(ticks)
t0=$(date +%s.%N)
sleep "$seconds"
end=$(ticks)
t1=$(date +%s.%N)
kill "$pid"
wait "$pid" 2>/dev/null || true
hz=$(getconf CLK_TCK)
awk -v a="$start" -v b="$end" -v hz="$hz" -v t0="$t0" -v t1="$t1" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
  cpu = (b - a) / hz; wall = t1 - t0
  printf "skinwork idle: %.2f s of CPU in %.1f s = %.2f%% of one core (load average %s)\n", cpu, wall, 100 * cpu / wall, load
}'
INNER
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/measure.sh" "$bin" "$seconds" "$work"
