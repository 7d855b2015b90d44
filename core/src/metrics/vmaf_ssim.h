#pragma once

#include "metrics/vmaf_plane.h"

namespace ze::nox::core::vmaf {

// Single-scale SSIM of two planes on the 8-bit scale: size-based downsampling, 11-tap
// Gaussian applied where the window fits, mean of l*c*s. A plane smaller than the window
// (after downsampling) is taken as one window over the whole plane. addend is added to every
// sample as it is read (128 for planes offset by -128; exact for samples on the 8-bit scale).
double Ssim(PlaneView const& ref, PlaneView const& dis, float addend = 0.0f);

} // namespace ze::nox::core::vmaf
