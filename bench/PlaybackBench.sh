#!/usr/bin/env bash
# svplay against its goals, with ffmpeg as the player:
#   bench/PlaybackBench.sh [-b BUILD_DIR] [-n RUNS] [-t SECONDS] [-i SECONDS] [-k SEEKS]
#   - start -> first playlist byte: svplay started, its URL read, the playlist asked for until
#     its first byte arrives (median of RUNS, 5 by default; goal < 300 ms);
#   - cold seek to 60 s: on a freshly started svplay, after the playlist, the first byte of the
#     segment that holds 60 s as curl sees it (median of RUNS; goal < 1.5 s);
#   - idle CPU: svplay started and asked nothing for -i SECONDS (30 by default) after 3 s to
#     settle: the run time of its threads from /proc/PID/task/*/schedstat over the wall time
#     (goal < 0.1 % of one core);
#   - engine CPU while `ffmpeg -re` reads at real-time speed for SECONDS (60 by default): svplay's
#     user + system time from /proc/PID/stat over the wall time (goal < 1 % of one core);
#   - memory: a 10-minute title read through, then SEEKS (100 by default) cold seeks to random
#     places: svplay's peak resident size (VmHWM), and its resident size after the read-through
#     beside the one after the seeks (goal: flat, under 64 MB).
# The 10-minute title (640x360, 2 s GOPs, AAC) is made once with ffmpeg and mktitle and kept in
# BUILD_DIR/bench. Not part of the test suite: it takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
runs=5
cpu_seconds=60
seeks=100
idle_seconds=30
usage() { sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; }
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
trap 'stop_all; rm -rf "$work"' EXIT

now() { date +%s.%N; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p=$((30000 + RANDOM % 20000))
  while listening "$p"; do p=$((p + 1)); done
  echo "$p"
}
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v < g) ? "ok" : "OVER" }'; }

# Starts svplay on the title; sets pid and url.
start_svplay() {
  stop_all
  local port
  port=$(free_port)
  "$svplay" "$title" --port "$port" >"$work/svplay.out" 2>"$work/svplay.err" &
  pid=$!
  url=""
  local tries=0
  until [[ -n "$url" ]]; do
    url=$(head -n 1 "$work/svplay.out" 2>/dev/null || true)
    [[ -n "$url" ]] && break
    if ! kill -0 "$pid" 2>/dev/null || ((++tries > 20000)); then
      echo "svplay did not start:" >&2
      cat "$work/svplay.err" >&2
      exit 1
    fi
    sleep 0.001
  done
}
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
status_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

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

# 2. CPU while idle: nothing asked. The threads' own run times in nanoseconds (the ticks of
# /proc/PID/stat are 10 ms, too coarse for a tenth of a percent); the threads live throughout.
run_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
start_svplay
sleep 3
before=$(run_ns "$pid")
start=$(now)
sleep "$idle_seconds"
after=$(run_ns "$pid")
end=$(now)
idle=$(awk -v a="$after" -v b="$before" -v s="$start" -v e="$end" \
  'BEGIN { printf "%.3f", (a - b) / 1e9 / (e - s) * 100 }')
printf "%-52s %10s %%    goal < 0.1 %%     %s\n" "engine CPU while idle for ${idle_seconds} s" \
  "$idle" "$(verdict "$idle" 0.1)"

# 3. CPU while a player reads at real-time speed.
start_svplay
clk=$(getconf CLK_TCK)
before=$(ticks "$pid")
start=$(now)
ffmpeg -nostdin -v error -re -i "$url" -t "$cpu_seconds" -map 0 -c copy -f null - 2>"$work/cpu.err" ||
  { echo "ffmpeg -re failed: $(head -c 300 "$work/cpu.err")" >&2; exit 1; }
after=$(ticks "$pid")
end=$(now)
cpu=$(awk -v t=$((after - before)) -v c="$clk" -v s="$start" -v e="$end" \
  'BEGIN { printf "%.2f", t / c / (e - s) * 100 }')
printf "%-52s %10s %%    goal < 1 %%       %s\n" "engine CPU during ${cpu_seconds} s of real-time play" \
  "$cpu" "$(verdict "$cpu" 1)"

# 4. Memory over a read-through and random seeks (the same svplay, still warm from step 2).
( while kill -0 "$pid" 2>/dev/null; do status_kb "$pid" VmRSS; sleep 0.5; done ) >"$work/rss.kb" &
sampler=$!
ffmpeg -nostdin -v error -i "$url" -map 0 -c copy -f null - 2>"$work/read.err" ||
  { echo "ffmpeg read-through failed: $(head -c 300 "$work/read.err")" >&2; exit 1; }
rss_read=$(status_kb "$pid" VmRSS)
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$url" | cut -d. -f1)
for _ in $(seq "$seeks"); do
  at=$((RANDOM % (duration - 4)))
  ffmpeg -nostdin -v error -ss "$at" -i "$url" -map 0:v -frames:v 1 -f null - 2>>"$work/seek.err" ||
    { echo "seek to $at s failed: $(tail -c 300 "$work/seek.err")" >&2; exit 1; }
done
rss_seeks=$(status_kb "$pid" VmRSS)
hwm=$(status_kb "$pid" VmHWM)
kill "$sampler" 2>/dev/null || true
wait "$sampler" 2>/dev/null || true
sampler=""
low=$(sort -n "$work/rss.kb" | head -n 1)
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
printf "%-52s %10s MB   goal < 64 MB     %s\n" "peak resident size (VmHWM), read-through + $seeks seeks" \
  "$(mb "$hwm")" "$(verdict "$(mb "$hwm")" 64)"
printf "%-52s %10s MB   (lowest sample %s MB)\n" "resident after the read-through" "$(mb "$rss_read")" "$(mb "$low")"
printf "%-52s %10s MB   flat: within 8 MB of the read-through: %s\n" "resident after the seeks" \
  "$(mb "$rss_seeks")" "$(awk -v a="$rss_read" -v b="$rss_seeks" 'BEGIN { print (b - a < 8192) ? "yes" : "NO" }')"
stop_all
