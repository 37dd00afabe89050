// orvane-makedemo OUTDIR [options]: writes a stereo demo project (two LAN
// images, their orientation files, a points file and the truth about its
// planted gross errors) and prints what it wrote.
#include <cstdio>
#include <string>
#include <vector>

#include "DemoProject.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    demo::DemoOptions options;
    std::string error;
    const int parsed = demo::ParseDemoArguments(args, options, error);
    if (parsed == 0) {
        std::fputs(demo::DemoUsage().c_str(), stdout);
        return 0;
    }
    if (parsed < 0) {
        std::fprintf(stderr, "orvane-makedemo: %s\n\n%s", error.c_str(), demo::DemoUsage().c_str());
        return 2;
    }

    demo::DemoResult r;
    if (demo::MakeDemoProject(options, r, error) < 0) {
        std::fprintf(stderr, "orvane-makedemo: %s\n", error.c_str());
        return 1;
    }

    const demo::DemoLayout& L = r.layout;
    std::printf("Demo project in %s (seed %llu)\n", options.outDir.c_str(),
                static_cast<unsigned long long>(options.seed));
    std::printf(
        "  camera: f = %.3f mm, frame 230 mm scanned at %.2f um (%d pixels), photo scale "
        "1:12500, %.3f m per pixel\n",
        L.left.focal, L.pixelSize * 1000.0, L.scanSide, L.groundPixel);
    for (const demo::DemoCamera* c : {&L.left, &L.right}) {
        std::printf("  %s.lan  %d x %d, 8-bit, x start %d, y start %d\n", c->name.c_str(), c->cols,
                    c->rows, c->xStart, c->yStart);
        std::printf("  %s.ORN  centre %.3f %.3f %.3f, omega %.2f phi %.2f kappa %.2f deg\n",
                    c->name.c_str(), c->xs, c->ys, c->zs, c->omegaDeg, c->phiDeg, c->kappaDeg);
    }
    std::printf("  overlap %.0f %% of the image width; terrain heights %.1f .. %.1f m\n",
                r.overlapPercent, r.terrainMinZ, r.terrainMaxZ);
    std::printf(
        "  points.pts  %lld points, grid %lld x %lld, spacing %.3f m, X %.3f .. %.3f, Y %.3f .. "
        "%.3f\n",
        static_cast<long long>(r.pointCount), static_cast<long long>(r.gridColumns),
        static_cast<long long>(r.gridRows), r.spacing, r.minX, r.maxX, r.minY, r.maxY);
    std::printf("              %zu gross errors (spikes and pits), %lld weights below 0.95\n",
                r.blunders.size(), static_cast<long long>(r.lowWeightCount));
    std::printf("  blunders.txt  the gross errors with their true heights\n");
    if (!r.targets.empty()) {
        std::printf("  control targets (white square, black border):\n");
        for (size_t i = 0; i < r.targets.size(); ++i) {
            std::printf("    T%zu  %.2f %.2f %.3f\n", i + 1, r.targets[i].x, r.targets[i].y,
                        r.targets[i].z);
        }
    }
    std::printf("  written in %.2f s (images %.2f s, points %.2f s)\n", r.totalSeconds,
                r.renderSeconds, r.pointsSeconds);
    return 0;
}
