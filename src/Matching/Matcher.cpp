// Match Z: correlation search along a line of heights, least-squares
// refinement, ray intersection. See Matcher.h.
#include "Matching/Matcher.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "Checking/SurfaceTargets.h"
#include "Platform/Parallel.h"

namespace {

constexpr int kParams = 6;  // s, t, gu, gv, offset, gain (see CMatcher::Refine)
// Passes of the [1 2 1] filter over both windows before the refinement.
constexpr int kSmoothPasses = 2;

template <typename T>
inline double Load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<double>(v);
}

// Cholesky factorisation of the symmetric n x n matrix `a` (upper triangle
// read) in place into its lower triangle; false when not positive definite.
bool Cholesky(double (&a)[kParams][kParams]) {
    for (int j = 0; j < kParams; ++j) {
        double d = a[j][j];
        for (int k = 0; k < j; ++k) d -= a[j][k] * a[j][k];
        if (!(d > 0.0)) return false;
        a[j][j] = std::sqrt(d);
        for (int i = j + 1; i < kParams; ++i) {
            double s = a[j][i];
            for (int k = 0; k < j; ++k) s -= a[i][k] * a[j][k];
            a[i][j] = s / a[j][j];
        }
    }
    return true;
}

void CholeskySolve(const double (&l)[kParams][kParams], const double* b, double* x) {
    double y[kParams];
    for (int i = 0; i < kParams; ++i) {
        double s = b[i];
        for (int k = 0; k < i; ++k) s -= l[i][k] * y[k];
        y[i] = s / l[i][i];
    }
    for (int i = kParams - 1; i >= 0; --i) {
        double s = y[i];
        for (int k = i + 1; k < kParams; ++k) s -= l[k][i] * x[k];
        x[i] = s / l[i][i];
    }
}

// Normalised cross-correlation of two windows of n samples; NaN when either is flat.
double Correlation(const double* a, const double* b, size_t n) {
    double sa = 0.0, sb = 0.0;
    for (size_t i = 0; i < n; ++i) {
        sa += a[i];
        sb += b[i];
    }
    const double ma = sa / static_cast<double>(n), mb = sb / static_cast<double>(n);
    double saa = 0.0, sbb = 0.0, sab = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double da = a[i] - ma, db = b[i] - mb;
        saa += da * da;
        sbb += db * db;
        sab += da * db;
    }
    if (!(saa > 0.0) || !(sbb > 0.0)) return NAN;
    return sab / std::sqrt(saa * sbb);
}

// The [1 2 1] / 4 binomial filter in both directions over a square of
// side x side samples, into the (side - 2) x (side - 2) interior.
void Blur(const double* in, int side, double* out) {
    const int inner = side - 2;
    std::vector<double> rows(static_cast<size_t>(side) * inner);
    for (int r = 0; r < side; ++r) {
        const double* s = in + static_cast<size_t>(r) * side;
        for (int c = 0; c < inner; ++c)
            rows[static_cast<size_t>(r) * inner + c] = 0.25 * (s[c] + 2.0 * s[c + 1] + s[c + 2]);
    }
    for (int r = 0; r < inner; ++r) {
        for (int c = 0; c < inner; ++c) {
            const double* s = &rows[static_cast<size_t>(r) * inner + c];
            out[static_cast<size_t>(r) * inner + c] = 0.25 * (s[0] + 2.0 * s[inner] + s[2 * inner]);
        }
    }
}

// `passes` of Blur: a square of side + 2 passes samples into side x side.
void BlurPasses(std::vector<double>& in, int side, int passes, double* out) {
    std::vector<double> tmp;
    for (int k = passes; k > 1; --k) {
        const int from = side + 2 * k;
        tmp.resize(static_cast<size_t>(from - 2) * (from - 2));
        Blur(in.data(), from, tmp.data());
        in.swap(tmp);
    }
    Blur(in.data(), side + 2, out);
}

double StandardDeviation(const std::vector<double>& v) {
    double s = 0.0, ss = 0.0;
    for (double x : v) s += x;
    const double m = s / static_cast<double>(v.size());
    for (double x : v) ss += (x - m) * (x - m);
    return std::sqrt(ss / static_cast<double>(v.size()));
}

}  // namespace

