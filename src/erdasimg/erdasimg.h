// ERDAS LAN (7.4 layout) raster images: the 128-byte header kept verbatim, one
// block of samples per band, and the window copy taken for drawing.
//
// Rows are stored top row first, as in the file (sub-image pixels: column,
// row with row 0 at the top). The window copy is flipped: its first row is the
// bottom row of the rectangle, the order in which GL draws pixel rows upwards.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#pragma pack(push, 1)
struct LanHeader {
    char magic[6];     // "HEAD74", no terminator
    uint16_t packing;  // sample type code (0..7, any other: one byte)
    uint16_t nbands;   // number of bands
    uint8_t reserved1[6];
    int32_t ncols;   // samples per row
    int32_t nrows;   // number of rows
    int32_t xstart;  // column of the first pixel in the scanned photo (low 16 bits used)
    int32_t ystart;  // row of the first pixel in the scanned photo (low 16 bits used)
    uint8_t reserved2[56];
    uint16_t maptype;  // 1 in new headers
    uint16_t nclass;
    uint8_t reserved3[14];
    uint16_t iautyp;     // area unit type
    float acre;          // area per pixel
    float xmap, ymap;    // map position of the first pixel
    float xcell, ycell;  // cell size (ycell negative: map y decreases downwards)
};
#pragma pack(pop)
static_assert(sizeof(LanHeader) == 128, "LanHeader must be 128 bytes");

// The min-max contrast stretch of a grey map (one entry per 8-bit sample
// value, each a grey level 0..1): entry i = (i - lo + 1) / (hi - lo + 1) for
// lo <= i <= hi; entries below lo and above hi keep their values.
void FillGreyStretch(float* map256, int lo, int hi);

// Width and height in pixels.
struct ImageSize {
    int32_t cx = 0;
    int32_t cy = 0;
};

// The display stretch of wider sample types, as GetDisplayWindow applies it
// to band 0 (for readers of a band outside the image, e.g. on another thread).
// SampleValueRange: the smallest and largest finite value of `count` samples
// of a sample type code; 1, or 0 (lo = hi = 0) when none is finite.
int SampleValueRange(int packing, const unsigned char* samples, int64_t count, double* lo,
                     double* hi);
// StretchSamplesToGrey: `count` grey values 0..255 by the linear stretch of
// [lo, hi] onto 0..255; NaN gives 0, values outside the range are clamped, a
// range of one value gives 0.
void StretchSamplesToGrey(int packing, const unsigned char* samples, int64_t count, double lo,
                          double hi, unsigned char* out);

// Bytes per sample for a sample type code (any unknown code: 1).
int BytesPerSampleOf(int code);

// The header of a newly constructed image: "HEAD74", sample code 0, one band,
// 1 column, 1 row, map type 1, x cell 1.0, y cell -1.0, everything else zero.
LanHeader MakeDefaultLanHeader();

// Bytes of one band row and of one band block for the given sizes, computed in
// 64-bit arithmetic. False when any size is not positive, a product overflows,
// or all bands together exceed what one address space can hold.
bool LanBandBytes(int nBands, int64_t rows, int64_t cols, int bytesPerSample, int64_t* rowBytes,
                  int64_t* bandBytes);

// An owned array of band pointers, one zero-filled contiguous block per band.
// The blocks come from calloc, so a large block is zero-filled lazily by the
// system (untouched pages cost nothing), and are released with free.
class CBandArray {
public:
    CBandArray() = default;
    ~CBandArray();
    CBandArray(const CBandArray&) = delete;
    CBandArray& operator=(const CBandArray&) = delete;
    unsigned char** Data() { return m_pointers.data(); }
    int Bands() const { return static_cast<int>(m_pointers.size()); }
    int64_t BytesPerBand() const { return m_nBytesPerBand; }

private:
    friend std::unique_ptr<CBandArray> AllocBands(int nBands, int rows, int cols,
                                                  int bytesPerSample);
    std::vector<unsigned char*> m_pointers;
    int64_t m_nBytesPerBand = 0;
};

// Band blocks of rows x ceil(cols x bytesPerSample) zero bytes each; null when
// any size is not positive, overflows, or cannot be allocated.
std::unique_ptr<CBandArray> AllocBands(int nBands, int rows, int cols, int bytesPerSample);
// Releases the array and leaves the pointer null.
void FreeBands(std::unique_ptr<CBandArray>& bands);

