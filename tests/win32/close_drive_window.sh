#!/usr/bin/env bash
# Runs the Windows program on drive C under the given emulator, waits for its
# drive window by its exact title, closes it with Alt+F4 as a user would, and
# expects the program to end with exit code 0. Given the window probe as a
# third argument, it first waits until the window's stage label shows
# "Finished" with no fragment view (under Wine the volume bitmap fails, so the
# worker ends without a map); without it, the window is closed while the
# worker may still run. Needs an X display (the tests run under xvfb-run) and
# xdotool.
set -uo pipefail
emulator=$1
program=$2
probe=${3:-}
title='Disk Optimizer: drive C'

if [ -z "${DISPLAY:-}" ]; then
  echo "no X display" >&2
  exit 1
fi

"$emulator" "$program" C &
pid=$!
fail() {
  echo "$1" >&2
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 1
}

# --sync waits until a visible window has exactly this title.
window=$(timeout 20 xdotool search --sync --onlyvisible --name "^${title}\$" | head -n 1)
[ -n "$window" ] || fail "no window titled \"$title\" within 20 s"
[ "$(xdotool getwindowname "$window")" = "$title" ] || fail "wrong title"

if [ -n "$probe" ]; then
  "$emulator" "$probe" "$title" Finished 30 || fail "the stage label did not show Finished"
fi

# Without a window manager the window has no frame to click: give it the
# keyboard focus and press Alt+F4, which the window turns into WM_CLOSE.
xdotool windowfocus --sync "$window" || fail "cannot focus the window"
xdotool key alt+F4

for _ in $(seq 1 40); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.25
done
kill -0 "$pid" 2>/dev/null && fail "the program still runs 10 s after its window was closed"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { echo "exit code $status" >&2; exit 1; }
echo "window \"$title\" opened${probe:+, finished} and closed; exit code 0"
