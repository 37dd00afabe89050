#include "Surface/Predicates.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace surface {

namespace {

// --- Floating-point expansions: a value held exactly as a sum of doubles
// that do not overlap, smallest first. Used when the 256-bit integer path
// cannot take the inputs (differences that are not exact, or scales too far
// apart); rare, so plain vectors.

using Expansion = std::vector<double>;

inline void TwoSum(double a, double b, double& x, double& y) {
    x = a + b;
    const double bv = x - a;
    const double av = x - bv;
    y = (a - av) + (b - bv);
}

inline void TwoDiff(double a, double b, double& x, double& y) {
    x = a - b;
    const double bv = a - x;
    const double av = x + bv;
    y = (a - av) + (bv - b);
}

inline void TwoProduct(double a, double b, double& x, double& y) {
    x = a * b;
    y = std::fma(a, b, -x);
}

// e + b, zero components dropped.
Expansion Grow(const Expansion& e, double b) {
    Expansion h;
    h.reserve(e.size() + 1);
    double q = b;
    for (double c : e) {
        double s, t;
        TwoSum(q, c, s, t);
        if (t != 0.0) h.push_back(t);
        q = s;
    }
    if (q != 0.0 || h.empty()) h.push_back(q);
    return h;
}

Expansion Add(const Expansion& e, const Expansion& f) {
    Expansion h = e;
    for (double c : f) h = Grow(h, c);
    return h;
}

Expansion Negate(Expansion e) {
    for (double& c : e) c = -c;
    return e;
}

// e * b.
Expansion Scale(const Expansion& e, double b) {
    Expansion h;
    h.reserve(2 * e.size());
    double q, t;
    TwoProduct(e[0], b, q, t);
    if (t != 0.0) h.push_back(t);
    for (size_t i = 1; i < e.size(); ++i) {
        double p, pt;
        TwoProduct(e[i], b, p, pt);
        double s, st;
        TwoSum(q, pt, s, st);
        if (st != 0.0) h.push_back(st);
        TwoSum(p, s, q, t);
        if (t != 0.0) h.push_back(t);
    }
    if (q != 0.0 || h.empty()) h.push_back(q);
    return h;
}

Expansion Multiply(const Expansion& e, const Expansion& f) {
    Expansion h{0.0};
    for (double c : f) h = Add(h, Scale(e, c));
    return h;
}

int Sign(const Expansion& e) {
    for (size_t i = e.size(); i-- > 0;) {
        if (e[i] > 0.0) return 1;
        if (e[i] < 0.0) return -1;
    }
    return 0;
}

Expansion Difference(double a, double b) {
    double x, y;
    TwoDiff(a, b, x, y);
    return y == 0.0 ? Expansion{x} : Expansion{y, x};
}

int OrientExpansion(const XY& a, const XY& b, const XY& c) {
    const Expansion acx = Difference(a.x, c.x), acy = Difference(a.y, c.y);
    const Expansion bcx = Difference(b.x, c.x), bcy = Difference(b.y, c.y);
    return Sign(Add(Multiply(acx, bcy), Negate(Multiply(acy, bcx))));
}

int InCircleExpansion(const XY& a, const XY& b, const XY& c, const XY& d) {
    const Expansion adx = Difference(a.x, d.x), ady = Difference(a.y, d.y);
    const Expansion bdx = Difference(b.x, d.x), bdy = Difference(b.y, d.y);
    const Expansion cdx = Difference(c.x, d.x), cdy = Difference(c.y, d.y);
    auto lift = [](const Expansion& x, const Expansion& y) {
        return Add(Multiply(x, x), Multiply(y, y));
    };
    auto cross = [](const Expansion& x1, const Expansion& y1, const Expansion& x2,
                    const Expansion& y2) {
        return Add(Multiply(x1, y2), Negate(Multiply(x2, y1)));
    };
    const Expansion det = Add(Add(Multiply(lift(adx, ady), cross(bdx, bdy, cdx, cdy)),
                                  Multiply(lift(bdx, bdy), cross(cdx, cdy, adx, ady))),
                              Multiply(lift(cdx, cdy), cross(adx, ady, bdx, bdy)));
    return Sign(det);
}

// --- Integers: when every coordinate difference is an exact double and all
// of them are multiples of one power of two no more than 62 bits below the
// largest, they are exact 63-bit integers in that unit, and the
// determinants are evaluated exactly in 128 and 256 bits. Points on a
// regular grid (and nearby points generally, whose differences subtract
// exactly) take this path.

using Int128 = __int128;
using UInt128 = unsigned __int128;

// Differences d[0..n) as integers m[i] * 2^e with |m| < 2^62; false when
// they do not fit.
bool CommonIntegers(const double* d, int n, int64_t* m) {
    int lowest = 1 << 30, highest = -(1 << 30);
    int64_t mantissa[6];
    int exponent[6];
    for (int i = 0; i < n; ++i) {
        // d = mantissa x 2^exponent, read from the bits (frexp and ldexp
        // cost more than all the rest of this path).
        uint64_t bits;
        std::memcpy(&bits, &d[i], 8);
        const int field = static_cast<int>((bits >> 52) & 0x7FF);
        if (field == 0x7FF) return false;
        const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
        mantissa[i] = static_cast<int64_t>(field == 0 ? fraction : fraction | (uint64_t{1} << 52));
        exponent[i] = (field == 0 ? 1 : field) - 1075;
        if (mantissa[i] == 0) continue;
        const int zeros = __builtin_ctzll(static_cast<uint64_t>(mantissa[i]));
        mantissa[i] >>= zeros;
        exponent[i] += zeros;
        lowest = std::min(lowest, exponent[i]);
        highest = std::max(highest,
                           exponent[i] + 64 - __builtin_clzll(static_cast<uint64_t>(mantissa[i])));
        if (bits >> 63) mantissa[i] = -mantissa[i];
    }
    if (highest - lowest > 62) return false;
    for (int i = 0; i < n; ++i)
        m[i] = mantissa[i] == 0 ? 0 : mantissa[i] * (int64_t{1} << (exponent[i] - lowest));
    return true;
}

// Two's complement 256-bit integer, least significant word first.
struct Int256 {
    uint64_t w[4] = {0, 0, 0, 0};
};

Int256 Negated(Int256 a) {
    uint64_t carry = 1;
    for (uint64_t& x : a.w) {
        x = ~x + carry;
        carry = (carry && x == 0) ? 1 : 0;
    }
    return a;
}

// a * b exactly, for |a|, |b| < 2^127.
Int256 Product(Int128 a, Int128 b) {
    const bool negative = (a < 0) != (b < 0);
    const UInt128 ua = a < 0 ? static_cast<UInt128>(-a) : static_cast<UInt128>(a);
    const UInt128 ub = b < 0 ? static_cast<UInt128>(-b) : static_cast<UInt128>(b);
    const uint64_t a0 = static_cast<uint64_t>(ua), a1 = static_cast<uint64_t>(ua >> 64);
    const uint64_t b0 = static_cast<uint64_t>(ub), b1 = static_cast<uint64_t>(ub >> 64);
    const UInt128 p00 = static_cast<UInt128>(a0) * b0, p01 = static_cast<UInt128>(a0) * b1;
    const UInt128 p10 = static_cast<UInt128>(a1) * b0, p11 = static_cast<UInt128>(a1) * b1;
    Int256 r;
    r.w[0] = static_cast<uint64_t>(p00);
    UInt128 mid = (p00 >> 64) + static_cast<uint64_t>(p01) + static_cast<uint64_t>(p10);
    r.w[1] = static_cast<uint64_t>(mid);
    UInt128 high = (mid >> 64) + (p01 >> 64) + (p10 >> 64) + static_cast<uint64_t>(p11);
    r.w[2] = static_cast<uint64_t>(high);
    r.w[3] = static_cast<uint64_t>((high >> 64) + (p11 >> 64));
    return negative ? Negated(r) : r;
}

Int256 Sum(const Int256& a, const Int256& b) {
    Int256 r;
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const UInt128 s = static_cast<UInt128>(a.w[i]) + b.w[i] + carry;
        r.w[i] = static_cast<uint64_t>(s);
        carry = static_cast<uint64_t>(s >> 64);
    }
    return r;
}

