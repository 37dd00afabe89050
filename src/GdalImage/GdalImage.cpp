// Reading photographs through GDAL into the LAN image's band buffers, and the
// choice between the LAN reader and GDAL.
#include "GdalImage/GdalImage.h"

#include <gdal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FileHandle.h"
#include "Platform/Platform.h"

namespace {

const char kAllocFails[] = "Allocate Memory for Image Fails";

// The largest side of a photograph read through GDAL (pixels); a scanned
// aerial photograph has some 20,000.
constexpr int kMaxSide = 100000;

// A strip read across all bands holds about this many bytes, so that the
// blocks GDAL decodes for one band are still cached when the next band asks.
constexpr int64_t kStripBytes = int64_t{4} << 20;

struct DatasetCloser {
    void operator()(void* ds) const { GDALClose(static_cast<GDALDatasetH>(ds)); }
};

// The GDAL drivers photographs come through: TIFF (GeoTIFF included), PNG
// and JPEG. Never VRT or any other driver that can name further files or
// network addresses inside a file; registered once per process.
class CRasterDrivers {
public:
    static const CRasterDrivers& Get() {
        static CRasterDrivers drivers;
        return drivers;
    }
    const char* const* List() const { return m_list.data(); }

private:
    CRasterDrivers() {
        GDALAllRegister();
        for (const char* name : {"GTiff", "PNG", "JPEG"}) {
            GDALDriverH d = GDALGetDriverByName(name);
            if (d && GDALGetMetadataItem(d, GDAL_DCAP_RASTER, nullptr)) m_list.push_back(name);
        }
        m_list.push_back(nullptr);
    }
    std::vector<const char*> m_list;
};

// Why GDAL must not be given `path`: a virtual file system path (/vsicurl/,
// /vsimem/, ...), a URL, or no regular file (a named pipe would block, a
// device never end); empty when it may.
std::string RefusedPath(const std::string& path) {
    if (path.rfind("/vsi", 0) == 0) return "a virtual file system path is not a photograph";
    if (path.find("://") != std::string::npos) return "a URL is not a photograph";
    return Platform::NotARegularFile(path);
}

// The memory this process can be given (bytes): the machine's physical
// memory, or the process's address space limit when that is lower.
int64_t AvailableMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    int64_t bytes = pages > 0 && pageSize > 0 ? int64_t(pages) * pageSize : INT64_MAX;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        bytes = std::min<int64_t>(bytes, static_cast<int64_t>(limit.rlim_cur));
    return bytes;
}

// Collects GDAL's failure texts while it lives instead of letting GDAL print
// them; the last one goes to the debug trace.
class CGdalErrors {
public:
    CGdalErrors() { CPLPushErrorHandlerEx(&CGdalErrors::Handler, this); }
    ~CGdalErrors() { CPLPopErrorHandler(); }
    CGdalErrors(const CGdalErrors&) = delete;
    CGdalErrors& operator=(const CGdalErrors&) = delete;
    void Trace(const std::string& path, const char* what) const {
        Platform::DebugTrace("ReadGdalImage: " + path + ": " + what +
                             (m_last.empty() ? std::string() : " (" + m_last + ")") + "\n");
    }

private:
    static void CPL_STDCALL Handler(CPLErr cls, CPLErrorNum, const char* msg) {
        auto* self = static_cast<CGdalErrors*>(CPLGetErrorHandlerUserData());
        if (self && cls >= CE_Failure && msg) self->m_last = msg;
    }
    std::string m_last;
};

// LAN sample code for a GDAL type, and the type GDAL is asked to deliver;
// false for types without an equivalent.
bool SampleCodeOf(GDALDataType type, bool signedByte, int* code, GDALDataType* readAs) {
    switch (type) {
        case GDT_Byte:
            *code = signedByte ? 3 : 0;
            *readAs = GDT_Byte;  // signed bytes are widened after reading
            return true;
        case GDT_UInt16:
            *code = 2;
            *readAs = type;
            return true;
        case GDT_Int16:
            *code = 3;
            *readAs = type;
            return true;
        case GDT_UInt32:
            *code = 4;
            *readAs = type;
            return true;
        case GDT_Int32:
            *code = 5;
            *readAs = type;
            return true;
        case GDT_Float32:
            *code = 6;
            *readAs = type;
            return true;
        case GDT_Float64:
        case GDT_Int64:
        case GDT_UInt64:
            *code = 7;
            *readAs = GDT_Float64;
            return true;
        default:
#if GDAL_VERSION_NUM >= 3070000
            if (type == GDT_Int8) {
                *code = 3;
                *readAs = GDT_Int16;
                return true;
            }
#endif
            return false;  // complex types and anything newer
    }
}

