#!/usr/bin/env bash
# Photographs a drawn fragment view: runs the unit test program's one
# disabled test, which opens drive D's window over a scripted volume with its
# fragment view drawn and prints where a few cells lie on the screen with
# their colours; takes a picture of the whole X display with ImageMagick's
# import, checks those cells in the picture, closes the window with Alt+F4
# and expects the test to pass. The picture stays at the given path for a
# person to look at. Needs an X display (the tests run under xvfb-run),
# xdotool and ImageMagick.
set -uo pipefail
source "$(dirname "$0")/close_window.sh"
emulator=$1
tests=$2
picture=$3
title='Disk Optimizer: drive D'

if [ -z "${DISPLAY:-}" ]; then
  echo "no X display" >&2
  exit 1
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$emulator" "$tests" --gtest_also_run_disabled_tests \
  --gtest_filter='Win32FragmentViewInDriveWindow.DISABLED_ShowsADrawnViewUntilClosed' >"$log" 2>&1 &
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

rm -f "$picture"
import -window root "$picture" || fail "import could not take the picture"
# Each line "cell X Y RRGGBB": the pixel at X, Y of the screen has that colour.
while read -r _ x y colour; do
  seen=$(stream -map rgb -storage-type char -extract "1x1+$x+$y" "$picture" - | od -An -tx1 | tr -d ' \n')
  [ "$seen" = "$colour" ] || fail "pixel $x,$y of the picture is $seen, not $colour"
done < <(grep '^cell ' "$log" | tr -d '\r')

close_window_and_wait "$window" "$pid" "the test"
echo "fragment view drawn and photographed: $picture"
