#!/usr/bin/env bash
# The HLS chain on loopback against its goals, on the two-minute test title (2 s GOPs):
#   bench/HlsServeBench.sh [-n RUNS] [-b BUILD_DIR] [TITLE]
# (TITLE: another title to serve, for example the 10-minute one build/bench/RemuxBench caches;
# its static HLS is then cut from svremux's transport stream of it.)
# Each run starts a fresh chain (build/bench/HlsServeBench: file client, seeker, demultiplexer,
# multiplexer, segmenter and live server, as playback builds them) and measures:
#   - chain start -> first byte of the main playlist, asked for at once (goal < 300 ms);
#   - segment 30 (60 s in) asked for cold after the playlist and segment 0 -> its first byte,
#     as curl sees it (goal < 1.5 s);
#   - `ffmpeg -c copy` reading the whole title from the chain, beside the same read of
#     ffmpeg-made static HLS of the title's source (2 s segments) served by nginx (sendfile, one
#     process): the wall time (goal: at least 20 times real time) and the serving process's CPU
#     per 1.2 MB of segments it sent (goal <= 1 ms);
#   - beside them, build/bench/ServeFloorBench on the title's transport stream: the CPU per
#     1.2 MB of the least any chain does (read the file, lay it into packets, send 128 KiB per
#     send to a loopback reader), the part of the figure no chain can save.
# The chain and nginx run in turn; each ratio is the median of the run-by-run ratios, each
# figure the median over RUNS runs (5 by default).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

runs=5
build=build
usage() { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; }
while getopts "n:b:h" opt; do
  case "$opt" in
    n) runs="$OPTARG" ;;
    b) build="$OPTARG" ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive whole number" >&2; exit 2; }
title=()
if [[ -n "${1:-}" ]]; then
  [[ -f "$1" ]] || { echo "$1: no such file" >&2; exit 2; }
  title=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")")
fi
program="$build/bench/HlsServeBench"
floor="$build/bench/ServeFloorBench"
for p in "$program" "$floor"; do
  [[ -x "$p" ]] || { echo "build $p first (ninja -C $build HlsServeBench ServeFloorBench)" >&2; exit 2; }
done
for tool in ffmpeg ffprobe curl awk python3 getconf; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/svhlsbench.XXXXXX)
stop_server() { bench_stop_hls; pid=""; }
trap 'stop_server; bench_stop_nginx; rm -rf "$work"' EXIT

