#include "Surface/Surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>

#include "TIN/TINPoints.h"

using surface::InCircleTieBroken;
using surface::Orient;
using surface::XY;

namespace {

bool LiveRecord(const TINPoint& p) {
    return p.id >= 0 && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Position along a Hilbert curve of a cell of a 2^16 x 2^16 grid.
uint32_t HilbertKey(uint32_t x, uint32_t y) {
    constexpr uint32_t kSide = 1u << 16;
    uint32_t key = 0;
    for (uint32_t s = kSide / 2; s > 0; s /= 2) {
        const uint32_t rx = (x & s) ? 1 : 0;
        const uint32_t ry = (y & s) ? 1 : 0;
        key += s * s * ((3 * rx) ^ ry);
        if (ry == 0) {
            if (rx == 1) {
                x = kSide - 1 - x;
                y = kSide - 1 - y;
            }
            std::swap(x, y);
        }
    }
    return key;
}

// Sorts `records` along a Hilbert curve over their box.
void HilbertSort(std::vector<int>& records, const std::vector<double>& xs,
                 const std::vector<double>& ys, size_t begin, size_t end) {
    if (end - begin < 2) return;
    double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
    for (size_t i = begin; i < end; ++i) {
        const auto r = static_cast<size_t>(records[i]);
        x0 = std::min(x0, xs[r]), x1 = std::max(x1, xs[r]);
        y0 = std::min(y0, ys[r]), y1 = std::max(y1, ys[r]);
    }
    const double span = std::max(x1 - x0, y1 - y0);
    const double scale = span > 0.0 ? 65535.0 / span : 0.0;
    std::vector<std::pair<uint32_t, int>> keyed(end - begin);
    for (size_t i = begin; i < end; ++i) {
        const auto r = static_cast<size_t>(records[i]);
        const auto qx = static_cast<uint32_t>((xs[r] - x0) * scale);
        const auto qy = static_cast<uint32_t>((ys[r] - y0) * scale);
        keyed[i - begin] = {HilbertKey(std::min(qx, 65535u), std::min(qy, 65535u)), records[i]};
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = begin; i < end; ++i) records[i] = keyed[i - begin].second;
}

// Insertion order: rounds of growing size (each a random half of what
// remains), each along a Hilbert curve, so that walks stay short and no
// ordering of the input makes the triangulation degenerate on the way.
void InsertionOrder(std::vector<int>& records, const std::vector<double>& xs,
                    const std::vector<double>& ys) {
    // A fixed sequence (xorshift), so that every build inserts alike.
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (size_t i = records.size(); i > 1; --i) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        std::swap(records[i - 1], records[static_cast<size_t>(state % i)]);
    }
    size_t end = records.size();
    while (end > 0) {
        const size_t begin = end < 64 ? 0 : end / 2;
        HilbertSort(records, xs, ys, begin, end);
        end = begin;
    }
}

}  // namespace

// ---------------------------------------------------------------- slots

int CSurface::NewTriangle(int a, int b, int c) {
    int t;
    if (!m_free.empty()) {
        t = m_free.back();
        m_free.pop_back();
    } else {
        t = Slots();
        m_tv.resize(m_tv.size() + 3);
        m_tn.resize(m_tn.size() + 3);
        m_mark.push_back(0);
    }
    const size_t s = 3 * static_cast<size_t>(t);
    m_tv[s] = a, m_tv[s + 1] = b, m_tv[s + 2] = c;
    m_tn[s] = m_tn[s + 1] = m_tn[s + 2] = -1;
    m_mark[static_cast<size_t>(t)] = 0;
    ++m_nTriangles;
    Touch(t);
    return t;
}

void CSurface::FreeTriangle(int t) {
    m_tv[3 * static_cast<size_t>(t)] = kFreeSlot;
    m_free.push_back(t);
    --m_nTriangles;
    Touch(t);
}

void CSurface::Touch(int t) {
    if (m_bAllTouched) return;
    m_touched.push_back(t);
    if (m_touched.size() > 4 * static_cast<size_t>(Slots()) + 1024) {
        m_bAllTouched = true;
        m_touched.clear();
    }
}

void CSurface::TakeTouched(std::vector<int>& touched, bool& all) {
    all = m_bAllTouched;
    touched.clear();
    if (!all) touched.swap(m_touched);
    m_touched.clear();
    m_bAllTouched = false;
}

size_t CSurface::ArrayBytes() const {
    return (m_tv.capacity() + m_tn.capacity() + m_vt.capacity() + m_free.capacity() +
            m_jump.capacity()) *
               sizeof(int32_t) +
           m_mark.capacity();
}

