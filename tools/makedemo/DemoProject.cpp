// The demo project generator. See DemoProject.h.
#include "DemoProject.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>

#include "CommandLine.h"
#include "LanWriter.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Platform/FileHandle.h"
#include "Platform/Parallel.h"
#include "TIN/TINPoints.h"

static_assert(
    std::endian::native == std::endian::little,
    "LAN and points files are written in the machine's byte order, which must be little-endian");

namespace demo {

namespace {

constexpr double kFrameMm = 230.0;     // film frame side
constexpr double kFocalMm = 153.012;   // calibrated focal length
constexpr double kScale = 12500.0;     // photo scale number
constexpr double kOverlap = 0.6;       // forward overlap of the frames
constexpr double kOriginX = 431250.0;  // ground position of the features
constexpr double kOriginY = 5378400.0;
constexpr double kBaseZ = 312.0;  // mean terrain height

// Height range of the gross errors added to the points (metres).
constexpr double kSpikeMin = 6.0, kSpikeMax = 25.0, kPitMin = 6.0, kPitMax = 20.0;

using Platform::FilePtr;
using Platform::RunParallel;

// Every hardware thread, up to 64, unless the options ask for a count.
int ThreadCount(const DemoOptions& options) {
    return Platform::ThreadCount(options.threads, 64);
}

bool ParseInt64(const std::string& text, int64_t& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return false;
    }
    value = v;
    return true;
}

bool ParseSide(const std::string& text, int& side) {
    int64_t v = 0;
    if (!ParseInt64(text, v) || v < kMinImageSide || v > kMaxImageSide) {
        return false;
    }
    side = static_cast<int>(v);
    return true;
}

// Ground rectangle inside the footprint of one sub-image at heights zLo and
// zHi, keeping `margin` pixels from its edges. Near-vertical photographs with
// small kappa have footprints close to axis-parallel quadrilaterals; the
// innermost sample of each edge bounds the rectangle.
bool InnerFootprint(const CAerialPhoto& photo, int cols, int rows, double margin, double zLo,
                    double zHi, double& minX, double& maxX, double& minY, double& maxY) {
    minX = -std::numeric_limits<double>::infinity();
    minY = minX;
    maxX = std::numeric_limits<double>::infinity();
    maxY = maxX;
    const double xs = photo.GetXStart();
    const double ys = photo.GetYStart();
    const double c0 = margin, c1 = cols - 1 - margin, r0 = margin, r1 = rows - 1 - margin;
    constexpr int kSamples = 64;
    for (double z : {zLo, zHi}) {
        for (int i = 0; i <= kSamples; ++i) {
            const double t = static_cast<double>(i) / kSamples;
            const double col = c0 + (c1 - c0) * t;
            const double row = r0 + (r1 - r0) * t;
            double X, Y;
            double pixel[2] = {c0 + xs, row + ys};
            if (photo.ImageToGround(pixel, &z, X, Y) < 0) return false;
            minX = std::max(minX, X);  // left edge
            pixel[0] = c1 + xs;
            if (photo.ImageToGround(pixel, &z, X, Y) < 0) return false;
            maxX = std::min(maxX, X);  // right edge
            pixel[0] = col + xs;
            pixel[1] = r0 + ys;
            if (photo.ImageToGround(pixel, &z, X, Y) < 0) return false;
            maxY = std::min(maxY, Y);  // top edge (north)
            pixel[1] = r1 + ys;
            if (photo.ImageToGround(pixel, &z, X, Y) < 0) return false;
            minY = std::max(minY, Y);  // bottom edge (south)
        }
    }
    return minX < maxX && minY < maxY;
}

// Rays per pixel side, and their offsets from the pixel's centre.
constexpr int kPixelRays = 2;
constexpr double kPixelRayOffset[kPixelRays] = {-0.25, 0.25};

// Renders the sub-image of one photograph into a LAN file, streaming blocks of rows.
int RenderImage(const CAerialPhoto& photo, const DemoCamera& camera, const CDemoTerrain& terrain,
                int threads, const std::string& path, std::string& error) {
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot open " + path + " for writing";
        return -3;
    }
    const LanHeader header =
        MakeLanHeader(0, 1, camera.cols, camera.rows, camera.xStart, camera.yStart);
    if (std::fwrite(&header, sizeof header, 1, file.get()) != 1) {
        error = "cannot write " + path;
        return -3;
    }
    const int64_t cols = camera.cols;
    const int64_t blockRows = std::clamp<int64_t>((int64_t{1} << 24) / cols, 1, camera.rows);
    std::vector<unsigned char> block(static_cast<size_t>(blockRows * cols));
    const double xs = photo.GetXStart();
    const double ys = photo.GetYStart();
    const double zRef = terrain.BaseZ();
    const double cx = photo.m_dXs, cy = photo.m_dYs, cz = photo.m_dZs;
    for (int64_t first = 0; first < camera.rows; first += blockRows) {
        const int64_t n = std::min<int64_t>(blockRows, camera.rows - first);
        RunParallel(n, threads, [&](int64_t i) {
            unsigned char* out = block.data() + i * cols;
            const double row = static_cast<double>(first + i) + ys;
            double z = zRef;  // each row starts afresh: rows do not depend on each other
            for (int64_t c = 0; c < cols; ++c) {
                // A camera's pixel integrates the light over its area: the
                // mean of kPixelRays x kPixelRays rays spread evenly over the
                // square of side 1 centred on (c, row). One ray per pixel would
                // sample the texture's finest detail and the edges of crowns,
                // roofs and shadows differently in the two photographs, which
                // no matching of real photographs has to contend with.
                double sum = 0.0;
                bool inside = true;
                for (int sy = 0; sy < kPixelRays && inside; ++sy) {
                    for (int sx = 0; sx < kPixelRays; ++sx) {
                        double pixel[2] = {static_cast<double>(c) + xs + kPixelRayOffset[sx],
                                           row + kPixelRayOffset[sy]};
                        double X, Y;
                        if (photo.ImageToGround(pixel, &zRef, X, Y) < 0) {
                            inside = false;
                            break;
                        }
                        // The ray's ground position at height Z is linear in Z.
                        const double dx = (X - cx) / (zRef - cz);
                        const double dy = (Y - cy) / (zRef - cz);
                        sum += terrain.CastRay(cx, cy, cz, dx, dy, z);
                    }
                }
                out[c] = inside ? static_cast<unsigned char>(std::lround(
                                      std::clamp(sum / (kPixelRays * kPixelRays), 0.0, 255.0)))
                                : 16;
            }
        });
        const size_t bytes = static_cast<size_t>(n * cols);
        if (std::fwrite(block.data(), 1, bytes, file.get()) != bytes) {
            error = "cannot write " + path;
            return -3;
        }
    }
    if (std::fclose(file.release()) != 0) {
        error = "cannot write " + path;
        return -3;
    }
    return 1;
}

