// The synthetic world of the demo project. See DemoTerrain.h.
#include "DemoTerrain.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Platform/Parallel.h"

namespace demo {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kReliefShading = 2.5;  // slope exaggeration of the hillshade

inline uint32_t HashLattice(int64_t ix, int64_t iy, uint32_t seed) {
    uint64_t h = static_cast<uint64_t>(ix) * 0x9E3779B97F4A7C15ULL;
    h ^= static_cast<uint64_t>(iy) * 0xC2B2AE3D27D4EB4FULL + 0x165667B19E3779F9ULL;
    h ^= seed;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 29;
    return static_cast<uint32_t>(h >> 32);
}

inline double LatticeValue(int64_t ix, int64_t iy, uint32_t seed) {
    // Top 24 bits to [-1, 1].
    return static_cast<double>(HashLattice(ix, iy, seed) >> 8) * (2.0 / 16777215.0) - 1.0;
}

// floor() without a library call.
inline int64_t FloorToInt(double v) {
    const auto i = static_cast<int64_t>(v);
    return v < static_cast<double>(i) ? i - 1 : i;
}

inline double Fade(double t) {
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

inline double Fraction(double v) {
    return v - static_cast<double>(FloorToInt(v));
}

// True when the segment (ax, ay)-(bx, by) passes within r of (px, py).
inline bool SegmentNear(double px, double py, double ax, double ay, double bx, double by,
                        double r) {
    // Cheap box test first: most buildings are far from most rays.
    if (px < std::min(ax, bx) - r || px > std::max(ax, bx) + r || py < std::min(ay, by) - r ||
        py > std::max(ay, by) + r) {
        return false;
    }
    const double ux = bx - ax, uy = by - ay;
    const double len = ux * ux + uy * uy;
    double t = len > 0.0 ? ((px - ax) * ux + (py - ay) * uy) / len : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double dx = ax + t * ux - px, dy = ay + t * uy - py;
    return dx * dx + dy * dy <= r * r;
}

// Entry and exit of the ray p(t) = p0 + t * d through the slab |p| <= half.
// False when the ray runs parallel outside it.
inline bool Slab(double p0, double d, double half, double& tIn, double& tOut) {
    if (d == 0.0) {
        if (std::fabs(p0) > half) {
            return false;
        }
        tIn = -std::numeric_limits<double>::infinity();
        tOut = std::numeric_limits<double>::infinity();
        return true;
    }
    const double a = (-half - p0) / d;
    const double b = (half - p0) / d;
    tIn = std::min(a, b);
    tOut = std::max(a, b);
    return true;
}

}  // namespace

uint64_t CDemoRandom::Next() {
    uint64_t z = (m_nState += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double CDemoRandom::Uniform() {
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

double CDemoRandom::Uniform(double a, double b) {
    return a + (b - a) * Uniform();
}

double CDemoRandom::Normal() {
    // Box-Muller; the first uniform is kept away from zero.
    const double u1 = (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53;
    const double u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

uint64_t MixSeed(uint64_t a, uint64_t b) {
    CDemoRandom r(a * 0xD1B54A32D192ED03ULL ^ (b + 0x8CB92BA72F3D8DD7ULL));
    r.Next();
    return r.Next();
}

double ValueNoise(double x, double y, uint32_t seed) {
    const int64_t ix = FloorToInt(x);
    const int64_t iy = FloorToInt(y);
    const double u = Fade(x - static_cast<double>(ix));
    const double v = Fade(y - static_cast<double>(iy));
    const double a = LatticeValue(ix, iy, seed);
    const double b = LatticeValue(ix + 1, iy, seed);
    const double c = LatticeValue(ix, iy + 1, seed);
    const double d = LatticeValue(ix + 1, iy + 1, seed);
    const double bottom = a + (b - a) * u;
    const double top = c + (d - c) * u;
    return bottom + (top - bottom) * v;
}

CDemoTerrain::CDemoTerrain(uint64_t seed, double originX, double originY, double baseZ,
                           double pixelGround)
    : m_dOriginX(originX), m_dOriginY(originY), m_dBaseZ(baseZ) {
    CDemoRandom r(MixSeed(seed, 0x7E77A1));
    auto nextSeed = [&r]() { return static_cast<uint32_t>(r.Next() >> 32); };

    m_dTrendX = r.Uniform(0.004, 0.014);
    m_dTrendY = -r.Uniform(0.003, 0.010);

    // Hills: wavelengths in metres and amplitudes in metres. The steepest
    // possible slope stays below about 0.6, so that a ray of up to about 40
    // degrees off nadir meets the smooth terrain exactly once.
    const double wavelengths[] = {430.0, 170.0, 62.0, 21.0};
    const double amplitudes[] = {14.0, 6.0, 2.0, 0.45};
    for (int i = 0; i < 4; ++i) {
        Octave o;
        o.inverseWavelength = 1.0 / wavelengths[i];
        o.amplitude = amplitudes[i] * r.Uniform(0.8, 1.2);
        o.offsetX = r.Uniform(0.0, 1000.0);
        o.offsetY = r.Uniform(0.0, 1000.0);
        o.seed = nextSeed();
        m_hills.push_back(o);
    }
    // Two deliberate hills: one across the road (so that the road needs a cut)
    // and one between the buildings.
    m_bumps.push_back({40.0, 100.0, 18.0 * r.Uniform(0.9, 1.1), 1.0 / (2.0 * 55.0 * 55.0)});
    m_bumps.push_back({-95.0, -55.0, 10.0 * r.Uniform(0.9, 1.1), 1.0 / (2.0 * 80.0 * 80.0)});

    // The road: a straight line at 60 degrees through (0, 30).
    const double roadAngle = 60.0 / 180.0 * kPi;
    m_dRoadQX = 0.0;
    m_dRoadQY = 30.0;
    m_dRoadDirX = std::cos(roadAngle);
    m_dRoadDirY = std::sin(roadAngle);
    m_dRoadNrmX = -m_dRoadDirY;
    m_dRoadNrmY = m_dRoadDirX;
    m_dRoadHalfWidth = 3.5;
    m_dRoadSideSlope = 0.7;
    // Largest possible difference between the natural terrain and the road
    // level, over the side slope.
    double maxDiff = 0.0;
    for (size_t i = 0; i < m_hills.size(); ++i) {
        maxDiff += (i == 0 ? 0.4 : 1.0) * m_hills[i].amplitude;
    }
    for (const Hill& h : m_bumps) {
        maxDiff += h.height;
    }
    m_dRoadReach = maxDiff / m_dRoadSideSlope + 1.0;

    // Buildings: centre, length, width, height, angle (degrees). The first
    // four stand inside the default overlap; the others show in larger images.
    struct Footprint {
        double cx, cy, length, width, height, angle;
    };
    const Footprint footprints[] = {
        {-65.0, 75.0, 28.0, 16.0, 12.0, 15.0},  {60.0, -45.0, 18.0, 18.0, 21.0, -8.0},
        {-25.0, -150.0, 44.0, 12.0, 7.0, 3.0},  {100.0, 110.0, 14.0, 10.0, 6.0, 32.0},
        {380.0, 220.0, 30.0, 20.0, 15.0, 10.0}, {-420.0, -320.0, 24.0, 24.0, 9.0, 0.0},
        {720.0, 60.0, 50.0, 14.0, 8.0, -20.0},  {-700.0, 420.0, 20.0, 12.0, 11.0, 45.0},
        {260.0, -600.0, 36.0, 18.0, 10.0, 5.0}, {-250.0, 650.0, 16.0, 16.0, 25.0, 12.0},
    };
    for (const Footprint& s : footprints) {
        DemoBuilding b;
        b.cx = s.cx;
        b.cy = s.cy;
        b.halfLength = s.length * 0.5;
        b.halfWidth = s.width * 0.5;
        const double a = s.angle / 180.0 * kPi;
        b.cosA = std::cos(a);
        b.sinA = std::sin(a);
        b.roofZ = Ground(s.cx, s.cy) + s.height * r.Uniform(0.9, 1.1);
        m_buildings.push_back(b);
        m_buildingRadius.push_back(std::hypot(b.halfLength, b.halfWidth));
    }

    // Texture detail: octaves from 12 m down to about three pixels.
    m_dDetailWavelength = 12.0;
    m_nDetailOctaves = 0;
    for (double w = m_dDetailWavelength; w >= 3.0 * pixelGround && m_nDetailOctaves < 10;
         w *= 0.5) {
        ++m_nDetailOctaves;
    }
    m_nSeedCover = nextSeed();
    m_nSeedCover2 = nextSeed();
    m_nSeedTrees = nextSeed();
    m_nSeedMeadow = nextSeed();
    m_nSeedSoil = nextSeed();
    m_nSeedRows = nextSeed();
    m_nSeedDetail = nextSeed();
    m_nSeedRoof = nextSeed();

    // Sun from the south-south-east, 45 degrees high: shadows fall to the north-west.
    const double azimuth = 160.0 / 180.0 * kPi;
    const double elevation = 45.0 / 180.0 * kPi;
    m_dSunX = std::sin(azimuth) * std::cos(elevation);
    m_dSunY = std::cos(azimuth) * std::cos(elevation);
    m_dSunZ = std::sin(elevation);
}

double CDemoTerrain::Natural(double x, double y) const {
    double h = m_dBaseZ + m_dTrendX * x + m_dTrendY * y;
    for (const Octave& o : m_hills) {
        h += o.amplitude * ValueNoise(x * o.inverseWavelength + o.offsetX,
                                      y * o.inverseWavelength + o.offsetY, o.seed);
    }
    for (const Hill& b : m_bumps) {
        const double dx = x - b.cx;
        const double dy = y - b.cy;
        const double e = (dx * dx + dy * dy) * b.inverseTwoSigmaSq;
        if (e < 30.0) {
            h += b.height * std::exp(-e);
        }
    }
    return h;
}

double CDemoTerrain::RoadLevel(double x, double y) const {
    // The regional trend plus part of the longest hills: a gentle grade.
    const Octave& o = m_hills[0];
    return m_dBaseZ + m_dTrendX * x + m_dTrendY * y +
           0.6 * o.amplitude *
               ValueNoise(x * o.inverseWavelength + o.offsetX, y * o.inverseWavelength + o.offsetY,
                          o.seed);
}

double CDemoTerrain::Ground(double x, double y) const {
    return WithRoad(x, y, Natural(x, y));
}

double CDemoTerrain::WithRoad(double x, double y, double h) const {
    const double px = x - m_dRoadQX;
    const double py = y - m_dRoadQY;
    const double beyond = std::fabs(px * m_dRoadNrmX + py * m_dRoadNrmY) - m_dRoadHalfWidth;
    if (beyond > m_dRoadReach) {
        return h;
    }
    const double along = px * m_dRoadDirX + py * m_dRoadDirY;
    const double level =
        RoadLevel(m_dRoadQX + along * m_dRoadDirX, m_dRoadQY + along * m_dRoadDirY);
    if (beyond <= 0.0) {
        return level;
    }
    // Cut into higher ground, fill over lower ground, at the side slope.
    const double limit = beyond * m_dRoadSideSlope;
    return level + std::clamp(h - level, -limit, limit);
}

void CDemoTerrain::BuildRenderGrid(double minX, double maxX, double minY, double maxY, double step,
                                   int threads) {
    RenderGrid g;
    g.step = step;
    g.inverse = 1.0 / step;
    g.x0 = minX - m_dOriginX;
    g.y0 = minY - m_dOriginY;
    g.nx = static_cast<int64_t>(std::ceil((maxX - minX) / step)) + 1;
    g.ny = static_cast<int64_t>(std::ceil((maxY - minY) / step)) + 1;
    if (g.nx < 3 || g.ny < 3) {
        m_grid = RenderGrid();
        return;
    }
    const size_t n = static_cast<size_t>(g.nx * g.ny);
    g.height.resize(n);
    g.slopeX.resize(n);
    g.slopeY.resize(n);
    // Natural heights: interpolating them is within millimetres of the
    // hills, while a grid of the terrain would round the road's breaks of
    // slope by centimetres, and the photographs would no longer show the
    // surface that TerrainHeight and SurfaceHeight give.
    std::vector<float> ground(n);
    Platform::RunParallel(g.ny, threads, [&](int64_t j) {
        const double y = g.y0 + j * step;
        for (int64_t i = 0; i < g.nx; ++i) {
            const double x = g.x0 + i * step, natural = Natural(x, y);
            g.height[j * g.nx + i] = static_cast<float>(natural - m_dBaseZ);
            ground[j * g.nx + i] = static_cast<float>(WithRoad(x, y, natural) - m_dBaseZ);
        }
    });
    // Slopes of the terrain by central differences (one-sided at the border).
    Platform::RunParallel(g.ny, threads, [&](int64_t j) {
        const int64_t jm = std::max<int64_t>(j - 1, 0), jp = std::min<int64_t>(j + 1, g.ny - 1);
        for (int64_t i = 0; i < g.nx; ++i) {
            const int64_t im = std::max<int64_t>(i - 1, 0), ip = std::min<int64_t>(i + 1, g.nx - 1);
            g.slopeX[j * g.nx + i] = static_cast<float>(
                (ground[j * g.nx + ip] - ground[j * g.nx + im]) / ((ip - im) * step));
            g.slopeY[j * g.nx + i] = static_cast<float>(
                (ground[jp * g.nx + i] - ground[jm * g.nx + i]) / ((jp - jm) * step));
        }
    });
    m_grid = std::move(g);
}

double CDemoTerrain::RenderHeight(double x, double y) const {
    const double fx = (x - m_grid.x0) * m_grid.inverse;
    const double fy = (y - m_grid.y0) * m_grid.inverse;
    if (!(fx >= 0.0 && fy >= 0.0 && fx < static_cast<double>(m_grid.nx - 1) &&
          fy < static_cast<double>(m_grid.ny - 1))) {
        return Ground(x, y);
    }
    const auto i = static_cast<int64_t>(fx);
    const auto j = static_cast<int64_t>(fy);
    const double u = fx - static_cast<double>(i);
    const double v = fy - static_cast<double>(j);
    const float* p = m_grid.height.data() + j * m_grid.nx + i;
    const double bottom = p[0] + (p[1] - p[0]) * u;
    const double top = p[m_grid.nx] + (p[m_grid.nx + 1] - p[m_grid.nx]) * u;
    return WithRoad(x, y, m_dBaseZ + bottom + (top - bottom) * v);
}

void CDemoTerrain::RenderSlope(double x, double y, double& gx, double& gy) const {
    const double fx = (x - m_grid.x0) * m_grid.inverse;
    const double fy = (y - m_grid.y0) * m_grid.inverse;
    if (!(fx >= 0.0 && fy >= 0.0 && fx < static_cast<double>(m_grid.nx - 1) &&
          fy < static_cast<double>(m_grid.ny - 1))) {
        constexpr double e = 0.25;
        const double h0 = Ground(x, y);
        gx = (Ground(x + e, y) - h0) / e;
        gy = (Ground(x, y + e) - h0) / e;
        return;
    }
    const auto i = static_cast<int64_t>(fx);
    const auto j = static_cast<int64_t>(fy);
    const double u = fx - static_cast<double>(i);
    const double v = fy - static_cast<double>(j);
    const size_t k = static_cast<size_t>(j * m_grid.nx + i);
    auto lerp = [&](const std::vector<float>& a) {
        const float* p = a.data() + k;
        const double bottom = p[0] + (p[1] - p[0]) * u;
        const double top = p[m_grid.nx] + (p[m_grid.nx + 1] - p[m_grid.nx]) * u;
        return bottom + (top - bottom) * v;
    };
    gx = lerp(m_grid.slopeX);
    gy = lerp(m_grid.slopeY);
}

double CDemoTerrain::TerrainHeight(double X, double Y) const {
    return Ground(X - m_dOriginX, Y - m_dOriginY);
}

double CDemoTerrain::SurfaceHeight(double X, double Y) const {
    const double x = X - m_dOriginX;
    const double y = Y - m_dOriginY;
    for (const DemoBuilding& b : m_buildings) {
        const double dx = x - b.cx;
        const double dy = y - b.cy;
        const double u = dx * b.cosA + dy * b.sinA;
        const double v = -dx * b.sinA + dy * b.cosA;
        if (std::fabs(u) <= b.halfLength && std::fabs(v) <= b.halfWidth) {
            return b.roofZ;
        }
    }
    return Ground(x, y);
}

double CDemoTerrain::DistanceToBuilding(double X, double Y) const {
    return std::max(0.0, SignedBuildingDistance(X, Y));
}

double CDemoTerrain::SignedBuildingDistance(double X, double Y) const {
    const double x = X - m_dOriginX;
    const double y = Y - m_dOriginY;
    double best = std::numeric_limits<double>::infinity();
    for (const DemoBuilding& b : m_buildings) {
        const double dx = x - b.cx;
        const double dy = y - b.cy;
        const double u = std::fabs(dx * b.cosA + dy * b.sinA) - b.halfLength;
        const double v = std::fabs(-dx * b.sinA + dy * b.cosA) - b.halfWidth;
        if (u <= 0.0 && v <= 0.0) {
            return std::max(u, v);  // inside: minus the distance to the nearest edge
        }
        best = std::min(best, std::hypot(std::max(u, 0.0), std::max(v, 0.0)));
    }
    return best;
}

bool CDemoTerrain::IsClearSite(double X, double Y) const {
    // Buildings: a tall block leans up to about a third of its height in the
    // photographs and casts a shadow as long as its height.
    const double x = X - m_dOriginX;
    const double y = Y - m_dOriginY;
    for (const DemoBuilding& b : m_buildings) {
        const double height = b.roofZ - Ground(b.cx, b.cy);
        const double dx = x - b.cx;
        const double dy = y - b.cy;
        const double reach = std::hypot(b.halfLength, b.halfWidth) + height * 1.2 + 6.0;
        if (dx * dx + dy * dy < reach * reach) {
            return false;
        }
    }
    // The road and its slopes.
    for (double ox = -4.0; ox <= 4.0; ox += 2.0) {
        for (double oy = -4.0; oy <= 4.0; oy += 2.0) {
            if (std::fabs(Ground(x + ox, y + oy) - Natural(x + ox, y + oy)) > 1e-9) {
                return false;
            }
        }
    }
    const double beyond =
        std::fabs((x - m_dRoadQX) * m_dRoadNrmX + (y - m_dRoadQY) * m_dRoadNrmY) - m_dRoadHalfWidth;
    return beyond > 10.0;
}

ReliefKind CDemoTerrain::ReliefAt(double X, double Y, double reach) const {
    if (std::fabs(SignedBuildingDistance(X, Y)) <= reach) return ReliefKind::BuildingEdge;
    // On a side slope the cut or fill holds the terrain at the slope's limit;
    // sample the disc of the reach for such a spot.
    const double x = X - m_dOriginX;
    const double y = Y - m_dOriginY;
    constexpr int kSteps = 4;
    for (int j = -kSteps; j <= kSteps; ++j) {
        for (int i = -kSteps; i <= kSteps; ++i) {
            const double ox = reach * i / kSteps, oy = reach * j / kSteps;
            if (ox * ox + oy * oy > reach * reach) continue;
            const double px = x + ox - m_dRoadQX, py = y + oy - m_dRoadQY;
            const double beyond = std::fabs(px * m_dRoadNrmX + py * m_dRoadNrmY) - m_dRoadHalfWidth;
            if (beyond <= 0.0 || beyond > m_dRoadReach) continue;
            if (std::fabs(Ground(x + ox, y + oy) - Natural(x + ox, y + oy)) > 1e-9) {
                return ReliefKind::RoadSlope;
            }
        }
    }
    return ReliefKind::None;
}

void CDemoTerrain::SetTargets(const std::vector<DemoTarget>& targets) {
    m_targets = targets;
    m_localTargets.clear();
    for (const DemoTarget& t : targets) {
        m_localTargets.push_back({t.x - m_dOriginX, t.y - m_dOriginY, t.z});
    }
}

double CDemoTerrain::IntersectGround(double cx, double cy, double cz, double dx, double dy,
                                     double zStart) const {
    // f(z) = z - Ground(ray at z) rises with z wherever the terrain is gentler
    // than the ray is steep, so it has one root; the secant method finds it from
    // a nearby start in a few steps, with a plain fixed-point step as fallback.
    auto g = [&](double z) { return RenderHeight(cx + (z - cz) * dx, cy + (z - cz) * dy); };
    constexpr double kTolerance = 2e-4;  // metres
    double z0 = zStart;
    double f0 = z0 - g(z0);
    if (std::fabs(f0) < kTolerance) {
        return z0;
    }
    double z1 = z0 - f0;
    double f1 = z1 - g(z1);
    for (int i = 0; i < 40 && std::fabs(f1) >= kTolerance; ++i) {
        double z2 = z1 - f1;  // fixed-point step
        const double dz = z1 - z0;
        if (dz != 0.0) {
            const double slope = (f1 - f0) / dz;
            if (slope > 0.05 && slope < 4.0) {
                z2 = z1 - f1 / slope;
            }
        }
        z0 = z1;
        f0 = f1;
        z1 = z2;
        f1 = z1 - g(z1);
    }
    return z1;
}

double CDemoTerrain::IntersectBuildings(double cx, double cy, double cz, double dx, double dy,
                                        double zFloor, int& building, int& face) const {
    // The ray descends: at parameter t >= 0 it is at height cz - t and at
    // local position (cx - t * dx, cy - t * dy). Each box reaches from its roof
    // down without end (its walls run into the ground).
    double bestZ = -std::numeric_limits<double>::infinity();
    building = -1;
    face = -1;
    for (size_t i = 0; i < m_buildings.size(); ++i) {
        const DemoBuilding& b = m_buildings[i];
        if (b.roofZ <= zFloor) {
            continue;
        }
        // Quick rejection: the part of the ray between the roof and the floor
        // passes farther from the footprint centre than its half diagonal.
        const double t0 = cz - b.roofZ, t1 = cz - zFloor;
        if (!SegmentNear(b.cx, b.cy, cx - t0 * dx, cy - t0 * dy, cx - t1 * dx, cy - t1 * dy,
                         m_buildingRadius[i])) {
            continue;
        }
        const double px = cx - b.cx;
        const double py = cy - b.cy;
        const double u0 = px * b.cosA + py * b.sinA;
        const double v0 = -px * b.sinA + py * b.cosA;
        const double du = -(dx * b.cosA + dy * b.sinA);
        const double dv = -(-dx * b.sinA + dy * b.cosA);
        double uIn, uOut, vIn, vOut;
        if (!Slab(u0, du, b.halfLength, uIn, uOut) || !Slab(v0, dv, b.halfWidth, vIn, vOut)) {
            continue;
        }
        const double zIn = cz - b.roofZ;
        const double tIn = std::max({zIn, uIn, vIn});
        const double tOut = std::min(uOut, vOut);
        if (tIn > tOut || tIn < 0.0) {
            continue;
        }
        const double z = cz - tIn;
        if (z > bestZ) {
            bestZ = z;
            building = static_cast<int>(i);
            if (tIn == zIn) {
                face = -1;  // roof
            } else if (tIn == uIn) {
                face = du < 0.0 ? 0 : 1;  // entering from the + side when u decreases
            } else {
                face = dv < 0.0 ? 2 : 3;
            }
        }
    }
    return bestZ;
}

double CDemoTerrain::CastRay(double cx, double cy, double cz, double dx, double dy,
                             double& zGuess) const {
    const double lx = cx - m_dOriginX;
    const double ly = cy - m_dOriginY;
    const double zGround = IntersectGround(lx, ly, cz, dx, dy, zGuess);
    int building = -1;
    int face = -1;
    const double zBuilding = IntersectBuildings(lx, ly, cz, dx, dy, zGround, building, face);
    SurfaceHit hit;
    if (building >= 0 && zBuilding > zGround) {
        hit.z = zBuilding;
        hit.kind = face < 0 ? SurfaceKind::Roof : SurfaceKind::Wall;
        hit.building = building;
        hit.face = face;
    } else {
        hit.z = zGround;
        hit.kind = SurfaceKind::Ground;
        hit.building = -1;
        hit.face = -1;
        zGuess = zGround;
    }
    hit.x = lx + (hit.z - cz) * dx;
    hit.y = ly + (hit.z - cz) * dy;
    return Shade(hit);
}

bool CDemoTerrain::InShadow(double x, double y, double z, int skipRoof) const {
    // Does the ray towards the sun from (x, y, z) pass through a building?
    for (size_t i = 0; i < m_buildings.size(); ++i) {
        if (static_cast<int>(i) == skipRoof) {
            continue;
        }
        const DemoBuilding& b = m_buildings[i];
        if (z >= b.roofZ) {
            continue;
        }
        // Quick rejection: the sun ray up to roof height passes beside the footprint.
        const double tTop = (b.roofZ - z) / m_dSunZ;
        if (!SegmentNear(b.cx, b.cy, x, y, x + tTop * m_dSunX, y + tTop * m_dSunY,
                         m_buildingRadius[i])) {
            continue;
        }
        const double px = x - b.cx;
        const double py = y - b.cy;
        const double u0 = px * b.cosA + py * b.sinA;
        const double v0 = -px * b.sinA + py * b.cosA;
        const double du = m_dSunX * b.cosA + m_dSunY * b.sinA;
        const double dv = -m_dSunX * b.sinA + m_dSunY * b.cosA;
        double uIn, uOut, vIn, vOut;
        if (!Slab(u0, du, b.halfLength, uIn, uOut) || !Slab(v0, dv, b.halfWidth, vIn, vOut)) {
            continue;
        }
        const double tIn = std::max({1e-4, uIn, vIn});
        const double tOut = std::min({tTop, uOut, vOut});
        if (tIn < tOut - 1e-4) {
            return true;
        }
    }
    return false;
}

double CDemoTerrain::Detail(double x, double y, uint32_t seed) const {
    // Fractal detail in about [-1, 1]; the finest octave is about three pixels.
    double sum = 0.0;
    double amplitude = 0.5;
    double inverse = 1.0 / m_dDetailWavelength;
    for (int i = 0; i < m_nDetailOctaves; ++i) {
        sum += amplitude * ValueNoise(x * inverse + 17.0 * i, y * inverse - 31.0 * i, seed + i);
        amplitude *= 0.85;
        inverse *= 2.0;
    }
    return sum;
}

double CDemoTerrain::TreeCrowns(double x, double y) const {
    // One tree per 3.5 m cell at a random spot, crowns of 1.2 to 2.1 m radius,
    // lit from the sun's side; dark ground between them.
    constexpr double kCell = 3.5;
    const double fx = x / kCell, fy = y / kCell;
    const int64_t ix = FloorToInt(fx), iy = FloorToInt(fy);
    double best = 0.0;
    for (int64_t j = iy - 1; j <= iy + 1; ++j) {
        for (int64_t i = ix - 1; i <= ix + 1; ++i) {
            const uint32_t h = HashLattice(i, j, m_nSeedTrees);
            const double tx = (static_cast<double>(i) + 0.15 + 0.7 * ((h & 0xFF) / 255.0)) * kCell;
            const double ty =
                (static_cast<double>(j) + 0.15 + 0.7 * (((h >> 8) & 0xFF) / 255.0)) * kCell;
            const double radius = 1.2 + 0.9 * (((h >> 16) & 0xFF) / 255.0);
            const double dx = (x - tx) / radius, dy = (y - ty) / radius;
            const double d2 = dx * dx + dy * dy;
            if (d2 < 1.0) {
                const double dome = std::sqrt(1.0 - d2);
                const double lit = dome + 0.45 * (dx * m_dSunX + dy * m_dSunY) / 0.7;
                best = std::max(best, 0.35 + 0.65 * lit + 0.08 * ((h >> 24) / 255.0));
            }
        }
    }
    return best > 0.0 ? 60.0 + 80.0 * best : 48.0;
}

double CDemoTerrain::GroundAlbedo(double x, double y) const {
    // Land cover from low-frequency noise with ragged borders: woodland,
    // meadow, ploughed fields and bare soil.
    const double cover = ValueNoise(x / 95.0, y / 95.0, m_nSeedCover) +
                         0.3 * ValueNoise(x / 23.0, y / 23.0, m_nSeedCover2);
    double a;
    if (cover < -0.28) {
        a = TreeCrowns(x, y);
    } else if (cover < 0.05) {
        a = 118.0 + 16.0 * ValueNoise(x / 7.0, y / 7.0, m_nSeedMeadow);
    } else if (cover < 0.38) {
        // Furrows 2.5 m apart; their direction changes from field to field.
        const double angle = 2.0 * ValueNoise(x / 260.0, y / 260.0, m_nSeedRows);
        const double across = x * std::cos(angle) + y * std::sin(angle);
        a = 152.0 + 15.0 * std::sin(across * (2.0 * kPi / 2.5));
    } else {
        a = 172.0 + 20.0 * ValueNoise(x / 5.0, y / 5.0, m_nSeedSoil);
    }
    return a + 36.0 * Detail(x, y, m_nSeedDetail);
}

double CDemoTerrain::RoadAlbedo(double along, double across, double x, double y) const {
    const double side = std::fabs(across);
    if (side > m_dRoadHalfWidth + 1.2) {
        return GroundAlbedo(x, y);
    }
    if (side > m_dRoadHalfWidth) {
        return 138.0 + 22.0 * Detail(x, y, m_nSeedDetail + 101);  // gravel shoulder
    }
    if (side > m_dRoadHalfWidth - 0.55 && side < m_dRoadHalfWidth - 0.2) {
        return 222.0;  // edge line
    }
    if (side < 0.17 && Fraction(along / 12.0) < 0.35) {
        return 214.0;  // dashed centre line
    }
    return 82.0 + 14.0 * Detail(x, y, m_nSeedDetail + 202);
}

double CDemoTerrain::Shade(const SurfaceHit& hit) const {
    double albedo;
    double lambert;  // cosine of the sun angle, relative to a flat surface
    int skip = -1;
    if (hit.kind == SurfaceKind::Ground) {
        for (const DemoTarget& t : m_localTargets) {
            const double ox = std::fabs(hit.x - t.x);
            const double oy = std::fabs(hit.y - t.y);
            if (ox < kTargetBorderHalf && oy < kTargetBorderHalf) {
                // Painted targets: pure white and black, values no texture reaches.
                return (ox < kTargetWhiteHalf && oy < kTargetWhiteHalf) ? 255 : 0;
            }
        }
        const double px = hit.x - m_dRoadQX;
        const double py = hit.y - m_dRoadQY;
        const double across = px * m_dRoadNrmX + py * m_dRoadNrmY;
        if (std::fabs(across) < m_dRoadHalfWidth + 1.2) {
            albedo = RoadAlbedo(px * m_dRoadDirX + py * m_dRoadDirY, across, hit.x, hit.y);
        } else {
            albedo = GroundAlbedo(hit.x, hit.y);
        }
        // Hillshade from the slope of the terrain, exaggerated so that the
        // gentle hills show.
        double gx, gy;
        RenderSlope(hit.x, hit.y, gx, gy);
        gx *= kReliefShading;
        gy *= kReliefShading;
        const double n = 1.0 / std::sqrt(gx * gx + gy * gy + 1.0);
        lambert = (-gx * m_dSunX - gy * m_dSunY + m_dSunZ) * n / m_dSunZ;
    } else if (hit.kind == SurfaceKind::Roof) {
        const DemoBuilding& b = m_buildings[hit.building];
        const double dx = hit.x - b.cx;
        const double dy = hit.y - b.cy;
        const double u = std::fabs(dx * b.cosA + dy * b.sinA);
        const double v = std::fabs(-dx * b.sinA + dy * b.cosA);
        if (u > b.halfLength - 0.6 || v > b.halfWidth - 0.6) {
            albedo = 214.0;  // parapet
        } else {
            albedo = 186.0 + 16.0 * Detail(hit.x, hit.y, m_nSeedRoof) +
                     10.0 * ValueNoise(hit.x / 1.7, hit.y / 1.7, m_nSeedRoof + 7);
        }
        lambert = 1.0;
        skip = hit.building;
    } else {
        const DemoBuilding& b = m_buildings[hit.building];
        // Outward normal of the face and the coordinate along it.
        double nx, ny, along;
        const double dx = hit.x - b.cx;
        const double dy = hit.y - b.cy;
        if (hit.face <= 1) {
            const double s = hit.face == 0 ? 1.0 : -1.0;
            nx = s * b.cosA;
            ny = s * b.sinA;
            along = -dx * b.sinA + dy * b.cosA;
        } else {
            const double s = hit.face == 2 ? 1.0 : -1.0;
            nx = -s * b.sinA;
            ny = s * b.cosA;
            along = dx * b.cosA + dy * b.sinA;
        }
        const double below = b.roofZ - hit.z;
        const bool window = Fraction(below / 3.0) > 0.35 && Fraction(below / 3.0) < 0.75 &&
                            Fraction((along + 1000.0) / 2.6) > 0.3 &&
                            Fraction((along + 1000.0) / 2.6) < 0.7;
        albedo =
            window ? 48.0 : 138.0 + 8.0 * ValueNoise(along / 1.3, below / 1.3, m_nSeedRoof + 11);
        lambert = std::max(0.0, nx * m_dSunX + ny * m_dSunY) / m_dSunZ;
    }
    if (lambert > 0.0 && InShadow(hit.x, hit.y, hit.z, skip)) {
        lambert = 0.0;
    }
    const double value = albedo * (0.4 + 0.6 * std::clamp(lambert, 0.0, 1.6));
    // Natural values stay within 16..240, so that 0 and 255 mark targets only.
    return std::clamp(value, 16.0, 240.0);
}

}  // namespace demo
