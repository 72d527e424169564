#!/usr/bin/env bash
# svplay against its goals, with ffmpeg as the player, beside nginx serving static HLS of the
# same title (ffmpeg-made, 2 s segments) read by the same player at the same pace:
#   bench/PlaybackBench.sh [-b BUILD_DIR] [-n RUNS] [-t SECONDS] [-i SECONDS] [-k SEEKS]
#   - start -> first playlist byte: svplay started, its URL read, the playlist asked for until
#     its first byte arrives (goal < 300 ms);
#   - cold seek to 60 s: on a freshly started svplay, after the playlist, the first byte of the
#     segment that holds 60 s as curl sees it (goal < 1.5 s);
#   - idle CPU: svplay and nginx asked nothing for -i SECONDS (10 by default; svplay after 3 s
#     to settle): the run time of their threads from /proc/PID/task/*/schedstat over the wall
#     time (goal < 0.1 % of one core);
#   - CPU while `ffmpeg -re` reads at real-time speed for SECONDS (30 by default): the process's
#     user + system time from /proc/PID/stat, which keeps the threads that ended, over the wall
#     time (goal < 1 % of one core), with the ratio to nginx's taken run by run;
#   - memory: a 10-minute title read through, then SEEKS (100 by default) cold seeks to random
#     places (the same on both sides): the peak resident size (VmHWM; goal under 64 MB), and
#     svplay's resident size after the read-through beside the one after the seeks (flat).
# Every figure is the median of RUNS runs (3 by default).
# The 10-minute title (640x360, 2 s GOPs, AAC) is made once with ffmpeg and mktitle and kept in
# BUILD_DIR/bench. Not part of the test suite: it takes several minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

build=build
runs=3
cpu_seconds=30
seeks=100
idle_seconds=10
usage() { sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; }
while getopts "b:n:t:i:k:h" opt; do
  case "$opt" in
    b) build="$OPTARG" ;;
    n) runs="$OPTARG" ;;
    t) cpu_seconds="$OPTARG" ;;
    i) idle_seconds="$OPTARG" ;;
    k) seeks="$OPTARG" ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
for n in "$runs" "$cpu_seconds" "$idle_seconds" "$seeks"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS, SECONDS and SEEKS are positive whole numbers" >&2; exit 2; }
done
svplay="$build/tools/svplay/svplay"
mktitle="$build/tools/mktitle/mktitle"
for program in "$svplay" "$mktitle"; do
  [[ -x "$program" ]] || { echo "build $program first (ninja -C $build svplay mktitle)" >&2; exit 2; }
done
for tool in ffmpeg ffprobe curl awk; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

mkdir -p "$build/bench"
title="$build/bench/playback-10min.svm"
if [[ ! -s "$title" ]]; then
  echo "making the 10-minute title (once) ..."
  clip="$build/bench/playback-10min.ts"
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 600 \
    -c:v libx264 -preset veryfast -g 50 -keyint_min 50 -sc_threshold 0 -b:v 1000k \
    -pix_fmt yuv420p -c:a aac -b:a 96k -ac 2 -f mpegts "$clip.part"
  mv "$clip.part" "$clip"
  "$mktitle" "$clip" "$title.part.svm"
  mv "$title.part.svm" "$title"
fi
title=$(cd "$(dirname "$title")" && pwd)/$(basename "$title")

work=$(mktemp -d /tmp/svplaybench.XXXXXX)
pid=""
sampler=""
stop_all() {
  [[ -n "$sampler" ]] && { kill "$sampler" 2>/dev/null || true; wait "$sampler" 2>/dev/null || true; }
  sampler=""
  if [[ -n "$pid" ]]; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  pid=""
}
trap 'stop_all; bench_stop_nginx; rm -rf "$work"' EXIT

now() { date +%s.%N; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p=$((30000 + RANDOM % 20000))
  while listening "$p"; do p=$((p + 1)); done
  echo "$p"
}
median() { bench_median; }
verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v < g) ? "ok" : "OVER" }'; }

# Starts svplay on the title; sets pid and url.
start_svplay() {
  stop_all
  bench_start_svplay "$svplay" "$title" "$(free_port)" "$work/svplay"
  pid=$bench_svplay_pid
  url=$bench_svplay_url
}
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
status_kb() { bench_status_kb "$@"; }