size_t CSurface::PointBytes() const {
    return (m_x.capacity() + m_y.capacity() + m_z.capacity()) * sizeof(double);
}

void CSurface::Clear(int records) {
    m_tv.clear(), m_tn.clear(), m_mark.clear(), m_free.clear(), m_jump.clear();
    m_nJumpSide = 0;
    m_vt.assign(static_cast<size_t>(records), kAbsent);
    m_hidden.clear();
    m_nTriangles = 0;
    m_nHint = -1;
    m_touched.clear();
    m_bAllTouched = true;
}

// ---------------------------------------------------------------- build

int CSurface::Build(const CTINPoints& ground) {
    const int n = ground.GetCount();
    m_x.resize(static_cast<size_t>(n)), m_y.resize(static_cast<size_t>(n));
    m_z.resize(static_cast<size_t>(n));
    Clear(n);
    for (int i = 0; i < n; ++i) {
        const TINPoint& p = *ground.GetPoint(i);
        m_x[static_cast<size_t>(i)] = p.x, m_y[static_cast<size_t>(i)] = p.y;
        m_z[static_cast<size_t>(i)] = p.z;
        if (LiveRecord(p)) m_vt[static_cast<size_t>(i)] = kLoose;
    }
    Rebuild();
    return m_nTriangles;
}

void CSurface::Rebuild() {
    // Without sorting out the points at one position first (which costs a
    // sort of the records): the insertion finds them. Should a point be
    // found where one of a larger record index made a triangle that cannot
    // give way locally (only while the first few triangles are made), the
    // build starts again with them sorted out.
    if (!Rebuild(false)) Rebuild(true);
}

bool CSurface::Rebuild(bool sortOutDuplicates) {
    m_bRebuild = false;
    std::vector<int> live;
    for (int i = 0; i < RecordCount(); ++i)
        if (m_vt[static_cast<size_t>(i)] != kAbsent) live.push_back(i);
    Clear(RecordCount());
    std::vector<int> order;
    if (sortOutDuplicates) {
        // One vertex per position: the smallest record index; the rest hidden.
        std::sort(live.begin(), live.end(), [&](int a, int b) {
            if (X(a) != X(b)) return X(a) < X(b);
            if (Y(a) != Y(b)) return Y(a) < Y(b);
            return a < b;
        });
        for (size_t i = 0; i < live.size(); ++i) {
            if (i > 0 && X(live[i]) == X(live[i - 1]) && Y(live[i]) == Y(live[i - 1])) {
                Hide(live[i]);
            } else {
                order.push_back(live[i]);
            }
        }
    } else {
        // Points at one position meet in the insertion (Locate finds the
        // vertex there): the smallest record index stays, the rest are hidden.
        order.swap(live);
    }
    for (int r : order) m_vt[static_cast<size_t>(r)] = kLoose;
    InsertionOrder(order, m_x, m_y);
    // The first triangle: the first point, the next one elsewhere and the
    // next one off their line.
    if (order.size() < 3) return true;
    size_t second = 1;
    while (second < order.size() && X(order[second]) == X(order[0]) &&
           Y(order[second]) == Y(order[0]))
        ++second;
    if (second == order.size()) return true;
    std::swap(order[1], order[second]);
    size_t third = 2;
    while (third < order.size() && Orient(P(order[0]), P(order[1]), P(order[third])) == 0) ++third;
    if (third == order.size()) return true;
    const size_t expected = 2 * order.size() + 16;
    m_tv.reserve(3 * expected), m_tn.reserve(3 * expected), m_mark.reserve(expected);
    int a = order[0], b = order[1], c = order[third];
    if (Orient(P(a), P(b), P(c)) < 0) std::swap(b, c);
    const int t = NewTriangle(a, b, c);
    m_vt[static_cast<size_t>(a)] = 3 * t, m_vt[static_cast<size_t>(b)] = 3 * t + 1;
    m_vt[static_cast<size_t>(c)] = 3 * t + 2;
    m_nHint = t;
    for (size_t i = 2; i < order.size() && !m_bRebuild; ++i)
        if (i != third) InsertVertex(order[i]);
    if (m_bRebuild) {
        // Everything live again for the second attempt.
        for (int r = 0; r < RecordCount(); ++r)
            if (m_vt[static_cast<size_t>(r)] != kAbsent) m_vt[static_cast<size_t>(r)] = kLoose;
        for (int r : order) m_vt[static_cast<size_t>(r)] = kLoose;
        m_bRebuild = false;
        return false;
    }
    BuildJumpGrid();
    m_touched.clear();
    m_bAllTouched = true;
    return true;
}

