# shellcheck shell=bash
# Shared pieces of the benchmark scripts (sourced, not run).
#
# Every comparison here is paired: the two sides run in turn (A, B, A, B, ...), each pair gives
# one ratio, and the figure quoted is the median of those ratios, so a drift in the machine's
# speed during the run touches both sides of every ratio alike.
#
# Every script takes -h/--help, -b BUILD and -n RUNS (bench_options), judges its goals through
# bench_judge (or bench_line) and ends with bench_finish: a missed goal or an error makes it
# exit 1 once everything is printed.

# The usage: the script's leading comment, without its "#" marks.
bench_usage() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; }

# Reads the options every script takes, and the script's own: -h or --help prints the usage and
# exits 0 before anything else; -b BUILD sets build (the build folder, "build" unless the script
# set another default), -n RUNS sets runs (a positive whole number; the script's default
# otherwise). The script's own options are the getopts letters in bench_own_options, each
# handed to the function bench_own_option LETTER VALUE, which fails for a bad one. A usage
# error prints the reason and the usage on standard error and exits 2. What is left after the
# options goes to bench_arguments.
#   bench_options "$@"; set -- "${bench_arguments[@]}"
bench_options() {
  local a
  for a in "$@"; do
    [[ "$a" == -- ]] && break
    if [[ "$a" == -h || "$a" == --help ]]; then
      bench_usage
      exit 0
    fi
  done
  build=${build:-build}
  local opt OPTIND=1 OPTARG
  while getopts ":b:n:${bench_own_options:-}" opt; do
    case "$opt" in
      b) build="$OPTARG" ;;
      n) runs="$OPTARG" ;;
      :) bench_usage_error "-$OPTARG needs a value" ;;
      \?) bench_usage_error "unknown option -$OPTARG" ;;
      *) bench_own_option "$opt" "${OPTARG:-}" || bench_usage_error "bad value for -$opt: ${OPTARG:-}" ;;
    esac
  done
  shift $((OPTIND - 1))
  [[ -z "${runs+set}" || "$runs" =~ ^[1-9][0-9]*$ ]] ||
    bench_usage_error "RUNS (-n) must be a positive whole number, not '$runs'"
  [[ -n "$build" ]] || bench_usage_error "BUILD (-b) must name a folder"
  # shellcheck disable=SC2034 # read by the script that sourced this file
  bench_arguments=("$@")
}
bench_usage_error() {
  echo "$(basename "$0"): $1" >&2
  bench_usage >&2
  exit 2
}

# Builds the TARGETS in BUILD (cmake --build, ninja's output kept unless it fails), saying so on
# one line first; fails (status 2), naming the command that configures BUILD, when BUILD is
# not configured.
#   bench_build TARGET...
bench_build() {
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    echo "$build is not a configured build folder; make it with:" >&2
    echo "  cmake -S . -B $build -G Ninja -DSV_WERROR=ON" >&2
    return 2
  fi
  echo "building $* (cmake --build $build --target $*)"
  local log
  log=$(mktemp)
  if ! cmake --build "$build" --target "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    rm -f "$log"
    echo "cmake --build $build --target $* failed" >&2
    return 2
  fi
  rm -f "$log"
}

