#!/usr/bin/env bash
# The desktop movie player's CPU playing the 720p test title at normal speed, beside GStreamer's
# own playbin with gtksink playing the same HLS URL:
#   bench/PlayerCpuBench.sh [-h] [-b BUILD] [-n RUNS] [-t SECONDS] [-w WARMUP] [-a PART] [TITLE]
# -b: the build folder (build by default); -n: the runs (3 by default). It builds what it runs
# (cmake --build BUILD --target MoviePlayerCpuBench HlsServeBench zul zul-portal svplay).
#   - the title (by default the 10-minute 1280x720 title, 25 fps, H.264 at 4.8 Mbit/s and AAC,
#     that build/bench/RemuxBench caches in BUILD/fixtures; made by running it once when it is
#     missing: a few minutes) is served as HLS on 127.0.0.1 by build/bench/HlsServeBench (the engine's chain),
#     a fresh one for each play; its CPU is counted for neither side;
#   - build/bench/MoviePlayerCpuBench plays the URL with the application's movie player in a
#     window of the application's size (480 x 320) on a private Xvfb, the sound to
#     fakeaudiosink; with --playbin, playbin + gtksink in a GTK window of the same size on a
#     private Xvfb of the same size, the sound to the same fakeaudiosink;
#   - each plays for WARMUP seconds (5 by default) once playing, then its process's CPU time
#     over SECONDS (30 by default) of play is the figure, in % of one core.
# The sides run in turn RUNS times (3 by default); the figures are the medians, the ratio the
# median of the run-by-run ratios, goal <= 1.05. Each run's line also shows how much of the
# movie was played and how many pictures were drawn and dropped over the span (about SECONDS
# and 25 a second for both, or the sides did not do the same work), and the X server's CPU.
# Then the whole application, at both window sizes (phone: 480 x 320, pad: --idiom pad), with
# the player's controls shown and with them hidden:
#   - build/app/zul on a private Xvfb, against a fresh build/portal/zul-portal whose movie
#     "Test Pattern" (101) is the title, signed in, opened and played as a person would (xdotool
#     clicks and typing, each step waiting for the application's log line that it is done);
#     the sound to fakeaudiosink (ZUL_SILENT=1); the controls show when the movie starts
#     playing and stay until a tap on the picture hides them: for the hidden figure a fresh zul
#     is tapped once playing (the tap tried again until its log says the controls hid);
#   - beside svplay playing the same title from the same portal URL and serving it on loopback,
#     with `gst-launch-1.0 playbin` (gtksink, its window set to the application's size,
#     fakeaudiosink) playing svplay's URL;
#   - once playing, WARMUP seconds, then the CPU of the whole process tree over SECONDS: perf's
#     task-clock of every thread of zul and of the processes it started (WebKit's among them),
#     beside the sum of svplay's and gst-launch's, and the X server's CPU meanwhile (for
#     information). A zero reading stops the script as an error; so do controls that were
#     not in their state all along.
#   - each run plays zul with the controls shown, the peer, then zul with them hidden; each
#     state's ratio is the median of the run-by-run ratios to the peer of its run, goal <= 1.05
#     (four lines judged: phone and pad, controls shown and hidden).
# -a player or -a app runs one part only (both by default). A peer that fails to start or
# play (gtksink now and then fails to start) is tried again once before the run is given up.
# Exits 1 when the goal is missed or a figure cannot be taken, its last line saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh
# shellcheck source=bench/bench_desktop.sh
source bench/bench_desktop.sh

