#!/usr/bin/env bash
# One engine transport downloading a 1 GB file from nginx on loopback, beside curl -o /dev/null
# of the same URL in the same run: RUNS rounds (5 by default), each the transport then curl,
# after one warm-up of each. Prints every round, then the medians of the two rates and CPU
# times and of the round-by-round ratios (a round's ratio compares two downloads made a moment
# apart, so it holds when the machine's speed drifts), and the goal: at least 0.95x curl.
# Usage: bench/HttpDownloadBench.sh [build-folder] [RUNS]
set -euo pipefail
# shellcheck source=bench/bench_lib.sh
source "$(dirname "$0")/bench_lib.sh"

build=${1:-build}
runs=${2:-5}
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive whole number" >&2; exit 2; }
program="$build/bench/HttpDownloadBench"
[ -x "$program" ] || { echo "build $program first (ninja -C $build HttpDownloadBench)" >&2; exit 2; }
nginx=/usr/sbin/nginx
[ -x "$nginx" ] || { echo "nginx missing: run scripts/deps" >&2; exit 2; }

folder=$(mktemp -d /tmp/svhttpbench.XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$folder"
}
trap cleanup EXIT

mkdir "$folder/www"
head -c 1073741824 /dev/urandom > "$folder/www/title.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$folder/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $folder/nginx.pid;
error_log $folder/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $folder/body;
  proxy_temp_path $folder/proxy;
  fastcgi_temp_path $folder/fastcgi;
  uwsgi_temp_path $folder/uwsgi;
  scgi_temp_path $folder/scgi;
  server { listen 127.0.0.1:$port; root $folder/www; }
}
CONF
"$nginx" -q -p "$folder" -c "$folder/nginx.conf" &
pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break || sleep 0.1
done
url="http://127.0.0.1:$port/title.bin"

# Each prints "MB/s CPU_SECONDS" of one download (CPU: user + system of the whole process).
transport_rate() {
  local rate
  rate=$(/usr/bin/time -f "%U %S" -o "$folder/transport.time" "$program" "$url" | tail -n 1)
  echo "$rate $(awk '{ print $1 + $2 }' "$folder/transport.time")"
}
curl_rate() {
  local rate
  rate=$(/usr/bin/time -f "%U %S" -o "$folder/curl.time" curl -s -o /dev/null -w '%{speed_download}' "$url" |
    awk '{ printf "%.1f\n", $1 / 1e6 }')
  echo "$rate $(awk '{ print $1 + $2 }' "$folder/curl.time")"
}

# The warm-up also puts the file in the page cache, so neither side pays for the disk.
transport_rate >/dev/null
curl_rate >/dev/null
: > "$folder/rounds"
for ((i = 1; i <= runs; ++i)); do
  read -r a ac <<<"$(transport_rate)"
  read -r b bc <<<"$(curl_rate)"
  echo "$a $b $ac $bc" >> "$folder/rounds"
  awk -v i="$i" -v a="$a" -v b="$b" -v ac="$ac" -v bc="$bc" \
    'BEGIN { printf "round %d  transport: %7.1f MB/s %6.2f s CPU   curl: %7.1f MB/s %6.2f s CPU\n", i, a, ac, b, bc }'
done
echo "medians of $runs rounds (ratios: the median of the round-by-round ratios)"
bench_line "download rate, MB/s (peer curl)" "$(bench_column_median "$folder/rounds" 1)" \
  "$(bench_column_median "$folder/rounds" 2)" "$(bench_paired_ratio "$folder/rounds" 1 2)" MB/s "ratio>=" 0.95
bench_line "CPU per GB, s (peer curl)" "$(bench_column_median "$folder/rounds" 3)" \
  "$(bench_column_median "$folder/rounds" 4)" "$(bench_paired_ratio "$folder/rounds" 3 4)" s - -
