#include "metrics/vmaf_motion.h"

#include "metrics/vmaf_tables.h"

#include <cmath>
#include <vector>

namespace ze::nox::core::vmaf {

using tables::kMotionFilter;

namespace {

// Row y of the blur of src into out: acc holds width floats, pad width + 4.
void BlurRow(PlaneView const& src, int y, float* acc, float* pad, float* out)
{
    int const w = src.width;
    int const h = src.height;
    int const r = 2;
    for (int x = 0; x < w; ++x)
        acc[x] = 0.0f;
    for (int k = 0; k < 5; ++k) {
        float const* s = src.row(MirrorIndex(y - r + k, h));
        float const f = kMotionFilter[k];
        for (int x = 0; x < w; ++x)
            acc[x] += f * s[x];
    }
    for (int x = -r; x < w + r; ++x)
        pad[x + r] = acc[MirrorIndex(x, w)];
    for (int x = 0; x < w; ++x)
        out[x] = 0.0f;
    for (int k = 0; k < 5; ++k) {
        float const f = kMotionFilter[k];
        float const* p = pad + k;
        for (int x = 0; x < w; ++x)
            out[x] += f * p[x];
    }
}

} // namespace

void MotionBlur(PlaneView const& src, float* dst, std::ptrdiff_t dstStride, float* tmp)
{
    std::vector<float> acc(static_cast<std::size_t>(src.width));
    for (int y = 0; y < src.height; ++y)
        BlurRow(src, y, acc.data(), tmp, dst + y * dstStride);
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

double BlurredMotionScore(PlaneView const& a, PlaneView const& b)
{
    int const w = a.width;
    if (w <= 0 || a.height <= 0)
        return 0.0;
    std::vector<float> acc(static_cast<std::size_t>(w)), pad(static_cast<std::size_t>(w) + 4);
    std::vector<float> ra(static_cast<std::size_t>(w)), rb(static_cast<std::size_t>(w));
    float accum = 0.0f;
    for (int y = 0; y < a.height; ++y) {
        BlurRow(a, y, acc.data(), pad.data(), ra.data());
        BlurRow(b, y, acc.data(), pad.data(), rb.data());
        float line = 0.0f;
        for (int x = 0; x < w; ++x)
            line += std::fabs(ra[x] - rb[x]);
        accum += line;
    }
    return static_cast<double>(accum / static_cast<float>(a.width * a.height));
}

} // namespace ze::nox::core::vmaf
