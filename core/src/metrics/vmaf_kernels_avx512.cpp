// AVX-512 versions of the metric kernels where sixteen lanes pay: VIF (its filters, statistic and
// reduced pictures), the largest share of the measurement, and SSIM's filter pass. As in the AVX2
// unit, each output sample is computed with the same multiplies and adds in the same order as the
// portable code (no fused multiply-add, built with -ffp-contract=off), and running totals keep
// their order: per-sample values go into row buffers and each row is added up one sample after
// another, four rows side by side as independent chains (AddRowSums). Results are identical to
// the portable kernels bit for bit. Scratch memory comes from the per-thread arrays of the kernel
// table (no standard containers in this unit, so nothing compiled for AVX-512 can be shared with
// code that runs without it).

#if defined(__x86_64__) || defined(__i386__)

#include "metrics/vmaf_kernels.h"
#include "metrics/vmaf_tables.h"

#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace ze::nox::core::vmaf {

namespace {

using namespace tables;

// Scratch slots of this unit (ThreadScratch).
enum : int {
    kPad0 = 0, // kPad0 .. kPad0 + 4: the five vertical sums of a row with mirrored borders
    kNumRows = 5,
    kDenRows = 6,
    kReduceAcc = 7,
    kReduceEven = 8,
    kReduceOdd = 9,
};

// ---------------------------------------------------------------- VIF

// Log2Approx of sixteen values.
inline __m512 Log2Approx16(__m512 x)
{
    __m512i const u = _mm512_castps_si512(x);
    __m512i const e = _mm512_srli_epi32(_mm512_and_si512(u, _mm512_set1_epi32(0x7F800000)), 23);
    __m512i const rem =
        _mm512_or_si512(_mm512_and_si512(u, _mm512_set1_epi32(0x007FFFFF)), _mm512_set1_epi32(0x3F800000));
    __m512 const base = _mm512_cvtepi32_ps(_mm512_sub_epi32(e, _mm512_set1_epi32(127)));
    __m512 const t = _mm512_sub_ps(_mm512_castsi512_ps(rem), _mm512_set1_ps(1.0f));
    __m512 v = _mm512_setzero_ps();
    for (float c : kLog2Poly)
        v = _mm512_add_ps(_mm512_mul_ps(v, t), _mm512_set1_ps(c));
    __m512 res = _mm512_add_ps(base, v);
    __mmask16 const isInf = _mm512_cmp_ps_mask(x, _mm512_set1_ps(INFINITY), _CMP_EQ_OQ);
    res = _mm512_mask_blend_ps(isInf, res, _mm512_set1_ps(128.0f));
    __mmask16 const positive = _mm512_cmp_ps_mask(x, _mm512_setzero_ps(), _CMP_GT_OQ);
    return _mm512_maskz_mov_ps(positive, res);
}

// float(1.0 - double(v)) of sixteen values.
inline __m512 OneMinusInDouble16(__m512 v)
{
    __m512d const one = _mm512_set1_pd(1.0);
    __m256 const lo = _mm512_cvtpd_ps(_mm512_sub_pd(one, _mm512_cvtps_pd(_mm512_castps512_ps256(v))));
    __m256 const hi = _mm512_cvtpd_ps(_mm512_sub_pd(one, _mm512_cvtps_pd(_mm512_extractf32x8_ps(v, 1))));
    return _mm512_insertf32x8(_mm512_castps256_ps512(lo), hi, 1);
}

// Numerator and denominator contributions of sixteen samples from the five filtered sums.
inline void VifValues16(__m512 mu1, __m512 mu2, __m512 e11, __m512 e22, __m512 e12, __m512& num, __m512& den)
{
    __m512 const sigmaNsq = _mm512_set1_ps(2.0f);
    __m512 const sigmaMaxInv = _mm512_set1_ps(static_cast<float>(4.0 / (255.0 * 255.0)));
    __m512 const one = _mm512_set1_ps(1.0f);
    __m512 const s1 = _mm512_sub_ps(e11, _mm512_mul_ps(mu1, mu1));
    __m512 const s2 = _mm512_sub_ps(e22, _mm512_mul_ps(mu2, mu2));
    __m512 const s12 = _mm512_sub_ps(e12, _mm512_mul_ps(mu1, mu2));
    __mmask16 const low = _mm512_cmp_ps_mask(s1, sigmaNsq, _CMP_LT_OQ);
    __m512 const numLow = OneMinusInDouble16(_mm512_mul_ps(s2, sigmaMaxInv));
    if (low == 0xFFFF) {
        // Every sample takes the low-variance branch (flat areas): no logarithms needed.
        num = numLow;
        den = one;
        return;
    }
    __m512 const sv = _mm512_mul_ps(_mm512_add_ps(s2, sigmaNsq), s1);
    __m512 g = _mm512_sub_ps(sv, _mm512_mul_ps(s12, s12));
    g = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(g, _mm512_setzero_ps(), _CMP_GT_OQ), _mm512_set1_ps(FLT_MIN), g);
    __m512 numHigh = Log2Approx16(_mm512_div_ps(sv, g));
    numHigh = _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(s12, _mm512_setzero_ps(), _CMP_NLT_UQ), numHigh);
    __m512 const denHigh = Log2Approx16(_mm512_add_ps(one, _mm512_div_ps(s1, sigmaNsq)));
    num = _mm512_mask_blend_ps(low, numHigh, numLow);
    den = _mm512_mask_blend_ps(low, denHigh, one);
}

