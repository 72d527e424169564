#!/usr/bin/env bash
# The benchmark scripts' shared verdicts and options (bench_lib.sh), fed fixed figures:
#   bench_lib_test.sh BENCH_LIB
set -euo pipefail
if [[ $# -ne 1 || "$1" == -h || "$1" == --help ]]; then
  echo "usage: bench/bench_lib_test.sh bench/bench_lib.sh"
  [[ $# -eq 1 && ( "$1" == -h || "$1" == --help ) ]]
  exit
fi
lib="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A benchmark in miniature: judges each "KIND FIGURE GOAL RATIO" line of its input with
# bench_line, as the scripts do, then finishes.
cat >"$work/judge.sh" <<SCRIPT
#!/usr/bin/env bash
set -euo pipefail
source "$lib"
while read -r kind figure goal ratio; do
  bench_line "figure" "\$figure" 1 "\$ratio" s "\$kind" "\$goal"
done
bench_finish
SCRIPT

# One verdict per row: KIND FIGURE GOAL RATIO, then the verdict's last word and the exit status.
# Goals are judged on the figure as printed, to three decimals.
while read -r kind figure goal ratio verdict status; do
  out=$(printf '%s %s %s %s\n' "$kind" "$figure" "$goal" "$ratio" | bash "$work/judge.sh") && got=0 || got=$?
  line=$(head -n 1 <<<"$out")
  [[ "$line" == *"$verdict" ]] || fail "$kind $figure (goal $goal, ratio $ratio): '$line', not ending in '$verdict'"
  ((got == status)) || fail "$kind $figure (goal $goal, ratio $ratio): exit $got, not $status"
done <<'ROWS'
figure<   299.999  300   1      ok     0
figure<   300      300   1      OVER   1
figure<   299.9996 300   1      OVER   1
figure<=  1.0004   1     1      ok     0
figure<=  1.0006   1     1      OVER   1
figure>=  19.9     20    1      UNDER  1
figure>=  20       20    1      ok     0
ratio<=   1        1.05  1.0504 ok     0
ratio<=   1        1.05  1.06   OVER   1
ratio>=   1        0.95  0.9496 ok     0
ratio>=   1        0.95  0.9494 UNDER  1
ratio<=   1        1.05  error  coarse 1
-         1        -     error  coarse 1
-         1        -     3      information) 0
ROWS

# The last line counts the goals missed; every line is printed before it, the ones after a miss
# included. Rows: the lines fed (";" between them), the last line and the exit status.
while IFS='|' read -r lines last status; do
  out=$(tr ';' '\n' <<<"$lines" | bash "$work/judge.sh") && got=0 || got=$?
  want_lines=$(($(tr ';' '\n' <<<"$lines" | wc -l) + 1))
  (($(wc -l <<<"$out") == want_lines)) || fail "$lines: $(wc -l <<<"$out") lines printed, not $want_lines"
  [[ "$(tail -n 1 <<<"$out")" == "$last" ]] || fail "$lines: last line '$(tail -n 1 <<<"$out")', not '$last'"
  ((got == status)) || fail "$lines: exit $got, not $status"
done <<'ROWS'
ratio<= 1 1.05 1;figure< 10 300 1;- 1 - 2|all 2 goals met|0
ratio<= 1 1.05 2;figure< 10 300 1;figure< 400 300 1|2 of 3 goals missed|1
figure< 10 300 1|all 1 goal met|0
- 1 - 2|no goals judged|0
- 1 - error;figure< 10 300 1|all 1 goal met; 1 error (ERROR above)|1
ROWS

# The options every script takes: -h/--help prints the usage and nothing else, exit 0; -b and -n
# set build and runs; a bad value or an unknown option is a usage error, exit 2.
cat >"$work/options.sh" <<SCRIPT
#!/usr/bin/env bash
# usage: options.sh [-b BUILD] [-n RUNS] [-m MP4] [TITLE]
set -euo pipefail
source "$lib"
runs=5
mp4=none
bench_own_options="m:"
bench_own_option() { [[ "\$1" == m ]] && mp4="\$2"; }
bench_options "\$@"
echo "build=\$build runs=\$runs mp4=\$mp4 arguments=\${bench_arguments[*]}"
SCRIPT
while IFS='|' read -r arguments want status; do
  # shellcheck disable=SC2086 # the row's arguments are words
  out=$(bash "$work/options.sh" $arguments 2>&1) && got=0 || got=$?
  ((got == status)) || fail "options '$arguments': exit $got, not $status"
  [[ "$out" == *"$want"* ]] || fail "options '$arguments': '$out' holds no '$want'"
  if [[ "$want" == "usage: options.sh"* && "$out" == *build=* ]]; then
    fail "options '$arguments': went on after the usage"
  fi
done <<'ROWS'
|build=build runs=5 mp4=none arguments=|0
-b out -n 3 title.svm|build=out runs=3 mp4=none arguments=title.svm|0
-m a.mp4 -b out|build=out runs=5 mp4=a.mp4 arguments=|0
--help|usage: options.sh [-b BUILD]|0
-h|usage: options.sh [-b BUILD]|0
-b out --help|usage: options.sh [-b BUILD]|0
-n 0|RUNS (-n) must be a positive whole number|2
-n two|RUNS (-n) must be a positive whole number|2
-x|unknown option -x|2
-b|-b needs a value|2
ROWS

# Memory figures: the kernel's kB (1024 bytes) in MB of 10^6 bytes, and the peak growth over
# the first reading. Rows: the function, its input (";" between lines), what it prints and its
# exit status.
while IFS='|' read -r function input want status; do
  out=$(
    # shellcheck source=bench/bench_lib.sh
    source "$lib"
    if [[ "$function" == bench_kb_mb ]]; then
      bench_kb_mb "$input"
    else
      tr ';' '\n' <<<"$input" | "$function"
    fi
  ) && got=0 || got=$?
  [[ "$out" == "$want" ]] || fail "$function '$input': '$out', not '$want'"
  ((got == status)) || fail "$function '$input': exit $got, not $status"
done <<'ROWS'
bench_kb_mb|63180|64.696|0
bench_kb_mb|62500|64.000|0
bench_kb_mb|1|0.001|0
bench_kb_mb|0|0.000|0
bench_kb_mb||error|1
bench_kb_mb|12 kB|error|1
bench_peak_growth|100;102.5;100.2|2.5|0
bench_peak_growth|100;99;98|0|0
bench_peak_growth|100|0|0
bench_peak_growth|64000;63000;64500;63900|500|0
bench_peak_growth|9;10;100|91|0
bench_peak_growth||error|1
bench_peak_growth|100;;101|error|1
bench_peak_growth|100;gone|error|1
ROWS

((failures == 0)) || { echo "$failures failed"; exit 1; }
echo "all passed"
