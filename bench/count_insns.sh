#!/usr/bin/env bash
# Instructions per pixel of one encode, this encoder and libjpeg-turbo, each
# in its i386 and its x86-64 build, counted under qemu's instruction-counting
# plugin (bench/insn_counter.sh): exact, repeatable, and possible where the
# kernel refuses 32-bit programs. Each count runs trivbench --count twice,
# with one encode and with two; the difference is one encode, without the
# program's start and the image's reading.
#
#   bench/count_insns.sh [--quality 75,90,100] [--modes 420,444] [--dll TRIVJPEG.DLL]
#                        [--csv] IMAGE...
#
# --dll also counts that DLL itself, loaded by the i386 trivbench through the
# Win32 stand-in: the code that ships, which is not position-independent.
# Needs build/bench-i386/bench/trivbench and build/native/bench/trivbench
# (scripts/bench --i386 builds both). Colour at 24 bits per pixel, grey at 8.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
qualities=75,90,100 modes=420,444 csv=0 dll= images=()
while (($#)); do
    case $1 in
        --quality) qualities=$2; shift ;;
        --modes) modes=$2; shift ;;
        --dll) dll=$2; shift ;;
        --csv) csv=1 ;;
        -h | --help) sed -n '2,16s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) images+=("$1") ;;
    esac
    shift
done
((${#images[@]})) || { echo "count_insns: no image (try --help)" >&2; exit 2; }

qemu=$("$root/bench/insn_counter.sh")
declare -A runner=([i386]="$qemu/qemu-i386" [x86-64]="$qemu/qemu-x86_64")
declare -A program=([i386]="$root/build/bench-i386/bench/trivbench" [x86-64]="$root/build/native/bench/trivbench")
for width in i386 x86-64; do
    [[ -x ${program[$width]} ]] || { echo "count_insns: ${program[$width]} not built" >&2; exit 1; }
done
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Instructions one run executes: trivbench --count ENCODER --encodes N, one
# setting of one image; ENCODER dll is trivjpeg from the DLL.
count() {
    local width=$1 encoder=$2 encodes=$3 image=$4 quality=$5 mode=$6 from=()
    [[ $encoder == dll ]] && encoder=trivjpeg from=(--dll "$dll")
    "${runner[$width]}" -cpu max -plugin "$qemu/libinsn.so,inline=on" -d plugin -D "$log" \
        "${program[$width]}" --count "$encoder" --encodes "$encodes" --quality "$quality" \
        --modes "$mode" --depths 24 "${from[@]}" "$image" >/dev/null
    sed -n 's/^\(total \)\{0,1\}insns: //p' "$log" | tail -n 1
}

if ((csv)); then
    echo "image,pixels,subsampling,quality,i386_trivjpeg,i386_turbojpeg,x86_64_trivjpeg,x86_64_turbojpeg,i386_trivjpeg_dll"
else
    echo "Instructions per pixel of one encode, counted under qemu $("${runner[i386]}" --version | sed -n '1s/.*version //p') -cpu max (AVX2, BMI2, no AVX-512)."
    [[ -n $dll ]] && echo "DLL: $dll itself, loaded by the Win32 stand-in; the last column is its ratio."
    printf '%-24s %4s %3s | %8s %8s %6s | %8s %8s %6s | %6s %6s | %6s %6s\n' image mode q \
        "i386" "i386" "" "x86-64" "x86-64" "" "32-bit" "32-bit" "i386" ""
    printf '%-24s %4s %3s | %8s %8s %6s | %8s %8s %6s | %6s %6s | %6s %6s\n' "" "" "" \
        trivjpeg turbo ratio trivjpeg turbo ratio trivjp turbo DLL ratio
fi
for image in "${images[@]}"; do
    name=$(basename "$image")
    # Width and height from the tool's own answer.
    size=$("${program[x86-64]}" --count trivjpeg --quality 75 --modes grey "$image" | sed -n '2p' | cut -d, -f2,3)
    pixels=$((${size%,*} * ${size#*,}))
    IFS=, read -ra qs <<<"$qualities"
    IFS=, read -ra ms <<<"$modes"
    for q in "${qs[@]}"; do
        for m in "${ms[@]}"; do
            declare -A per=()
            per[i386.dll]=
            for run in i386.trivjpeg i386.turbojpeg x86-64.trivjpeg x86-64.turbojpeg ${dll:+i386.dll}; do
                one=$(count "${run%.*}" "${run#*.}" 1 "$image" "$q" "$m")
                two=$(count "${run%.*}" "${run#*.}" 2 "$image" "$q" "$m")
                per[$run]=$(awk -v a="$one" -v b="$two" -v p="$pixels" 'BEGIN { printf "%.2f", (b - a) / p }')
            done
            if ((csv)); then
                echo "$name,$pixels,$m,$q,${per[i386.trivjpeg]},${per[i386.turbojpeg]},${per[x86-64.trivjpeg]},${per[x86-64.turbojpeg]},${per[i386.dll]}"
            else
                awk -v n="$name" -v m="$m" -v q="$q" -v a="${per[i386.trivjpeg]}" -v b="${per[i386.turbojpeg]}" \
                    -v c="${per[x86-64.trivjpeg]}" -v d="${per[x86-64.turbojpeg]}" -v e="${per[i386.dll]}" 'BEGIN {
                    printf "%-24s %4s %3s | %8.2f %8.2f %6.2f | %8.2f %8.2f %6.2f | %6.2f %6.2f | ",
                        n, m, q, a, b, a / b, c, d, c / d, a / c, b / d
                    if (e == "") print "     -      -"; else printf "%6.2f %6.2f\n", e, e / b }'
            fi
            unset per
        done
    done
done