const char* MatchStatusName(MatchStatus status) {
    switch (status) {
        case MatchStatus::Matched:
            return "matched";
        case MatchStatus::NoMatch:
            return "no-match";
        case MatchStatus::Outside:
            return "outside";
    }
    return "no-match";
}

bool IsValidMatchWindow(int window) {
    return window >= kMinMatchWindow && window <= kMaxMatchWindow && window % 2 == 1;
}

// Window offset (u, v) in pixels from its centre, u to the right, v down,
// to image position (sub-image pixels): x = cx + a00 u + a01 v, y = cy + a10 u + a11 v.
struct CMatcher::Affine {
    double cx = 0.0, cy = 0.0;
    double a00 = 1.0, a01 = 0.0, a10 = 0.0, a11 = 1.0;
};

namespace {

// Bilinear samples of a window; false when any position falls outside the
// band (outer samples included) or any sample is not finite.
// Weights of the cubic convolution kernel (a = -0.5) for samples -1, 0, 1,
// 2 around a position t (0 <= t < 1) past sample 0.
inline void CubicWeights(double t, double* w) {
    const double t2 = t * t, t3 = t2 * t;
    w[0] = -0.5 * t3 + t2 - 0.5 * t;
    w[1] = 1.5 * t3 - 2.5 * t2 + 1.0;
    w[2] = -1.5 * t3 + 2.0 * t2 + 0.5 * t;
    w[3] = 0.5 * t3 - 0.5 * t2;
}

// Samples of a window, bilinear (the search) or by cubic convolution (the
// refinement, whose sum of squares must be smooth in the position: with
// bilinear samples its slope jumps wherever a sample crosses a pixel border,
// and Gauss-Newton then wanders by hundredths of a pixel instead of
// settling). False when any position needs a pixel outside the band or any
// sample is not finite.
template <typename T, bool Cubic, typename Band, typename Affine>
bool SampleWindowT(const Band& b, const Affine& m, int half, double* out) {
    const int64_t cols = b.cols;
    const double lo = Cubic ? 1.0 : 0.0;
    const double maxX = b.cols - (Cubic ? 3 : 1), maxY = b.rows - (Cubic ? 3 : 1);
    for (int v = -half; v <= half; ++v) {
        for (int u = -half; u <= half; ++u) {
            const double x = m.cx + m.a00 * u + m.a01 * v;
            const double y = m.cy + m.a10 * u + m.a11 * v;
            if (!(x >= lo && y >= lo && x <= maxX && y <= maxY)) return false;
            const int c = std::min(static_cast<int>(x), b.cols - 2);
            const int r = std::min(static_cast<int>(y), b.rows - 2);
            const double fx = x - c, fy = y - r;
            double value;
            if constexpr (Cubic) {
                double wx[4], wy[4];
                CubicWeights(fx, wx);
                CubicWeights(fy, wy);
                value = 0.0;
                const unsigned char* row =
                    b.data + (static_cast<int64_t>(r - 1) * cols + c - 1) * sizeof(T);
                for (int j = 0; j < 4; ++j, row += cols * sizeof(T)) {
                    const double line = wx[0] * Load<T>(row) + wx[1] * Load<T>(row + sizeof(T)) +
                                        wx[2] * Load<T>(row + 2 * sizeof(T)) +
                                        wx[3] * Load<T>(row + 3 * sizeof(T));
                    value += wy[j] * line;
                }
            } else {
                const unsigned char* p = b.data + (static_cast<int64_t>(r) * cols + c) * sizeof(T);
                const double p00 = Load<T>(p), p10 = Load<T>(p + sizeof(T));
                const double p01 = Load<T>(p + cols * sizeof(T));
                const double p11 = Load<T>(p + (cols + 1) * sizeof(T));
                value =
                    p00 + fx * (p10 - p00) + fy * (p01 - p00) + fx * fy * (p00 - p10 - p01 + p11);
            }
            if (!std::isfinite(value)) return false;
            *out++ = value;
        }
    }
    return true;
}

template <bool Cubic, typename Band, typename Affine>
bool SampleWindowOf(const Band& b, const Affine& m, int half, double* out) {
    switch (b.packing) {
        case 2:
            return SampleWindowT<uint16_t, Cubic>(b, m, half, out);
        case 3:
            return SampleWindowT<int16_t, Cubic>(b, m, half, out);
        case 4:
            return SampleWindowT<uint32_t, Cubic>(b, m, half, out);
        case 5:
            return SampleWindowT<int32_t, Cubic>(b, m, half, out);
        case 6:
            return SampleWindowT<float, Cubic>(b, m, half, out);
        case 7:
            return SampleWindowT<double, Cubic>(b, m, half, out);
        default:
            return SampleWindowT<uint8_t, Cubic>(b, m, half, out);
    }
}

template <typename Band, typename Affine>
bool SampleWindow(const Band& b, const Affine& m, int half, double* out) {
    return SampleWindowOf<false>(b, m, half, out);
}

template <typename Band, typename Affine>
bool SampleWindowCubic(const Band& b, const Affine& m, int half, double* out) {
    return SampleWindowOf<true>(b, m, half, out);
}

// Scanned-image position of a sub-image position and the ground point of
// its ray at height z.
bool SubImageToGround(const CAerialPhoto& photo, double column, double row, double z, double& X,
                      double& Y) {
    double pixel[2];
    photo.SubImageToScanned(column, row, pixel[0], pixel[1]);
    return photo.ImageToGround(pixel, &z, X, Y) >= 0;
}

bool GroundToSubImage(const CAerialPhoto& photo, double X, double Y, double z, double& column,
                      double& row) {
    double c, r;
    if (photo.GroundToImage(X, Y, z, c, r) < 0) return false;
    photo.ScannedToSubImage(c, r, column, row);
    return true;
}

// Height of the point of ray 1 (through sub-image position c1, r1 of photo 1)
// closest to ray 2; NaN when the rays are parallel or do not exist.
double ClosestApproachZ(const CAerialPhoto& p1, double c1, double r1, const CAerialPhoto& p2,
                        double c2, double r2, double z) {
    double ax, ay, a1x, a1y, bx, by, b1x, b1y;
    if (!SubImageToGround(p1, c1, r1, z, ax, ay) ||
        !SubImageToGround(p1, c1, r1, z + 1.0, a1x, a1y) ||
        !SubImageToGround(p2, c2, r2, z, bx, by) ||
        !SubImageToGround(p2, c2, r2, z + 1.0, b1x, b1y))
        return NAN;
    // Ray 1: A + s d1, ray 2: B + t d2, both directions with a unit height step.
    const double d1[3] = {a1x - ax, a1y - ay, 1.0}, d2[3] = {b1x - bx, b1y - by, 1.0};
    const double w[3] = {ax - bx, ay - by, 0.0};
    auto dot = [](const double* p, const double* q) {
        return p[0] * q[0] + p[1] * q[1] + p[2] * q[2];
    };
    const double a = dot(d1, d1), b = dot(d1, d2), c = dot(d2, d2), d = dot(d1, w), e = dot(d2, w);
    const double denom = a * c - b * b;
    if (!(std::fabs(denom) > 1e-15 * a * c)) return NAN;
    return z + (b * e - c * d) / denom;
}

}  // namespace

