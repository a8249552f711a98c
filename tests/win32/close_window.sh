# Sourced by the window scripts: closes an X window as a user would and waits
# for the process behind it. Without a window manager the window has no frame
# to click, so it gets the keyboard focus and Alt+F4, which the window turns
# into WM_CLOSE. Uses the caller's fail function.

# close_window_and_wait WINDOW PID WHAT [CODES]: fails unless the process ends
# within 10 s with one of the exit codes CODES (blank-separated; default 0).
close_window_and_wait() {
  local window=$1 pid=$2 what=$3 codes=${4:-0} status
  xdotool windowfocus --sync "$window" || fail "cannot focus the window"
  xdotool key alt+F4
  for _ in $(seq 1 40); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.25
  done
  kill -0 "$pid" 2>/dev/null && fail "$what still runs 10 s after its window was closed"
  wait "$pid"
  status=$?
  [[ " $codes " == *" $status "* ]] || fail "$what ended with exit code $status, not $codes"
}
