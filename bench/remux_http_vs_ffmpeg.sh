#!/usr/bin/env bash
# Times svremux reading a title from nginx against svremux reading the same title from its file
# and against ffmpeg's stream copy to MPEG-TS from nginx, in one run:
#   bench/remux_http_vs_ffmpeg.sh [-n RUNS] [-b BUILD_DIR] [-r BYTES_PER_SECOND] [-p PORT] [TITLE]
# nginx is started on a free loopback port (-p: that port) with its own configuration in a
# temporary folder and serves the title's folder (-r: limit_rate per response; 0, the default,
# is none); it counts as started once its pid file names it, never on a mere answer. The three
# commands run in turn, timed from outside by farm-bench when it is installed (median of RUNS,
# 5 by default, after a warm-up), else by the shell clock. Prints each median, its throughput in
# MB/s of title read (1 MB = 10^6 bytes), and svremux-over-HTTP's time over ffmpeg-over-HTTP's
# (goal: at most 1.00) and over svremux-from-the-file's. Without TITLE it takes the 10-minute
# title that build/bench/RemuxBench makes and caches (run that once first).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
build=build
rate=0
port=""
usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; }
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
[[ "$rate" =~ ^[0-9]+$ ]] || { echo "BYTES_PER_SECOND must be a whole number" >&2; exit 2; }
[[ -z "$port" || ( "$port" =~ ^[1-9][0-9]{0,4}$ && "$port" -le 65535 ) ]] || { echo "PORT must be 1 to 65535" >&2; exit 2; }
[[ "$build" == /* ]] || build="$(pwd)/$build"

title="${1:-}"
if [[ -z "$title" ]]; then
  title=$(ls -t "$build"/fixtures/bench10min-*.svm 2>/dev/null | head -n 1 || true)
  [[ -n "$title" ]] || { echo "no title given and none cached: run $build/bench/RemuxBench once, or name a title" >&2; exit 2; }
fi
[[ -f "$title" ]] || { echo "$title: no such file" >&2; exit 2; }
title=$(cd "$(dirname "$title")" && pwd)/$(basename "$title")
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
  [[ "$rate" != 0 ]] && echo "  limit_rate $rate;"
  echo "  server { listen 127.0.0.1:$port; root $work/www; } }"
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
size=$(stat -L -c %s "$title")

# The three commands, each writing its own output in the work folder.
cmd_http="$svremux $url -o $work/http.ts"
cmd_file="$svremux $title -o $work/file.ts"
cmd_ffmpeg="ffmpeg -nostdin -v error -y -i $url -map 0 -c copy -f mpegts $work/ff.ts"

# One check first: the two svremux runs write the same bytes.
$cmd_http && $cmd_file && $cmd_ffmpeg
cmp -s "$work/http.ts" "$work/file.ts" || { echo "svremux over HTTP and from the file differ" >&2; exit 1; }

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
# Median wall seconds of RUNS runs of the command.
time_command() {
  if command -v farm-bench >/dev/null; then
    # farm-bench's line "A wall s MIN MEDIAN MAX".
    # shellcheck disable=SC2086
    farm-bench -n "$runs" --timeout 3600 -- $1 >"$work/fb.out" 2>&1 || { cat "$work/fb.out" >&2; exit 1; }
    awk '$1 == "A" && $2 == "wall" && $3 == "s" { print $5; exit }' "$work/fb.out"
  else
    local i start end
    for ((i = 0; i < runs; ++i)); do
      start=$(date +%s.%N)
      $1 >/dev/null 2>&1 || { echo "failed: $1" >&2; exit 1; }
      end=$(date +%s.%N)
      awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }'
    done | median
  fi
}

http=$(time_command "$cmd_http")
file=$(time_command "$cmd_file")
ff=$(time_command "$cmd_ffmpeg")
[[ -n "$http" && -n "$file" && -n "$ff" ]] || { echo "no timing read: see $work/fb.out" >&2; cat "$work/fb.out" >&2; exit 1; }

awk -v title="$title" -v size="$size" -v runs="$runs" -v rate="$rate" 'BEGIN {
  printf "title    %s (%.1f MB), %d runs each, medians%s\n", title, size / 1e6, runs,
         rate ? sprintf(", origin limited to %d B/s", rate) : ""
}'
report() {
  awk -v name="$1" -v t="$2" -v size="$size" \
    'BEGIN { printf "%-28s %7.3f s  %8.1f MB/s\n", name, t, size / t / 1e6 }'
}
report "svremux from nginx" "$http"
report "svremux from the file" "$file"
report "ffmpeg -c copy from nginx" "$ff"
awk -v h="$http" -v f="$file" -v ff="$ff" 'BEGIN {
  printf "ratio    %.2f (svremux over HTTP / ffmpeg over HTTP; goal <= 1.00: %s)\n", h / ff, (h <= ff) ? "ok" : "OVER"
  printf "ratio    %.2f (svremux over HTTP / svremux from the file)\n", h / f
}'
