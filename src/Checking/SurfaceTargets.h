// Set To Surface: where each selected ground point goes when it is put onto
// the local surface of its neighbours while its position in the left
// photograph stays fixed.
//
// A point keeps its left image position by moving along the left
// photograph's ray (CAerialPhoto::MoveAlongRay), which changes X and Y with Z.
// The surface is that of the neighbours around the current X/Y (LocalSurface.h),
// leaving out all the selected points, so a cluster of blunders does not hold
// itself up. The target is the point of the ray where the ray meets that
// surface, found by iteration: from the point's own height, Z <- surface
// height at the ray's X/Y at height Z, until successive heights agree within
// the tolerance. This converges while the surface is less steep than the ray
// is oblique (|slope| x |dX/dZ of the ray| < 1). As soon as two heights fall on
// opposite sides of the surface, the interval between them is halved instead
// until it is shorter than the tolerance: that also settles where the
// neighbourhood, and so the surface, jumps between two nearby positions.
//
// Nothing here changes the ground set: the caller applies the targets (through
// its editing layer, so that they can be undone).
#pragma once

#include <vector>

#include "Checking/CheckRanking.h"
#include "Checking/LocalSurface.h"
#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

enum class TargetStatus : int8_t {
    Converged = 0,     // x, y, z is the target
    Insufficient = 1,  // no surface somewhere along the way: x, y, z unchanged
    NotConverged = 2,  // no agreement within maxIterations steps: x, y, z unchanged
    RayFailed = 3,     // the point cannot move along the ray: x, y, z unchanged
    NotLive = 4,       // the index names no live record: x, y, z are 0
};

struct SurfaceTarget {
    int index = -1;  // record index in the ground set
    TargetStatus status = TargetStatus::NotLive;
    double x = 0.0, y = 0.0, z = 0.0;  // ground: the target, or the point as it is
    int iterations = 0;
};

struct SurfaceTargetOptions {
    // Successive heights closer than this end the iteration (ground units;
    // 0: 0.001 x the set's spacing).
    double tolerance = 0.0;
    int maxIterations = 30;
    // Z only: the target is the surface height at the point's own X/Y (for
    // gridded terrain models, whose X and Y must stay); no iteration.
    bool keepXY = false;
    // Which points each surface estimate leaves out: every listed point (a
    // selection of suspects, so that a cluster of blunders does not hold
    // itself up), or only the point itself (a batch over the whole set,
    // where leaving out every listed point would leave no neighbours).
    bool leaveOutListed = true;
};

// One target per entry of `indices`, in their order, into `targets`
// (replaced). The surface is that of `surface`, which must be in step with
// the ground set (Build or Refresh after the last edit). The number of
// Converged targets.
int ComputeSurfaceTargets(const CLocalSurface& surface, const CAerialPhoto& leftPhoto,
                          const std::vector<int>& indices, std::vector<SurfaceTarget>& targets,
                          const SurfaceTargetOptions& options = SurfaceTargetOptions());

// The same through a current ranking's surface.
int ComputeSurfaceTargets(const CCheckRanking& ranking, const CAerialPhoto& leftPhoto,
                          const std::vector<int>& indices, std::vector<SurfaceTarget>& targets,
                          const SurfaceTargetOptions& options = SurfaceTargetOptions());

// The same straight from a ground set: builds the surface first (about as
// long as reading the set). -1 for check options out of range.
int ComputeSurfaceTargets(const CTINPoints& ground, const CAerialPhoto& leftPhoto,
                          const std::vector<int>& indices, std::vector<SurfaceTarget>& targets,
                          const CheckOptions& checkOptions = CheckOptions(),
                          const SurfaceTargetOptions& options = SurfaceTargetOptions());
