#!/usr/bin/env bash
# The 32-bit DLL must run on a processor without SSE2: every function that
# touches a vector register or an instruction beyond the i686 set must be one
# of the vector twins (named ...Sse2, ...Ssse3, ...Avx2), which run only after
# the processor has reported the instructions. (tzcnt is left out: gcc emits
# it as rep bsf, which older processors execute as bsf, for nonzero inputs.)
#
# Usage: check_vector_twins.sh DLL OBJDUMP
set -uo pipefail

dll=$1
objdump=$2
listing=$("$objdump" -d "$dll") || { echo "FAIL: $objdump -d $dll failed"; exit 1; }

users=$(awk '
    /^[0-9a-f]+ <.*>:$/ { name = $2; next }
    /%[xy]mm|%mm[0-7]|\t(shlx|shrx|sarx|bzhi|blsr|blsi|blsmsk|andn|pdep|pext|popcnt|lzcnt|movbe) / {
        print name
    }' <<<"$listing" | sort -u)

[[ -n $users ]] || { echo "FAIL: no vector code found at all (symbols stripped?)"; exit 1; }
# The function's own name, not its template arguments: the last source name
# of an Itanium-mangled symbol (_Z[N]<len><name>...), or a C name as it is.
own_name() {
    perl -e '
        my $m = shift; $m =~ s/^<_*//; $m =~ s/>:$//;
        if ($m !~ s/^Z//) { print $m; exit }
        $m =~ s/^N//;
        my $last = "";
        while ($m =~ s/^(\d+)//) { $last = substr($m, 0, $1); $m = substr($m, $1) }
        print $last' "$1"
}

failed=0
while read -r name; do
    if [[ $(own_name "$name") =~ (Sse2|Ssse3|Avx2)$ ]]; then
        echo "ok:   $name"
    else
        echo "FAIL: $name uses instructions beyond i686 but is no vector twin"
        failed=1
    fi
done <<<"$users"
exit $failed
