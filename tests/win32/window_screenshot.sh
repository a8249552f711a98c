#!/usr/bin/env bash
# Photographs a drive window for a person to look at: runs one disabled test
# of the unit test program (one that opens a window, prints "drawn" and keeps
# it open until it is closed), takes a picture of the whole X display with
# ImageMagick's import, then closes the window with Alt+F4. Needs an X
# display (run it under xvfb-run), xdotool and ImageMagick.
#   window_screenshot.sh <emulator> <tests.exe> <test name> <window title> <picture.png>
set -uo pipefail
source "$(dirname "$0")/close_window.sh"
emulator=$1
tests=$2
test_name=$3
title=$4
picture=$5

log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$emulator" "$tests" --gtest_also_run_disabled_tests --gtest_filter="$test_name" >"$log" 2>&1 &
pid=$!
fail() {
  echo "$1" >&2
  cat "$log" >&2
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 1
}
for _ in $(seq 1 120); do
  grep -q '^drawn' "$log" && break
  kill -0 "$pid" 2>/dev/null || fail "the test ended before drawing"
  sleep 0.25
done
grep -q '^drawn' "$log" || fail "nothing drawn within 30 s"
window=$(timeout 10 xdotool search --sync --onlyvisible --name "^${title}\$" | head -n 1)
[ -n "$window" ] || fail "no window titled \"$title\""
sleep 1
import -window root "$picture" || fail "import could not take the picture"
close_window_and_wait "$window" "$pid" "the test"
echo "photographed: $picture"
