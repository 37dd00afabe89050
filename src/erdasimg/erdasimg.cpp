// ERDAS LAN images: reading the header and the band-interleaved pixel lines
// into one block per band, and the flipped window copy taken for drawing.
#include "erdasimg/erdasimg.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "Platform/Platform.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

const char kAllocFails[] = "Allocate Memory for Image Fails";

// Interleaved lines are read through a staging buffer of about this size so
// that a file of short rows costs few read calls; rows at least this long
// are read straight into their band blocks.
constexpr int64_t kStagingBytes = 1 << 20;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Large blocks come from fresh zero pages of the system; asking for huge pages
// where they are offered makes filling them about twice as fast (one fault
// per 2 MiB instead of per 4 KiB). Only whole huge pages inside the block are
// advised; where the advice is not supported nothing changes.
void AdviseHugePages([[maybe_unused]] unsigned char* block, [[maybe_unused]] int64_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHuge = uintptr_t{1} << 21;
    if (bytes < static_cast<int64_t>(2 * kHuge)) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end =
        (reinterpret_cast<uintptr_t>(block) + static_cast<uintptr_t>(bytes)) & ~(kHuge - 1);
    if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

template <typename T>
T LoadSample(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Smallest and largest finite value of count samples of the given type.
template <typename T>
bool RangeOf(const unsigned char* samples, int64_t count, double* lo, double* hi) {
    bool any = false;
    T mn{}, mx{};
    for (int64_t i = 0; i < count; ++i) {
        const T v = LoadSample<T>(samples + i * static_cast<int64_t>(sizeof(T)));
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(v)) continue;
        }
        if (!any) {
            mn = mx = v;
            any = true;
        } else if (v < mn) {
            mn = v;
        } else if (v > mx) {
            mx = v;
        }
    }
    *lo = any ? static_cast<double>(mn) : 0.0;
    *hi = any ? static_cast<double>(mx) : 0.0;
    return any;
}

bool RangeOfCode(int packing, const unsigned char* samples, int64_t count, double* lo, double* hi) {
    switch (packing) {
        case 2:
            return RangeOf<uint16_t>(samples, count, lo, hi);
        case 3:
            return RangeOf<int16_t>(samples, count, lo, hi);
        case 4:
            return RangeOf<uint32_t>(samples, count, lo, hi);
        case 5:
            return RangeOf<int32_t>(samples, count, lo, hi);
        case 6:
            return RangeOf<float>(samples, count, lo, hi);
        case 7:
            return RangeOf<double>(samples, count, lo, hi);
        default:
            return RangeOf<uint8_t>(samples, count, lo, hi);
    }
}

// Linear stretch of [lo, hi] onto 0..255; NaN gives 0, values outside the
// range (infinities included) are clamped, a range of one value gives 0.
// Differences are taken of halved values so that a range wider than the
// largest double (float64 samples) cannot overflow; halving is exact, so the
// grey values are the same as from the plain differences.
inline unsigned char GreyOf(double v, double lo, double scale) {
    const double g = (v * 0.5 - lo * 0.5) * scale + 0.5;
    if (!(g > 0.0)) return 0;  // NaN too: an infinity times a zero scale
    return g >= 255.0 ? 255 : static_cast<unsigned char>(g);
}

// Scale for GreyOf: 255 grey steps per half-difference from lo to hi.
double ScaleOf(double lo, double hi) {
    return hi > lo ? 255.0 / (hi * 0.5 - lo * 0.5) : 0.0;
}

template <typename T>
void StretchToGrey(const unsigned char* samples, int64_t count, double lo, double hi,
                   unsigned char* out) {
    const double scale = ScaleOf(lo, hi);
    for (int64_t i = 0; i < count; ++i) {
        out[i] = GreyOf(
            static_cast<double>(LoadSample<T>(samples + i * static_cast<int64_t>(sizeof(T)))), lo,
            scale);
    }
}