CMatcher::CMatcher(const CAerialPhoto& left, const CAerialPhoto& right, const MatchOptions& options)
    : m_left(left), m_right(right), m_options(options) {
    const MatchOptions& o = m_options;
    auto positive = [](double v) { return std::isfinite(v) && v > 0.0; };
    if (!IsValidMatchWindow(o.window) || !positive(o.minRange) || !positive(o.maxParallax) ||
        !positive(o.stepParallax) || !positive(o.convergence) || !(o.range >= 0.0) ||
        !std::isfinite(o.range) || !(o.spreadFactor >= 0.0) || o.maxIterations < 1 || o.band < 0 ||
        o.threads < 0) {
        m_nStatus = -1;
        return;
    }
    m_nHalf = o.window / 2;
    for (auto [photo, band] : {std::pair{&left, &m_leftBand}, std::pair{&right, &m_rightBand}}) {
        const CErdasImage& image = photo->m_image;
        unsigned char** bands = image.GetBands();
        const LanHeader& h = image.GetHeader();
        if (!bands || o.band >= h.nbands || h.ncols < 2 || h.nrows < 2 ||
            !photo->m_ppGroundToImage || !photo->m_ppInterior || !photo->m_ppRotation) {
            m_nStatus = -2;
            return;
        }
        band->data = bands[o.band];
        band->packing = h.packing;
        band->cols = h.ncols;
        band->rows = h.nrows;
    }
    m_nStatus = 1;
}

