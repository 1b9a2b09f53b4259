#!/usr/bin/env python3
# Converts an uncompressed TGA (8-bit colour-mapped, 16-bit or 24/32-bit) to PNG, for the README picture:
#   scripts/tga-to-png.py build/release/run/shot0000.tga docs/demo.png
import sys, struct, zlib
def read_tga(path):
    d = open(path,'rb').read()
    idl, cmt, it = d[0], d[1], d[2]
    cmfirst, cmlen, cmsize = struct.unpack('<HHB', d[3:8])
    w, h, bpp, desc = struct.unpack('<HHBB', d[12:18])
    off = 18 + idl
    pal = []
    if cmt:
        es = cmsize // 8
        for i in range(cmlen):
            e = d[off+i*es: off+i*es+es]
            pal.append((e[2], e[1], e[0]))
        off += cmlen * es
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            if bpp == 8:
                row += bytes(pal[d[off]]); off += 1
            elif bpp == 16:
                v = d[off] | d[off+1] << 8; off += 2
                row += bytes(((v>>10&31)*255//31, (v>>5&31)*255//31, (v&31)*255//31))
            else:
                row += bytes((d[off+2], d[off+1], d[off])); off += bpp//8
        rows.append(row)
    if not (desc & 0x20): rows.reverse()
    return w, h, rows
def write_png(path, w, h, rows):
    raw = b''.join(b'\0' + bytes(r) for r in rows)
    def chunk(t, b): return struct.pack('>I', len(b)) + t + b + struct.pack('>I', zlib.crc32(t + b) & 0xffffffff)
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    open(path, 'wb').write(png)
w,h,rows = read_tga(sys.argv[1]); write_png(sys.argv[2], w, h, rows)