// 16-bit samples go through a table of all 65536 values.
template <typename T>
void StretchThroughTable(const unsigned char* samples, int64_t count, const unsigned char* table,
                         unsigned char* out) {
    for (int64_t i = 0; i < count; ++i) {
        const T v = LoadSample<T>(samples + i * static_cast<int64_t>(sizeof(T)));
        out[i] = table[static_cast<uint16_t>(v)];
    }
}

void StretchCode(int packing, const unsigned char* samples, int64_t count, double lo, double hi,
                 unsigned char* out) {
    switch (packing) {
        case 2:
            StretchToGrey<uint16_t>(samples, count, lo, hi, out);
            break;
        case 3:
            StretchToGrey<int16_t>(samples, count, lo, hi, out);
            break;
        case 4:
            StretchToGrey<uint32_t>(samples, count, lo, hi, out);
            break;
        case 5:
            StretchToGrey<int32_t>(samples, count, lo, hi, out);
            break;
        case 6:
            StretchToGrey<float>(samples, count, lo, hi, out);
            break;
        case 7:
            StretchToGrey<double>(samples, count, lo, hi, out);
            break;
        default:
            StretchToGrey<uint8_t>(samples, count, lo, hi, out);
            break;
    }
}

}  // namespace

int SampleValueRange(int packing, const unsigned char* samples, int64_t count, double* lo,
                     double* hi) {
    return RangeOfCode(packing, samples, count, lo, hi) ? 1 : 0;
}

void StretchSamplesToGrey(int packing, const unsigned char* samples, int64_t count, double lo,
                          double hi, unsigned char* out) {
    StretchCode(packing, samples, count, lo, hi, out);
}

int BytesPerSampleOf(int code) {
    switch (code) {
        case 2:
        case 3:
            return 2;
        case 4:
        case 5:
        case 6:
            return 4;
        case 7:
            return 8;
        default:
            return 1;  // 0, 1 (whole bytes, no 4-bit unpacking) and unknown codes
    }
}

LanHeader MakeDefaultLanHeader() {
    LanHeader h;
    std::memset(&h, 0, sizeof h);
    std::memcpy(h.magic, "HEAD74", 6);
    h.packing = 0;
    h.nbands = 1;
    h.ncols = 1;
    h.nrows = 1;
    h.maptype = 1;
    h.xcell = 1.0f;
    h.ycell = -1.0f;
    return h;
}

bool LanBandBytes(int nBands, int64_t rows, int64_t cols, int bytesPerSample, int64_t* rowBytes,
                  int64_t* bandBytes) {
    if (nBands < 1 || rows < 1 || cols < 1 || bytesPerSample < 1) return false;
    int64_t row = 0, band = 0, total = 0;
    if (__builtin_mul_overflow(cols, static_cast<int64_t>(bytesPerSample), &row)) return false;
    if (__builtin_mul_overflow(row, rows, &band)) return false;
    if (__builtin_mul_overflow(band, static_cast<int64_t>(nBands), &total)) return false;
    // One allocation must be expressible in size_t and as a pointer difference.
    constexpr uint64_t kMaxBytes =
        std::min<uint64_t>(std::numeric_limits<size_t>::max(),
                           static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max()));
    if (static_cast<uint64_t>(total) > kMaxBytes) return false;
    *rowBytes = row;
    *bandBytes = band;
    return true;
}

CBandArray::~CBandArray() {
    for (unsigned char* p : m_pointers) std::free(p);
}

std::unique_ptr<CBandArray> AllocBands(int nBands, int rows, int cols, int bytesPerSample) {
    int64_t rowBytes = 0, bandBytes = 0;
    if (!LanBandBytes(nBands, rows, cols, bytesPerSample, &rowBytes, &bandBytes)) return nullptr;
    std::unique_ptr<CBandArray> bands(new (std::nothrow) CBandArray);
    if (!bands) return nullptr;
    try {
        bands->m_pointers.reserve(static_cast<size_t>(nBands));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    bands->m_nBytesPerBand = bandBytes;
    for (int b = 0; b < nBands; ++b) {
        auto* block = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(bandBytes), 1));
        if (!block) return nullptr;  // the array frees the blocks taken so far
        bands->m_pointers.push_back(block);
        AdviseHugePages(block, bandBytes);
    }
    return bands;
}