runs=3
seconds=30
warmup=5
parts=both
bench_own_options="t:w:a:"
bench_own_option() {
  case "$1" in
    a) [[ "$2" =~ ^(both|player|app)$ ]] && parts="$2" ;;
    t) [[ "$2" =~ ^[1-9][0-9]*$ ]] && seconds="$2" ;;
    w) [[ "$2" =~ ^[0-9]+$ ]] && warmup="$2" ;;
  esac
}
bench_options "$@"
set -- "${bench_arguments[@]}"
(($# <= 1)) || bench_usage_error "one TITLE at most"
for tool in Xvfb xdotool perf gst-launch-1.0; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
bench_build MoviePlayerCpuBench HlsServeBench zul zul-portal svplay || exit 2
player="$build/bench/MoviePlayerCpuBench"
server="$build/bench/HlsServeBench"
zul="$build/app/zul"
portal="$build/portal/zul-portal"
svplay="$build/tools/svplay/svplay"
bench_need_title "$build" "${1:-}" || exit 2
title=$(bench_title "$build" "${1:-}") || exit 2

work=$(mktemp -d /tmp/svplayercpu.XXXXXX)
trap 'bench_stop_hls; stop_side; stop_display; rm -rf "$work"' EXIT

# Starts a fresh chain on the title; sets url.
start_server() {
  bench_start_hls "$server" "$work/server" "$title"
  url=$(awk '$1 == "url" { print $2; exit }' "$work/server.out")
}

# Plays the URL of a fresh chain with the player (extra arguments: --playbin); leaves its
# "key value" lines in $work/$1.out. The peer (playbin) that fails is tried once more.
play() {
  local side="$1" tries=1
  shift
  [[ "$side" == player ]] || tries=2
  while true; do
    start_server
    if "$player" "$@" --warmup "$warmup" "$url" "$seconds" >"$work/$side.out" 2>"$work/$side.err"; then
      break
    fi
    bench_stop_hls
    if ((--tries == 0)); then
      echo "$player $* failed:" >&2
      cat "$work/$side.out" "$work/$side.err" >&2
      exit 1
    fi
    echo "$side failed, trying it once more: $(tail -n 1 "$work/$side.err")"
  done
  bench_stop_hls
}
value() { awk -v k="$2" '$1 == k { print $2; exit }' "$work/$1.out"; }

echo "title: $title, ${seconds} s of play after ${warmup} s, $runs runs"
if [[ "$parts" != app ]]; then
# Columns of each run: the player's CPU %, the peer's, then the X server's for each.
: >"$work/runs"
for ((r = 1; r <= runs; ++r)); do
  play player
  play playbin --playbin
  for side in player playbin; do
    [[ "$(value "$side" window)" == "$(value player window)" ]] ||
      { echo "the windows differ: $(value player window) and $(value playbin window)" >&2; exit 1; }
  done
  echo "$(value player cpu_percent) $(value playbin cpu_percent) $(value player xserver_cpu_percent) $(value playbin xserver_cpu_percent)" >>"$work/runs"
  for side in player playbin; do
    printf "run %d %-8s %6.2f %% of a core (%.3f s CPU in %.3f s); window %s, picture %s; played %6.2f s, %4d pictures drawn, %d dropped; X server %5.2f %%\n" \
      "$r" "$side" "$(value "$side" cpu_percent)" "$(value "$side" cpu_s)" "$(value "$side" wall_s)" "$(value "$side" window)" "$(value "$side" picture)" \
      "$(value "$side" played_s)" "$(value "$side" frames_rendered)" "$(value "$side" frames_dropped)" \
      "$(value "$side" xserver_cpu_percent)"
  done
done

# A zero reading of either side stops the script: the pair has nothing to compare.
awk '$1 + 0 <= 0 || $2 + 0 <= 0 { exit 1 }' "$work/runs" ||
  { echo "error: a side read 0 % of CPU in a run; the pair cannot be compared" >&2; exit 1; }
# LABEL FIGURE PEER RATIO [GOAL]: the ratio printed to 3 decimals and judged as printed.
line() {
  if [[ -n "${5:-}" ]]; then bench_judge "ratio<=" "$4" "$5"; else bench_judge - "$4"; fi
  awk -v l="$1" -v f="$2" -v p="$3" -v r="$4" -v v="$bench_verdict" 'BEGIN {
    printf "%-66s %8.3f %% peer %8.3f %% ratio %7.3f   %s\n", l, f, p, r, v }'
}
echo
echo "the movie player component alone (not the whole zul application), medians of $runs runs"
line "X server CPU meanwhile, % of a core" "$(bench_column_median "$work/runs" 3)" \
  "$(bench_column_median "$work/runs" 4)" "$(bench_paired_ratio "$work/runs" 3 4)"
line "1x playback CPU of the player, % of a core (peer playbin+gtksink)" "$(bench_column_median "$work/runs" 1)" \
  "$(bench_column_median "$work/runs" 2)" "$(bench_paired_ratio "$work/runs" 1 2)" 1.05
fi

[[ "$parts" != player ]] || bench_finish

# The whole application.

# The milliseconds perf counted for NAME once it has ended; zero or none is an error.
count_ms() { bench_perf_ms "$work/$1.perf" nonzero; }

# SECONDS of waiting, with the private X server's CPU meanwhile (for information: it draws for
# both sides) to OUT.ms.
x_server_during() {
  perf stat -x, -e task-clock -p "$xvfb_pid" -o "$1.perf" -- sleep "$seconds"
  awk -F, '$3 == "task-clock" { print $1 }' "$1.perf" >"$1.ms"
}

# The demo data, made by the portal itself once (into the build's folder), copied with movie
# 101 ("pattern") replaced by the title.
copy_demo_data "$build" "$build/portal-data/media/pattern.svm"
ln -sf "$title" "$work/portal-data/media/pattern.svm"

# Where a person clicks, in the window, for each idiom: the e-mail and password fields, Sign in,
# the alert's OK, Movies in the portal's bar, the first movie's poster, the spot scrolled over,
# the Play button once scrolled, and the middle of the picture (a tap there shows or hides the
# player's controls).
declare -A at
at[phone]="240,167 240,211 240,281 240,200 192,72 120,290 240,200 66,218 240,160"
at[pad]="512,212 512,263 512,343 512,424 192,72 120,290 700,600 406,303 512,384"

# Whether the player's controls were last said to be STATE (shown or hidden) in zul's log.
controls_are() {
  [[ "$(grep -o '\[Q\] controls [a-z]*' "$work/zul.log" | tail -n 1)" == "[Q] controls $1" ]]
}

# zul signed in and playing movie 101 at IDIOM with its controls in STATE (shown or hidden);
# its CPU over SECONDS after WARMUP to $work/app.ms, its window's size to $work/app.size.
#   play_app IDIOM RUN STATE
play_app() {
  local idiom="$1" state="$3" points args=()
  read -r -a points <<<"${at[$idiom]}"
  [[ "$idiom" == pad ]] && args+=(--idiom pad)
  start_counted_zul app "$work/home-$1-$2-$3" "${args[@]}"
  window_size "$window" >"$work/app.size"
  sign_in "${points[@]:0:4}"
  wait_for_line "$work/zul.log" "webViewDidFinishLoad:$portal_url/movies" 60 "click ${points[4]}"
  wait_for_line "$work/zul.log" "webViewDidFinishLoad:$portal_url/-/-/101" 60 "click ${points[5]}"
  # shellcheck disable=SC2317 # called by wait_for_line
  play_button() {
    xdotool mousemove --window "$window" "${points[6]%,*}" "${points[6]#*,}"
    for _ in $(seq 15); do xdotool click 5; done
    sleep 0.5
    click "${points[7]}"
  }
  wait_for_line "$work/zul.log" "[Q] PLAYSTATE: 1" 60 play_button
  wait_for_line "$work/zul.log" "[Q] controls shown" 30
  if [[ "$state" == hidden ]]; then
    # shellcheck disable=SC2317 # called by wait_for_line
    tap_picture() { controls_are hidden || click "${points[8]}"; }
    wait_for_line "$work/zul.log" "[Q] controls hidden" 30 tap_picture
  fi
  sleep "$warmup"
  count_say app enable
  local began
  began=$(date +%s.%N)
  x_server_during "$work/x-app"
  count_say app disable
  awk -v s="$began" -v e="$(date +%s.%N)" 'BEGIN { printf "%.6f\n", e - s }' >"$work/app.wall"
  kill -0 "$zul_pid" 2>/dev/null || { echo "zul ended while it was measured" >&2; exit 1; }
  grep -q "PLAYSTATE: [02]" "$work/zul.log" && { echo "zul's playback stopped while it was measured" >&2; exit 1; }
  controls_are "$state" || { echo "zul's controls were not $state all along" >&2; exit 1; }
  stop_side
  count_ms app >"$work/app.ms"
}

# svplay playing movie 101 from the portal and gst-launch-1.0 playbin playing svplay's URL in a
# window of SIZE; their CPU together to $work/peer.ms.
play_peer() {
  local size="$1" sv_pid gst_pid url gst_window tries=0
  start_portal
  count_start sv "$svplay" "$portal_url/media/101.svm" --port "$(bench_free_port)" >"$work/sv.out" 2>"$work/sv.err"
  counted_pids=("$counted_perf")
  sv_pid=$(counted_child "$counted_perf" svplay)
  counted_children=("$sv_pid")
  url=""
  until [[ -n "$url" ]]; do
    url=$(head -n 1 "$work/sv.out" 2>/dev/null || true)
    [[ -n "$url" ]] && break
    kill -0 "$sv_pid" 2>/dev/null && ((++tries < 6000)) || { echo "svplay did not start:" >&2; cat "$work/sv.err" >&2; exit 1; }
    sleep 0.01
  done
  count_start gst gst-launch-1.0 playbin "uri=$url" video-sink=gtksink audio-sink=fakeaudiosink \
    >"$work/gst.out" 2>"$work/gst.err"
  counted_pids+=("$counted_perf")
  gst_pid=$(counted_child "$counted_perf" gst-launch-1.0)
  counted_children+=("$gst_pid")
  gst_window=$(main_window "$gst_pid") ||
    { echo "gst-launch-1.0 showed no window" >&2; cat "$work/gst.err" >&2; exit 1; }
  xdotool windowsize --sync "$gst_window" "${size%x*}" "${size#*x}"
  local got
  got=$(window_size "$gst_window")
  [[ "$got" == "$size" ]] || { echo "gst-launch-1.0's window is $got, not $size" >&2; exit 1; }
  wait_for_line "$work/gst.out" "Setting pipeline to PLAYING" 60
  sleep "$warmup"
  count_say sv enable
  count_say gst enable
  local began
  began=$(date +%s.%N)
  x_server_during "$work/x-peer"
  count_say sv disable
  count_say gst disable
  awk -v s="$began" -v e="$(date +%s.%N)" 'BEGIN { printf "%.6f\n", e - s }' >"$work/peer.wall"
  for p in "$sv_pid" "$gst_pid"; do
    kill -0 "$p" 2>/dev/null || { echo "the peer's $p ended while it was measured" >&2; cat "$work/gst.out" "$work/gst.err" "$work/sv.err" >&2; exit 1; }
  done
  grep -q "Got EOS\|ERROR" "$work/gst.out" && { echo "playbin stopped while it was measured:" >&2; cat "$work/gst.out" >&2; exit 1; }
  stop_side
  awk -v a="$(count_ms sv)" -v b="$(count_ms gst)" 'BEGIN { printf "%.3f %.3f %.3f\n", a + b, a, b }' >"$work/peer.ms"
}

# play_peer tried once more when it fails (gtksink now and then fails to start), each try in a
# subshell that ends what it started.
play_peer_retried() {
  local try
  for try in 1 2; do
    if (trap stop_side EXIT; play_peer "$1"); then return 0; fi
    ((try == 1)) || { echo "the peer failed twice" >&2; exit 1; }
    echo "the peer (svplay + gst-launch-1.0) failed, trying it once more"
  done
}

start_display
echo
echo "the whole zul application (its process tree) with the player's controls shown and hidden, beside svplay + gst-launch-1.0 playbin, ${seconds} s after ${warmup} s, $runs runs each"
for idiom in phone pad; do
  # Columns of each run: zul's CPU ms with the controls shown, with them hidden, the peer's
  # (svplay + gst-launch, and each), the three spans' wall seconds, the X server's CPU ms
  # during each.
  : >"$work/app-runs"
  for ((r = 1; r <= runs; ++r)); do
    play_app "$idiom" "$r" shown
    shown_ms=$(cat "$work/app.ms") shown_wall=$(cat "$work/app.wall") x_shown=$(cat "$work/x-app.ms")
    play_peer_retried "$(cat "$work/app.size")"
    play_app "$idiom" "$r" hidden
    read -r peer sv gst <"$work/peer.ms"
    echo "$shown_ms $(cat "$work/app.ms") $peer $sv $gst $shown_wall $(cat "$work/app.wall") $(cat "$work/peer.wall") $x_shown $(cat "$work/x-app.ms") $(cat "$work/x-peer.ms")" >>"$work/app-runs"
    awk -v r="$r" -v i="$idiom" -v s="$(cat "$work/app.size")" '{
      printf "run %d %-5s window %s: zul controls shown %.3f ms CPU in %.3f s (%.3f %% of a core), hidden %.3f ms in %.3f s (%.3f %%); svplay %.3f + gst-launch %.3f = %.3f ms CPU in %.3f s (%.3f %%); X server %.3f / %.3f / %.3f ms\n",
        r, i, s, $1, $6, $1 / 10 / $6, $2, $7, $2 / 10 / $7, $4, $5, $3, $8, $3 / 10 / $8, $9, $10, $11 }' <<<"$(tail -n 1 "$work/app-runs")"
  done
  for state in shown hidden; do
    column=1
    [[ "$state" == hidden ]] && column=2
    ratio=$(bench_paired_ratio "$work/app-runs" "$column" 3) || true
    bench_judge "ratio<=" "$ratio" 1.05
    awk -v l="whole zul, $idiom $(cat "$work/app.size"), controls $state, CPU ms over ${seconds} s" \
      -v f="$(bench_column_median "$work/app-runs" "$column")" -v p="$(bench_column_median "$work/app-runs" 3)" \
      -v r="$ratio" -v v="$bench_verdict" 'BEGIN {
      printf "%-58s %10.3f ms peer (svplay + gst-launch-1.0 playbin) %10.3f ms ratio %7.3f   %s\n", l, f, p, r, v }'
  done
done
bench_finish
