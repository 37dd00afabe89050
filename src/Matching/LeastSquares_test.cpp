// The variance the refinement reports for its parallax, against the spread
// of the same estimate over many draws of noise (an empirical computation
// that shares nothing with the formula): a 15 x 15 window whose samples
// carry a random grey-level slope, a shift and two slope terms estimated,
// some samples given no robust weight (another surface: much noisier),
// without and with the taper towards the centre that the fallbacks use.
#include "Matching/LeastSquares.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

TEST(LeastSquares, ReportedVarianceIsTheSpreadOverNoiseDraws) {
    constexpr int P = 3, kHalf = 7, kDraws = 4000;
    const double h = kHalf;
    std::mt19937 rng(21);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    struct Sample {
        double j[P];
        double robust;
    };
    std::vector<Sample> samples;
    for (int v = -kHalf; v <= kHalf; ++v) {
        for (int u = -kHalf; u <= kHalf; ++u) {
            const double g = gauss(rng);
            samples.push_back({{g, g * u / h, g * v / h}, uni(rng) < 0.15 ? 0.0 : 1.0});
        }
    }
    const double e0[P] = {1.0, 0.4, -0.3};  // the parallax at a point off the centre
    for (const double taper : {0.0, 0.3}) {
        std::vector<double> w;
        double normal[P][P] = {}, spread[P][P] = {}, weightSum = 0.0, robustSum = 0.0;
        for (size_t k = 0; k < samples.size(); ++k) {
            const int u = static_cast<int>(k % (2 * kHalf + 1)) - kHalf;
            const int v = static_cast<int>(k / (2 * kHalf + 1)) - kHalf;
            const double place =
                taper > 0.0 ? std::exp(-0.5 * (u * u + v * v) / (h * h * taper * taper)) : 1.0;
            w.push_back(place * samples[k].robust);
            weightSum += w.back();
            robustSum += samples[k].robust;
            for (int r = 0; r < P; ++r) {
                for (int c = r; c < P; ++c) {
                    normal[r][c] += w[k] * samples[k].j[r] * samples[k].j[c];
                    spread[r][c] += w[k] * place * samples[k].j[r] * samples[k].j[c];
                }
            }
        }
        ASSERT_TRUE(lsq::Cholesky(normal));
        double spreadSum = 0.0, reported = 0.0, plainFormula = 0.0;
        for (int d = 0; d < kDraws; ++d) {
            std::vector<double> y(samples.size());
            double rhs[P] = {};
            for (size_t k = 0; k < samples.size(); ++k) {
                y[k] = gauss(rng) * (samples[k].robust > 0.0 ? 1.0 : 20.0);
                for (int r = 0; r < P; ++r) rhs[r] += w[k] * samples[k].j[r] * y[k];
            }
            double theta[P];
            lsq::CholeskySolve(normal, rhs, theta);
            double combination = 0.0, sse = 0.0;
            for (int r = 0; r < P; ++r) combination += e0[r] * theta[r];
            for (size_t k = 0; k < samples.size(); ++k) {
                double e = y[k];
                for (int r = 0; r < P; ++r) e -= samples[k].j[r] * theta[r];
                sse += w[k] * e * e;
            }
            spreadSum += combination * combination;  // the true value is 0
            const double s0 = lsq::SampleVariance(sse, weightSum, robustSum, P);
            reported += lsq::CombinationVariance(normal, taper > 0.0 ? spread : nullptr, e0, s0);
            plainFormula += lsq::CombinationVariance<P>(normal, nullptr, e0, sse / (robustSum - P));
        }
        const double empirical = spreadSum / kDraws;
        EXPECT_NEAR(reported / kDraws / empirical, 1.0, 0.08) << "taper " << taper;
        // Where the place weights were taken for precisions, the taper's
        // variance came out about half the real one.
        if (taper > 0.0) {
            EXPECT_LT(plainFormula / kDraws / empirical, 0.7);
        }
    }
}

}  // namespace
