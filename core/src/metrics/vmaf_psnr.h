#pragma once

#include "metrics/vmaf_plane.h"

namespace ze::nox::core::vmaf {

// Mean squared difference of two planes of the same size (squares in float, sum in double).
double MeanSquaredError(PlaneView const& ref, PlaneView const& dis);

// 10*log10(peak^2 / max(mse, 1e-10)), limited to capDb.
double PsnrFromMse(double mse, double peak, double capDb);

} // namespace ze::nox::core::vmaf
