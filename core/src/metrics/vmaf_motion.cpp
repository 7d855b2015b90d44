#include "metrics/vmaf_motion.h"

#include "metrics/vmaf_tables.h"

#include <cmath>
#include <vector>

namespace ze::nox::core::vmaf {

using tables::kMotionFilter;

void MotionBlur(PlaneView const& src, float* dst, std::ptrdiff_t dstStride, float* tmp)
{
    int const w = src.width;
    int const h = src.height;
    int const r = 2;
    std::vector<float> acc(static_cast<std::size_t>(w));
    float* pad = tmp; // w + 2r floats: the vertical result with mirrored borders
    for (int y = 0; y < h; ++y) {
        float* a = acc.data();
        for (int x = 0; x < w; ++x)
            a[x] = 0.0f;
        for (int k = 0; k < 5; ++k) {
            float const* s = src.row(MirrorIndex(y - r + k, h));
            float const f = kMotionFilter[k];
            for (int x = 0; x < w; ++x)
                a[x] += f * s[x];
        }
        for (int x = -r; x < w + r; ++x)
            pad[x + r] = a[MirrorIndex(x, w)];
        float* out = dst + y * dstStride;
        for (int x = 0; x < w; ++x)
            out[x] = 0.0f;
        for (int k = 0; k < 5; ++k) {
            float const f = kMotionFilter[k];
            float const* p = pad + k;
            for (int x = 0; x < w; ++x)
                out[x] += f * p[x];
        }
    }
}

double MotionScore(PlaneView const& a, PlaneView const& b)
{
    if (a.width <= 0 || a.height <= 0)
        return 0.0;
    float accum = 0.0f;
    for (int y = 0; y < a.height; ++y) {
        float const* p = a.row(y);
        float const* q = b.row(y);
        float line = 0.0f;
        for (int x = 0; x < a.width; ++x)
            line += std::fabs(p[x] - q[x]);
        accum += line;
    }
    return static_cast<double>(accum / static_cast<float>(a.width * a.height));
}

} // namespace ze::nox::core::vmaf