# The median of the numbers on standard input, one per line, to ten significant digits.
bench_median() {
  sort -g | awk '{ a[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    printf "%.10g\n", (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

# The median of column A over column B, line by line, of FILE (columns counted from 1). Every
# line counts: a line whose column B is not above 0 (the peer measured nothing, so the measure
# is too coarse for the ratio) makes it say so on standard error, print "error" and fail, and
# bench_line turns that "error" into a failed verdict.
bench_paired_ratio() {
  local ratios
  if ! ratios=$(awk -v a="$2" -v b="$3" -v file="$1" '
    !($b + 0 > 0) {
      printf "%s, line %d: the peer (column %d) read %s, so the measure is too coarse for a ratio\n",
        file, NR, b, $b > "/dev/stderr"
      bad = 1
      next
    }
    { printf "%.9g\n", $a / $b }
    END { exit bad }' "$1"); then
    echo error
    return 1
  fi
  if [[ -z "$ratios" ]]; then echo nan; else bench_median <<<"$ratios"; fi
}

# The median of column C of FILE.
bench_column_median() { awk -v c="$2" '{ print $c }' "$1" | bench_median; }

# The program bench_measure runs commands under (bench/RunMeasured.cpp): build/bench/RunMeasured
# unless bench_use_build names another build folder.
bench_run_measured=build/bench/RunMeasured
# Takes the build folder BUILD's RunMeasured; says so and fails (status 2) when it is not built.
bench_use_build() {
  bench_run_measured="$1/bench/RunMeasured"
  [[ -x "$bench_run_measured" ]] ||
    { echo "$bench_run_measured is not built (cmake --build $1 --target RunMeasured)" >&2; return 2; }
}

# Runs COMMAND (its standard streams as the caller's) and appends "CPU_SECONDS WALL_SECONDS
# PEAK_KB" to FILE; returns COMMAND's status. CPU is user plus system time of COMMAND and every
# descendant it waited for, all threads included, as the kernel counts it for the reaped
# process (to the microsecond, not the 10 ms of a tick or of GNU time's two decimals); wall
# runs from the spawn to the reaping; PEAK_KB is the largest resident size among them.
#   bench_measure FILE COMMAND [ARGUMENTS...]
bench_measure() { "$bench_run_measured" "$@"; }

# Runs the command as bench_measure does and appends its "CPU_SECONDS WALL_SECONDS PEAK_KB" to
# FILE; its output goes to nowhere, and a failed run stops the script with what it printed.
bench_time_to() {
  local file="$1"
  shift
  local log
  log=$(mktemp)
  if ! bench_measure "$file" "$@" >/dev/null 2>"$log"; then
    echo "failed: $*" >&2
    tail -c 2000 "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}

# CPU seconds (user and system, its ended threads included) that process PID has used so far,
# to the nanosecond: the process's CPU clock, which the kernel keeps exact where /proc/PID/stat
# rounds to 10 ms ticks.
bench_cpu_seconds() {
  python3 -c '
import sys, time
pid = int(sys.argv[1])
print(f"{time.clock_gettime(((~pid) << 3) | 2):.9f}")  # the clock id clock_getcpuclockid gives
' "$1" 2>/dev/null ||
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / hz }' "/proc/$1/stat"
}

# Run seconds, to the nanosecond, of the threads process PID has now (the ticks of
# /proc/PID/stat are 10 ms, too coarse for a few milliseconds); for processes whose threads live
# through what is measured.
bench_thread_seconds() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.6f\n", s / 1e9 }'
}

# The goals judged so far, how many of them were missed, and the errors met (a figure that
# could not be taken); bench_finish reports them on the script's last line.
bench_goals=0
bench_missed=0
bench_errors=0

# Counts one verdict: ok (a goal met), missed (a goal missed) or error.
bench_tally() {
  case "$1" in
    ok) bench_goals=$((bench_goals + 1)) ;;
    missed) bench_goals=$((bench_goals + 1)) bench_missed=$((bench_missed + 1)) ;;
    error) bench_errors=$((bench_errors + 1)) ;;
  esac
}

# Judges VALUE against GOAL and sets bench_verdict to the words that say so ("goal ratio <=
# 1.05: ok", "goal < 300 ms: OVER", "goal >= 20 x: UNDER", "(for information)"), counting the
# verdict. VALUE is judged as it is printed, to three decimals, so the verdict and the printed
# number never disagree. A VALUE that is no number (a ratio of "error" when a peer read 0) is a
# goal missed and an error. Not in a subshell ($(...)): the counts would be lost.
#   bench_judge KIND VALUE GOAL [UNIT]
# KIND is "ratio<=", "ratio>=", "figure<", "figure<=", "figure>=" or "-" (no goal).
bench_judge() {
  local kind="$1" value="$2" goal="${3:-}" unit="${4:-}" met what
  if [[ "$kind" == - ]]; then
    bench_verdict="(for information)"
    return 0
  fi
  met=$(awk -v k="$kind" -v v="$value" -v g="$goal" 'BEGIN {
    if (v !~ /^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?$/) { print "error"; exit }
    s = sprintf("%.3f", v) + 0
    if (k == "ratio<=" || k == "figure<=") print (s <= g + 0) ? "ok" : "OVER"
    else if (k == "ratio>=" || k == "figure>=") print (s >= g + 0) ? "ok" : "UNDER"
    else if (k == "figure<") print (s < g + 0) ? "ok" : "OVER"
    else print "kind" }')
  case "$kind" in
    ratio*) what="goal ratio ${kind#ratio} $goal" ;;
    *) what="goal ${kind#figure} $goal${unit:+ $unit}" ;;
  esac
  case "$met" in
    ok) bench_tally ok ;;
    OVER | UNDER) bench_tally missed ;;
    error)
      bench_tally missed
      bench_tally error
      met="ERROR, no figure to judge ($value)"
      ;;
    *) echo "bench_judge: unknown goal kind '$kind'" >&2; exit 2 ;;
  esac
  bench_verdict="$what: $met"
}

