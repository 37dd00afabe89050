#!/usr/bin/env python3
"""Writes small valid seed files for the three fuzz targets into DIR/{pts,lan,orn}."""
import os
import struct
import sys

out = sys.argv[1]
for sub in ("pts", "lan", "orn", "pointio"):
    os.makedirs(os.path.join(out, sub), exist_ok=True)

# Points files: header N, minX, maxY, maxX, minY, spacingX, spacingY; then x, y, z, w.
def pts(name, pts_list, bounds, spacing=(1.0, 1.0)):
    minx, maxy, maxx, miny = bounds
    data = struct.pack("<i6d", len(pts_list), minx, maxy, maxx, miny, *spacing)
    for p in pts_list:
        data += struct.pack("<4d", *p)
    open(os.path.join(out, "pts", name), "wb").write(data)

pts("grid.pts", [(x, y, 10.0 + x * 0.1, 0.9) for x in range(5) for y in range(4)], (0, 3, 4, 0))
pts("one.pts", [(5.0, 5.0, 1.0, 1.0)], (4, 6, 6, 4))
pts("swapped.pts", [(1.0, 1.0, 2.0, 0.5), (2.0, 3.0, 1.0, 1.0)], (0, 0, 3, 4))
# Ground points under the fuzz target's photograph (centre 500, 400, height 1500).
pts("terrain.pts", [(400.0 + 25 * i, 300.0 + 20 * j, 5.0 * ((i + j) % 4), 0.8)
                    for i in range(8) for j in range(10)], (400, 480, 575, 300), (25.0, 20.0))
# A points file of another project: far away from the photograph.
pts("elsewhere.pts", [(5.0e6 + 10 * i, 4.2e6 + 10 * i, 300.0 + i, 1.0) for i in range(6)],
    (5.0e6, 4.2e6 + 50, 5.0e6 + 50, 4.2e6), (10.0, 10.0))

# LAN files: 128-byte header then BIL rows.
def lan(name, code, bands, cols, rows, bps, xstart=0, ystart=0):
    h = bytearray(128)
    h[0:6] = b"HEAD74"
    struct.pack_into("<HH", h, 6, code, bands)
    struct.pack_into("<iiii", h, 16, cols, rows, xstart, ystart)
    struct.pack_into("<H", h, 88, 1)
    struct.pack_into("<ff", h, 120, 1.0, -1.0)
    body = bytes((i * 7) & 255 for i in range(cols * rows * bands * bps))
    open(os.path.join(out, "lan", name), "wb").write(bytes(h) + body)

lan("byte.lan", 0, 1, 8, 6, 1, 100, 50)
lan("rgb.lan", 0, 3, 5, 4, 1)
lan("int16.lan", 3, 1, 4, 4, 2)
lan("float.lan", 6, 2, 3, 3, 4)
lan("uint32.lan", 4, 1, 3, 2, 4, -3, 70000)
lan("double.lan", 7, 1, 2, 2, 8)
lan("unknown.lan", 9, 2, 6, 3, 1)

orn = """ORIENTATION left photo
152.916
1000.0 1000.0 1800.0
2.0 -3.0 30.0
0 0 0
1.0 0.0 0.0
0.0 1.0 0.0
0.0 0.0
"""
open(os.path.join(out, "orn", "identity.ORN"), "w").write(orn)
open(os.path.join(out, "orn", "oneline.ORN"), "w").write(" ".join(orn.split()) + "\n")
open(os.path.join(out, "orn", "scanned.ORN"), "w").write(
    "ORIENTATION demo left\n153.0\n500 400 1500\n0.5 -0.3 1.2\n0 0 0\n"
    "0.02 0.0 -115.0\n0.0 -0.02 115.0\n0.01 -0.02\n")

# Point files for the LAS/XYZ target (a file starting with "L" is read as LAS,
# any other as XYZ text).
def las(name, fmt, minor, pts, extra=False):
    header_size = 227 if minor <= 2 else 235 if minor == 3 else 375
    base = [20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67][fmt]
    vlr = b""
    if extra:
        d = bytearray(192)
        d[2] = 10
        d[4:10] = b"weight"
        vlr = struct.pack("<H16sHH32s", 0, b"LASF_Spec", 4, 192, b"extra") + bytes(d)
    rec = base + (8 if extra else 0)
    h = bytearray(header_size)
    h[0:4] = b"LASF"
    h[24], h[25] = 1, minor
    struct.pack_into("<HIIBHI", h, 94, header_size, header_size + len(vlr), 1 if extra else 0,
                     fmt, rec, len(pts) if fmt < 6 else 0)
    struct.pack_into("<6d", h, 131, 0.01, 0.01, 0.001, 1000.0, 2000.0, 0.0)
    if minor >= 4:
        struct.pack_into("<Q", h, 247, len(pts))
    body = b""
    for (x, y, z) in pts:
        r = bytearray(rec)
        struct.pack_into("<iii", r, 0, x, y, z)
        if extra:
            struct.pack_into("<d", r, base, 0.5)
        body += bytes(r)
    open(os.path.join(out, "pointio", name), "wb").write(bytes(h) + vlr + body)

las("f0.las", 0, 0, [(i, 2 * i, 3 * i) for i in range(5)])
las("f3.las", 3, 2, [(100, 5, 7), (-100, 9, 1)])
las("f6.las", 6, 4, [(i * 7, -i, i) for i in range(4)], extra=True)
las("f10.las", 10, 4, [(1, 2, 3)])
open(os.path.join(out, "pointio", "a.xyz"), "w").write(
    " 1 2 3\n# comment\n4,5,6,0.5\n\n7 8 9 1e-3\n")
