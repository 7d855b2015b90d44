#pragma once

#include "metrics/vmaf_plane.h"

namespace ze::nox::core::vmaf {

// VIF numerators and denominators of the four scales of two planes offset by -128.
struct VifResult
{
    double num[4] = {0, 0, 0, 0};
    double den[4] = {0, 0, 0, 0};
};

VifResult Vif(PlaneView const& ref, PlaneView const& dis);

// The polynomial log2 the reference uses (exponent + P(mantissa - 1)).
float Log2Approx(float x);

} // namespace ze::nox::core::vmaf
