#!/usr/bin/env bash
# Checks libtrivjpeg.so: Jpeg_EncodeStart is its only defined dynamic symbol,
# and with --stdcall (i386 builds) every return of Jpeg_EncodeStart is
# ret $0x8, as the header declares it __stdcall there too.
#
# Usage: check_elf_exports.sh LIBRARY NM OBJDUMP [--stdcall]
set -uo pipefail

lib=$1
nm=$2
objdump=$3
stdcall=${4:-}
failed=0

ok() { echo "ok:   $*"; }
bad() { echo "FAIL: $*"; failed=1; }

[[ -f $lib ]] || { echo "FAIL: no such file: $lib"; exit 1; }

symbols=$("$nm" -D --defined-only "$lib" | awk '{print $NF}') ||
    { echo "FAIL: $nm -D $lib failed"; exit 1; }
echo "defined dynamic symbols: $(tr '\n' ' ' <<<"${symbols:-(none)}")"
if [[ $symbols == "Jpeg_EncodeStart" ]]; then
    ok "the only export is Jpeg_EncodeStart"
else
    bad "expected exactly one defined dynamic symbol, Jpeg_EncodeStart"
fi

if [[ $stdcall == --stdcall ]]; then
    body=$("$objdump" -d --no-show-raw-insn --disassemble=Jpeg_EncodeStart "$lib")
    rets=$(grep -E $'\t''ret' <<<"$body" | sed 's/^[^\t]*\t//; s/[[:space:]]\+/ /g')
    echo "returns of Jpeg_EncodeStart: $(tr '\n' ',' <<<"${rets:-(none)}" | sed 's/,$//')"
    if [[ -n $rets ]] && ! grep -qv '^ret \$0x8$' <<<"$rets"; then
        ok "every return of Jpeg_EncodeStart is ret \$0x8 (callee pops 8 bytes)"
    else
        bad "Jpeg_EncodeStart does not end in ret \$0x8 everywhere"
    fi
fi

if ((failed)); then
    echo "$lib: FAILED"
    exit 1
fi
echo "$lib: all checks passed"
