#!/usr/bin/env bash
# Runs the kvjson command on documents and checks standard output, standard error and the exit
# status, with the input read whole and fed in pieces of 1, 3, 7 and 4096 bytes.
#   kvjson_test.sh PATH_TO_KVJSON
set -u
kvjson="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# expect NAME STATUS STDOUT STDERR [kvjson options...] < input
# STDOUT and STDERR are the whole expected text without the final line feed ("" for none).
expect() {
    local name="$1" status="$2" out="$3" err="$4"
    shift 4
    cat > "$work/in"
    if [ -n "$out" ]; then printf '%s\n' "$out" > "$work/want-out"; else : > "$work/want-out"; fi
    if [ -n "$err" ]; then printf '%s\n' "$err" > "$work/want-err"; else : > "$work/want-err"; fi
    local chunk
    for chunk in whole 1 3 7 4096; do
        local args=("$@")
        [ "$chunk" != whole ] && args+=(--chunk "$chunk")
        "$kvjson" "${args[@]}" - < "$work/in" > "$work/out" 2> "$work/err"
        local got=$?
        if [ "$got" -ne "$status" ] || ! cmp -s "$work/out" "$work/want-out" ||
           ! cmp -s "$work/err" "$work/want-err"; then
            echo "FAIL $name ($chunk): status $got (want $status)"
            echo "  stdout: $(head -c 300 "$work/out")"
            echo "  stderr: $(head -c 300 "$work/err")"
            failures=$((failures + 1))
        fi
    done
}

repeat() { local i; for ((i = 0; i < $2; i++)); do printf '%s' "$1"; done; }

# Numbers stay exact (a 64-bit overflow becomes a decimal, -0 the integer 0, 1.50 is 1.5,
# 1E22 is written out in full) and escapes decode (\u0000 is kept as an escape, \u00e9 is
# written as UTF-8, "/" needs no escape).
printf '%s' '[9223372036854775808, -0, 1.50, 1E22, 0.1, "A\u0000B\t/\u00e9"]' |
    expect roundtrip 0 '[9223372036854775808,0,1.5,10000000000000000000000,0.1,"A\u0000B\t/é"]' \
        "" --roundtrip

# Human-readable with sorted keys: two-space indent, "key": value, an empty object as an open
# and a close brace on lines of their own.
printf '%s' '{"b":[1,{}],"a":true}' | expect human-sorted 0 '{
  "a": true,
  "b": [
    1,
    {
    }
  ]
}' "" --roundtrip --human --sort

# Without --sort the keys keep the document's order.
printf '%s' '{"b":1,"a":2,"b":3}' | expect document-order 0 '{"b":3,"a":2}' "" --roundtrip

printf '%s' '[1]  ' | expect accepted-silently 0 "" ""
printf '%s' '[1e65536]' | expect exponent-saturates 1 "" "Exponent out of range"
printf '%s' '[1] tru' | expect unfinished-token-after-document 1 "" "Unexpected end of input"
printf '%s' '[1] true' | expect token-after-document 1 "" \
    "Token 'boolean' not expected after outer-most array or object"
printf '%s' 'true' | expect top-level-scalar 1 "" \
    "Token 'boolean' not expected before outer-most array or object"
printf '%s' '[-.5]' | expect minus-needs-digit 1 "" "No digits after initial minus"
printf '["a\tb"]' | expect raw-tab 1 "" "Unescaped control character [0x09]"
printf '[\x01]' | expect unprintable-start 1 "" 'Illegal start of token [\001]'
printf '' | expect empty 1 "" "Unexpected end of input"
printf '%s' '[1,' | expect cut-short 1 "" "Unexpected end of input"

{ repeat '[' 32; repeat ']' 32; } | expect depth-32 0 "" ""
{ repeat '[' 33; repeat ']' 33; } | expect depth-33 1 "" "Input depth exceeds max depth of 32"
repeat '[' 100000 | expect 100000-brackets 1 "" "Input depth exceeds max depth of 32"

# Inputs are parsed as they are read: zeros are rejected at the first byte, and a string that
# does not close is refused past the input limit. (The inputs here are bounded, 200 MiB, so
# that a kvjson that read all first could not take the machine's memory.)
head -c 200M /dev/zero | timeout 60 "$kvjson" - > "$work/out" 2> "$work/err"
[ "${PIPESTATUS[1]}" -eq 1 ] && [ "$(cat "$work/err")" = 'Illegal start of token [\000]' ] ||
    { echo "FAIL zeros: $(head -c 300 "$work/err")"; failures=$((failures + 1)); }
{ printf '["'; yes aaaaaaaaaaaaaaa | tr -d '\n' | head -c 200M; } 2>/dev/null |
    timeout 60 "$kvjson" - > "$work/out" 2> "$work/err"
[ "${PIPESTATUS[1]}" -eq 1 ] &&
    [ "$(cat "$work/err")" = "kvjson: -: the input is larger than 128 MiB" ] ||
    { echo "FAIL endless-string: $(head -c 300 "$work/err")"; failures=$((failures + 1)); }

# Usage and read errors.
"$kvjson" > /dev/null 2>&1; [ $? -eq 2 ] || { echo "FAIL no-arguments"; failures=$((failures + 1)); }
"$kvjson" --chunk 0 - < /dev/null > /dev/null 2>&1
[ $? -eq 2 ] || { echo "FAIL chunk-0"; failures=$((failures + 1)); }
# check NAME WANT-STATUS WANT-STDERR-LINE kvjson-arguments...: the status and the first line of
# standard error.
check() {
    local name="$1" want="$2" line="$3"
    shift 3
    "$kvjson" "$@" > "$work/out" 2> "$work/err" < /dev/null
    local got=$?
    if [ "$got" -ne "$want" ] || [ "$(head -n 1 "$work/err")" != "$line" ]; then
        echo "FAIL $name: status $got (want $want), stderr: $(head -c 300 "$work/err")"
        failures=$((failures + 1))
    fi
}
check no-arguments 2 "kvjson: an argument is missing"
check chunk-0 2 'kvjson: --chunk takes a whole number from 1 to 67108864, not "0"' --chunk 0 -
check chunk-needs-value 2 "kvjson: option --chunk needs a value" - --chunk
check unknown-option 2 "kvjson: unknown option --bogus" --bogus -
check human-alone 2 "kvjson: --human and --sort go with --roundtrip" --human -
# A file that is not there is a failure with the system's reason, not a usage error.
check missing-file 1 "kvjson: cannot open $work/missing.json: No such file or directory" \
    "$work/missing.json"
check help 0 "" --help
grep -q '^usage: kvjson ' "$work/out" || { echo "FAIL help-on-stdout"; failures=$((failures + 1)); }
check version 0 "" --version
grep -q '^kvjson [0-9]' "$work/out" || { echo "FAIL version-on-stdout"; failures=$((failures + 1)); }

printf '%s' '{"k":[null]}' > "$work/doc.json"
[ "$("$kvjson" --roundtrip "$work/doc.json")" = '{"k":[null]}' ] ||
    { echo "FAIL file-argument"; failures=$((failures + 1)); }
# --opt=value as --opt value; -o writes the round trip to a file and nothing to standard output.
[ "$("$kvjson" --chunk=3 --roundtrip -o "$work/round.json" "$work/doc.json")" = "" ] &&
    [ "$(cat "$work/round.json")" = '{"k":[null]}' ] ||
    { echo "FAIL output-file"; failures=$((failures + 1)); }

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "kvjson: all checks passed"
