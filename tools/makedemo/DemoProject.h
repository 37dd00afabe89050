// The demo project generator: writes a complete project that the workstation
// loads, a stereo pair of 8-bit LAN images (left.lan, right.lan) with their
// orientation files (left.ORN, right.ORN) and a points file (points.pts), all
// from one synthetic world (DemoTerrain.h). Beside them, blunders.txt records
// the gross errors planted among the points with their true heights, so that
// blunder detection can be measured against the truth.
//
// Geometry: a 230 mm frame camera (f = 153.012 mm) at photo scale 1:12500,
// two near-vertical exposures along the X axis with 60 % forward overlap. Each
// LAN image is a sub-image cut from its scanned frame (x start, y start in the
// header), placed so that the two sub-images overlap by about 60 %. The frame
// is scanned at 20 micrometres (11500 pixels across), finer when the requested
// sub-image needs more pixels. Every image pixel is rendered by casting its
// ray, as the photograph's orientation file defines it, against the terrain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DemoTerrain.h"

namespace demo {

constexpr int kMinImageSide = 256;  // smaller footprints barely overlap over the relief
constexpr int kMaxImageSide = 20000;
constexpr int64_t kMaxPoints = 10000000;

struct DemoOptions {
    std::string outDir;
    uint64_t seed = 1;
    int cols = 2000;  // of each sub-image
    int rows = 2000;
    int64_t points = 40000;
    bool targets = true;  // paint the control targets
    int threads = 0;      // 0: every hardware thread
    // Images whose first pixel is the scanned frame's first pixel (x start and
    // y start 0): the orientation's affine transformation is shifted instead,
    // so the project shows the same scene. GDAL keeps no LAN starts, so such
    // images survive a conversion to another raster format unchanged.
    bool zeroStart = false;
};

// One photograph as its files describe it.
struct DemoCamera {
    std::string name;                   // "left" or "right"
    double focal;                       // mm
    double xs, ys, zs;                  // projection centre, ground metres
    double omegaDeg, phiDeg, kappaDeg;  // degrees
    // Scanned-image pixel (column, row) to photo mm: x = a1 col + a2 row + a0,
    // y = b1 col + b2 row + b0 (y flipped: rows run downwards).
    double a1, a2, a0, b1, b2, b0;
    double x0, y0;       // principal point, photo mm
    int cols, rows;      // sub-image size
    int xStart, yStart;  // sub-image origin in the scanned frame
};

struct DemoLayout {
    int scanSide;                    // pixels across the scanned frame
    double pixelSize;                // scan pixel, mm
    double groundPixel;              // ground size of one pixel at mean height, metres
    double originX, originY, baseZ;  // centre of the features and mean height
    DemoCamera left, right;
};

// Camera layout for the requested image size.
DemoLayout MakeDemoLayout(const DemoOptions& options);

// One planted gross error: its record, ground position and heights (metres).
struct DemoBlunder {
    int64_t id;       // record index in points.pts
    double x, y;      // ground X, Y of the record
    double trueZ;     // the surface height there (CDemoTerrain::SurfaceHeight)
    double plantedZ;  // the height written to the points file
};

struct DemoResult {
    std::string leftImage, rightImage, leftOrientation, rightOrientation, pointsFile;
    // Text file of the planted gross errors:
    //   # orvane-makedemo truth seed=S cols=C rows=R points=N
    //   id,x,y,true_z,planted_z
    //   one line per gross error, by id
    std::string truthFile;
    DemoLayout layout;
    // Ground rectangle seen by both sub-images (with a few pixels' margin) at
    // every height the points can take.
    double overlapMinX = 0, overlapMaxX = 0, overlapMinY = 0, overlapMaxY = 0;
    double overlapPercent = 0;  // share of the left sub-image's width seen by both
    double terrainMinZ = 0, terrainMaxZ = 0;
    int64_t pointCount = 0;
    int64_t gridColumns = 0, gridRows = 0;
    double spacing = 0;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;  // as written in the points header
    std::vector<int64_t> blunders;                  // indices of the gross errors
    std::vector<DemoBlunder> blunderTruth;          // the same with their heights
    int64_t lowWeightCount = 0;                     // weights below 0.95
    std::vector<DemoTarget> targets;
    double renderSeconds = 0, pointsSeconds = 0, totalSeconds = 0;
};

// Command line: OUTDIR [--seed N] [--size COLSxROWS] [--cols N] [--rows N]
// [--points N] [--threads N] [--no-targets] [--zero-start]. 1 run; 0 help requested; -1
// invalid (error says why).
int ParseDemoArguments(const std::vector<std::string>& args, DemoOptions& options,
                       std::string& error);
std::string DemoUsage();

// Writes the five files and blunders.txt into options.outDir (created when missing; existing
// files are replaced). 1 done; -1 invalid options; -2 the folder cannot be
// created; -3 a file cannot be written; -4 the geometry fails (an orientation
// file does not read back, or the images do not overlap).
int MakeDemoProject(const DemoOptions& options, DemoResult& result, std::string& error);

// Writes one orientation file; 1, or -1 when it cannot be written.
int WriteOrientationFile(const std::string& path, const DemoCamera& camera);

// Reads a blunders.txt: the options it was made with (seed, cols, rows,
// points; the terrain and layout follow from them) and its gross errors.
// 1; -1 when it cannot be opened; -2 when it is not in that format.
int ReadDemoTruth(const std::string& path, DemoOptions& options,
                  std::vector<DemoBlunder>& blunders);

}  // namespace demo