// Widens `count` signed bytes at the start of `block` to int16 in place,
// last sample first so that no byte is overwritten before it is read.
void WidenSignedBytes(unsigned char* block, int64_t count) {
    for (int64_t i = count - 1; i >= 0; --i) {
        const int16_t v = static_cast<int8_t>(block[i]);
        std::memcpy(block + 2 * i, &v, 2);
    }
}

bool ReadRows(GDALRasterBandH band, int row0, int rows, int cols, GDALDataType type,
              unsigned char* out) {
    return GDALRasterIO(band, GF_Read, 0, row0, cols, rows, out, cols, rows, type, 0, 0) == CE_None;
}

}  // namespace

bool HasLanMagic(const unsigned char* bytes, size_t n) {
    if (!bytes || n < 6) return false;
    char head[6];
    for (int i = 0; i < 6; ++i) head[i] = static_cast<char>(std::toupper(bytes[i]));
    return std::memcmp(head, "HEAD74", 6) == 0 || std::memcmp(head, "HEADER", 6) == 0;
}

PhotoReader ChoosePhotographReader(const std::string& path) {
    if (!RefusedPath(path).empty()) return PhotoReader::None;
    Platform::FilePtr file = Platform::OpenRegularFile(path, "rb");
    if (!file) return PhotoReader::None;
    unsigned char head[6];
    const size_t n = std::fread(head, 1, sizeof head, file.get());
    file.reset();
    if (HasLanMagic(head, n)) return PhotoReader::Lan;
    CGdalErrors quiet;  // also while the drivers are registered
    const CRasterDrivers& drivers = CRasterDrivers::Get();
    GDALDriverH d = GDALIdentifyDriverEx(path.c_str(), GDAL_OF_RASTER, drivers.List(), nullptr);
    return d ? PhotoReader::Gdal : PhotoReader::Lan;
}

