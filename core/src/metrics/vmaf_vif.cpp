#include "metrics/vmaf_vif.h"

#include "metrics/vmaf_tables.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ze::nox::core::vmaf {

namespace {

using tables::kLog2Poly;
float const* const* const kFilters = tables::kVifFilters;
int const* const kTaps = tables::kVifTaps;

struct Picture
{
    std::vector<float> px;
    int w = 0;
    int h = 0;
    PlaneView view() const { return PlaneView{px.data(), w, h, w}; }
};

// Vertical pass of row y into acc (width w) for the plain input.
inline void VerticalPlain(PlaneView const& s, float const* f, int taps, int y, float* acc)
{
    int const r = taps / 2;
    int const w = s.width;
    for (int x = 0; x < w; ++x)
        acc[x] = 0.0f;
    for (int k = 0; k < taps; ++k) {
        float const* p = s.row(MirrorIndex(y - r + k, s.height));
        float const c = f[k];
        for (int x = 0; x < w; ++x)
            acc[x] += c * p[x];
    }
}

// Horizontal pass of one row: mirrored copy into pad (w + taps - 1), then taps in order.
inline void Horizontal(float const* in, int w, float const* f, int taps, float* pad, float* out)
{
    int const r = taps / 2;
    for (int x = -r; x < w + r; ++x)
        pad[x + r] = in[MirrorIndex(x, w)];
    for (int x = 0; x < w; ++x)
        out[x] = 0.0f;
    for (int k = 0; k < taps; ++k) {
        float const c = f[k];
        float const* p = pad + k;
        for (int x = 0; x < w; ++x)
            out[x] += c * p[x];
    }
}

// Filter with scale s's filter and keep even rows and columns.
Picture Reduce(PlaneView const& s, float const* f, int taps)
{
    Picture out;
    out.w = s.width / 2;
    out.h = s.height / 2;
    out.px.resize(static_cast<std::size_t>(out.w) * out.h);
    if (out.w == 0 || out.h == 0)
        return out;
    int const r = taps / 2;
    std::vector<float> acc(static_cast<std::size_t>(s.width));
    std::vector<float> pad(static_cast<std::size_t>(s.width + 2 * r));
    for (int i = 0; i < out.h; ++i) {
        VerticalPlain(s, f, taps, 2 * i, acc.data());
        for (int x = -r; x < s.width + r; ++x)
            pad[x + r] = acc[MirrorIndex(x, s.width)];
        float* o = out.px.data() + static_cast<std::size_t>(i) * out.w;
        for (int j = 0; j < out.w; ++j) {
            float a = 0.0f;
            float const* p = pad.data() + 2 * j;
            for (int k = 0; k < taps; ++k)
                a += f[k] * p[k];
            o[j] = a;
        }
    }
    return out;
}

void Statistic(PlaneView const& ref, PlaneView const& dis, float const* f, int taps, double& numOut, double& denOut)
{
    int const w = ref.width;
    int const h = ref.height;
    numOut = 0.0;
    denOut = 0.0;
    if (w <= 0 || h <= 0)
        return;
    int const r = taps / 2;
    std::vector<float> va[5];
    std::vector<float> ha[5];
    for (int m = 0; m < 5; ++m) {
        va[m].resize(static_cast<std::size_t>(w));
        ha[m].resize(static_cast<std::size_t>(w));
    }
    std::vector<float> pad(static_cast<std::size_t>(w + 2 * r));
    float accNum = 0.0f;
    float accDen = 0.0f;
    for (int y = 0; y < h; ++y) {
        float* a0 = va[0].data();
        float* a1 = va[1].data();
        float* a2 = va[2].data();
        float* a3 = va[3].data();
        float* a4 = va[4].data();
        for (int x = 0; x < w; ++x)
            a0[x] = a1[x] = a2[x] = a3[x] = a4[x] = 0.0f;
        for (int k = 0; k < taps; ++k) {
            int const yy = MirrorIndex(y - r + k, h);
            float const* p = ref.row(yy);
            float const* q = dis.row(yy);
            float const c = f[k];
            for (int x = 0; x < w; ++x) {
                float const pr = p[x];
                float const qd = q[x];
                a0[x] += c * pr;
                a1[x] += c * qd;
                a2[x] += c * (pr * pr);
                a3[x] += c * (qd * qd);
                a4[x] += c * (pr * qd);
            }
        }
        for (int m = 0; m < 5; ++m)
            Horizontal(va[m].data(), w, f, taps, pad.data(), ha[m].data());
        float rowNum = 0.0f;
        float rowDen = 0.0f;
        for (int x = 0; x < w; ++x) {
            float numVal;
            float denVal;
            VifSampleValues(ha[0][x], ha[1][x], ha[2][x], ha[3][x], ha[4][x], numVal, denVal);
            rowNum += numVal;
            rowDen += denVal;
        }
        accNum += rowNum;
        accDen += rowDen;
    }
    numOut = accNum;
    denOut = accDen;
}

} // namespace

void VifSampleValues(float mu1, float mu2, float e11, float e22, float e12, float& numVal, float& denVal)
{
    float const sigmaNsq = 2.0f;
    float const sigmaMaxInv = static_cast<float>(4.0 / (255.0 * 255.0));
    float const s1 = e11 - mu1 * mu1;
    float const s2 = e22 - mu2 * mu2;
    float const s12 = e12 - mu1 * mu2;
    if (s1 < sigmaNsq) {
        numVal = static_cast<float>(1.0 - static_cast<double>(s2 * sigmaMaxInv));
        denVal = 1.0f;
    } else {
        float const sv = (s2 + sigmaNsq) * s1;
        if (s12 < 0.0f) {
            numVal = 0.0f;
        } else {
            float g = sv - s12 * s12;
            if (!(g > 0.0f))
                g = FLT_MIN; // rounding can make g non-positive; keep the log finite
            numVal = Log2Approx(sv / g);
        }
        denVal = Log2Approx(1.0f + s1 / sigmaNsq);
    }
}

float Log2Approx(float x)
{
    if (!(x > 0.0f))
        return 0.0f; // only reached through the guards above: no -inf or NaN leaves the engine
    if (std::isinf(x))
        return 128.0f;
    std::uint32_t u;
    std::memcpy(&u, &x, sizeof u);
    std::uint32_t const exponent = (u & 0x7F800000u) >> 23;
    std::uint32_t const rem = (u & 0x007FFFFFu) | 0x3F800000u;
    float remain;
    std::memcpy(&remain, &rem, sizeof remain);
    float const base = static_cast<float>(static_cast<std::int32_t>(exponent) - 127);
    float const t = remain - 1.0f;
    float v = 0.0f;
    for (float c : kLog2Poly)
        v = v * t + c;
    return base + v;
}

VifResult Vif(PlaneView const& ref, PlaneView const& dis)
{
    VifResult res;
    Picture curR;
    Picture curD;
    PlaneView r = ref;
    PlaneView d = dis;
    for (int s = 0; s < 4; ++s) {
        float const* f = kFilters[s];
        int const taps = kTaps[s];
        if (s > 0) {
            Picture nr = Reduce(r, f, taps);
            Picture nd = Reduce(d, f, taps);
            curR = std::move(nr);
            curD = std::move(nd);
            r = curR.view();
            d = curD.view();
        }
        Statistic(r, d, f, taps, res.num[s], res.den[s]);
    }
    return res;
}

} // namespace ze::nox::core::vmaf
