// Match Z on synthetic stereo pairs made here by casting every pixel's ray
// against a known surface (no part of the matcher involved): a textured
// hill with a 3 m step, and a flat grey field; and a textured plane with a
// break of slope. The right photograph differs from the left by noise, a
// gain and an offset, and holds 16-bit samples.
#include "Matching/Matcher.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

namespace {

// Ground (metres) around the local origin: the hill, and 3 m higher east of
// x = 15 while y < 8 (the step); texture wherever y < 12, grey beyond.
constexpr double kX0 = 5000.0, kY0 = 8000.0, kBaseZ = 100.0;
bool OnStep(double x, double y) {
    return x > 15.0 && y < 8.0;
}
double TrueZ(double X, double Y) {
    const double x = X - kX0, y = Y - kY0;
    return kBaseZ + 0.08 * x + 1.0 * std::sin(y / 12.0) + (OnStep(x, y) ? 3.0 : 0.0);
}
bool Textured(double Y) {
    return Y - kY0 < 12.0;
}
// A cut's slope: 0.7 up beyond the oblique line x - 0.3 y = 5 (east of it).
double BreakOfSlope(double x, double y) {
    return x - 0.3 * y - 5.0;
}
double KinkedZ(double X, double Y) {
    const double x = X - kX0, y = Y - kY0;
    return kBaseZ + 0.08 * x + 0.7 * std::max(0.0, BreakOfSlope(x, y));
}
using Surface = double (*)(double X, double Y);

struct Wave {
    double kx, ky, phase, amplitude;
};

class SyntheticPair : public ::testing::Test {
protected:
    static void SetUpTestSuite() { MakePair(s_left, s_right, TrueZ); }
    static void MakePair(CAerialPhoto& left, CAerialPhoto& right, Surface surface) {
        if (s_waves.empty()) {
            std::mt19937 rng(7);
            std::uniform_real_distribution<double> uni(0.0, 1.0);
            for (int i = 0; i < 24; ++i) {
                const double wavelength = 1.2 + 3.8 * uni(rng), angle = 2 * M_PI * uni(rng);
                s_waves.push_back({2 * M_PI / wavelength * std::cos(angle),
                                   2 * M_PI / wavelength * std::sin(angle), 2 * M_PI * uni(rng),
                                   12.0 + 6.0 * uni(rng)});
            }
        }
        // Vertical photographs 600 m apart from 1500 m above the hill (0.2 m
        // pixels, 2 px of parallax per metre of height), slightly rotated.
        MakePhoto(left, -300.0, 0.3, -0.4, 0.5, 7050, 5600, 1.0, 0.0, 8, surface);
        MakePhoto(right, 300.0, -0.2, 0.3, -0.6, 4050, 5600, 0.85, 20.0, 16, surface);
    }
    static double Texture(double X, double Y) {
        if (!Textured(Y)) return 120.0;
        double g = 120.0;
        for (const Wave& w : s_waves)
            g += w.amplitude * std::sin(w.kx * (X - kX0) + w.ky * (Y - kY0) + w.phase) / 2.5;
        return g;
    }
    static void MakePhoto(CAerialPhoto& photo, double dx, double omega, double phi, double kappa,
                          int xStart, int yStart, double gain, double offset, int bits,
                          Surface surface) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "ORIENTATION SYNTHETIC PAIR\n150.0\n%.3f %.3f 1600.0\n%.3f %.3f %.3f\n0 0 "
                      "0\n0.02 0 -115.0\n0 -0.02 115.0\n0 0\n",
                      kX0 + dx, kY0, omega, phi, kappa);
        FILE* f = fmemopen(text, std::strlen(text), "r");
        ASSERT_EQ(photo.ReadOrientation(f), 1);
        std::fclose(f);
        const int cols = 420, rows = 320;
        LanHeader h = MakeDefaultLanHeader();
        h.packing = bits == 8 ? 0 : 2;
        h.ncols = cols;
        h.nrows = rows;
        h.xstart = xStart;
        h.ystart = yStart;
        std::unique_ptr<CBandArray> bands = AllocBands(1, rows, cols, bits / 8);
        unsigned char* band = bands->Data()[0];
        std::mt19937 rng(bits);
        std::normal_distribution<double> noise(0.0, 1.0);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                // The ray's ground position is linear in Z: step down from
                // above the highest ground until below the surface, then bisect.
                double pixel[2] = {c + double(xStart), r + double(yStart)}, X0, Y0, X1, Y1;
                const double zHi = 130.0, zLo = 90.0;
                photo.ImageToGround(pixel, &zHi, X0, Y0);
                photo.ImageToGround(pixel, &zLo, X1, Y1);
                auto at = [&](double z, double& X, double& Y) {
                    X = X0 + (X1 - X0) * (zHi - z) / (zHi - zLo);
                    Y = Y0 + (Y1 - Y0) * (zHi - z) / (zHi - zLo);
                    return z - surface(X, Y);
                };
                double above = zHi, below = zHi, X, Y;
                while (at(below, X, Y) > 0.0) below -= 0.1;
                above = below + 0.1;
                for (int i = 0; i < 40; ++i) {
                    const double mid = 0.5 * (above + below);
                    (at(mid, X, Y) > 0.0 ? above : below) = mid;
                }
                at(below, X, Y);
                const double g = gain * (Texture(X, Y) + noise(rng)) + offset;
                if (bits == 8) {
                    band[r * cols + c] = static_cast<unsigned char>(std::clamp(g, 0.0, 255.0));
                } else {
                    const uint16_t v = static_cast<uint16_t>(std::lround(g * 10.0));
                    std::memcpy(band + 2 * (r * cols + c), &v, 2);
                }
            }
        }
        ASSERT_EQ(photo.m_image.AdoptBands(h, std::move(bands)), 1);
    }
    // A 1.5 m grid of points over the area at their true heights (2 cm noise).
    static void MakeGround(CTINPoints& ground) {
        std::mt19937 rng(3);
        std::normal_distribution<double> noise(0.0, 0.02);
        for (double y = -24.0; y <= 24.0; y += 1.5) {
            for (double x = -30.0; x <= 30.0; x += 1.5) {
                const double X = kX0 + x + 0.3 * std::sin(y), Y = kY0 + y;
                ground.AddPoint({ground.GetCount(), X, Y, TrueZ(X, Y) + noise(rng), 1.0});
            }
        }
        ground.m_dMinX = kX0 - 31;
        ground.m_dMaxX = kX0 + 31;
        ground.m_dMinY = kY0 - 25;
        ground.m_dMaxY = kY0 + 25;
    }
    static CAerialPhoto s_left, s_right;
    static std::vector<Wave> s_waves;
};
CAerialPhoto SyntheticPair::s_left, SyntheticPair::s_right;
std::vector<Wave> SyntheticPair::s_waves;

