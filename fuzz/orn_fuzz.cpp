// Fuzzes the orientation file reader and the projections of the photograph it
// orients: a point set projected into it and indexed, intersection back to
// the ground and moves along the ray.
#include <cmath>

#include "FuzzSupport.h"
#include "Photogrammetry/AerialPhoto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceMessages();
    std::vector<uint8_t> storage;
    FilePtr file = OpenBytes(data, size, storage, "r");
    if (!file) return 0;
    CAerialPhoto photo;
    if (photo.ReadOrientation(file.get()) != 1) {
        // A refused file leaves the photograph without an orientation: nothing projects.
        double column = 0, row = 0;
        if (photo.GroundToImage(1.0, 2.0, 3.0, column, row) != -1) std::abort();
        return 0;
    }
    double column = 0, row = 0, x = 0, y = 0;
    photo.GroundToImage(1.0, 2.0, 3.0, column, row);
    const double pixel[2] = {10.0, 20.0};
    const double z = 0.0;
    photo.ImageToGround(pixel, &z, x, y);
    TINPoint p{0, 1.0, 2.0, 3.0, 1.0};
    photo.MoveAlongRay(p, 2.5);

    CTINPoints ground(6);
    for (int i = 0; i < ground.GetCount(); ++i) {
        TINPoint* g = ground.GetPoint(i);
        g->id = i;
        g->x = 100.0 * i;
        g->y = 50.0 * (i % 3);
        g->z = 10.0 * i;
        g->weight = 1.0;
    }
    ground.m_dMinX = 0.0;
    ground.m_dMaxX = 500.0;
    ground.m_dMinY = 0.0;
    ground.m_dMaxY = 100.0;
    ground.m_dMinZ = 0.0;
    ground.m_dMaxZ = 50.0;
    ground.SetSpacing(10.0, 10.0);
    if (photo.ProjectAll(ground) == 1 && photo.m_pImagePoints->BuildIndex(1) == 0) {
        CTINPoints& image = *photo.m_pImagePoints;
        for (int i = 0; i < image.GetCount(); ++i) {
            const TINPoint q = *image.GetPoint(i);
            if (std::isfinite(q.x) && std::isfinite(q.y) && std::fabs(q.x) < 1e9 &&
                std::fabs(q.y) < 1e9) {
                photo.FindImagePoint(static_cast<int>(q.x), static_cast<int>(q.y), 3.0);
            }
            image.FindNeighbour(i, i % 4);
        }
    }
    return 0;
}
