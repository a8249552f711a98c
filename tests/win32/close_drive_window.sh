#!/usr/bin/env bash
# Runs the Windows program on drive C under the given emulator, waits for its
# drive window by its exact title and closes it with Alt+F4 as a user would.
# Given the window probe as a third argument, it first waits until the
# window's stage label shows "Finished" with no fragment view: under Wine the
# volume bitmap fails, so the worker ends without a map and the program with
# exit code 3 (the drive could not be analysed). Without it, the window is
# closed while the worker may still run: the program ends with 0 when the
# close came first, 3 when the bitmap had already failed. Needs an X display (the tests run under xvfb-run) and
# xdotool.
set -uo pipefail
source "$(dirname "$0")/close_window.sh"
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

if [ -n "$probe" ]; then
  close_window_and_wait "$window" "$pid" "the program" 3
else
  close_window_and_wait "$window" "$pid" "the program" "0 3"
fi
echo "window \"$title\" opened${probe:+, finished} and closed"