// Distance (metres) to the step's edge, where a window sees both levels.
double NearStep(double X, double Y) {
    const double x = X - kX0 - 15.0, y = Y - kY0 - 8.0;
    return std::min(y < 0.0 ? std::fabs(x) : std::hypot(x, y),
                    x > 0.0 ? std::fabs(y) : std::hypot(x, y));
}

bool Same(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(SyntheticPair, BlundersReturnToTheSurfaceAndGreyPointsStay) {
    CTINPoints ground;
    MakeGround(ground);
    // Every seventh point a blunder of 2.5 to 6 m up or down.
    std::vector<int> indices;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> size(2.5, 6.0);
    for (int i = 0; i < ground.GetCount(); i += 7) {
        ground.GetPoint(i)->z += (i % 2 ? 1 : -1) * size(rng);
        indices.push_back(i);
    }
    MatchOptions options;
    options.threads = 2;
    std::vector<MatchResult> results, oneThread;
    const int matched =
        MatchPoints(ground, s_left, s_right, nullptr, indices, true, options, results);
    options.threads = 1;
    ASSERT_EQ(MatchPoints(ground, s_left, s_right, nullptr, indices, true, options, oneThread),
              matched);
    int textured = 0, texturedMatched = 0;
    double sum2 = 0.0, yParallax2 = 0.0;
    for (size_t k = 0; k < results.size(); ++k) {
        const MatchResult& r = results[k];
        const TINPoint& p = *ground.GetPoint(r.index);
        const MatchResult& o = oneThread[k];
        EXPECT_TRUE(r.status == o.status && Same(r.x, o.x) && Same(r.y, o.y) && Same(r.z, o.z) &&
                    Same(r.correlation, o.correlation) && Same(r.sigmaPx, o.sigmaPx))
            << "the thread count changed result " << k;
        if (!Textured(p.y - 2.0)) {
            // Grey (with a window's margin): never matched, never moved.
            EXPECT_NE(r.status, MatchStatus::Matched) << r.index;
            EXPECT_TRUE(r.x == p.x && r.y == p.y && r.z == p.z) << r.index;
            continue;
        }
        if (!Textured(p.y + 2.0) || NearStep(p.x, p.y) < 3.0 || r.status == MatchStatus::Outside)
            continue;
        ++textured;
        if (r.status != MatchStatus::Matched) continue;
        ++texturedMatched;
        // Along the left ray: the left image position is where it was.
        double c0, r0, c1, r1;
        s_left.GroundToImage(p.x, p.y, p.z, c0, r0);
        s_left.GroundToImage(r.x, r.y, r.z, c1, r1);
        EXPECT_LT(std::hypot(c1 - c0, r1 - r0), 1e-6);
        const double error = r.z - TrueZ(r.x, r.y);
        EXPECT_LT(std::fabs(error), 0.1) << r.index;
        sum2 += error * error;
        yParallax2 += r.yParallax * r.yParallax;
    }
    ASSERT_GT(textured, 20);
    EXPECT_GE(texturedMatched, textured * 95 / 100);
    // 2 px of parallax per metre: RMSE within 0.05 px.
    EXPECT_LT(2.0 * std::sqrt(sum2 / texturedMatched), 0.05);
    // Exact orientations: the shift across the epipolar line is only noise.
    EXPECT_LT(std::sqrt(yParallax2 / texturedMatched), 0.05);
}

TEST_F(SyntheticPair, PointsAtTheirTrueHeightStayAndKeepXYChangesOnlyZ) {
    MatchOptions options;
    const CMatcher matcher(s_left, s_right, options);
    ASSERT_EQ(matcher.Status(), 1);
    options.keepXY = true;
    const CMatcher vertical(s_left, s_right, options);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> ux(-28.0, 10.0), uy(-22.0, 4.0);
    double worst = 0.0;
    int matched = 0;
    for (int i = 0; i < 60; ++i) {
        const double X = kX0 + ux(rng), Y = kY0 + uy(rng), z = TrueZ(X, Y);
        const MatchResult r = matcher.Match(X, Y, z, z + 1.0, 3.0);
        if (r.status != MatchStatus::Matched) continue;
        ++matched;
        worst = std::max(worst, 2.0 * std::fabs(r.z - TrueZ(r.x, r.y)));
        // Keeping X and Y, from 2.5 m off: the same height, the same X and Y.
        const MatchResult v = vertical.Match(X, Y, z + 2.5, z + 2.5, 4.0);
        ASSERT_EQ(v.status, MatchStatus::Matched);
        EXPECT_TRUE(v.x == X && v.y == Y);
        EXPECT_LT(2.0 * std::fabs(v.z - z), 0.05);
    }
    EXPECT_GE(matched, 57);
    EXPECT_LE(worst, 0.05);
    // A window across the image border is outside, and nothing moves.
    double X, Y, pixel[2] = {7050 + 3.0, 5600 + 100.0}, zz = 100.0;
    s_left.ImageToGround(pixel, &zz, X, Y);
    const MatchResult edge = matcher.Match(X, Y, TrueZ(X, Y), TrueZ(X, Y), 3.0);
    EXPECT_EQ(edge.status, MatchStatus::Outside);
    EXPECT_TRUE(edge.x == X && edge.y == Y && std::isnan(edge.correlation));
}

// Beside the step every window centred on a point sees both levels (6 px
// of parallax apart). Points 0.5 to 3 m from its edge, on either side and at
// their true height: the fallbacks (the window weighted towards the point,
// windows shifted off it) match many that the centred window alone leaves,
// and give those the point's own level, not the other one's.
TEST_F(SyntheticPair, BesideTheStepTheFallbacksFindThePointsOwnLevel) {
    MatchOptions options;
    const CMatcher matcher(s_left, s_right, options);
    options.shiftedWindows = false;
    const CMatcher centredOnly(s_left, s_right, options);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> along(-20.0, 4.0), off(0.5, 3.0);
    const int tried = 80;
    int centred = 0, added = 0;
    for (int i = 0; i < tried; ++i) {
        // Across the edge x = 15 (y < 8), on the upper or the lower level.
        const double X = kX0 + 15.0 + (i % 2 ? 1.0 : -1.0) * off(rng), Y = kY0 + along(rng);
        const double z = TrueZ(X, Y);
        const MatchResult c = centredOnly.Match(X, Y, z, z + 1.0, 4.0);
        const MatchResult r = matcher.Match(X, Y, z, z + 1.0, 4.0);
        if (c.status == MatchStatus::Matched) {
            ++centred;
            EXPECT_TRUE(r.status == MatchStatus::Matched && r.z == c.z);  // the fallbacks only add
            continue;
        }
        if (r.status != MatchStatus::Matched) continue;
        ++added;
        EXPECT_LT(2.0 * std::fabs(r.z - TrueZ(r.x, r.y)), 1.5) << X - kX0 << " " << Y - kY0;
    }
    EXPECT_GE(added, (tried - centred) / 2);
}

// A 35 degree cut's slope meets the plain along an oblique line: a window
// across it sees two planes of parallax, 0.28 px per pixel apart in slope.
class BrokenPair : public SyntheticPair {
protected:
    static void SetUpTestSuite() { MakePair(s_kinkedLeft, s_kinkedRight, KinkedZ); }
    static CAerialPhoto s_kinkedLeft, s_kinkedRight;
};
CAerialPhoto BrokenPair::s_kinkedLeft, BrokenPair::s_kinkedRight;

// Points within 2.5 m of the break (a window reaches 1.4 m), at their true
// height, searched from 0.5 m off: where the plain window's one plane puts
// them between the two, the narrowed window brings them close.
TEST_F(BrokenPair, AcrossABreakOfSlopeTheNarrowedWindowBringsThePointsClose) {
    const int tried = 200;
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> along(-20.0, 6.0), off(-2.5, 2.5);
    MatchOptions options;
    const CMatcher matcher(s_kinkedLeft, s_kinkedRight, options);
    options.narrowing = false;
    const CMatcher plain(s_kinkedLeft, s_kinkedRight, options);
    double sum2 = 0.0, plainSum2 = 0.0;
    int matched = 0, plainMatched = 0;
    for (int i = 0; i < tried; ++i) {
        const double y = along(rng), x = 5.0 + 0.3 * y + off(rng) / std::cos(std::atan(0.3));
        const double X = kX0 + x, Y = kY0 + y, z = KinkedZ(X, Y);
        const MatchResult r = matcher.Match(X, Y, z, z + 0.5, 3.0);
        const MatchResult p = plain.Match(X, Y, z, z + 0.5, 3.0);
        if (r.status == MatchStatus::Matched) {
            ++matched;
            sum2 += std::pow(2.0 * (r.z - KinkedZ(r.x, r.y)), 2);
        }
        if (p.status == MatchStatus::Matched) {
            ++plainMatched;
            plainSum2 += std::pow(2.0 * (p.z - KinkedZ(p.x, p.y)), 2);
        }
    }
    ASSERT_GE(matched, tried * 95 / 100);
    ASSERT_GE(plainMatched, tried * 90 / 100);
    const double rmse = std::sqrt(sum2 / matched), plainRmse = std::sqrt(plainSum2 / plainMatched);
    EXPECT_LT(rmse, 0.7 * plainRmse);
    EXPECT_LT(rmse, 0.1);
}

}  // namespace