// ---------------------------------------------------------------- location

void CSurface::BuildJumpGrid() {
    m_jump.clear();
    m_nJumpSide = 0;
    double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
    int vertices = 0;
    for (int r = 0; r < RecordCount(); ++r) {
        if (!IsVertex(r)) continue;
        x0 = std::min(x0, X(r)), x1 = std::max(x1, X(r));
        y0 = std::min(y0, Y(r)), y1 = std::max(y1, Y(r));
        ++vertices;
    }
    // About 64 vertices a cell: a walk from a cell's triangle takes a few steps.
    const int side = std::clamp(static_cast<int>(std::sqrt(vertices / 64.0)), 1, 256);
    const double span = std::max(x1 - x0, y1 - y0);
    if (vertices < 256 || !(span > 0.0)) return;
    m_nJumpSide = side;
    m_dJumpX0 = x0, m_dJumpY0 = y0, m_dJumpCell = span / side;
    m_jump.assign(static_cast<size_t>(side) * static_cast<size_t>(side), -1);
    for (int r = 0; r < RecordCount(); ++r) {
        if (!IsVertex(r)) continue;
        const auto cx =
            static_cast<size_t>(std::min(side - 1, static_cast<int>((X(r) - x0) / m_dJumpCell)));
        const auto cy =
            static_cast<size_t>(std::min(side - 1, static_cast<int>((Y(r) - y0) / m_dJumpCell)));
        m_jump[cy * static_cast<size_t>(side) + cx] = m_vt[static_cast<size_t>(r)] / 3;
    }
}

int CSurface::JumpStart(const XY& p) const {
    if (m_nJumpSide == 0) return -1;
    auto cell = [&](double v, double origin) {
        const double f = (v - origin) / m_dJumpCell;
        return !(f > 0.0) ? 0 : (f >= m_nJumpSide - 1 ? m_nJumpSide - 1 : static_cast<int>(f));
    };
    const int t =
        m_jump[static_cast<size_t>(cell(p.y, m_dJumpY0)) * static_cast<size_t>(m_nJumpSide) +
               static_cast<size_t>(cell(p.x, m_dJumpX0))];
    return t >= 0 && t < Slots() && IsTriangle(t) ? t : -1;
}

bool CSurface::InConflict(int t, int r) const {
    const int32_t* v = &m_tv[3 * static_cast<size_t>(t)];
    return InCircleTieBroken(P(v[0]), v[0], P(v[1]), v[1], P(v[2]), v[2], P(r), r) > 0;
}

int CSurface::Locate(const XY& p, int& t, int& k) const {
    if (m_nHint < 0 || m_nHint >= Slots() || !IsTriangle(m_nHint)) {
        m_nHint = 0;
        while (!IsTriangle(m_nHint)) ++m_nHint;
    }
    t = m_nHint;
    if (m_nJumpSide > 0) {
        // Far from the last triangle: start in the position's cell instead.
        const XY h = P(m_tv[3 * static_cast<size_t>(t)]);
        if (std::fabs(h.x - p.x) + std::fabs(h.y - p.y) > 2.0 * m_dJumpCell) {
            const int j = JumpStart(p);
            if (j >= 0) t = j;
        }
    }
    int from = -1;  // the edge (corner) we came in by
    const long long limit = 4LL * Slots() + 64;
    for (long long step = 0;; ++step) {
        const int32_t* v = &m_tv[3 * static_cast<size_t>(t)];
        int crossed = -1;
        for (int j = 0; j < 3; ++j) {
            const int e = (j + static_cast<int>(step)) % 3;
            if (e == from) continue;
            if (Orient(P(v[(e + 1) % 3]), P(v[(e + 2) % 3]), p) < 0) {
                crossed = e;
                break;
            }
        }
        if (crossed < 0) break;
        const int code = m_tn[3 * static_cast<size_t>(t) + crossed];
        if (code < 0) {
            k = crossed;
            m_nHint = t;
            return 1;
        }
        if (step > limit) {
            // Never expected on a Delaunay triangulation; a scan decides.
            for (int s = 0; s < Slots(); ++s) {
                if (!IsTriangle(s)) continue;
                const int32_t* w = &m_tv[3 * static_cast<size_t>(s)];
                if (Orient(P(w[0]), P(w[1]), p) >= 0 && Orient(P(w[1]), P(w[2]), p) >= 0 &&
                    Orient(P(w[2]), P(w[0]), p) >= 0) {
                    t = s;
                    break;
                }
            }
            break;
        }
        t = code / 3;
        from = code % 3;
    }
    m_nHint = t;
    const int32_t* v = &m_tv[3 * static_cast<size_t>(t)];
    const int o0 = Orient(P(v[1]), P(v[2]), p);
    const int o1 = Orient(P(v[2]), P(v[0]), p);
    const int o2 = Orient(P(v[0]), P(v[1]), p);
    if (o1 == 0 && o2 == 0) return k = v[0], 2;
    if (o2 == 0 && o0 == 0) return k = v[1], 2;
    if (o0 == 0 && o1 == 0) return k = v[2], 2;
    return 0;
}

