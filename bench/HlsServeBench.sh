#!/usr/bin/env bash
# svplay serving a title as HLS on loopback, beside what a user would run instead: ffmpeg cutting
# HLS segments from an MP4 of the same media (`-c copy -f hls`, 2 s segments) and nginx serving
# them (sendfile, one single-threaded process), and beside that nginx alone serving the
# segments once they are made:
#   bench/HlsServeBench.sh [-h] [-b BUILD] [-n RUNS] [TITLE]
# -b: the build folder (build by default); -n: the runs (5 by default). It builds what it runs
# (cmake --build BUILD --target svplay svremux).
# TITLE: by default the 10-minute 1280x720 title (4.8 Mbit/s) build/bench/RemuxBench caches in
# BUILD/fixtures (made by running it once when missing: a few minutes). The MP4 is svremux's transport stream
# of the title put into MP4 by ffmpeg, once, untimed.
# Each run measures, svplay and its peer in turn:
#   - start -> first playlist byte: svplay started until its playlist's first byte, beside
#     ffmpeg started on the MP4 (an event playlist) until nginx hands out its first playlist
#     byte (goal for svplay < 300 ms);
#   - cold seek: on a fresh svplay, after the playlist and the first segment, the first byte
#     of the segment that holds 60 s as curl sees it, beside nginx's first byte of the same
#     ffmpeg-made segment (goal for svplay < 1500 ms);
#   - `ffmpeg -c copy` reading the whole title from a fresh svplay, beside ffmpeg cutting the
#     MP4 into HLS and then the same read from nginx (the wall time of both steps, the CPU of
#     the cutting ffmpeg and of nginx), and beside nginx's part alone; goal for svplay: at
#     least 20 times real time, and at most 0.8 ms of CPU per 1.2 MB of segments it sent;
#   - svplay's whole life (start, the whole read, stop) beside the cutting plus nginx's read.
# CPU is perf's task-clock (10 us resolution) of every thread of the process, those that ended
# included, and of the processes it started: for a command the whole of its run, for a server
# the span of what it was asked (`perf stat -p PID -- COMMAND`), or the span up to a moment
# (perf's control fifo). A CPU reading of zero stops the script as an error.
# Each figure is the median of RUNS runs (5 by default), each ratio the median of the
# run-by-run ratios, printed to 3 decimals; a goal is judged on the printed figure. Exits 1
# when a goal is missed, its last line saying how many of them.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=5
bench_options "$@"
set -- "${bench_arguments[@]}"
(($# <= 1)) || bench_usage_error "one TITLE at most"
for tool in ffmpeg ffprobe curl awk python3 perf; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
bench_build svplay svremux || exit 2
svplay="$build/tools/svplay/svplay"
svremux="$build/tools/svremux/svremux"
bench_need_title "$build" "${1:-}" || exit 2
title=$(bench_title "$build" "${1:-}") || exit 2

work=$(mktemp -d /tmp/svhlsbench.XXXXXX)
sv_pid=""
sv_perf=""
stop_svplay() {
  if [[ -n "$sv_pid" ]]; then
    kill -TERM "$sv_pid" 2>/dev/null || true
  fi
  if [[ -n "$sv_perf" ]]; then
    wait "$sv_perf" 2>/dev/null || true
  fi
  sv_pid=""
  sv_perf=""
}
trap 'stop_svplay; bench_stop_nginx; rm -rf "$work"' EXIT

now() { date +%s.%N; }
ms_between() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.3f\n", (e - s) * 1000 }'; }
perf_ms() { bench_perf_ms "$1"; }
# Runs COMMAND under perf counting processes PIDS (comma-separated) meanwhile; the milliseconds
# go to OUT.ms, the command's output where it goes.
cpu_of_during() {
  local pids="$1" out="$2"
  shift 2
  perf stat -x, -e task-clock -p "$pids" -o "$out.perf" -- "$@"
  perf_ms "$out.perf" >"$out.ms"
}
# Starts COMMAND in the background under perf, counting it and all it starts from its start on;
# `perf_stop_counting OUT` ends the count (the command runs on), and OUT.perf holds the count
# once perf has ended with the command. Sets counted_pid (perf's pid).
count_from_start() {
  local out="$1"
  shift
  rm -f "$out.ctl" "$out.ack"
  mkfifo "$out.ctl" "$out.ack"
  perf stat -x, -e task-clock --control "fifo:$out.ctl,$out.ack" -o "$out.perf" -- "$@" &
  counted_pid=$!
}
perf_stop_counting() {
  echo disable >"$1.ctl"
  read -r -t 30 _ <"$1.ack" || { echo "perf did not answer on $1.ack" >&2; exit 1; }
}
# Fails the script on a CPU reading of zero: such a pair has nothing to compare.
nonzero() {
  awk -v v="$2" 'BEGIN { exit (v + 0 > 0) ? 0 : 1 }' ||
    { echo "error: $1 read $2 ms of CPU; the pair cannot be compared" >&2; exit 1; }
}

# svplay on the title under perf from its start, its output in $work/sv.out; sets sv_pid, sv_url
# and sv_started (the moment before the start).
start_svplay() {
  stop_svplay
  local port tries=0
  port=$(bench_free_port)
  : >"$work/sv.out"
  sv_started=$(now)
  count_from_start "$work/sv" "$svplay" "$title" --port "$port" >"$work/sv.out" 2>"$work/sv.err"
  sv_perf=$counted_pid
  sv_url=""
  until [[ -n "$sv_url" ]]; do
    sv_url=$(head -n 1 "$work/sv.out")
    [[ -n "$sv_url" ]] && break
    if ! kill -0 "$sv_perf" 2>/dev/null || ((++tries > 20000)); then
      echo "svplay did not start:" >&2
      cat "$work/sv.err" >&2
      exit 1
    fi
    sleep 0.001
  done
  sv_pid=$(pgrep -P "$sv_perf" -x svplay)
  [[ -n "$sv_pid" ]] || { echo "svplay's process not found under perf" >&2; exit 1; }
}
# Asks for URL until an answer arrives (the playlist may not exist yet).
first_answer() {
  local tries=0
  until curl -s -m 5 -o /dev/null --fail "$1"; do
    ((++tries < 20000)) || { echo "no answer from $1" >&2; exit 1; }
    sleep 0.001
  done
}
# The URL of the segment that holds 60 s in the media playlist at URL.
segment_at_60() {
  local segment
  segment=$(curl -s -m 10 --fail "$1" | awk '/^#EXTINF:/ { split(substr($0, 9), d, ","); next_d = d[1]; next }
      /^[^#]/ && NF { if (t + next_d > 60) { print; exit } t += next_d }')
  [[ -n "$segment" ]] || { echo "the playlist at $1 holds no segment at 60 s" >&2; exit 1; }
  [[ "$segment" == http://* ]] && echo "$segment" || echo "${1%/*}/$segment"
}
# Wall seconds of ffmpeg copying every stream of URL to nowhere, to OUT.s; the CPU of PIDS
# meanwhile to OUT.ms.
read_all() {
  local pids="$1" url="$2" out="$3" start end
  start=$(now)
  if ! cpu_of_during "$pids" "$out" ffmpeg -nostdin -v error -xerror -i "$url" -map 0 -c copy \
    -f null - 2>"$work/ffmpeg.err"; then
    echo "ffmpeg failed on $url:" >&2
    cat "$work/ffmpeg.err" >&2
    exit 1
  fi
  end=$(now)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }' >"$out.s"
}
# The bytes of every media segment an HLS URL lists (its variants' too), read once.
segment_bytes() {
  python3 - "$1" <<'PY'
import sys, urllib.parse, urllib.request
def lines(url):
    with urllib.request.urlopen(url, timeout=30) as r:
        return [l.strip() for l in r.read().decode().splitlines()]
def total(url):
    n = 0
    for l in lines(url):
        if not l or l.startswith("#"):
            continue
        u = urllib.parse.urljoin(url, l)
        if urllib.parse.urlparse(u).path.endswith(".m3u8"):
            n += total(u)
        else:
            with urllib.request.urlopen(u, timeout=30) as r:
                n += len(r.read())
    return n
print(total(sys.argv[1]))
PY
}
# ffmpeg cutting the MP4 into 2 s HLS segments in DIR (made afresh) with playlist TYPE; with
# OUT, counted by perf into OUT.perf.
cut_hls() {
  local dir="$1" type="$2" count=()
  [[ -n "${3:-}" ]] && count=(perf stat "-x," -e task-clock -o "$3.perf" --)
  rm -rf "$dir" && mkdir -p "$dir"
  "${count[@]}" ffmpeg -nostdin -v error -y -i "$mp4" -map 0 -c copy -f hls -hls_time 2 -hls_playlist_type "$type" \
    -hls_segment_filename "$dir/%d.ts" "$dir/index.m3u8"
}

# The MP4 of the same media, once.
"$svremux" "$title" -o "$work/source.ts"
mp4="$work/source.mp4"
ffmpeg -nostdin -v error -y -i "$work/source.ts" -map 0 -c copy "$mp4"
rm -f "$work/source.ts"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$mp4")

mkdir -p "$work/www"
nginx_port=$(bench_free_port)
bench_start_nginx "$work/nginx" "$work/www" "$nginx_port"
nginx_base="http://127.0.0.1:$nginx_port"
ng=$bench_nginx_pid
threads=(/proc/"$ng"/task/*)
((${#threads[@]} == 1)) || { echo "nginx runs more than one thread" >&2; exit 1; }

# The bytes each side sends for the whole title.
cut_hls "$work/www/hls" vod
ng_bytes=$(segment_bytes "$nginx_base/hls/index.m3u8")
start_svplay
sv_bytes=$(segment_bytes "$sv_url")
stop_svplay

echo "title: $title ($(printf '%.1f' "$duration") s; $(awk -v b="$sv_bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB of segments from svplay, $(awk -v b="$ng_bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB from ffmpeg's cut)"
echo "$runs runs; CPU: perf task-clock, ms"

# Columns of each run, 1-21:
#  1 svplay start wall ms, 2 its CPU ms; 3 peer start wall ms (ffmpeg + nginx), 4 its CPU ms;
#  5 svplay seek wall ms, 6 its CPU ms; 7 nginx seek wall ms, 8 its CPU ms;
#  9 svplay read wall s, 10 its CPU ms; 11 cut wall s, 12 cut CPU ms; 13 nginx read wall s,
#  14 nginx CPU ms; 15 cut + nginx wall s, 16 cut + nginx CPU ms; 17 svplay whole-life CPU ms;
#  18 svplay CPU ms per 1.2 MB; 19 cut + nginx per 1.2 MB; 20 nginx per 1.2 MB.
: >"$work/runs"
for ((r = 1; r <= runs; ++r)); do
  # svplay: start, then the cold seek on the same fresh process.
  start_svplay
  first_answer "$sv_url"
  sv_start_ms=$(ms_between "$sv_started" "$(now)")
  perf_stop_counting "$work/sv"
  seg=$(segment_at_60 "$sv_url")
  curl -s -m 10 --fail -o /dev/null "${sv_url%/*}/0.ts"
  sv_seek_ms=$(cpu_of_during "$sv_pid" "$work/svseek" curl -s -m 10 --fail -o /dev/null \
    -w '%{time_starttransfer}' "$seg" | awk '{ printf "%.3f", $1 * 1000 }')
  stop_svplay
  sv_start_cpu=$(perf_ms "$work/sv.perf")

  # The peer's start: ffmpeg cuts an event playlist; nginx answers once the playlist is there.
  rm -rf "$work/www/live" && mkdir -p "$work/www/live"
  ng_before=$(bench_thread_seconds "$ng")
  peer_started=$(now)
  count_from_start "$work/cut" ffmpeg -nostdin -v error -y -i "$mp4" -map 0 -c copy -f hls \
    -hls_time 2 -hls_playlist_type event -hls_segment_filename "$work/www/live/%d.ts" \
    "$work/www/live/index.m3u8" 2>"$work/cut.err"
  cut_perf=$counted_pid
  first_answer "$nginx_base/live/index.m3u8"
  peer_start_ms=$(ms_between "$peer_started" "$(now)")
  perf_stop_counting "$work/cut"
  ng_after=$(bench_thread_seconds "$ng")
  wait "$cut_perf" || { echo "ffmpeg's cut failed:" >&2; cat "$work/cut.err" >&2; exit 1; }
  peer_start_cpu=$(awk -v c="$(perf_ms "$work/cut.perf")" -v a="$ng_after" -v b="$ng_before" \
    'BEGIN { printf "%.3f", c + (a - b) * 1000 }')
  # nginx's cold seek: the same segment of the cut, made and in the page cache.
  seg=$(segment_at_60 "$nginx_base/live/index.m3u8")
  curl -s -m 10 --fail -o /dev/null "$nginx_base/live/0.ts"
  ng_seek_ms=$(cpu_of_during "$ng" "$work/ngseek" curl -s -m 10 --fail -o /dev/null \
    -w '%{time_starttransfer}' "$seg" | awk '{ printf "%.3f", $1 * 1000 }')

  # The whole read from a fresh svplay, counted from its start to its end as well.
  start_svplay
  read_all "$sv_pid" "$sv_url" "$work/svread"
  stop_svplay
  sv_life=$(perf_ms "$work/sv.perf")

  # The peer: the cut into a fresh folder, then nginx serving it to the same read.
  cut_start=$(now)
  cut_hls "$work/www/vod" vod "$work/vod"
  cut_wall=$(awk -v s="$cut_start" -v e="$(now)" 'BEGIN { printf "%.6f", e - s }')
  cut_cpu=$(perf_ms "$work/vod.perf")
  read_all "$ng" "$nginx_base/vod/index.m3u8" "$work/ngread"

  for v in "svplay start:$sv_start_cpu" "ffmpeg + nginx start:$peer_start_cpu" \
    "svplay seek:$(cat "$work/svseek.ms")" "nginx seek:$(cat "$work/ngseek.ms")" \
    "svplay read:$(cat "$work/svread.ms")" "ffmpeg cut:$cut_cpu" "nginx read:$(cat "$work/ngread.ms")" \
    "svplay life:$sv_life"; do
    nonzero "${v%%:*}" "${v##*:}"
  done
  awk -v svs="$sv_start_ms" -v svsc="$sv_start_cpu" -v ps="$peer_start_ms" -v psc="$peer_start_cpu" \
    -v svk="$sv_seek_ms" -v svkc="$(cat "$work/svseek.ms")" -v nk="$ng_seek_ms" -v nkc="$(cat "$work/ngseek.ms")" \
    -v svr="$(cat "$work/svread.s")" -v svrc="$(cat "$work/svread.ms")" -v cw="$cut_wall" -v cc="$cut_cpu" \
    -v nr="$(cat "$work/ngread.s")" -v nrc="$(cat "$work/ngread.ms")" -v life="$sv_life" \
    -v sb="$sv_bytes" -v nb="$ng_bytes" 'BEGIN {
    printf "%.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.6f %.3f %.6f %.3f %.6f %.3f %.6f %.3f %.3f %.6f %.6f %.6f\n",
      svs, svsc, ps, psc, svk, svkc, nk, nkc, svr, svrc, cw, cc, nr, nrc, cw + nr, cc + nrc, life,
      svrc * 1.2e6 / sb, (cc + nrc) * 1.2e6 / nb, nrc * 1.2e6 / nb }' >>"$work/runs"
  tail -n 1 "$work/runs" | awk -v r="$r" '{
    printf "run %d: start %.1f ms / %.3f ms CPU (ffmpeg + nginx %.1f / %.3f); seek %.1f / %.3f (nginx %.1f / %.3f);", r, $1, $2, $3, $4, $5, $6, $7, $8
    printf " read %.3f s / %.3f ms CPU (cut %.3f s / %.3f ms + nginx %.3f s / %.3f ms); svplay life %.3f ms\n", $9, $10, $11, $12, $13, $14, $17 }'
done

col() { bench_column_median "$work/runs" "$1"; }
ratio() { awk -v a="$2" -v b="$3" '$b > 0 { printf "%.6f\n", $a / $b }' "$1" | bench_median; }
# LABEL UNIT FIGURE PEER RATIO [KIND GOAL]: KIND "figure<", "figure<=" or "figure>=", judged on the
# figure as printed (3 decimals).
line() {
  bench_judge "${6:--}" "$3" "${7:-}" "$2"
  awk -v l="$1" -v u="$2" -v f="$3" -v p="$4" -v r="$5" -v v="$bench_verdict" 'BEGIN {
    printf "  %-64s %11.3f %-2s peer %11.3f %-2s ratio %7.3f   %s\n", l, f, u, p, u, r, v }'
}
echo
echo "medians of $runs runs (figure: svplay; peer as named; ratio: median of the run-by-run ratios)"
line "start -> first playlist byte, wall (ffmpeg -f hls + nginx)" ms "$(col 1)" "$(col 3)" "$(ratio "$work/runs" 1 3)" "figure<" 300
line "start -> first playlist byte, CPU (ffmpeg -f hls + nginx)" ms "$(col 2)" "$(col 4)" "$(ratio "$work/runs" 2 4)"
line "cold seek to 60 s -> first byte, wall (nginx, segments made)" ms "$(col 5)" "$(col 7)" "$(ratio "$work/runs" 5 7)" "figure<" 1500
line "cold seek to 60 s -> first byte, CPU (nginx, segments made)" ms "$(col 6)" "$(col 8)" "$(ratio "$work/runs" 6 8)"
line "whole-title read, wall (ffmpeg -f hls, then nginx)" s "$(col 9)" "$(col 15)" "$(ratio "$work/runs" 9 15)"
line "whole-title read, wall (nginx, segments made)" s "$(col 9)" "$(col 13)" "$(ratio "$work/runs" 9 13)"
awk -v d="$duration" -v w="$(col 9)" 'BEGIN { printf "%.3f\n", d / w }' >"$work/speed"
awk -v d="$duration" '{ printf "%.6f %.6f %.6f\n", d / $9, d / $15, d / $13 }' "$work/runs" >"$work/speeds"
line "whole-title read, times real time (ffmpeg -f hls, then nginx)" x "$(bench_column_median "$work/speeds" 1)" \
  "$(bench_column_median "$work/speeds" 2)" "$(ratio "$work/speeds" 1 2)" "figure>=" 20
line "whole-title read, CPU (ffmpeg -f hls + nginx)" ms "$(col 10)" "$(col 16)" "$(ratio "$work/runs" 10 16)"
line "whole-title read, CPU (nginx, segments made)" ms "$(col 10)" "$(col 14)" "$(ratio "$work/runs" 10 14)"
line "serving CPU per 1.2 MB sent (ffmpeg -f hls + nginx)" ms "$(col 18)" "$(col 19)" "$(ratio "$work/runs" 18 19)" "figure<=" 0.8
line "serving CPU per 1.2 MB sent (nginx, segments made)" ms "$(col 18)" "$(col 20)" "$(ratio "$work/runs" 18 20)" "figure<=" 0.8
line "svplay's life (start, read, stop), CPU (ffmpeg -f hls + nginx)" ms "$(col 17)" "$(col 16)" "$(ratio "$work/runs" 17 16)"
bench_finish
