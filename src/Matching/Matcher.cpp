// Match Z: correlation search along a line of heights, least-squares
// refinement, ray intersection. See Matcher.h.
#include "Matching/Matcher.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "Checking/SurfaceTargets.h"
#include "Matching/LeastSquares.h"
#include "Platform/Parallel.h"

namespace {

constexpr int kParams = 7;  // s, t, gu, gv, offset, gain, b (see CMatcher::Refine)
// Passes of the [1 2 1] filter over both windows before the refinement.
constexpr int kSmoothPasses = 2;
// The refinement's weights (see CMatcher::Refine): the tapers' standard
// deviations in half windows (the fallbacks', and the narrow window's that
// CMatcher::Match weighs against the plain one); Tukey's constant in robust
// standard deviations of the residuals, and the iterations that set those
// weights. Calibrated on the demo's 2000 x 2000 pair (bench/match_measure).
constexpr double kWindowSigma = 0.45;
constexpr double kNarrowSigma = 0.3;
// The refinements' standard deviations on the demo's smooth ground are about
// a fifth of the errors there (neighbouring smoothed samples are not
// independent, and the photographs differ by more than noise). In those
// standard deviations of the difference between the plain and the narrowed
// window (see CMatcher::Match): beyond kNarrowDisagreement the narrowed one
// is taken when it matches; beyond kWindowDependence, when it does not, the
// height depends on the window and there is no match.
constexpr double kNarrowDisagreement = 8.0;
constexpr double kWindowDependence = 4.0;
constexpr double kTukey = 4.685;
constexpr int kReweighings = 4;
// Pixels: how far the centred window's match may lie from the shifted
// window's that started it (see CMatcher::Match).
constexpr double kSeedAgreement = 0.5;

template <typename T>
inline double Load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<double>(v);
}

using lsq::Cholesky;
using lsq::CholeskySolve;

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

// Correlation of two windows with a weight per sample; NaN when either is flat.
double WeightedCorrelation(const double* a, const double* b, const double* w, size_t n) {
    double sw = 0.0, sa = 0.0, sb = 0.0;
    for (size_t i = 0; i < n; ++i) {
        sw += w[i];
        sa += w[i] * a[i];
        sb += w[i] * b[i];
    }
    if (!(sw > 0.0)) return NAN;
    const double ma = sa / sw, mb = sb / sw;
    double saa = 0.0, sbb = 0.0, sab = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double da = a[i] - ma, db = b[i] - mb;
        saa += w[i] * da * da;
        sbb += w[i] * db * db;
        sab += w[i] * da * db;
    }
    if (!(saa > 0.0) || !(sbb > 0.0)) return NAN;
    return sab / std::sqrt(saa * sbb);
}

