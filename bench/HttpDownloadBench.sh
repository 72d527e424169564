#!/usr/bin/env bash
# One engine transport downloading a 1 GB file (10^9 bytes) from nginx on loopback, beside
# curl -o /dev/null of the same URL in the same run: RUNS rounds (5 by default), each the
# transport then curl, after one warm-up of each. Each download runs under
# build/bench/RunMeasured, which takes its CPU (user + system of the process and all its threads,
# to the microsecond) and its wall time from start to end; the rate is what each side reports for
# its transfer. Prints every round, then the medians of the rates, CPU and wall times and of the
# round-by-round ratios (a round's ratio compares two downloads made a moment apart, so it holds
# when the machine's speed drifts), and the goal: at least 0.95x curl's rate. MB are 10^6 bytes, a
# GB 10^9: the CPU and wall per GB are those of the whole file.
#   bench/HttpDownloadBench.sh [-h] [-b BUILD] [-n RUNS]
# -b: the build folder (build by default); -n: the rounds (5 by default). It builds what it runs
# (cmake --build BUILD --target HttpDownloadBench RunMeasured) and makes the 1 GB file in /tmp
# each time (removed at the end). Exits 1 when the goal is missed or a figure cannot be taken,
# its last line saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=5
bench_options "$@"
set -- "${bench_arguments[@]}"
(($# == 0)) || bench_usage_error "no arguments besides the options"
bench_build HttpDownloadBench RunMeasured || exit 2
program="$build/bench/HttpDownloadBench"
bench_use_build "$build" || exit 2
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
head -c 1000000000 /dev/urandom > "$folder/www/title.bin"
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

# Each prints "MB/s CPU_SECONDS WALL_SECONDS" of one download, the rate as the downloader
# reports it.
transport_rate() {
  local rate
  : >"$folder/transport.measure"
  rate=$(bench_measure "$folder/transport.measure" "$program" "$url" | tail -n 1) || return 1
  echo "$rate $(cut -d ' ' -f 1,2 "$folder/transport.measure")"
}
curl_rate() {
  local rate
  : >"$folder/curl.measure"
  rate=$(bench_measure "$folder/curl.measure" curl -s -o /dev/null -w '%{speed_download}' "$url" |
    awk '{ printf "%.3f\n", $1 / 1e6 }') || return 1
  echo "$rate $(cut -d ' ' -f 1,2 "$folder/curl.measure")"
}

# The warm-up also puts the file in the page cache, so neither side pays for the disk.
transport_rate >/dev/null
curl_rate >/dev/null
: > "$folder/rounds"
for ((i = 1; i <= runs; ++i)); do
  # Through variables, so that a failed download stops the script.
  t=$(transport_rate)
  c=$(curl_rate)
  read -r a ac aw <<<"$t"
  read -r b bc bw <<<"$c"
  echo "$a $b $ac $bc $aw $bw" >> "$folder/rounds"
  awk -v i="$i" -v a="$a" -v b="$b" -v ac="$ac" -v bc="$bc" -v aw="$aw" -v bw="$bw" 'BEGIN {
    printf "round %d  transport: %8.1f MB/s %7.3f s CPU %7.3f s wall   curl: %8.1f MB/s %7.3f s CPU %7.3f s wall\n",
      i, a, ac, aw, b, bc, bw }'
done
echo "medians of $runs rounds (ratios: the median of the round-by-round ratios)"
bench_line "download rate, MB/s (peer curl)" "$(bench_column_median "$folder/rounds" 1)" \
  "$(bench_column_median "$folder/rounds" 2)" "$(bench_paired_ratio "$folder/rounds" 1 2)" MB/s "ratio>=" 0.95
bench_line "CPU per GB, s (peer curl)" "$(bench_column_median "$folder/rounds" 3)" \
  "$(bench_column_median "$folder/rounds" 4)" "$(bench_paired_ratio "$folder/rounds" 3 4)" s - -
bench_line "wall per GB, s (peer curl)" "$(bench_column_median "$folder/rounds" 5)" \
  "$(bench_column_median "$folder/rounds" 6)" "$(bench_paired_ratio "$folder/rounds" 5 6)" s - -
bench_finish
