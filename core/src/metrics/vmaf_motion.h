#pragma once

#include "metrics/vmaf_plane.h"

namespace ze::nox::core::vmaf {

// Blurs src (already offset by -128) with the 5-tap motion filter into dst
// (width x height, dst stride in floats). tmp needs width + 4 floats.
void MotionBlur(PlaneView const& src, float* dst, std::ptrdiff_t dstStride, float* tmp);

// Mean absolute difference of two blurred planes (per-row float sums).
double MotionScore(PlaneView const& a, PlaneView const& b);

// MotionScore of the blurs of a and b (same size), with the same bits, blurring row by row so that
// no blurred picture is stored.
double BlurredMotionScore(PlaneView const& a, PlaneView const& b);

} // namespace ze::nox::core::vmaf
