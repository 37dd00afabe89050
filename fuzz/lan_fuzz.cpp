// Fuzzes the LAN image reader and the window copies a draw takes from it.
#include "FuzzSupport.h"
#include "Photogrammetry/AerialPhoto.h"
#include "erdasimg/erdasimg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceMessages();
    // Keep allocations small and runs fast: a header may ask for gigabytes,
    // which the reader accepts (zero pages, filled lazily) on a real machine,
    // but beyond the fuzzer's memory limit. Sizes that large are covered by
    // the unit tests; here every image is at most 64 KiB.
    if (size >= sizeof(LanHeader)) {
        LanHeader h;
        std::memcpy(&h, data, sizeof h);
        int64_t rowBytes = 0, bandBytes = 0;
        if (LanBandBytes(h.nbands, h.nrows, h.ncols, BytesPerSampleOf(h.packing), &rowBytes,
                         &bandBytes) &&
            bandBytes * h.nbands > (int64_t{1} << 16)) {
            return 0;
        }
    }
    std::vector<uint8_t> storage;
    FilePtr file = OpenBytes(data, size, storage, "rb");
    if (!file) return 0;
    CAerialPhoto photo;
    CErdasImage& image = photo.m_image;
    const int read = image.ReadImage(file.get());
    if (read != 1) {
        // A refused image holds no data and gives no window.
        if (image.GetBands() || image.ExtractWindowFlipped(0, 0, 0, 0)) std::abort();
        return 0;
    }
    const ImageSize s = image.GetSize();
    image.ExtractWindowFlipped(0, s.cx - 1, 0, s.cy - 1);
    image.GetDisplayWindow();
    image.ExtractWindowFlipped(s.cx / 2, s.cx - 1, 0, s.cy / 2);
    image.GetDisplayWindow();
    // Windows as the view computes them: partly off the image, scrolled away.
    const int sceneHeight = s.cy > 0 ? s.cy : 1;
    for (int offset : {0, -7, 13}) {
        photo.ComputeWindow(offset, -offset, 0, 0, 40, 30, sceneHeight);
        photo.GetDisplayBuffer();
        image.GetDisplayWindow();
    }
    photo.GetXStart();
    photo.GetYStart();
    return 0;
}
