# Sourced by measure-ratio and measure-host-ratio, which differ only in the
# drive and the reference tool. measure_pairs <drive path> <reference name>
# <reference command...>: the headless run of each diskopt build named in
# the array `binaries` on the drive (as D:) against the reference command,
# as whole processes, alternating, PAIRS rounds (5 unless set in the
# environment). Prints each run, the medians of wall time and of CPU time
# (user + system), each build's ratios to the reference, and peak memory.
# Each diskopt run starts in a fresh scratch working folder (its logs land
# there). With COLD set, every run (the reference's too) starts with the
# page cache dropped, as after a boot (needs root).

# Runs a command under /usr/bin/time; appends "wall peak_KiB cpu" to $1.
# Wall time is taken to the microsecond around the run (time's own is in
# hundredths); CPU time is time's.
timed() {
  local out=$1
  shift
  if [ -n "${COLD:-}" ]; then
    sync
    echo 3 >/proc/sys/vm/drop_caches
  fi
  local start=$EPOCHREALTIME
  /usr/bin/time -f "%M %U %S" -o "$scratch/time" "$@" >/dev/null 2>&1
  local end=$EPOCHREALTIME
  awk -v wall="$(awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f", e - s}')" \
    '{printf "%s %s %.2f\n", wall, $1, $2 + $3}' "$scratch/time" >>"$out"
}

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
column() { cut -d' ' -f"$1" "$scratch/$2.txt"; }
report() {
  echo "$2: wall s $(column 1 "$1" | tr '\n' ' '); cpu s $(column 3 "$1" | tr '\n' ' ')"
  echo "$2: median wall $(column 1 "$1" | median) s, cpu $(column 3 "$1" | median) s," \
    "peak $(($(column 2 "$1" | median) / 1024)) MiB"
}
ratio() {
  awk -v d="$(column "$2" "$1" | median)" -v n="$(column "$2" reference | median)" \
    'BEGIN {printf "%.2f", d / n}'
}

measure_pairs() {
  local drive=$1 name=$2
  shift 2
  local pairs=${PAIRS:-5}
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  for ((i = 1; i <= pairs; i++)); do
    for ((b = 0; b < ${#binaries[@]}; b++)); do
      local run="$scratch/run$i-$b"
      mkdir "$run"
      (cd "$run" && DISKOPT_DRIVE_D="$drive" QT_QPA_PLATFORM=offscreen \
        timed "$scratch/diskopt$b.txt" "${binaries[$b]}" D)
      rm -rf "$run"
    done
    timed "$scratch/reference.txt" "$@"
  done
  report reference "$name"
  for ((b = 0; b < ${#binaries[@]}; b++)); do
    report "diskopt$b" "${binaries[$b]}"
    echo "${binaries[$b]} / $name: wall $(ratio "diskopt$b" 1), cpu $(ratio "diskopt$b" 3)"
  done
}
