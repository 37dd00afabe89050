// Fuzzes the points file reader, then exercises the read set the way a load does.
#include "FuzzSupport.h"
#include "TIN/TINPoints.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceMessages();
    std::vector<uint8_t> storage;
    FilePtr file = OpenBytes(data, size, storage, "rb");
    if (!file) return 0;
    CTINPoints points;
    if (points.ReadPts(file.get()) == 1) {
        if (points.BuildIndex(1) == 0) {
            std::vector<int> ids;
            SelectionShape rect;
            rect.kind = 0;
            rect.coords = {points.m_dMinX, points.m_dMinY, points.m_dMaxX, points.m_dMaxY};
            points.SelectInShape(rect, ids);
            if (points.GetCount() > 0) {
                const TINPoint* p = points.GetPoint(0);
                points.FindNearest(static_cast<int>(p->x < 1e9 && p->x > -1e9 ? p->x : 0),
                                   static_cast<int>(p->y < 1e9 && p->y > -1e9 ? p->y : 0), 5.0);
                points.FindNeighbour(0, 1);
            }
        }
        points.Compact();
        std::vector<uint8_t> out(64);
        FILE* sink = std::fopen("/dev/null", "wb");
        if (sink) {
            points.WritePts(sink);
            std::fclose(sink);
        }
    }
    return 0;
}
