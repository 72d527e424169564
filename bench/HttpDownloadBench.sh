#!/usr/bin/env bash
# One engine transport downloading a 1 GB file from nginx on loopback, beside curl -o /dev/null
# of the same URL in the same run. Usage: bench/HttpDownloadBench.sh [build-folder]
set -euo pipefail

build=${1:-build}
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

# Warm the page cache once so neither side pays for the disk.
curl -s -o /dev/null "$url"
transport=$("$program" "$url" | tail -n 1)
reference=$(curl -s -o /dev/null -w '%{speed_download}' "$url")
reference=$(awk -v b="$reference" 'BEGIN { printf "%.1f", b / 1e6 }')
ratio=$(awk -v a="$transport" -v b="$reference" 'BEGIN { printf "%.2f", a / b }')
echo "transport: $transport MB/s   curl: $reference MB/s   ratio: ${ratio}x"
