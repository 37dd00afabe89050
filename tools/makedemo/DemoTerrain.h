// The synthetic world of the demo project: a height function over ground
// coordinates (smooth hills with a road cut through them and a few box-shaped
// buildings), its surface texture, and the cast of one ray of a photograph
// against it.
//
// Coordinates: ground X, Y, Z in metres. Internally everything is computed in
// local ground coordinates, x = X - origin X and y = Y - origin Y, so that the
// noise lattices keep full precision with map-sized eastings and northings.
// Every value is a pure function of the ground position and the seed: two
// photographs that look at the same ground point see the same grey value.
#pragma once

#include <cstdint>
#include <vector>

namespace demo {

// Deterministic random numbers (splitmix64): the same sequence on every
// platform and standard library, unlike the std distributions.
class CDemoRandom {
public:
    explicit CDemoRandom(uint64_t seed) : m_nState(seed) {}
    uint64_t Next();
    double Uniform();                    // [0, 1)
    double Uniform(double a, double b);  // [a, b)
    double Normal();                     // mean 0, standard deviation 1
private:
    uint64_t m_nState;
};

// Mixes two integers into one well-spread seed.
uint64_t MixSeed(uint64_t a, uint64_t b);

// Value noise in [-1, 1] at lattice coordinates (x, y): random values at the
// integer lattice, blended with a quintic fade (continuous slope).
double ValueNoise(double x, double y, uint32_t seed);

// A flat-roofed block. Local ground metres; the long axis points along angle.
struct DemoBuilding {
    double cx, cy;      // centre of the footprint
    double halfLength;  // half extent along the long axis
    double halfWidth;   // half extent across it
    double cosA, sinA;  // direction of the long axis
    double roofZ;       // ground Z of the roof
};

// A surveyed control target painted on the ground: a white square with a
// black border, centred on (x, y). Absolute ground coordinates.
struct DemoTarget {
    double x, y, z;
};

// Half sides of a target: the white square and the outer edge of the black border.
constexpr double kTargetWhiteHalf = 0.8;
constexpr double kTargetBorderHalf = 1.45;

// Steep relief of the surface (CDemoTerrain::ReliefAt).
enum class ReliefKind { None, BuildingEdge, RoadSlope };

// What a ray meets first.
enum class SurfaceKind { Ground, Roof, Wall };

struct SurfaceHit {
    double x, y, z;  // local ground
    SurfaceKind kind;
    int building;  // building index for Roof and Wall
    int face;      // Wall: 0 +long axis, 1 -long axis, 2 +across, 3 -across
};

class CDemoTerrain {
public:
    // seed: terrain and texture variation; originX, originY: ground position of
    // the local origin (centre of the features); baseZ: mean terrain height;
    // pixelGround: ground size of one image pixel, which sets the finest
    // texture detail that is still drawn without aliasing.
    CDemoTerrain(uint64_t seed, double originX, double originY, double baseZ, double pixelGround);

    double OriginX() const { return m_dOriginX; }
    double OriginY() const { return m_dOriginY; }
    double BaseZ() const { return m_dBaseZ; }

    // Heights in ground Z at absolute ground X, Y.
    // Terrain: hills with the road cut, without buildings.
    double TerrainHeight(double X, double Y) const;
    // Surface: the terrain, or the roof inside a building footprint (what an
    // image matcher measures).
    double SurfaceHeight(double X, double Y) const;
    // Distance (metres) from X, Y to the nearest building footprint edge, 0 inside.
    double DistanceToBuilding(double X, double Y) const;
    // Distance (metres) to the nearest footprint edge: positive outside every
    // footprint, negative inside one.
    double SignedBuildingDistance(double X, double Y) const;
    // True when a target of the usual size fits at X, Y: away from buildings,
    // their shadows and the road with its cut slopes.
    bool IsClearSite(double X, double Y) const;
    // Steep relief within `reach` metres of X, Y: a building footprint edge
    // (a wall between ground and roof), or the road's cut or fill slopes with
    // the breaks of slope at their top and foot. Elsewhere the surface is the
    // smooth hills.
    ReliefKind ReliefAt(double X, double Y, double reach) const;

    void SetTargets(const std::vector<DemoTarget>& targets);
    const std::vector<DemoTarget>& Targets() const { return m_targets; }
    const std::vector<DemoBuilding>& Buildings() const { return m_buildings; }

