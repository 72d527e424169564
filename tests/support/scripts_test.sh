#!/usr/bin/env bash
# The command lines of the scripts in scripts/: each answers -h and --help with its usage on
# standard output and exit 0 before it installs, configures, builds or runs anything; an option
# it does not know is refused with the reason and the usage, exit 2; scripts/fuzz asked for a
# target it does not have lists the ones it has. Every script runs from another folder, with
# stand-ins for the programs of its real work first on PATH: a script that reaches one of
# them has started that work, and the stand-in notes it and fails.
#   scripts_test.sh SOURCE_DIR
set -uo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

mkdir "$work/bin" "$work/cwd"
for program in cmake ctest ninja dpkg-query apt-get sudo git clang-format clang clang++ ffmpeg \
    Xvfb timeout; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\nexit 97\n' "$program" "$work" >"$work/bin/$program"
  chmod +x "$work/bin/$program"
done

fail() {
  echo "FAIL scripts/$*"
  echo "  stdout: $(head -c 400 "$work/out")"
  echo "  stderr: $(head -c 400 "$work/err")"
  [ -s "$work/calls" ] && echo "  ran: $(head -n 3 "$work/calls" | tr '\n' ';')"
  failures=$((failures + 1))
}

# expect STATUS KIND TEXT SCRIPT [ARGUMENT...]: the script exits STATUS having run none of the
# stand-ins, and what it printed is of the KIND:
#   help     the usage on standard output, its first line "usage: scripts/SCRIPT"; no stderr
#   refused  on standard error only: first "SCRIPT: " and the reason, then the usage
#   told     on standard error only
# and the stream it used holds every line of TEXT ("" for none).
expect() {
  local status="$1" kind="$2" text="$3" script="$4"
  shift 4
  : >"$work/calls"
  local got=0
  (cd "$work/cwd" && PATH="$work/bin:$PATH" "$root/scripts/$script" "$@" \
    >"$work/out" 2>"$work/err" </dev/null) || got=$?
  local what="$script $*"
  if [ "$got" -ne "$status" ]; then fail "$what: exit $got, want $status"; return; fi
  if [ -s "$work/calls" ]; then fail "$what: ran a program of its real work"; return; fi
  local stream=err quiet=out
  [ "$kind" = help ] && { stream=out; quiet=err; }
  if [ -s "$work/$quiet" ]; then fail "$what: wrote to std$quiet"; return; fi
  case "$kind" in
    help)
      if [[ "$(head -n 1 "$work/out")" != "usage: scripts/$script"* ]]; then
        fail "$what: the first line is not its usage"
        return
      fi ;;
    refused)
      if [[ "$(head -n 1 "$work/err")" != "$script: "?* ]] ||
          ! grep -q "^usage: scripts/$script" "$work/err"; then
        fail "$what: not the reason then the usage"
        return
      fi ;;
  esac
  local line
  while IFS= read -r line; do
    [ -z "$line" ] && continue
    grep -qF -- "$line" "$work/$stream" || { fail "$what: std$stream lacks \"$line\""; return; }
  done <<<"$text"
}

scripts=()
for path in "$root"/scripts/*; do
  [ -f "$path" ] && [ -x "$path" ] && scripts+=("$(basename "$path")")
done
if [ ${#scripts[@]} -lt 7 ]; then
  echo "FAIL: only ${#scripts[@]} scripts found in $root/scripts"
  exit 1
fi

for script in "${scripts[@]}"; do
  expect 0 help "" "$script" -h
  expect 0 help "" "$script" --help
  # scripts/test hands the options it does not know to ctest.
  if [ "$script" != test ]; then
    expect 2 refused "--no-such-option" "$script" --no-such-option
  fi
done

# Help wins wherever it stands, a mode or a count before it included.
expect 0 help "" test --plain --help
expect 0 help "" test -L svlibrary -h
expect 0 help "" fuzz --runs 10 --help
expect 0 help "" fuzz 10 JsonParseFuzz -h
expect 0 help "" demo-engine 20 --help

# Scripts that take no arguments refuse one.
for script in compile-commands demo deps format; do
  expect 2 refused "extra" "$script" extra
done
expect 2 refused "--fix" format --check --fix

# A fuzz target it does not have: named, and the targets listed (these three among them).
targets=$'TypedValueFuzz\nJsonParseFuzz\nTsReaderFuzz'
expect 2 told "NoSuchFuzz"$'\n'"$targets" fuzz 10 NoSuchFuzz
expect 2 told "NoSuchFuzz"$'\n'"$targets" fuzz --runs 10 JsonParseFuzz NoSuchFuzz
expect 2 refused "" fuzz --runs many
# SECONDS may be left out: a first word that is no number is a target's name.
expect 2 told "NoSuchFuzz"$'\n'"$targets" fuzz NoSuchFuzz
expect 2 told "1m"$'\n'"$targets" fuzz 1m JsonParseFuzz
expect 2 refused "--bogus" fuzz 10 JsonParseFuzz --bogus
expect 2 refused "" demo-engine 5
expect 2 refused "" demo-engine 20 port
expect 2 refused "" demo-engine 20 20001 more

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "scripts: every command line answered as it should"
