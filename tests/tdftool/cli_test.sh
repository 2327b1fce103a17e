#!/usr/bin/env bash
# The tdftool command line: help and usage errors, errors that leave no
# output file, warnings that do not stop a build, and dump exit statuses.
#
#   cli_test.sh TDFTOOL
set -uo pipefail

tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0

# expect STATUS DESCRIPTION COMMAND...: runs COMMAND, output in $dir/out and
# $dir/err, and checks its exit status.
expect() {
    local want=$1 what=$2
    shift 2
    "$@" >"$dir/out" 2>"$dir/err"
    local got=$?
    if ((got != want)); then
        echo "FAIL: $what: exit $got, expected $want" >&2
        sed 's/^/    /' "$dir/err" >&2
        failures=$((failures + 1))
    fi
}

# check DESCRIPTION TEST...: one more condition on the last run.
check() {
    local what=$1
    shift
    "$@" || { echo "FAIL: $what" >&2; failures=$((failures + 1)); }
}

expect 0 "--version" "$tool" --version
check "version line" grep -q '^tdftool [0-9]' "$dir/out"
expect 0 "--help" "$tool" --help
expect 0 "build --help" "$tool" build --help
check "build help says texts are stored as they are" grep -q 'byte for byte' "$dir/out"
expect 0 "dump -h" "$tool" dump -h
expect 2 "no command" "$tool"
expect 2 "unknown command" "$tool" frobnicate
expect 2 "build without -o" "$tool" build in.txt
expect 2 "dump with an unknown option" "$tool" dump --fast x.tdf
expect 1 "build of a missing file" "$tool" build "$dir/missing.txt" -o "$dir/x.tdf"
expect 1 "dump of a missing file" "$tool" dump "$dir/missing.tdf"

# An error anywhere leaves no output and no .part file, and an existing
# output file as it was.
printf '[S]\nA=fine\nno equals sign here\n' >"$dir/bad.txt"
expect 1 "build with an error" "$tool" build "$dir/bad.txt" -o "$dir/bad.tdf"
check "error names file and line" grep -q "bad.txt:3: error:" "$dir/err"
check "no output after an error" test ! -e "$dir/bad.tdf"
check "no .part after an error" test ! -e "$dir/bad.tdf.part"
echo keep >"$dir/old.tdf"
expect 1 "build over an existing file" "$tool" build "$dir/bad.txt" -o "$dir/old.tdf"
check "existing output untouched" grep -qx keep "$dir/old.tdf"

# A repeated key is a warning; both entries are stored.
printf '[S]\r\nA=first\r\na=second\r\n' >"$dir/dup.txt"
expect 0 "build with a repeated key" "$tool" build "$dir/dup.txt" -o "$dir/dup.tdf"
check "warning names file and line" grep -q "dup.txt:3: warning:" "$dir/err"
check "no .part left" test ! -e "$dir/dup.tdf.part"
expect 0 "dump of the built file" "$tool" dump "$dir/dup.tdf"
check "both entries listed" grep -qx '  a=second' "$dir/out"

# CR LF line ends give the same file as LF.
tr -d '\r' <"$dir/dup.txt" >"$dir/dup-lf.txt"
expect 0 "build with LF line ends" "$tool" build "$dir/dup-lf.txt" -o "$dir/dup-lf.tdf"
check "CR LF and LF build the same file" cmp -s "$dir/dup.tdf" "$dir/dup-lf.tdf"

# '-' is standard input and output, as in the build from files.
"$tool" build - -o - <"$dir/dup-lf.txt" >"$dir/piped.tdf" 2>/dev/null
check "build - -o - gives the same file" cmp -s "$dir/piped.tdf" "$dir/dup-lf.tdf"
expect 0 "dump of standard input" "$tool" dump - <"$dir/piped.tdf"
check "dump - lists the entries" grep -qx '  a=second' "$dir/out"

# A damaged file: faults reported, exit 1.
head -c 100 "$dir/dup.tdf" >"$dir/cut.tdf"
expect 1 "dump of a truncated file" "$tool" dump "$dir/cut.tdf"
check "faults listed" grep -q '^fault: ' "$dir/out"

if ((failures)); then
    echo "cli: $failures failed" >&2
    exit 1
fi
echo "cli: all checks passed"