# A yes-or-no goal: bench_verdict is "goal WHAT: ok" when MET is "yes", else "goal WHAT: MISSED";
# counted as bench_judge counts.
#   bench_judge_that WHAT yes|no
bench_judge_that() {
  if [[ "$2" == yes ]]; then
    bench_tally ok
    bench_verdict="goal $1: ok"
  else
    bench_tally missed
    bench_verdict="goal $1: MISSED"
  fi
}

# An error line in the report (a figure that could not be taken, an output that differs from
# what it must be): printed on standard output with the figures, and counted.
bench_error() {
  echo "ERROR: $*"
  bench_tally error
}

# The report's last line: how many goals were missed of how many, and the errors; then exits,
# 1 when a goal was missed or an error met, else 0.
bench_finish() {
  local goals="goals"
  ((bench_goals == 1)) && goals="goal"
  local line
  if ((bench_goals == 0)); then
    line="no goals judged"
  elif ((bench_missed == 0)); then
    line="all $bench_goals $goals met"
  else
    line="$bench_missed of $bench_goals $goals missed"
  fi
  ((bench_errors == 0)) || line="$line; $bench_errors error$( ((bench_errors == 1)) || echo s) (ERROR above)"
  echo "$line"
  ((bench_missed == 0 && bench_errors == 0)) && exit 0
  exit 1
}

# One line: the figure, its peer's, their paired ratio and the goal the ratio (or the figure,
# when the goal names a unit) is held to, with the verdict (bench_judge, which counts it).
# Figures and ratio are printed to three decimals. A ratio of "error" (bench_paired_ratio found
# a peer that read 0) prints an ERROR and counts as one.
#   bench_line LABEL FIGURE PEER RATIO UNIT GOAL_KIND GOAL
# GOAL_KIND is "ratio<=", "ratio>=", "figure<", "figure<=" or "-" (for information).
bench_line() {
  local label="$1" figure="$2" peer="$3" ratio="$4" unit="$5" kind="$6" goal="$7"
  local coarse="ERROR: a peer read 0, the measure is too coarse"
  if [[ "$kind" == figure* ]]; then
    bench_judge "$kind" "$figure" "$goal" "$unit"
  elif [[ "$ratio" == error ]]; then
    [[ "$kind" == - ]] || bench_tally missed
    bench_verdict=""
  else
    bench_judge "$kind" "$ratio" "$goal" "$unit"
  fi
  if [[ "$ratio" == error ]]; then
    bench_tally error
    bench_verdict="${bench_verdict:+$bench_verdict; }$coarse"
  fi
  awk -v l="$label" -v f="$figure" -v p="$peer" -v r="$ratio" -v u="$unit" -v v="$bench_verdict" 'BEGIN {
    rs = (r == "error") ? "error" : sprintf("%.3f", r)
    printf "%-44s %10.3f %-4s peer %10.3f %-4s ratio %7s   %s\n", l, f, u, p, u, rs, v }'
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

# Makes the 10-minute 720p title (and the MP4 of the same media) that build/bench/RemuxBench
# caches in BUILD/fixtures, when no TITLE is given and none is cached yet: builds RemuxBench and
# runs it once, saying so first. Not in a subshell: its lines are the report's.
#   bench_need_title BUILD [TITLE]
bench_need_title() {
  local build="$1"
  [[ -z "${2:-}" ]] || return 0
  ls "$build"/fixtures/bench10min-*.svm "$build"/fixtures/bench10min-*.mp4 >/dev/null 2>&1 && return 0
  bench_build RemuxBench || return 2
  echo "making the 10-minute 720p title once: $build/bench/RemuxBench (about 2.5 minutes; 1.1 GB in $build/fixtures)"
  local log
  log=$(mktemp)
  if ! "$build/bench/RemuxBench" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    rm -f "$log"
    echo "$build/bench/RemuxBench failed" >&2
    return 2
  fi
  rm -f "$log"
}