bool CSurface::Height(double x, double y, double& z) const {
    if (m_nTriangles == 0 || !std::isfinite(x) || !std::isfinite(y)) return false;
    int t = -1, k = -1;
    const XY p{x, y};
    const int where = Locate(p, t, k);
    if (where == 1) return false;
    if (where == 2) {
        z = Z(k);
        return true;
    }
    const int32_t* v = &m_tv[3 * static_cast<size_t>(t)];
    const XY a = P(v[0]), b = P(v[1]), c = P(v[2]);
    const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    const double wa = ((b.x - x) * (c.y - y) - (b.y - y) * (c.x - x)) / area;
    const double wb = ((c.x - x) * (a.y - y) - (c.y - y) * (a.x - x)) / area;
    const double wc = 1.0 - wa - wb;
    z = wa * Z(v[0]) + wb * Z(v[1]) + wc * Z(v[2]);
    return true;
}

// ---------------------------------------------------------------- insertion

void CSurface::InsertVertex(int r) {
    const XY p = P(r);
    int t = -1, k = -1;
    const int where = Locate(p, t, k);
    if (where == 2) {
        // Another vertex at the same position: the smaller record index stays.
        const int q = k;
        if (q < r) {
            Hide(r);
            return;
        }
        if (!RemoveVertex(q)) {
            m_vt[static_cast<size_t>(q)] = kLoose;
            m_vt[static_cast<size_t>(r)] = kLoose;
            m_bRebuild = true;
            return;
        }
        Hide(q);
        InsertVertex(r);
        return;
    }
    m_cavity.clear(), m_stack.clear(), m_boundary.clear();
    auto take = [&](int u) {
        m_mark[static_cast<size_t>(u)] = 1;
        m_cavity.push_back(u);
        m_stack.push_back(u);
    };
    if (where == 0) {
        take(t);
    } else {
        // Beyond the hull: every hull edge that sees p. Walk the hull both
        // ways from the one found, turning about the shared vertices.
        auto visible = [&](int tt, int kk) {
            const int32_t* v = &m_tv[3 * static_cast<size_t>(tt)];
            return Orient(P(v[(kk + 1) % 3]), P(v[(kk + 2) % 3]), p) < 0;
        };
        std::vector<std::pair<int, int>> chain{{t, k}};
        // Forward: the hull edge leaving b = corner k+2.
        for (int tt = t, kk = k;;) {
            const int b = m_tv[3 * static_cast<size_t>(tt) + (kk + 2) % 3];
            int cur = tt, corner = (kk + 2) % 3;  // b's corner in cur
            for (;;) {
                const int out = (corner + 2) % 3;  // edge b -> next, opposite this corner
                const int code = m_tn[3 * static_cast<size_t>(cur) + out];
                if (code < 0) {
                    tt = cur, kk = out;
                    break;
                }
                cur = code / 3;
                corner = CornerOf(cur, b);
            }
            if (tt == t && kk == k) break;
            if (!visible(tt, kk)) break;
            chain.emplace_back(tt, kk);
        }
        // Backward: the hull edge entering a = corner k+1.
        for (int tt = t, kk = k;;) {
            const int a = m_tv[3 * static_cast<size_t>(tt) + (kk + 1) % 3];
            int cur = tt, corner = (kk + 1) % 3;
            for (;;) {
                const int in = (corner + 1) % 3;  // edge prev -> a, opposite this corner
                const int code = m_tn[3 * static_cast<size_t>(cur) + in];
                if (code < 0) {
                    tt = cur, kk = in;
                    break;
                }
                cur = code / 3;
                corner = CornerOf(cur, a);
            }
            if (tt == t && kk == k) break;
            if (!visible(tt, kk)) break;
            chain.emplace_back(tt, kk);
        }
        for (const auto& [tt, kk] : chain) {
            if (m_mark[static_cast<size_t>(tt)]) continue;
            if (InConflict(tt, r)) {
                take(tt);
            }
        }
        for (const auto& [tt, kk] : chain) {
            if (m_mark[static_cast<size_t>(tt)]) continue;
            const int32_t* v = &m_tv[3 * static_cast<size_t>(tt)];
            m_boundary.push_back({v[(kk + 2) % 3], v[(kk + 1) % 3], 3 * tt + kk});
        }
    }
    while (!m_stack.empty()) {
        const int u = m_stack.back();
        m_stack.pop_back();
        for (int e = 0; e < 3; ++e) {
            const int32_t* v = &m_tv[3 * static_cast<size_t>(u)];
            const int a = v[(e + 1) % 3], b = v[(e + 2) % 3];
            const int code = m_tn[3 * static_cast<size_t>(u) + e];
            if (code < 0) {
                // A hull edge that sees p, or holds it, opens the cavity outwards.
                const int o = Orient(P(a), P(b), p);
                if (o < 0) continue;
                if (o == 0) {
                    const XY pa = P(a), pb = P(b);
                    const double along =
                        (p.x - pa.x) * (pb.x - pa.x) + (p.y - pa.y) * (pb.y - pa.y);
                    const double length =
                        (pb.x - pa.x) * (pb.x - pa.x) + (pb.y - pa.y) * (pb.y - pa.y);
                    if (along > 0.0 && along < length) continue;
                }
                m_boundary.push_back({a, b, -1});
                continue;
            }
            const int w = code / 3;
            if (m_mark[static_cast<size_t>(w)]) continue;
            if (InConflict(w, r)) {
                take(w);
            } else {
                m_boundary.push_back({a, b, code});
            }
        }
    }
    for (int u : m_cavity) FreeTriangle(u);
    m_starts.clear();
    for (const Edge& e : m_boundary) {
        const int nt = NewTriangle(e.a, e.b, r);
        Link(3 * nt + 2, e.outer);
        m_starts.emplace_back(e.a, nt);
        m_vt[static_cast<size_t>(e.a)] = 3 * nt;
        m_vt[static_cast<size_t>(e.b)] = 3 * nt + 1;
        m_vt[static_cast<size_t>(r)] = 3 * nt + 2;
    }
    std::sort(m_starts.begin(), m_starts.end());
    for (const auto& [a, nt] : m_starts) {
        const int b = m_tv[3 * static_cast<size_t>(nt) + 1];
        const auto it = std::lower_bound(m_starts.begin(), m_starts.end(), std::make_pair(b, -1));
        if (it != m_starts.end() && it->first == b) Link(3 * nt, 3 * it->second + 1);
    }
    m_nHint = m_starts.empty() ? m_nHint : m_starts.front().second;
}

