#!/usr/bin/env bash
# svplay with a title fed over HTTP and many players at different places, beside nginx serving
# static HLS of the same title to the same players: peak memory, CPU per delivered segment and
# failed requests.
#   bench/ManyPlayersBench.sh [-h] [-b BUILD] [-n RUNS] [-p PLAYERS] [-s SPACING] [-t SECONDS] [TITLE]
# -b: the build folder (build by default); -n: the runs (5 by default). It builds what it runs
# (cmake --build BUILD --target svplay svremux).
#   - an origin nginx serves TITLE (by default the 10-minute 720p title build/bench/RemuxBench
#     caches in BUILD/fixtures, made by running it once when missing: a few minutes) on loopback; a fresh svplay plays its URL;
#   - PLAYERS (50 by default) `ffmpeg -re -ss i*SPACING` players (SPACING 11 s by default) read
#     svplay's playlist at real-time speed for SECONDS (20 by default), all at once;
#   - then a fresh nginx serving ffmpeg-made static HLS of the same title (2 s segments, cut
#     from svremux's transport stream of it) is read by the same players the same way;
#   - figures: svplay's peak resident size (VmHWM) beside nginx's, goal under 64 MB (10^6
#     bytes each); CPU
#     (user and system, to the microsecond, every thread of the process's whole life, its start
#     included) per segment the players got, beside nginx's (the origin's CPU is left out), goal
#     for svplay at most 2.31 ms (what it cost before the serving path was made cheaper: it
#     must not grow with many players);
#     requests that failed (a segment or playlist a player could not open, or a player that
#     ended in error), goal 0.
# Each run pairs the two sides; the figures are the medians of RUNS runs (5 by default), the
# ratios the medians of the run-by-run ratios (a pair whose peer is 0 counts as infinite).
# The failures are the sums over all runs. Exits 1 when a goal is missed, its last line saying
# how many.
# `-p 1` measures one player from the start.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=5
players=50
spacing=11
seconds=20
bench_own_options="p:s:t:"
bench_own_option() {
  case "$1" in
    p) [[ "$2" =~ ^[1-9][0-9]*$ ]] && players="$2" ;;
    s) [[ "$2" =~ ^[0-9]+$ ]] && spacing="$2" ;;
    t) [[ "$2" =~ ^[1-9][0-9]*$ ]] && seconds="$2" ;;
  esac
}
bench_options "$@"
set -- "${bench_arguments[@]}"
(($# <= 1)) || bench_usage_error "one TITLE at most"
for tool in ffmpeg ffprobe awk python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
bench_build svplay svremux || exit 2
svplay="$build/tools/svplay/svplay"
svremux="$build/tools/svremux/svremux"
bench_need_title "$build" "${1:-}" || exit 2
title=$(bench_title "$build" "${1:-}") || exit 2

work=$(mktemp -d /tmp/svmanyplayers.XXXXXX)
watcher_pid=""
pid=""
origin_pid=""
player_pids=()
# shellcheck disable=SC2317 # called from the EXIT trap
stop_players() {
  local p
  for p in "${player_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${player_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  player_pids=()
}
# The watcher passes the TERM on and writes svplay's CPU once svplay has ended.
stop_svplay() { bench_end "$watcher_pid"; watcher_pid=""; pid=""; }
# shellcheck disable=SC2317 # called from the EXIT trap
stop_origin() { bench_end "$origin_pid"; origin_pid=""; }
trap 'stop_players; stop_svplay; bench_stop_nginx; stop_origin; rm -rf "$work"' EXIT

# Runs a command in the background under a watcher (measured_pid) that passes TERM and INT on
# and, once the command has ended, writes to OUT.cpu its CPU seconds to the microsecond (user
# and system, ended threads and the children it reaped included); the command's own pid goes
# to OUT.pid. The threads of svplay's connections end with them, so its living threads cannot
# tell its CPU.
measured_start() {
  local out="$1"
  shift
  rm -f "$out.cpu" "$out.pid"
  python3 -c '
import os, signal, sys
out, child, pending = sys.argv[1], 0, []
def forward(number, _frame):
    if child: os.kill(child, number)
    else: pending.append(number)
for number in (signal.SIGTERM, signal.SIGINT): signal.signal(number, forward)
child = os.fork()
if child == 0:
    for number in (signal.SIGTERM, signal.SIGINT): signal.signal(number, signal.SIG_DFL)
    os.execvp(sys.argv[2], sys.argv[2:])
for number in pending: os.kill(child, number)
with open(out + ".pid", "w") as f: f.write("%d\n" % child)
_, status, usage = os.wait4(child, 0)
with open(out + ".cpu", "w") as f: f.write("%.6f\n" % (usage.ru_utime + usage.ru_stime))
sys.exit(os.waitstatus_to_exitcode(status) % 256)
' "$out" "$@" &
  measured_pid=$!
}

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

# A fresh svplay on the origin under its watcher; sets pid (svplay's own) and url. A svplay
# that ends first, or names no URL within about 20 s, stops the script with what it printed.
start_svplay() {
  stop_svplay
  local out="$work/svplay" tries=0
  measured_start "$out" "$svplay" "$origin_url" --port "$(bench_free_port)" >"$out.out" 2>"$out.err"
  watcher_pid=$measured_pid
  url=""
  until [[ -n "$url" && -s "$out.pid" ]]; do
    url=$(head -n 1 "$out.out" 2>/dev/null || true)
    [[ -n "$url" && -s "$out.pid" ]] && break
    if ! kill -0 "$watcher_pid" 2>/dev/null || ((++tries > 20000)); then
      echo "svplay did not start:" >&2
      cat "$out.err" >&2
      exit 1
    fi
    sleep 0.001
  done
  pid=$(cat "$out.pid")
}

# The players on URL, all at once, each at its own place; waits until every one has read
# SECONDS of media at real-time speed. Prints "SEGMENTS FAILED": the segments the players got
# and the requests that failed. ffmpeg skips a segment it cannot open and goes on (saying so
# only as a warning); at "verbose" it names every segment it asks for.
play_all() {
  local i p
  local status=()
  for ((i = 0; i < players; i++)); do
    ffmpeg -nostdin -nostats -v verbose -re -ss $((i * spacing)) -i "$1" -t "$seconds" -map 0 -c copy \
      -f null - 2>"$work/player$i.err" &
    player_pids+=($!)
  done
  for p in "${player_pids[@]}"; do
    if wait "$p"; then status+=(0); else status+=(1); fi
  done
  player_pids=()
  local asked=0 failed=0 ended=0 n
  for ((i = 0; i < players; i++)); do
    n=$(grep -c "HLS request for url" "$work/player$i.err" || true)
    asked=$((asked + n))
    n=$(grep -c -E "Failed to open segment|Failed to reload playlist|Unable to open" \
      "$work/player$i.err" || true)
    failed=$((failed + n))
    if ((status[i])); then
      ended=$((ended + 1))
      {
        echo "player $i on $1 ended in error:"
        grep -v -E "^ |^Input|^Output|^Stream|^Press|^frame=|^size=|^video:" "$work/player$i.err" | tail -n 5
      } >&2
    fi
  done
  # A player that ended in error lost at least the request it ended on.
  echo "$((asked - failed)) $((failed + ended))"
}

# Median of column A over column B, line by line, every line counted.
paired_ratio_all() {
  awk -v a="$2" -v b="$3" '{ if ($b > 0) printf "%.6f\n", $a / $b; else print "inf" }' "$1" | bench_median
}

# Columns of each run: svplay VmHWM kB, nginx VmHWM kB, svplay CPU s, nginx CPU s, svplay
# segments, nginx segments, svplay failed requests, nginx failed requests, and the CPU ms per
# segment of each side.
: >"$work/runs"
for ((r = 1; r <= runs; ++r)); do
  start_svplay
  play_all "$url" >"$work/count"
  read -r seg_sv fail_sv <"$work/count"
  hwm_sv=$(bench_status_kb "$pid" VmHWM)
  stop_svplay
  cpu_sv=$(cat "$work/svplay.cpu")
  peer_port=$(bench_free_port)
  bench_start_nginx "$work/nginx" "$work/static" "$peer_port"
  # nginx runs as one process of one thread here: its thread's run time is all its CPU.
  play_all "http://127.0.0.1:$peer_port/index.m3u8" >"$work/count"
  read -r seg_ng fail_ng <"$work/count"
  hwm_ng=$(bench_status_kb "$bench_nginx_pid" VmHWM)
  cpu_ng=$(bench_thread_seconds "$bench_nginx_pid")
  bench_stop_nginx
  echo "$hwm_sv $hwm_ng $cpu_sv $cpu_ng $seg_sv $seg_ng $fail_sv $fail_ng" |
    awk '{ per_sv = $5 > 0 ? sprintf("%.6f", 1000 * $3 / $5) : "inf"
           per_ng = $6 > 0 ? sprintf("%.6f", 1000 * $4 / $6) : "inf"
           print $1, $2, $3, $4, $5, $6, $7, $8, per_sv, per_ng }' |
    tee -a "$work/runs" |
    awk -v r="$r" '{ printf "run %d: peak %.1f / %.1f MB, CPU %.3f / %.3f s for %d / %d segments, failed %d / %d (svplay / nginx)\n",
                     r, $1 * 1024 / 1e6, $2 * 1024 / 1e6, $3, $4, $5, $6, $7, $8 }'
