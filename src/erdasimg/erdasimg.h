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
    char magic[6];          // "HEAD74", no terminator
    uint16_t packing;       // sample type code (0..7, any other: one byte)
    uint16_t nbands;        // number of bands
    uint8_t reserved1[6];
    int32_t ncols;          // samples per row
    int32_t nrows;          // number of rows
    int32_t xstart;         // column of the first pixel in the scanned photo (low 16 bits used)
    int32_t ystart;         // row of the first pixel in the scanned photo (low 16 bits used)
    uint8_t reserved2[56];
    uint16_t maptype;       // 1 in new headers
    uint16_t nclass;
    uint8_t reserved3[14];
    uint16_t iautyp;        // area unit type
    float acre;             // area per pixel
    float xmap, ymap;       // map position of the first pixel
    float xcell, ycell;     // cell size (ycell negative: map y decreases downwards)
};
#pragma pack(pop)
static_assert(sizeof(LanHeader) == 128, "LanHeader must be 128 bytes");

// Width and height in pixels.
struct ImageSize {
    int32_t cx = 0;
    int32_t cy = 0;
};

// Bytes per sample for a sample type code (any unknown code: 1).
int BytesPerSampleOf(int code);

// An owned array of band pointers, one zero-filled contiguous block per band.
class CBandArray {
public:
    ~CBandArray();
    unsigned char** Data() { return m_pointers.data(); }
    int Bands() const { return static_cast<int>(m_pointers.size()); }
    int64_t BytesPerBand() const { return m_nBytesPerBand; }

private:
    friend std::unique_ptr<CBandArray> AllocBands(int nBands, int rows, int cols, int bytesPerSample);
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
    // allocation; the image keeps the header and holds no data).
    int ReadImage(FILE* file);

    const LanHeader& GetHeader() const { return m_header; }
    ImageSize GetSize() const;                // (columns, rows) from the header
    unsigned char** GetBands() const;         // null when the image holds no data
    int GetBytesPerSample() const { return m_nBytesPerSample; }

    // Copies columns x0..x1 and rows y0..y1 (inclusive; y counted from the
    // bottom row) into the window, bottom row first. Null when the rectangle is
    // empty or the window cannot be allocated.
    unsigned char** ExtractWindowFlipped(int x0, int x1, int y0, int y1);
    unsigned char** GetWindow() const;        // the last window, or null
    ImageSize GetWindowSize() const { return m_sizeWindow; }

    // Band 0 of the current window as 8-bit grey, m_sizeWindow.cx x .cy bytes,
    // bottom row first: the window itself for 8-bit images (byte-exact), a
    // linear stretch over the image's band-0 range for wider sample types.
    // Null when there is no window.
    const unsigned char* GetDisplayWindow();

    std::unique_ptr<CBandArray> m_ppBands;
    LanHeader m_header;
    int32_t m_nBytesPerSample = 1;
    std::string m_strName;
    std::unique_ptr<CBandArray> m_ppWindow;
    ImageSize m_sizeWindow;
};