// ---------------------------------------------------------------- removal

bool CSurface::RemoveVertex(int r) {
    int t = m_vt[static_cast<size_t>(r)] / 3;
    int j = CornerOf(t, r);
    // Turn clockwise to the hull, if r lies on it.
    const int start = t;
    bool open = false;
    for (;;) {
        const int code = m_tn[3 * static_cast<size_t>(t) + (j + 2) % 3];
        if (code < 0) {
            open = true;
            break;
        }
        t = code / 3;
        j = CornerOf(t, r);
        if (t == start) break;
    }
    // The star counter-clockwise: its triangles, the link's vertices and
    // the codes of the triangles beyond the link's edges.
    std::vector<int> star, poly, outer;
    const int first = t;
    for (;;) {
        const int32_t* v = &m_tv[3 * static_cast<size_t>(t)];
        star.push_back(t);
        poly.push_back(v[(j + 1) % 3]);
        outer.push_back(m_tn[3 * static_cast<size_t>(t) + j]);
        const int code = m_tn[3 * static_cast<size_t>(t) + (j + 1) % 3];
        if (code < 0) {
            poly.push_back(v[(j + 2) % 3]);
            break;
        }
        t = code / 3;
        if (t == first) break;
        j = CornerOf(t, r);
    }
    for (int u : star) FreeTriangle(u);
    m_vt[static_cast<size_t>(r)] = kAbsent;
    const std::vector<int> link = poly;
    // Clips Delaunay ears: convex corners whose circle holds no other vertex
    // of the link. Such an ear is a triangle of the link's own Delaunay
    // triangulation lying in the hole, and so of the new triangulation.
    auto isEar = [&](size_t i) {
        const size_t n = poly.size();
        const int a = poly[(i + n - 1) % n], b = poly[i], c = poly[(i + 1) % n];
        if (Orient(P(a), P(b), P(c)) <= 0) return false;
        for (int w : link) {
            if (w == a || w == b || w == c) continue;
            if (InCircleTieBroken(P(a), a, P(b), b, P(c), c, P(w), w) > 0) return false;
        }
        return true;
    };
    auto clip = [&](size_t i) {
        const size_t n = poly.size();
        const size_t ip = (i + n - 1) % n;
        const int a = poly[ip], b = poly[i], c = poly[(i + 1) % n];
        const int nt = NewTriangle(a, b, c);
        Link(3 * nt + 2, outer[ip]);
        Link(3 * nt, outer[i]);
        m_vt[static_cast<size_t>(a)] = 3 * nt;
        m_vt[static_cast<size_t>(b)] = 3 * nt + 1;
        m_vt[static_cast<size_t>(c)] = 3 * nt + 2;
        outer[ip] = 3 * nt + 1;
        poly.erase(poly.begin() + static_cast<std::ptrdiff_t>(i));
        outer.erase(outer.begin() + static_cast<std::ptrdiff_t>(i));
        m_nHint = nt;
    };
    if (!open) {
        while (poly.size() > 3) {
            size_t i = 0;
            while (i < poly.size() && !isEar(i)) ++i;
            if (i == poly.size()) return false;
            clip(i);
        }
        const int nt = NewTriangle(poly[0], poly[1], poly[2]);
        Link(3 * nt + 2, outer[0]);
        Link(3 * nt, outer[1]);
        Link(3 * nt + 1, outer[2]);
        for (int c = 0; c < 3; ++c)
            m_vt[static_cast<size_t>(poly[static_cast<size_t>(c)])] = 3 * nt + c;
        m_nHint = nt;
        return true;
    }
    for (;;) {
        size_t i = 1;
        while (i + 1 < poly.size() && !isEar(i)) ++i;
        if (i + 1 >= poly.size()) break;
        clip(i);
    }
    // What is left of the chain is hull now.
    for (size_t i = 0; i + 1 < poly.size(); ++i) {
        const int code = outer[i];
        if (code < 0) continue;
        m_tn[static_cast<size_t>(code)] = -1;
        const int ot = code / 3, oc = code % 3;
        m_vt[static_cast<size_t>(poly[i])] = 3 * ot + (oc + 2) % 3;
        m_vt[static_cast<size_t>(poly[i + 1])] = 3 * ot + (oc + 1) % 3;
        m_nHint = ot;
    }
    // A link vertex left in no triangle (the rest lies on a line): rebuild.
    for (int w : link) {
        const int code = m_vt[static_cast<size_t>(w)];
        if (code < 0 || !IsTriangle(code / 3) || m_tv[static_cast<size_t>(code)] != w) return false;
    }
    return true;
}