done

sum() { awk -v c="$2" '{ s += $c } END { print s + 0 }' "$1"; }
echo "medians of $runs runs: $players players ${spacing} s apart for $seconds s, title over HTTP ($(basename "$title"))"
bench_line "svplay peak resident, $players players, MB" "$(bench_kb_mb "$(bench_column_median "$work/runs" 1)")" \
  "$(bench_kb_mb "$(bench_column_median "$work/runs" 2)")" "$(paired_ratio_all "$work/runs" 1 2)" MB "figure<" 64
bench_line "svplay CPU per delivered segment, ms" "$(bench_column_median "$work/runs" 9)" \
  "$(bench_column_median "$work/runs" 10)" "$(paired_ratio_all "$work/runs" 9 10)" ms "figure<=" 2.31
failed_sv=$(sum "$work/runs" 7)
failed_ng=$(sum "$work/runs" 8)
bench_judge "figure<=" "$failed_sv" 0
awk -v f="$failed_sv" -v p="$failed_ng" -v s="$(sum "$work/runs" 5)" -v t="$(sum "$work/runs" 6)" -v v="$bench_verdict" 'BEGIN {
  printf "%-44s %10d of %d segments, peer %d of %d   %s\n", "failed requests, all runs", f, s, p, t, v }'
bench_finish
