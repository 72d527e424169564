#!/usr/bin/env bash
# Times svremux against ffmpeg's stream copy to MPEG-TS and against a plain copy of the title
# with dd, on the same title, in one run:
#   bench/remux_vs_ffmpeg.sh [-n RUNS] [-b BUILD_DIR] [TITLE]
# The three commands run in turn (svremux, ffmpeg, dd, svremux, ...) after one warm-up each, so
# a drift in the machine's speed touches all alike. Before each run the last output is removed
# and the disk cache flushed, so that neither truncating nor writing back an earlier file is
# timed. Prints the median wall time of each, its throughput in MB/s of title read (1 MB =
# 10^6 bytes), and svremux's time over ffmpeg's and over dd's (1.00: as fast; 2.00: twice the
# time). Without TITLE it takes the 10-minute title that build/bench/RemuxBench makes and
# caches (run that once first).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
build=build
while getopts "n:b:h" opt; do
  case "$opt" in
    n) runs="$OPTARG" ;;
    b) build="$OPTARG" ;;
    h) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive whole number" >&2; exit 2; }

title="${1:-}"
if [[ -z "$title" ]]; then
  title=$(ls -t "$build"/fixtures/bench10min-*.svm 2>/dev/null | head -n 1 || true)
  if [[ -z "$title" ]]; then
    echo "no title given and none cached: run $build/bench/RemuxBench once, or name a title" >&2
    exit 2
  fi
fi
[[ -f "$title" ]] || { echo "$title: no such file" >&2; exit 2; }
svremux="$build/tools/svremux/svremux"
[[ -x "$svremux" ]] || { echo "$svremux is not built" >&2; exit 2; }
for tool in ffmpeg dd awk; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
size=$(stat -c %s "$title")

run_svremux() { "$svremux" "$title" -o "$work/sv.ts" 2>"$work/sv.err"; }
run_ffmpeg() {
  ffmpeg -nostdin -v error -y -i "$title" -map 0 -c copy -f mpegts "$work/ff.ts" 2>"$work/ff.err"
}
run_dd() { dd if="$title" of="$work/dd.ts" bs=1M 2>"$work/dd.err"; }
output_of() {
  case "$1" in
    run_svremux) echo "$work/sv.ts" ;;
    run_ffmpeg) echo "$work/ff.ts" ;;
    run_dd) echo "$work/dd.ts" ;;
  esac
}

# Wall seconds of one run of the function; a failed run stops the script. The output of the
# previous run goes first and the written data is flushed, both outside the timed span, so no
# run pays for truncating or writing back what an earlier one wrote.
time_one() {
  local start end
  rm -f "$(output_of "$1")"
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

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# One line of the table: name, seconds, output file.
report() {
  awk -v name="$1" -v t="$2" -v size="$size" -v out="$(stat -c %s "$3")" \
    'BEGIN { printf "%-8s %7.3f s  %8.1f MB/s  (output %.1f MB)\n", name, t, size / t / 1e6, out / 1e6 }'
}

for f in run_svremux run_ffmpeg run_dd; do  # warm-up: the title in the page cache
  rm -f "$(output_of "$f")"
  "$f" >/dev/null || { echo "$f failed:" >&2; cat "$work"/*.err >&2; exit 1; }
done
sv_times=()
ff_times=()
dd_times=()
for ((i = 0; i < runs; ++i)); do
  sv_times+=("$(time_one run_svremux)")
  ff_times+=("$(time_one run_ffmpeg)")
  dd_times+=("$(time_one run_dd)")
done
sv=$(printf '%s\n' "${sv_times[@]}" | median)
ff=$(printf '%s\n' "${ff_times[@]}" | median)
dd=$(printf '%s\n' "${dd_times[@]}" | median)

awk -v title="$title" -v size="$size" -v runs="$runs" \
  'BEGIN { printf "title    %s (%.1f MB), %d runs each, medians\n", title, size / 1e6, runs }'
report svremux "$sv" "$work/sv.ts"
report ffmpeg "$ff" "$work/ff.ts"
report dd "$dd" "$work/dd.ts"
awk -v sv="$sv" -v ff="$ff" -v dd="$dd" 'BEGIN {
  printf "ratio    %.2f (svremux time / ffmpeg time)\n", sv / ff
  printf "ratio    %.2f (svremux time / dd time)\n", sv / dd
}'