void FreeBands(std::unique_ptr<CBandArray>& bands) {
    bands.reset();
}

CErdasImage::CErdasImage() : m_header(MakeDefaultLanHeader()) {}

CErdasImage::~CErdasImage() = default;

ImageSize CErdasImage::GetSize() const {
    return ImageSize{m_header.ncols, m_header.nrows};
}

unsigned char** CErdasImage::GetBands() const {
    return m_ppBands ? m_ppBands->Data() : nullptr;
}

unsigned char** CErdasImage::GetWindow() const {
    return m_ppWindow ? m_ppWindow->Data() : nullptr;
}

int CErdasImage::ReadImage(FILE* file) {
    FreeBands(m_ppBands);
    m_bRangeKnown = false;

    LanHeader header;
    std::memset(&header, 0, sizeof header);
    const size_t got = file ? std::fread(&header, 1, sizeof header, file) : 0;
    if (got < sizeof header) {
        // Without a whole header the sizes are unknown: an empty image.
        std::memset(&m_header, 0, sizeof m_header);
        m_nBytesPerSample = BytesPerSampleOf(0);
        Platform::DebugTrace("ReadImage: the file ends inside the LAN header\n");
        return -3;
    }
    m_header = header;
    m_nBytesPerSample = BytesPerSampleOf(m_header.packing);

    int64_t rowBytes = 0, bandBytes = 0;
    if (!LanBandBytes(m_header.nbands, m_header.nrows, m_header.ncols, m_nBytesPerSample, &rowBytes,
                      &bandBytes)) {
        Platform::DebugTrace("ReadImage: LAN header sizes are not positive or too large\n");
        return -2;
    }

    m_ppBands = AllocBands(m_header.nbands, m_header.nrows, m_header.ncols, m_nBytesPerSample);
    if (!m_ppBands) {
        Platform::ShowMessage(kAllocFails, Platform::MessageKind::Exclamation);
        return -1;
    }

    // The reads' byte counts are not checked: a short file leaves the rest of
    // the zero-filled blocks zero.
    if (m_header.nbands == 1) {
        (void)std::fread(m_ppBands->Data()[0], 1, static_cast<size_t>(bandBytes), file);
    } else {
        ReadBandInterleaved(file, rowBytes);
    }
    return 1;
}

int CErdasImage::AdoptBands(const LanHeader& header, std::unique_ptr<CBandArray> bands) {
    const int bps = BytesPerSampleOf(header.packing);
    int64_t rowBytes = 0, bandBytes = 0;
    if (!bands ||
        !LanBandBytes(header.nbands, header.nrows, header.ncols, bps, &rowBytes, &bandBytes) ||
        bands->Bands() != header.nbands || bands->BytesPerBand() != bandBytes) {
        return -2;
    }
    m_header = header;
    m_nBytesPerSample = bps;
    m_ppBands = std::move(bands);
    m_bRangeKnown = false;
    return 1;
}

