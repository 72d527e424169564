#!/usr/bin/env bash
# zul's CPU with nothing moving: signed in on the portal's home page, beside a bare WebKit view
# on the same page:
#   bench/IdleCpuBench.sh [-h] [-b BUILD] [-n RUNS] [-t SECONDS] [-w WARMUP]
# -b: the build folder (build by default); -n: the runs (3 by default). It builds what it runs
# (cmake --build BUILD --target zul zul-portal IdleWebViewPeer).
#   - build/app/zul on a private Xvfb against a fresh build/portal/zul-portal, signed in as a
#     person does (xdotool clicks and typing, each step waiting for the application's log line
#     that it is done), left on the home page;
#   - beside build/bench/IdleWebViewPeer (one WebKit view in a GTK window of zul's size, WebKit's
#     defaults) on the same portal's home page with the sign-in's cookies, signed in as well;
#   - once the page has loaded, WARMUP seconds (5 by default), then the CPU of the whole process
#     tree (every thread of the program and of the processes it started, WebKit's among them:
#     perf's task-clock) over SECONDS (20 by default), in % of one core. Each run's line also
#     shows each process's share (from /proc, to the 10 ms tick).
# The sides run in turn RUNS times (3 by default); the figures are the medians, the ratio the
# median of the run-by-run ratios (for information: the peer may read next to nothing), and the
# goal is zul's figure under 0.3 % of a core. Exits 1 when the goal is missed, its last line
# saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh
# shellcheck source=bench/bench_desktop.sh
source bench/bench_desktop.sh

runs=3
seconds=20
warmup=5
goal=0.3
bench_own_options="t:w:"
bench_own_option() {
  case "$1" in
    t) [[ "$2" =~ ^[1-9][0-9]*$ ]] && seconds="$2" ;;
    w) [[ "$2" =~ ^[0-9]+$ ]] && warmup="$2" ;;
  esac
}
bench_options "$@"
set -- "${bench_arguments[@]}"
(($# == 0)) || bench_usage_error "no arguments besides the options"
for tool in Xvfb xdotool perf curl; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
bench_build zul zul-portal IdleWebViewPeer || exit 2
zul="$build/app/zul"
portal="$build/portal/zul-portal"
peer="$build/bench/IdleWebViewPeer"

work=$(mktemp -d /tmp/svidlecpu.XXXXXX)
trap 'stop_side; stop_display; rm -rf "$work"' EXIT

# "PID NAME TICKS" of PID and every process below it, TICKS its user + system time so far.
tree_ticks() {
  local p
  for p in "$1" $(pgrep -P "$1" || true); do
    awk '{ sub(/^[^(]*\(/, ""); name = $0; sub(/\).*/, "", name); sub(/^.*\) /, "");
           print name, $12 + $13 }' "/proc/$p/stat" 2>/dev/null | sed "s/^/$p /" || true
  done
}
# Each process's share between two tree_ticks files, in % of a core over SECONDS.
shares() {
  awk -v s="$seconds" -v hz="$(getconf CLK_TCK)" 'NR == FNR { before[$1] = $3; next }
    { printf "%s%s %.2f %%", sep, $2, ($3 - before[$1]) * 100 / hz / s; sep = ", " }' "$1" "$2"
}

# Counts the side NAME (its program PID) over SECONDS after WARMUP: the milliseconds to
# $work/NAME.ms, each process's share to $work/NAME.shares.
measure() {
  local name="$1" pid="$2"
  sleep "$warmup"
  tree_ticks "$pid" >"$work/$name.before"
  count_say "$name" enable
  sleep "$seconds"
  count_say "$name" disable
  tree_ticks "$pid" >"$work/$name.after"
  kill -0 "$pid" 2>/dev/null || { echo "$name ended while it was measured" >&2; exit 1; }
  shares "$work/$name.before" "$work/$name.after" >"$work/$name.shares"
  stop_side
  bench_perf_ms "$work/$name.perf" >"$work/$name.ms"
}

# zul signed in on the portal's home page; its window's size to $work/zul.size.
idle_zul() {
  start_counted_zul zul "$work/home-$1"
  window_size "$window" >"$work/zul.size"
  # The e-mail and password fields, Sign in, then the alert's OK, on the phone layout.
  sign_in 240,167 240,211 240,281 240,200
  measure zul "$zul_pid"
}

# The bare view on the same page, with the cookies of a sign-in of its own.
idle_peer() {
  local peer_pid cookies
  start_portal
  cookies=$(curl -s -o /dev/null -D - --data-urlencode "_58_login=demo@zul.test" --data-urlencode "_58_password=demo" \
    --data-urlencode "_58_did=idle-bench" "$portal_url/c/portal/login" |
    awk 'tolower($1) == "set-cookie:" { sub(/;.*/, "", $2); print $2 }' | tr -d '\r')
  [[ "$cookies" == *COMPANY_ID=* && "$cookies" == *ID=* ]] ||
    { echo "the portal gave no sign-in cookies: $cookies" >&2; exit 1; }
  # shellcheck disable=SC2086
  count_start peer "$peer" "$portal_url/home" "$(cat "$work/zul.size")" $cookies \
    >"$work/peer.out" 2>"$work/peer.err"
  counted_pids=("$counted_perf")
  peer_pid=$(counted_child "$counted_perf" IdleWebViewPeer)
  counted_children=("$peer_pid")
  wait_for_line "$work/peer.out" "loaded" 60
  measure peer "$peer_pid"
}

# The demo data, made by the portal itself once (into the build's folder).
copy_demo_data "$build" "$build/portal-data/thumbs"

start_display
echo "zul signed in on the portal's home page beside a bare WebKit view on it, ${seconds} s after ${warmup} s, $runs runs"
: >"$work/runs"
for ((r = 1; r <= runs; ++r)); do
  idle_zul "$r"
  idle_peer
  echo "$(cat "$work/zul.ms") $(cat "$work/peer.ms")" >>"$work/runs"
  printf "run %d: zul %.3f ms CPU (%s); bare view %.3f ms CPU (%s)\n" "$r" \
    "$(cat "$work/zul.ms")" "$(cat "$work/zul.shares")" "$(cat "$work/peer.ms")" "$(cat "$work/peer.shares")"
done
zul_ms=$(bench_column_median "$work/runs" 1)
peer_ms=$(bench_column_median "$work/runs" 2)
ratio=$(bench_paired_ratio "$work/runs" 1 2 || true)
zul_percent=$(awk -v f="$zul_ms" -v s="$seconds" 'BEGIN { printf "%.6f", f / 10 / s }')
bench_judge "figure<" "$zul_percent" "$goal" %
awk -v l="idle CPU on the portal's home page, window $(cat "$work/zul.size"), % of a core" \
  -v fp="$zul_percent" -v p="$peer_ms" -v r="$ratio" -v s="$seconds" -v v="$bench_verdict" 'BEGIN {
  pp = p / 10 / s
  printf "%-62s zul %7.3f %% bare WebKit view %7.3f %% ratio %s   %s\n",
    l, fp, pp, (r == "error" || r == "nan") ? "n/a" : sprintf("%.2f", r), v }'
bench_finish
