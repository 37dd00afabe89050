// ERDAS LAN writer: header verbatim, then band-interleaved lines.
#include "LanWriter.h"

#include <memory>

#include "Platform/FileHandle.h"

LanHeader MakeLanHeader(int packing, int nBands, int32_t cols, int32_t rows, int32_t xStart,
                        int32_t yStart) {
    LanHeader h = MakeDefaultLanHeader();
    h.packing = static_cast<uint16_t>(packing);
    h.nbands = static_cast<uint16_t>(nBands);
    h.ncols = cols;
    h.nrows = rows;
    h.xstart = xStart;
    h.ystart = yStart;
    return h;
}

int WriteLan(FILE* file, const LanHeader& header, const std::vector<const void*>& bands) {
    int64_t rowBytes = 0, bandBytes = 0;
    if (!LanBandBytes(header.nbands, header.nrows, header.ncols, BytesPerSampleOf(header.packing),
                      &rowBytes, &bandBytes) ||
        bands.size() != header.nbands) {
        return -2;
    }
    if (!file || std::fwrite(&header, sizeof header, 1, file) != 1) return -1;
    if (bands.size() == 1) {
        const size_t n = static_cast<size_t>(bandBytes);
        return std::fwrite(bands[0], 1, n, file) == n ? 1 : -1;
    }
    const size_t row = static_cast<size_t>(rowBytes);
    for (int64_t r = 0; r < header.nrows; ++r) {
        for (const void* band : bands) {
            const auto* src = static_cast<const unsigned char*>(band) + r * rowBytes;
            if (std::fwrite(src, 1, row, file) != row) return -1;
        }
    }
    return 1;
}

int WriteLanFile(const std::string& path, const LanHeader& header,
                 const std::vector<const void*>& bands) {
    Platform::FilePtr file = Platform::OpenFile(path, "wb");
    if (!file) return -1;
    const int result = WriteLan(file.get(), header, bands);
    if (std::fclose(file.release()) != 0) return -1;
    return result;
}

int WriteLanRaw(FILE* file, const LanHeader& header, const void* data, size_t bytes) {
    if (!file || std::fwrite(&header, sizeof header, 1, file) != 1) return -1;
    if (bytes > 0 && std::fwrite(data, 1, bytes, file) != bytes) return -1;
    return 1;
}
