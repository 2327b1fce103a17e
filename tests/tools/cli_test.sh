#!/usr/bin/env bash
# Checks the trivjpeg command-line tool from outside: options and exit
# statuses (0 success, 1 bad input or failed write, 2 bad usage), files that
# are written whole or not at all, and JPEG files that djpeg decodes to the
# input's size, orientation and colours. Inputs are made here with python3.
#
# Usage: cli_test.sh PATH/TO/trivjpeg [no-png]   (no-png: a build without libpng)
set -uo pipefail

tool=${1:?usage: cli_test.sh PATH/TO/trivjpeg [no-png]}
png=yes
[[ ${2:-} == no-png ]] && png=no
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
# run ARGS...: runs the tool; sets rc, and out and err to its stdout and stderr.
run() {
    "$tool" "$@" >"$tmp/stdout" 2>"$tmp/stderr"
    rc=$?
    out=$(<"$tmp/stdout")
    err=$(<"$tmp/stderr")
}
size_of() { wc -c <"$1" | tr -d ' '; }
# no_part FILE: no temporary file of FILE is left (FILE.XXXXXX.part).
no_part() { ! compgen -G "$1*.part" >/dev/null; }
no_file() { [[ ! -e $1 ]] && no_part "$1"; }
# holds FILE TEXT: FILE still holds TEXT and has no temporary file beside it.
holds() { [[ $(cat "$1" 2>/dev/null) == "$2" ]] && no_part "$1"; }
# fails_naming TEXT: the last run exited 1 with TEXT in its message.
fails_naming() { [[ $rc -eq 1 ]] && grep -qF "$1" <<<"$err"; }

# decode JPEG PNM: djpeg must decode without a warning.
decode() { djpeg -pnm -outfile "$2" "$1" 2>"$tmp/djpeg.err" && [[ ! -s $tmp/djpeg.err ]]; }
# header PNM: the magic number and dimensions, "P6 1003 601".
header() { head -n 2 "$1" | tr '\n' ' ' | sed 's/ $//'; }

# Test inputs, w x h, as a viewer shows them: the top half red, the bottom
# half blue (light over dark grey for PGM). BMPs are written bottom-up unless
# the kind says top-down.
cat >"$tmp/make.py" <<'EOF'
import struct, sys
kind, path, w, h = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
colour = lambda y: (230, 30, 30) if y < h // 2 else (30, 30, 230)
grey = lambda y: 220 if y < h // 2 else 40
def bmp(bits, pixel, top_down=False):
    stride = (w * bits + 31) // 32 * 4
    order = range(h) if top_down else range(h - 1, -1, -1)
    data = b"".join((pixel(y) * w).ljust(stride, b"\0") for y in order)
    info = struct.pack("<IiiHHIIiiII", 40, w, -h if top_down else h, 1, bits, 0, len(data),
                       2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54) + info + data
if kind == "ppm":
    out = b"P6\n%d %d\n255\n" % (w, h) + b"".join(bytes(colour(y)) * w for y in range(h))
elif kind == "pgm":
    out = b"P5\n%d %d\n255\n" % (w, h) + b"".join(bytes([grey(y)]) * w for y in range(h))
elif kind == "bmp16":
    five = lambda y: struct.pack("<H", sum((c >> 3) << s for c, s in zip(colour(y), (10, 5, 0))))
    out = bmp(16, five)
elif kind == "bmp24-top-down":
    out = bmp(24, lambda y: bytes(reversed(colour(y))), top_down=True)
elif kind.startswith("png"):  # png-COLOURTYPE-DEPTH, not interlaced
    import zlib
    ctype, depth = map(int, kind.split("-")[1:])
    top = 1 if ctype == 3 else 220 if ctype in (0, 4) else colour(0)
    bottom = 2 if ctype == 3 else 40 if ctype in (0, 4) else colour(h - 1)
    def samples(y):
        v = top if y < h // 2 else bottom
        v = list(v) if isinstance(v, tuple) else [v]
        if depth == 1: v = [1 if v[0] > 100 else 0]
        if ctype in (4, 6): v.append(y * 7 % 256)  # alpha, to be dropped
        return v
    def row(y):
        s = samples(y) * w
        if depth == 16: return b"".join(struct.pack(">H", v * 257) for v in s)
        if depth == 1: return bytes(int("".join(map(str, s[i:i + 8])).ljust(8, "0"), 2) for i in range(0, w, 8))
        return bytes(s)
    chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, 0))
    if ctype == 3: out += chunk(b"PLTE", bytes([0, 0, 0, *colour(0), *colour(h - 1)]))
    out += chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row(y) for y in range(h))))
    out += chunk(b"IEND", b"")
