#include "metrics/vmaf_psnr.h"

#include <algorithm>
#include <cmath>

namespace ze::nox::core::vmaf {

double MeanSquaredError(PlaneView const& ref, PlaneView const& dis)
{
    if (ref.width <= 0 || ref.height <= 0)
        return 0.0;
    double sum = 0.0;
    for (int y = 0; y < ref.height; ++y) {
        float const* r = ref.row(y);
        float const* d = dis.row(y);
        for (int x = 0; x < ref.width; ++x) {
            float const e = r[x] - d[x];
            sum += static_cast<double>(e * e);
        }
    }
    return sum / (static_cast<double>(ref.width) * ref.height);
}

double PsnrFromMse(double mse, double peak, double capDb)
{
    double const v = 10.0 * std::log10(peak * peak / std::max(mse, 1e-10));
    return std::min(v, capDb);
}

} // namespace ze::nox::core::vmaf
