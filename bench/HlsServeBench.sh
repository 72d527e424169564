#!/usr/bin/env bash
# The HLS chain on loopback against its goals, on the two-minute test title (2 s GOPs):
#   bench/HlsServeBench.sh [-n RUNS] [-b BUILD_DIR]
# Each run starts a fresh chain (build/bench/HlsServeBench) and measures:
#   - chain start -> first byte of the main playlist, asked for at once (goal < 300 ms);
#   - segment 30 (60 s in) asked for cold after the playlist and segment 0 -> its first byte,
#     as curl sees it (goal < 1.5 s);
#   - the wall time of `ffmpeg -c copy` reading the whole title from the chain (goal: at least
#     20 times real time), beside the same read of ffmpeg-made static HLS of the title's source
#     served from a folder by the same live server;
#   - the server's CPU time per segment of about 1.2 MB (the title cut into segments of that
#     size by ffmpeg), every segment read many times over one kept-alive connection by curl:
#     the live server serving them from a folder, beside nginx (sendfile, one process) serving
#     the same files from disk (goal <= 1 ms per 1.2 MB segment).
# Prints the median of each over RUNS runs (5 by default).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
build=build
usage() { sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; }
while getopts "n:b:h" opt; do
  case "$opt" in
    n) runs="$OPTARG" ;;
    b) build="$OPTARG" ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive whole number" >&2; exit 2; }
program="$build/bench/HlsServeBench"
[[ -x "$program" ]] || { echo "build $program first (ninja -C $build HlsServeBench)" >&2; exit 2; }
for tool in ffmpeg ffprobe curl awk nginx python3 getconf; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/svhlsbench.XXXXXX)
pid=""
stop_server() {
  if [[ -n "$pid" ]]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
  fi
}
trap 'stop_server; rm -rf "$work"' EXIT

# Starts the program with the given arguments; waits for its "url" line (and for every line
# named in WANT) and leaves the lines in $work/server.out.
start_server() {
  stop_server
  : >"$work/server.out"
  "$program" "$@" >"$work/server.out" 2>"$work/server.err" </dev/zero &
  pid=$!
  local tries=0
  until grep -q '^url ' "$work/server.out" && { [[ -z "${WANT:-}" ]] || grep -q "^$WANT " "$work/server.out"; }; do
    if ! kill -0 "$pid" 2>/dev/null || ((++tries > 6000)); then
      echo "$program $* did not start:" >&2
      cat "$work/server.err" >&2
      exit 1
    fi
    sleep 0.01
  done
}
line() { awk -v k="$1" '$1 == k { print $2; exit }' "$work/server.out"; }
# CPU seconds (user and system, its ended threads included) the process has used so far.
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / hz }' "/proc/$1/stat"; }
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# Wall seconds of ffmpeg copying every stream of the URL to nowhere.
read_all() {
  local start end
  start=$(date +%s.%N)
  if ! ffmpeg -nostdin -v error -xerror -i "$1" -map 0 -c copy -f null - 2>"$work/ffmpeg.err"; then
    echo "ffmpeg failed on $1:" >&2
    cat "$work/ffmpeg.err" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }'
}

# The first start makes (or finds) the test title and names its source.
WANT=playlist_ms start_server --probe
source=$(line source)
[[ -f "$source" ]] || { echo "the program named no source transport stream" >&2; exit 1; }
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$source")

# Segments of about 1.2 MB: the cut falls on the 2 s key frames nearest that size.
bitrate=$(ffprobe -v error -show_entries format=bit_rate -of csv=p=0 "$source")
big_seconds=$(awk -v b="$bitrate" 'BEGIN { t = int(1200000 * 8 / b / 2 + 0.5) * 2; print (t < 2) ? 2 : t }')
mkdir "$work/big"
ffmpeg -nostdin -v error -y -i "$source" -map 0 -c copy -f hls -hls_time "$big_seconds" \
  -hls_playlist_type vod -hls_segment_filename "$work/big/%d.ts" "$work/big/index.m3u8"
