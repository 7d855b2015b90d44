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
#include "metrics/vmaf_vif_row.h"

#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace ze::nox::core::vmaf {

namespace {

using namespace tables;

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

// Splits pad into its even and odd samples: e[i] = pad[2i], o[i] = pad[2i + 1].
inline void DeinterleaveBy16(float const* pad, int n, float* e, float* o)
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

// Sixteen lanes for the shared VIF.
struct Lanes16
{
    using Reg = __m512;
    static constexpr int kWidth = 16;
    static Reg Zero() { return _mm512_setzero_ps(); }
    static Reg Set1(float v) { return _mm512_set1_ps(v); }
    static Reg Load(float const* p) { return _mm512_loadu_ps(p); }
    static void Store(float* p, Reg v) { _mm512_storeu_ps(p, v); }
    static Reg Add(Reg a, Reg b) { return _mm512_add_ps(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm512_mul_ps(a, b); }
    static void Values(Reg mu1, Reg mu2, Reg e11, Reg e22, Reg e12, Reg& num, Reg& den)
    {
        VifValues16(mu1, mu2, e11, e22, e12, num, den);
    }
    static void Deinterleave(float const* pad, int n, float* e, float* o) { DeinterleaveBy16(pad, n, e, o); }
};

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
    return VifOf<Lanes16>(ref, dis);
}

} // namespace ze::nox::core::vmaf

#endif