// Per-sample numerator and denominator values of row y into numRow and denRow.
inline void VifStatisticRow(PlaneView const& ref, PlaneView const& dis, float const* f, int taps, int y,
                            float* const pad[5], float* numRow, float* denRow)
{
    int const w = ref.width;
    int const h = ref.height;
    int const r = taps / 2;
    float const* rr[17];
    float const* dr[17];
    for (int k = 0; k < taps; ++k) {
        int const yy = MirrorIndex(y - r + k, h);
        rr[k] = ref.row(yy);
        dr[k] = dis.row(yy);
    }
    // Vertical sums of ref, dis, ref^2, dis^2 and ref*dis, straight into the padded rows.
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        __m512 a0 = _mm512_setzero_ps(), a1 = a0, a2 = a0, a3 = a0, a4 = a0;
        for (int k = 0; k < taps; ++k) {
            __m512 const c = _mm512_set1_ps(f[k]);
            __m512 const p = _mm512_loadu_ps(rr[k] + x);
            __m512 const q = _mm512_loadu_ps(dr[k] + x);
            a0 = _mm512_add_ps(a0, _mm512_mul_ps(c, p));
            a1 = _mm512_add_ps(a1, _mm512_mul_ps(c, q));
            a2 = _mm512_add_ps(a2, _mm512_mul_ps(c, _mm512_mul_ps(p, p)));
            a3 = _mm512_add_ps(a3, _mm512_mul_ps(c, _mm512_mul_ps(q, q)));
            a4 = _mm512_add_ps(a4, _mm512_mul_ps(c, _mm512_mul_ps(p, q)));
        }
        _mm512_storeu_ps(pad[0] + r + x, a0);
        _mm512_storeu_ps(pad[1] + r + x, a1);
        _mm512_storeu_ps(pad[2] + r + x, a2);
        _mm512_storeu_ps(pad[3] + r + x, a3);
        _mm512_storeu_ps(pad[4] + r + x, a4);
    }
    for (; x < w; ++x) {
        float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f, a3 = 0.0f, a4 = 0.0f;
        for (int k = 0; k < taps; ++k) {
            float const c = f[k];
            float const pr = rr[k][x];
            float const qd = dr[k][x];
            a0 += c * pr;
            a1 += c * qd;
            a2 += c * (pr * pr);
            a3 += c * (qd * qd);
            a4 += c * (pr * qd);
        }
        pad[0][r + x] = a0;
        pad[1][r + x] = a1;
        pad[2][r + x] = a2;
        pad[3][r + x] = a3;
        pad[4][r + x] = a4;
    }
    for (int m = 0; m < 5; ++m)
        MirrorBorders(pad[m], w, r);

    // Horizontal sums and the per-sample statistic.
    x = 0;
    for (; x + 16 <= w; x += 16) {
        __m512 h0 = _mm512_setzero_ps(), h1 = h0, h2 = h0, h3 = h0, h4 = h0;
        for (int k = 0; k < taps; ++k) {
            __m512 const c = _mm512_set1_ps(f[k]);
            h0 = _mm512_add_ps(h0, _mm512_mul_ps(c, _mm512_loadu_ps(pad[0] + x + k)));
            h1 = _mm512_add_ps(h1, _mm512_mul_ps(c, _mm512_loadu_ps(pad[1] + x + k)));
            h2 = _mm512_add_ps(h2, _mm512_mul_ps(c, _mm512_loadu_ps(pad[2] + x + k)));
            h3 = _mm512_add_ps(h3, _mm512_mul_ps(c, _mm512_loadu_ps(pad[3] + x + k)));
            h4 = _mm512_add_ps(h4, _mm512_mul_ps(c, _mm512_loadu_ps(pad[4] + x + k)));
        }
        __m512 nv, dv;
        VifValues16(h0, h1, h2, h3, h4, nv, dv);
        _mm512_storeu_ps(numRow + x, nv);
        _mm512_storeu_ps(denRow + x, dv);
    }
    for (; x < w; ++x) {
        float hv[5];
        for (int m = 0; m < 5; ++m) {
            float a = 0.0f;
            for (int k = 0; k < taps; ++k)
                a += f[k] * pad[m][x + k];
            hv[m] = a;
        }
        VifSampleValues(hv[0], hv[1], hv[2], hv[3], hv[4], numRow[x], denRow[x]);
    }
}