// Sets the sub-image start so that ground (X, Y, Z) falls at the sub-image's
// centre (rowOffset rows lower): the collinearity equations with the camera's
// rotation (omega about X, then phi, then kappa) and its affine transformation.
void CentreSubImage(DemoCamera& c, double X, double Y, double Z, int rowOffset) {
    const double d2r = 3.141592653589793 / 180.0;
    const double so = std::sin(c.omegaDeg * d2r), co = std::cos(c.omegaDeg * d2r);
    const double sp = std::sin(c.phiDeg * d2r), cp = std::cos(c.phiDeg * d2r);
    const double sk = std::sin(c.kappaDeg * d2r), ck = std::cos(c.kappaDeg * d2r);
    const double dx = X - c.xs, dy = Y - c.ys, dz = Z - c.zs;
    const double u = cp * ck * dx + (sk * co + ck * sp * so) * dy + (sk * so - ck * sp * co) * dz;
    const double v = -cp * sk * dx + (ck * co - sk * sp * so) * dy + (ck * so + sk * sp * co) * dz;
    const double w = sp * dx - so * cp * dy + co * cp * dz;
    const double x = c.x0 - c.focal * u / w - c.a0;
    const double y = c.y0 - c.focal * v / w - c.b0;
    const double det = c.a1 * c.b2 - c.a2 * c.b1;
    const double col = (x * c.b2 - y * c.a2) / det;
    const double row = (c.a1 * y - c.b1 * x) / det;
    c.xStart = static_cast<int>(std::lround(col - c.cols / 2.0));
    c.yStart = static_cast<int>(std::lround(row - c.rows / 2.0)) + rowOffset;
}

struct Blunder {
    int64_t index;
    double dz;
    double weight;  // NaN: keep the point's own weight
};

// One point of the grid: ground position, height with matching noise, weight.
struct PointGrid {
    double x0, y0, step;  // first point (north-west) and spacing
    int64_t columns;
};

}  // namespace

