#!/usr/bin/env python3
"""Writes the seeds of the reader harnesses: small image files of every kind
the trivjpeg tool reads (corpus/image), data files for tdftool dump
(corpus/tdf_dump, the tdf_loader seeds without their control byte), and a
minimal PE32 DLL with exports, imports and a base relocation (corpus/pe).

    python3 fuzz/make_seeds.py        # from the repository's root
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    path = os.path.join(HERE, 'corpus', folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), 'wb') as f:
        f.write(data)


# --- Images -----------------------------------------------------------------

def bmp(width, height, bits, rows, palette=b'', compression=0, masks=b''):
    stride = (width * bits + 31) // 32 * 4
    pixels = b''.join(r.ljust(stride, b'\0') for r in rows)
    header_size = 40
    offset = 14 + header_size + len(masks) + len(palette)
    info = struct.pack('<IiiHHIIiiII', header_size, width, height, 1, bits, compression,
                       len(pixels), 2835, 2835, len(palette) // 4, 0)
    return (b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset) + info + masks +
            palette + pixels)


def png(width, height, colour, depth, raw_rows, extra=b'', interlace=0):
    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF))
    ihdr = struct.pack('>IIBBBBB', width, height, depth, colour, 0, 0, interlace)
    data = zlib.compress(b''.join(b'\0' + r for r in raw_rows))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + extra + chunk(b'IDAT', data) +
            chunk(b'IEND', b''))


def images():
    write('image', 'bmp24', bmp(2, 2, 24, [b'\x10\x20\x30\x40\x50\x60', b'\x70\x80\x90\xa0\xb0\xc0']))
    write('image', 'bmp32', bmp(2, 1, 32, [b'\x01\x02\x03\x00\x04\x05\x06\x00']))
    write('image', 'bmp16', bmp(2, 2, 16, [b'\x1f\x00\xe0\x03', b'\x00\x7c\xff\x7f']))
    write('image', 'bmp8', bmp(2, 2, 8, [b'\x00\x01', b'\x01\x00'],
                               palette=b'\x00\x00\x00\x00\xff\xff\xff\x00'))
    write('image', 'bmp-topdown', bmp(1, -2, 24, [b'\x01\x02\x03', b'\x04\x05\x06']))
    write('image', 'ppm-binary', b'P6\n2 2\n255\n' + bytes(range(12)))
    write('image', 'ppm-text', b'P3\n# a comment\n2 1\n255\n1 2 3 4 5 6\n')
    write('image', 'pgm-binary', b'P5\n2 2\n255\n\x00\x40\x80\xff')
    write('image', 'pgm-text', b'P2\n2 1\n15\n0 15\n')
    write('image', 'pgm-16bit', b'P5\n1 1\n65535\n\x12\x34')
    write('image', 'png-grey', png(2, 2, 0, 8, [b'\x00\xff', b'\x80\x40']))
    write('image', 'png-rgb', png(2, 1, 2, 8, [b'\x01\x02\x03\x04\x05\x06']))
    write('image', 'png-palette',
          png(2, 1, 3, 8, [b'\x00\x01'], extra=struct.pack('>I', 6) + b'PLTE' +
              b'\x00\x00\x00\xff\xff\xff' + struct.pack('>I', zlib.crc32(
                  b'PLTE\x00\x00\x00\xff\xff\xff') & 0xFFFFFFFF)))
    write('image', 'png-rgba16', png(1, 1, 6, 16, [b'\x12\x34\x56\x78\x9a\xbc\xde\xf0']))
    # Adam7 over 3 x 3: passes 1, 4, 5, 6 (two rows) and 7, each row filtered.
    write('image', 'png-interlaced', png(3, 3, 0, 8, [b'\x01', b'\x03', b'\x07\x09', b'\x02',
                                                     b'\x08', b'\x04\x05\x06'], interlace=1))


# --- TRIVDATA.TDF, for the dump ---------------------------------------------

def data_files():
    folder = os.path.join(HERE, 'corpus', 'tdf')
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), 'rb') as f:
            seed = f.read()
        write('tdf_dump', name, seed[1:])  # without the loader's control byte


# --- A PE32 DLL ---------------------------------------------------------------

def dll():
    base, text = 0x10000000, 0x1000
    body = bytearray(0x200)

    def put(rva, data):
        body[rva - text:rva - text + len(data)] = data

    put(0x1000, b'\xb8\x01\x00\x00\x00\xc2\x0c\x00')  # DllMain: mov eax, 1; ret 12
    put(0x1010, b'\xc3')                              # the export: ret
    put(0x1020, struct.pack('<I', base + 0x1010))     # an address to relocate
    # Export directory, its three tables and its names.
    put(0x1040, struct.pack('<IIHHIIIIIII', 0, 0, 0, 0, 0x1080, 1, 1, 1, 0x1070, 0x1074, 0x1078))
    put(0x1070, struct.pack('<I', 0x1010))
    put(0x1074, struct.pack('<I', 0x1090))
    put(0x1078, struct.pack('<H', 0))
    put(0x1080, b'TEST.DLL\0')
    put(0x1090, b'Jpeg_EncodeStart\0')
    # One import descriptor (then the zero terminator), lookup and address
    # tables, the DLL's name and the hint/name entry.
    put(0x10b0, struct.pack('<IIIII', 0x10e0, 0, 0, 0x1100, 0x10f0))
    put(0x10e0, struct.pack('<II', 0x1110, 0))
    put(0x10f0, struct.pack('<II', 0x1110, 0))
    put(0x1100, b'msvcrt.dll\0')
    put(0x1110, b'\0\0memcpy\0')
    # One base relocation block: HIGHLOW at 0x1020, then padding.
    put(0x1120, struct.pack('<IIHH', 0x1000, 12, 0x3000 | 0x020, 0))

    directories = [(0, 0)] * 16
    directories[0] = (0x1040, 0x70)
    directories[1] = (0x10b0, 40)
    directories[5] = (0x1120, 12)
    optional = struct.pack('<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII', 0x10b, 2, 0, 0x200, 0, 0, 0x1000,
                           0x1000, 0x1000, base, 0x1000, 0x200, 4, 0, 0, 0, 4, 0, 0, 0x2000,
                           0x200, 0, 2, 0x40, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b''.join(struct.pack('<II', r, s) for r, s in directories)
    file_header = struct.pack('<HHIIIHH', 0x14c, 1, 0, 0, 0, len(optional), 0x2102)
    section = struct.pack('<8sIIIIIIHHI', b'.text', 0x200, 0x1000, 0x200, 0x200, 0, 0, 0, 0,
                          0xe0000020)
    dos = bytearray(0x40)
    dos[0:2] = b'MZ'
    dos[0x3c:0x40] = struct.pack('<I', 0x40)
    headers = bytes(dos) + b'PE\0\0' + file_header + optional + section
    write('pe', 'minimal-dll', headers.ljust(0x200, b'\0') + bytes(body))


if __name__ == '__main__':
    images()
    data_files()
    dll()