bool CMatcher::LeftAt(double x, double y, double z, double& column, double& row) const {
    return GroundToSubImage(m_left, x, y, z, column, row);
}

bool CMatcher::LeftToRight(double lc, double lr, double z, Affine& map) const {
    const double h = m_nHalf;
    auto at = [&](double du, double dv, double& c, double& r) {
        double X, Y;
        return SubImageToGround(m_left, lc + du, lr + dv, z, X, Y) &&
               GroundToSubImage(m_right, X, Y, z, c, r);
    };
    double c0, r0, cl, rl, cr, rr, cu, ru, cd, rd;
    if (!at(0, 0, c0, r0) || !at(-h, 0, cl, rl) || !at(h, 0, cr, rr) || !at(0, -h, cu, ru) ||
        !at(0, h, cd, rd))
        return false;
    map.cx = c0;
    map.cy = r0;
    map.a00 = (cr - cl) / (2 * h);
    map.a10 = (rr - rl) / (2 * h);
    map.a01 = (cd - cu) / (2 * h);
    map.a11 = (rd - ru) / (2 * h);
    return true;
}

// Least-squares matching of the right window to the fixed left window
// `smooth` (its samples smoothed; `left` unsmoothed for the correlation).
// The right window starts at `map`, the orientations' left-to-right mapping
// at the trial height, and only corrections to it are estimated, in the
// directions the epipolar geometry gives (unit vector ec, er along the
// right epipolar line, the parallax direction; its normal across it):
//   s       shift along the epipolar line: the parallax (pixels)
//   t       shift across it: the y-parallax (pixels)
//   gu, gv  the change of parallax across the window in u and v, at the
//           window's edge (pixels): what a sloping surface does to the
//           mapping, a correction along the epipolar line only (a change
//           across it would need errors of the orientations; estimating it
//           too, the full affine, matched fewer of the demo's points and
//           less accurately)
//   offset, gain  radiometry: left = offset + gain right.
// Gauss-Newton in two stages: the shifts and the radiometry first (well
// conditioned on any texture that carries parallax), then the slope terms
// too from where the first stage settled. Each stage has converged when the
// last step changed the parallax by less than options.convergence: on
// one-directional texture the window may slide along its stripes, which
// changes nothing that is measured. True when
// it converged; `map` then holds the refined geometry, `result` the
// correlation, the parallax's standard deviation and the iterations. False
// also when the window leaves the right image (result's status then Outside).
bool CMatcher::Refine(const std::vector<double>& left, const std::vector<double>& smooth, double ec,
                      double er, Affine& map, double& gain, double& offset,
                      MatchResult& result) const {
    const MatchOptions& o = m_options;
    const int half = m_nHalf;
    const size_t n = left.size();
    const double h = half;
    // The right window one pixel wider on every side: the gradient comes from
    // central differences across it, a smooth function of the parameters.
    // Both windows are smoothed by two passes of the [1 2 1] / 4 filter
    // first: texture near the pixel size is sampled differently in the two
    // photographs and only adds noise (one pass: 97.0 % of the demo's
    // textured points on smooth ground matched, RMSE 0.060 px; two: 97.8 %,
    // 0.059 px; three gain nothing more).
    const int wide = 2 * half + 3;
    std::vector<double> samples(static_cast<size_t>(wide) * wide);
    const int passes = kSmoothPasses;
    std::vector<double> wider;
    const Affine start = map;
    const double nc = -er, nr = ec;  // across the epipolar line
    double p[kParams] = {0.0, 0.0, 0.0, 0.0, offset, gain};
    auto current = [&]() {
        Affine a;
        a.cx = start.cx + ec * p[0] + nc * p[1];
        a.cy = start.cy + er * p[0] + nr * p[1];
        a.a00 = start.a00 + ec * p[2] / h;
        a.a01 = start.a01 + ec * p[3] / h;
        a.a10 = start.a10 + er * p[2] / h;
        a.a11 = start.a11 + er * p[3] / h;
        return a;
    };
    double normal[kParams][kParams];  // upper triangle
    double rhs[kParams];
    double sse = 0.0;
    bool converged = false;
    bool slopes = false;  // second stage: the slope terms too
    int used = 0;
    for (int it = 1; it <= o.maxIterations; ++it) {
        result.iterations = it;
        const Affine a = current();
        wider.resize(static_cast<size_t>(wide + 2 * passes) * (wide + 2 * passes));
        if (!SampleWindowCubic(m_rightBand, a, half + 1 + passes, wider.data())) {
            result.status = MatchStatus::Outside;
            return false;
        }
        BlurPasses(wider, wide, passes, samples.data());
        const double det = a.a00 * a.a11 - a.a01 * a.a10;
        if (!(std::fabs(det) > 1e-6)) return false;
        for (auto& row : normal) std::fill(std::begin(row), std::end(row), 0.0);
        std::fill(std::begin(rhs), std::end(rhs), 0.0);
        sse = 0.0;
        size_t k = 0;
        const double g = p[5];
        for (int v = -half; v <= half; ++v) {
            for (int u = -half; u <= half; ++u, ++k) {
                const double un = u / h, vn = v / h;
                const double* s =
                    &samples[static_cast<size_t>((v + half + 1) * wide + u + half + 1)];
                const double value = s[0];
                // Gradient across the window, then in the image's axes
                // through the inverse of the affine map's linear part, then
                // along and across the epipolar line.
                const double du = 0.5 * (s[1] - s[-1]), dv = 0.5 * (s[wide] - s[-wide]);
                const double gx = (a.a11 * du - a.a10 * dv) / det;
                const double gy = (-a.a01 * du + a.a00 * dv) / det;
                const double ge = g * (gx * ec + gy * er), gn = g * (gx * nc + gy * nr);
                const double e = smooth[k] - (p[4] + g * value);
                const double j[kParams] = {ge, gn, ge * un, ge * vn, 1.0, value};
                for (int r = 0; r < kParams; ++r) {
                    rhs[r] += j[r] * e;
                    for (int c = r; c < kParams; ++c) normal[r][c] += j[r] * j[c];
                }
                sse += e * e;
            }
        }
        // In the first stage the slope terms are held where they are.
        used = slopes ? kParams : kParams - 2;
        if (!slopes) {
            for (int r : {2, 3}) {
                for (int c = 0; c < kParams; ++c) normal[std::min(r, c)][std::max(r, c)] = 0.0;
                normal[r][r] = 1.0;
                rhs[r] = 0.0;
            }
        }
        double factor[kParams][kParams];  // normal stays for the covariance
        std::memcpy(factor, normal, sizeof factor);
        if (!Cholesky(factor)) return false;
        double delta[kParams];
        CholeskySolve(factor, rhs, delta);
        for (int i = 0; i < kParams; ++i) p[i] += delta[i];
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !(p[5] > 0.0)) return false;
        // Wandered off the peak the search found: another peak or none.
        if (std::hypot(p[0], p[1]) > 2.0) return false;
        if (std::fabs(delta[0]) < o.convergence) {
            if (slopes) {
                converged = true;
                break;
            }
            slopes = true;
        }
    }
    if (!converged) return false;
    map = current();
    gain = p[5];
    offset = p[4];
    // Standard deviation of the parallax: sigma0^2 times its element of N^-1.
    if (!Cholesky(normal)) return false;
    const double dof = static_cast<double>(n) - used;
    const double s0 = dof > 0 ? sse / dof : NAN;
    double e0[kParams] = {1, 0, 0, 0, 0, 0}, c0[kParams];
    CholeskySolve(normal, e0, c0);
    result.sigmaPx = std::sqrt(std::max(0.0, s0 * c0[0]));
    std::vector<double> right(n);
    if (!SampleWindow(m_rightBand, map, half, right.data())) {
        result.status = MatchStatus::Outside;
        return false;
    }
    result.correlation = Correlation(left.data(), right.data(), n);
    return true;
}