DemoLayout MakeDemoLayout(const DemoOptions& options) {
    DemoLayout L;
    const int side = std::max(options.cols, options.rows);
    // 20 micrometre scan, or finer so that the sub-image is at most 1/1.3 of the frame.
    L.scanSide = std::max(11500, 2 * static_cast<int>(std::ceil(0.65 * side)));
    L.pixelSize = kFrameMm / L.scanSide;
    L.groundPixel = L.pixelSize / 1000.0 * kScale;
    L.originX = kOriginX;
    L.originY = kOriginY;
    L.baseZ = kBaseZ;

    const double height = kFocalMm / 1000.0 * kScale;  // flying height above mean terrain
    const double base = (1.0 - kOverlap) * kFrameMm / 1000.0 * kScale;  // air base
    const double p = L.pixelSize;
    // Fiducial centre of the scan (the affine transformation's origin).
    const double c0 = L.scanSide / 2.0 + 0.37;
    const double r0 = L.scanSide / 2.0 - 0.61;
    // Each sub-image is cut off-centre, towards the other photograph, so that
    // the two overlap like the frames, by 60 % of their width: the left one is
    // centred on ground (origin X - 0.2 width, origin Y), the right one on
    // (origin X + 0.2 width, origin Y), both at mean terrain height.
    const double halfShift = 0.5 * (1.0 - kOverlap) * options.cols * L.groundPixel;

    auto affine = [&](DemoCamera& c, double sx, double shearX, double shearY, double sy) {
        c.a1 = p * sx;
        c.a2 = p * shearX;
        c.b1 = p * shearY;
        c.b2 = -p * sy;
        c.a0 = -(c.a1 * c0 + c.a2 * r0);
        c.b0 = -(c.b1 * c0 + c.b2 * r0);
        c.x0 = 0.004;
        c.y0 = -0.007;
        c.focal = kFocalMm;
        c.cols = options.cols;
        c.rows = options.rows;
    };

    DemoCamera& l = L.left;
    l.name = "left";
    affine(l, 1.0 + 1.8e-5, 2.1e-5, 1.6e-5, 1.0 - 1.2e-5);
    l.xs = kOriginX - base / 2.0 + 1.7;
    l.ys = kOriginY + 3.2;
    l.zs = kBaseZ + height + 2.1;
    l.omegaDeg = 0.35;
    l.phiDeg = -0.6;
    l.kappaDeg = 1.1;
    CentreSubImage(l, kOriginX - halfShift, kOriginY, kBaseZ, 23);

    DemoCamera& r = L.right;
    r.name = "right";
    affine(r, 1.0 - 1.1e-5, -1.4e-5, -0.9e-5, 1.0 + 2.3e-5);
    r.xs = kOriginX + base / 2.0 - 2.3;
    r.ys = kOriginY - 4.1;
    r.zs = kBaseZ + height - 3.4;
    r.omegaDeg = -0.45;
    r.phiDeg = 0.4;
    r.kappaDeg = 0.7;
    CentreSubImage(r, kOriginX + halfShift, kOriginY, kBaseZ, -17);
    if (options.zeroStart) {
        // Sub-image pixel (c, r) keeps its photo position: the affine origin
        // takes the start, x = a1 c + a2 r + (a0 + a1 xs + a2 ys).
        for (DemoCamera* c : {&l, &r}) {
            c->a0 += c->a1 * c->xStart + c->a2 * c->yStart;
            c->b0 += c->b1 * c->xStart + c->b2 * c->yStart;
            c->xStart = 0;
            c->yStart = 0;
        }
    }
    return L;
}

int WriteOrientationFile(const std::string& path, const DemoCamera& c) {
    FilePtr file(std::fopen(path.c_str(), "w"));
    if (!file) {
        return -1;
    }
    // Three header words, f, Xs Ys Zs, omega phi kappa (degrees), three numbers
    // the reader skips, the affine rows and the principal point.
    bool ok = std::fprintf(file.get(), "ORIENTATION ORVANE_DEMO %s\n",
                           c.name == "left" ? "LEFT" : "RIGHT") > 0;
    ok = ok && std::fprintf(file.get(), "%.6f\n", c.focal) > 0;
    ok = ok && std::fprintf(file.get(), "%.6f %.6f %.6f\n", c.xs, c.ys, c.zs) > 0;
    ok = ok && std::fprintf(file.get(), "%.9f %.9f %.9f\n", c.omegaDeg, c.phiDeg, c.kappaDeg) > 0;
    ok = ok && std::fprintf(file.get(), "0.0 0.0 0.0\n") > 0;
    ok = ok && std::fprintf(file.get(), "%.15g %.15g %.15g\n", c.a1, c.a2, c.a0) > 0;
    ok = ok && std::fprintf(file.get(), "%.15g %.15g %.15g\n", c.b1, c.b2, c.b0) > 0;
    ok = ok && std::fprintf(file.get(), "%.6f %.6f\n", c.x0, c.y0) > 0;
    const bool closed = std::fclose(file.release()) == 0;
    return ok && closed ? 1 : -1;
}