# The title a benchmark works on, as an absolute path: TITLE when given, else the newest
# 10-minute 720p title build/bench/RemuxBench caches in BUILD/fixtures (bench_need_title makes
# it). Says why and fails (status 2) when there is none.
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

# The MP4 of the same media as the title, the file a user would hand ffmpeg, as an absolute
# path: MP4 when given; else, when no title was named either, the newest 10-minute MP4
# build/bench/RemuxBench caches beside its title in BUILD/fixtures. Says why and fails (status
# 2) when there is none.
#   mp4=$(bench_title_mp4 BUILD [TITLE] [MP4]) || exit 2
bench_title_mp4() {
  local build="$1" title="${2:-}" mp4="${3:-}"
  if [[ -z "$mp4" ]]; then
    [[ -z "$title" ]] || { echo "$title: name the MP4 of the same media with -m" >&2; return 2; }
    mp4=$(ls -t "$build"/fixtures/bench10min-*.mp4 2>/dev/null | head -n 1 || true)
    [[ -n "$mp4" ]] ||
      { echo "no MP4 given and none cached: run $build/bench/RemuxBench once, or name one" >&2; return 2; }
  fi
  [[ -f "$mp4" ]] || { echo "$mp4: no such file" >&2; return 2; }
  echo "$(cd "$(dirname "$mp4")" && pwd)/$(basename "$mp4")"
}

# A free TCP port on 127.0.0.1.
bench_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The kB value of field KEY (VmHWM, VmRSS, ...) of /proc/PID/status.
bench_status_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

# KB kilobytes as the kernel counts them (/proc's "kB" are 1024 bytes) in the MB every figure
# is printed in (10^6 bytes), to three decimals. A reading that is no number (the process was
# gone, the field missing) prints "error" and fails: a figure of 0 would pass any "under" goal.
#   mb=$(bench_kb_mb KB)
bench_kb_mb() {
  awk -v k="$1" 'BEGIN {
    if (k !~ /^[0-9]+([.][0-9]*)?$/) { print "error"; exit 1 }
    printf "%.3f\n", k * 1024 / 1e6 }'
}

# How far the readings on standard input (one number a line, the first the baseline: the one
# after the warm-up) rose above the first at their highest, to ten significant digits; 0 when
# none rose. A rise that falls back before the end still counts: the memory was taken. No
# reading, or one that is no number, prints "error" and fails.
#   growth=$(printf '%s\n' FIRST LATER... | bench_peak_growth)
bench_peak_growth() {
  awk '
    $0 !~ /^[-+]?[0-9]+([.][0-9]*)?$/ { bad = 1; exit }
    NR == 1 { first = $1; peak = $1; next }
    $1 + 0 > peak + 0 { peak = $1 }
    END {
      if (bad || NR == 0) { print "error"; exit 1 }
      printf "%.10g\n", peak - first
    }'
}

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

# "TYPE COUNT" per stream of media FILE, its packets as ffprobe reads them (a transport stream's
# programs list their streams again: each stream counts once); ffprobe's complaints, kept in
# WORK, fail the check and stop the script.
#   bench_packet_counts FILE WORK
bench_packet_counts() {
  local counts
  counts=$(ffprobe -v error -count_packets -show_entries stream=index,codec_type,nb_read_packets \
    -of csv=p=0 "$1" 2>"$2/probe.err") && [[ ! -s "$2/probe.err" ]] ||
    { echo "ffprobe on $1:" >&2; cat "$2/probe.err" >&2; exit 1; }
  awk -F, 'NF == 3 && !seen[$1]++ { print $2, $3 }' <<<"$counts" | sort
}

# The task-clock milliseconds in perf stat's CSV output FILE (-x,); none at all stops the
# script with what perf wrote, and so does zero when NONZERO is given (a CPU reading of zero
# leaves a pair nothing to compare).
#   ms=$(bench_perf_ms FILE [nonzero])
bench_perf_ms() {
  local ms
  ms=$(awk -F, '$3 == "task-clock" { print $1 }' "$1")
  if [[ -z "$ms" ]] || { [[ "${2:-}" == nonzero ]] && ! awk -v v="$ms" 'BEGIN { exit (v + 0 > 0) ? 0 : 1 }'; }; then
    echo "error: perf counted '$ms' ms of CPU in $1:" >&2
    cat "$1" >&2
    exit 1
  fi
  echo "$ms"
}
