#!/usr/bin/env bash
# The desktop movie player's CPU playing the 720p test title at normal speed, beside GStreamer's
# own playbin with gtksink playing the same HLS URL:
#   bench/PlayerCpuBench.sh [-b BUILD_DIR] [-n RUNS] [-t SECONDS] [-w WARMUP] [TITLE]
#   - the title (by default the 10-minute 1280x720 title, 25 fps, H.264 at 4.8 Mbit/s and AAC,
#     that build/bench/RemuxBench caches in BUILD_DIR/fixtures; made by running it when it is
#     missing) is served as HLS on 127.0.0.1 by build/bench/HlsServeBench (the engine's chain),
#     a fresh one for each play; its CPU is counted for neither side;
#   - build/bench/MoviePlayerCpuBench plays the URL with the application's movie player in a
#     window of the application's size (480 x 320) on a private Xvfb, the sound to
#     fakeaudiosink; with --playbin, playbin + gtksink in a GTK window of the same size on a
#     private Xvfb of the same size, the sound to the same fakeaudiosink;
#   - each plays for WARMUP seconds (5 by default) once playing, then its process's CPU time
#     over SECONDS (30 by default) of play is the figure, in % of one core.
# The sides run in turn RUNS times (3 by default); the figures are the medians, the ratio the
# median of the run-by-run ratios, goal <= 1.05. Each run's line also shows how much of the
# movie was played and how many pictures were drawn and dropped over the span (about SECONDS
# and 25 a second for both, or the sides did not do the same work), and the X server's CPU.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

build=build
runs=3
seconds=30
warmup=5
usage() { sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; }
while getopts "b:n:t:w:h" opt; do
  case "$opt" in
    b) build="$OPTARG" ;;
    n) runs="$OPTARG" ;;
    t) seconds="$OPTARG" ;;
    w) warmup="$OPTARG" ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
for n in "$runs" "$seconds"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS and SECONDS are positive whole numbers" >&2; exit 2; }
done
[[ "$warmup" =~ ^[0-9]+$ ]] || { echo "WARMUP is a whole number of seconds" >&2; exit 2; }
player="$build/bench/MoviePlayerCpuBench"
server="$build/bench/HlsServeBench"
for program in "$player" "$server"; do
  [[ -x "$program" ]] || { echo "build $program first (ninja -C $build MoviePlayerCpuBench HlsServeBench)" >&2; exit 2; }
done
command -v Xvfb >/dev/null || { echo "Xvfb is not installed" >&2; exit 2; }
if [[ -z "${1:-}" ]] && ! ls "$build"/fixtures/bench10min-*.svm >/dev/null 2>&1 &&
  [[ -x "$build/bench/RemuxBench" ]]; then
  echo "making the 10-minute 720p title (once, with $build/bench/RemuxBench) ..."
  "$build/bench/RemuxBench" >/dev/null
fi
title=$(bench_title "$build" "${1:-}") || exit 2

work=$(mktemp -d /tmp/svplayercpu.XXXXXX)
trap 'bench_stop_hls; rm -rf "$work"' EXIT

# Starts a fresh chain on the title; sets url.
start_server() {
  bench_start_hls "$server" "$work/server" "$title"
  url=$(awk '$1 == "url" { print $2; exit }' "$work/server.out")
}

# Plays the URL of a fresh chain with the player (extra arguments: --playbin); leaves its
# "key value" lines in $work/$1.out.
play() {
  local side="$1"
  shift
  start_server
  if ! "$player" "$@" --warmup "$warmup" "$url" "$seconds" >"$work/$side.out" 2>"$work/$side.err"; then
    echo "$player $* failed:" >&2
    cat "$work/$side.out" "$work/$side.err" >&2
    exit 1
  fi
  bench_stop_hls
}
value() { awk -v k="$2" '$1 == k { print $2; exit }' "$work/$1.out"; }

echo "title: $title, ${seconds} s of play after ${warmup} s, $runs runs"
# Columns of each run: the player's CPU %, the peer's, then the X server's for each.
: >"$work/runs"
for ((r = 1; r <= runs; ++r)); do
  play zul
  play playbin --playbin
  for side in zul playbin; do
    [[ "$(value "$side" window)" == "$(value zul window)" ]] ||
      { echo "the windows differ: $(value zul window) and $(value playbin window)" >&2; exit 1; }
  done
  echo "$(value zul cpu_percent) $(value playbin cpu_percent) $(value zul xserver_cpu_percent) $(value playbin xserver_cpu_percent)" >>"$work/runs"
  for side in zul playbin; do
    printf "run %d %-8s %6.2f %% of a core; window %s, picture %s; played %6.2f s, %4d pictures drawn, %d dropped; X server %5.2f %%\n" \
      "$r" "$side" "$(value "$side" cpu_percent)" "$(value "$side" window)" "$(value "$side" picture)" \
      "$(value "$side" played_s)" "$(value "$side" frames_rendered)" "$(value "$side" frames_dropped)" \
      "$(value "$side" xserver_cpu_percent)"
  done
done

echo
bench_line "X server CPU meanwhile, % (for information)" "$(bench_column_median "$work/runs" 3)" \
  "$(bench_column_median "$work/runs" 4)" "$(bench_paired_ratio "$work/runs" 3 4)" % - -
bench_line "1x playback CPU, % of a core (peer playbin+gtksink)" "$(bench_column_median "$work/runs" 1)" \
  "$(bench_column_median "$work/runs" 2)" "$(bench_paired_ratio "$work/runs" 1 2)" % "ratio<=" 1.05