std::string DemoUsage() {
    return "usage: orvane-makedemo OUTDIR [options]\n"
           "Writes a stereo demo project into OUTDIR (created when missing; files are replaced):\n"
           "left.lan, right.lan (8-bit sub-images), left.ORN, right.ORN and points.pts,\n"
           "and blunders.txt, the gross errors planted among the points and their true heights.\n"
           "options:\n"
           "  --seed N            terrain, texture and point noise (default 1)\n"
           "  --size COLSxROWS    pixels of each image (default 2000x2000, 256..20000 each)\n"
           "  --cols N, --rows N  the same, one side at a time\n"
           "  --points N          number of ground points (default 40000, 1..10000000)\n"
           "  --threads N         rendering threads (default: all cores)\n"
           "  --no-targets        leave out the painted control targets\n"
           "  --zero-start        images start at the scanned frame's first pixel (x/y start\n"
           "                      0; the orientation files carry the offset instead)\n"
           "  -h, --help          this text\n";
}

int ParseDemoArguments(const std::vector<std::string>& args, DemoOptions& options,
                       std::string& error) {
    bool haveDir = false;
    for (size_t i = 0; i < args.size(); ++i) {
        CCommandLineOption option(args, i);
        const std::string& name = option.name;
        const std::string& value = option.value;
        auto takeValue = [&]() -> bool {
            if (option.TakeValue()) return true;
            error = "option " + name + " needs a value";
            return false;
        };
        if (name == "-h" || name == "--help") {
            return 0;
        } else if (name == "--no-targets") {
            options.targets = false;
        } else if (name == "--zero-start") {
            options.zeroStart = true;
        } else if (name == "--seed") {
            if (!takeValue()) return -1;
            char* end = nullptr;
            errno = 0;
            const unsigned long long v = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || value[0] == '-' || errno != 0 || *end != '\0') {
                error = "invalid seed: " + value;
                return -1;
            }
            options.seed = v;
        } else if (name == "--size") {
            if (!takeValue()) return -1;
            const size_t x = value.find_first_of("xX");
            if (x == std::string::npos || !ParseSide(value.substr(0, x), options.cols) ||
                !ParseSide(value.substr(x + 1), options.rows)) {
                error = "invalid size: " + value + " (COLSxROWS, each 256..20000)";
                return -1;
            }
        } else if (name == "--cols" || name == "--rows") {
            if (!takeValue()) return -1;
            if (!ParseSide(value, name == "--cols" ? options.cols : options.rows)) {
                error = "invalid " + name.substr(2) + ": " + value + " (256..20000)";
                return -1;
            }
        } else if (name == "--points") {
            if (!takeValue()) return -1;
            int64_t v = 0;
            if (!ParseInt64(value, v) || v < 1 || v > kMaxPoints) {
                error = "invalid number of points: " + value + " (1..10000000)";
                return -1;
            }
            options.points = v;
        } else if (name == "--threads") {
            if (!takeValue()) return -1;
            int64_t v = 0;
            if (!ParseInt64(value, v) || v < 1 || v > 64) {
                error = "invalid number of threads: " + value + " (1..64)";
                return -1;
            }
            options.threads = static_cast<int>(v);
        } else if (!name.empty() && name[0] == '-') {
            error = "unknown option: " + name;
            return -1;
        } else if (!haveDir) {
            options.outDir = name;
            haveDir = true;
        } else {
            error = "more than one output folder: " + name;
            return -1;
        }
    }
    if (!haveDir || options.outDir.empty()) {
        error = "no output folder given";
        return -1;
    }
    return 1;
}

