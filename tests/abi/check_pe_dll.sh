#!/usr/bin/env bash
# Checks a DLL as the artifact that ships: a PE32 i386 DLL that exports
# exactly the given names (undecorated), each returning with the given
# instruction (ret $0x8: __stdcall with two arguments; ret: __cdecl), that
# enters at DllMain, and that imports from the given DLLs only.
#
# Usage: check_pe_dll.sh DLL OBJDUMP "EXPORT..." "RET" "IMPORT.dll..." ["FUNCTION..."]
# The optional last argument names functions that must not be imported
# (those the library looks up at run time instead).
#   check_pe_dll.sh TRIVJPEG.DLL objdump "Jpeg_EncodeStart" 'ret $0x8' "msvcrt.dll"
set -uo pipefail

dll=$1
objdump=$2
expected_exports=$(tr ' ' '\n' <<<"$3" | sort)
expected_ret=$4
allowed_imports=$(tr ' ' '\n' <<<"$5")
forbidden_functions=${6:-}
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

# --- exports and their calling convention ---------------------------------------
names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
echo "exports: $(tr '\n' ' ' <<<"${names:-(none)}")"
if [[ $names == "$expected_exports" ]]; then
    ok "exports exactly $(tr '\n' ' ' <<<"$expected_exports")(undecorated)"
else
    bad "expected the exports $(tr '\n' ' ' <<<"$expected_exports")"
fi

# Each export's function, found at its address: every return must pop what
# the convention says.
base=$(sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$headers")
disassembly=$("$objdump" -d --no-show-raw-insn "$dll")
for export in $expected_exports; do
    # The name table gives the export's index into the address table.
    index=$(sed -n "/^\[Ordinal\/Name Pointer\] Table/,/^\$/s/^[[:space:]]*\[ *\([0-9]*\)\] $export\$/\1/p" \
            <<<"$headers")
    [[ -n $index ]] || continue
    rva=$(sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" |
          sed -n "s/^[[:space:]]*\[ *$index\] .*\] \([0-9a-fA-F]*\) Export RVA\$/\1/p")
    if [[ -z $base || -z $rva ]]; then
        bad "cannot locate $export (ImageBase '$base', export RVA '$rva')"
        continue
    fi
    va=$(printf '%08x' $((16#$base + 16#$rva)))
    body=$(sed -n "/^$va <.*>:\$/,/^\$/p" <<<"$disassembly")
    rets=$(grep -E $'\t''ret' <<<"$body" | sed 's/^[^\t]*\t//; s/[[:space:]]\+/ /g; s/ $//')
    if [[ -z $body ]]; then
        bad "no function label at the address 0x$va of $export (is the DLL stripped?)"
    elif [[ -n $rets ]] && ! grep -qvFx "$expected_ret" <<<"$rets"; then
        ok "every return of $export is '$expected_ret'"
    else
        bad "$export returns with '$(tr '\n' ',' <<<"$rets")', not '$expected_ret' everywhere"
    fi
done

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
unexpected=$(grep -vixF "$allowed_imports" <<<"$imports")
if [[ -z $unexpected ]]; then
    ok "imports only from $(tr '\n' ' ' <<<"$allowed_imports")"
else
    bad "imports from $(tr '\n' ' ' <<<"$unexpected")as well"
fi

# The import table lists functions as "vma hint name" lines under each DLL.
for function in $forbidden_functions; do
    if sed -n '/^The Import Tables/,/^The Export Tables/p' <<<"$headers" |
        grep -Eq "^[[:space:]]+[0-9a-fA-F]+[[:space:]]+[0-9]+[[:space:]]+$function\$"; then
        bad "$function is imported; it must be looked up at run time"
    else
        ok "$function is not imported"
    fi
done

if ((failed)); then
    echo "$dll: FAILED"
    exit 1
fi
echo "$dll: all checks passed"