void VifStatistic(PlaneView const& ref, PlaneView const& dis, float const* f, int taps, double& numOut, double& denOut)
{
    int const w = ref.width;
    int const h = ref.height;
    numOut = 0.0;
    denOut = 0.0;
    if (w <= 0 || h <= 0)
        return;
    int const r = taps / 2;
    std::size_t const padLen = static_cast<std::size_t>(w) + 2 * r + 16;
    float* pad[5];
    for (int m = 0; m < 5; ++m)
        pad[m] = ThreadScratch(kPad0 + m, padLen);
    float* numRows = ThreadScratch(kNumRows, 4 * static_cast<std::size_t>(w));
    float* denRows = ThreadScratch(kDenRows, 4 * static_cast<std::size_t>(w));
    float accNum = 0.0f;
    float accDen = 0.0f;
    for (int y0 = 0; y0 < h; y0 += 4) {
        int const rows = h - y0 < 4 ? h - y0 : 4;
        for (int i = 0; i < rows; ++i)
            VifStatisticRow(ref, dis, f, taps, y0 + i, pad, numRows + static_cast<std::ptrdiff_t>(i) * w,
                            denRows + static_cast<std::ptrdiff_t>(i) * w);
        AddRowSums(numRows, w, rows, &accNum);
        AddRowSums(denRows, w, rows, &accDen);
    }
    numOut = accNum;
    denOut = accDen;
}

// Splits pad into its even and odd samples: e[i] = pad[2i], o[i] = pad[2i + 1].
inline void Deinterleave(float const* pad, int n, float* e, float* o)
{
    __m512i const evenIdx = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
    __m512i const oddIdx = _mm512_set_epi32(31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1);
    int i = 0;
    for (; 2 * i + 32 <= n; i += 16) {
        __m512 const a = _mm512_loadu_ps(pad + 2 * i);
        __m512 const b = _mm512_loadu_ps(pad + 2 * i + 16);
        _mm512_storeu_ps(e + i, _mm512_permutex2var_ps(a, evenIdx, b));
        _mm512_storeu_ps(o + i, _mm512_permutex2var_ps(a, oddIdx, b));
    }
    for (; 2 * i < n; ++i) {
        e[i] = pad[2 * i];
        o[i] = 2 * i + 1 < n ? pad[2 * i + 1] : 0.0f;
    }
}