// ---------------------------------------------------------------- records

uint64_t CSurface::PositionKey(int r) const {
    uint64_t a, b;
    const double x = X(r) == 0.0 ? 0.0 : X(r), y = Y(r) == 0.0 ? 0.0 : Y(r);
    std::memcpy(&a, &x, 8);
    std::memcpy(&b, &y, 8);
    return a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull + (a << 6) + (a >> 2));
}

void CSurface::Hide(int r) {
    m_vt[static_cast<size_t>(r)] = kHidden;
    m_hidden[PositionKey(r)].push_back(r);
}

void CSurface::Unhide(int r) {
    const auto it = m_hidden.find(PositionKey(r));
    if (it == m_hidden.end()) return;
    auto& list = it->second;
    list.erase(std::remove(list.begin(), list.end(), r), list.end());
    if (list.empty()) m_hidden.erase(it);
}

void CSurface::TouchStar(int r) {
    const int code = m_vt[static_cast<size_t>(r)];
    if (code < 0 || m_bAllTouched) return;
    const int first = code / 3;
    int t = first, j = code % 3;
    // Counter-clockwise, then clockwise from the first where the hull stops us.
    for (;;) {
        Touch(t);
        const int next = m_tn[3 * static_cast<size_t>(t) + (j + 1) % 3];
        if (next < 0) break;
        t = next / 3;
        if (t == first) return;
        j = CornerOf(t, r);
    }
    t = first, j = code % 3;
    for (;;) {
        const int prev = m_tn[3 * static_cast<size_t>(t) + (j + 2) % 3];
        if (prev < 0) return;
        t = prev / 3;
        j = CornerOf(t, r);
        Touch(t);
    }
}