MatchResult CMatcher::Match(double x, double y, double z, double centreZ, double range) const {
    MatchResult res;
    res.x = x;
    res.y = y;
    res.z = z;
    res.status = MatchStatus::Outside;
    if (m_nStatus != 1 || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) ||
        !std::isfinite(centreZ))
        return res;
    const MatchOptions& o = m_options;
    const bool keepXY = o.keepXY;
    if (!(range > 0.0) || !std::isfinite(range)) range = o.range > 0.0 ? o.range : o.minRange;
    // The left window's centre (sub-image): fixed on the point's left
    // position along its ray; under X, Y at each height with keepXY.
    double lc0, lr0;
    if (!LeftAt(x, y, z, lc0, lr0)) return res;
    auto leftCentre = [&](double zt, double& lc, double& lr) {
        if (!keepXY) {
            lc = lc0;
            lr = lr0;
            return true;
        }
        return LeftAt(x, y, zt, lc, lr);
    };
    // Parallax per ground unit of height along the search line: how far the
    // right position moves against the left one.
    auto parallaxAt = [&](double zt, double& pc, double& pr) {
        double lc, lr;
        Affine a;
        if (!leftCentre(zt, lc, lr) || !LeftToRight(lc, lr, zt, a)) return false;
        pc = a.cx - lc;
        pr = a.cy - lr;
        return true;
    };
    const double dz = std::max(0.01 * range, 1e-6 * std::fabs(centreZ));
    double pc0, pr0, pc1, pr1;
    if (!parallaxAt(centreZ - dz, pc0, pr0) || !parallaxAt(centreZ + dz, pc1, pr1)) return res;
    const double rate = std::hypot(pc1 - pc0, pr1 - pr0) / (2 * dz);  // pixels per ground unit
    if (!(rate > 0.0) || !std::isfinite(rate)) return res;
    // Epipolar direction in the right photograph (unit vector).
    const double ec = (pc1 - pc0) / (2 * dz * rate), er = (pr1 - pr0) / (2 * dz * rate);
    const double reach = std::min(range, o.maxParallax / rate);
    const int steps = std::max(1, static_cast<int>(std::ceil(reach * rate / o.stepParallax)));
    const double step = reach / steps;
    res.searchZ = centreZ;
    res.searchRange = reach;

    const size_t n = static_cast<size_t>(o.window) * static_cast<size_t>(o.window);
    std::vector<double> left(n), right(n), smooth(n);
    const int passes = kSmoothPasses;
    std::vector<double> wideLeft;
    auto sampleLeft = [&](double lc, double lr) {
        Affine a;
        a.cx = lc;
        a.cy = lr;
        return SampleWindow(m_leftBand, a, m_nHalf, left.data());
    };
    // The correlation search. Trials whose windows leave an image count as
    // no correlation; at the centre of the interval that makes the point Outside.
    const int trials = 2 * steps + 1;
    std::vector<double> ncc(static_cast<size_t>(trials), NAN);
    if (!keepXY) {
        if (!sampleLeft(lc0, lr0)) return res;
        res.texture = StandardDeviation(left);
    }
    int best = -1;
    for (int k = 0; k < trials; ++k) {
        const double zt = centreZ + (k - steps) * step;
        double lc, lr;
        Affine a;
        if (!leftCentre(zt, lc, lr) || (keepXY && !sampleLeft(lc, lr)) ||
            !LeftToRight(lc, lr, zt, a) || !SampleWindow(m_rightBand, a, m_nHalf, right.data())) {
            if (k == steps) return res;
            continue;
        }
        if (keepXY && k == steps) res.texture = StandardDeviation(left);
        ncc[k] = Correlation(left.data(), right.data(), n);
        if (std::isfinite(ncc[k]) && (best < 0 || ncc[k] > ncc[best])) best = k;
    }
    res.status = MatchStatus::NoMatch;
    if (best < 0) return res;
    // The peak must lie inside the interval (a neighbour on each side) and
    // stand out against every other peak: the best value from the feet of
    // the main peak's flanks (where the correlation stops falling from it,
    // at least two steps away) outwards. On a texture of long wavelengths the flanks are
    // wide; two steps alone would measure the flank, not a rival.
    int lo = best, hi = best;
    while (lo > 0 && std::isfinite(ncc[lo - 1]) && ncc[lo - 1] < ncc[lo]) --lo;
    while (hi < trials - 1 && std::isfinite(ncc[hi + 1]) && ncc[hi + 1] < ncc[hi]) ++hi;
    lo = std::min(lo, best - 2);
    hi = std::max(hi, best + 2);
    double other = -INFINITY;
    for (int k = 0; k < trials; ++k) {
        if ((k <= lo || k >= hi) && std::isfinite(ncc[k])) other = std::max(other, ncc[k]);
    }
    res.distinctness = std::isfinite(other) ? ncc[best] - other : NAN;
    if (best == 0 || best == trials - 1 || !std::isfinite(ncc[best - 1]) ||
        !std::isfinite(ncc[best + 1]))
        return res;
    if (!o.refine) return res;

    // Refinement from the best trial; with keepXY the left window is taken
    // again under X, Y at the matched height until the height settles.
    double zt = centreZ + (best - steps) * step;
    double zMatched = NAN, lc = lc0, lr = lr0;
    Affine map;
    bool refined = false;
    double gain = 1.0, offset = 0.0;
    for (int round = 0; round < (keepXY ? 4 : 1); ++round) {
        if (!leftCentre(zt, lc, lr) || (keepXY && !sampleLeft(lc, lr)) ||
            !LeftToRight(lc, lr, zt, map) ||
            !SampleWindow(m_rightBand, map, m_nHalf, right.data())) {
            res.status = MatchStatus::Outside;
            return res;
        }
        // Radiometry to start from: the right window's mean and spread made the left one's.
        double ml = 0.0, mr = 0.0;
        for (size_t i = 0; i < n; ++i) {
            ml += left[i];
            mr += right[i];
        }
        ml /= static_cast<double>(n);
        mr /= static_cast<double>(n);
        const double sr = StandardDeviation(right), sl = StandardDeviation(left);
        gain = sr > 0.0 ? sl / sr : 1.0;
        offset = ml - gain * mr;
        res.status = MatchStatus::NoMatch;
        {
            Affine a;
            a.cx = lc;
            a.cy = lr;
            wideLeft.resize(static_cast<size_t>(o.window + 2 * passes) * (o.window + 2 * passes));
            if (!SampleWindowCubic(m_leftBand, a, m_nHalf + passes, wideLeft.data())) {
                res.status = MatchStatus::Outside;
                return res;
            }
            BlurPasses(wideLeft, o.window, passes, smooth.data());
        }
        // The epipolar direction at this left position and height.
        double ecr = ec, err = er;
        {
            Affine lo, hi;
            const double d = 0.5 / rate;
            if (LeftToRight(lc, lr, zt - d, lo) && LeftToRight(lc, lr, zt + d, hi)) {
                const double len = std::hypot(hi.cx - lo.cx, hi.cy - lo.cy);
                if (len > 0.0) {
                    ecr = (hi.cx - lo.cx) / len;
                    err = (hi.cy - lo.cy) / len;
                }
            }
        }
        refined = Refine(left, smooth, ecr, err, map, gain, offset, res);
        if (!refined) {
            if (res.status == MatchStatus::Outside) {
                res.correlation = NAN;
                res.sigmaPx = NAN;
            }
            return res;
        }
        zMatched = ClosestApproachZ(m_left, lc, lr, m_right, map.cx, map.cy, zt);
        if (!std::isfinite(zMatched)) return res;
        const bool settled = std::fabs(zMatched - zt) * rate < 10.0 * o.convergence;
        zt = zMatched;
        if (!keepXY || settled) break;
    }
    // y-parallax: the matched right position against the left ray's point at
    // the matched height, across the epipolar direction.
    double X, Y, pc, pr;
    if (SubImageToGround(m_left, lc, lr, zMatched, X, Y) &&
        GroundToSubImage(m_right, X, Y, zMatched, pc, pr))
        res.yParallax = ec * (map.cy - pr) - er * (map.cx - pc);
    // The matched height must lie in the searched interval (a step beyond
    // its ends at most).
    if (std::fabs(zMatched - centreZ) > reach + step) return res;
    if (!(res.correlation >= o.minCorrelation) || !(res.sigmaPx <= o.maxSigma) ||
        !(res.distinctness >= o.minDistinctness))
        return res;
    if (keepXY) {
        res.z = zMatched;
    } else {
        TINPoint p{-1, x, y, z, 0.0};
        if (m_left.MoveAlongRay(p, zMatched - z) < 0) return res;
        res.x = p.x;
        res.y = p.y;
        res.z = p.z;
    }
    res.status = MatchStatus::Matched;
    return res;
}

