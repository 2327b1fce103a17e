#!/usr/bin/env bash
# Checks a configured man page against its tool: the page renders with every
# groff warning enabled and without a message, and its option list agrees
# with the tool's help: the tags of the rendered page's OPTIONS section list
# exactly the options (-x, --long) that the help output(s) show.
#
# Usage: man_pages_test.sh MANPAGE TOOL [COMMAND...]
# The help is read from 'TOOL --help' and from 'TOOL COMMAND --help' for each
# COMMAND.
set -uo pipefail

page=${1:?usage: man_pages_test.sh MANPAGE TOOL [COMMAND...]}
tool=${2:?usage: man_pages_test.sh MANPAGE TOOL [COMMAND...]}
shift 2
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
# options: the distinct options (-x, --long) in the text on standard input.
options() { grep -oE '(^|[[:space:],([])--?[[:alpha:]][[:alnum:]-]*' | sed 's/^[^-]*//' | sort -u; }

name=$(basename "$page")
if grep -q '@[A-Za-z_]*@' "$page"; then
    bad "$name: placeholders left unconfigured: $(grep -o '@[A-Za-z_]*@' "$page" | sort -u | xargs)"
else
    ok "$name: fully configured"
fi

# -ww enables all of groff's warnings; MANOPT and MAN_KEEP_FORMATTING could
# change what man does, so they are cleared.
if env -u MANOPT -u MAN_KEEP_FORMATTING MANWIDTH=80 LC_ALL=C.UTF-8 \
    man --warnings=w -l "$page" >"$tmp/page.txt" 2>"$tmp/man.err" &&
    [[ ! -s $tmp/man.err && -s $tmp/page.txt ]]; then
    ok "$name: renders without warnings"
else
    bad "$name: man -l reports:"
    sed 's/^/    /' "$tmp/man.err"
fi

: >"$tmp/help.txt"
for command in "" "$@"; do
    label="$(basename "$tool")${command:+ $command} --help"
    if "$tool" $command --help >"$tmp/one.txt" 2>&1 && [[ -s $tmp/one.txt ]]; then
        ok "$label: shows help"
        cat "$tmp/one.txt" >>"$tmp/help.txt"
    else
        bad "$label: failed or printed nothing"
    fi
done

# Tags of the OPTIONS section start at column 8; a short tag may share its
# line with the description, which begins after two or more blanks.
options <"$tmp/help.txt" >"$tmp/shown.txt"
awk '/^[^ ]/ { in_options = ($0 == "OPTIONS") }
     in_options && /^       -/ { sub(/^ +/, ""); sub(/  .*/, ""); print }' \
    "$tmp/page.txt" | options >"$tmp/listed.txt"
missing=$(comm -23 "$tmp/shown.txt" "$tmp/listed.txt" | xargs)
extra=$(comm -13 "$tmp/shown.txt" "$tmp/listed.txt" | xargs)
if [[ ! -s $tmp/shown.txt ]]; then bad "the help shows no option"
elif [[ -z $missing ]]; then ok "$name: OPTIONS lists every option of the help"
else bad "$name: OPTIONS lacks options of the help: $missing"; fi
if [[ -z $extra ]]; then ok "$name: OPTIONS lists only options of the help"
else bad "$name: OPTIONS lists options that no help shows: $extra"; fi

finish
