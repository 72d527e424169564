#!/usr/bin/env bash
# svplay against its goals, with ffmpeg as the player, beside nginx serving static HLS of the
# same title (ffmpeg-made, 2 s segments) read by the same player at the same pace:
#   bench/PlaybackBench.sh [-h] [-b BUILD] [-n RUNS] [-t SECONDS] [-i SECONDS] [-k SEEKS] [TITLE]
# -b: the build folder (build by default); -n: the runs (3 by default). It builds what it runs
# (cmake --build BUILD --target svplay mktitle svremux).
#   - start -> first playlist byte: svplay started, its URL read, the playlist asked for until
#     its first byte arrives (goal < 300 ms), and svplay's CPU from its start until then;
#   - cold seek to 60 s: on a freshly started svplay, after the playlist, the first byte of the
#     segment that holds 60 s as curl sees it (goal < 1.5 s), and svplay's CPU meanwhile;
#   - idle CPU: svplay and nginx asked nothing for -i SECONDS (10 by default; svplay after 3 s
#     to settle), over the wall time (goal < 0.1 % of one core);
#   - CPU while `ffmpeg -re` reads at real-time speed for SECONDS (30 by default), over the
#     wall time (goal < 1 % of one core), with the ratio to nginx's taken run by run;
#   - memory: a 10-minute title read through, then SEEKS (100 by default) cold seeks to random
#     places (the same on both sides): the peak resident size (VmHWM; goal under 64 MB), and
#     svplay's resident size once the read-through has ended, before the seeks, beside its peak
#     during the seeks (flat: the peak less than 8 MB above it), and the CPU and wall time each
#     side spent on the read and the seeks. MB are 10^6 bytes.
# CPU is perf's task-clock (10 us resolution) of every thread of the server, those that ended
# included (a connection's thread ends when its player leaves), over the span measured; a
# reading of zero where the server had work to do stops the script as an error. Idle, a server
# that did not run at all reads a true 0 (nginx asleep in its wait): its ratio is then none,
# said beside the figure, which is judged against its goal alone.
# Every figure is the median of RUNS runs (3 by default), each ratio the median of the
# run-by-run ratios, printed to 3 decimals; goals are judged on the printed figure.
# The 10-minute title (640x360, 2 s GOPs, AAC) is made once with ffmpeg and mktitle and kept in
# BUILD/bench; TITLE plays another (for example the 10-minute 720p title build/bench/RemuxBench
# caches in BUILD/fixtures), its static HLS cut from svremux's transport stream of it. Not
# part of the test suite: it takes several minutes. Exits 1 when a goal is missed or a figure
# cannot be taken, its last line saying how many goals were missed.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=3
cpu_seconds=30
seeks=100
idle_seconds=10
bench_own_options="t:i:k:"
bench_own_option() {
  [[ "$2" =~ ^[1-9][0-9]*$ ]] || return 1
  case "$1" in
    t) cpu_seconds="$2" ;;
    i) idle_seconds="$2" ;;
    k) seeks="$2" ;;
  esac
}
bench_options "$@"
set -- "${bench_arguments[@]}"
(($# <= 1)) || bench_usage_error "one TITLE at most"
for tool in ffmpeg ffprobe curl awk perf; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
bench_build svplay mktitle svremux || exit 2
svplay="$build/tools/svplay/svplay"
mktitle="$build/tools/mktitle/mktitle"

mkdir -p "$build/bench"
title="$build/bench/playback-10min.svm"
clip="$build/bench/playback-10min.ts"
static="$build/bench/playback-10min-hls"
if [[ -n "${1:-}" ]]; then
  [[ -f "$1" ]] || { echo "$1: no such file" >&2; exit 2; }
  title="$1"
elif [[ ! -s "$title" ]]; then
  echo "making the 10-minute 640x360 title once, with ffmpeg and $mktitle, into $build/bench"
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
stop_all() {
  if [[ -n "$pid" ]]; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  pid=""
}
trap 'stop_all; bench_stop_nginx; rm -rf "$work"' EXIT
if [[ -n "${1:-}" ]]; then
  clip="$work/source.ts"
  static="$work/static-hls"
  "$build/tools/svremux/svremux" "$title" -o "$clip"
fi

now() { date +%s.%N; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p=$((30000 + RANDOM % 20000))
  while listening "$p"; do p=$((p + 1)); done
  echo "$p"
}
median() { bench_median; }

# Starts svplay on the title; sets pid and url.
start_svplay() {
  stop_all
  # The new svplay's output file is made by its own process: the last one's lines must be gone
  # before its URL is looked for.
  rm -f "$work/svplay.out"
  bench_start_svplay "$svplay" "$title" "$(free_port)" "$work/svplay"
  pid=$bench_svplay_pid
  url=$bench_svplay_url
}
status_kb() { bench_status_kb "$@"; }

echo "title: $title ($(ffprobe -v error -show_entries format=duration -of csv=p=0 "$clip" 2>/dev/null || echo '?') s)"
echo

perf_ms() { bench_perf_ms "$1" nonzero; }
# Starts svplay on the title under perf, which counts it (every thread, and what it starts)
# from its start until "disable" is written to $work/start.ctl; sets pid, url and start_perf.
start_counted_svplay() {
  stop_all
  rm -f "$work/svplay.out" "$work/start.ctl" "$work/start.ack" "$work/start.perf"
  mkfifo "$work/start.ctl" "$work/start.ack"
  : >"$work/svplay.out"
  perf stat -x, -e task-clock --control "fifo:$work/start.ctl,$work/start.ack" -o "$work/start.perf" -- \
    "$svplay" "$title" --port "$(free_port)" >"$work/svplay.out" 2>"$work/svplay.err" &
  start_perf=$!
  local tries=0
  url=""
  until [[ -n "$url" ]]; do
    url=$(head -n 1 "$work/svplay.out")
    [[ -n "$url" ]] && break
    if ! kill -0 "$start_perf" 2>/dev/null || ((++tries > 20000)); then
      echo "svplay did not start:" >&2
      cat "$work/svplay.err" >&2
      exit 1
    fi
    sleep 0.001
  done
  pid=$(pgrep -P "$start_perf" -x svplay)
}

# 1. Start -> first playlist byte, and its CPU; then the cold seek on the same svplay.
for _ in $(seq "$runs"); do
  start=$(now)
  start_counted_svplay
  tries=0
  until curl -s -m 5 -o /dev/null --fail "$url"; do
    ((++tries < 20000)) || { echo "svplay never answered at $url" >&2; exit 1; }
    sleep 0.001
  done
  end=$(now)
  echo disable >"$work/start.ctl"
  read -r -t 30 _ <"$work/start.ack" || { echo "perf did not answer" >&2; exit 1; }
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", (e - s) * 1000 }' >>"$work/start.ms"
  # The segment that holds 60 s, asked for cold: nothing after the playlist has been read yet.
  curl -s -m 10 -o "$work/playlist.m3u8" "$url"
  segment=$(awk '/^#EXTINF:/ { split(substr($0, 9), d, ","); next_d = d[1]; next }
                 /^[^#]/ && NF { if (t + next_d > 60) { print; exit } t += next_d }' "$work/playlist.m3u8")
  [[ -n "$segment" ]] || { echo "the playlist holds no segment at 60 s" >&2; exit 1; }
  [[ "$segment" == http://* ]] || segment="${url%/*}/$segment"
  perf stat -x, -e task-clock -p "$pid" -o "$work/seek.perf" -- \
    curl -s -m 10 -o /dev/null --fail -w '%{time_starttransfer}\n' "$segment" |
    awk '{ printf "%.3f\n", $1 * 1000 }' >>"$work/seek.ms"
  perf_ms "$work/seek.perf" >>"$work/seek.cpu"
  stop_all
  wait "$start_perf" 2>/dev/null || true
  perf_ms "$work/start.perf" >>"$work/start.cpu"
done
start_ms=$(median <"$work/start.ms")
bench_judge "figure<" "$start_ms" 300 ms
printf "%-52s %10.3f ms, CPU %8.3f ms   %s\n" "svplay start -> first playlist byte (median of $runs)" \
  "$start_ms" "$(median <"$work/start.cpu")" "$bench_verdict"
seek_ms=$(median <"$work/seek.ms")
bench_judge "figure<" "$seek_ms" 1500 ms
printf "%-52s %10.3f ms, CPU %8.3f ms   %s\n" "cold seek: first byte of the segment at 60 s" \
  "$seek_ms" "$(median <"$work/seek.cpu")" "$bench_verdict"

# The peer: nginx serving ffmpeg-made static HLS of the same clip (2 s segments, cut once and
# kept beside the title), read by the same player at the same pace.
if [[ ! -s "$static/index.m3u8" ]]; then
  rm -rf "$static.part" && mkdir -p "$static.part"
  ffmpeg -nostdin -v error -y -i "$clip" -map 0 -c copy -f hls -hls_time 2 \
    -hls_playlist_type vod -hls_segment_filename "$static.part/%d.ts" "$static.part/index.m3u8"
  rm -rf "$static" && mv "$static.part" "$static"
fi
nginx_port=$(bench_free_port)
bench_start_nginx "$work/nginx" "$(cd "$static" && pwd)" "$nginx_port"
nginx_url="http://127.0.0.1:$nginx_port/index.m3u8"

# Counts the CPU of process PID (all its threads, those started and ended meanwhile included)
# from now on, under perf in the background; cpu_end NAME ends the count.
cpu_begin() {
  local name="$1" p="$2"
  rm -f "$work/$name.ctl" "$work/$name.ack"
  mkfifo "$work/$name.ctl" "$work/$name.ack"
  perf stat -x, -e task-clock -D -1 --control "fifo:$work/$name.ctl,$work/$name.ack" \
    -o "$work/$name.perf" -p "$p" 2>/dev/null &
  eval "perf_$name=\$!"
  echo enable >"$work/$name.ctl"
  read -r -t 30 _ <"$work/$name.ack" || { echo "perf did not start counting $p" >&2; exit 1; }
  eval "began_$name=\$(now)"
}
# Sets cpu_counted to "CPU_MS WALL_S" counted since cpu_begin NAME (not in a subshell: perf is
# this shell's child, reaped here once it has written its count).
cpu_end() {
  local name="$1" perf began ended ms
  echo disable >"$work/$name.ctl"
  read -r -t 30 _ <"$work/$name.ack" || { echo "perf did not stop counting" >&2; exit 1; }
  ended=$(now)
  eval "perf=\$perf_$name; began=\$began_$name"
  kill -INT "$perf" 2>/dev/null || true
  wait "$perf" 2>/dev/null || true
  ms=$(cpu_ms "$work/$name.perf")
  cpu_counted=$(awk -v m="$ms" -v s="$began" -v e="$ended" 'BEGIN { printf "%.3f %.6f\n", m, e - s }')
}
# The task-clock milliseconds in perf's output FILE. perf counts a process only while it runs:
# one that never ran in the span reads "<not counted>" with a running time of 0, which is a
# true 0 ms (an idle server asleep in its wait the whole time). Anything else that is not a
# number (a count that failed) stops the script.
cpu_ms() {
  local line
  line=$(awk -F, '$3 == "task-clock"' "$1")
  if awk -F, '$1 ~ /^[0-9.]+$/ { exit 0 } $1 == "<not counted>" && $4 == "0" { exit 0 } { exit 1 }' \
    <<<"$line"; then
    awk -F, '{ print ($1 ~ /^[0-9.]+$/) ? $1 : 0 }' <<<"$line"
  else
    echo "error: perf counted '${line%%,*}' ms of CPU in $1:" >&2
    cat "$1" >&2
    exit 1
  fi
}
# Fails the script on a CPU reading of zero: that pair has nothing to compare.
nonzero() {
  awk -v v="$2" 'BEGIN { exit (v + 0 > 0) ? 0 : 1 }' ||
    { echo "error: $1 read $2 ms of CPU; the pair cannot be compared" >&2; exit 1; }
}
# "% of a core" from "CPU_MS WALL_S".
percent() { awk '{ printf "%.6f", $1 / 1000 / $2 * 100 }' <<<"$1"; }
play_realtime() {
  ffmpeg -nostdin -v error -re -i "$1" -t "$cpu_seconds" -map 0 -c copy -f null - 2>"$work/cpu.err" ||
    { echo "ffmpeg -re failed on $1: $(head -c 300 "$work/cpu.err")" >&2; exit 1; }
}
# A read-through of URL, then (seek_all) SEEKS cold seeks to random places (the same places on
# both sides).
read_through() {
  ffmpeg -nostdin -v error -i "$1" -map 0 -c copy -f null - 2>"$work/read.err" ||
    { echo "ffmpeg read-through failed on $1: $(head -c 300 "$work/read.err")" >&2; exit 1; }
}
seek_all() {
  local at
  for at in "${seek_places[@]}"; do
    ffmpeg -nostdin -v error -ss "$at" -i "$1" -map 0:v -frames:v 1 -f null - 2>>"$work/seek.err" ||
      { echo "seek to $at s on $1 failed: $(tail -c 300 "$work/seek.err")" >&2; exit 1; }
  done
}

duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$clip" | cut -d. -f1)
# Columns of each run: svplay idle %, nginx idle %, svplay real-time %, nginx real-time %,
# svplay VmHWM kB, nginx VmHWM kB, svplay resident kB after the read-through, its peak
# resident kB during the seeks.
: >"$work/runs"
for ((r = 1; r <= runs; ++r)); do
  seek_places=()
  for _ in $(seq "$seeks"); do seek_places+=($((RANDOM % (duration - 4)))); done
  # Idle: nothing asked of either, measured over the same span after 3 s to settle.
  start_svplay
  sleep 3
  cpu_begin svidle "$pid"
  cpu_begin ngidle "$bench_nginx_pid"
  sleep "$idle_seconds"
  cpu_end svidle
  idle_sv=$cpu_counted
  cpu_end ngidle
  idle_ng=$cpu_counted
  # Real-time play: the engine's CPU over the wall time, then nginx's for the same read.
  cpu_begin svrt "$pid"
  play_realtime "$url"
  cpu_end svrt
  rt_sv=$cpu_counted
  cpu_begin ngrt "$bench_nginx_pid"
  play_realtime "$nginx_url"
  cpu_end ngrt
  rt_ng=$cpu_counted
  nonzero "svplay at real time" "${rt_sv% *}"
  nonzero "nginx at real time" "${rt_ng% *}"
  # Memory: a fresh svplay through the read and the seeks; nginx's peak over the same reads.
  start_svplay
  cpu_begin svseek "$pid"
  read_through "$url"
  # Resident once the read-through has ended, before any seek; then the peak mark is set back
  # to it (clear_refs 5), so that the peak read after the seeks is theirs alone, however short
  # it was. The peak of the whole run is the larger of the two peaks.
  rss_read=$(status_kb "$pid" VmRSS)
  hwm_read=$(status_kb "$pid" VmHWM)
  echo 5 2>/dev/null >"/proc/$pid/clear_refs" ||
    { echo "cannot set svplay's peak resident mark back (/proc/$pid/clear_refs)" >&2; exit 1; }
  seek_all "$url"
  cpu_end svseek
  rs_sv=$cpu_counted
  hwm_seeks=$(status_kb "$pid" VmHWM)
  hwm_sv=$((hwm_read > hwm_seeks ? hwm_read : hwm_seeks))
  cpu_begin ngseek "$bench_nginx_pid"
  read_through "$nginx_url"
  seek_all "$nginx_url"
  cpu_end ngseek
  rs_ng=$cpu_counted
  nonzero "svplay over the read and seeks" "${rs_sv% *}"
  nonzero "nginx over the read and seeks" "${rs_ng% *}"
  hwm_ng=$(status_kb "$bench_nginx_pid" VmHWM)
  # Columns 9-20: CPU ms and wall s of svplay idle, nginx idle, svplay real time, nginx real
  # time, svplay read + seeks, nginx read + seeks.
  echo "$(percent "$idle_sv") $(percent "$idle_ng") $(percent "$rt_sv") $(percent "$rt_ng") $hwm_sv $hwm_ng $rss_read $hwm_seeks $idle_sv $idle_ng $rt_sv $rt_ng $rs_sv $rs_ng" | tee -a "$work/runs" |
    awk -v r="$r" '{ printf "run %d (svplay / nginx): idle %.3f / %.3f ms CPU in %.3f / %.3f s; real time %.3f / %.3f ms CPU in %.3f / %.3f s; read + seeks %.3f / %.3f ms CPU in %.3f / %.3f s, peak %.1f / %.1f MB\n", r, $9, $11, $10, $12, $13, $15, $14, $16, $17, $19, $18, $20, $5 * 1024 / 1e6, $6 * 1024 / 1e6 }'
  stop_all
done
bench_stop_nginx

echo
echo "medians of $runs runs, svplay beside nginx serving static HLS of the same title (ratio: median of the run-by-run ratios)"
col() { bench_column_median "$work/runs" "$1"; }
# The ratio of columns A and B run by run; "none" when the peer read zero in a run (printed as
# an error beside the figures: that pair has no ratio), or, with "idle" as the third argument,
# "idle": a peer that did not run at all while it was asked nothing has no ratio to give, which
# is no fault of the measure.
ratio() {
  awk -v a="$1" -v b="$2" '$b + 0 <= 0 { zero = 1 } { print $a / ($b + 0 > 0 ? $b : 1) }
    END { exit zero }' "$work/runs" >"$work/ratios" || { echo "${3:-none}"; return; }
  bench_median <"$work/ratios"
}
# LABEL UNIT FIGURE PEER RATIO [KIND GOAL]: the goal judged on the figure as printed (3 decimals).
# A ratio of "none" is an error, counted as one; "idle" is said, the figure judged alone.
line() {
  bench_judge "${6:--}" "$3" "${7:-}" "$2"
  [[ "$5" != none ]] || bench_tally error
  awk -v l="$1" -v u="$2" -v f="$3" -v p="$4" -v r="$5" -v v="$bench_verdict" 'BEGIN {
    if (r == "none") rs = "  ERROR: the peer read 0 ms in a run, no ratio"
    else if (r == "idle") rs = "  none: the peer did not run at all in a run"
    else rs = sprintf("%7.3f", r)
    printf "%-48s %10.3f %-3s peer %10.3f %-3s ratio %s   %s\n", l, f, u, p, u, rs, v }'
}
line "CPU idle for ${idle_seconds} s, % of a core" % "$(col 1)" "$(col 2)" "$(ratio 1 2 idle)" "figure<" 0.1
line "  its CPU, ms" ms "$(col 9)" "$(col 11)" "$(ratio 9 11 idle)"
line "CPU, ${cpu_seconds} s of real-time play, % of a core" % "$(col 3)" "$(col 4)" "$(ratio 3 4)" "figure<" 1
line "  its CPU, ms" ms "$(col 13)" "$(col 15)" "$(ratio 13 15)"
line "  its wall time, s" s "$(col 14)" "$(col 16)" "$(ratio 14 16)"
line "read-through + $seeks seeks, CPU ms" ms "$(col 17)" "$(col 19)" "$(ratio 17 19)"
line "  its wall time, s" s "$(col 18)" "$(col 20)" "$(ratio 18 20)"
line "peak resident, read + $seeks seeks, MB" MB "$(bench_kb_mb "$(col 5)")" "$(bench_kb_mb "$(col 6)")" "$(ratio 5 6)" "figure<" 64
# Flat: the seeks' peak over the resident size the read-through left, judged run by run at its
# worst (a run that grew is not hidden by the others' median).
: >"$work/growth"
while read -r -a run; do
  printf '%s\n' "${run[6]}" "${run[7]}" | bench_peak_growth >>"$work/growth"
done <"$work/runs"
growth_mb=$(bench_kb_mb "$(sort -g "$work/growth" | tail -n 1)")
bench_judge "figure<" "$growth_mb" 8 MB
awk -v a="$(bench_kb_mb "$(col 7)")" -v b="$(bench_kb_mb "$(col 8)")" -v g="$growth_mb" -v v="$bench_verdict" 'BEGIN {
  printf "svplay resident after the read-through %.3f MB, peak during the seeks %.3f MB (medians); growth at worst %.3f MB   %s\n", a, b, g, v }'
bench_finish
