// Measures Match Z against the true surface of a generated demo project
// (orvane-makedemo; the terrain follows from blunders.txt's seed and size):
//   - over every live point (each leaving out only itself from the surface
//     that centres its search): the share matched among points whose left
//     window has texture (grey-level standard deviation >= 8), their RMSE in
//     pixels of parallax and in metres, and the share of all matched points
//     more than 0.6 px off the true surface at their new X, Y;
//   - blunders planted here (+-6 to 25 m) on records within 4 m of the
//     road's cut and fill slopes, and separately within 4 m of building walls,
//     matched as a selection: RMSE of the matched heights against Set To
//     Surface on the same records;
//   - time per point on one thread, and the share of it the correlation
//     search alone takes.
// Whether the truth is fair: the same textured points are also measured
// against the height where the left ray meets the true surface (walls
// included; what the left photograph's pixel shows) and against the mean
// true height under the left window; and split into smooth ground and the
// ground within 4 m of a wall or road slope, with the y-parallax on smooth
// ground, which the exact orientations make zero: its spread is the
// matching noise the images themselves allow. --list writes every point's
// figures, with whether the true point is hidden from the left (2) or the
// right (1) photograph by a building (near walls and road slopes, and
// wherever it is not matched); --centred-only leaves out the fallbacks and
// --no-narrowing the narrowed window (see Matching/Matcher.h).
//
//   match_measure DEMO_DIR [--threads N] [--window N] [--max-sigma PX] [--blunders N]
//                 [--iterations N] [--min-correlation C] [--list FILE.csv] [--centred-only]
//                 [--no-narrowing]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Checking/SurfaceTargets.h"
#include "DemoProject.h"
#include "DemoTerrain.h"
#include "GdalImage/GdalImage.h"
#include "Matching/Matcher.h"
#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

