#!/usr/bin/env bash
# Times svremux against ffmpeg's stream copy to MPEG-TS on the same title, in one run:
#   bench/remux_vs_ffmpeg.sh [-n RUNS] [-b BUILD_DIR] [TITLE]
# The two commands run in turn (svremux, ffmpeg, svremux, ...) after one warm-up each, so a
# drift in the machine's speed touches both alike. Prints the median wall time of each, its
# throughput in MB/s of title read (1 MB = 10^6 bytes) and the ratio svremux / ffmpeg (above 1:
# svremux is faster). Without TITLE it takes the 10-minute title that build/bench/RemuxBench
# makes and caches (run that once first).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
build=build
while getopts "n:b:h" opt; do
  case "$opt" in
    n) runs="$OPTARG" ;;
    b) build="$OPTARG" ;;
    *) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

title="${1:-}"
if [[ -z "$title" ]]; then
  title=$(ls -t "$build"/fixtures/bench10min-*.svm 2>/dev/null | head -n 1 || true)
  if [[ -z "$title" ]]; then
    echo "no title given and none cached: run $build/bench/RemuxBench once, or name a title" >&2
    exit 2
  fi
fi
svremux="$build/tools/svremux/svremux"
[[ -x "$svremux" ]] || { echo "$svremux is not built" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
size=$(stat -c %s "$title")

run_svremux() { "$svremux" "$title" -o "$work/sv.ts" 2>"$work/sv.err"; }
run_ffmpeg() {
  ffmpeg -nostdin -v error -y -i "$title" -map 0 -c copy -f mpegts "$work/ff.ts" 2>"$work/ff.err"
}

# Wall seconds of one run of the function; a failed run stops the script.
time_one() {
  local start end
  start=$(date +%s.%N)
  if ! "$1"; then
    echo "$1 failed:" >&2
    cat "$work"/*.err >&2
    exit 1
  fi
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

run_svremux >/dev/null; run_ffmpeg >/dev/null  # warm-up: the title in the page cache
sv_times=()
ff_times=()
for ((i = 0; i < runs; ++i)); do
  sv_times+=("$(time_one run_svremux)")
  ff_times+=("$(time_one run_ffmpeg)")
done
sv=$(printf '%s\n' "${sv_times[@]}" | median)
ff=$(printf '%s\n' "${ff_times[@]}" | median)

printf 'title    %s (%.1f MB), %d runs each, medians\n' "$title" "$(echo "$size / 1000000" | bc -l)" "$runs"
printf 'svremux  %7.3f s  %8.1f MB/s  (output %.1f MB)\n' "$sv" "$(echo "$size / $sv / 1000000" | bc -l)" \
  "$(echo "$(stat -c %s "$work/sv.ts") / 1000000" | bc -l)"
printf 'ffmpeg   %7.3f s  %8.1f MB/s  (output %.1f MB)\n' "$ff" "$(echo "$size / $ff / 1000000" | bc -l)" \
  "$(echo "$(stat -c %s "$work/ff.ts") / 1000000" | bc -l)"
printf 'ratio    %.2f (svremux speed / ffmpeg speed)\n' "$(echo "$ff / $sv" | bc -l)"
