// Fuzzes the orientation file reader and the projections of the photograph it orients.
#include "FuzzSupport.h"
#include "Photogrammetry/AerialPhoto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceMessages();
    std::vector<uint8_t> storage;
    FilePtr file = OpenBytes(data, size, storage, "r");
    if (!file) return 0;
    CAerialPhoto photo;
    if (photo.ReadOrientation(file.get()) == 1) {
        double column = 0, row = 0, x = 0, y = 0;
        photo.GroundToImage(1.0, 2.0, 3.0, column, row);
        double pixel[3] = {10.0, 20.0, 1.0};
        double z = 0.0;
        photo.ImageToGround(pixel, &z, x, y);
    }
    return 0;
}