namespace {

using bench::ThreadSeconds;

struct Errors {
    int count = 0;
    double sum2 = 0.0;
    void Add(double e) {
        ++count;
        sum2 += e * e;
    }
    double Rmse() const { return count ? std::sqrt(sum2 / count) : NAN; }
};

// Height error of a matched point against the true surface at its X, Y.
// Beside a wall the surface jumps between ground and roof within a pixel:
// there the nearest of the heights a quarter metre around counts.
double TruthError(const demo::CDemoTerrain& terrain, double x, double y, double z) {
    double error = z - terrain.SurfaceHeight(x, y);
    if (terrain.ReliefAt(x, y, 0.5) != demo::ReliefKind::BuildingEdge) return error;
    for (const auto& [dx, dy] : {std::pair{0.25, 0.0}, {-0.25, 0.0}, {0.0, 0.25}, {0.0, -0.25}}) {
        const double e = z - terrain.SurfaceHeight(x + dx, y + dy);
        if (std::fabs(e) < std::fabs(error)) error = e;
    }
    return error;
}

// The height at which the ray of the photograph's centre through ground
// (x, y, z) first meets the true surface (walls included), searched from
// `above` metres over z downwards: what that pixel of the photograph shows.
double RayHeight(const demo::CDemoTerrain& terrain, const CAerialPhoto& photo, double x, double y,
                 double z, double above) {
    const double cx = photo.m_dXs, cy = photo.m_dYs, cz = photo.m_dZs;
    const double dx = (x - cx) / (z - cz), dy = (y - cy) / (z - cz);
    auto gap = [&](double h) {
        return h - terrain.SurfaceHeight(cx + (h - cz) * dx, cy + (h - cz) * dy);
    };
    double hi = z + above;
    if (gap(hi) <= 0.0) return NAN;
    double lo = hi;
    while (gap(lo) > 0.0) {
        hi = lo;
        lo -= 0.02;
        if (lo < z - 2 * above) return NAN;
    }
    for (int i = 0; i < 30; ++i) {
        const double mid = 0.5 * (lo + hi);
        (gap(mid) > 0.0 ? hi : lo) = mid;
    }
    return 0.5 * (lo + hi);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: match_measure DEMO_DIR [--threads N] [--window N] [--max-sigma PX] "
                     "[--blunders N]\n");
        return 2;
    }
    const std::string dir = argv[1];
    MatchOptions options;
    int perKind = 250;
    std::string listPath;
    for (int a = 2; a < argc; ++a) {
        if (std::strcmp(argv[a], "--threads") == 0 && a + 1 < argc) {
            options.threads = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--window") == 0 && a + 1 < argc) {
            options.window = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--max-sigma") == 0 && a + 1 < argc) {
            options.maxSigma = std::atof(argv[++a]);
        } else if (std::strcmp(argv[a], "--iterations") == 0 && a + 1 < argc) {
            options.maxIterations = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--min-correlation") == 0 && a + 1 < argc) {
            options.minCorrelation = std::atof(argv[++a]);
        } else if (std::strcmp(argv[a], "--centred-only") == 0) {
            options.shiftedWindows = false;
        } else if (std::strcmp(argv[a], "--no-narrowing") == 0) {
            options.narrowing = false;
        } else if (std::strcmp(argv[a], "--list") == 0 && a + 1 < argc) {
            listPath = argv[++a];
        } else if (std::strcmp(argv[a], "--blunders") == 0 && a + 1 < argc) {
            perKind = std::max(1, std::atoi(argv[++a]));
        }
    }
    demo::DemoOptions made;
    std::vector<demo::DemoBlunder> generated;
    CTINPoints ground;
    CAerialPhoto left, right;
    if (demo::ReadDemoTruth(dir + "/blunders.txt", made, generated) < 0 ||
        ground.ReadPts(dir + "/points.pts") < 0 || left.ReadOrientation(dir + "/left.ORN") < 0 ||
        right.ReadOrientation(dir + "/right.ORN") < 0 ||
        ReadPhotograph(dir + "/left.lan", left.m_image) != 1 ||
        ReadPhotograph(dir + "/right.lan", right.m_image) != 1) {
        std::fprintf(stderr, "cannot read the demo project in %s\n", dir.c_str());
        return 1;
    }
    const demo::DemoLayout layout = demo::MakeDemoLayout(made);
    const demo::CDemoTerrain terrain(made.seed, layout.originX, layout.originY, layout.baseZ,
                                     layout.groundPixel);
    // Pixels of parallax per metre of height near the middle of the pair.
    double c0, r0, c1, r1, l0, l1, dummy;
    const double X = layout.originX, Y = layout.originY, Z = layout.baseZ;
    right.GroundToImage(X, Y, Z, c0, r0);
    right.GroundToImage(X, Y, Z + 1.0, c1, r1);
    left.GroundToImage(X, Y, Z, l0, dummy);
    left.GroundToImage(X, Y, Z + 1.0, l1, dummy);
    const double pxPerMetre = std::fabs((c1 - c0) - (l1 - l0));

    // Blunders of our own near the road's slopes and near the walls.
    std::vector<uint8_t> taken(static_cast<size_t>(ground.GetCount()), 0);
    for (const demo::DemoBlunder& b : generated) taken[static_cast<size_t>(b.id)] = 1;
    std::vector<int> slopes, walls;
    std::mt19937 rng(17);
    for (int i = 0; i < ground.GetCount(); ++i) {
        const TINPoint* p = ground.GetPoint(i);
        if (p->id < 0 || taken[static_cast<size_t>(i)]) continue;
        const demo::ReliefKind k = terrain.ReliefAt(p->x, p->y, 4.0);
        if (k == demo::ReliefKind::RoadSlope) slopes.push_back(i);
        if (k == demo::ReliefKind::BuildingEdge) walls.push_back(i);
    }
    std::shuffle(slopes.begin(), slopes.end(), rng);
    std::shuffle(walls.begin(), walls.end(), rng);
    slopes.resize(std::min<size_t>(slopes.size(), static_cast<size_t>(perKind)));
    walls.resize(std::min<size_t>(walls.size(), static_cast<size_t>(perKind)));
    std::uniform_real_distribution<double> size(6.0, 25.0);
    for (const std::vector<int>* set : {&slopes, &walls}) {
        for (int i : *set) {
            TINPoint* p = ground.GetPoint(i);
            p->z += (rng() % 2 ? 1.0 : -1.0) * size(rng);
            taken[static_cast<size_t>(i)] = 1;
        }
    }
    CLocalSurface surface;
    surface.Build(ground, CheckOptions());

    // Every live point, each leaving out only itself.
    std::vector<int> all;
    for (int i = 0; i < ground.GetCount(); ++i) {
        if (ground.GetPoint(i)->id >= 0) all.push_back(i);
    }
    std::vector<MatchResult> results;
    const int matched = MatchPoints(ground, left, right, &surface, all, false, options, results);
    int textured = 0, texturedMatched = 0, far = 0, outside = 0;
    Errors texturedErrors, texturedInliers, rayErrors, windowErrors, smoothErrors, reliefErrors,
        yParallaxes;
    int smoothTextured = 0, smoothMatched = 0;
    FILE* list = listPath.empty() ? nullptr : std::fopen(listPath.c_str(), "w");
    if (list)
        std::fprintf(list,
                     "index,x,y,texture,status,correlation,sigma_px,distinctness,iterations,"
                     "y_parallax,relief,error_m,ray_error_m,window_error_m,hidden,fit\n");
    const int half = options.window / 2;
    for (const MatchResult& r : results) {
        outside += r.status == MatchStatus::Outside;
        const bool hasTexture = r.texture >= 8.0;
        const TINPoint* p = ground.GetPoint(r.index);
        // Smooth ground: no wall nor road slope within 4 m, where a window
        // of 15 pixels (3.75 m) sees one sloping plane.
        const bool smooth = terrain.ReliefAt(p->x, p->y, 4.0) == demo::ReliefKind::None;
        if (hasTexture && r.status != MatchStatus::Outside) {
            ++textured;
            smoothTextured += smooth;
        }
        const double error = r.status == MatchStatus::Matched
                                 ? TruthError(terrain, r.x, r.y, r.z)
                                 : p->z - terrain.SurfaceHeight(p->x, p->y);
        // What the photographs show: the surface where the left ray meets
        // it, and the mean true height under the left window.
        double rayError = NAN, windowError = NAN;
        if (hasTexture && (r.status == MatchStatus::Matched || list)) {
            const double zs = r.z;
            rayError = zs - RayHeight(terrain, left, r.x, r.y, zs, 30.0);
            double c, row;
            if (left.GroundToImage(r.x, r.y, zs, c, row) >= 0) {
                const double zt = zs - error;
                double sum = 0.0;
                for (int v = -half; v <= half; ++v) {
                    for (int u = -half; u <= half; ++u) {
                        const double pixel[2] = {c + u, row + v};
                        double X, Y;
                        left.ImageToGround(pixel, &zt, X, Y);
                        sum += terrain.SurfaceHeight(X, Y);
                    }
                }
                windowError = zs - sum / ((2 * half + 1) * (2 * half + 1));
            }
        }
        if (list) {
            const demo::ReliefKind k = terrain.ReliefAt(p->x, p->y, 4.0);  // 0 none, 1 wall, 2 road
            int hidden = 0;
            if (hasTexture && (k != demo::ReliefKind::None || r.status != MatchStatus::Matched)) {
                const double zTrue = terrain.SurfaceHeight(p->x, p->y);
                for (const CAerialPhoto* photo : {&left, &right}) {
                    const double seen = RayHeight(terrain, *photo, p->x, p->y, zTrue, 30.0);
                    hidden = hidden * 2 + !(std::fabs(seen - zTrue) < 0.05);
                }
            }
            std::fprintf(list,
                         "%d,%.3f,%.3f,%.2f,%s,%.4f,%.4f,%.4f,%d,%.4f,%d,%.4f,%.4f,%.4f,%d,%.4f\n",
                         r.index, r.x, r.y, r.texture, MatchStatusName(r.status), r.correlation,
                         r.sigmaPx, r.distinctness, r.iterations, r.yParallax, static_cast<int>(k),
                         error, rayError, windowError, hidden, r.fit);
        }
        if (r.status != MatchStatus::Matched) continue;
        const bool isFar = std::fabs(error) * pxPerMetre > 0.6;
        far += isFar;
        if (!hasTexture) continue;
        ++texturedMatched;
        texturedErrors.Add(error);
        (smooth ? smoothErrors : reliefErrors).Add(error);
        if (smooth) {
            ++smoothMatched;
            yParallaxes.Add(r.yParallax);
        }
        if (!isFar) texturedInliers.Add(error);
        if (std::isfinite(rayError)) rayErrors.Add(rayError);
        if (smooth && std::isfinite(windowError)) windowErrors.Add(windowError);
    }
    if (list) std::fclose(list);
    std::printf("demo %s: %d points, %.2f px of parallax per metre\n", dir.c_str(),
                static_cast<int>(all.size()), pxPerMetre);
    std::printf("all points: %d matched (%.1f %%), %d outside; %.2f %% of matched > 0.6 px off\n",
                matched, 100.0 * matched / std::max<size_t>(1, all.size()), outside,
                100.0 * far / std::max(1, matched));
    std::printf(
        "textured windows (std >= 8): %d, %.2f %% matched, RMSE %.4f px = %.4f m; without those "
        "> 0.6 px off %.4f px = %.4f m\n",
        textured, 100.0 * texturedMatched / std::max(1, textured),
        texturedErrors.Rmse() * pxPerMetre, texturedErrors.Rmse(),
        texturedInliers.Rmse() * pxPerMetre, texturedInliers.Rmse());
    std::printf(
        "  same points against the surface where the left ray meets it: RMSE %.4f px = %.4f m; "
        "on smooth ground against the mean true height under the left window: %.4f px = %.4f m\n",
        rayErrors.Rmse() * pxPerMetre, rayErrors.Rmse(), windowErrors.Rmse() * pxPerMetre,
        windowErrors.Rmse());
    std::printf(
        "  smooth ground (no wall or road slope within 4 m): %d, %.2f %% matched, RMSE %.4f px = "
        "%.4f m, y-parallax RMS %.4f px (the orientations are exact: matching noise alone); near "
        "walls and road slopes: %d, %.2f %% matched, RMSE %.4f px = %.4f m\n",
        smoothTextured, 100.0 * smoothMatched / std::max(1, smoothTextured),
        smoothErrors.Rmse() * pxPerMetre, smoothErrors.Rmse(), yParallaxes.Rmse(),
        textured - smoothTextured,
        100.0 * (texturedMatched - smoothMatched) / std::max(1, textured - smoothTextured),
        reliefErrors.Rmse() * pxPerMetre, reliefErrors.Rmse());

    // The planted blunders as selections: Match Z against Set To Surface.
    for (int kind = 0; kind < 2; ++kind) {
        const std::vector<int>& set = kind == 0 ? slopes : walls;
        std::vector<MatchResult> m;
        MatchPoints(ground, left, right, &surface, set, true, options, m);
        std::vector<SurfaceTarget> targets;
        ComputeSurfaceTargets(surface, left, set, targets);
        Errors matchErrors, surfaceErrors;
        int both = 0, matchedHere = 0;
        for (size_t k = 0; k < set.size(); ++k) {
            if (m[k].status != MatchStatus::Matched) continue;
            ++matchedHere;
            if (targets[k].status != TargetStatus::Converged) continue;
            ++both;
            matchErrors.Add(TruthError(terrain, m[k].x, m[k].y, m[k].z));
            surfaceErrors.Add(TruthError(terrain, targets[k].x, targets[k].y, targets[k].z));
        }
        std::printf(
            "%s: %zu planted, %d matched (%.1f %%); on %d with both: Match Z RMSE %.3f m, Set To "
            "Surface %.3f m (%.1f x closer)\n",
            kind == 0 ? "near road slopes" : "near building walls", set.size(), matchedHere,
            100.0 * matchedHere / std::max<size_t>(1, set.size()), both, matchErrors.Rmse(),
            surfaceErrors.Rmse(), surfaceErrors.Rmse() / matchErrors.Rmse());
    }

    // One thread: the whole match, and the correlation search alone.
    std::vector<int> sample(all.begin(), all.begin() + std::min<size_t>(all.size(), 5000));
    MatchOptions one = options;
    one.threads = 1;
    double t0 = ThreadSeconds();
    MatchPoints(ground, left, right, &surface, sample, false, one, results);
    const double whole = ThreadSeconds() - t0;
    one.refine = false;
    t0 = ThreadSeconds();
    MatchPoints(ground, left, right, &surface, sample, false, one, results);
    const double search = ThreadSeconds() - t0;
    std::printf("one thread: %.3f ms per point, correlation search alone %.3f ms (%.0f %%)\n",
                1000.0 * whole / sample.size(), 1000.0 * search / sample.size(),
                100.0 * search / whole);
    return 0;
}