int SignOf(const Int256& a) {
    if (a.w[3] >> 63) return -1;
    return (a.w[0] | a.w[1] | a.w[2] | a.w[3]) ? 1 : 0;
}

int OrientExact(const XY& a, const XY& b, const XY& c) {
    double d[4];
    double tail = 0.0;
    TwoDiff(a.x, c.x, d[0], tail);
    bool exact = tail == 0.0;
    TwoDiff(a.y, c.y, d[1], tail);
    exact = exact && tail == 0.0;
    TwoDiff(b.x, c.x, d[2], tail);
    exact = exact && tail == 0.0;
    TwoDiff(b.y, c.y, d[3], tail);
    exact = exact && tail == 0.0;
    int64_t m[4];
    if (exact && CommonIntegers(d, 4, m)) {
        const Int128 det = static_cast<Int128>(m[0]) * m[3] - static_cast<Int128>(m[1]) * m[2];
        return det > 0 ? 1 : (det < 0 ? -1 : 0);
    }
    return OrientExpansion(a, b, c);
}

int InCircleExact(const XY& a, const XY& b, const XY& c, const XY& e) {
    const double ax[2] = {a.x, a.y}, bx[2] = {b.x, b.y}, cx[2] = {c.x, c.y}, ex[2] = {e.x, e.y};
    double d[6];
    bool exact = true;
    const double* rows[3] = {ax, bx, cx};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 2; ++j) {
            double tail = 0.0;
            TwoDiff(rows[i][j], ex[j], d[2 * i + j], tail);
            exact = exact && tail == 0.0;
        }
    }
    int64_t m[6];
    if (exact && CommonIntegers(d, 6, m)) {
        auto lift = [&](int i) {
            return static_cast<Int128>(m[2 * i]) * m[2 * i] +
                   static_cast<Int128>(m[2 * i + 1]) * m[2 * i + 1];
        };
        auto cross = [&](int i, int j) {
            return static_cast<Int128>(m[2 * i]) * m[2 * j + 1] -
                   static_cast<Int128>(m[2 * j]) * m[2 * i + 1];
        };
        const Int256 det = Sum(Sum(Product(lift(0), cross(1, 2)), Product(lift(1), cross(2, 0))),
                               Product(lift(2), cross(0, 1)));
        return SignOf(det);
    }
    return InCircleExpansion(a, b, c, e);
}

