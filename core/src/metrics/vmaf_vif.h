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

// Numerator and denominator contributions of one sample from its five filtered sums (means,
// second moments and the cross moment); the vector kernels use it for the samples of a row's end.
void VifSampleValues(float mu1, float mu2, float e11, float e22, float e12, float& numVal, float& denVal);

// The polynomial log2 the reference uses (exponent + P(mantissa - 1)).
float Log2Approx(float x);

} // namespace ze::nox::core::vmaf
