// The local surface of a ground point set: for any ground position, the robust
// plane (RobustPlane.h) through the k nearest live points in X/Y, evaluated
// there. The check ranking compares each point with it, and Set To Surface
// moves points onto it.
//
// The surface keeps its own copy of the live points' X, Y, Z and weight and an
// exact neighbour grid over them. After the ground set is edited, Refresh with
// the changed record indices brings both in step; Build starts afresh.
//
// Units: positions, heights, residuals, spreads and radii are ground units
// (the unit of the points file); squared radii are ground units squared.
#pragma once

#include <cstdint>
#include <vector>

#include "Checking/NeighbourGrid.h"
#include "Checking/RobustPlane.h"
#include "TIN/TINPoints.h"

// Gives per-record arrays room for a sixteenth more records, so that points
// added while editing rarely make them move (which would cost a frame).
template <class... Vectors>
void ReserveForAdditions(Vectors&... vectors) {
    (vectors.reserve(vectors.size() + vectors.size() / 16 + 64), ...);
}

struct CheckOptions {
    // Neighbours of a point: the k nearest live points within searchRadius.
    int neighbours = 12;  // k, 4 .. kMaxPlaneSamples
    // Fewer neighbours than this within searchRadius: no surface (status
    // Insufficient). At least 4 (a plane and one residual to spare).
    int minNeighbours = 6;
    // Ground units; 0: 8 x the points' spacing (measured, CLocalSurface::Build).
    double searchRadius = 0.0;
    // Smallest spread (ground units) of any fit; 0: 0.005 x the points'
    // spacing. Keeps a perfectly flat set from dividing by zero.
    double spreadFloor = 0.0;
    // Smallest spread (ground units) a score divides by: a few neighbours can
    // by chance lie much closer to a plane than the matching noise of the set
    // allows. 0: noiseFloorFactor x the median spread of all scored points
    // (x the spread floor when none can be scored), measured by a full Rank
    // and kept by Update.
    double noiseFloor = 0.0;
    double noiseFloorFactor = 0.5;
    // How much a low matching weight raises the score (see CheckRanking.h).
    double weightGain = 1.0;
    // Threads for a full ranking; 0: every hardware thread (at most 16).
    int threads = 0;
};

// How a point or position could be judged.
enum class SurfaceStatus : int8_t {
    Fitted = 0,        // a robust plane through enough neighbours
    Insufficient = 1,  // fewer than minNeighbours within the radius, or they lie on one line
    Deleted = 2,       // the record is deleted (id < 0), or its X, Y or Z is not finite
};

// The surface at one position, from its neighbours.
struct SurfaceEstimate {
    SurfaceStatus status = SurfaceStatus::Insufficient;
    double height = 0.0;  // surface Z at the position (Fitted only)
    double slopeX = 0.0;  // dZ/dX of the local plane
    double slopeY = 0.0;  // dZ/dY
    double spread = 0.0;  // max(1.4826 x median |residual| of the neighbours, spread floor)
    int neighbours = 0;   // how many were found
    double reach2 = 0.0;  // squared distance of the farthest neighbour taken, or
                          // searchRadius^2 when fewer than k were found
};

class CLocalSurface {
public:
    CLocalSurface() = default;
    CLocalSurface(const CLocalSurface&) = delete;
    CLocalSurface& operator=(const CLocalSurface&) = delete;

    // Copies the live points of `ground` and indexes them. The spacing of the
    // points, measured from them (the median distance from a sample of live
    // points to their nearest other position; the header's spacing is not
    // trusted), fills in searchRadius and spreadFloor left at 0; Options()
    // returns the values in force, which Refresh keeps. 1; -1 for options out of range
    // (neighbours, minNeighbours) or a negative radius, floor, factor, gain
    // or thread count.
    int Build(const CTINPoints& ground, const CheckOptions& options);

    // Brings the copy and the index in step with `ground` for the records in
    // `changed` (moved, re-weighted, deleted or undeleted; indices outside the
    // copy are ignored) and for every record appended since the last Build or
    // Refresh. `changed` is then replaced by the records brought in step, each
    // once (the listed ones in increasing order, then the appended ones), and
    // before[i] receives the state that changed[i] had (see Record). 1; -1
    // when the set now holds fewer records than the copy (it was compacted:
    // Build again).
    struct Record {
        bool live = false;
        double x = 0.0, y = 0.0, z = 0.0, weight = 0.0;
    };
    int Refresh(const CTINPoints& ground, std::vector<int>& changed, std::vector<Record>& before);

    // The surface at record `index`'s own position from its neighbours, the
    // record itself left out. Deleted for a record that is not live.
    SurfaceEstimate AtPoint(int index) const;
    // The surface at ground (x, y) from the nearest live points, leaving out
    // record `skip` (-1: none) and every record whose skipMask entry is
    // non-zero (skipMask may be null; it is indexed by record and must cover
    // Count() records).
    SurfaceEstimate At(double x, double y, int skip, const uint8_t* skipMask) const;

    const CheckOptions& Options() const { return m_options; }
    // The points' spacing as Build measured it (ground units).
    double Spacing() const { return m_dSpacing; }
    int Count() const { return static_cast<int>(m_live.size()); }
    bool IsLive(int index) const { return m_live[index] != 0; }
    double X(int index) const { return m_x[index]; }
    double Y(int index) const { return m_y[index]; }
    double Z(int index) const { return m_z[index]; }
    double Weight(int index) const { return m_weight[index]; }
    const CNeighbourGrid& Grid() const { return m_grid; }

private:
    void CopyRecord(const TINPoint& p, int index);
    // Median distance from up to 4096 live points to their nearest other
    // position, through the grid; `fallback` when there is none.
    double MedianNearestDistance(double fallback) const;

    CheckOptions m_options;
    double m_dSpacing = 1.0;
    std::vector<double> m_x, m_y, m_z, m_weight;
    std::vector<uint8_t> m_live;
    CNeighbourGrid m_grid;
};
