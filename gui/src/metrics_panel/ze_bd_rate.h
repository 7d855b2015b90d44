#pragma once

#include <vector>

namespace ze::nox::gui {

// One point of a rate-distortion curve: the stream's bit rate and its mean quality.
struct ZeRdPoint
{
    double rate = 0.0;
    double quality = 0.0;
};

// Straight line y = c0 + c1 * x.
struct ZeLineFit
{
    double c0 = 0.0;
    double c1 = 0.0;
};

// First-order least-squares fit of y over x. False when there are fewer than two points, the
// sizes differ, a value is not finite or all x are equal (no line is defined).
bool FitLine(std::vector<double> const& x, std::vector<double> const& y, ZeLineFit& fit);

// BD rate of `compared` against `anchor` in per cent: ln(rate) is fitted as a line over the
// quality on each curve, the mean difference d of the two lines over the quality range both
// curves cover gives 100 * (exp(d) - 1), the change of the rate needed for equal quality.
// The curves may hold different numbers of points. Not a number where no rate exists: a
// curve without two distinct quality values, a rate that is not positive, a value that is not
// finite, or no common quality range wider than a single value.
double CalcBdRate(std::vector<ZeRdPoint> const& anchor, std::vector<ZeRdPoint> const& compared);

} // namespace ze::nox::gui