void CSurface::InsertRecord(int r) {
    if (m_nTriangles == 0) {
        m_vt[static_cast<size_t>(r)] = kLoose;
        m_bRebuild = true;
        return;
    }
    m_vt[static_cast<size_t>(r)] = kLoose;
    InsertVertex(r);
}

void CSurface::RemoveRecord(int r) {
    const int code = m_vt[static_cast<size_t>(r)];
    if (code == kAbsent) return;
    if (code == kHidden) {
        Unhide(r);
        m_vt[static_cast<size_t>(r)] = kAbsent;
        return;
    }
    if (code == kLoose) {
        m_vt[static_cast<size_t>(r)] = kAbsent;
        m_bRebuild = m_bRebuild || m_nTriangles == 0;
        return;
    }
    // A vertex: the smallest of the records hidden behind it takes its place.
    int heir = -1;
    if (!m_hidden.empty()) {
        const auto it = m_hidden.find(PositionKey(r));
        if (it != m_hidden.end()) {
            for (int h : it->second)
                if (X(h) == X(r) && Y(h) == Y(r) && (heir < 0 || h < heir)) heir = h;
        }
    }
    if (!RemoveVertex(r)) {
        m_vt[static_cast<size_t>(r)] = kAbsent;
        m_bRebuild = true;
    }
    if (m_nTriangles == 0) m_bRebuild = true;
    if (heir >= 0) {
        Unhide(heir);
        if (m_bRebuild) {
            m_vt[static_cast<size_t>(heir)] = kLoose;
        } else {
            InsertRecord(heir);
        }
    }
}

int CSurface::Update(const CTINPoints& ground, const std::vector<int>& changed) {
    const int before = RecordCount();
    const int n = ground.GetCount();
    if (n < before) {
        // Fewer records without a renumbering: take everything again.
        Build(ground);
        return n;
    }
    m_x.resize(static_cast<size_t>(n)), m_y.resize(static_cast<size_t>(n));
    m_z.resize(static_cast<size_t>(n)), m_vt.resize(static_cast<size_t>(n), kAbsent);
    std::vector<int> records;
    records.reserve(changed.size() + static_cast<size_t>(n - before));
    for (int r : changed)
        if (r >= 0 && r < before) records.push_back(r);
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    for (int r = before; r < n; ++r) records.push_back(r);

    std::vector<int> leave, enter;
    int count = 0;
    for (int r : records) {
        const TINPoint& p = *ground.GetPoint(r);
        const bool want = LiveRecord(p);
        const bool has = m_vt[static_cast<size_t>(r)] != kAbsent;
        const bool moved = !has || X(r) != p.x || Y(r) != p.y;
        if (has && (!want || moved)) leave.push_back(r);
        if (want && moved) enter.push_back(r);
        if (has || want) ++count;
    }
    // Hidden records first, so that none is made a vertex and then removed.
    std::stable_partition(leave.begin(), leave.end(),
                          [&](int r) { return m_vt[static_cast<size_t>(r)] == kHidden; });
    for (int r : leave) {
        if (m_bRebuild) {
            if (m_vt[static_cast<size_t>(r)] == kHidden) Unhide(r);
            m_vt[static_cast<size_t>(r)] = kAbsent;
        } else {
            RemoveRecord(r);
        }
    }
    for (int r : records) {
        const TINPoint& p = *ground.GetPoint(r);
        const bool zOnly = m_vt[static_cast<size_t>(r)] >= 0 && m_z[static_cast<size_t>(r)] != p.z;
        m_x[static_cast<size_t>(r)] = p.x, m_y[static_cast<size_t>(r)] = p.y;
        m_z[static_cast<size_t>(r)] = p.z;
        if (zOnly) TouchStar(r);
    }
    if (enter.size() > 64) InsertionOrder(enter, m_x, m_y);
    for (int r : enter) {
        if (m_bRebuild) {
            m_vt[static_cast<size_t>(r)] = kLoose;
        } else {
            InsertRecord(r);
        }
    }
    if (m_bRebuild) Rebuild();
    return count;
}

