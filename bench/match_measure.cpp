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
//
//   match_measure DEMO_DIR [--threads N] [--window N] [--max-sigma PX] [--blunders N]
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
    for (int a = 2; a < argc; ++a) {
        if (std::strcmp(argv[a], "--threads") == 0 && a + 1 < argc) {
            options.threads = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--window") == 0 && a + 1 < argc) {
            options.window = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--max-sigma") == 0 && a + 1 < argc) {
            options.maxSigma = std::atof(argv[++a]);
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
    Errors texturedErrors, texturedInliers;
    for (const MatchResult& r : results) {
        outside += r.status == MatchStatus::Outside;
        const bool hasTexture = r.texture >= 8.0;
        if (hasTexture && r.status != MatchStatus::Outside) ++textured;
        if (r.status != MatchStatus::Matched) continue;
        const double error = TruthError(terrain, r.x, r.y, r.z);
        const bool isFar = std::fabs(error) * pxPerMetre > 0.6;
        far += isFar;
        if (!hasTexture) continue;
        ++texturedMatched;
        texturedErrors.Add(error);
        if (!isFar) texturedInliers.Add(error);
    }
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
