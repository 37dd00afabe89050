// Writing ERDAS LAN (7.4 layout) files for tools and tests: the 128-byte
// header followed by the samples band-interleaved by line, little-endian.
// The system itself only reads LAN files; this writer is not on its path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "erdasimg/erdasimg.h"

// A new header ("HEAD74", map type 1, x cell 1.0, y cell -1.0, reserved and
// other map fields zero) with the given sample code, band count, size and
// starts (column and row of the first pixel in the scanned photograph). Map
// fields (xmap, ymap, xcell, ycell, ...) may be changed in the result.
LanHeader MakeLanHeader(int packing, int nBands, int32_t cols, int32_t rows, int32_t xStart = 0,
                        int32_t yStart = 0);

// Writes the header and then, for each row, that row of every band in band
// order. bands[b] points at one block of rows x cols x bytes-per-sample bytes,
// row 0 first (the layout CErdasImage reads into). The header is written as
// given. 1 written; -1 a write failed; -2 the header sizes are not positive or
// too large, or the number of band blocks differs from the header's band count.
int WriteLan(FILE* file, const LanHeader& header, const std::vector<const void*>& bands);

// The same into a file opened by path ("wb"); -1 also when it cannot be opened.
int WriteLanFile(const std::string& path, const LanHeader& header,
                 const std::vector<const void*>& bands);

// Writes the header followed by the given bytes as they are: for files whose
// data is deliberately short, long or already interleaved. 1 or -1.
int WriteLanRaw(FILE* file, const LanHeader& header, const void* data, size_t bytes);
