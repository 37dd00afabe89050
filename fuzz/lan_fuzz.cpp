// Fuzzes the LAN image reader and the window copy a draw takes from it.
#include "FuzzSupport.h"
#include "erdasimg/erdasimg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceMessages();
    // Keep allocations within what the fuzzer's memory limit allows: a header
    // may legitimately ask for gigabytes, which the reader accepts on a real
    // machine. Those inputs are covered by the unit tests instead.
    if (size >= 24) {
        int32_t cols, rows;
        uint16_t bands;
        std::memcpy(&bands, data + 8, 2);
        std::memcpy(&cols, data + 16, 4);
        std::memcpy(&rows, data + 20, 4);
        if (static_cast<int64_t>(cols) * rows * (bands ? bands : 1) > (int64_t{1} << 24)) return 0;
    }
    std::vector<uint8_t> storage;
    FilePtr file = OpenBytes(data, size, storage, "rb");
    if (!file) return 0;
    CErdasImage image;
    if (image.ReadImage(file.get()) == 1) {
        ImageSize s = image.GetSize();
        if (s.cx > 0 && s.cy > 0) {
            image.ExtractWindowFlipped(0, s.cx - 1, 0, s.cy - 1);
            image.GetDisplayWindow();
            image.ExtractWindowFlipped(s.cx / 2, s.cx - 1, 0, s.cy / 2);
            image.GetDisplayWindow();
        }
    }
    return 0;
}