# Starts the program with the given arguments; waits for its "url" line (and for the line
# named in WANT) and leaves the lines in $work/server.out.
start_server() {
  bench_start_hls "$program" "$work/server" "$@" "${title[@]}"
  pid=$bench_hls_pid
}
line() { awk -v k="$1" '$1 == k { print $2; exit }' "$work/server.out"; }

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
# "WALL_SECONDS CPU_MS" of ffmpeg reading the whole URL, CPU_MS being the milliseconds of CPU
# process PID spent meanwhile. The process's own count, which keeps the time of threads that
# ended: the chain serves each connection on threads of its own, gone once the player leaves
# (the run seconds of the threads alive at the end missed about half of the chain's work).
read_all_cpu() {
  local before after wall
  before=$(bench_cpu_seconds "$1")
  wall=$(read_all "$2")
  after=$(bench_cpu_seconds "$1")
  awk -v w="$wall" -v a="$after" -v b="$before" 'BEGIN { printf "%.6f %.3f\n", w, (a - b) * 1000 }'
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

# The first start makes (or finds) the test title and names its source.
WANT=playlist_ms start_server --probe
if ((${#title[@]})); then
  source="$work/source.ts"
  "$build/tools/svremux/svremux" "${title[0]}" -o "$source"
else
  source=$(line source)
fi
[[ -f "$source" ]] || { echo "the program named no source transport stream" >&2; exit 1; }
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$source")

mkdir "$work/static"
ffmpeg -nostdin -v error -y -i "$source" -map 0 -c copy -f hls -hls_time 2 \
  -hls_playlist_type vod -hls_segment_filename "$work/static/%d.ts" "$work/static/index.m3u8"

nginx_port=$(bench_free_port)
bench_start_nginx "$work/nginx" "$work/static" "$nginx_port"
static_url="http://127.0.0.1:$nginx_port/index.m3u8"
static_bytes=$(segment_bytes "$static_url")
start_server
chain_bytes=$(segment_bytes "$(line url)")

: >"$work/playlist" ; : >"$work/far" ; : >"$work/pairs"
for ((i = 0; i < runs; i++)); do
  # A fresh chain for each measure: a read of the whole title leaves the chain at its end.
  WANT=playlist_ms start_server --probe
  line playlist_ms >>"$work/playlist"
  url=$(line url)
  base=${url%/*}
  curl -sS --fail -o "$work/main.m3u8" -o /dev/null "$url" "$base/0.ts"
  if grep -q '^30\.ts' "$work/main.m3u8"; then
    curl -sS --fail -o /dev/null -w '%{time_starttransfer}\n' "$base/30.ts" >>"$work/far"
  fi

  start_server
  read -r chain_wall chain_ms <<<"$(read_all_cpu "$pid" "$(line url)")"
  stop_server
  read -r static_wall static_ms <<<"$(read_all_cpu "$bench_nginx_pid" "$static_url")"
  floor_ms=$("$floor" "$source" | awk '$1 == "floor_ms" { print $2 }')
  [[ -n "$floor_ms" ]] || { echo "$floor failed on $source" >&2; exit 1; }
  # Columns: wall and CPU ms per 1.2 MB, the chain's then nginx's; the floor's CPU ms.
  awk -v cw="$chain_wall" -v cm="$chain_ms" -v cb="$chain_bytes" -v sw="$static_wall" \
    -v sm="$static_ms" -v sb="$static_bytes" -v fm="$floor_ms" \
    'BEGIN { printf "%.6f %.6f %.6f %.6f %.6f\n", cw, cm * 1.2e6 / cb, sw, sm * 1.2e6 / sb, fm }' >>"$work/pairs"
done
stop_server
bench_stop_nginx

playlist=$(bench_median <"$work/playlist")
far=$(awk '{ print $1 * 1000 }' "$work/far" | bench_median)  # nan: the title has no segment 30
chain=$(bench_column_median "$work/pairs" 1)
static=$(bench_column_median "$work/pairs" 3)
awk -v runs="$runs" -v d="$duration" -v p="$playlist" -v f="$far" -v c="$chain" -v s="$static" \
  -v cb="$chain_bytes" -v sb="$static_bytes" 'BEGIN {
  printf "HLS over loopback, %.1f s title with 2 s GOPs, median of %d runs\n", d, runs
  printf "  chain start -> first playlist byte   %8.1f ms   goal < 300 ms\n", p
  printf "  cold segment 30 -> first byte        %8.1f ms   goal < 1500 ms\n", f
  printf "  ffmpeg -c copy, chain                %8.3f s    %6.1fx real time   goal >= 20x\n", c, d / c
  printf "  ffmpeg -c copy, nginx static HLS     %8.3f s    %6.1fx real time\n", s, d / s
  printf "  segments sent per read: chain %.1f MB, nginx %.1f MB\n", cb / 1e6, sb / 1e6
}'
bench_line "whole-title read, wall s (peer nginx)" "$chain" "$static" \
  "$(bench_paired_ratio "$work/pairs" 1 3)" s - -
bench_line "serving CPU per 1.2 MB, ms (peer nginx)" "$(bench_column_median "$work/pairs" 2)" \
  "$(bench_column_median "$work/pairs" 4)" "$(bench_paired_ratio "$work/pairs" 2 4)" ms "figure<=" 1
bench_line "serving CPU per 1.2 MB, ms (peer: the floor)" "$(bench_column_median "$work/pairs" 2)" \
  "$(bench_column_median "$work/pairs" 5)" "$(bench_paired_ratio "$work/pairs" 2 5)" ms - -
