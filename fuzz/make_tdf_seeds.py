#!/usr/bin/env python3
"""Writes the seed inputs of tdf_loader_fuzz into fuzz/corpus/tdf.

An input is one control byte (which fault to inject, see tdf_loader_fuzz.cpp)
followed by the bytes of a driver data file. The seeds are small data files
of the layout the project writes: an 8-byte header (magic, limit), section
records of 52 bytes each followed by a 12-byte SectionInfo, then 16-byte
message entries, then NUL-terminated strings; numbers little-endian 32-bit.

    fuzz/make_tdf_seeds.py [OUTPUT_DIR]
"""

import os
import struct
import sys

RECORD = 52
SECTION = RECORD + 12
ENTRY = 16
MESSAGES = "DDFUM_ErrMsg"


def data_file(sections, loop_sections=False, loop_entries=False):
    """sections: list of (name, [(key, text), ...]). Returns the file bytes."""
    limit = 8 + SECTION * len(sections)
    entry_count = sum(len(m) for _, m in sections)
    strings_at = limit + ENTRY * entry_count
    strings = bytearray()

    def string(s):
        at = strings_at + len(strings)
        strings.extend(s.encode("latin-1") + b"\0")
        return at

    out = bytearray(b"TDF\x01" + struct.pack("<I", limit))
    entries = bytearray()
    entry_at = limit
    for i, (name, messages) in enumerate(sections):
        record_at = 8 + SECTION * i
        following = record_at + SECTION if i + 1 < len(sections) else limit
        if loop_sections and i + 1 == len(sections):
            following = 8
        first = entry_at if messages else 0
        out += name.encode("latin-1").ljust(32, b"\0")
        out += struct.pack("<I12xI", first, following)
        out += struct.pack("<I8x", len(messages))
        for j, (key, text) in enumerate(messages):
            key_at, text_at = string(key), string(text)
            following = entry_at + ENTRY if j + 1 < len(messages) else 0
            if loop_entries and j + 1 == len(messages):
                following = first
            entries += struct.pack("<III", key_at, text_at, len(text)) + struct.pack("<I", following)
            entry_at += ENTRY
    return bytes(out + entries + strings)


def all_messages():
    keys = ["ERMSG_%02d" % i for i in range(15)] + ["ERMSG_XX"]
    return [(k, "text %s" % k[-2:]) for k in keys]


def seeds():
    full = data_file([("DDFUM_Other", [("ERMSG_00", "other")]), (MESSAGES, all_messages())])
    yield "full", b"\0" + full
    yield "full-through-handle", b"\xc1" + full
    yield "full-unknown-size", b"\xff" + full
    yield "full-short-reads", b"\xc2" + full
    yield "full-alloc-fault", b"\x43" + full
    yield "full-read-fault", b"\x82" + full
    yield "mixed-case", b"\0" + data_file(
        [("ddfum_errmsg", [("ermsg_03", "three"), ("ERMSG_03", "second"), ("ERMSG_0", "short"),
                           ("ERMSG_XX", "general")])])
    yield "long-text", b"\0" + data_file([(MESSAGES, [("ERMSG_01", "x" * 289),
                                                       ("ERMSG_02", "y" * 300)])])
    yield "section-loop", b"\0" + data_file([("A", []), ("B", [])], loop_sections=True)
    yield "entry-loop", b"\0" + data_file(
        [(MESSAGES, [("ERMSG_04", "four"), ("NONE", "none")])], loop_entries=True)
    yield "empty", b"\0"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "corpus", "tdf")
    os.makedirs(out, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(out, "seed-" + name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