int ReadGdalImage(const std::string& path, CErdasImage& image) {
    CGdalErrors errors;
    if (const std::string why = RefusedPath(path); !why.empty()) {
        errors.Trace(path, why.c_str());
        return kPhotoCannotOpen;
    }
    const CRasterDrivers& drivers = CRasterDrivers::Get();
    std::unique_ptr<void, DatasetCloser> ds(GDALOpenEx(
        path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers.List(), nullptr, nullptr));
    if (!ds) {
        errors.Trace(path, "GDAL cannot open the file");
        return kPhotoUnreadable;
    }
    GDALDatasetH h = ds.get();
    const int cols = GDALGetRasterXSize(h);
    const int rows = GDALGetRasterYSize(h);
    const int nBands = GDALGetRasterCount(h);
    if (nBands < 1) {
        errors.Trace(path, "the file holds no raster bands");
        return kPhotoUnreadable;
    }
    if (nBands > UINT16_MAX) {
        errors.Trace(path, "more bands than a LAN header can count");
        return kPhotoBadSize;
    }

    // One sample type for all bands: the one that holds every band's values.
    GDALRasterBandH first = GDALGetRasterBand(h, 1);
    GDALDataType type = GDALGetRasterDataType(first);
    for (int b = 2; b <= nBands; ++b)
        type = GDALDataTypeUnion(type, GDALGetRasterDataType(GDALGetRasterBand(h, b)));
    const char* pixelType = GDALGetMetadataItem(first, "PIXELTYPE", "IMAGE_STRUCTURE");
    const bool signedByte =
        type == GDT_Byte && pixelType && std::strcmp(pixelType, "SIGNEDBYTE") == 0;
    int code = 0;
    GDALDataType readAs = GDT_Unknown;
    if (!SampleCodeOf(type, signedByte, &code, &readAs)) {
        Platform::ShowMessage("Image " + path + ": samples of type " + GDALGetDataTypeName(type) +
                                  " cannot be displayed",
                              Platform::MessageKind::Exclamation);
        return kPhotoUnsupported;
    }

    const int bps = BytesPerSampleOf(code);
    int64_t rowBytes = 0, bandBytes = 0;
    if (!LanBandBytes(nBands, rows, cols, bps, &rowBytes, &bandBytes)) {
        errors.Trace(path, "the raster is too large to address");
        return kPhotoBadSize;
    }
    // The size the file declares, before anything is allocated for it: a
    // small file (compressed, or a header alone) may declare any size.
    if (cols > kMaxSide || rows > kMaxSide) {
        errors.Trace(path, ("the raster is " + std::to_string(cols) + " x " + std::to_string(rows) +
                            " pixels; a photograph has at most 100000 a side")
                               .c_str());
        return kPhotoBadSize;
    }
    const int64_t needed = int64_t(nBands) * rows * cols * bps;
    if (needed > AvailableMemory()) {
        errors.Trace(path, ("the raster needs " + std::to_string(needed >> 20) +
                            " MB, more than this machine can give")
                               .c_str());
        return kPhotoBadSize;
    }
    std::unique_ptr<CBandArray> bands = AllocBands(nBands, rows, cols, bps);
    if (!bands) {
        Platform::ShowMessage(kAllocFails, Platform::MessageKind::Exclamation);
        return kPhotoNoMemory;
    }
    unsigned char** blocks = bands->Data();

    // Rows as GDAL delivers them (1 byte each for signed bytes until widened).
    const int64_t readRowBytes = static_cast<int64_t>(cols) * GDALGetDataTypeSizeBytes(readAs);
    if (nBands == 1) {
        if (!ReadRows(first, 0, rows, cols, readAs, blocks[0])) {
            errors.Trace(path, "GDAL cannot read the samples");
            return kPhotoUnreadable;
        }
    } else {
        // Strips of whole blocks across every band: a pixel-interleaved block
        // is decoded once and serves the other bands from GDAL's cache while
        // the strip is read. (Reading all bands at once into a staging strip
        // and copying it out measured no faster.)
        int blockW = 0, blockH = 0;
        GDALGetBlockSize(first, &blockW, &blockH);
        blockH = std::max(blockH, 1);
        const int64_t stripRowBytes = std::max<int64_t>(readRowBytes * nBands, 1);
        int64_t strip = std::max<int64_t>(kStripBytes / stripRowBytes / blockH, 1) * blockH;
        strip = std::min<int64_t>(strip, rows);
        for (int64_t r0 = 0; r0 < rows; r0 += strip) {
            const int n = static_cast<int>(std::min<int64_t>(strip, rows - r0));
            for (int b = 0; b < nBands; ++b) {
                if (!ReadRows(GDALGetRasterBand(h, b + 1), static_cast<int>(r0), n, cols, readAs,
                              blocks[b] + r0 * readRowBytes)) {
                    errors.Trace(path, "GDAL cannot read the samples");
                    return kPhotoUnreadable;
                }
            }
        }
    }
    if (signedByte) {
        for (int b = 0; b < nBands; ++b)
            WidenSignedBytes(blocks[b], static_cast<int64_t>(cols) * rows);
    }
    ds.reset();

    LanHeader header = MakeDefaultLanHeader();
    header.packing = static_cast<uint16_t>(code);
    header.nbands = static_cast<uint16_t>(nBands);
    header.ncols = cols;
    header.nrows = rows;
    header.xstart = 0;
    header.ystart = 0;
    return image.AdoptBands(header, std::move(bands)) == 1 ? kPhotoRead : kPhotoBadSize;
}

int ReadPhotograph(const std::string& path, CErdasImage& image, PhotoReader* used) {
    const PhotoReader reader = ChoosePhotographReader(path);
    if (used) *used = reader;
    if (reader == PhotoReader::None) return kPhotoCannotOpen;
    if (reader == PhotoReader::Gdal) return ReadGdalImage(path, image);

    // The LAN reader fills a scratch image; its header and bands are taken
    // over only when the read succeeded.
    Platform::FilePtr file = Platform::OpenRegularFile(path, "rb");
    if (!file) {
        if (used) *used = PhotoReader::None;
        return kPhotoCannotOpen;
    }
    CErdasImage scratch;
    const int result = scratch.ReadImage(file.get());
    if (result != 1) return result;
    return image.AdoptBands(scratch.m_header, std::move(scratch.m_ppBands)) == 1 ? kPhotoRead
                                                                                 : kPhotoBadSize;
}