// Filters s with f and keeps even rows and columns into scale plane `plane` (stride s.width / 2).
PlaneView VifReduce(PlaneView const& s, float const* f, int taps, int plane)
{
    int const ow = s.width / 2;
    int const oh = s.height / 2;
    float* out = ScalePlane(plane, static_cast<std::size_t>(ow) * oh + 1);
    PlaneView const v{out, ow, oh, ow};
    if (ow == 0 || oh == 0)
        return v;
    int const r = taps / 2;
    int const padLen = s.width + 2 * r;
    float* pad = ThreadScratch(kReduceAcc, static_cast<std::size_t>(padLen) + 16);
    float* e = ThreadScratch(kReduceEven, static_cast<std::size_t>(padLen) / 2 + 17);
    float* o = ThreadScratch(kReduceOdd, static_cast<std::size_t>(padLen) / 2 + 17);
    float const* rows[17];
    for (int i = 0; i < oh; ++i) {
        for (int k = 0; k < taps; ++k)
            rows[k] = s.row(MirrorIndex(2 * i - r + k, s.height));
        float* acc = pad + r;
        int x = 0;
        for (; x + 16 <= s.width; x += 16) {
            __m512 a = _mm512_setzero_ps();
            for (int k = 0; k < taps; ++k)
                a = _mm512_add_ps(a, _mm512_mul_ps(_mm512_set1_ps(f[k]), _mm512_loadu_ps(rows[k] + x)));
            _mm512_storeu_ps(acc + x, a);
        }
        for (; x < s.width; ++x) {
            float a = 0.0f;
            for (int k = 0; k < taps; ++k)
                a += f[k] * rows[k][x];
            acc[x] = a;
        }
        MirrorBorders(pad, s.width, r);
        Deinterleave(pad, padLen, e, o);
        float* dst = out + static_cast<std::size_t>(i) * ow;
        // Tap k of output j reads pad[2j + k]: even taps from e, odd taps from o.
        int j = 0;
        for (; j + 16 <= ow; j += 16) {
            __m512 a = _mm512_setzero_ps();
            for (int k = 0; k < taps; ++k) {
                float const* src = (k & 1) ? o + (k >> 1) : e + (k >> 1);
                a = _mm512_add_ps(a, _mm512_mul_ps(_mm512_set1_ps(f[k]), _mm512_loadu_ps(src + j)));
            }
            _mm512_storeu_ps(dst + j, a);
        }
        for (; j < ow; ++j) {
            float a = 0.0f;
            float const* p = pad + 2 * j;
            for (int k = 0; k < taps; ++k)
                a += f[k] * p[k];
            dst[j] = a;
        }
    }
    return v;
}

} // namespace

void SsimFilterAvx512(float const* base, std::ptrdiff_t step, int n, float* dst)
{
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        __m512d a = _mm512_setzero_pd();
        __m512d b = _mm512_setzero_pd();
        for (int k = 0; k < 11; ++k) {
            __m512 const v = _mm512_mul_ps(_mm512_set1_ps(kSsimGauss[k]), _mm512_loadu_ps(base + k * step + x));
            a = _mm512_add_pd(a, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
            b = _mm512_add_pd(b, _mm512_cvtps_pd(_mm512_extractf32x8_ps(v, 1)));
        }
        __m512 const r = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(a)), _mm512_cvtpd_ps(b), 1);
        _mm512_storeu_ps(dst + x, r);
    }
    for (; x < n; ++x) {
        double a = 0.0;
        for (int k = 0; k < 11; ++k)
            a += static_cast<double>(kSsimGauss[k] * base[k * step + x]);
        dst[x] = static_cast<float>(a);
    }
}

VifResult VifAvx512(PlaneView const& ref, PlaneView const& dis)
{
    VifResult res;
    PlaneView r = ref;
    PlaneView d = dis;
    for (int s = 0; s < 4; ++s) {
        float const* f = kVifFilters[s];
        int const taps = kVifTaps[s];
        if (s > 0) {
            int const g = (s & 1) ? 0 : 2; // alternate planes so a scale never overwrites its input
            PlaneView const nr = VifReduce(r, f, taps, g);
            PlaneView const nd = VifReduce(d, f, taps, g + 1);
            r = nr;
            d = nd;
        }
        VifStatistic(r, d, f, taps, res.num[s], res.den[s]);
    }
    return res;
}

} // namespace ze::nox::core::vmaf

#endif