// Band-interleaved by line: row 0 of every band in band order, then row 1, ...
void CErdasImage::ReadBandInterleaved(FILE* file, int64_t rowBytes) {
    unsigned char** bands = m_ppBands->Data();
    const int nBands = m_header.nbands;
    const int64_t rows = m_header.nrows;
    const int64_t lineSetBytes = rowBytes * nBands;  // one row of every band

    std::unique_ptr<unsigned char, FreeDeleter> staging;
    int64_t rowsPerChunk = 0;
    if (rowBytes < kStagingBytes) {
        rowsPerChunk = std::max<int64_t>(1, kStagingBytes / lineSetBytes);
        rowsPerChunk = std::min(rowsPerChunk, rows);
        staging.reset(static_cast<unsigned char*>(
            std::malloc(static_cast<size_t>(rowsPerChunk * lineSetBytes))));
    }

    if (!staging) {
        // Long rows (or no staging memory): one read per row and band.
        for (int64_t r = 0; r < rows; ++r) {
            for (int b = 0; b < nBands; ++b) {
                const size_t n =
                    std::fread(bands[b] + r * rowBytes, 1, static_cast<size_t>(rowBytes), file);
                if (n < static_cast<size_t>(rowBytes)) return;  // end of file
            }
        }
        return;
    }

    for (int64_t r0 = 0; r0 < rows; r0 += rowsPerChunk) {
        const int64_t chunkRows = std::min(rowsPerChunk, rows - r0);
        const int64_t want = chunkRows * lineSetBytes;
        const int64_t got =
            static_cast<int64_t>(std::fread(staging.get(), 1, static_cast<size_t>(want), file));
        int64_t left = got;
        const unsigned char* src = staging.get();
        for (int64_t r = r0; r < r0 + chunkRows && left > 0; ++r) {
            for (int b = 0; b < nBands && left > 0; ++b) {
                const int64_t n = std::min(rowBytes, left);
                std::memcpy(bands[b] + r * rowBytes, src, static_cast<size_t>(n));
                src += n;
                left -= n;
            }
        }
        if (got < want) return;  // end of file
    }
}

unsigned char** CErdasImage::ExtractWindowFlipped(int x0, int x1, int y0, int y1) {
    const int64_t width = static_cast<int64_t>(x1) - x0 + 1;
    const int64_t height = static_cast<int64_t>(y1) - y0 + 1;
    if (width < 1 || height < 1) return nullptr;
    // Copying from outside the band blocks would read foreign memory.
    const int64_t cols = m_header.ncols, rows = m_header.nrows;
    if (!m_ppBands || x0 < 0 || y0 < 0 || x1 >= cols || y1 >= rows) return nullptr;

    const int nBands = m_ppBands->Bands();
    const int64_t bps = m_nBytesPerSample;
    const int64_t oldSamples = static_cast<int64_t>(m_sizeWindow.cx) * m_sizeWindow.cy;
    m_sizeWindow = ImageSize{static_cast<int32_t>(width), static_cast<int32_t>(height)};

    if (m_ppWindow && (oldSamples != width * height || m_ppWindow->Bands() != nBands ||
                       m_nWindowBytesPerSample != bps)) {
        FreeBands(m_ppWindow);
    }
    if (!m_ppWindow) {
        m_ppWindow = AllocBands(nBands, static_cast<int>(height), static_cast<int>(width),
                                static_cast<int>(bps));
        if (!m_ppWindow) {
            Platform::ShowMessage(kAllocFails, Platform::MessageKind::Exclamation);
            return nullptr;
        }
    }
    m_nWindowPacking = m_header.packing;
    m_nWindowBytesPerSample = static_cast<int32_t>(bps);

    const int64_t rowBytes = cols * bps;
    const size_t copyBytes = static_cast<size_t>(width * bps);
    unsigned char** src = m_ppBands->Data();
    unsigned char** dst = m_ppWindow->Data();
    for (int b = 0; b < nBands; ++b) {
        const unsigned char* from = src[b] + (rows - 1 - y0) * rowBytes + x0 * bps;
        unsigned char* to = dst[b];
        for (int64_t k = 0; k < height; ++k) {
            std::memcpy(to, from, copyBytes);
            to += copyBytes;
            from -= rowBytes;
        }
    }
    return dst;
}