open(path, "wb").write(out)
EOF
# looks PNM: a decoded input is red in its top quarter and blue in its bottom
# quarter, in the middle column; a grey one is lighter at the top.
cat >"$tmp/looks.py" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
magic, w, h, _, pixels = data.split(maxsplit=4)
w, h, n = int(w), int(h), 3 if magic == b"P6" else 1
at = lambda y: pixels[(y * w + w // 2) * n:(y * w + w // 2) * n + n]
top, bottom = at(h // 4), at(3 * h // 4)
if n == 1:
    good = top[0] > bottom[0] + 25
else:
    good = top[0] > 180 and top[2] < 80 and bottom[0] < 80 and bottom[2] > 180
sys.exit(0 if good else f"top {list(top)}, bottom {list(bottom)}")
EOF
make() { python3 "$tmp/make.py" "$@"; }
# frame JPEG: from the SOF0 marker, the width, height, number of components
# and the sampling factors of the first, "1003 601 3 22".
frame() {
    python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); i = d.index(b"\xff\xc0")
print(d[i + 7] << 8 | d[i + 8], d[i + 5] << 8 | d[i + 6], d[i + 9], "%02x" % d[i + 11])' "$1"
}
looks() { python3 "$tmp/looks.py" "$1"; }

# --- Usage ----------------------------------------------------------------------

for opt in --help -h; do
    run "$opt"
    check "$opt exits 0 and shows the usage" test "$rc" -eq 0 -a -n "$(grep -i usage <<<"$out")"
done
run --version
check "--version exits 0 and names the tool" test "$rc" -eq 0 -a -n "$(grep trivjpeg <<<"$out")"

# Each after "-o FILE", so a missing option value is at the end of the line.
usage_errors=(
    "-q 0" "-q 101" "-q abc" "-q 7.5" "-q" "--quality=50" "-s 411" "-s" "--subsampling 4:2:0"
    "--bogus" "-x" "-o" "a.ppm b.ppm"
)
for args in "${usage_errors[@]}"; do
    # shellcheck disable=SC2086 # the arguments are split on purpose
    run -o "$tmp/usage.jpg" $args
    check "'$args' is a usage error (exit 2, message)" test "$rc" -eq 2 -a -n "$err"
done
run -q 50
check "no output file and no --size-only is a usage error" test "$rc" -eq 2 -a -n "$err"
check "usage errors write nothing" no_file "$tmp/usage.jpg"

# --- Test card ------------------------------------------------------------------

# Each with the frame its sampling factors give.
for spec in "-s 420:3 22" "-s 422:3 21" "-s 444:3 11" "-g:1 11" "-q 1 -s 444:3 11" "-q 100:3 22"; do
    mode=${spec%:*}
    name=card${mode// /}
    # shellcheck disable=SC2086
    run $mode -o "$tmp/$name.jpg"
    check "test card $mode encodes" test "$rc" -eq 0 -a -s "$tmp/$name.jpg"
    check "test card $mode has the frame 1003 601 ${spec#*:}" \
        test "$(frame "$tmp/$name.jpg" 2>&1)" = "1003 601 ${spec#*:}"
    want="P6 1003 601"
    [[ $mode == -g ]] && want="P5 1003 601"
    if decode "$tmp/$name.jpg" "$tmp/$name.pnm"; then
        check "test card $mode decodes to $want" test "$(header "$tmp/$name.pnm")" = "$want"
    else
        bad "test card $mode decodes: $(head -c 200 "$tmp/djpeg.err")"
    fi
    # shellcheck disable=SC2086
    run $mode --size-only
    check "--size-only $mode prints the written length" \
        test "$rc" -eq 0 -a "$out" = "$(size_of "$tmp/$name.jpg")"
done
check "quality 1 makes a smaller file than quality 100" \
    test "$(size_of "$tmp/card-q1-s444.jpg")" -lt "$(size_of "$tmp/card-q100.jpg")"
run --size-only -o "$tmp/size-only.jpg"
check "--size-only with -o writes nothing" no_file "$tmp/size-only.jpg"

# --- Input files ----------------------------------------------------------------

specs=("ppm 37 23 P6" "pgm 37 23 P5" "bmp16 37 23 P6" "bmp24-top-down 37 23 P6" "pgm 65535 1 P5"
    "ppm 1 65535 P6")
if [[ $png == yes ]]; then
    specs+=("png-0-1 37 23 P5" "png-0-16 37 23 P5" "png-4-8 37 23 P5" "png-2-8 37 23 P6"
        "png-2-16 37 23 P6" "png-3-8 37 23 P6" "png-6-8 37 23 P6" "png-6-16 37 23 P6")
else
    make png-2-8 "$tmp/no.png" 4 4
    run "$tmp/no.png" -o "$tmp/no.jpg"
    check "a build without libpng refuses PNG, saying so" fails_naming "not supported by this build"
fi
for spec in "${specs[@]}"; do
    read -r kind w h magic <<<"$spec"
    in=$tmp/$kind-$w.in
    make "$kind" "$in" "$w" "$h"
    run "$in" -o "$tmp/$kind.jpg"
    if [[ $rc -ne 0 ]]; then
        bad "$kind ${w}x$h encodes: exit $rc, $err"
        continue
    fi
    if ((w > 65500 || h > 65500)); then # beyond what djpeg decodes
        check "$kind ${w}x$h has a frame of ${w}x$h" \
            test "$(frame "$tmp/$kind.jpg" | cut -d' ' -f1-2)" = "$w $h"
        continue
    fi
    if ! decode "$tmp/$kind.jpg" "$tmp/$kind.pnm"; then
        bad "$kind ${w}x$h decodes: $(head -c 200 "$tmp/djpeg.err")"
        continue
    fi
    check "$kind ${w}x$h decodes to $magic $w $h" test "$(header "$tmp/$kind.pnm")" = "$magic $w $h"
    if ((h > 1)); then
        check "$kind keeps its top on top and its colours" looks "$tmp/$kind.pnm"
    fi
done
run "$tmp/ppm-37.in" -g -o "$tmp/ppm-grey.jpg"
decode "$tmp/ppm-grey.jpg" "$tmp/ppm-grey.pnm"
check "a PPM encodes with -g to P5 37 23" test "$(header "$tmp/ppm-grey.pnm")" = "P5 37 23"
check "a PPM with -g keeps its light top" looks "$tmp/ppm-grey.pnm"

# Every PNG that Debian's wallpapers hold.
for wallpaper in /usr/share/backgrounds/mate/*/*.png; do
    [[ $png == yes && -e $wallpaper ]] || continue
    run "$wallpaper" -o "$tmp/wallpaper.jpg"
    check "$(basename "$wallpaper") encodes" test "$rc" -eq 0
    decode "$tmp/wallpaper.jpg" "$tmp/wallpaper.pnm" || bad "$(basename "$wallpaper") decodes"
done

# --- Standard input and output ---------------------------------------------------

"$tool" - -o - <"$tmp/bmp16-37.in" >"$tmp/piped.jpg" 2>"$tmp/stderr"
check "'- -o -' reads standard input and writes standard output" \
    test $? -eq 0 -a "$(size_of "$tmp/piped.jpg")" = "$(size_of "$tmp/bmp16.jpg")"
check "what goes through the pipe is the file's stream" cmp -s "$tmp/piped.jpg" "$tmp/bmp16.jpg"
head -c 100 "$tmp/bmp16-37.in" | "$tool" - -o - >"$tmp/piped.jpg" 2>"$tmp/stderr"
rc=$? err=$(<"$tmp/stderr")
check "a bad standard input exits 1 naming it and writes nothing" \
    test "$rc" -eq 1 -a ! -s "$tmp/piped.jpg" -a -n "$(grep -F 'standard input' <<<"$err")"

# --- Where the output goes --------------------------------------------------------

# A symbolic link is followed: its target is replaced, the link stays.
echo old >"$tmp/target.jpg"
chmod 640 "$tmp/target.jpg"
ln -s target.jpg "$tmp/link.jpg"
run -o "$tmp/link.jpg"
check "a symbolic link stays a link" test "$rc" -eq 0 -a -L "$tmp/link.jpg"
check "the link's target holds the stream and keeps its mode" \
    test "$(stat -c %a "$tmp/target.jpg")" = 640 -a "$(size_of "$tmp/target.jpg")" -gt 1000
ln -s new.jpg "$tmp/dangling.jpg"
run -o "$tmp/dangling.jpg"
check "a link to a missing file makes that file" test "$rc" -eq 0 -a -s "$tmp/new.jpg" -a -L "$tmp/dangling.jpg"
(umask 027 && "$tool" -o "$tmp/masked.jpg")
check "a new file takes its mode from the umask" test "$(stat -c %a "$tmp/masked.jpg")" = 640
check "/dev/stdout is standard output, whatever it is" \
    test "$("$tool" -o /dev/stdout | wc -c)" = "$(size_of "$tmp/target.jpg")"
# A FIFO and a device are written where they are, never replaced by a file.
mkfifo "$tmp/fifo"
# A run that fails before it opens the FIFO would leave the reader waiting.
timeout 60 cat "$tmp/fifo" >"$tmp/from-fifo.jpg" &
run -o "$tmp/fifo"
wait
check "a FIFO is written through and stays a FIFO" \
    test "$rc" -eq 0 -a -p "$tmp/fifo" -a "$(size_of "$tmp/from-fifo.jpg")" = "$(size_of "$tmp/target.jpg")"
if mknod -m 666 "$tmp/null" c 1 3 2>/dev/null; then
    run -o "$tmp/null"
    check "a device node is written and stays a device" test "$rc" -eq 0 -a -c "$tmp/null"
else
    echo "skip: no device node (mknod needs root)"
fi

# --- Bad input and failed writes ---------------------------------------------------

run "$tmp/missing.bmp" -o "$tmp/missing.jpg"
check "a missing input exits 1 naming the file" fails_naming missing.bmp
check "a missing input writes nothing" no_file "$tmp/missing.jpg"

bmp=$tmp/bmp16-37.in
head -c $(($(size_of "$bmp") - 10)) "$bmp" >"$tmp/short.bmp"
run "$tmp/short.bmp" -o "$tmp/short.jpg"
check "a truncated BMP exits 1 naming the file" fails_naming short.bmp
check "a truncated BMP leaves neither output nor .part file" no_file "$tmp/short.jpg"
echo old >"$tmp/kept.jpg"
run "$tmp/short.bmp" -o "$tmp/kept.jpg"
check "a failed encode exits 1" test "$rc" -eq 1
check "a failed encode leaves an existing output as it was" holds "$tmp/kept.jpg" old

printf 'P3\n1 1\n255\n1 2 3\n' >"$tmp/ascii.ppm"
printf 'P5\n1 1\n65535\n\0\0' >"$tmp/deep.pgm"
printf 'P5\n65536 1\n255\n' >"$tmp/wide.pgm"
printf 'GIF89a' >"$tmp/image.gif"
for f in ascii.ppm deep.pgm wide.pgm image.gif; do
    run "$tmp/$f" -o "$tmp/unsupported.jpg"
    check "unsupported $f exits 1 naming the file" fails_naming "$f"
done
check "unsupported inputs write nothing" no_file "$tmp/unsupported.jpg"

run -o "$tmp/no/such/dir/out.jpg"
check "an output in a missing directory exits 1 with a message" test "$rc" -eq 1 -a -n "$err"
# A write cut short by a file size limit of 8 KiB (SIGXFSZ ignored, so the
# write fails instead of killing the tool) must not touch the old output.
echo old >"$tmp/limited.jpg"
(
    trap '' XFSZ
    ulimit -f 8
    exec "$tool" -o "$tmp/limited.jpg"
) 2>"$tmp/stderr"
rc=$?
check "a write cut short exits 1 with a message" test "$rc" -eq 1 -a -s "$tmp/stderr"
check "a write cut short leaves the old output and no .part file" holds "$tmp/limited.jpg" old
mkdir "$tmp/dir"
run -o "$tmp/dir"
check "an output path that is a directory exits 1" test "$rc" -eq 1 -a -d "$tmp/dir"
check "a directory gets no temporary file beside it" no_part "$tmp/dir"

finish
