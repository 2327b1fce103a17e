#!/usr/bin/env bash
# Checks TRIVJPEG.DLL as the artifact that ships: a PE32 i386 DLL that exports
# exactly Jpeg_EncodeStart (undecorated), whose epilogue pops the two 4-byte
# arguments (ret $0x8, __stdcall), that enters at DllMain, and that imports
# from msvcrt.dll only.
#
# Usage: check_pe_dll.sh TRIVJPEG.DLL OBJDUMP
set -uo pipefail

dll=$1
objdump=$2
failed=0

ok() { echo "ok:   $*"; }
bad() { echo "FAIL: $*"; failed=1; }

[[ -f $dll ]] || { echo "FAIL: no such file: $dll"; exit 1; }
headers=$("$objdump" -p "$dll") || { echo "FAIL: $objdump -p $dll failed"; exit 1; }

# --- file type -----------------------------------------------------------------
if grep -q 'file format pei-i386' <<<"$headers" &&
   grep -Eq '^Magic[[:space:]]+010b' <<<"$headers"; then
    ok "PE32 image for i386"
else
    bad "not a PE32 i386 image: $(grep -m1 'file format' <<<"$headers")"
fi
# The Characteristics flags are listed one per line after the header line.
characteristics=$(sed -n '/^Characteristics/,/^Time\/Date/p' <<<"$headers")
if grep -Eq '^[[:space:]]+DLL$' <<<"$characteristics"; then
    ok "Characteristics has the DLL flag"
else
    bad "Characteristics lacks the DLL flag"
fi

# --- exports -------------------------------------------------------------------
names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
rvas=$(sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" |
       sed -n 's/.*\] \([0-9a-fA-F]*\) Export RVA$/\1/p')
echo "exports: ${names:-(none)}"
if [[ $names == "Jpeg_EncodeStart" && $(wc -l <<<"$rvas") -eq 1 && -n $rvas ]]; then
    ok "exactly one export, Jpeg_EncodeStart, undecorated"
else
    bad "expected exactly one export named Jpeg_EncodeStart"
fi

# --- calling convention ----------------------------------------------------------
# Find the function at the export's address and look at every return in it.
base=$(sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$headers")
if [[ -n $base && -n $rvas && $(wc -l <<<"$rvas") -eq 1 ]]; then
    va=$(printf '%08x' $((16#$base + 16#$rvas)))
    body=$("$objdump" -d --no-show-raw-insn "$dll" | sed -n "/^$va <.*>:\$/,/^\$/p")
    name=$(head -n1 <<<"$body" | sed -n 's/^[0-9a-f]* <\(.*\)>:$/\1/p')
    rets=$(grep -E $'\t''ret' <<<"$body" | sed 's/^[^\t]*\t//; s/[[:space:]]\+/ /g')
    if [[ -z $body ]]; then
        bad "no function label at the export address 0x$va (is the DLL stripped?)"
    else
        echo "export address 0x$va is $name; its returns: $(tr '\n' ',' <<<"$rets" | sed 's/,$//')"
        if [[ -n $rets ]] && ! grep -qv '^ret \$0x8$' <<<"$rets"; then
            ok "every return of Jpeg_EncodeStart is ret \$0x8 (callee pops 8 bytes)"
        else
            bad "Jpeg_EncodeStart does not end in ret \$0x8 everywhere"
        fi
    fi
else
    bad "cannot locate Jpeg_EncodeStart (ImageBase '$base', export RVA '$rvas')"
fi

# --- entry point -----------------------------------------------------------------
# Without the runtime's start-up code the linker must be pointed at DllMain;
# if it cannot find it, it silently enters at the start of .text instead.
entry=$(sed -n 's/^AddressOfEntryPoint[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$headers")
if [[ -n $base && -n $entry ]]; then
    va=$(printf '%08x' $((16#$base + 16#$entry)))
    name=$("$objdump" -d --no-show-raw-insn "$dll" | sed -n "s/^$va <\\(.*\\)>:\$/\\1/p")
    if [[ $name == _DllMain@12 ]]; then
        ok "the entry point is DllMain (__stdcall, 12 bytes of arguments)"
    else
        bad "the entry point 0x$va is '${name:-no function}', not _DllMain@12"
    fi
else
    bad "cannot read ImageBase or AddressOfEntryPoint"
fi

# --- imports -------------------------------------------------------------------
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
echo "imports: $(tr '\n' ' ' <<<"${imports:-(none)}")"
if [[ -z $(grep -vix 'msvcrt.dll' <<<"$imports") ]]; then
    ok "imports from msvcrt.dll only"
else
    bad "imports from other DLLs than msvcrt.dll"
fi

if ((failed)); then
    echo "$dll: FAILED"
    exit 1
fi
echo "$dll: all checks passed"
