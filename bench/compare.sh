#!/usr/bin/env bash
# Runs every comparison of Skinwork with the programs users would pick
# instead and prints a table of ratios with the machine's load:
#   - the sample-actor scene at 640 x 480 with 3 lights: SoftRnd's frame rate
#     over llvmpipe's (bin/glscene, OpenGL ES through EGL), both using every
#     core;
#   - palette export of 1024 x 1024 photographs: the skin writer's time over
#     ImageMagick's and its mean squared error over pngquant's
#     (bench/quantize.sh, single-threaded);
#   - actor loading from memory over a memcpy of the file's bytes, for the
#     sample actor and the 50,000-triangle actor (CPU time).
#   - the window's idle cost: Skinwork left alone on the sample actor for
#     20 s in a virtual X server (bench/idle_cpu.sh), in % of one core.
# Installs what it needs (bench/setup.sh) and builds the release tree first.
# Usage: bash bench/compare.sh [--no-setup]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${1:-}" != "--no-setup" ]; then bash bench/setup.sh; fi
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target cvbench skinquant glscene sample_actor skinwork SoftRnd >/dev/null
bin="$root/$build/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# Google Benchmark results as JSON, read with a few lines of Python.
"$bin/cvbench" --benchmark_filter='^BM_SceneSampleActor640x480/3(/|$)|^BM_ActorReadMemory|^BM_ActorFileMemcpy' \
  --benchmark_repetitions=3 --benchmark_format=json >"$work/bench.json" 2>/dev/null
LIBGL_ALWAYS_SOFTWARE=1 "$bin/glscene" --seconds 5 >"$work/gl.txt"
bash bench/quantize.sh "$bin" "$work/photos" >"$work/photos.txt"
bash bench/idle_cpu.sh "$bin" 20 >"$work/idle.txt"

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

python3 - "$work" "$load_before" "$load_after" "$(nproc)" <<'PY'
import json, sys, statistics
work, before, after, cores = sys.argv[1:]
runs = json.load(open(f"{work}/bench.json"))["benchmarks"]
def median(name, key):
    # Names may carry a suffix such as "/real_time".
    values = [b[key] for b in runs if b.get("run_type") == "iteration" and
              (b["run_name"] == name or b["run_name"].startswith(name + "/"))]
    return statistics.median(values)
gl = dict(line.split(" ", 1) for line in open(f"{work}/gl.txt").read().splitlines())
rows = []
soft = median("BM_SceneSampleActor640x480/3", "fps")
rows.append(("Scene, sample actor, 3 lights: SoftRnd fps / llvmpipe fps",
             f"{soft:.1f} / {float(gl['fps']):.1f}", soft / float(gl["fps"]), ">= 1.5", soft / float(gl["fps"]) >= 1.5))
photos = {}
for line in open(f"{work}/photos.txt"):
    photo, program, ms, mse = line.split()
    photos.setdefault(photo, {})[program] = (float(ms), float(mse))
for photo, p in photos.items():
    t = p["skinwork"][0] / p["imagemagick"][0]
    rows.append((f"Palette, {photo}: time / ImageMagick's", f"{p['skinwork'][0]:.0f} / {p['imagemagick'][0]:.0f} ms",
                 t, "<= 0.5", t <= 0.5))
    e = p["skinwork"][1] / p["pngquant"][1]
    rows.append((f"Palette, {photo}: MSE / pngquant's (ImageMagick {p['imagemagick'][1]:.1f})",
                 f"{p['skinwork'][1]:.1f} / {p['pngquant'][1]:.1f}", e, "<= 1.0", e <= 1.0))
for arg, label in (("0", "sample actor"), ("1", "50,000 triangles")):
    read = median(f"BM_ActorReadMemory/large:{arg}", "cpu_time")
    copy = median(f"BM_ActorFileMemcpy/large:{arg}", "cpu_time")
    rows.append((f"Actor load, {label}: read / memcpy", f"{read:.3f} / {copy:.3f} ms", read / copy, "<= 2.5",
                 read / copy <= 2.5))
import re
idle = float(re.search(r"= ([0-9.]+)% of one core", open(f"{work}/idle.txt").read()).group(1))
rows.append(("Window idle 20 s, sample actor: % of one core", f"{idle:.2f} %", idle, "< 2", idle < 2))
width = max(len(r[0]) for r in rows)
print(f"{'comparison':<{width}}  {'measured':>22}  {'ratio':>6}  goal    met")
for name, measured, ratio, goal, met in rows:
    print(f"{name:<{width}}  {measured:>22}  {ratio:6.2f}  {goal:<6}  {'yes' if met else 'no'}")
print(f"load average before {before}, after {after} ({cores} cores)")
PY
