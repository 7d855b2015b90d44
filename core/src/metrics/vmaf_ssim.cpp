#include "metrics/vmaf_ssim.h"

#include "metrics/vmaf_tables.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ze::nox::core::vmaf {

namespace {

float const* const kGauss = tables::kSsimGauss;
int const kWin = 11;

struct Picture
{
    std::vector<float> px;
    int w = 0;
    int h = 0;
    float const* row(int y) const { return px.data() + static_cast<std::size_t>(y) * w; }
};

Picture Copy(PlaneView const& p, float addend)
{
    Picture out;
    out.w = p.width;
    out.h = p.height;
    out.px.resize(static_cast<std::size_t>(p.width) * p.height);
    for (int y = 0; y < p.height; ++y) {
        float const* s = p.row(y);
        float* o = out.px.data() + static_cast<std::size_t>(y) * p.width;
        for (int x = 0; x < p.width; ++x)
            o[x] = s[x] + addend;
    }
    return out;
}

// Box mean of f x f samples centred on (f*x, f*y); odd sizes keep one extra sample.
Picture Decimate(PlaneView const& p, int f, float addend)
{
    Picture out;
    out.w = p.width / f + (p.width & 1);
    out.h = p.height / f + (p.height & 1);
    out.px.resize(static_cast<std::size_t>(out.w) * out.h);
    float const weight = 1.0f / static_cast<float>(f * f);
    std::vector<int> cols(static_cast<std::size_t>(out.w) * f);
    for (int x = 0; x < out.w; ++x)
        for (int u = 0; u < f; ++u)
            cols[static_cast<std::size_t>(x) * f + u] = MirrorRepeatIndex(f * x - f / 2 + u, p.width);
    for (int y = 0; y < out.h; ++y) {
        float* o = out.px.data() + static_cast<std::size_t>(y) * out.w;
        for (int x = 0; x < out.w; ++x) {
            double sum = 0.0;
            for (int v = 0; v < f; ++v) {
                float const* s = p.row(MirrorRepeatIndex(f * y - f / 2 + v, p.height));
                int const* c = &cols[static_cast<std::size_t>(x) * f];
                for (int u = 0; u < f; ++u)
                    sum += static_cast<double>(weight * (s[c[u]] + addend));
            }
            o[x] = static_cast<float>(sum);
        }
    }
    return out;
}

double Combine(float muR, float muD, float eRR, float eDD, float eRD, double& sum)
{
    float const C1 = (0.01f * 255) * (0.01f * 255);
    float const C2 = (0.03f * 255) * (0.03f * 255);
    float v1 = eRR - muR * muR;
    float v2 = eDD - muD * muD;
    v1 = static_cast<float>(std::max(0.0, static_cast<double>(v1)));
    v2 = static_cast<float>(std::max(0.0, static_cast<double>(v2)));
    float const cov = eRD - muR * muD;
    double const sr = std::sqrt(static_cast<double>(v1 * v2));
    double const l = (2.0 * muR * muD + C1) / static_cast<double>(muR * muR + muD * muD + C1);
    double const c = (2.0 * sr + C2) / static_cast<double>(v1 + v2 + C2);
    double const s = (cov + C2 / 2.0) / (sr + C2 / 2.0);
    sum += l * c * s;
    return sum;
}

// Whole plane as one window with uniform weights.
double SsimOneWindow(Picture const& r, Picture const& d)
{
    double sr = 0, sd = 0, srr = 0, sdd = 0, srd = 0;
    for (std::size_t i = 0; i < r.px.size(); ++i) {
        float const a = r.px[i];
        float const b = d.px[i];
        sr += a;
        sd += b;
        srr += static_cast<double>(a * a);
        sdd += static_cast<double>(b * b);
        srd += static_cast<double>(a * b);
    }
    double const n = static_cast<double>(r.px.size());
    double sum = 0.0;
    Combine(static_cast<float>(sr / n), static_cast<float>(sd / n), static_cast<float>(srr / n),
            static_cast<float>(sdd / n), static_cast<float>(srd / n), sum);
    return static_cast<float>(sum);
}

} // namespace

double Ssim(PlaneView const& refIn, PlaneView const& disIn, float addend)
{
    int const w0 = refIn.width;
    int const h0 = refIn.height;
    if (w0 <= 0 || h0 <= 0)
        return 1.0;
    float const q = static_cast<float>(std::min(w0, h0)) / 256.0f;
    int const f = std::max(1, static_cast<int>(std::floor(q + 0.5f)));
    Picture const r = f > 1 ? Decimate(refIn, f, addend) : Copy(refIn, addend);
    Picture const d = f > 1 ? Decimate(disIn, f, addend) : Copy(disIn, addend);
    int const w = r.w;
    int const h = r.h;
    if (w < kWin || h < kWin)
        return SsimOneWindow(r, d);

    // Horizontal pass over all rows for the five inputs (valid part only), then vertical.
    int const ow = w - (kWin - 1);
    int const oh = h - (kWin - 1);
    std::size_t const hsz = static_cast<std::size_t>(ow) * h;
    std::vector<float> hp[5];
    for (auto& v : hp)
        v.resize(hsz);
    std::vector<float> sq[3];
    for (auto& v : sq)
        v.resize(static_cast<std::size_t>(w));
    std::vector<double> acc(static_cast<std::size_t>(ow));
    auto hpass = [&](float const* src, float* dst) {
        std::fill(acc.begin(), acc.end(), 0.0);
        for (int k = 0; k < kWin; ++k) {
            float const g = kGauss[k];
            float const* s = src + k;
            for (int x = 0; x < ow; ++x)
                acc[x] += static_cast<double>(g * s[x]);
        }
        for (int x = 0; x < ow; ++x)
            dst[x] = static_cast<float>(acc[x]);
    };
    for (int y = 0; y < h; ++y) {
        float const* a = r.row(y);
        float const* b = d.row(y);
        for (int x = 0; x < w; ++x) {
            sq[0][x] = a[x] * a[x];
            sq[1][x] = b[x] * b[x];
            sq[2][x] = a[x] * b[x];
        }
        std::size_t const o = static_cast<std::size_t>(y) * ow;
        hpass(a, hp[0].data() + o);
        hpass(b, hp[1].data() + o);
        hpass(sq[0].data(), hp[2].data() + o);
        hpass(sq[1].data(), hp[3].data() + o);
        hpass(sq[2].data(), hp[4].data() + o);
    }
    std::vector<float> vrow[5];
    for (auto& v : vrow)
        v.resize(static_cast<std::size_t>(ow));
    double sum = 0.0;
    for (int y = 0; y < oh; ++y) {
        for (int m = 0; m < 5; ++m) {
            std::fill(acc.begin(), acc.end(), 0.0);
            for (int k = 0; k < kWin; ++k) {
                float const g = kGauss[k];
                float const* s = hp[m].data() + static_cast<std::size_t>(y + k) * ow;
                for (int x = 0; x < ow; ++x)
                    acc[x] += static_cast<double>(g * s[x]);
            }
            for (int x = 0; x < ow; ++x)
                vrow[m][x] = static_cast<float>(acc[x]);
        }
        for (int x = 0; x < ow; ++x)
            Combine(vrow[0][x], vrow[1][x], vrow[2][x], vrow[3][x], vrow[4][x], sum);
    }
    return static_cast<float>(sum / (static_cast<double>(ow) * oh));
}

} // namespace ze::nox::core::vmaf
