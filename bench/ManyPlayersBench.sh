#!/usr/bin/env bash
# svplay's peak memory with a title fed over HTTP and several players at different places,
# beside nginx serving static HLS of the same title to the same players:
#   bench/ManyPlayersBench.sh [-b BUILD_DIR] [-n RUNS] [-p PLAYERS] [-s SPACING] [-t SECONDS] [TITLE]
#   - an origin nginx serves TITLE (by default the 10-minute 720p title build/bench/RemuxBench
#     caches in BUILD_DIR/fixtures) on loopback; a fresh svplay plays its URL;
#   - PLAYERS (16 by default) `ffmpeg -re -ss i*SPACING` players (SPACING 11 s by default) read
#     svplay's playlist at real-time speed for SECONDS (30 by default), all at once;
#   - then a fresh nginx serving ffmpeg-made static HLS of the same title (2 s segments, cut
#     from svremux's transport stream of it) is read by the same players the same way;
#   - the figure is svplay's peak resident size (VmHWM), the peer's nginx's; goal under 64 MB.
# Each run pairs the two sides; the figures are the medians of RUNS runs (3 by default), the
# ratio the median of the run-by-run ratios. `-p 1` measures one player from the start.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

build=build
runs=3
players=16
spacing=11
seconds=30
usage() { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; }
while getopts "b:n:p:s:t:h" opt; do
  case "$opt" in
    b) build="$OPTARG" ;;
    n) runs="$OPTARG" ;;
    p) players="$OPTARG" ;;
    s) spacing="$OPTARG" ;;
    t) seconds="$OPTARG" ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
for n in "$runs" "$players" "$seconds"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS, PLAYERS and SECONDS are positive whole numbers" >&2; exit 2; }
done
[[ "$spacing" =~ ^[0-9]+$ ]] || { echo "SPACING is a whole number of seconds" >&2; exit 2; }
svplay="$build/tools/svplay/svplay"
svremux="$build/tools/svremux/svremux"
for program in "$svplay" "$svremux"; do
  [[ -x "$program" ]] || { echo "build $program first (ninja -C $build svplay svremux)" >&2; exit 2; }
done
for tool in ffmpeg ffprobe awk python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
title=$(bench_title "$build" "${1:-}") || exit 2

work=$(mktemp -d /tmp/svmanyplayers.XXXXXX)
pid=""
origin_pid=""
player_pids=()
stop_players() {
  local p
  for p in "${player_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${player_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  player_pids=()
}
stop_svplay() { bench_end "$pid"; pid=""; }
stop_origin() { bench_end "$origin_pid"; origin_pid=""; }
trap 'stop_players; stop_svplay; bench_stop_nginx; stop_origin; rm -rf "$work"' EXIT

# The origin: the title as a CDN would serve it (ranges, sendfile), for every run.
mkdir -p "$work/origin"
ln -s "$title" "$work/origin/title.svm"
origin_port=$(bench_free_port)
bench_start_nginx "$work/origin-nginx" "$work/origin" "$origin_port"
origin_pid=$bench_nginx_pid
bench_nginx_pid=""
origin_url="http://127.0.0.1:$origin_port/title.svm"

# The peer's static HLS of the same title.
"$svremux" "$title" -o "$work/source.ts"
mkdir "$work/static"
ffmpeg -nostdin -v error -y -i "$work/source.ts" -map 0 -c copy -f hls -hls_time 2 \
  -hls_playlist_type vod -hls_segment_filename "$work/static/%d.ts" "$work/static/index.m3u8"
rm -f "$work/source.ts"
duration=$(awk -F'[:,]' '/^#EXTINF:/ { t += $2 } END { printf "%d", t }' "$work/static/index.m3u8")
if ((players > 1 && (players - 1) * spacing + seconds > duration)); then
  echo "the title ($duration s) is too short for $players players $spacing s apart" >&2
  exit 2
fi

start_svplay() {
  stop_svplay
  bench_start_svplay "$svplay" "$origin_url" "$(bench_free_port)" "$work/svplay"
  pid=$bench_svplay_pid
  url=$bench_svplay_url
}

# The players on URL, all at once, each at its own place; waits until every one has read
# SECONDS of media at real-time speed. A player that fails stops the script.
play_all() {
  local i
  for ((i = 0; i < players; i++)); do
    ffmpeg -nostdin -v error -re -ss $((i * spacing)) -i "$1" -t "$seconds" -map 0 -c copy \
      -f null - 2>"$work/player$i.err" &
    player_pids+=($!)
  done
  local failed=0 p
  for p in "${player_pids[@]}"; do wait "$p" || failed=1; done
  player_pids=()
  if ((failed)); then
    echo "a player failed on $1:" >&2
    cat "$work"/player*.err | head -c 2000 >&2
    exit 1
  fi
}

# Columns of each run: svplay VmHWM kB, nginx VmHWM kB.
: >"$work/runs"
for ((r = 1; r <= runs; ++r)); do
  start_svplay
  play_all "$url"
  hwm_sv=$(bench_status_kb "$pid" VmHWM)
  stop_svplay
  peer_port=$(bench_free_port)
  bench_start_nginx "$work/nginx" "$work/static" "$peer_port"
  play_all "http://127.0.0.1:$peer_port/index.m3u8"
  hwm_ng=$(bench_status_kb "$bench_nginx_pid" VmHWM)
  bench_stop_nginx
  echo "$hwm_sv $hwm_ng" | tee -a "$work/runs" |
    awk -v r="$r" '{ printf "run %d: peak %.1f MB / %.1f MB (svplay / nginx)\n", r, $1 / 1024, $2 / 1024 }'
done

mb() { awk -v k="$1" 'BEGIN { printf "%.3f", k / 1024 }'; }
echo "medians of $runs runs: $players players ${spacing} s apart for $seconds s, title over HTTP ($(basename "$title"))"
bench_line "svplay peak resident, $players players, MB" "$(mb "$(bench_column_median "$work/runs" 1)")" \
  "$(mb "$(bench_column_median "$work/runs" 2)")" "$(bench_paired_ratio "$work/runs" 1 2)" MB "figure<" 64
