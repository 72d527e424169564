#!/usr/bin/env bash
# Measures svremux against a plain copy of the title with dd and against ffmpeg stream-copying
# the MP4 of the same media (what a user holding the media would run), in one run, to three
# places: /dev/null, a new file on tmpfs (/dev/shm) and a new file on the disk (beside the build
# folder; for information). svremux --ps (the program stream) runs beside them to the same
# places; ffmpeg's program-stream muxer takes no AAC, so its transport-stream copy is the peer
# printed beside it.
#   bench/remux_vs_ffmpeg.sh [-h] [-b BUILD] [-n RUNS] [-d DIGESTS] [-m MP4] [TITLE]
# -b: the build folder (build by default); -n: the runs of each command (5 by default).
# The commands of one place run in turn (svremux, svremux --ps, ffmpeg, dd, svremux, ...) after
# one warm-up each, so a drift in the machine's speed touches all alike. Before each run the
# last output is removed and written data flushed, so that neither truncating nor writing back
# an earlier file is timed. Each run's CPU (user + system of the process and all its threads,
# to the microsecond) and wall time are taken by build/bench/RunMeasured. Prints, per place,
# the median wall and CPU seconds of each command and its rate in MB/s of wall time over the
# file it reads (1 MB = 10^6 bytes); then svremux's wall and CPU over dd's and over ffmpeg's,
# each ratio the median of the run-by-run ratios; the CPU over dd's is judged against its goal
# (2.00 to /dev/null, 1.30 to tmpfs), the wall ratios are shown unjudged. ffmpeg's output is
# checked (its packets per stream, counted by ffprobe, are the MP4's), and so is svremux's (the
# same count, and the SHA-256 of its two outputs); with -d, a file of "DIGEST  ts" and
# "DIGEST  ps" lines, a digest that differs fails the run. Without TITLE it
# takes the 10-minute title that build/bench/RemuxBench makes and caches, and the MP4 it caches
# beside it (made by running it once when missing: a few minutes); with TITLE, -m names the MP4
# of the same media. It builds what it runs (cmake --build BUILD --target svremux RunMeasured).
# Exits 1 when a goal is missed or a figure cannot be taken, its last line saying how many.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=5
digests=
mp4=
bench_own_options="d:m:"
bench_own_option() {
  case "$1" in
    d) digests="$2" ;;
    m) mp4="$2" ;;
  esac
}
bench_options "$@"
set -- "${bench_arguments[@]}"
(($# <= 1)) || bench_usage_error "one TITLE at most"

bench_build svremux RunMeasured || exit 2
bench_need_title "$build" "${1:-}" || exit 2
title=$(bench_title "$build" "${1:-}") || exit 2
mp4=$(bench_title_mp4 "$build" "${1:-}" "$mp4") || exit 2
svremux="$build/tools/svremux/svremux"
bench_use_build "$build" || exit 2
for tool in ffmpeg ffprobe dd awk; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

[[ -z "$digests" || -f "$digests" ]] || { echo "$digests: no such file" >&2; exit 2; }
[[ -d /dev/shm && -w /dev/shm ]] || { echo "/dev/shm is not a writable tmpfs" >&2; exit 2; }

size=$(stat -c %s "$title")
mp4_size=$(stat -c %s "$mp4")
# Outputs go to one folder per place; /dev/null is written as a device, never removed.
work=$(mktemp -d)            # on the disk, in $TMPDIR
shm=$(mktemp -d -p /dev/shm)  # tmpfs
disk=$(mktemp -d -p "$build")
trap 'rm -rf "$work" "$shm" "$disk"' EXIT
dest=

# Each command, run as it is or, with arguments, under them (bench_measure FILE).
target() { [[ "$dest" == null ]] && echo /dev/null || echo "$dest/$1"; }
run_svremux() { "$@" "$svremux" "$title" -o "$(target sv.ts)" 2>"$work/sv.err"; }
run_svremux_ps() { "$@" "$svremux" --ps "$title" -o "$(target sv.mpg)" 2>"$work/svps.err"; }
run_ffmpeg() {
  "$@" ffmpeg -nostdin -v error -y -i "$mp4" -map 0 -c copy -f mpegts "$(target ff.ts)" \
    2>"$work/ff.err"
}
run_dd() { "$@" dd if="$title" of="$(target dd.ts)" bs=1M 2>"$work/dd.err"; }
commands=(run_svremux run_svremux_ps run_ffmpeg run_dd)
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

# Appends "CPU_SECONDS WALL_SECONDS PEAK_KB" of one run of the command to $work/COMMAND.runs; a
# failed run stops the script. The output of the previous run goes first and the written data
# is flushed, both outside the measured span, so no run pays for truncating or writing back
# what an earlier one wrote.
measure_one() {
  clear_output "$1"
  sync
  if ! "$1" bench_measure "$work/$1.runs"; then
    echo "$1 failed:" >&2
    cat "$work"/*.err >&2
    exit 1
  fi
}

# One line of the table: name, wall seconds, CPU seconds, bytes read.
report() {
  awk -v name="$1" -v w="$2" -v c="$3" -v size="$4" \
    'BEGIN { printf "  %-13s %9.3f %9.3f %11.1f\n", name, w, c, size / w / 1e6 }'
}

awk -v title="$title" -v size="$size" -v mp4="$mp4" -v mp4size="$mp4_size" -v runs="$runs" 'BEGIN {
  printf "title    %s (%.1f MB)\n", title, size / 1e6
  printf "MP4      %s (%.1f MB), the same media, read by ffmpeg\n", mp4, mp4size / 1e6
  printf "%d runs each, medians; CPU: user + system, all threads\n", runs }'
# What is measured makes the right thing, checked before anything is measured: ffmpeg's output
# holds the MP4's packets, and svremux's the same number (the title and the MP4 hold the same
# media).
mp4_counts=$(bench_packet_counts "$mp4" "$work")
dest="$shm"
for f in run_ffmpeg run_svremux; do
  "$f" || { echo "$f failed:" >&2; cat "$work"/*.err >&2; exit 1; }
  counts=$(bench_packet_counts "$(output_of "$f")" "$work")
  if [[ "$counts" != "$mp4_counts" ]]; then
    echo "packets per stream of $f's output ($(tr '\n' ' ' <<<"$counts")) differ from the MP4's ($(tr '\n' ' ' <<<"$mp4_counts"))" >&2
    exit 1
  fi
  clear_output "$f"
done
for place in null shm disk; do
  case "$place" in
    null) dest=null; label="/dev/null"; goal=2.00 ;;
    shm) dest="$shm"; label="a new file on tmpfs"; goal=1.30 ;;
    disk) dest="$disk"; label="a new file on the disk"; goal= ;;
  esac
  for f in "${commands[@]}"; do  # warm-up: the inputs in the cache
    clear_output "$f"
    "$f" || { echo "$f failed:" >&2; cat "$work"/*.err >&2; exit 1; }
    : >"$work/$f.runs"
  done
  if [[ "$place" == shm ]]; then
    sv_digest=$(sha256sum "$(target sv.ts)" | cut -c1-64)
    ps_digest=$(sha256sum "$(target sv.mpg)" | cut -c1-64)
  fi
  for ((i = 0; i < runs; ++i)); do
    for f in "${commands[@]}"; do measure_one "$f"; done
  done
  # Columns: CPU and wall of svremux (1, 2), svremux --ps (4, 5), ffmpeg (7, 8) and dd (10, 11).
  paste -d ' ' "$work/run_svremux.runs" "$work/run_svremux_ps.runs" "$work/run_ffmpeg.runs" \
    "$work/run_dd.runs" >"$work/pairs"
  col() { bench_column_median "$work/pairs" "$1"; }
  echo "to $label:"
  printf "  %-13s %9s %9s %11s\n" "" "wall s" "CPU s" "MB/s (wall)"
  report svremux "$(col 2)" "$(col 1)" "$size"
  report "svremux --ps" "$(col 5)" "$(col 4)" "$size"
  report "ffmpeg (MP4)" "$(col 8)" "$(col 7)" "$mp4_size"
  report dd "$(col 11)" "$(col 10)" "$size"
  # Each ratio is the median of the ratios of runs made a moment apart, not of the medians.
  kind=-
  [[ -z "$goal" ]] || kind="ratio<="
  # The goals are of CPU; the wall time is shown beside them, unjudged.
  bench_line "svremux, wall s (peer dd)" "$(col 2)" "$(col 11)" "$(bench_paired_ratio "$work/pairs" 2 11)" s - -
  bench_line "svremux, CPU s (peer dd)" "$(col 1)" "$(col 10)" "$(bench_paired_ratio "$work/pairs" 1 10)" s "$kind" "${goal:--}"
  bench_line "svremux, wall s (peer ffmpeg, MP4)" "$(col 2)" "$(col 8)" "$(bench_paired_ratio "$work/pairs" 2 8)" s - -
  bench_line "svremux, CPU s (peer ffmpeg, MP4)" "$(col 1)" "$(col 7)" "$(bench_paired_ratio "$work/pairs" 1 7)" s - -
  bench_line "svremux --ps, wall s (peer ffmpeg, MP4)" "$(col 5)" "$(col 8)" "$(bench_paired_ratio "$work/pairs" 5 8)" s - -
  bench_line "svremux --ps, CPU s (peer ffmpeg, MP4)" "$(col 4)" "$(col 7)" "$(bench_paired_ratio "$work/pairs" 4 7)" s - -
done
echo "packets $(tr '\n' ' ' <<<"$mp4_counts")in the MP4, ffmpeg's output and svremux's"
echo "sha256 $sv_digest  svremux"
echo "sha256 $ps_digest  svremux --ps"
if [[ -n "$digests" ]]; then
  want_ts=$(awk '$2 == "ts" { print $1 }' "$digests")
  want_ps=$(awk '$2 == "ps" { print $1 }' "$digests")
  if [[ "$sv_digest" != "$want_ts" || "$ps_digest" != "$want_ps" ]]; then
    bench_error "outputs differ from the digests in $digests"
  else
    echo "outputs match the digests in $digests"
  fi
fi
bench_finish