const unsigned char* CErdasImage::GetDisplayWindow() {
    if (!m_ppWindow) return nullptr;
    const unsigned char* window = m_ppWindow->Data()[0];
    if (m_nWindowBytesPerSample == 1) return window;

    const int64_t count = static_cast<int64_t>(m_sizeWindow.cx) * m_sizeWindow.cy;
    double lo = 0.0, hi = 0.0;
    if (m_ppBands && m_header.packing == m_nWindowPacking) {
        if (!m_bRangeKnown) {
            const int64_t samples = static_cast<int64_t>(m_header.ncols) * m_header.nrows;
            RangeOfCode(m_header.packing, m_ppBands->Data()[0], samples, &m_dRangeLo, &m_dRangeHi);
            m_bRangeKnown = true;
        }
        lo = m_dRangeLo;
        hi = m_dRangeHi;
    } else {
        // The image was read again since this window was taken: stretch over
        // the window itself.
        RangeOfCode(m_nWindowPacking, window, count, &lo, &hi);
    }

    try {
        m_displayWindow.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        Platform::ShowMessage(kAllocFails, Platform::MessageKind::Exclamation);
        return nullptr;
    }
    if (m_nWindowPacking == 2 || m_nWindowPacking == 3) {
        if (!BuildGreyTable(m_nWindowPacking, lo, hi)) return nullptr;
        if (m_nWindowPacking == 2)
            StretchThroughTable<uint16_t>(window, count, m_greyTable.data(),
                                          m_displayWindow.data());
        else
            StretchThroughTable<int16_t>(window, count, m_greyTable.data(), m_displayWindow.data());
    } else {
        StretchCode(m_nWindowPacking, window, count, lo, hi, m_displayWindow.data());
    }
    return m_displayWindow.data();
}

// Grey value of every 16-bit sample, indexed by the sample's bit pattern;
// rebuilt only when the sample type or the range changes.
bool CErdasImage::BuildGreyTable(int packing, double lo, double hi) {
    if (m_greyTable.size() == 65536 && m_nTablePacking == packing && m_dTableLo == lo &&
        m_dTableHi == hi) {
        return true;
    }
    try {
        m_greyTable.resize(65536);
    } catch (const std::bad_alloc&) {
        Platform::ShowMessage(kAllocFails, Platform::MessageKind::Exclamation);
        return false;
    }
    const double scale = ScaleOf(lo, hi);
    for (int i = 0; i < 65536; ++i) {
        const double v = packing == 3 ? static_cast<double>(static_cast<int16_t>(i)) : i;
        m_greyTable[static_cast<size_t>(i)] = GreyOf(v, lo, scale);
    }
    m_nTablePacking = packing;
    m_dTableLo = lo;
    m_dTableHi = hi;
    return true;
}

void CErdasImage::Swap(CErdasImage& other) noexcept {
    using std::swap;
    swap(m_ppBands, other.m_ppBands);
    swap(m_header, other.m_header);
    swap(m_nBytesPerSample, other.m_nBytesPerSample);
    swap(m_strName, other.m_strName);
    swap(m_ppWindow, other.m_ppWindow);
    swap(m_sizeWindow, other.m_sizeWindow);
    swap(m_nWindowPacking, other.m_nWindowPacking);
    swap(m_nWindowBytesPerSample, other.m_nWindowBytesPerSample);
    swap(m_bRangeKnown, other.m_bRangeKnown);
    swap(m_dRangeLo, other.m_dRangeLo);
    swap(m_dRangeHi, other.m_dRangeHi);
    swap(m_displayWindow, other.m_displayWindow);
    swap(m_greyTable, other.m_greyTable);
    swap(m_nTablePacking, other.m_nTablePacking);
    swap(m_dTableLo, other.m_dTableLo);
    swap(m_dTableHi, other.m_dTableHi);
}

void FillGreyStretch(float* map256, int lo, int hi) {
    lo = std::clamp(lo, 0, 255);
    hi = std::clamp(hi, lo, 255);
    for (int i = lo; i <= hi; ++i)
        map256[i] = static_cast<float>(i - lo + 1) / static_cast<float>(hi - lo + 1);
}

int CErdasImage::GetDisplayRange(unsigned char& lo, unsigned char& hi) const {
    if (!m_ppBands) return -1;
    if (m_nBytesPerSample != 1) {
        lo = 0;
        hi = 255;
        return 1;
    }
    const unsigned char* band = m_ppBands->Data()[0];
    const int64_t samples = static_cast<int64_t>(m_header.ncols) * m_header.nrows;
    if (!band || samples < 1) return -1;
    unsigned char mn = 255, mx = 0;
    for (int64_t i = 0; i < samples; ++i) {
        mn = std::min(mn, band[i]);
        mx = std::max(mx, band[i]);
    }
    lo = mn;
    hi = mx;
    return 1;
}
