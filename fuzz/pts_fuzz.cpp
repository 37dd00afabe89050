// Fuzzes the points file reader, then uses the read set the way a project load
// and the editing view do: ground index, projection into an oriented
// photograph, image-point index, picking, stepping, selections, edits, saving.
#include <cmath>
#include <string>

#include "FuzzSupport.h"
#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

namespace {

// A vertical photograph 1500 ground units above the origin, 0.02 photo units
// per scanned-image pixel.
CAerialPhoto& OrientedPhoto() {
    static CAerialPhoto* photo = [] {
        auto* p = new CAerialPhoto;
        static const char orientation[] =
            "ORIENTATION fuzz left\n153.0\n500 400 1500\n0.5 -0.3 1.2\n0 0 0\n"
            "0.02 0.0 -115.0\n0.0 -0.02 115.0\n0.01 -0.02\n";
        std::vector<uint8_t> storage;
        FilePtr file = OpenBytes(reinterpret_cast<const uint8_t*>(orientation),
                                 sizeof orientation - 1, storage, "r");
        if (!file || p->ReadOrientation(file.get()) != 1) std::abort();
        return p;
    }();
    return *photo;
}

// A pixel position as the view would pass it: a finite double truncated into an int.
int PixelOf(double v) {
    return std::isfinite(v) && v > -1e9 && v < 1e9 ? static_cast<int>(v) : 0;
}

void Exercise(CTINPoints& set) {
    const int n = set.GetCount();
    for (int i = 0; i < n && i < 4; ++i) {
        const TINPoint p = *set.GetPoint(i);
        set.FindNearest(PixelOf(p.x), PixelOf(p.y), 5.0);
    }
    // Two steps (a step may walk a whole row of a thin grid: keep runs fast).
    if (n > 0) {
        set.FindNeighbour(0, n % 4);
        set.FindNeighbour(n - 1, (n + 1) % 4);
    }
    std::vector<int> ids;
    SelectionShape rect;
    rect.kind = 0;
    rect.coords = {set.m_dMinX, set.m_dMinY, set.m_dMaxX, set.m_dMaxY};
    set.SelectInShape(rect, ids);
    if (n >= 3) {
        SelectionShape polygon;
        polygon.kind = 1;
        polygon.count = 4;
        for (int i : {0, 1, 2, 0}) {
            const TINPoint p = *set.GetPoint(i);
            const double x = p.x;  // packed record: copy before push_back binds a reference
            const double y = p.y;
            polygon.coords.push_back(x);
            polygon.coords.push_back(y);
        }
        set.SelectInShape(polygon, ids);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceMessages();
    std::vector<uint8_t> storage;
    FilePtr file = OpenBytes(data, size, storage, "rb");
    if (!file) return 0;
    CTINPoints points;
    const int read = points.ReadPts(file.get());
    if (read != 1) {
        // A failed read claims no records.
        if (points.GetCount() != 0 || points.GetPoint(0)) std::abort();
        return 0;
    }
    if (points.BuildIndex(1) == 0) Exercise(points);

    CAerialPhoto& photo = OrientedPhoto();
    if (photo.ProjectAll(points) == 1 && photo.m_pImagePoints->BuildIndex(1) == 0) {
        Exercise(*photo.m_pImagePoints);
        photo.ClearSelection();
        photo.m_polygon.clear();
        photo.AddPolygonVertex(0, 0, 10.0);
        photo.SelectImagePoint(0);
        if (points.GetCount() > 0) {
            TINPoint p = *points.GetPoint(0);
            photo.MoveAlongRay(p, 1.5);
            photo.UpdateImagePoint(p, 0);
        }
        photo.ClearSelection();
    }

    // Edits, then compaction and saving as the document does.
    if (points.GetCount() > 0) {
        TINPoint added = *points.GetPoint(0);
        added.id = points.GetCount();
        points.AddPoint(added);
        points.RemovePoint(0);
    }
    points.Compact();
    FILE* sink = std::fopen("/dev/null", "wb");
    if (sink) {
        points.WritePts(sink);
        std::fclose(sink);
    }
    return 0;
}
