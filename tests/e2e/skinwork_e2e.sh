#!/usr/bin/env bash
# End-to-end check of the real Skinwork program in a virtual X server,
# driven with xdotool like a user: it starts on the sample actor and shows
# it, a right-button drag in Rotate mode turns it, Help > About opens from
# the keyboard, and File > Exit from the keyboard ends the program cleanly.
#
#   skinwork_e2e.sh BIN_DIR OUT_DIR     (screenshots land in OUT_DIR)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
out=$2
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ -z "${CV_E2E_INNER:-}" ]; then
  for tool in xvfb-run xdotool import convert compare; do
    command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (run scripts/setup.sh)"; exit 1; }
  done
  exec env CV_E2E_INNER=1 xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$@"
fi

work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "e2e: FAILED: $*"; exit 1; }

cp "$bin/sample.act" "$work/sample.act"
# Under the sanitizers, leaks of the system libraries are not the program's.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp"
cd "$work"
export TMPDIR=$work  # its own exchange folder
"$bin/skinwork" --no-logo "$work/sample.act" >"$out/skinwork.log" 2>&1 &
pid=$!

win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Skinwork$' | head -n 1) ||
  fail "the Skinwork window did not appear"
eval "$(xdotool getwindowgeometry --shell "$win")"  # X, Y, WIDTH, HEIGHT
# The view fills the window's left part (the material editor is 300 pixels
# wide on the right); look at a square around its centre.
side=240
cx=$((X + (WIDTH - 320) / 2))
cy=$((Y + HEIGHT / 2))
crop="${side}x${side}+$((cx - side / 2))+$((cy - side / 2))"

# Share of the pixels in the view's centre that are not black background.
lit() { convert "$1" -crop "$crop" +repage -colorspace gray -threshold 6% -format '%[fx:mean]' info:; }
# Waits until the view's centre shows something (the engine starts on the
# first tick, the frames follow).
for _ in $(seq 1 100); do
  import -window root "$out/start.png"
  awk -v v="$(lit "$out/start.png")" 'BEGIN { exit !(v > 0.02) }' && break
  sleep 0.2
done
share=$(lit "$out/start.png")
echo "e2e: actor covers ${share} of the view's centre"
awk -v v="$share" 'BEGIN { exit !(v > 0.02) }' || fail "the actor is not visible in the view"

# Rotate is the starting mode: drag to the right with the right button held.
xdotool mousemove "$cx" "$cy"
sleep 0.3
xdotool mousedown 3
for _ in $(seq 1 12); do
  xdotool mousemove_relative -- 12 0
  sleep 0.05
done
xdotool mouseup 3
sleep 0.5
import -window root "$out/turned.png"
convert "$out/start.png" -crop "$crop" +repage "$work/a.png"
convert "$out/turned.png" -crop "$crop" +repage "$work/b.png"
changed=$(compare -metric AE -fuzz 5% "$work/a.png" "$work/b.png" null: 2>&1 || true)
echo "e2e: the drag changed ${changed} pixels of the view's centre"
awk -v v="$changed" 'BEGIN { exit !(v > 500) }' || fail "the drag did not turn the actor"

# Help > About through the keyboard.
xdotool windowfocus --sync "$win"
xdotool key alt+h
sleep 0.3
xdotool key a
about=$(timeout 20 xdotool search --sync --onlyvisible --name '^About Skinwork$' | head -n 1) ||
  fail "Help > About did not open the About box"
sleep 0.5
import -window root "$out/about.png"
xdotool windowfocus --sync "$about"
xdotool key Return
for _ in $(seq 1 50); do
  xdotool search --onlyvisible --name '^About Skinwork$' >/dev/null || break
  sleep 0.1
done
xdotool search --onlyvisible --name '^About Skinwork$' >/dev/null && fail "the About box did not close"

# File > Exit through the keyboard ends the program with status 0.
xdotool windowfocus --sync "$win"
xdotool key alt+f
sleep 0.3
xdotool key x
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "File > Exit did not end the program"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || { cat "$out/skinwork.log"; fail "the program ended with status $status"; }
echo "e2e: passed (screenshots in $out)"