// Relative error bounds of the plain floating-point evaluations below (in
// units of the permanent, the sum of the absolute values of the terms).
constexpr double kEpsilon = 1.1102230246251565e-16;  // 2^-53
constexpr double kOrientBound = (3.0 + 16.0 * kEpsilon) * kEpsilon;
constexpr double kInCircleBound = (10.0 + 96.0 * kEpsilon) * kEpsilon;

}  // namespace

int Orient(const XY& a, const XY& b, const XY& c) {
    const double left = (a.x - c.x) * (b.y - c.y);
    const double right = (a.y - c.y) * (b.x - c.x);
    const double det = left - right;
    const double bound = kOrientBound * (std::fabs(left) + std::fabs(right));
    if (det > bound) return 1;
    if (-det > bound) return -1;
    return OrientExact(a, b, c);
}

int InCircle(const XY& a, const XY& b, const XY& c, const XY& d) {
    const double adx = a.x - d.x, ady = a.y - d.y;
    const double bdx = b.x - d.x, bdy = b.y - d.y;
    const double cdx = c.x - d.x, cdy = c.y - d.y;
    const double bc = bdx * cdy, cb = cdx * bdy;
    const double ca = cdx * ady, ac = adx * cdy;
    const double ab = adx * bdy, ba = bdx * ady;
    const double alift = adx * adx + ady * ady;
    const double blift = bdx * bdx + bdy * bdy;
    const double clift = cdx * cdx + cdy * cdy;
    const double det = alift * (bc - cb) + blift * (ca - ac) + clift * (ab - ba);
    const double permanent = (std::fabs(bc) + std::fabs(cb)) * alift +
                             (std::fabs(ca) + std::fabs(ac)) * blift +
                             (std::fabs(ab) + std::fabs(ba)) * clift;
    const double bound = kInCircleBound * permanent;
    if (det > bound) return 1;
    if (-det > bound) return -1;
    return InCircleExact(a, b, c, d);
}

int InCircleTieBroken(const XY& a, int ka, const XY& b, int kb, const XY& c, int kc, const XY& d,
                      int kd) {
    const int s = InCircle(a, b, c, d);
    if (s != 0) return s;
    // The determinant with lifted heights is linear in each lifted height;
    // its coefficient for a point is (up to sign) the orientation of the
    // other three. The point with the smallest key carries the largest
    // infinitesimal, so the first non-zero coefficient in key order decides.
    struct Term {
        int key;
        int role;
    };
    Term terms[4] = {{ka, 0}, {kb, 1}, {kc, 2}, {kd, 3}};
    std::sort(terms, terms + 4, [](const Term& x, const Term& y) { return x.key < y.key; });
    for (const Term& t : terms) {
        int coefficient = 0;
        switch (t.role) {
            case 0:
                coefficient = Orient(b, c, d);
                break;
            case 1:
                coefficient = -Orient(a, c, d);
                break;
            case 2:
                coefficient = Orient(a, b, d);
                break;
            default:
                coefficient = -Orient(a, b, c);
                break;
        }
        if (coefficient != 0) return coefficient;
    }
    return -1;
}

}  // namespace surface