int CSurface::Renumber(const std::vector<int>& newIndexOfOld, const CTINPoints& ground) {
    const int n = ground.GetCount();
    bool ordered = true;
    int last = -1;
    for (size_t i = 0; i < newIndexOfOld.size() && i < m_vt.size(); ++i) {
        const int to = newIndexOfOld[i];
        if (to < 0) {
            // A dropped record leaves first (it should be deleted already).
            if (m_vt[i] != kAbsent && !m_bRebuild) RemoveRecord(static_cast<int>(i));
            m_vt[i] = kAbsent;
            continue;
        }
        if (to <= last || to >= n) ordered = false;
        last = std::max(last, to);
    }
    const size_t oldCount = m_vt.size();
    std::vector<double> x(static_cast<size_t>(n), 0.0), y(static_cast<size_t>(n), 0.0),
        z(static_cast<size_t>(n), 0.0);
    std::vector<int32_t> vt(static_cast<size_t>(n), kAbsent);
    std::vector<uint8_t> mapped(static_cast<size_t>(n), 0);
    for (size_t i = 0; i < oldCount; ++i) {
        const int to = i < newIndexOfOld.size() ? newIndexOfOld[i] : -1;
        if (to < 0 || to >= n) continue;
        const auto d = static_cast<size_t>(to);
        x[d] = m_x[i], y[d] = m_y[i], z[d] = m_z[i], vt[d] = m_vt[i];
        mapped[d] = 1;
    }
    for (size_t s = 0; s < m_tv.size(); s += 3) {
        if (m_tv[s] == kFreeSlot) continue;
        for (size_t c = 0; c < 3; ++c) {
            const auto v = static_cast<size_t>(m_tv[s + c]);
            m_tv[s + c] = v < newIndexOfOld.size() ? newIndexOfOld[v] : -1;
            if (m_tv[s + c] < 0) m_bRebuild = true;
        }
    }
    std::unordered_map<uint64_t, std::vector<int>> hidden;
    m_x.swap(x), m_y.swap(y), m_z.swap(z), m_vt.swap(vt);
    for (auto& [key, list] : m_hidden) {
        for (int& h : list)
            h = static_cast<size_t>(h) < newIndexOfOld.size()
                    ? newIndexOfOld[static_cast<size_t>(h)]
                    : -1;
        list.erase(std::remove(list.begin(), list.end(), -1), list.end());
        if (!list.empty()) hidden[key] = list;
    }
    m_hidden.swap(hidden);
    if (!ordered) {
        m_bRebuild = true;
    }
    std::vector<int> fresh;
    for (int r = 0; r < n; ++r)
        if (!mapped[static_cast<size_t>(r)]) fresh.push_back(r);
    if (m_bRebuild) {
        for (int r : fresh) {
            const TINPoint& p = *ground.GetPoint(r);
            m_x[static_cast<size_t>(r)] = p.x, m_y[static_cast<size_t>(r)] = p.y;
            m_z[static_cast<size_t>(r)] = p.z;
            if (LiveRecord(p)) m_vt[static_cast<size_t>(r)] = kLoose;
        }
        Rebuild();
        return 1;
    }
    // Records without an old number are absent now; the update takes them
    // as changed ones.
    Update(ground, fresh);
    return 1;
}

// ---------------------------------------------------------------- checks

bool CSurface::CheckStructure(std::string* why) const {
    auto fail = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    int count = 0;
    for (int t = 0; t < Slots(); ++t) {
        if (!IsTriangle(t)) continue;
        ++count;
        const int32_t* v = &m_tv[3 * static_cast<size_t>(t)];
        if (Orient(P(v[0]), P(v[1]), P(v[2])) <= 0)
            return fail("triangle " + std::to_string(t) + " is not counter-clockwise");
        for (int k = 0; k < 3; ++k) {
            const int code = m_tn[3 * static_cast<size_t>(t) + k];
            if (code < 0) continue;
            if (!IsTriangle(code / 3) || m_tn[static_cast<size_t>(code)] != 3 * t + k)
                return fail("neighbours of triangle " + std::to_string(t) + " disagree");
            const int a = v[(k + 1) % 3], b = v[(k + 2) % 3];
            const int32_t* w = &m_tv[3 * static_cast<size_t>(code / 3)];
            const int c = code % 3;
            if (w[(c + 1) % 3] != b || w[(c + 2) % 3] != a)
                return fail("shared edge of triangle " + std::to_string(t) + " differs");
        }
    }
    if (count != m_nTriangles) return fail("triangle count is off");
    for (int r = 0; r < RecordCount(); ++r) {
        const int code = m_vt[static_cast<size_t>(r)];
        if (code < 0) continue;
        if (!IsTriangle(code / 3) || m_tv[static_cast<size_t>(code)] != r)
            return fail("record " + std::to_string(r) + " names a corner that is not its own");
    }
    return true;
}