    // Casts the ray through the projection centre (cx, cy, cz) (absolute
    // ground) whose ground position at height Z is
    // (cx + (Z - cz) * dx, cy + (Z - cz) * dy), and returns the grey value of
    // the first surface it meets (0 .. 255, not rounded). zGuess is a
    // starting height for the search (the previous pixel's height is a good
    // one) and receives the height hit.
    double CastRay(double cx, double cy, double cz, double dx, double dy, double& zGuess) const;

    // Grey value of a surface point (local ground coordinates), not rounded:
    // 16 .. 240 for natural surfaces, 0 and 255 for the painted targets only.
    double Shade(const SurfaceHit& hit) const;

    // Local terrain height (hills with the road) at local x, y.
    double Ground(double x, double y) const;

    // Samples the hills on a grid over the absolute ground rectangle, with
    // the terrain's slopes, for rendering: a bilinear look-up is far cheaper
    // than the hills' noise, and within a few millimetres of it; the road's
    // cut and fill are added exactly, so its breaks of slope stay sharp.
    // Outside the grid rendering uses the exact terrain. threads: how many
    // threads compute it.
    void BuildRenderGrid(double minX, double maxX, double minY, double maxY, double step,
                         int threads);
    // Rendering height and slope at local x, y: from the grid where it has one.
    double RenderHeight(double x, double y) const;
    void RenderSlope(double x, double y, double& gx, double& gy) const;

private:
    double Natural(double x, double y) const;  // hills without the road
    double RoadLevel(double x, double y) const;
    // The terrain at local x, y whose natural height (hills without the road) is `natural`.
    double WithRoad(double x, double y, double natural) const;
    double Detail(double x, double y, uint32_t seed) const;
    double GroundAlbedo(double x, double y) const;
    double TreeCrowns(double x, double y) const;
    double RoadAlbedo(double along, double across, double x, double y) const;
    bool InShadow(double x, double y, double z, int skipRoof) const;
    // Height at which the ray first meets the terrain (secant on z - Ground).
    double IntersectGround(double cx, double cy, double cz, double dx, double dy,
                           double zStart) const;
    // Highest entry height of the ray into any building box above zFloor, or -infinity.
    double IntersectBuildings(double cx, double cy, double cz, double dx, double dy, double zFloor,
                              int& building, int& face) const;

    double m_dOriginX, m_dOriginY, m_dBaseZ;
    double m_dTrendX, m_dTrendY;  // regional slope

    struct Octave {
        double inverseWavelength;
        double amplitude;
        double offsetX, offsetY;
        uint32_t seed;
    };
    std::vector<Octave> m_hills;

    struct Hill {
        double cx, cy, height, inverseTwoSigmaSq;
    };
    std::vector<Hill> m_bumps;

    // Road: centre line through (qx, qy) along (dirX, dirY); normal (nrmX, nrmY).
    double m_dRoadQX, m_dRoadQY, m_dRoadDirX, m_dRoadDirY, m_dRoadNrmX, m_dRoadNrmY;
    double m_dRoadHalfWidth;  // paved half width
    double m_dRoadSideSlope;  // cut and fill slope (rise per metre)
    double m_dRoadReach;      // beyond this distance from the pavement the road has no effect

    std::vector<DemoBuilding> m_buildings;
    std::vector<double> m_buildingRadius;  // half diagonal of each footprint

    // Rendering grid (local ground): nodes at (x0 + i step, y0 + j step);
    // natural heights (the road's sharp breaks of slope are added exactly
    // where the grid is read), the terrain's slopes for shading.
    struct RenderGrid {
        double x0 = 0, y0 = 0, step = 1, inverse = 1;
        int64_t nx = 0, ny = 0;
        std::vector<float> height, slopeX, slopeY;
    } m_grid;
    std::vector<DemoTarget> m_targets;       // absolute ground
    std::vector<DemoTarget> m_localTargets;  // local ground

    // Texture: detail octaves from the coarsest wavelength down to about three pixels.
    double m_dDetailWavelength;
    int m_nDetailOctaves;
    uint32_t m_nSeedCover, m_nSeedCover2, m_nSeedTrees, m_nSeedMeadow, m_nSeedSoil, m_nSeedRows,
        m_nSeedDetail, m_nSeedRoof;

    // Unit vector towards the sun.
    double m_dSunX, m_dSunY, m_dSunZ;
};

}  // namespace demo
