#!/usr/bin/env python3
"""Writes small valid seed files for the three fuzz targets into DIR/{pts,lan,orn}."""
import os
import struct
import sys

out = sys.argv[1]
for sub in ("pts", "lan", "orn"):
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
