#!/usr/bin/env bash
# Turns the CSV of trivbench --csv into a chart and a page, and prints the
# summary table as markdown on stdout.
#
#   bench/plot.sh RESULTS.csv OUTDIR
#
# Writes OUTDIR/benchmark.svg (gnuplot: the ratio TRIVJPEG / libjpeg-turbo
# per setting and photograph) and OUTDIR/benchmark.md (how it was measured,
# the chart, the summary and the full table). The summary gives, per
# subsampling and over all settings, the minimum, median and maximum ratio,
# for the photographs and for the document pages (images named page-...)
# apart.
# Lines of the CSV that start with "# machine: " and "# reps: " (as
# scripts/bench --plot writes them) name the machine and the repetitions.
set -euo pipefail
export LC_ALL=C

case ${1:-} in
    -h | --help)
        sed -n '2,14s/^# \{0,1\}//p' "$0"
        exit 0
        ;;
esac
(($# == 2)) || { echo "plot: usage: bench/plot.sh RESULTS.csv OUTDIR (try --help)" >&2; exit 2; }
csv=$1 out=$2
[[ -s $csv ]] || { echo "plot: $csv: no such file or empty" >&2; exit 1; }
command -v gnuplot >/dev/null || { echo "plot: gnuplot is missing (scripts/setup installs it)" >&2; exit 1; }
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

machine=$(sed -n 's/^# machine: //p' "$csv" | head -n1)
reps=$(sed -n 's/^# reps: //p' "$csv" | head -n1)
machine=${machine:-unknown machine}
# The data rows, without comments or the header, the image's .bmp or .ppm
# dropped.
awk -F, '!/^#/ && $1 != "image" && NF >= 10 { sub(/\.([Bb][Mm][Pp]|ppm)$/, "", $1); print }' OFS=, "$csv" >"$tmp/rows"
[[ -s $tmp/rows ]] || { echo "plot: $csv: no data rows" >&2; exit 1; }
# Photographs and document pages (scripts/bench names those page-...) apart:
# the chart is of the photographs, the pages have a summary of their own.
awk -F, '$1 !~ /^page-/' "$tmp/rows" >"$tmp/photos"
awk -F, '$1 ~ /^page-/' "$tmp/rows" >"$tmp/pages"

# gnuplot data (one block per photograph, a blank line between settings
# groups so that lines do not join them) and the commands that label it:
# x runs over the groups (subsampling and depth, in the CSV's order) and,
# within each, the qualities in increasing order.
awk -F, -v data="$tmp/data" '
    BEGIN { ng = ni = nq = 0 }  # numbers, so that the first subscript is "0"
    !(($5 " " $4) in gi) { gname[ng] = $5 == "grey" ? "grey" : $5 " " $4 " bpp"; gi[$5 " " $4] = ng++ }
    !($1 in ii) { iname[ni] = $1; ii[$1] = ni++ }
    !($6 in qi) { qual[nq] = $6 + 0; qi[$6] = nq++ }
    { ratio[ii[$1], gi[$5 " " $4], $6 + 0] = $9 }
    function legend(name) { sub(/_[0-9]+x[0-9]+$/, "", name); return name }  # Elephants_5640x3172
    END {
        for (i = 1; i < nq; i++)  # few qualities: insertion sort
            for (j = i; j > 0 && qual[j - 1] > qual[j]; j--) { t = qual[j]; qual[j] = qual[j - 1]; qual[j - 1] = t }
        w = nq + 1
        tics = ""
        for (g = 0; g < ng; g++) {
            for (k = 0; k < nq; k++) tics = tics (tics == "" ? "" : ", ") sprintf("\"%d\" %d", qual[k], g * w + k)
            printf "set label \"%s\" at first %g, graph 0.96 center\n", gname[g], g * w + (nq - 1) / 2
            if (g > 0) printf "set arrow from first %g, graph 0 to first %g, graph 1 nohead dt 3 lc rgb \"#999999\"\n", g * w - 1, g * w - 1
        }
        printf "set xtics (%s)\n", tics
        printf "set xrange [-0.7:%g]\n", ng * w - 1.3
        plot = "plot"
        for (i = 0; i < ni; i++) {
            printf "%s# %s\n", i ? "\n\n" : "", iname[i] > data
            for (g = 0; g < ng; g++) {
                for (k = 0; k < nq; k++)
                    if ((i, g, qual[k]) in ratio) printf "%d %s\n", g * w + k, ratio[i, g, qual[k]] > data
                printf "\n" > data
            }
            plot = plot sprintf(" \"%s\" index %d using 1:2 with linespoints lw 1.5 ps 1.1 title \"%s\",", data, i, legend(iname[i]))
        }
        print plot " 1 with lines dt 2 lw 1.5 lc rgb \"black\" title \"parity\""
    }' "$tmp/photos" >"$tmp/layout.gp"

gnuplot <<EOF
set terminal svg size 900,540 font "sans,13" noenhanced background "white"
set output "$out/benchmark.svg"
set title "TRIVJPEG encode throughput relative to libjpeg-turbo, one thread\n$machine"
set ylabel "throughput ratio (trivjpeg / libjpeg-turbo)"
set xlabel "quality, in groups by subsampling and bits per pixel"
set offsets 0, 0, graph 0.1, 0  # room for the group names
set yrange [0<*<0.9:1.1<*]  # parity always in view
set ytics nomirror
set xtics nomirror scale 0 font ",11"
set grid ytics lc rgb "#dddddd"
set key at screen 0.5, screen 0.01 center bottom horizontal maxrows 1
set bmargin 5.5
set datafile separator whitespace
load "$tmp/layout.gp"
EOF
# gnuplot names its version in the SVG; keep the file the same from run to run of the same data.
sed -i '/^<desc>Produced by GNUPLOT/d' "$out/benchmark.svg"

# Summary: per subsampling and over everything, min, median and max ratio.
summary() {
    awk -F, '{ print $5, $9; print "all", $9 }' "$1" | sort -k1,1 -k2,2g | awk '
        { v[$1, ++n[$1]] = $2 }
        END {
            print "| mode | settings | min | median | max |"
            print "|---|--:|--:|--:|--:|"
            split("420 422 444 grey all", order, " ")
            for (o = 1; o <= 5; o++) {
                g = order[o]; c = n[g]
                if (!c) continue
                med = c % 2 ? v[g, (c + 1) / 2] : (v[g, c / 2] + v[g, c / 2 + 1]) / 2
                printf "| %s | %d | %.2f | %.2f | %.2f |\n", g == "all" ? "all settings" : g, c, v[g, 1], med, v[g, c]
            }
        }'
}
{
    if [[ -s $tmp/photos ]]; then
        echo "Ratio over the photographs, both depths and every quality:"
        echo
        summary "$tmp/photos"
    fi
    if [[ -s $tmp/pages ]]; then
        [[ -s $tmp/photos ]] && echo
        echo "Ratio over the document pages, both depths and every quality:"
        echo
        summary "$tmp/pages"
    fi
} >"$tmp/summary.md"

{
    echo "# Encode throughput beside libjpeg-turbo"
    echo
    echo "Measured with \`scripts/bench --plot\` (bench/trivbench): each photograph and document"
    echo "page (a manual's page rendered at 600 dpi, named page-...) is encoded by"
    echo "TRIVJPEG and by libjpeg-turbo (TurboJPEG, accurate DCT) from the same bottom-up pixels,"
    echo "BGR at 24 bits per pixel, BGRX at 32 and grey at 8, at the same quality and"
    echo "subsampling, on one thread. The two encoders run interleaved and each figure is the"
    echo "median of ${reps:-several} repetitions, in megapixels and in encodes (pages) per second. The"
    echo "ratio is TRIVJPEG's throughput over libjpeg-turbo's: above 1, TRIVJPEG is faster."
    echo "Size-only is TRIVJPEG's mode that counts the bytes of the stream without storing them."
    echo
    echo "Machine: $machine. Raw numbers: [$(basename "$csv")]($(realpath -m --relative-to="$out" "$csv"))."
    echo
    echo "![Throughput ratio per setting and photograph](benchmark.svg)"
    echo
    echo "## Summary"
    echo
    cat "$tmp/summary.md"
    echo
    echo "## All results"
    echo
    echo "| image | size | bpp | mode | q | trivjpeg MP/s | libjpeg-turbo MP/s | ratio | size-only MP/s | trivjpeg per s | libjpeg-turbo per s |"
    echo "|---|---|--:|---|--:|--:|--:|--:|--:|--:|--:|"
    awk -F, '{ printf "| %s | %sx%s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $13, $14 }' "$tmp/rows"
} >"$out/benchmark.md"

cat "$tmp/summary.md"