class CErdasImage {
public:
    CErdasImage();
    virtual ~CErdasImage();
    CErdasImage(const CErdasImage&) = delete;
    CErdasImage& operator=(const CErdasImage&) = delete;

    // Reads header and pixels from an open binary file positioned at the header.
    // 1 read; -1 the data cannot be allocated ("Allocate Memory for Image Fails");
    // -2 a header with non-positive or overflowing sizes (refused before any
    // allocation; the image keeps the header and holds no data); -3 the file
    // ends inside the 128-byte header, or there is no file (the header becomes
    // all zero, size 0 x 0, and the image holds no data). A file that ends
    // inside the pixel data is read: the missing samples stay zero.
    int ReadImage(FILE* file);

    // Takes over a header and band blocks that another reader filled (one
    // block per band of rows x columns x bytes-per-sample bytes, row 0 first,
    // as ReadImage leaves them). The header's band count, columns, rows and
    // sample code must describe the blocks. The old bands are released; the
    // window is kept and, like after ReadImage, replaced at the next
    // extraction when its band count or sample size no longer fits. 1 taken;
    // -2 the blocks do not match the header (nothing changes).
    int AdoptBands(const LanHeader& header, std::unique_ptr<CBandArray> bands);

    // Exchanges everything the two images hold (header, bands, window, display
    // state): a loader reads into a fresh image and swaps it in once complete.
    void Swap(CErdasImage& other) noexcept;

    const LanHeader& GetHeader() const { return m_header; }
    ImageSize GetSize() const;         // (columns, rows) from the header
    unsigned char** GetBands() const;  // null when the image holds no data
    int GetBytesPerSample() const { return m_nBytesPerSample; }

    // Copies columns x0..x1 and rows y0..y1 (inclusive; y counted from the
    // bottom row) into the window, bottom row first. Null when the rectangle is
    // empty or the window cannot be allocated; also null, with nothing changed,
    // when the image holds no data or the rectangle is not inside the image.
    // A window of the same sample count, band count and bytes per sample is
    // reused whatever its shape, so panning allocates nothing.
    unsigned char** ExtractWindowFlipped(int x0, int x1, int y0, int y1);
    unsigned char** GetWindow() const;  // the last window, or null
    ImageSize GetWindowSize() const { return m_sizeWindow; }

    // Band 0 of the current window as 8-bit grey, m_sizeWindow.cx x .cy bytes,
    // bottom row first: the window itself for 8-bit images (byte-exact), a
    // linear stretch over the image's band-0 range for wider sample types.
    // Null when there is no window. The stretch range is computed once per read
    // image; NaN samples become 0, samples beyond the range are clamped. The
    // buffer is reused while the window size stays the same.
    const unsigned char* GetDisplayWindow();
    // Smallest and largest 8-bit grey value that band 0 of the whole image
    // shows as (the values GetDisplayWindow gives): the byte range of band 0
    // for 8-bit images; 0 and 255 for wider sample types, whose stretch spans
    // the band's whole range. 1, or -1 when the image holds no data.
    int GetDisplayRange(unsigned char& lo, unsigned char& hi) const;

    std::unique_ptr<CBandArray> m_ppBands;
    LanHeader m_header;
    int32_t m_nBytesPerSample = 1;
    std::string m_strName;
    std::unique_ptr<CBandArray> m_ppWindow;
    ImageSize m_sizeWindow;

    // Sample code and bytes per sample the window was extracted with (the image
    // may have been read again since).
    int m_nWindowPacking = 0;
    int32_t m_nWindowBytesPerSample = 1;
    // Band-0 value range of the read image for the display stretch.
    bool m_bRangeKnown = false;
    double m_dRangeLo = 0.0;
    double m_dRangeHi = 0.0;
    // 8-bit grey copy of window band 0 for wider sample types.
    std::vector<unsigned char> m_displayWindow;
    // Grey value of each 16-bit sample for the range it was built for.
    std::vector<unsigned char> m_greyTable;
    int m_nTablePacking = -1;
    double m_dTableLo = 0.0;
    double m_dTableHi = 0.0;

private:
    bool BuildGreyTable(int packing, double lo, double hi);
    void ReadBandInterleaved(FILE* file, int64_t rowBytes);
};
