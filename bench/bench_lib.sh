# Shared pieces of the benchmark scripts (sourced, not run).
#
# Every comparison here is paired: the two sides run in turn (A, B, A, B, ...), each pair gives
# one ratio, and the figure quoted is the median of those ratios, so a drift in the machine's
# speed during the run touches both sides of every ratio alike.

# The median of the numbers on standard input, one per line.
bench_median() {
  sort -g | awk '{ a[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

# The median of column A over column B, line by line, of FILE (columns counted from 1).
bench_paired_ratio() {
  awk -v a="$2" -v b="$3" '$b > 0 { printf "%.6f\n", $a / $b }' "$1" | bench_median
}

# The median of column C of FILE.
bench_column_median() { awk -v c="$2" '{ print $c }' "$1" | bench_median; }

# Runs the command under GNU time and appends "CPU_SECONDS WALL_SECONDS PEAK_KB" to FILE; its
# output goes to nowhere, and a failed run stops the script with what it printed.
bench_time_to() {
  local file="$1"
  shift
  local log
  log=$(mktemp)
  if ! /usr/bin/time -f "%U %S %e %M" -o "$log.time" "$@" >/dev/null 2>"$log"; then
    echo "failed: $*" >&2
    tail -c 2000 "$log" >&2
    rm -f "$log" "$log.time"
    exit 1
  fi
  awk '{ printf "%.3f %.3f %d\n", $1 + $2, $3, $4 }' "$log.time" >>"$file"
  rm -f "$log" "$log.time"
}

# CPU seconds (user and system, its ended threads included) that process PID has used so far.
bench_cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / hz }' "/proc/$1/stat"
}

# Run seconds, to the nanosecond, of the threads process PID has now (the ticks of
# /proc/PID/stat are 10 ms, too coarse for a few milliseconds); for processes whose threads live
# through what is measured.
bench_thread_seconds() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.6f\n", s / 1e9 }'
}

# One line: the figure, its peer's, their paired ratio and the goal the ratio (or the figure,
# when the goal names a unit) is held to, with the verdict.
#   bench_line LABEL FIGURE PEER RATIO UNIT GOAL_KIND GOAL
# GOAL_KIND is "ratio<=", "ratio>=", "figure<", "figure<=" or "-" (for information).
bench_line() {
  awk -v l="$1" -v f="$2" -v p="$3" -v r="$4" -v u="$5" -v k="$6" -v g="$7" 'BEGIN {
    verdict = ""
    if (k == "ratio<=") verdict = sprintf("goal ratio <= %s: %s", g, (r + 0 <= g + 0) ? "ok" : "OVER")
    else if (k == "ratio>=") verdict = sprintf("goal ratio >= %s: %s", g, (r + 0 >= g + 0) ? "ok" : "UNDER")
    else if (k == "figure<") verdict = sprintf("goal < %s %s: %s", g, u, (f + 0 < g + 0) ? "ok" : "OVER")
    else if (k == "figure<=") verdict = sprintf("goal <= %s %s: %s", g, u, (f + 0 <= g + 0) ? "ok" : "OVER")
    else verdict = "(for information)"
    printf "%-44s %10.3f %-4s peer %10.3f %-4s ratio %6.2f   %s\n", l, f, u, p, u, r, verdict
  }'
}

# Starts nginx serving ROOT on 127.0.0.1:PORT from its own folder WORK (made if missing), with
# EXTRA configuration lines inside the server block; sets bench_nginx_pid. nginx counts as
# started once its pid file names it, never on a mere answer (another process could hold the
# port).
bench_start_nginx() {
  local work="$1" root="$2" port="$3" extra="${4:-}"
  mkdir -p "$work"
  {
    echo "daemon off; master_process off; worker_processes 1;"
    echo "pid $work/nginx.pid; error_log $work/error.log;"
    echo "events { worker_connections 256; }"
    echo "http { access_log off; sendfile on; tcp_nopush on; keepalive_requests 1000000;"
    echo "  default_type application/octet-stream;"
    echo "  types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }"
    for t in client_body proxy fastcgi uwsgi scgi; do echo "  ${t}_temp_path $work/$t;"; done
    echo "  server { listen 127.0.0.1:$port; root $root; $extra } }"
  } >"$work/nginx.conf"
  /usr/sbin/nginx -q -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
  bench_nginx_pid=$!
  local _
  for _ in $(seq 1000); do
    [[ "$(cat "$work/nginx.pid" 2>/dev/null)" == "$bench_nginx_pid" ]] && return 0
    kill -0 "$bench_nginx_pid" 2>/dev/null || break
    sleep 0.01
  done
  echo "nginx did not start:" >&2
  cat "$work/error.log" >&2
  exit 1
}

