#include "metrics_panel/ze_bd_rate.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ze::nox::gui {

bool FitLine(std::vector<double> const& x, std::vector<double> const& y, ZeLineFit& fit)
{
    size_t const n = x.size();
    if (n < 2 || y.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (!std::isfinite(x[i]) || !std::isfinite(y[i]))
            return false;
    double meanX = 0.0;
    double meanY = 0.0;
    for (size_t i = 0; i < n; ++i) {
        meanX += x[i];
        meanY += y[i];
    }
    meanX /= static_cast<double>(n);
    meanY /= static_cast<double>(n);
    // Centred sums: the normal equations stay well conditioned for qualities far from zero.
    double sxx = 0.0;
    double sxy = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double const dx = x[i] - meanX;
        sxx += dx * dx;
        sxy += dx * (y[i] - meanY);
    }
    if (!(sxx > 0.0))
        return false;
    fit.c1 = sxy / sxx;
    fit.c0 = meanY - fit.c1 * meanX;
    return std::isfinite(fit.c0) && std::isfinite(fit.c1);
}

namespace {

struct CurveFit
{
    ZeLineFit line;
    double lo = 0.0;
    double hi = 0.0;
};

bool FitCurve(std::vector<ZeRdPoint> const& points, CurveFit& out)
{
    std::vector<double> quality;
    std::vector<double> logRate;
    quality.reserve(points.size());
    logRate.reserve(points.size());
    for (ZeRdPoint const& p : points) {
        if (!(p.rate > 0.0) || !std::isfinite(p.rate) || !std::isfinite(p.quality))
            return false;
        quality.push_back(p.quality);
        logRate.push_back(std::log(p.rate));
    }
    if (!FitLine(quality, logRate, out.line))
        return false;
    auto const range = std::minmax_element(quality.begin(), quality.end());
    out.lo = *range.first;
    out.hi = *range.second;
    return true;
}

} // namespace

double CalcBdRate(std::vector<ZeRdPoint> const& anchor, std::vector<ZeRdPoint> const& compared)
{
    double const kNoValue = std::numeric_limits<double>::quiet_NaN();
    CurveFit a;
    CurveFit c;
    if (!FitCurve(anchor, a) || !FitCurve(compared, c))
        return kNoValue;
    double const lo = std::max(a.lo, c.lo);
    double const hi = std::min(a.hi, c.hi);
    if (!(hi > lo))
        return kNoValue;
    // The mean of a line over [lo, hi] is its value at the middle of the interval.
    double const mid = 0.5 * (lo + hi);
    double const meanDiff = (c.line.c0 - a.line.c0) + (c.line.c1 - a.line.c1) * mid;
    double const result = 100.0 * std::expm1(meanDiff);
    return std::isfinite(result) ? result : kNoValue;
}

} // namespace ze::nox::gui
