#!/usr/bin/env bash
# Measures svremux reading a title from nginx against ffmpeg stream-copying the MP4 of the same
# media from the same nginx to MPEG-TS (what a user holding the media would run), unthrottled
# and under a rate limit, and svremux reading the same title from its file, in one run:
#   bench/remux_http_vs_ffmpeg.sh [-h] [-b BUILD] [-n RUNS] [-r BYTES_PER_SECOND] [-p PORT]
#                                 [-m MP4] [TITLE]
# -b: the build folder (build by default); -n: the runs (5 by default). It builds what it runs
# (cmake --build BUILD --target svremux RunMeasured).
# nginx is started on a free loopback port (-p: that port) with its own configuration in a
# temporary folder and serves the title and the MP4 twice: as they are, and under /limited/
# with limit_rate per response (-r, 50000000 by default). It counts as started once its pid
# file names it, never on a mere answer. Both write to /dev/null, after one checked run each:
# svremux's output over HTTP is the same bytes as from the file, and ffmpeg's holds the MP4's
# packets per stream (counted by ffprobe), as svremux's does. Each pair runs in turn (svremux,
# ffmpeg, svremux, ...) under build/bench/RunMeasured: RUNS runs each (5 by default) after a
# warm-up. Prints the medians of CPU seconds (user + system, all threads, to the microsecond),
# wall seconds and peak resident memory (MB of 10^6 bytes), and svremux's CPU and wall over
# ffmpeg's, each the median of the ratios taken pair by pair (goal: CPU at most 1.00 in both
# modes, wall at most 1.00 unthrottled; svremux over HTTP's peak: under 32 MB). Under the limit
# both sides wait on nginx, so the wall ratio there is the ratio of the two files' sizes: it is
# printed for information, not judged. Without TITLE it takes the 10-minute title that
# build/bench/RemuxBench makes and caches, and the MP4 it caches beside it (made by running it
# once when missing: a few minutes); with TITLE, -m names the MP4 of the same media. Exits 1
# when a goal is missed or a figure cannot be taken, its last line saying how many.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=5
rate=50000000
port=""
mp4=""
bench_own_options="r:p:m:"
bench_own_option() {
  case "$1" in
    r) rate="$2" ;;
    p) port="$2" ;;
    m) mp4="$2" ;;
  esac
}
bench_options "$@"
set -- "${bench_arguments[@]}"
(($# <= 1)) || bench_usage_error "one TITLE at most"
[[ "$rate" =~ ^[1-9][0-9]*$ ]] || { echo "BYTES_PER_SECOND must be a positive whole number" >&2; exit 2; }
[[ -z "$port" || ( "$port" =~ ^[1-9][0-9]{0,4}$ && "$port" -le 65535 ) ]] || { echo "PORT must be 1 to 65535" >&2; exit 2; }
[[ "$build" == /* ]] || build="$(pwd)/$build"

bench_build svremux RunMeasured || exit 2
bench_need_title "$build" "${1:-}" || exit 2
title=$(bench_title "$build" "${1:-}") || exit 2
svremux="$build/tools/svremux/svremux"
nginx=/usr/sbin/nginx
[[ -x "$nginx" ]] || { echo "$nginx is missing: run scripts/deps" >&2; exit 2; }
for tool in ffmpeg ffprobe awk curl; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/remuxhttp.XXXXXX)
nginx_pid=""
cleanup() {
  if [[ -n "$nginx_pid" ]]; then
    kill -TERM "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# nginx on a free loopback port below the ephemeral range, serving the title's folder.
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
if [[ -z "$port" ]]; then
  port=$((20100 + RANDOM % 12000))
  while listening "$port"; do port=$((port + 1)); done
fi
mkdir -p "$work/www"
ln -s "$title" "$work/www/title.svm"
{
  echo "daemon off; master_process off; worker_processes 1;"
  echo "pid $work/nginx.pid; error_log $work/error.log;"
  echo "events { worker_connections 64; }"
  echo "http { access_log off; sendfile on; default_type application/octet-stream;"
  for t in client_body proxy fastcgi uwsgi scgi; do echo "  ${t}_temp_path $work/$t;"; done
  echo "  server { listen 127.0.0.1:$port; root $work/www;"
  echo "    location /limited/ { alias $work/www/; limit_rate $rate; } } }"
} >"$work/nginx.conf"
"$nginx" -q -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
nginx_pid=$!
# nginx writes its pid file once it listens, and ends without it when it cannot bind: another
# process may have taken the port since the check above, and its answers must not count.
started() { [[ "$(cat "$work/nginx.pid" 2>/dev/null)" == "$nginx_pid" ]]; }
for _ in $(seq 1000); do
  started && break
  kill -0 "$nginx_pid" 2>/dev/null || break
  sleep 0.01
done
started || { echo "nginx did not start:" >&2; cat "$work/error.log" >&2; exit 1; }
# The MP4 and the clock are looked for only once nginx runs: a stranger on the port is the
# first thing reported.
mp4=$(bench_title_mp4 "$build" "${1:-}" "$mp4") || exit 2
bench_use_build "$build" || exit 2
ln -s "$mp4" "$work/www/title.mp4"
url="http://127.0.0.1:$port/title.svm"
limited="http://127.0.0.1:$port/limited/title.svm"
mp4_url="http://127.0.0.1:$port/title.mp4"
mp4_limited="http://127.0.0.1:$port/limited/title.mp4"
size=$(stat -L -c %s "$title")
mp4_size=$(stat -L -c %s "$mp4")

# The measured runs write to /dev/null on both sides: a file that already exists would be
# replaced by svremux (written beside, flushed, renamed) but truncated by ffmpeg, and the disk's
# writeback would then be what the figures compare.
remux_http() { echo "$svremux $1 -o /dev/null"; }
cmd_file="$svremux $title -o /dev/null"
ffmpeg_http() { echo "ffmpeg -nostdin -v error -y -i $1 -map 0 -c copy -f mpegts /dev/null"; }

# One check first: svremux writes the same bytes over HTTP (both ways) as from the file, and
# its output and ffmpeg's (over HTTP, both ways) hold the MP4's packets.
mp4_counts=$(bench_packet_counts "$mp4" "$work")
$svremux "$title" -o "$work/file.ts"
[[ "$(bench_packet_counts "$work/file.ts" "$work")" == "$mp4_counts" ]] ||
  { echo "svremux's output and the MP4 hold different packets: not the same media" >&2; exit 1; }
for u in "$url" "$limited"; do
  $svremux "$u" -o "$work/http.ts"
  cmp -s "$work/http.ts" "$work/file.ts" || { echo "svremux over HTTP ($u) and from the file differ" >&2; exit 1; }
  rm -f "$work/http.ts"
done
rm -f "$work/file.ts"
for u in "$mp4_url" "$mp4_limited"; do
  ffmpeg -nostdin -v error -y -i "$u" -map 0 -c copy -f mpegts "$work/ff.ts"
  [[ "$(bench_packet_counts "$work/ff.ts" "$work")" == "$mp4_counts" ]] ||
    { echo "ffmpeg's copy of $u does not hold the MP4's packets" >&2; exit 1; }
  rm -f "$work/ff.ts"
done

# Measures command A (and B, when given) RUNS times each, in turn after a warm-up of each, and
# prints the medians as "A_CPU A_WALL A_PEAK_MB B_CPU B_WALL B_PEAK_MB RATIO_CPU RATIO_WALL"
# (B's and the ratios "-" without B); each ratio is the median of the pairs' ratios.
measure() {
  local a="$1" b="${2:-}" i
  : >"$work/a.runs"
  : >"$work/b.runs"
  for ((i = 0; i <= runs; ++i)); do  # run 0 is the warm-up
    # shellcheck disable=SC2086
    bench_time_to "$work/a.runs" $a
    # shellcheck disable=SC2086
    [[ -z "$b" ]] || bench_time_to "$work/b.runs" $b
    if ((i == 0)); then : >"$work/a.runs"; : >"$work/b.runs"; fi
  done
  local ac aw ap bc bw bp rc rw
  ac=$(bench_column_median "$work/a.runs" 1)
  aw=$(bench_column_median "$work/a.runs" 2)
  ap=$(awk '{ print $3 * 1024 / 1e6 }' "$work/a.runs" | bench_median)
  if [[ -n "$b" ]]; then
    bc=$(bench_column_median "$work/b.runs" 1)
    bw=$(bench_column_median "$work/b.runs" 2)
    bp=$(awk '{ print $3 * 1024 / 1e6 }' "$work/b.runs" | bench_median)
    paste -d ' ' "$work/a.runs" "$work/b.runs" >"$work/pairs"
    # "error" when a peer read 0: bench_line reports it.
    rc=$(bench_paired_ratio "$work/pairs" 1 4) || true
    rw=$(bench_paired_ratio "$work/pairs" 2 5) || true
  else
    bc=- bw=- bp=- rc=- rw=-
  fi
  echo "$ac $aw $ap $bc $bw $bp $rc $rw"
}

# Each through a variable, so that a failed run stops the script.
m=$(measure "$(remux_http "$url")" "$(ffmpeg_http "$mp4_url")")
read -r hc hw hp fc fw fp hr hwr <<<"$m"
m=$(measure "$(remux_http "$limited")" "$(ffmpeg_http "$mp4_limited")")
read -r lc lw lp gc gw gp lr lwr <<<"$m"
m=$(measure "$cmd_file")
read -r xc xw xp _ <<<"$m"

awk -v title="$title" -v size="$size" -v mp4="$mp4" -v mp4size="$mp4_size" -v runs="$runs" -v rate="$rate" 'BEGIN {
  printf "title    %s (%.1f MB)\n", title, size / 1e6
  printf "MP4      %s (%.1f MB), the same media, read by ffmpeg\n", mp4, mp4size / 1e6
  printf "%d runs each, medians; CPU: user + system, all threads; limited: %d B/s per response\n", runs, rate
  printf "%-38s %9s %9s %10s\n", "", "CPU s", "wall s", "peak MB"
}'
row() { awk -v n="$1" -v c="$2" -v w="$3" -v p="$4" 'BEGIN { printf "%-38s %9.3f %9.3f %10.1f\n", n, c, w, p }'; }
row "svremux from nginx" "$hc" "$hw" "$hp"
row "ffmpeg -c copy of the MP4 from nginx" "$fc" "$fw" "$fp"
row "svremux from nginx, limited" "$lc" "$lw" "$lp"
row "ffmpeg -c copy of the MP4, limited" "$gc" "$gw" "$gp"
row "svremux from the file" "$xc" "$xw" "$xp"
bench_line "svremux over HTTP, CPU s (peer ffmpeg)" "$hc" "$fc" "$hr" s "ratio<=" 1.00
bench_line "svremux over HTTP, wall s (peer ffmpeg)" "$hw" "$fw" "$hwr" s "ratio<=" 1.00
bench_line "same, limited, CPU s (peer ffmpeg)" "$lc" "$gc" "$lr" s "ratio<=" 1.00
# Both sides capped by nginx: the wall ratio is the file sizes' ratio, so it is not judged.
bench_line "same, limited, wall s (peer ffmpeg)" "$lw" "$gw" "$lwr" s - -
peak=$(awk -v a="$hp" -v b="$lp" 'BEGIN { m = (a > b) ? a : b; printf "%.3f", m }')
peer_peak=$(awk -v a="$fp" -v b="$gp" 'BEGIN { m = (a > b) ? a : b; printf "%.3f", m }')
bench_line "svremux over HTTP, peak MB (peer ffmpeg)" "$peak" "$peer_peak" \
  "$(awk -v a="$peak" -v b="$peer_peak" 'BEGIN { printf "%.3f", a / b }')" MB "figure<" 32
bench_line "svremux over HTTP / from the file, CPU s" "$hc" "$xc" \
  "$(awk -v a="$hc" -v b="$xc" 'BEGIN { printf "%.3f", a / b }')" s - -
bench_line "svremux over HTTP / from the file, wall s" "$hw" "$xw" \
  "$(awk -v a="$hw" -v b="$xw" 'BEGIN { printf "%.3f", a / b }')" s - -
bench_finish