# Ends the process PID this script started (TERM) and reaps it; nothing without a PID.
bench_end() {
  if [[ -n "${1:-}" ]]; then
    kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
  fi
}

bench_stop_nginx() { bench_end "${bench_nginx_pid:-}"; bench_nginx_pid=""; }

# The title a benchmark works on, as an absolute path: TITLE when given, else the newest
# 10-minute 720p title build/bench/RemuxBench caches in BUILD/fixtures. Says why and fails
# (status 2) when there is none.
#   title=$(bench_title BUILD [TITLE]) || exit 2
bench_title() {
  local build="$1" title="${2:-}"
  if [[ -z "$title" ]]; then
    title=$(ls -t "$build"/fixtures/bench10min-*.svm 2>/dev/null | head -n 1 || true)
    [[ -n "$title" ]] ||
      { echo "no title given and none cached: run $build/bench/RemuxBench once, or name a title" >&2; return 2; }
  fi
  [[ -f "$title" ]] || { echo "$title: no such file" >&2; return 2; }
  echo "$(cd "$(dirname "$title")" && pwd)/$(basename "$title")"
}

# A free TCP port on 127.0.0.1.
bench_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The kB value of field KEY (VmHWM, VmRSS, ...) of /proc/PID/status.
bench_status_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

# Starts SVPLAY on TITLE serving on PORT, its output in OUT.out and OUT.err, and waits for its
# playback URL (its first line); sets bench_svplay_pid and bench_svplay_url. A svplay that ends
# first, or names no URL within about 20 s, stops the script with what it printed.
bench_start_svplay() {
  local svplay="$1" title="$2" port="$3" out="$4"
  "$svplay" "$title" --port "$port" >"$out.out" 2>"$out.err" &
  bench_svplay_pid=$!
  bench_svplay_url=""
  local tries=0
  until [[ -n "$bench_svplay_url" ]]; do
    bench_svplay_url=$(head -n 1 "$out.out" 2>/dev/null || true)
    [[ -n "$bench_svplay_url" ]] && break
    if ! kill -0 "$bench_svplay_pid" 2>/dev/null || ((++tries > 20000)); then
      echo "svplay did not start:" >&2
      cat "$out.err" >&2
      exit 1
    fi
    sleep 0.001
  done
}

# The engine's chain serving a title on loopback (build/bench/HlsServeBench), one at a time.
bench_hls_pid=""
# Stops the chain bench_start_hls started, if one runs.
bench_stop_hls() { bench_end "$bench_hls_pid"; bench_hls_pid=""; }
# Starts PROGRAM with the arguments after OUT (a chain started before is stopped first), its
# lines going to OUT.out and its errors to OUT.err; returns once it has printed its "url" line
# and the line named in WANT, when set. A chain that ends or takes a minute stops the script.
#   bench_start_hls PROGRAM OUT [ARGUMENTS...]
bench_start_hls() {
  local program="$1" out="$2"
  shift 2
  bench_stop_hls
  : >"$out.out"
  "$program" "$@" >"$out.out" 2>"$out.err" </dev/zero &
  bench_hls_pid=$!
  local tries=0
  until grep -q '^url ' "$out.out" && { [[ -z "${WANT:-}" ]] || grep -q "^$WANT " "$out.out"; }; do
    if ! kill -0 "$bench_hls_pid" 2>/dev/null || ((++tries > 6000)); then
      echo "$program $* did not start:" >&2
      cat "$out.err" >&2
      exit 1
    fi
    sleep 0.01
  done
}
