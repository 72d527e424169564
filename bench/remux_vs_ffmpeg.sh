#!/usr/bin/env bash
# Times svremux against a plain copy of the title with dd and against ffmpeg's stream copy, on
# the same title, in one run, to three places: /dev/null, a new file on tmpfs (/dev/shm) and a
# new file on the disk (beside the build folder; for information). svremux --ps (the program
# stream) runs beside them to the same places; ffmpeg's program-stream muxer takes no AAC, so
# its transport-stream copy is the peer printed beside it.
#   bench/remux_vs_ffmpeg.sh [-n RUNS] [-b BUILD_DIR] [-d DIGESTS] [TITLE]
# The commands of one place run in turn (svremux, svremux --ps, ffmpeg, dd, svremux, ...) after
# one warm-up each, so a drift in the machine's speed touches all alike. Before each run the
# last output is removed and written data flushed, so that neither truncating nor writing back
# an earlier file is timed. Prints the median wall time of each, its throughput in MB/s of title
# read (1 MB = 10^6 bytes), svremux's time over dd's beside the goal (2.00 to /dev/null, 1.30 to
# tmpfs) and over ffmpeg's, each the median of the run-by-run ratios, and the SHA-256 of svremux's two outputs; with -d, a file of
# "DIGEST  ts" and "DIGEST  ps" lines, a digest that differs fails the run. Without TITLE it
# takes the 10-minute title that build/bench/RemuxBench makes and caches (run that once first).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=5
build=build
digests=
while getopts "n:b:d:h" opt; do
  case "$opt" in
    n) runs="$OPTARG" ;;
    b) build="$OPTARG" ;;
    d) digests="$OPTARG" ;;
    h) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive whole number" >&2; exit 2; }

title=$(bench_title "$build" "${1:-}") || exit 2
svremux="$build/tools/svremux/svremux"
[[ -x "$svremux" ]] || { echo "$svremux is not built" >&2; exit 2; }
for tool in ffmpeg dd awk; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

[[ -z "$digests" || -f "$digests" ]] || { echo "$digests: no such file" >&2; exit 2; }
[[ -d /dev/shm && -w /dev/shm ]] || { echo "/dev/shm is not a writable tmpfs" >&2; exit 2; }

size=$(stat -c %s "$title")
# Outputs go to one folder per place; /dev/null is written as a device, never removed.
work=$(mktemp -d)            # on the disk, in $TMPDIR
shm=$(mktemp -d -p /dev/shm)  # tmpfs
disk=$(mktemp -d -p "$build")
trap 'rm -rf "$work" "$shm" "$disk"' EXIT
dest=

target() { [[ "$dest" == null ]] && echo /dev/null || echo "$dest/$1"; }
run_svremux() { "$svremux" "$title" -o "$(target sv.ts)" 2>"$work/sv.err"; }
run_svremux_ps() { "$svremux" --ps "$title" -o "$(target sv.mpg)" 2>"$work/svps.err"; }
run_ffmpeg() {
  ffmpeg -nostdin -v error -y -i "$title" -map 0 -c copy -f mpegts "$(target ff.ts)" \
    2>"$work/ff.err"
}
run_dd() { dd if="$title" of="$(target dd.ts)" bs=1M 2>"$work/dd.err"; }
output_of() {
  case "$1" in
    run_svremux) target sv.ts ;;
    run_svremux_ps) target sv.mpg ;;
    run_ffmpeg) target ff.ts ;;
    run_dd) target dd.ts ;;
  esac
}
clear_output() {
  local out
  out=$(output_of "$1")
  [[ "$out" == /dev/null ]] || rm -f "$out"
}

# Wall seconds of one run of the function; a failed run stops the script. The output of the
# previous run goes first and the written data is flushed, both outside the timed span, so no
# run pays for truncating or writing back what an earlier one wrote.
time_one() {
  local start end
  clear_output "$1"
  sync
  start=$(date +%s.%N)
  if ! "$1"; then
    echo "$1 failed:" >&2
    cat "$work"/*.err >&2
    exit 1
  fi
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }'
}

median() { bench_median; }

# One line of the table: name, seconds.
report() {
  awk -v name="$1" -v t="$2" -v size="$size" \
    'BEGIN { printf "  %-13s %7.3f s  %8.1f MB/s\n", name, t, size / t / 1e6 }'
}

awk -v title="$title" -v size="$size" -v runs="$runs" \
  'BEGIN { printf "title    %s (%.1f MB), %d runs each, medians\n", title, size / 1e6, runs }'
status=0
for place in null shm disk; do
  case "$place" in
    null) dest=null; label="/dev/null"; goal=2.00 ;;
    shm) dest="$shm"; label="a new file on tmpfs"; goal=1.30 ;;
    disk) dest="$disk"; label="a new file on the disk"; goal= ;;
  esac
  for f in run_svremux run_svremux_ps run_ffmpeg run_dd; do  # warm-up: the title in the cache
    clear_output "$f"
    "$f" >/dev/null || { echo "$f failed:" >&2; cat "$work"/*.err >&2; exit 1; }
  done
  if [[ "$place" == shm ]]; then
    sv_digest=$(sha256sum "$(target sv.ts)" | cut -c1-64)
    ps_digest=$(sha256sum "$(target sv.mpg)" | cut -c1-64)
  fi
  sv_times=() ps_times=() ff_times=() dd_times=()
  for ((i = 0; i < runs; ++i)); do
    sv_times+=("$(time_one run_svremux)")
    ps_times+=("$(time_one run_svremux_ps)")
    ff_times+=("$(time_one run_ffmpeg)")
    dd_times+=("$(time_one run_dd)")
  done
  sv=$(printf '%s\n' "${sv_times[@]}" | median)
  ps=$(printf '%s\n' "${ps_times[@]}" | median)
  ff=$(printf '%s\n' "${ff_times[@]}" | median)
  dd=$(printf '%s\n' "${dd_times[@]}" | median)
  echo "to $label:"
  report svremux "$sv"
  report "svremux --ps" "$ps"
  report ffmpeg "$ff"
  report dd "$dd"
  # Each ratio is the median of the ratios of runs made a moment apart, not of the medians.
  for ((i = 0; i < runs; ++i)); do
    echo "${sv_times[i]} ${ps_times[i]} ${ff_times[i]} ${dd_times[i]}"
  done >"$work/pairs"
  if [[ -n "$goal" ]]; then
    bench_line "svremux, s (peer dd)" "$sv" "$dd" "$(bench_paired_ratio "$work/pairs" 1 4)" s "ratio<=" "$goal"
  else
    bench_line "svremux, s (peer dd)" "$sv" "$dd" "$(bench_paired_ratio "$work/pairs" 1 4)" s - -
  fi
  bench_line "svremux, s (peer ffmpeg)" "$sv" "$ff" "$(bench_paired_ratio "$work/pairs" 1 3)" s - -
  bench_line "svremux --ps, s (peer ffmpeg)" "$ps" "$ff" "$(bench_paired_ratio "$work/pairs" 2 3)" s - -
done
echo "sha256 $sv_digest  svremux"
echo "sha256 $ps_digest  svremux --ps"
if [[ -n "$digests" ]]; then
  want_ts=$(awk '$2 == "ts" { print $1 }' "$digests")
  want_ps=$(awk '$2 == "ps" { print $1 }' "$digests")
  if [[ "$sv_digest" != "$want_ts" || "$ps_digest" != "$want_ps" ]]; then
    echo "outputs differ from the digests in $digests" >&2
    status=1
  else
    echo "outputs match the digests in $digests"
  fi
fi
exit "$status"
