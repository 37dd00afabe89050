// Where the surface shows in the two photographs, for the stereo view: the
// contour segments' 3-D ends projected into both photographs (kept per
// segment slot and taken again only for the slots an edit made), the
// triangle edges around the records in view, and the floating mark draped
// on the surface.
//
// Coordinates: ground X, Y, Z (a contour vertex at its level's height);
// image positions in sub-image pixels of each photograph (column, row down
// from the top).
#pragma once

#include <cstdint>
#include <vector>

#include "Photogrammetry/AerialPhoto.h"
#include "Surface/Contours.h"

// The image positions of one contour segment's two ends in both photographs:
// left x0, y0, x1, y1, then right x0, y0, x1, y1; NaN where an end does not project.
struct SegmentImages {
    float left[4];
    float right[4];
};

class CContourImages {
public:
    // Projects the segments that appeared since the last call (all of them
    // after a new layout or other photographs).
    void Update(const CContours& contours, const CAerialPhoto& left, const CAerialPhoto& right);
    // Per segment slot of the contours last updated.
    const std::vector<SegmentImages>& Images() const { return m_images; }
    void Clear();

    // The slots of the segments (index contours or the others) whose image
    // positions in the eye (0 left, 1 right) may fall in the sub-image
    // rectangle [left, right] x [top, bottom], each once, in no particular
    // order; slots dropped since (triangle -1) are among them. Only the cells
    // of a grid over the photograph that the rectangle touches are looked
    // at, so a view of a small part costs little however many segments there are.
    void SlotsIn(int eye, bool index, double left, double top, double right, double bottom,
                 std::vector<int32_t>& slots) const;

private:
    static constexpr int kCellSide = 128;  // sub-image pixels
    struct Grid {
        int columns = 0, rows = 0;
        std::vector<std::vector<int32_t>> cells[2];  // [0] other contours, [1] index contours
    };
    void AddToGrid(int eye, bool index, int32_t slot, const float* ends);

    const CAerialPhoto* m_left = nullptr;
    const CAerialPhoto* m_right = nullptr;
    uint64_t m_nLayout = UINT64_MAX;
    std::vector<SegmentImages> m_images;
    Grid m_grids[2];
    mutable std::vector<uint32_t> m_stamps;  // per slot: the query that last reported it
    mutable uint32_t m_nQuery = 0;
};

// The sub-image position of ground (x, y, z) in the photograph; false (and
// NaN) where it does not project.
bool GroundToSubImage(const CAerialPhoto& photo, double x, double y, double z, double& column,
                      double& row);

// Drape: where the left ray through sub-image position (column, row) meets
// the surface. From startZ: X, Y on the ray at Z, then Z <- the surface's
// height there, until the change is below `tolerance` (ground units of Z),
// at most maxSteps times.
enum class DrapeResult { Found = 1, Outside = -1, NotConverged = -2 };
DrapeResult DrapeOnSurface(const CSurface& surface, const CAerialPhoto& left, double column,
                           double row, double startZ, double& X, double& Y, double& Z,
                           double tolerance = 0.001, int maxSteps = 10);
