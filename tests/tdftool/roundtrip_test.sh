#!/usr/bin/env bash
# Builds a messages file with tdftool, dumps the result, and compares the
# sections and entries that the dump lists with those of the input.
#
#   roundtrip_test.sh TDFTOOL MESSAGES.txt
set -euo pipefail

tool=$1
messages=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$tool" build "$messages" -o "$dir/TRIVDATA.TDF"
"$tool" dump "$dir/TRIVDATA.TDF" >"$dir/dump.txt" || {
    echo "roundtrip: dump found faults in a freshly built file:" >&2
    grep '^fault:' "$dir/dump.txt" >&2
    exit 1
}

# The input without comments, blank lines and CRs of CR LF line ends.
sed -e 's/\r$//' -e '/^[[:space:]]*$/d' -e '/^#/d' "$messages" >"$dir/expected.txt"
# Section lines as [Name], entry lines without their indent.
sed -n -e 's/^section at [0-9]*: \(\[[^]]*\]\).*/\1/p' -e 's/^  //p' \
    "$dir/dump.txt" >"$dir/listed.txt"

if ! diff -u "$dir/expected.txt" "$dir/listed.txt"; then
    echo "roundtrip: the dump does not list what $messages holds" >&2
    exit 1
fi
echo "roundtrip: $(grep -c '' "$dir/listed.txt") lines match"