// The [1 2 1] / 4 binomial filter in both directions over a square of
// side x side samples, into the (side - 2) x (side - 2) interior.
void Blur(const double* in, int side, double* out) {
    const int inner = side - 2;
    thread_local std::vector<double> rows;  // kept: a refinement filters dozens of windows
    rows.resize(static_cast<size_t>(side) * inner);
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
    thread_local std::vector<double> tmp;
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

struct CMatcher::Seed {
    Affine map;
    double z = NAN;
    double distinctness = NAN;
};

namespace {

// Weights of the cubic convolution kernel (a = -0.5) for samples -1, 0, 1,
// 2 around a position t (0 <= t < 1) past sample 0.
inline void CubicWeights(double t, double* w) {
    const double t2 = t * t, t3 = t2 * t;
    w[0] = -0.5 * t3 + t2 - 0.5 * t;
    w[1] = 1.5 * t3 - 2.5 * t2 + 1.0;
    w[2] = -1.5 * t3 + 2.0 * t2 + 0.5 * t;
    w[3] = 0.5 * t3 - 0.5 * t2;
}

// A shift of each sample of a window along one direction (image pixels):
// sample k (row by row) moves by amount[k] times (dx, dy). What a break of
// slope inside the window adds to its affine mapping (see CMatcher::Refine).
struct SampleShift {
    const double* amount = nullptr;  // null: no shift
    double dx = 0.0, dy = 0.0;
};

// Image position of window sample (u, v), the k-th row by row.
template <typename Affine>
inline void WindowPosition(const Affine& m, const SampleShift& shift, int u, int v, size_t k,
                           double& x, double& y) {
    x = m.cx + m.a00 * u + m.a01 * v;
    y = m.cy + m.a10 * u + m.a11 * v;
    if (shift.amount) {
        x += shift.amount[k] * shift.dx;
        y += shift.amount[k] * shift.dy;
    }
}

// Samples of a window, bilinear (the search) or by cubic convolution (the
// refinement, whose sum of squares must be smooth in the position: with
// bilinear samples its slope jumps wherever a sample crosses a pixel border,
// and Gauss-Newton then wanders by hundredths of a pixel instead of
// settling). False when any position needs a pixel outside the band or any
// sample is not finite.

template <typename T, bool Cubic, typename Band, typename Affine>
bool SampleWindowT(const Band& b, const Affine& m, int half, double* out,
                   const SampleShift& shift) {
    const int64_t cols = b.cols;
    const double lo = Cubic ? 1.0 : 0.0;
    const double maxX = b.cols - (Cubic ? 3 : 1), maxY = b.rows - (Cubic ? 3 : 1);
    size_t k = 0;
    for (int v = -half; v <= half; ++v) {
        for (int u = -half; u <= half; ++u, ++k) {
            double x, y;
            WindowPosition(m, shift, u, v, k, x, y);
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

// Calls f with a value of the band's sample type (LAN packing codes).
template <typename F>
bool WithSampleType(int packing, F&& f) {
    switch (packing) {
        case 2:
            return f(uint16_t{});
        case 3:
            return f(int16_t{});
        case 4:
            return f(uint32_t{});
        case 5:
            return f(int32_t{});
        case 6:
            return f(float{});
        case 7:
            return f(double{});
        default:
            return f(uint8_t{});
    }
}

template <bool Cubic, typename Band, typename Affine>
bool SampleWindowOf(const Band& b, const Affine& m, int half, double* out,
                    const SampleShift& shift = {}) {
    return WithSampleType(b.packing, [&](auto sample) {
        return SampleWindowT<decltype(sample), Cubic>(b, m, half, out, shift);
    });
}

template <typename Band, typename Affine>
bool SampleWindow(const Band& b, const Affine& m, int half, double* out,
                  const SampleShift& shift = {}) {
    return SampleWindowOf<false>(b, m, half, out, shift);
}

template <typename Band, typename Affine>
bool SampleWindowCubic(const Band& b, const Affine& m, int half, double* out) {
    return SampleWindowOf<true>(b, m, half, out);
}

// Derivatives of CubicWeights' weights by t.
inline void CubicSlopes(double t, double* d) {
    const double t2 = t * t;
    d[0] = -1.5 * t2 + 2.0 * t - 0.5;
    d[1] = 4.5 * t2 - 5.0 * t;
    d[2] = -4.5 * t2 + 4.0 * t + 0.5;
    d[3] = 1.5 * t2 - t;
}

// Samples of a window by cubic convolution with the image's gradient there
// (pixels of grey per pixel, in the image's axes): the exact derivatives of
// the interpolated surface, so that the least-squares matching's normal
// equations belong to the sum of squares it minimises. Central differences
// across the window fall short of a texture's slope the more the shorter its
// wavelength, and the refinement then settled where the slope was wrong:
// beside breaks of slope it crept on for all its iterations.
template <typename T, typename Band, typename Affine>
bool SampleWindowGradT(const Band& b, const Affine& m, int half, double* value, double* gx,
                       double* gy, const SampleShift& shift) {
    const int64_t cols = b.cols;
    const double maxX = b.cols - 3, maxY = b.rows - 3;
    size_t k = 0;
    for (int v = -half; v <= half; ++v) {
        for (int u = -half; u <= half; ++u, ++k) {
            double x, y;
            WindowPosition(m, shift, u, v, k, x, y);
            if (!(x >= 1.0 && y >= 1.0 && x <= maxX && y <= maxY)) return false;
            const int c = std::min(static_cast<int>(x), b.cols - 2);
            const int r = std::min(static_cast<int>(y), b.rows - 2);
            double wx[4], wy[4], dx[4], dy[4];
            CubicWeights(x - c, wx);
            CubicWeights(y - r, wy);
            CubicSlopes(x - c, dx);
            CubicSlopes(y - r, dy);
            double sum = 0.0, sumX = 0.0, sumY = 0.0;
            const unsigned char* row =
                b.data + (static_cast<int64_t>(r - 1) * cols + c - 1) * sizeof(T);
            for (int j = 0; j < 4; ++j, row += cols * sizeof(T)) {
                double line = 0.0, slope = 0.0;
                for (int i = 0; i < 4; ++i) {
                    const double q = Load<T>(row + i * sizeof(T));
                    line += wx[i] * q;
                    slope += dx[i] * q;
                }
                sum += wy[j] * line;
                sumX += wy[j] * slope;
                sumY += dy[j] * line;
            }
            if (!std::isfinite(sum) || !std::isfinite(sumX) || !std::isfinite(sumY)) return false;
            *value++ = sum;
            *gx++ = sumX;
            *gy++ = sumY;
        }
    }
    return true;
}

template <typename Band, typename Affine>
bool SampleWindowGrad(const Band& b, const Affine& m, int half, double* value, double* gx,
                      double* gy, const SampleShift& shift) {
    return WithSampleType(b.packing, [&](auto sample) {
        return SampleWindowGradT<decltype(sample)>(b, m, half, value, gx, gy, shift);
    });
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
//   b       with model.breakLine: the change of the parallax's slope across
//           a break line in the window, at the window's edge (pixels): the
//           parallax gains b max(0, a u + c v - d) / half beyond the line
//           a u + c v = d (a, c a unit normal; d pixels), which a break of
//           slope in the ground makes of the one plane
// The point lies at (u0, v0) in the window (pixels from its centre): the
// parallax there, s + (gu u0 + gv v0) / half (+ b's share), is what
// converges and what the standard deviation is given for.
//
// Gauss-Newton in two stages: the shift and the radiometry first, then the
// slope terms too from where the first stage settled (from the start when
// `settled`: the mapping comes from a refinement). Each stage has converged
// when the last step changed the parallax at the point by less than
// options.convergence. With model.breakLine, where the second stage has
// converged, the break line that lowers the sum of squares most is looked
// for (a Gauss-Newton step in closed form for each line tried); when it
// lowers it significantly, a third stage estimates b with that line held.
// The y-parallax t is held at zero while iterating and estimated once at
// the end, for the report only: estimated with the rest, it let windows
// whose texture is mostly one line (a road's edge line, furrows) slide
// along the line, and the parallax with them (on the demo, 2.3 % fewer of
// the textured points matched near the road).
//
// Each sample is weighted by how well it fits: Tukey's biweight of its
// residual against kTukey robust standard deviations, set in the first
// kReweighings iterations of the second stage (before, the window does not
// lie close yet, and the samples of steep grey slopes, which carry most of
// the parallax, have the largest residuals) and then held so that the
// iteration can settle. The part of a window that another surface fills
// (beyond a wall, across a break of slope) then stops pulling the match
// towards a compromise. With a taper also by its place: a Gaussian of
// `taper` half windows about the window's centre, so that what lies
// next to the point counts most (less precise on plain ground, where all
// samples tell the same).
// True when it converged; `map` then holds the refined geometry (with a
// break, the affine mapping that touches it on the point's side), `result`
// the correlation (weighted as the samples were), the parallax's standard
// deviation, the y-parallax, the fit and the iterations. False also when
// the window leaves the right image (result's status then Outside).
bool CMatcher::Refine(const std::vector<double>& left, const std::vector<double>& smooth, double ec,
                      double er, double u0, double v0, const WindowModel& model, bool settled,
                      Affine& map, double& gain, double& offset, MatchResult& result) const {
    const MatchOptions& o = m_options;
    const int half = m_nHalf;
    const size_t n = left.size();
    const double h = half;
    const double taper = model.taper;
    const bool tapered = taper > 0.0;
    // Both windows are smoothed by two passes of the [1 2 1] / 4 filter
    // first: texture near the pixel size is sampled differently in the two
    // photographs and only adds noise.
    const int passes = kSmoothPasses;
    const int side = 2 * half + 1;
    const int outer = half + passes;  // the raw samples the smoothed window needs
    const size_t raw = static_cast<size_t>(side + 2 * passes) * (side + 2 * passes);
    // Working arrays, kept by each thread from one refinement to the next.
    thread_local std::vector<double> rawValue, rawAlong, rawGy, rawAcross, rawAlongU, rawAlongV,
        rawBreak, rawRamp;
    thread_local std::vector<double> value, along, across, alongU, alongV, broken, place, fit,
        residual, magnitude, ramp;
    for (auto* v : {&value, &along, &across, &alongU, &alongV, &broken, &place, &magnitude, &ramp})
        v->resize(n);
    rawRamp.assign(raw, 0.0);
    fit.assign(n, 1.0);
    residual.assign(n, 0.0);
    for (int v = -half, k = 0; v <= half; ++v) {
        for (int u = -half; u <= half; ++u, ++k) {
            const double r2 = (u * u + v * v) / (h * h);
            place[static_cast<size_t>(k)] = tapered ? std::exp(-0.5 * r2 / (taper * taper)) : 1.0;
        }
    }
    const Affine start = map;
    const double nc = -er, nr = ec;  // across the epipolar line
    // The break line, once one is found: the ramp max(0, a u + b v - d) / h
    // at each raw and each window sample (u, v: pixels from the centre).
    bool broke = false;
    double breakA = 0.0, breakB = 0.0, breakD = 0.0;
    auto rampAt = [&](double u, double v) {
        return std::max(0.0, breakA * u + breakB * v - breakD) / h;
    };
    auto at = [&](const double* q) {
        Affine a;
        a.cx = start.cx + ec * q[0] + nc * q[1];
        a.cy = start.cy + er * q[0] + nr * q[1];
        a.a00 = start.a00 + ec * q[2] / h;
        a.a01 = start.a01 + ec * q[3] / h;
        a.a10 = start.a10 + er * q[2] / h;
        a.a11 = start.a11 + er * q[3] / h;
        return a;
    };
    double normal[kParams][kParams];  // upper triangle
    double rhs[kParams];
    // With a taper, the last evaluation also sums the normal equations with
    // the weights times the place weights (upper triangle), and the weights.
    double spread[kParams][kParams];
    double weightSum = 0.0;
    // The weighted sum of squares at `q` with its normal equations and
    // residuals; false when the window leaves the right image. The
    // y-parallax's column only when it is wanted (it is held while iterating).
    auto evaluate = [&](const double* q, double& sum, bool withAcross) {
        for (auto* v :
             {&rawValue, &rawAlong, &rawGy, &rawAcross, &rawAlongU, &rawAlongV, &rawBreak})
            v->resize(raw);  // BlurPasses leaves its input shrunk
        SampleShift shift;
        if (broke) shift = {rawRamp.data(), ec * q[6], er * q[6]};
        if (!SampleWindowGrad(m_rightBand, at(q), outer, rawValue.data(), rawAlong.data(),
                              rawGy.data(), shift))
            return false;
        // The derivatives of the smoothed samples by the parameters are the
        // smoothed derivatives of the raw ones (the filter is linear): along
        // and across the epipolar line, and along it times the raw sample's
        // place in the window for the slope terms.
        for (int v = -outer, k = 0; v <= outer; ++v) {
            for (int u = -outer; u <= outer; ++u, ++k) {
                const double gx = rawAlong[k], gy = rawGy[k];
                rawAlong[k] = gx * ec + gy * er;
                if (withAcross) rawAcross[k] = gx * nc + gy * nr;
                rawAlongU[k] = rawAlong[k] * u / h;
                rawAlongV[k] = rawAlong[k] * v / h;
                if (broke) rawBreak[k] = rawAlong[k] * rawRamp[k];
            }
        }
        // A column that is not wanted is zero.
        auto blur = [&](std::vector<double>& in, std::vector<double>& out, bool wanted = true) {
            if (wanted)
                BlurPasses(in, side, passes, out.data());
            else
                std::fill(out.begin(), out.end(), 0.0);
        };
        blur(rawValue, value);
        blur(rawAlong, along);
        blur(rawAcross, across, withAcross);
        blur(rawAlongU, alongU);
        blur(rawAlongV, alongV);
        blur(rawBreak, broken, broke);
        for (auto& row : normal) std::fill(std::begin(row), std::end(row), 0.0);
        for (auto& row : spread) std::fill(std::begin(row), std::end(row), 0.0);
        std::fill(std::begin(rhs), std::end(rhs), 0.0);
        sum = 0.0;
        weightSum = 0.0;
        const double g = q[5];
        // Without a break its column is zero: left out of the sums.
        const int used = broke ? kParams : kParams - 1;
        for (size_t k = 0; k < n; ++k) {
            const double e = smooth[k] - (q[4] + g * value[k]);
            const double w = place[k] * fit[k];
            residual[k] = e;
            sum += w * e * e;
            const double j[kParams] = {g * along[k], g * across[k], g * alongU[k], g * alongV[k],
                                       1.0,          value[k],      g * broken[k]};
            for (int r = 0; r < used; ++r) {
                rhs[r] += w * j[r] * e;
                for (int c = r; c < used; ++c) normal[r][c] += w * j[r] * j[c];
            }
            if (withAcross && tapered) {
                weightSum += w;
                const double w2 = w * place[k];
                for (int r = 0; r < used; ++r) {
                    for (int c = r; c < used; ++c) spread[r][c] += w2 * j[r] * j[c];
                }
            }
        }
        return true;
    };
    // Tukey's weights from the residuals of the last evaluation.
    double fitSum = static_cast<double>(n);
    auto reweigh = [&]() {
        for (size_t k = 0; k < n; ++k) magnitude[k] = std::fabs(residual[k]);
        std::nth_element(magnitude.begin(), magnitude.begin() + n / 2, magnitude.end());
        const double scale = kTukey * 1.4826 * magnitude[n / 2];
        if (!(scale > 0.0)) return;
        fitSum = 0.0;
        for (size_t k = 0; k < n; ++k) {
            const double t = residual[k] / scale;
            fit[k] = t * t < 1.0 ? (1.0 - t * t) * (1.0 - t * t) : 0.0;
            fitSum += fit[k];
        }
    };
    auto hold = [&](int r) {
        for (int c = 0; c < kParams; ++c) normal[std::min(r, c)][std::max(r, c)] = 0.0;
        normal[r][r] = 1.0;
        rhs[r] = 0.0;
    };

    // The best break line at the last evaluation (the affine mapping
    // settled, `factor` its normal equations' Cholesky factor): the line
    // whose ramp column, added to the normal equations, lowers the sum of
    // squares the most (one Gauss-Newton step with it, in closed form); true
    // when that is significant, and the line is then set.
    thread_local std::vector<double> products;
    auto lookForBreak = [&](const double(&factor)[kParams][kParams], double g, double sum) {
        const double dof = fitSum - 5.0;  // s, gu, gv, offset and gain are free
        if (!(dof > 0.0) || !(sum > 0.0)) return false;
        const double variance = sum / dof;
        // A line's column is g along[k] times the ramp at sample k: per
        // sample, the weighted products of g along[k] with the residual and
        // with the free parameters' columns (s's is g along[k] itself).
        constexpr int kP = 6;
        products.resize(n * kP);
        for (size_t k = 0; k < n; ++k) {
            const double w = place[k] * fit[k], ga = g * along[k];
            double* q = &products[k * kP];
            q[0] = w * ga * residual[k];
            q[1] = w * ga * ga;
            q[2] = w * ga * g * alongU[k];
            q[3] = w * ga * g * alongV[k];
            q[4] = w * ga;
            q[5] = w * ga * value[k];
        }
        double bestGain = 0.0, bestAngle = 0.0, bestD = 0.0;
        // How much the line at `angle` (radians from the u axis to its
        // normal) and offset d (pixels) lowers the sum of squares.
        auto tryLine = [&](double angle, double d) {
            const double a = std::cos(angle), b = std::sin(angle);
            double r = 0.0, cc = 0.0, m[kParams] = {0.0};
            for (int v = -half, k = 0; v <= half; ++v) {
                for (int u = -half; u <= half; ++u, ++k) {
                    const double rho = (a * u + b * v - d) / h;
                    if (rho <= 0.0) continue;
                    const double* q = &products[static_cast<size_t>(k) * kP];
                    r += rho * q[0];
                    cc += rho * rho * q[1];
                    m[0] += rho * q[1];
                    m[2] += rho * q[2];
                    m[3] += rho * q[3];
                    m[4] += rho * q[4];
                    m[5] += rho * q[5];
                }
            }
            double zz[kParams];
            CholeskySolve(factor, m, zz);
            double num = r, den = cc;
            for (int j = 0; j < kParams; ++j) {
                num -= zz[j] * rhs[j];
                den -= zz[j] * m[j];
            }
            if (!(den > 1e-12 * cc)) return;
            const double lowered = num * num / den;
            if (lowered > bestGain) {
                bestGain = lowered;
                bestAngle = angle;
                bestD = d;
            }
        };
        // Lines tried: kBreakDirections directions over half a turn, at
        // whole pixels up to kBreakMargin inside the window's edge; then
        // around the best, at a quarter of those directions' step and
        // kBreakStep pixels. A break is taken when it lowers the sum of
        // squares by more than kBreakSignificance times the samples'
        // variance: far beyond the chi-square quantiles, because neighbouring
        // smoothed samples are not independent and the best of many lines is
        // taken.
        constexpr int kBreakDirections = 8, kBreakMargin = 2;
        constexpr double kBreakStep = 0.25, kBreakSignificance = 60.0;
        const int reach = half - kBreakMargin;
        const double turn = M_PI / kBreakDirections;
        for (int i = 0; i < kBreakDirections; ++i) {
            for (int d = -reach; d <= reach; ++d) tryLine(turn * i, d);
        }
        const double coarseAngle = bestAngle, coarseD = bestD;
        for (int i = -3; i <= 3; ++i) {
            for (int j = -3; j <= 3; ++j) {
                if (i != 0 || j != 0)
                    tryLine(coarseAngle + 0.25 * turn * i, coarseD + kBreakStep * j);
            }
        }
        if (!(bestGain > kBreakSignificance * variance)) return false;
        broke = true;
        breakA = std::cos(bestAngle);
        breakB = std::sin(bestAngle);
        breakD = bestD;
        for (int v = -outer, k = 0; v <= outer; ++v) {
            for (int u = -outer; u <= outer; ++u, ++k)
                rawRamp[static_cast<size_t>(k)] = rampAt(u, v);
        }
        for (int v = -half, k = 0; v <= half; ++v) {
            for (int u = -half; u <= half; ++u, ++k) ramp[static_cast<size_t>(k)] = rampAt(u, v);
        }
        return true;
    };

    double p[kParams] = {0.0, 0.0, 0.0, 0.0, offset, gain, 0.0};
    double sse = 0.0;
    bool converged = false;
    // Second stage: the slope terms too; from the start when the mapping
    // comes from a refinement that settled (a seed).
    bool slopes = settled;
    int reweighings = 0;
    int limit = o.maxIterations;
    int breakIterations = 0;
    for (int it = 1; it <= limit; ++it) {
        result.iterations = it;
        // Weights from residuals are only fair once the window lies close:
        // before, the samples of steep grey slopes have the largest
        // residuals, and they carry the most of the parallax.
        if (slopes && it > 1 && reweighings < kReweighings) {
            reweigh();
            ++reweighings;
        }
        // With a break, weights again from its own residuals.
        if (broke && ++breakIterations >= 2 && breakIterations <= 3) reweigh();
        if (!evaluate(p, sse, false)) {
            result.status = MatchStatus::Outside;
            return false;
        }
        hold(1);
        if (!slopes) {
            hold(2);
            hold(3);
        }
        if (!broke) hold(6);
        double factor[kParams][kParams];
        std::memcpy(factor, normal, sizeof factor);
        if (!Cholesky(factor)) return false;
        double delta[kParams];
        CholeskySolve(factor, rhs, delta);
        for (int i = 0; i < kParams; ++i) p[i] += delta[i];
        if (!std::isfinite(p[0]) || !(p[5] > 0.0)) return false;
        // Wandered off the peak the search found: another peak or none.
        if (std::fabs(p[0]) > 2.0) return false;
        const double change =
            delta[0] + (delta[2] * u0 + delta[3] * v0) / h + delta[6] * rampAt(u0, v0);
        if (std::fabs(change) < o.convergence) {
            if (!slopes) {
                slopes = true;
                continue;
            }
            if (broke || !model.breakLine || !lookForBreak(factor, p[5], sse)) {
                converged = true;
                break;
            }
            limit = it + o.maxIterations / 2;
        }
    }
    if (!converged) return false;
    const Affine fitted = at(p);
    // The mapping as an affine one tangent to it on the point's side of the
    // break: exact at the point, where the caller reads it.
    map = fitted;
    if (broke && rampAt(u0, v0) > 0.0) {
        const double k = p[6] / h;
        map.cx += ec * k * -breakD;
        map.cy += er * k * -breakD;
        map.a00 += ec * k * breakA;
        map.a01 += ec * k * breakB;
        map.a10 += er * k * breakA;
        map.a11 += er * k * breakB;
    }
    gain = p[5];
    offset = p[4];
    // The normal equations where it settled, all parameters free: the
    // standard deviation of the parallax at the point (sigma0^2 times its
    // element of N^-1), and one step of t for the y-parallax.
    if (!evaluate(p, sse, true)) return false;
    if (!broke) hold(6);
    if (!Cholesky(normal)) return false;
    // Each sample counted by its robust weight (what another surface fills
    // does not count); a tapered window measures with fewer samples than it
    // holds: the sandwich (see LeastSquares.h). Taking N^-1 sse / dof for it
    // made its standard deviation about half what it is.
    const double s0 = lsq::SampleVariance(sse, tapered ? weightSum : fitSum, fitSum,
                                          broke ? kParams : kParams - 1);
    const double e0[kParams] = {1.0, 0.0, u0 / h, v0 / h, 0.0, 0.0, rampAt(u0, v0)};
    double step[kParams];
    const double variance = lsq::CombinationVariance(normal, tapered ? spread : nullptr, e0, s0);
    // NaN (never accepted) when the robust weights leave no degree of freedom.
    result.sigmaPx = variance >= 0.0 ? std::sqrt(variance) : NAN;
    CholeskySolve(normal, rhs, step);
    result.yParallax = step[1];
    result.fit = fitSum / static_cast<double>(n);
    std::vector<double> right(n);
    SampleShift shift;
    if (broke) shift = {ramp.data(), ec * p[6], er * p[6]};
    if (!SampleWindow(m_rightBand, fitted, half, right.data(), shift)) {
        result.status = MatchStatus::Outside;
        return false;
    }
    // The correlation with the refinement's own weights: the samples that
    // another surface fills are not part of what was matched.
    for (size_t k = 0; k < n; ++k) magnitude[k] = place[k] * fit[k];
    result.correlation = WeightedCorrelation(left.data(), right.data(), magnitude.data(), n);
    return true;
}

MatchResult CMatcher::MatchWindow(double x, double y, double z, double centreZ, double range,
                                  double du, double dv, const WindowModel& model, Affine& pointMap,
                                  const Seed* seed) const {
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
    // The point's left position (sub-image): fixed along its ray; under X, Y
    // at each height with keepXY. The window's centre lies du, dv from it.
    double lp0, lq0;
    if (!LeftAt(x, y, z, lp0, lq0)) return res;
    auto leftPoint = [&](double zt, double& lc, double& lr) {
        if (!keepXY) {
            lc = lp0;
            lr = lq0;
            return true;
        }
        return LeftAt(x, y, zt, lc, lr);
    };
    auto leftCentre = [&](double zt, double& lc, double& lr) {
        if (!leftPoint(zt, lc, lr)) return false;
        lc += du;
        lr += dv;
        return true;
    };
    const double lc0 = lp0 + du, lr0 = lq0 + dv;
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
    // The correlation search (none when a seed mapping is given). Trials
    // whose windows leave an image count as no correlation; at the centre of
    // the interval that makes the point Outside.
    double zt = seed ? seed->z : NAN;
    if (!seed) {
        const int trials = 2 * steps + 1;
        std::vector<double> ncc(static_cast<size_t>(trials), NAN);
        if (!keepXY) {
            if (!sampleLeft(lc0, lr0)) return res;
            res.texture = StandardDeviation(left);
        }
        int best = -1;
        for (int k = 0; k < trials; ++k) {
            const double trialZ = centreZ + (k - steps) * step;
            double lc, lr;
            Affine a;
            if (!leftCentre(trialZ, lc, lr) || (keepXY && !sampleLeft(lc, lr)) ||
                !LeftToRight(lc, lr, trialZ, a) ||
                !SampleWindow(m_rightBand, a, m_nHalf, right.data())) {
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
        zt = centreZ + (best - steps) * step;
    } else {
        if (!keepXY) {
            if (!sampleLeft(lc0, lr0)) return res;
            res.texture = StandardDeviation(left);
        }
        res.status = MatchStatus::NoMatch;
        res.distinctness = seed->distinctness;
    }

    // Refinement from the best trial (or the seed); with keepXY the left
    // window is taken again under X, Y at the matched height until the
    // height settles.
    double zMatched = NAN, lc = lc0, lr = lr0;
    Affine map;
    bool refined = false;
    double gain = 1.0, offset = 0.0;
    for (int round = 0; round < (keepXY ? 4 : 1); ++round) {
        if (seed && round == 0) map = seed->map;
        if (!leftCentre(zt, lc, lr) || (keepXY && !sampleLeft(lc, lr)) ||
            (!(seed && round == 0) && !LeftToRight(lc, lr, zt, map)) ||
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
        refined = Refine(left, smooth, ecr, err, -du, -dv, model, seed && round == 0, map, gain,
                         offset, res);
        if (!refined) {
            if (res.status == MatchStatus::Outside) {
                res.correlation = NAN;
                res.sigmaPx = NAN;
            }
            return res;
        }
        // The refined mapping at the point itself.
        pointMap = map;
        pointMap.cx = map.cx - map.a00 * du - map.a01 * dv;
        pointMap.cy = map.cy - map.a10 * du - map.a11 * dv;
        zMatched =
            ClosestApproachZ(m_left, lc - du, lr - dv, m_right, pointMap.cx, pointMap.cy, zt);
        if (!std::isfinite(zMatched)) return res;
        const bool settled = std::fabs(zMatched - zt) * rate < 10.0 * o.convergence;
        zt = zMatched;
        if (!keepXY || settled) break;
    }
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

MatchResult CMatcher::Match(double x, double y, double z, double centreZ, double range) const {
    Affine map;
    const MatchResult centred = MatchWindow(x, y, z, centreZ, range, 0.0, 0.0, {}, map);
    if (centred.status == MatchStatus::Matched && m_options.narrowing) {
        // Across a break of slope the window's one plane of parallax
        // averages the two, and the point takes a height between them (on
        // the demo, most of the error near the road's cut and fill). The
        // same window weighted towards the point, started where the plain
        // one settled, is biased less and scattered more: it is the result
        // where it matches and measures the point more precisely, or where
        // the two differ by more than kNarrowDisagreement times the spread
        // the narrowing alone adds (the standard deviation of their
        // difference when both fit the same plane). Where it does not match
        // and they differ by more than kWindowDependence times that, the
        // height depends on the window (a break of slope along the texture's
        // one line, as at a road's edge line, where no window can tell the
        // two planes apart): no match.
        const Seed seed{map, centred.z, centred.distinctness};
        Affine narrowMap;
        MatchResult narrow =
            MatchWindow(x, y, z, centreZ, range, 0.0, 0.0, {kNarrowSigma, false}, narrowMap, &seed);
        const double shift = std::hypot(narrowMap.cx - map.cx, narrowMap.cy - map.cy);
        const double added = std::sqrt(
            std::max(0.0, narrow.sigmaPx * narrow.sigmaPx - centred.sigmaPx * centred.sigmaPx));
        if (narrow.status != MatchStatus::Matched) {
            if (!std::isfinite(narrow.sigmaPx) || !(shift > kWindowDependence * added))
                return centred;
            MatchResult dependent = centred;
            dependent.status = MatchStatus::NoMatch;
            dependent.x = x;
            dependent.y = y;
            dependent.z = z;
            return dependent;
        }
        if (!(narrow.sigmaPx < centred.sigmaPx || shift > kNarrowDisagreement * added))
            return centred;
        narrow.texture = centred.texture;
        return narrow;
    }
    if (centred.status != MatchStatus::NoMatch || !m_options.shiftedWindows || !m_options.refine)
        return centred;
    // Beside a wall or a break of slope the window centred on the point
    // sees two surfaces, and the search or the refinement may find nothing
    // certain. Then the centred window again with the samples near the
    // point weighted most, and a break line in its mapping where that fits
    // significantly better (both cost precision on plain ground, so they
    // come second); then windows shifted by half a half window, and by a
    // half window, in the eight directions, which may see one surface: where
    // one of them matches, its mapping moved to the point starts a refinement
    // of the centred window, which is the result when it matches too, within
    // kSeedAgreement of where the shifted window put the point. Of several,
    // the one with the smallest standard deviation. (A shifted window alone
    // would give the point the height of its neighbour's plane.)
    const WindowModel tapered{kWindowSigma, false};
    MatchResult best = MatchWindow(x, y, z, centreZ, range, 0.0, 0.0, {kWindowSigma, true}, map);
    if (best.status == MatchStatus::Matched) {
        best.texture = centred.texture;
        return best;
    }
    best = centred;
    constexpr int kDirections[8][2] = {{1, 0}, {-1, 0}, {0, 1},  {0, -1},
                                       {1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
    for (int k = 0; k < 16; ++k) {
        const double s = k < 8 ? std::round(0.5 * m_nHalf) : m_nHalf;
        const double du = s * kDirections[k % 8][0], dv = s * kDirections[k % 8][1];
        Affine shifted;
        const MatchResult r = MatchWindow(x, y, z, centreZ, range, du, dv, tapered, shifted);
        if (r.status != MatchStatus::Matched) continue;
        const Seed seed{shifted, r.z, r.distinctness};
        Affine again;
        const MatchResult c = MatchWindow(x, y, z, centreZ, range, 0.0, 0.0, tapered, again, &seed);
        if (c.status != MatchStatus::Matched ||
            !(std::hypot(again.cx - shifted.cx, again.cy - shifted.cy) < kSeedAgreement))
            continue;
        if (best.status != MatchStatus::Matched || c.sigmaPx < best.sigmaPx) best = c;
    }
    best.texture = centred.texture;
    return best;
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
