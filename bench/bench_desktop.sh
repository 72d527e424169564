# shellcheck shell=bash disable=SC2154
# Shared pieces of the benchmarks that drive the desktop application on a private X server
# (sourced after bench_lib.sh, not run). They keep their files in the caller's folder $work and
# start the portal program $portal and the application $zul the caller names.

# The perf processes started for the side being measured, and the programs they count.
counted_pids=()
counted_children=()
xvfb_pid=""
portal_pid=""

# COMMAND under perf in the background from its start, counting nothing until enabled through
# its control fifo NAME; sets counted_perf.
count_start() {
  local name="$1"
  shift
  rm -f "$work/$name.ctl" "$work/$name.ack" "$work/$name.perf"
  mkfifo "$work/$name.ctl" "$work/$name.ack"
  perf stat -x, -e task-clock -D -1 --control "fifo:$work/$name.ctl,$work/$name.ack" \
    -o "$work/$name.perf" -- "$@" &
  counted_perf=$!
}
count_say() {
  echo "$2" >"$work/$1.ctl"
  read -r -t 30 _ <"$work/$1.ack" || { echo "perf did not answer for $1" >&2; exit 1; }
}
# The child of perf PID named NAME (the kernel keeps 15 bytes of it), the process counted.
counted_child() {
  local tries=0 child=""
  until [[ -n "$child" ]]; do
    child=$(pgrep -P "$1" -x "${2:0:15}" || true)
    ((++tries < 3000)) || { echo "$2 did not start" >&2; exit 1; }
    [[ -n "$child" ]] || sleep 0.01
  done
  echo "$child"
}
# Ends the programs counted for a side, reaps their perf processes and ends the portal.
stop_side() {
  local p
  for p in "${counted_children[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${counted_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  counted_pids=()
  counted_children=()
  bench_end "$portal_pid"
  portal_pid=""
}

# Waits until FILE has a line holding TEXT; runs ACTION (if any; a command and its arguments in
# one word) every 3 s meanwhile; gives up after SECONDS.
wait_for_line() {
  local file="$1" text="$2" seconds="$3" action="${4:-}" tries=0
  until grep -qF -- "$text" "$file" 2>/dev/null; do
    if [[ -n "$action" ]] && ((tries % 60 == 0)); then $action; fi
    ((++tries < seconds * 20)) || { echo "no \"$text\" in $file after $seconds s" >&2; tail -n 20 "$file" >&2; exit 1; }
    sleep 0.05
  done
}

# The largest window process PID shows (GTK also maps tiny windows of its own), once it has
# one larger than 10 x 10.
main_window() {
  local tries=0 best=""
  until [[ -n "$best" ]]; do
    best=$(for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
      xdotool getwindowgeometry --shell "$w" | awk -F= -v w="$w" '$1 == "WIDTH" { x = $2 } $1 == "HEIGHT" { y = $2 }
        END { if (x * y > 100) print x * y, w }'
    done | sort -n | tail -n 1 | awk '{ print $2 }')
    [[ -n "$best" ]] && break
    ((++tries < 600)) || return 1
    sleep 0.1
  done
  echo "$best"
}
# WIDTHxHEIGHT of WINDOW.
window_size() {
  xdotool getwindowgeometry --shell "$1" |
    awk -F= '$1 == "WIDTH" { w = $2 } $1 == "HEIGHT" { h = $2 } END { print w "x" h }'
}

# A private X server; sets xvfb_pid and DISPLAY.
start_display() {
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
  xvfb_pid=$!
  local tries=0
  until [[ -s "$work/display" ]]; do
    ((++tries < 1000)) || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.err" >&2; exit 1; }
    sleep 0.01
  done
  DISPLAY=":$(head -n 1 "$work/display")"
  export DISPLAY
}
stop_display() { bench_end "$xvfb_pid"; xvfb_pid=""; }

# The portal's demo data in $work/portal-data: a copy of BUILD/portal-data, which the portal
# makes itself once when MARKER (a folder or a file in it) is missing or empty.
copy_demo_data() {
  local build="$1" marker="$2"
  if [[ ! -d "$marker" && ! -s "$marker" ]]; then
    echo "making the portal's demo data (once) ..."
    "$portal" >"$work/portal.out" 2>"$work/portal.err" &
    portal_pid=$!
    wait_for_line "$work/portal.out" "http://" 600
    bench_end "$portal_pid"
    portal_pid=""
  fi
  cp -a "$build/portal-data" "$work/portal-data"
}
# A fresh portal (its accounts' device slots free again) on $work/portal-data; sets portal_url.
start_portal() {
  bench_end "$portal_pid"
  rm -f "$work/portal.out"
  "$portal" --data "$work/portal-data" >"$work/portal.out" 2>"$work/portal.err" &
  portal_pid=$!
  local tries=0
  portal_url=""
  until [[ -n "$portal_url" ]]; do
    portal_url=$(head -n 1 "$work/portal.out" 2>/dev/null || true)
    [[ -n "$portal_url" ]] && break
    if ! kill -0 "$portal_pid" 2>/dev/null || ((++tries > 6000)); then
      echo "zul-portal did not start:" >&2
      cat "$work/portal.err" >&2
      exit 1
    fi
    sleep 0.01
  done
  portal_url=${portal_url%/}
}

# zul with its own HOME against a fresh portal, counted as NAME (count_start), with ARGUMENTS
# after its --portal; its log in $work/zul.log. Sets zul_pid, and window once it shows one.
#   start_counted_zul NAME HOME [ARGUMENTS...]
start_counted_zul() {
  local name="$1" home="$2"
  shift 2
  start_portal
  mkdir -p "$home"
  : >"$work/zul.log"
  HOME="$home" XDG_DATA_HOME="$home/.local/share" ZUL_SILENT=1 \
    count_start "$name" "$zul" --portal "$portal_url/" "$@" >"$work/zul.out" 2>"$work/zul.log"
  counted_pids=("$counted_perf")
  zul_pid=$(counted_child "$counted_perf" zul)
  counted_children=("$zul_pid")
  window=$(main_window "$zul_pid") || { echo "zul showed no window" >&2; exit 1; }
}
# A click at X,Y in zul's window.
click() { xdotool mousemove --window "$window" "${1%,*}" "${1#*,}" click 1; }
# The demo account typed into the e-mail and password fields at EMAIL_AT and PASSWORD_AT, and
# Sign in at SIGN_IN_AT clicked.
type_sign_in() {
  click "$1"; xdotool key ctrl+a; xdotool type --delay 20 "demo@zul.test"
  click "$2"; xdotool key ctrl+a; xdotool type --delay 20 "demo"
  click "$3"
}
# zul signed in as a person does, each step tried again until its log says it is done, and
# left on the portal's home page: the places of the e-mail and password fields, Sign in and the
# alert's OK, each X,Y.
#   sign_in EMAIL_AT PASSWORD_AT SIGN_IN_AT OK_AT
sign_in() {
  wait_for_line "$work/zul.log" "userSignedIn:1" 60 "type_sign_in $1 $2 $3"
  wait_for_line "$work/zul.log" "webViewDidFinishLoad:$portal_url/home" 60 "click $4"
}
