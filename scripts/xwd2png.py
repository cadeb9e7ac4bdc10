#!/usr/bin/env python3
"""Converts a 24/32-bit TrueColor XWD screen dump (xwd -root) to PNG, with the standard library only."""
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
h = struct.unpack('>25I', data[:100])
header_size, version, fmt, depth, width, height = h[0], h[1], h[2], h[3], h[4], h[5]
byte_order, bpp, bpl, ncolors = h[7], h[11], h[12], h[19]
offset = header_size + ncolors * 12
rows = []
for y in range(height):
    line = data[offset + y * bpl: offset + y * bpl + width * (bpp // 8)]
    out = bytearray(b'\x00')
    for x in range(width):
        px = line[x * 4: x * 4 + 4]
        if byte_order == 0:  # LSBFirst: B G R X
            out += bytes((px[2], px[1], px[0]))
        else:
            out += bytes((px[1], px[2], px[3]))
    rows.append(bytes(out))
raw = b''.join(rows)
def chunk(t, d):
    c = struct.pack('>I', len(d)) + t + d
    return c + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
