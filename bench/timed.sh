# Sourced by the measure-* scripts: one whole-process timing.
# Runs a command under /usr/bin/time; appends "wall peak_KiB cpu" to $1.
# Wall time is taken to the microsecond around the run (time's own is in
# hundredths); CPU time is time's. Uses the caller's $scratch folder.
timed() {
  local out=$1
  shift
  local start=$EPOCHREALTIME
  /usr/bin/time -f "%M %U %S" -o "$scratch/time" "$@" >/dev/null 2>&1
  local end=$EPOCHREALTIME
  awk -v wall="$(awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f", e - s}')" \
    '{printf "%s %s %.2f\n", wall, $1, $2 + $3}' "$scratch/time" >>"$out"
}
