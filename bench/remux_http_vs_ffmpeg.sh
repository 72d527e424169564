#!/usr/bin/env bash
# Measures svremux reading a title from nginx against ffmpeg's stream copy to MPEG-TS from nginx,
# unthrottled and under a rate limit, and svremux reading the same title from its file, in one
# run:
#   bench/remux_http_vs_ffmpeg.sh [-n RUNS] [-b BUILD_DIR] [-r BYTES_PER_SECOND] [-p PORT] [TITLE]
# nginx is started on a free loopback port (-p: that port) with its own configuration in a
# temporary folder and serves the title's folder twice: as it is, and under /limited/ with
# limit_rate per response (-r, 50000000 by default). It counts as started once its pid file
# names it, never on a mere answer. Both write to /dev/null. Each pair runs in turn (svremux,
# ffmpeg, svremux, ...) under GNU time: RUNS runs each (5 by default) after a warm-up. Prints the
# medians of CPU seconds (user + system), wall seconds and peak resident memory, and the median
# of svremux's CPU over ffmpeg's taken pair by pair (goal: at most 1.00 in both modes; svremux
# over HTTP's peak: under 32 MB). Without TITLE it takes the 10-minute title that
# build/bench/RemuxBench makes and caches (run that once first).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=5
build=build
rate=50000000
port=""
usage() { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; }
while getopts "n:b:r:p:h" opt; do
  case "$opt" in
    n) runs="$OPTARG" ;;
    b) build="$OPTARG" ;;
    r) rate="$OPTARG" ;;
    p) port="$OPTARG" ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive whole number" >&2; exit 2; }
[[ "$rate" =~ ^[1-9][0-9]*$ ]] || { echo "BYTES_PER_SECOND must be a positive whole number" >&2; exit 2; }
[[ -z "$port" || ( "$port" =~ ^[1-9][0-9]{0,4}$ && "$port" -le 65535 ) ]] || { echo "PORT must be 1 to 65535" >&2; exit 2; }
[[ "$build" == /* ]] || build="$(pwd)/$build"

title=$(bench_title "$build" "${1:-}") || exit 2
svremux="$build/tools/svremux/svremux"
[[ -x "$svremux" ]] || { echo "$svremux is not built" >&2; exit 2; }
nginx=/usr/sbin/nginx
[[ -x "$nginx" ]] || { echo "$nginx is missing: run scripts/deps" >&2; exit 2; }
for tool in ffmpeg awk curl; do
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
url="http://127.0.0.1:$port/title.svm"
limited="http://127.0.0.1:$port/limited/title.svm"
size=$(stat -L -c %s "$title")

# The measured runs write to /dev/null on both sides: a file that already exists would be
# replaced by svremux (written beside, flushed, renamed) but truncated by ffmpeg, and the disk's
# writeback would then be what the figures compare.
remux_http() { echo "$svremux $1 -o /dev/null"; }
cmd_file="$svremux $title -o /dev/null"
ffmpeg_http() { echo "ffmpeg -nostdin -v error -y -i $1 -map 0 -c copy -f mpegts /dev/null"; }

# One check first: svremux writes the same bytes over HTTP (both ways) as from the file.
$svremux "$title" -o "$work/file.ts"
for u in "$url" "$limited"; do
  $svremux "$u" -o "$work/http.ts"
  cmp -s "$work/http.ts" "$work/file.ts" || { echo "svremux over HTTP ($u) and from the file differ" >&2; exit 1; }
  rm -f "$work/http.ts"
done
rm -f "$work/file.ts"
ffmpeg -nostdin -v error -y -i "$url" -map 0 -c copy -f mpegts /dev/null

# Measures command A (and B, when given) RUNS times each, in turn after a warm-up of each, and
# prints the medians as "A_CPU A_WALL A_PEAK_MIB B_CPU B_WALL B_PEAK_MIB RATIO_CPU" (B's and the
# ratio "-" without B); the ratio is the median of the pairs' ratios.
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
  local ac aw ap bc bw bp r
  ac=$(bench_column_median "$work/a.runs" 1)
  aw=$(bench_column_median "$work/a.runs" 2)
  ap=$(awk '{ print $3 / 1024 }' "$work/a.runs" | bench_median)
  if [[ -n "$b" ]]; then
    bc=$(bench_column_median "$work/b.runs" 1)
    bw=$(bench_column_median "$work/b.runs" 2)
    bp=$(awk '{ print $3 / 1024 }' "$work/b.runs" | bench_median)
    paste -d ' ' "$work/a.runs" "$work/b.runs" >"$work/pairs"
    r=$(bench_paired_ratio "$work/pairs" 1 4)
  else
    bc=- bw=- bp=- r=-
  fi
  echo "$ac $aw $ap $bc $bw $bp $r"
}

[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is not installed" >&2; exit 2; }
read -r hc hw hp fc fw fp hr <<<"$(measure "$(remux_http "$url")" "$(ffmpeg_http "$url")")"
read -r lc lw lp gc gw gp lr <<<"$(measure "$(remux_http "$limited")" "$(ffmpeg_http "$limited")")"
read -r xc xw xp _ <<<"$(measure "$cmd_file")"

awk -v title="$title" -v size="$size" -v runs="$runs" -v rate="$rate" 'BEGIN {
  printf "title    %s (%.1f MB), %d runs each, medians; limited: %d B/s per response\n", title, size / 1e6, runs, rate
  printf "%-34s %9s %9s %10s\n", "", "CPU s", "wall s", "peak MiB"
}'
row() { awk -v n="$1" -v c="$2" -v w="$3" -v p="$4" 'BEGIN { printf "%-34s %9.3f %9.3f %10.1f\n", n, c, w, p }'; }
row "svremux from nginx" "$hc" "$hw" "$hp"
row "ffmpeg -c copy from nginx" "$fc" "$fw" "$fp"
row "svremux from nginx, limited" "$lc" "$lw" "$lp"
row "ffmpeg -c copy from nginx, limited" "$gc" "$gw" "$gp"
row "svremux from the file" "$xc" "$xw" "$xp"
bench_line "svremux over HTTP, CPU s (peer ffmpeg)" "$hc" "$fc" "$hr" s "ratio<=" 1.00
bench_line "same, limited, CPU s (peer ffmpeg)" "$lc" "$gc" "$lr" s "ratio<=" 1.00
peak=$(awk -v a="$hp" -v b="$lp" 'BEGIN { m = (a > b) ? a : b; printf "%.3f", m * 1.048576 }')
peer_peak=$(awk -v a="$fp" -v b="$gp" 'BEGIN { m = (a > b) ? a : b; printf "%.3f", m * 1.048576 }')
bench_line "svremux over HTTP, peak MB (peer ffmpeg)" "$peak" "$peer_peak" \
  "$(awk -v a="$peak" -v b="$peer_peak" 'BEGIN { printf "%.3f", a / b }')" MB "figure<" 32
bench_line "svremux over HTTP / from the file, CPU s" "$hc" "$xc" \
  "$(awk -v a="$hc" -v b="$xc" 'BEGIN { printf "%.3f", a / b }')" s - -