# Only whole segments of the cut size (the last one is shorter).
big_count=$(($(ls "$work/big" | grep -c '\.ts$') - 1))
((big_count > 0)) || { echo "the title is too short for 1.2 MB segments" >&2; exit 1; }
big_bytes=$(for ((k = 0; k < big_count; k++)); do stat -c %s "$work/big/$k.ts"; done | awk '{ s += $1 } END { print s / NR }')
rounds=$(awk -v c="$big_count" 'BEGIN { r = int(400 / c); print (r < 1) ? 1 : r }')
# A curl config asking for every segment ROUNDS times; curl keeps one connection for them all.
fetch_config() {
  for ((r = 0; r < rounds; r++)); do
    for ((k = 0; k < big_count; k++)); do printf 'url = "%s%d.ts"\noutput = "/dev/null"\n' "$1" "$k"; done
  done >"$work/fetch.conf"
}
# Milliseconds of the process's CPU per segment while curl reads them all from the base URL.
segment_cpu() {
  local before after
  fetch_config "$2"
  before=$(cpu_seconds "$1")
  curl -sS --fail -K "$work/fetch.conf" || { echo "curl failed on $2" >&2; exit 1; }
  after=$(cpu_seconds "$1")
  awk -v a="$after" -v b="$before" -v n="$((rounds * big_count))" 'BEGIN { printf "%.4f\n", (a - b) * 1000 / n }'
}
nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$nginx_port; root $work/big; }
}
EOF

mkdir "$work/static"
ffmpeg -nostdin -v error -y -i "$source" -map 0 -c copy -f hls -hls_time 2 \
  -hls_playlist_type vod -hls_segment_filename "$work/static/%d.ts" "$work/static/index.m3u8"

: >"$work/playlist" ; : >"$work/far" ; : >"$work/chain" ; : >"$work/static.times"
: >"$work/serve.cpu" ; : >"$work/nginx.cpu"
for ((i = 0; i < runs; i++)); do
  # A fresh chain for each measure: a read of the whole title leaves the chain at its end.
  WANT=playlist_ms start_server --probe
  line playlist_ms >>"$work/playlist"
  url=$(line url)
  base=${url%/*}
  curl -sS --fail -o /dev/null -o /dev/null "$url" "$base/0.ts"
  curl -sS --fail -o /dev/null -w '%{time_starttransfer}\n' "$base/30.ts" >>"$work/far"

  start_server
  read_all "$(line url)" >>"$work/chain"

  start_server --folder "$work/static"
  read_all "$(line url)index.m3u8" >>"$work/static.times"

  start_server --folder "$work/big"
  segment_cpu "$pid" "$(line url)" >>"$work/serve.cpu"
  stop_server
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
  pid=$!
  tries=0
  until curl -s -o /dev/null "http://127.0.0.1:$nginx_port/0.ts"; do
    if ! kill -0 "$pid" 2>/dev/null || ((++tries > 500)); then
      echo "nginx did not start:" >&2
      cat "$work/nginx/error.log" >&2
      exit 1
    fi
    sleep 0.01
  done
  segment_cpu "$pid" "http://127.0.0.1:$nginx_port/" >>"$work/nginx.cpu"
done
stop_server

playlist=$(median <"$work/playlist")
far=$(awk '{ print $1 * 1000 }' "$work/far" | median)
chain=$(median <"$work/chain")
static=$(median <"$work/static.times")
serve_cpu=$(median <"$work/serve.cpu")
nginx_cpu=$(median <"$work/nginx.cpu")
awk -v runs="$runs" -v d="$duration" -v p="$playlist" -v f="$far" -v c="$chain" -v s="$static" \
  -v sc="$serve_cpu" -v nc="$nginx_cpu" -v bb="$big_bytes" -v bn="$((rounds * big_count))" 'BEGIN {
  printf "HLS over loopback, %.1f s title with 2 s GOPs, median of %d runs\n", d, runs
  printf "  chain start -> first playlist byte   %8.1f ms   goal < 300 ms\n", p
  printf "  cold segment 30 -> first byte        %8.1f ms   goal < 1500 ms\n", f
  printf "  ffmpeg -c copy, chain                %8.3f s    %6.1fx real time   goal >= 20x\n", c, d / c
  printf "  ffmpeg -c copy, static HLS           %8.3f s    %6.1fx real time\n", s, d / s
  printf "  server CPU per segment (%d reads of %.2f MB segments each run), per 1.2 MB\n", bn, bb / 1e6
  printf "    live server from a folder          %8.3f ms   goal <= 1 ms\n", sc * 1.2e6 / bb
  printf "    nginx from disk                    %8.3f ms\n", nc * 1.2e6 / bb
}'