echo "title: $title ($(ffprobe -v error -show_entries format=duration -of csv=p=0 "$build/bench/playback-10min.ts" 2>/dev/null || echo '?') s)"
echo

# 1. Start -> first playlist byte.
for _ in $(seq "$runs"); do
  start=$(now)
  start_svplay
  until curl -s -m 5 -o /dev/null --fail "$url"; do sleep 0.001; done
  end=$(now)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f\n", (e - s) * 1000 }' >>"$work/start.ms"
  # The segment that holds 60 s, asked for cold: nothing after the playlist has been read yet.
  curl -s -m 10 -o "$work/playlist.m3u8" "$url"
  segment=$(awk '/^#EXTINF:/ { split(substr($0, 9), d, ","); next_d = d[1]; next }
                 /^[^#]/ && NF { if (t + next_d > 60) { print; exit } t += next_d }' "$work/playlist.m3u8")
  [[ -n "$segment" ]] || { echo "the playlist holds no segment at 60 s" >&2; exit 1; }
  [[ "$segment" == http://* ]] || segment="${url%/*}/$segment"
  curl -s -m 10 -o /dev/null --fail -w '%{time_starttransfer}\n' "$segment" |
    awk '{ printf "%.1f\n", $1 * 1000 }' >>"$work/seek.ms"
done
stop_all
start_ms=$(median <"$work/start.ms")
printf "%-52s %10s ms   goal < 300 ms    %s\n" "svplay start -> first playlist byte (median of $runs)" \
  "$start_ms" "$(verdict "$start_ms" 300)"
seek_ms=$(median <"$work/seek.ms")
printf "%-52s %10s ms   goal < 1500 ms   %s\n" "cold seek: first byte of the segment at 60 s" \
  "$seek_ms" "$(verdict "$seek_ms" 1500)"

# The peer: nginx serving ffmpeg-made static HLS of the same clip (2 s segments, cut once and
# kept beside the title), read by the same player at the same pace.
static="$build/bench/playback-10min-hls"
if [[ ! -s "$static/index.m3u8" ]]; then
  rm -rf "$static.part" && mkdir -p "$static.part"
  ffmpeg -nostdin -v error -y -i "$build/bench/playback-10min.ts" -map 0 -c copy -f hls -hls_time 2 \
    -hls_playlist_type vod -hls_segment_filename "$static.part/%d.ts" "$static.part/index.m3u8"
  rm -rf "$static" && mv "$static.part" "$static"
fi
nginx_port=$(bench_free_port)
bench_start_nginx "$work/nginx" "$(cd "$static" && pwd)" "$nginx_port"
nginx_url="http://127.0.0.1:$nginx_port/index.m3u8"

# CPU time of process PID over the wall time, in % of one core, while COMMAND runs: the
# process's own count, which keeps the time of threads that ended meanwhile (a connection's
# thread ends when its player leaves), at the kernel's tick.
cpu_percent_during() {
  local p="$1" before start after end
  shift
  before=$(bench_cpu_seconds "$p")
  start=$(now)
  "$@"
  after=$(bench_cpu_seconds "$p")
  end=$(now)
  awk -v a="$after" -v b="$before" -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", (a - b) / (e - s) * 100 }'
}
play_realtime() {
  ffmpeg -nostdin -v error -re -i "$1" -t "$cpu_seconds" -map 0 -c copy -f null - 2>"$work/cpu.err" ||
    { echo "ffmpeg -re failed on $1: $(head -c 300 "$work/cpu.err")" >&2; exit 1; }
}
# A read-through, then SEEKS cold seeks to random places (the same places on both sides).
read_and_seek() {
  ffmpeg -nostdin -v error -i "$1" -map 0 -c copy -f null - 2>"$work/read.err" ||
    { echo "ffmpeg read-through failed on $1: $(head -c 300 "$work/read.err")" >&2; exit 1; }
  local at
  for at in "${seek_places[@]}"; do
    ffmpeg -nostdin -v error -ss "$at" -i "$1" -map 0:v -frames:v 1 -f null - 2>>"$work/seek.err" ||
      { echo "seek to $at s on $1 failed: $(tail -c 300 "$work/seek.err")" >&2; exit 1; }
  done
}

duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$build/bench/playback-10min.ts" | cut -d. -f1)
# Columns of each run: svplay idle %, nginx idle %, svplay real-time %, nginx real-time %,
# svplay VmHWM kB, nginx VmHWM kB, svplay resident kB after the read-through, after the seeks.
: >"$work/runs"
for ((r = 1; r <= runs; ++r)); do
  seek_places=()
  for _ in $(seq "$seeks"); do seek_places+=($((RANDOM % (duration - 4)))); done
  # Idle: nothing asked of either, measured over the same span after 3 s to settle.
  start_svplay
  sleep 3
  sv_before=$(bench_thread_seconds "$pid")
  ng_before=$(bench_thread_seconds "$bench_nginx_pid")
  start=$(now)
  sleep "$idle_seconds"
  sv_after=$(bench_thread_seconds "$pid")
  ng_after=$(bench_thread_seconds "$bench_nginx_pid")
  end=$(now)
  idle_sv=$(awk -v a="$sv_after" -v b="$sv_before" -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", (a - b) / (e - s) * 100 }')
  idle_ng=$(awk -v a="$ng_after" -v b="$ng_before" -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", (a - b) / (e - s) * 100 }')
  # Real-time play: the engine's run time over the wall time, then nginx's for the same read.
  rt_sv=$(cpu_percent_during "$pid" play_realtime "$url")
  rt_ng=$(cpu_percent_during "$bench_nginx_pid" play_realtime "$nginx_url")
  # Memory: a fresh svplay through the read and the seeks; nginx's peak over the same reads.
  start_svplay
  ( while kill -0 "$pid" 2>/dev/null; do status_kb "$pid" VmRSS; sleep 0.5; done ) >"$work/rss.kb" &
  sampler=$!
  read_and_seek "$url"
  rss_seeks=$(status_kb "$pid" VmRSS)
  hwm_sv=$(status_kb "$pid" VmHWM)
  kill "$sampler" 2>/dev/null || true
  wait "$sampler" 2>/dev/null || true
  sampler=""
  # The sample nearest the read-through's end stands for the resident size after it.
  rss_read=$(awk 'NR > 0 { v = $1 } END { print v + 0 }' "$work/rss.kb")
  read_and_seek "$nginx_url"
  hwm_ng=$(status_kb "$bench_nginx_pid" VmHWM)
  echo "$idle_sv $idle_ng $rt_sv $rt_ng $hwm_sv $hwm_ng $rss_read $rss_seeks" | tee -a "$work/runs" |
    awk -v r="$r" '{ printf "run %d: idle %.3f%% / %.3f%%, real-time %.2f%% / %.2f%%, peak %.1f MB / %.1f MB (svplay / nginx)\n", r, $1, $2, $3, $4, $5 / 1024, $6 / 1024 }'
  stop_all
done
bench_stop_nginx

echo
echo "medians of $runs runs, svplay beside nginx serving static HLS of the same title"
col() { bench_column_median "$work/runs" "$1"; }
bench_line "CPU idle for ${idle_seconds} s, % of a core" "$(col 1)" "$(col 2)" nan % "figure<" 0.1
bench_line "CPU, ${cpu_seconds} s of real-time play, %" "$(col 3)" "$(col 4)" \
  "$(bench_paired_ratio "$work/runs" 3 4)" % "figure<" 1
mb() { awk -v k="$1" 'BEGIN { printf "%.3f", k / 1024 }'; }
bench_line "peak resident, read + $seeks seeks, MB" "$(mb "$(col 5)")" "$(mb "$(col 6)")" \
  "$(bench_paired_ratio "$work/runs" 5 6)" MB "figure<" 64
awk -v a="$(col 7)" -v b="$(col 8)" 'BEGIN {
  printf "svplay resident after the read-through %.1f MB, after the seeks %.1f MB: flat (within 8 MB): %s\n",
         a / 1024, b / 1024, (b - a < 8192) ? "yes" : "NO" }'
