// Set To Surface targets along the left photograph's rays. See SurfaceTargets.h.
#include "Checking/SurfaceTargets.h"

#include <cmath>

int ComputeSurfaceTargets(const CLocalSurface& surface, const CAerialPhoto& leftPhoto,
                          const std::vector<int>& indices, std::vector<SurfaceTarget>& targets,
                          const SurfaceTargetOptions& options) {
    targets.assign(indices.size(), SurfaceTarget());
    const double tolerance =
        options.tolerance > 0.0 ? options.tolerance : 0.001 * surface.Spacing();
    // Every selected point is left out of every surface estimate (or, when
    // the options say so, only the point itself, which needs no mask).
    std::vector<uint8_t> skip;
    if (options.leaveOutListed) {
        skip.assign(static_cast<size_t>(surface.Count()), 0);
        for (int i : indices) {
            if (i >= 0 && i < surface.Count()) skip[i] = 1;
        }
    }
    const uint8_t* mask = options.leaveOutListed ? skip.data() : nullptr;
    int converged = 0;
    for (size_t t = 0; t < indices.size(); ++t) {
        SurfaceTarget& target = targets[t];
        const int i = indices[t];
        target.index = i;
        if (i < 0 || i >= surface.Count() || !surface.IsLive(i)) continue;
        // The point as it is, in ground coordinates.
        const TINPoint start{i, surface.X(i), surface.Y(i), surface.Z(i), surface.Weight(i)};
        target.x = start.x;
        target.y = start.y;
        target.z = start.z;
        target.status = TargetStatus::NotConverged;
        if (options.keepXY) {
            const SurfaceEstimate e = surface.At(start.x, start.y, i, mask);
            if (e.status != SurfaceStatus::Fitted) {
                target.status = TargetStatus::Insufficient;
                continue;
            }
            target.z = e.height;
            target.status = TargetStatus::Converged;
            ++converged;
            continue;
        }
        // The point on the ray at height z (always moved from the point as it
        // is: the ray is straight, so one move by the whole change lands on it
        // exactly), and g(z) = surface height there - z.
        TINPoint at = start;
        auto place = [&](double z) {
            at = start;
            return leftPhoto.MoveAlongRay(at, z - start.z) >= 0;
        };
        auto gap = [&](double z, double& g) {
            if (!place(z)) {
                target.status = TargetStatus::RayFailed;
                return false;
            }
            const SurfaceEstimate e = surface.At(at.x, at.y, i, mask);
            if (e.status != SurfaceStatus::Fitted) {
                target.status = TargetStatus::Insufficient;
                return false;
            }
            g = e.height - z;
            return true;
        };
        // Fixed-point steps z <- surface height at the ray's X/Y at z, until
        // they agree within the tolerance; once two steps fall on opposite
        // sides of the surface, bisection of that interval instead (it also
        // settles where the neighbourhood, and so the surface, jumps).
        double z0 = start.z, g0 = 0.0;
        bool ok = gap(z0, g0);
        bool done = ok && std::fabs(g0) <= tolerance;
        double zFinal = z0 + g0;
        double lo = 0.0, hi = 0.0, gLo = 0.0;
        bool bracketed = false;
        for (int step = 1; ok && !done && step <= options.maxIterations; ++step) {
            target.iterations = step;
            const double z1 = bracketed ? 0.5 * (lo + hi) : z0 + g0;
            double g1 = 0.0;
            if (!(ok = gap(z1, g1))) break;
            if (std::fabs(g1) <= tolerance) {
                zFinal = z1 + g1;
                done = true;
            } else if (bracketed) {
                if ((g1 < 0.0) == (gLo < 0.0)) {
                    lo = z1;
                    gLo = g1;
                } else {
                    hi = z1;
                }
                if (std::fabs(hi - lo) <= tolerance) {
                    zFinal = 0.5 * (lo + hi);
                    done = true;
                }
            } else if ((g1 < 0.0) != (g0 < 0.0)) {
                bracketed = true;
                lo = z0;
                gLo = g0;
                hi = z1;
            }
            z0 = z1;
            g0 = g1;
        }
        if (!done) continue;
        if (!place(zFinal)) {
            target.status = TargetStatus::RayFailed;
            continue;
        }
        target.status = TargetStatus::Converged;
        target.x = at.x;
        target.y = at.y;
        target.z = at.z;
        ++converged;
    }
    return converged;
}

int ComputeSurfaceTargets(const CCheckRanking& ranking, const CAerialPhoto& leftPhoto,
                          const std::vector<int>& indices, std::vector<SurfaceTarget>& targets,
                          const SurfaceTargetOptions& options) {
    return ComputeSurfaceTargets(ranking.Surface(), leftPhoto, indices, targets, options);
}

int ComputeSurfaceTargets(const CTINPoints& ground, const CAerialPhoto& leftPhoto,
                          const std::vector<int>& indices, std::vector<SurfaceTarget>& targets,
                          const CheckOptions& checkOptions, const SurfaceTargetOptions& options) {
    CLocalSurface surface;
    if (surface.Build(ground, checkOptions) < 0) {
        targets.clear();
        return -1;
    }
    return ComputeSurfaceTargets(surface, leftPhoto, indices, targets, options);
}
