#!/usr/bin/env python3
"""Pastes a photograph into a rendered page, as printed reports look.

    bench/paste_photo.py PAGE.ppm PHOTO.bmp OUT.ppm

PAGE is a binary PPM (pdftoppm's output), PHOTO a 24-bit bottom-up BMP (as
scripts/bench makes from the photographs). The photograph goes in centred
across the page, its top a third of the way down, cut where the page ends.
"""
import struct
import sys


def read_ppm(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit(f"paste_photo: {path}: not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    return width, height, bytearray(data[at + 1:at + 1 + 3 * width * height])


def read_bmp(path):
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if data[:2] != b"BM" or bits != 24 or height <= 0:
        sys.exit(f"paste_photo: {path}: not a 24-bit bottom-up BMP")
    stride = (3 * width + 3) // 4 * 4
    rows = []
    for y in range(height):  # top row first
        row = bytearray(data[offset + (height - 1 - y) * stride:][:3 * width])
        row[0::3], row[2::3] = row[2::3], row[0::3]  # BGR to RGB
        rows.append(row)
    return width, height, rows


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    width, height, page = read_ppm(sys.argv[1])
    photo_width, photo_height, rows = read_bmp(sys.argv[2])
    x0 = max(0, (width - photo_width) // 2)
    y0 = height // 3
    cut = min(photo_width, width - x0)
    for y, row in enumerate(rows[:max(0, height - y0)]):
        at = 3 * ((y0 + y) * width + x0)
        page[at:at + 3 * cut] = row[:3 * cut]
    with open(sys.argv[3], "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height))
        out.write(page)


main()
