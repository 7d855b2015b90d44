// BD rates of hand-made RD curves: values another tool gives for the same points, the cases
// without a rate, and the symmetry between anchor and compared curve.
#include "metrics_panel/ze_bd_rate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using ze::nox::gui::CalcBdRate;
using ze::nox::gui::FitLine;
using ze::nox::gui::ZeLineFit;
using ze::nox::gui::ZeRdPoint;

namespace {

using Curve = std::vector<ZeRdPoint>;

struct BdCase
{
    char const* name;
    Curve anchor;
    Curve compared;
    double expected; // NaN: no rate exists
};

double const kNaN = std::nan("");

std::vector<BdCase> const& Cases()
{
    static std::vector<BdCase> const cases = {
        {"constant rate ratio 1.5", {{1000, 30}, {2000, 40}}, {{1500, 30}, {3000, 40}}, 50.0},
        {"shifted curve, four points",
         {{1000, 30}, {2000, 33}, {4000, 36}, {8000, 39}},
         {{900, 30.5}, {1800, 33.5}, {3600, 36.5}, {7200, 39.5}},
         -19.8191},
        {"bent curves, four points",
         {{1000, 30}, {2000, 34}, {4000, 37}, {8000, 39}},
         {{1100, 30.2}, {2100, 34.1}, {4500, 37.3}, {8800, 39.2}},
         4.4709},
        {"SSIM scale", {{500, 0.90}, {1000, 0.95}}, {{600, 0.91}, {1200, 0.96}}, 4.4661},
        {"two points against three", {{1000, 30}, {2000, 40}}, {{1200, 31}, {2400, 36}, {4800, 41}}, 52.9473},
        {"half the rate", {{1000, 30}, {2000, 35}, {4000, 40}}, {{500, 30}, {1000, 35}, {2000, 40}}, -50.0},
        {"same points", {{1000, 30}, {2000, 40}}, {{1000, 30}, {2000, 40}}, 0.0},
        {"single point", {{1000, 30}}, {{1000, 30}, {2000, 40}}, kNaN},
        {"flat curve", {{1000, 30}, {2000, 40}}, {{1000, 35}, {2000, 35}}, kNaN},
        {"no common range", {{1000, 30}, {2000, 40}}, {{1000, 45}, {2000, 50}}, kNaN},
        {"ranges meet in one value", {{1000, 30}, {2000, 40}}, {{1000, 40}, {2000, 50}}, kNaN},
        {"zero bit rate", {{0, 30}, {2000, 40}}, {{1000, 30}, {2000, 40}}, kNaN},
        {"quality not a number", {{1000, kNaN}, {2000, 40}}, {{1000, 30}, {2000, 40}}, kNaN},
        {"no points", {}, {}, kNaN},
    };
    return cases;
}

TEST(BdRate, ValuesOfHandMadeCurves)
{
    for (BdCase const& c : Cases()) {
        double const got = CalcBdRate(c.anchor, c.compared);
        if (std::isnan(c.expected))
            EXPECT_TRUE(std::isnan(got)) << c.name << ": " << got;
        else
            EXPECT_NEAR(got, c.expected, 1e-4) << c.name;
    }
}

// The rate ratio of B against A is the inverse of A against B: r' = 1 / (1 + r / 100) - 1.
TEST(BdRate, SwappingTheCurvesGivesTheInverseRatio)
{
    for (BdCase const& c : Cases()) {
        double const forward = CalcBdRate(c.anchor, c.compared);
        double const backward = CalcBdRate(c.compared, c.anchor);
        if (std::isnan(forward)) {
            EXPECT_TRUE(std::isnan(backward)) << c.name;
            continue;
        }
        EXPECT_NEAR(backward, 100.0 * (100.0 / (100.0 + forward) - 1.0), 1e-9) << c.name;
    }
}

// The points may come in any order; the fit is the least-squares line, not a line through two
// of them.
TEST(BdRate, LineFitIsLeastSquares)
{
    ZeLineFit fit;
    ASSERT_TRUE(FitLine({0, 1, 2, 3}, {1, 3, 2, 6}, fit));
    EXPECT_NEAR(fit.c1, 1.4, 1e-12);
    EXPECT_NEAR(fit.c0, 0.9, 1e-12);
    ASSERT_TRUE(FitLine({3, 0, 2, 1}, {6, 1, 2, 3}, fit));
    EXPECT_NEAR(fit.c1, 1.4, 1e-12);
    EXPECT_FALSE(FitLine({5, 5, 5}, {1, 2, 3}, fit));
    EXPECT_FALSE(FitLine({1}, {1}, fit));
    EXPECT_FALSE(FitLine({1, 2}, {1}, fit));

    Curve const ordered = {{1000, 30}, {2000, 34}, {4000, 37}, {8000, 39}};
    Curve const shuffled = {{4000, 37}, {1000, 30}, {8000, 39}, {2000, 34}};
    Curve const compared = {{1100, 30.2}, {2100, 34.1}, {4500, 37.3}, {8800, 39.2}};
    EXPECT_NEAR(CalcBdRate(shuffled, compared), CalcBdRate(ordered, compared), 1e-9);
}

} // namespace