int MatchPoints(const CTINPoints& ground, const CAerialPhoto& left, const CAerialPhoto& right,
                const CLocalSurface* surface, const std::vector<int>& indices, bool leaveOutListed,
                const MatchOptions& options, std::vector<MatchResult>& results,
                const MatchProgress& progress, const std::atomic<bool>* cancel) {
    results.clear();
    const CMatcher matcher(left, right, options);
    if (matcher.Status() < 0) return matcher.Status();
    CLocalSurface own;
    if (!surface) {
        if (own.Build(ground, CheckOptions()) < 0) return -4;
        surface = &own;
    }
    // Every listed record left out of every surface estimate, or only itself.
    std::vector<uint8_t> mask;
    SurfaceTargetOptions targetOptions;
    targetOptions.keepXY = options.keepXY;
    targetOptions.leaveOutListed = leaveOutListed;
    std::vector<SurfaceTarget> targets;
    if (leaveOutListed) {
        mask.assign(static_cast<size_t>(surface->Count()), 0);
        for (int i : indices) {
            if (i >= 0 && i < surface->Count()) mask[i] = 1;
        }
        ComputeSurfaceTargets(*surface, left, indices, targets, targetOptions);
    }
    const int64_t total = static_cast<int64_t>(indices.size());
    results.assign(indices.size(), MatchResult());
    const int threads = Platform::ThreadCount(options.threads, 16);
    auto matchOne = [&](int64_t k) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return;
        const int index = indices[static_cast<size_t>(k)];
        MatchResult& r = results[static_cast<size_t>(k)];
        r.index = index;
        const TINPoint* p = ground.GetPoint(index);
        if (!p || p->id < 0) return;  // not live: no match, nothing moves
        SurfaceTarget target;
        if (leaveOutListed) {
            target = targets[static_cast<size_t>(k)];
        } else {
            std::vector<SurfaceTarget> one;
            ComputeSurfaceTargets(*surface, left, {index}, one, targetOptions);
            target = one.front();
        }
        double centre = p->z;
        double range = options.range > 0.0 ? options.range : options.minRange;
        if (target.status == TargetStatus::Converged) {
            centre = target.z;
            const SurfaceEstimate e =
                surface->At(target.x, target.y, index, mask.empty() ? nullptr : mask.data());
            if (options.range <= 0.0 && e.status == SurfaceStatus::Fitted)
                range = std::max(options.minRange, options.spreadFactor * e.spread);
        }
        r = matcher.Match(p->x, p->y, p->z, centre, range);
        r.index = index;
    };
    // Blocks of points, so that progress and cancelling are seen on the
    // calling thread; the points of a block are independent of each other.
    constexpr int64_t kBlock = 2048;
    for (int64_t first = 0; first < total; first += kBlock) {
        const int64_t count = std::min(kBlock, total - first);
        Platform::RunParallel(count, threads, [&](int64_t i) { matchOne(first + i); });
        if (cancel && cancel->load()) {
            results.clear();
            return -3;
        }
        if (progress) progress(first + count, total);
    }
    int matched = 0;
    for (const MatchResult& r : results) matched += r.status == MatchStatus::Matched;
    return matched;
}