int MakeDemoProject(const DemoOptions& options, DemoResult& result, std::string& error) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    result = DemoResult();
    if (options.outDir.empty() || options.cols < kMinImageSide || options.cols > kMaxImageSide ||
        options.rows < kMinImageSide || options.rows > kMaxImageSide || options.points < 1 ||
        options.points > kMaxPoints) {
        error = "invalid options";
        return -1;
    }
    const int threads = ThreadCount(options);
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(options.outDir, ec);
    if (ec || !fs::is_directory(options.outDir, ec)) {
        error = "cannot create folder " + options.outDir;
        return -2;
    }
    const fs::path dir(options.outDir);
    result.leftImage = (dir / "left.lan").string();
    result.rightImage = (dir / "right.lan").string();
    result.leftOrientation = (dir / "left.ORN").string();
    result.rightOrientation = (dir / "right.ORN").string();
    result.pointsFile = (dir / "points.pts").string();
    result.truthFile = (dir / "blunders.txt").string();

    const DemoLayout layout = MakeDemoLayout(options);
    result.layout = layout;
    for (const DemoCamera* c : {&layout.left, &layout.right}) {
        if (c->xStart < 0 || c->yStart < 0 || c->xStart > INT16_MAX || c->yStart > INT16_MAX) {
            error = "sub-image start outside the 16-bit range";
            return -4;
        }
    }

    // Orientation files first; the geometry below is the one they define.
    CAerialPhoto left, right;
    if (WriteOrientationFile(result.leftOrientation, layout.left) < 0 ||
        WriteOrientationFile(result.rightOrientation, layout.right) < 0) {
        error = "cannot write the orientation files in " + options.outDir;
        return -3;
    }
    if (left.ReadOrientation(result.leftOrientation) < 0 ||
        right.ReadOrientation(result.rightOrientation) < 0) {
        error = "the orientation files written do not read back";
        return -4;
    }
    left.m_image.m_header.xstart = layout.left.xStart;
    left.m_image.m_header.ystart = layout.left.yStart;
    right.m_image.m_header.xstart = layout.right.xStart;
    right.m_image.m_header.ystart = layout.right.yStart;

    CDemoTerrain terrain(options.seed, layout.originX, layout.originY, layout.baseZ,
                         layout.groundPixel);

    // Height range of the surface under both images (sampled; padded for what
    // falls between the samples), then the overlap at every height a point
    // can take, blunders included.
    double zLo = std::numeric_limits<double>::infinity();
    double zHi = -zLo;
    {
        double aMinX, aMaxX, aMinY, aMaxY, bMinX, bMaxX, bMinY, bMaxY;
        const double z = layout.baseZ;
        // Whole footprints at mean height (negative margin: a little beyond the edges).
        const double out = -0.05 * std::max(options.cols, options.rows);
        auto outer = [&](const CAerialPhoto& p, double& x0, double& x1, double& y0, double& y1) {
            x0 = y0 = std::numeric_limits<double>::infinity();
            x1 = y1 = -x0;
            for (int i = 0; i < 4; ++i) {
                const double col = (i & 1) ? options.cols - 1 - out : out;
                const double row = (i & 2) ? options.rows - 1 - out : out;
                double pixel[2] = {col + p.GetXStart(), row + p.GetYStart()};
                double X, Y;
                p.ImageToGround(pixel, &z, X, Y);
                x0 = std::min(x0, X);
                x1 = std::max(x1, X);
                y0 = std::min(y0, Y);
                y1 = std::max(y1, Y);
            }
        };
        outer(left, aMinX, aMaxX, aMinY, aMaxY);
        outer(right, bMinX, bMaxX, bMinY, bMaxY);
        const double x0 = std::min(aMinX, bMinX), x1 = std::max(aMaxX, bMaxX);
        const double y0 = std::min(aMinY, bMinY), y1 = std::max(aMaxY, bMaxY);
        constexpr int kGrid = 256;
        for (int j = 0; j <= kGrid; ++j) {
            for (int i = 0; i <= kGrid; ++i) {
                const double h =
                    terrain.SurfaceHeight(x0 + (x1 - x0) * i / kGrid, y0 + (y1 - y0) * j / kGrid);
                zLo = std::min(zLo, h);
                zHi = std::max(zHi, h);
            }
        }
        // Roofs narrower than the sample step.
        for (const DemoBuilding& b : terrain.Buildings()) {
            const double bx = b.cx + layout.originX, by = b.cy + layout.originY;
            if (bx >= x0 && bx <= x1 && by >= y0 && by <= y1) zHi = std::max(zHi, b.roofZ);
        }
        zLo -= 3.0;
        zHi += 3.0;
        // Rendering grid over both footprints (rays lean outwards by up to
        // about 0.9 m per metre of height): at most 16 million nodes.
        const double pad = 40.0;
        const double area = (x1 - x0 + 2 * pad) * (y1 - y0 + 2 * pad);
        const double step = std::max(0.5, std::sqrt(area / 16.0e6));
        terrain.BuildRenderGrid(x0 - pad, x1 + pad, y0 - pad, y1 + pad, step, threads);
    }
    result.terrainMinZ = zLo;
    result.terrainMaxZ = zHi;
    // The overlap holds at every height a point can take, gross errors
    // included; for small images, whose footprints shift more than their width
    // over that range, at the terrain's own heights (gross errors that would
    // leave an image are then left out, below).
    const double margin = std::max(3.0, 0.004 * std::max(options.cols, options.rows));
    double lMinX, lMaxX, lMinY, lMaxY, rMinX, rMaxX, rMinY, rMaxY;
    auto footprints = [&](double lo, double hi) {
        return InnerFootprint(left, options.cols, options.rows, margin, lo, hi, lMinX, lMaxX, lMinY,
                              lMaxY) &&
               InnerFootprint(right, options.cols, options.rows, margin, lo, hi, rMinX, rMaxX,
                              rMinY, rMaxY) &&
               std::max(lMinX, rMinX) < std::min(lMaxX, rMaxX) &&
               std::max(lMinY, rMinY) < std::min(lMaxY, rMaxY);
    };
    if (!footprints(zLo - kPitMax - 3.0, zHi + kSpikeMax + 3.0) && !footprints(zLo, zHi)) {
        error = "the two images do not overlap";
        return -4;
    }
    result.overlapMinX = std::max(lMinX, rMinX);
    result.overlapMaxX = std::min(lMaxX, rMaxX);
    result.overlapMinY = std::max(lMinY, rMinY);
    result.overlapMaxY = std::min(lMaxY, rMaxY);
    if (!(result.overlapMinX < result.overlapMaxX && result.overlapMinY < result.overlapMaxY)) {
        error = "the two images do not overlap";
        return -4;
    }
    {
        // Forward overlap of the two images at mid-terrain height: where the
        // right image's left edge falls in the left image, along the middle row.
        const double zMid = 0.5 * (zLo + zHi);
        double pixel[2] = {right.GetXStart(), right.GetYStart() + 0.5 * (options.rows - 1)};
        double X, Y, col, row;
        right.ImageToGround(pixel, &zMid, X, Y);
        left.GroundToImage(X, Y, zMid, col, row);
        result.overlapPercent = 100.0 * (options.cols - (col - left.GetXStart())) / options.cols;
    }

    // Control targets at clear sites spread over the overlap.
    if (options.targets) {
        const double fx[] = {0.18, 0.82, 0.5, 0.18, 0.82};
        const double fy[] = {0.18, 0.18, 0.5, 0.82, 0.82};
        const double w = result.overlapMaxX - result.overlapMinX;
        const double h = result.overlapMaxY - result.overlapMinY;
        const double inset = kTargetBorderHalf + 4.0 * layout.groundPixel + 2.0;
        for (int t = 0; t < 5; ++t) {
            const double x = result.overlapMinX + fx[t] * w;
            const double y = result.overlapMaxY - fy[t] * h;
            // Spiral outwards in 5 m steps until the site is clear.
            bool placed = false;
            for (int ring = 0; ring < 30 && !placed; ++ring) {
                const int steps = ring == 0 ? 1 : 8 * ring;
                for (int s = 0; s < steps && !placed; ++s) {
                    const double a = 2.0 * 3.141592653589793 * s / steps;
                    const double X = x + 5.0 * ring * std::cos(a);
                    const double Y = y + 5.0 * ring * std::sin(a);
                    if (X < result.overlapMinX + inset || X > result.overlapMaxX - inset ||
                        Y < result.overlapMinY + inset || Y > result.overlapMaxY - inset) {
                        continue;
                    }
                    if (!terrain.IsClearSite(X, Y)) continue;
                    bool apart = true;
                    for (const DemoTarget& o : result.targets) {
                        apart = apart && std::hypot(o.x - X, o.y - Y) > 4.0 * kTargetBorderHalf;
                    }
                    if (!apart) continue;
                    // Round to the centimetre, as a surveyed coordinate list would.
                    const double rx = std::round(X * 100.0) / 100.0;
                    const double ry = std::round(Y * 100.0) / 100.0;
                    result.targets.push_back({rx, ry, terrain.TerrainHeight(rx, ry)});
                    placed = true;
                }
            }
        }
        terrain.SetTargets(result.targets);
    }

    // The two images.
    const auto renderStart = Clock::now();
    int rc = RenderImage(left, layout.left, terrain, threads, result.leftImage, error);
    if (rc < 0) return rc;
    rc = RenderImage(right, layout.right, terrain, threads, result.rightImage, error);
    if (rc < 0) return rc;
    const auto pointsStart = Clock::now();
    result.renderSeconds = std::chrono::duration<double>(pointsStart - renderStart).count();

    // Points: a regular grid over the overlap, north row first, west to east.
    const int64_t n = options.points;
    const double W = result.overlapMaxX - result.overlapMinX;
    const double H = result.overlapMaxY - result.overlapMinY;
    int64_t nx = std::clamp<int64_t>(static_cast<int64_t>(std::ceil(std::sqrt(n * W / H))), 1, n);
    if (n >= 2) nx = std::max<int64_t>(nx, 2);
    const int64_t ny = (n + nx - 1) / nx;
    double step = std::numeric_limits<double>::infinity();
    if (nx > 1) step = std::min(step, W / (nx - 1));
    if (ny > 1) step = std::min(step, H / (ny - 1));
    if (!std::isfinite(step)) step = 1.0;
    PointGrid grid;
    grid.step = step;
    grid.columns = nx;
    grid.x0 = result.overlapMinX + 0.5 * (W - (nx - 1) * step);
    grid.y0 = result.overlapMaxY - 0.5 * (H - (ny - 1) * step);
    result.gridColumns = nx;
    result.gridRows = ny;
    result.spacing = step;
    result.pointCount = n;

    // A ground point shows in both images (sub-image pixels within the image).
    auto inside = [&](double x, double y, double z) {
        for (const CAerialPhoto* p : {&left, &right}) {
            double c, r;
            if (p->GroundToImage(x, y, z, c, r) < 0) return false;
            c -= p->GetXStart();
            r -= p->GetYStart();
            if (!(c >= 0.0 && r >= 0.0 && c <= options.cols - 1 && r <= options.rows - 1))
                return false;
        }
        return true;
    };
    auto gridX = [&](int64_t i) {
        return grid.x0 + static_cast<double>(i % grid.columns) * grid.step;
    };
    auto gridY = [&](int64_t i) {
        return grid.y0 - static_cast<double>(i / grid.columns) * grid.step;
    };

    // Gross errors: single spikes and pits, some in small clusters; only those
    // that stay inside both images.
    std::vector<Blunder> blunders;
    if (n >= 50) {
        CDemoRandom r(MixSeed(options.seed, 0xB1D7));
        const int64_t count = std::max<int64_t>(3, n / 2000);
        std::vector<Blunder> drawn;
        for (int64_t b = 0; b < count; ++b) {
            const int64_t index = static_cast<int64_t>(r.Next() % static_cast<uint64_t>(n));
            const bool spike = (b % 2) == 0;
            const double dz =
                spike ? r.Uniform(kSpikeMin, kSpikeMax) : -r.Uniform(kPitMin, kPitMax);
            const double weight = r.Uniform() < 0.5 ? r.Uniform(0.3, 0.85) : std::nan("");
            drawn.push_back({index, dz, weight});
            if (r.Uniform() < 0.3) {
                if (index + 1 < n) drawn.push_back({index + 1, dz * r.Uniform(0.8, 1.0), weight});
                if (index + nx < n) drawn.push_back({index + nx, dz * r.Uniform(0.8, 1.0), weight});
            }
        }
        for (const Blunder& b : drawn) {
            const double x = gridX(b.index), y = gridY(b.index);
            const double z = terrain.SurfaceHeight(x, y) + b.dz;
            if (inside(x, y, z - 0.5) && inside(x, y, z + 0.5)) blunders.push_back(b);
        }
        std::stable_sort(blunders.begin(), blunders.end(),
                         [](const Blunder& a, const Blunder& b) { return a.index < b.index; });
        blunders.erase(
            std::unique(blunders.begin(), blunders.end(),
                        [](const Blunder& a, const Blunder& b) { return a.index == b.index; }),
            blunders.end());
        for (const Blunder& b : blunders) result.blunders.push_back(b.index);
    }

    const uint64_t pointSeed = MixSeed(options.seed, 0x901275);
    auto makePoint = [&](int64_t i, double* record) {
        const double x = gridX(i);
        const double y = gridY(i);
        CDemoRandom r(MixSeed(pointSeed, static_cast<uint64_t>(i)));
        const double surface = terrain.SurfaceHeight(x, y);
        // Matching noise: a few centimetres, more where the height jumps at a
        // wall, where matchers also report a lower confidence.
        const bool atWall = std::fabs(terrain.SignedBuildingDistance(x, y)) < 1.5;
        const double noise = r.Normal();
        double z = surface + (atWall ? 0.9 : 0.06) * noise;
        double weight =
            r.Uniform() < (atWall ? 0.6 : 0.07) ? r.Uniform(0.55, 0.949) : r.Uniform(0.95, 1.0);
        const auto it = std::lower_bound(blunders.begin(), blunders.end(), i,
                                         [](const Blunder& b, int64_t k) { return b.index < k; });
        if (it != blunders.end() && it->index == i) {
            z = surface + it->dz + 0.06 * noise;
            if (!std::isnan(it->weight)) weight = it->weight;
        } else if (atWall && !inside(x, y, z)) {
            z = surface;  // a small image's edge: keep the point in both images
        }
        record[0] = x;
        record[1] = y;
        record[2] = std::round(z * 1000.0) / 1000.0;  // millimetres, as a matcher reports
        record[3] = std::round(weight * 1000.0) / 1000.0;
    };

    // Header: count, min X, max Y, max X, min Y, spacing X, spacing Y.
    double minX = grid.x0;
    double maxX = grid.x0 + (std::min(n, nx) - 1) * step;
    double maxY = grid.y0;
    double minY = grid.y0 - (ny - 1) * step;
    // A single column or row: readers need max X above min X.
    WidenDegenerateRange(minX, maxX, 0.5 * step);
    WidenDegenerateRange(minY, maxY, 0.5 * step);
    result.minX = minX;
    result.maxX = maxX;
    result.minY = minY;
    result.maxY = maxY;
    {
        FilePtr file(std::fopen(result.pointsFile.c_str(), "wb"));
        if (!file) {
            error = "cannot open " + result.pointsFile + " for writing";
            return -3;
        }
        unsigned char header[52];
        const int32_t count = static_cast<int32_t>(n);
        const double fields[6] = {minX, maxY, maxX, minY, step, step};
        std::memcpy(header, &count, 4);
        std::memcpy(header + 4, fields, sizeof fields);
        if (std::fwrite(header, 1, sizeof header, file.get()) != sizeof header) {
            error = "cannot write " + result.pointsFile;
            return -3;
        }
        constexpr int64_t kBlock = int64_t{1} << 18;  // points per block (8 MB)
        constexpr int64_t kTask = 4096;
        std::vector<double> buffer(static_cast<size_t>(kBlock * 4));
        std::atomic<int64_t> lowWeight{0};
        for (int64_t first = 0; first < n; first += kBlock) {
            const int64_t m = std::min(kBlock, n - first);
            RunParallel((m + kTask - 1) / kTask, threads, [&](int64_t task) {
                int64_t low = 0;
                const int64_t end = std::min(m, (task + 1) * kTask);
                for (int64_t k = task * kTask; k < end; ++k) {
                    double* rec = buffer.data() + 4 * k;
                    makePoint(first + k, rec);
                    low += rec[3] < 0.95 ? 1 : 0;
                }
                lowWeight += low;
            });
            const size_t bytes = static_cast<size_t>(m) * 32;
            if (std::fwrite(buffer.data(), 1, bytes, file.get()) != bytes) {
                error = "cannot write " + result.pointsFile;
                return -3;
            }
        }
        if (std::fclose(file.release()) != 0) {
            error = "cannot write " + result.pointsFile;
            return -3;
        }
        result.lowWeightCount = lowWeight.load();
    }

    // The truth about the gross errors: the heights written (the same
    // function of the record index as above) and the surface beneath.
    {
        FilePtr file(std::fopen(result.truthFile.c_str(), "w"));
        if (!file) {
            error = "cannot open " + result.truthFile + " for writing";
            return -3;
        }
        bool ok = std::fprintf(file.get(),
                               "# orvane-makedemo truth seed=%llu cols=%d rows=%d points=%lld\n"
                               "id,x,y,true_z,planted_z\n",
                               static_cast<unsigned long long>(options.seed), options.cols,
                               options.rows, static_cast<long long>(n)) > 0;
        for (const Blunder& b : blunders) {
            double record[4];
            makePoint(b.index, record);
            const DemoBlunder t{b.index, record[0], record[1],
                                terrain.SurfaceHeight(record[0], record[1]), record[2]};
            result.blunderTruth.push_back(t);
            ok =
                ok && std::fprintf(file.get(), "%lld,%.4f,%.4f,%.4f,%.3f\n",
                                   static_cast<long long>(t.id), t.x, t.y, t.trueZ, t.plantedZ) > 0;
        }
        if (std::fclose(file.release()) != 0 || !ok) {
            error = "cannot write " + result.truthFile;
            return -3;
        }
    }
    const auto end = Clock::now();
    result.pointsSeconds = std::chrono::duration<double>(end - pointsStart).count();
    result.totalSeconds = std::chrono::duration<double>(end - start).count();
    return 1;
}

int ReadDemoTruth(const std::string& path, DemoOptions& options,
                  std::vector<DemoBlunder>& blunders) {
    FilePtr file(std::fopen(path.c_str(), "r"));
    if (!file) return -1;
    blunders.clear();
    unsigned long long seed = 0;
    int cols = 0, rows = 0;
    long long points = 0;
    if (std::fscanf(file.get(), "# orvane-makedemo truth seed=%llu cols=%d rows=%d points=%lld ",
                    &seed, &cols, &rows, &points) != 4) {
        return -2;
    }
    char columns[64] = {};
    if (std::fscanf(file.get(), "%63s ", columns) != 1 ||
        std::strcmp(columns, "id,x,y,true_z,planted_z") != 0) {
        return -2;
    }
    options.seed = seed;
    options.cols = cols;
    options.rows = rows;
    options.points = points;
    for (;;) {
        long long id = 0;
        DemoBlunder b{};
        const int got = std::fscanf(file.get(), "%lld,%lf,%lf,%lf,%lf ", &id, &b.x, &b.y, &b.trueZ,
                                    &b.plantedZ);
        if (got == EOF) break;
        if (got != 5) return -2;
        b.id = id;
        blunders.push_back(b);
    }
    return 1;
}

}  // namespace demo
