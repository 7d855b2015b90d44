// AVX2 versions of the metric kernels. Each output sample is computed with the same
// multiplies and adds in the same order as the portable code (no fused multiply-add, built
// with -ffp-contract=off), eight samples at a time; running totals are kept in their order by
// writing per-sample values into a row buffer and adding them one after another. Results are
// therefore identical to the portable kernels bit for bit. Scratch memory is per thread and
// reused from frame to frame.

#if defined(__x86_64__) || defined(__i386__)

#include "metrics/vmaf_kernels.h"
#include "metrics/vmaf_psnr.h"
#include "metrics/vmaf_ssim.h"
#include "metrics/vmaf_tables.h"
#include "metrics/vmaf_vif_row.h"

#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ze::nox::core::vmaf {

namespace {

using namespace tables;

// Scratch array of the kernels: picture-sized ones go on huge pages like the planes.
template <typename T>
using ScratchVector = std::vector<T, SampleAllocator<T>>;

// Grows v to at least n elements (never shrinks, so steady-state frames allocate nothing).
template <typename T>
T* Scratch(ScratchVector<T>& v, std::size_t n)
{
    if (v.size() < n)
        v.resize(n);
    return v.data();
}

// out[x] = sum over k, in order, of f[k] * rows[k][x].
inline void VerticalFilter(float const* const* rows, float const* f, int taps, int w, float* out)
{
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        __m256 acc = _mm256_setzero_ps();
        for (int k = 0; k < taps; ++k)
            acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_set1_ps(f[k]), _mm256_loadu_ps(rows[k] + x)));
        _mm256_storeu_ps(out + x, acc);
    }
    for (; x < w; ++x) {
        float a = 0.0f;
        for (int k = 0; k < taps; ++k)
            a += f[k] * rows[k][x];
        out[x] = a;
    }
}

// out[x] = sum over k, in order, of f[k] * pad[x + k].
inline void HorizontalFilter(float const* pad, float const* f, int taps, int w, float* out)
{
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        __m256 acc = _mm256_setzero_ps();
        for (int k = 0; k < taps; ++k)
            acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_set1_ps(f[k]), _mm256_loadu_ps(pad + x + k)));
        _mm256_storeu_ps(out + x, acc);
    }
    for (; x < w; ++x) {
        float a = 0.0f;
        for (int k = 0; k < taps; ++k)
            a += f[k] * pad[x + k];
        out[x] = a;
    }
}

// Splits pad into its even and odd samples: e[i] = pad[2i], o[i] = pad[2i + 1].
inline void Deinterleave(float const* pad, int n, float* e, float* o)
{
    int i = 0;
    for (; 2 * i + 16 <= n; i += 8) {
        __m256 const a = _mm256_loadu_ps(pad + 2 * i);
        __m256 const b = _mm256_loadu_ps(pad + 2 * i + 8);
        __m256 const ev = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        __m256 const od = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        _mm256_storeu_ps(e + i, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(ev), 0xD8)));
        _mm256_storeu_ps(o + i, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(od), 0xD8)));
    }
    for (; 2 * i < n; ++i) {
        e[i] = pad[2 * i];
        o[i] = 2 * i + 1 < n ? pad[2 * i + 1] : 0.0f;
    }
}

inline __m256 Abs(__m256 v)
{
    return _mm256_and_ps(v, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
}

// ---------------------------------------------------------------- VIF

// Log2Approx of eight values.
inline __m256 Log2Approx8(__m256 x)
{
    __m256i const u = _mm256_castps_si256(x);
    __m256i const e = _mm256_srli_epi32(_mm256_and_si256(u, _mm256_set1_epi32(0x7F800000)), 23);
    __m256i const rem =
        _mm256_or_si256(_mm256_and_si256(u, _mm256_set1_epi32(0x007FFFFF)), _mm256_set1_epi32(0x3F800000));
    __m256 const base = _mm256_cvtepi32_ps(_mm256_sub_epi32(e, _mm256_set1_epi32(127)));
    __m256 const t = _mm256_sub_ps(_mm256_castsi256_ps(rem), _mm256_set1_ps(1.0f));
    __m256 v = _mm256_setzero_ps();
    for (float c : kLog2Poly)
        v = _mm256_add_ps(_mm256_mul_ps(v, t), _mm256_set1_ps(c));
    __m256 res = _mm256_add_ps(base, v);
    __m256 const isInf = _mm256_cmp_ps(x, _mm256_set1_ps(INFINITY), _CMP_EQ_OQ);
    res = _mm256_blendv_ps(res, _mm256_set1_ps(128.0f), isInf);
    __m256 const positive = _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_GT_OQ);
    return _mm256_and_ps(res, positive);
}

// float(1.0 - double(v)) of eight values.
inline __m256 OneMinusInDouble(__m256 v)
{
    __m256d const one = _mm256_set1_pd(1.0);
    __m128 const lo = _mm256_cvtpd_ps(_mm256_sub_pd(one, _mm256_cvtps_pd(_mm256_castps256_ps128(v))));
    __m128 const hi = _mm256_cvtpd_ps(_mm256_sub_pd(one, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1))));
    return _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1);
}

// Numerator and denominator contributions of eight samples from the five filtered sums.
inline void VifValues8(__m256 mu1, __m256 mu2, __m256 e11, __m256 e22, __m256 e12, __m256& num, __m256& den)
{
    __m256 const sigmaNsq = _mm256_set1_ps(2.0f);
    __m256 const sigmaMaxInv = _mm256_set1_ps(static_cast<float>(4.0 / (255.0 * 255.0)));
    __m256 const s1 = _mm256_sub_ps(e11, _mm256_mul_ps(mu1, mu1));
    __m256 const s2 = _mm256_sub_ps(e22, _mm256_mul_ps(mu2, mu2));
    __m256 const s12 = _mm256_sub_ps(e12, _mm256_mul_ps(mu1, mu2));
    __m256 const low = _mm256_cmp_ps(s1, sigmaNsq, _CMP_LT_OQ);
    __m256 const numLow = OneMinusInDouble(_mm256_mul_ps(s2, sigmaMaxInv));
    if (_mm256_movemask_ps(low) == 0xFF) {
        // Every sample takes the low-variance branch (flat areas): no logarithms needed.
        num = numLow;
        den = _mm256_set1_ps(1.0f);
        return;
    }
    __m256 const sv = _mm256_mul_ps(_mm256_add_ps(s2, sigmaNsq), s1);
    __m256 g = _mm256_sub_ps(sv, _mm256_mul_ps(s12, s12));
    g = _mm256_blendv_ps(_mm256_set1_ps(FLT_MIN), g, _mm256_cmp_ps(g, _mm256_setzero_ps(), _CMP_GT_OQ));
    __m256 numHigh = Log2Approx8(_mm256_div_ps(sv, g));
    numHigh = _mm256_andnot_ps(_mm256_cmp_ps(s12, _mm256_setzero_ps(), _CMP_LT_OQ), numHigh);
    __m256 const denHigh = Log2Approx8(_mm256_add_ps(_mm256_set1_ps(1.0f), _mm256_div_ps(s1, sigmaNsq)));
    num = _mm256_blendv_ps(numHigh, numLow, low);
    den = _mm256_blendv_ps(denHigh, _mm256_set1_ps(1.0f), low);
}

// Eight lanes for the shared VIF.
struct Lanes8
{
    using Reg = __m256;
    static constexpr int kWidth = 8;
    static Reg Zero() { return _mm256_setzero_ps(); }
    static Reg Set1(float v) { return _mm256_set1_ps(v); }
    static Reg Load(float const* p) { return _mm256_loadu_ps(p); }
    static void Store(float* p, Reg v) { _mm256_storeu_ps(p, v); }
    static Reg Add(Reg a, Reg b) { return _mm256_add_ps(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm256_mul_ps(a, b); }
    static void Values(Reg mu1, Reg mu2, Reg e11, Reg e22, Reg e12, Reg& num, Reg& den)
    {
        VifValues8(mu1, mu2, e11, e22, e12, num, den);
    }
    static void Deinterleave(float const* pad, int n, float* e, float* o) { vmaf::Deinterleave(pad, n, e, o); }
};

// ---------------------------------------------------------------- SSIM

struct SsimWork
{
    ScratchVector<float> r, d;
    ScratchVector<int> cols;
    ScratchVector<float> prod;
    ScratchVector<float> hp[5];
    ScratchVector<float> sq[3];
    ScratchVector<float> vrow[5];
    ScratchVector<double> lcs;
};

// Box mean of f x f samples (plus addend) as the portable decimation computes it: each
// output adds its f x f products in double, rows outer, columns inner. The f weighted input rows
// of an output row are made first, then eight outputs at a time keep their sums in registers
// while their taps are gathered.
void SsimDecimate(PlaneView const& p, int f, float addend, int ow, int oh, float* out, SsimWork& wk)
{
    float const weight = 1.0f / static_cast<float>(f * f);
    int* cols = Scratch(wk.cols, static_cast<std::size_t>(ow) * f + 4);
    for (int u = 0; u < f; ++u)
        for (int x = 0; x < ow; ++x)
            cols[static_cast<std::size_t>(u) * ow + x] = MirrorRepeatIndex(f * x - f / 2 + u, p.width);
    std::size_t const prodStride = static_cast<std::size_t>(p.width) + 8;
    float* prod = Scratch(wk.prod, prodStride * f);
    __m256 const wv = _mm256_set1_ps(weight);
    __m256 const av = _mm256_set1_ps(addend);
    for (int y = 0; y < oh; ++y) {
        for (int v = 0; v < f; ++v) {
            float const* s = p.row(MirrorRepeatIndex(f * y - f / 2 + v, p.height));
            float* pr = prod + v * prodStride;
            int i = 0;
            for (; i + 8 <= p.width; i += 8)
                _mm256_storeu_ps(pr + i, _mm256_mul_ps(wv, _mm256_add_ps(_mm256_loadu_ps(s + i), av)));
            for (; i < p.width; ++i)
                pr[i] = weight * (s[i] + addend);
        }
        float* o = out + static_cast<std::size_t>(y) * ow;
        int x = 0;
        for (; x + 8 <= ow; x += 8) {
            __m256d a0 = _mm256_setzero_pd();
            __m256d a1 = _mm256_setzero_pd();
            for (int v = 0; v < f; ++v) {
                float const* pr = prod + v * prodStride;
                for (int u = 0; u < f; ++u) {
                    int const* c = cols + static_cast<std::size_t>(u) * ow + x;
                    __m128 const g0 = _mm_i32gather_ps(pr, _mm_loadu_si128(reinterpret_cast<__m128i const*>(c)), 4);
                    __m128 const g1 = _mm_i32gather_ps(pr, _mm_loadu_si128(reinterpret_cast<__m128i const*>(c + 4)), 4);
                    a0 = _mm256_add_pd(a0, _mm256_cvtps_pd(g0));
                    a1 = _mm256_add_pd(a1, _mm256_cvtps_pd(g1));
                }
            }
            _mm_storeu_ps(o + x, _mm256_cvtpd_ps(a0));
            _mm_storeu_ps(o + x + 4, _mm256_cvtpd_ps(a1));
        }
        for (; x < ow; ++x) {
            double a = 0.0;
            for (int v = 0; v < f; ++v)
                for (int u = 0; u < f; ++u)
                    a += static_cast<double>(prod[v * prodStride + cols[static_cast<std::size_t>(u) * ow + x]]);
            o[x] = static_cast<float>(a);
        }
    }
}

// dst[x] = float(sum over k, in order, of double(g[k] * src[k][x])), src[k] = base + k * step.
void SsimFilter(float const* base, std::ptrdiff_t step, int n, float* dst)
{
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        __m256d a = _mm256_setzero_pd();
        __m256d b = _mm256_setzero_pd();
        for (int k = 0; k < 11; ++k) {
            __m256 const v = _mm256_mul_ps(_mm256_set1_ps(kSsimGauss[k]), _mm256_loadu_ps(base + k * step + x));
            a = _mm256_add_pd(a, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
            b = _mm256_add_pd(b, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
        }
        __m256 const r = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(a)), _mm256_cvtpd_ps(b), 1);
        _mm256_storeu_ps(dst + x, r);
    }
    for (; x < n; ++x) {
        double a = 0.0;
        for (int k = 0; k < 11; ++k)
            a += static_cast<double>(kSsimGauss[k] * base[k * step + x]);
        dst[x] = static_cast<float>(a);
    }
}

// l * c * s of four windows, as the portable combine computes each.
inline __m256d SsimLcs4(__m128 muR, __m128 muD, __m128 eRR, __m128 eDD, __m128 eRD)
{
    float const C1 = (0.01f * 255) * (0.01f * 255);
    float const C2 = (0.03f * 255) * (0.03f * 255);
    __m128 const zero = _mm_setzero_ps();
    __m128 const v1 = _mm_max_ps(_mm_sub_ps(eRR, _mm_mul_ps(muR, muR)), zero);
    __m128 const v2 = _mm_max_ps(_mm_sub_ps(eDD, _mm_mul_ps(muD, muD)), zero);
    __m128 const cov = _mm_sub_ps(eRD, _mm_mul_ps(muR, muD));
    __m256d const sr = _mm256_sqrt_pd(_mm256_cvtps_pd(_mm_mul_ps(v1, v2)));
    __m256d const muRd = _mm256_cvtps_pd(muR);
    __m256d const muDd = _mm256_cvtps_pd(muD);
    __m256d const lNum =
        _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), muRd), muDd), _mm256_set1_pd(C1));
    __m128 const lDenF = _mm_add_ps(_mm_add_ps(_mm_mul_ps(muR, muR), _mm_mul_ps(muD, muD)), _mm_set1_ps(C1));
    __m256d const l = _mm256_div_pd(lNum, _mm256_cvtps_pd(lDenF));
    __m256d const cNum = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), sr), _mm256_set1_pd(C2));
    __m128 const cDenF = _mm_add_ps(_mm_add_ps(v1, v2), _mm_set1_ps(C2));
    __m256d const c = _mm256_div_pd(cNum, _mm256_cvtps_pd(cDenF));
    __m256d const half = _mm256_set1_pd(C2 / 2.0);
    __m256d const sv = _mm256_div_pd(_mm256_add_pd(_mm256_cvtps_pd(cov), half), _mm256_add_pd(sr, half));
    return _mm256_mul_pd(_mm256_mul_pd(l, c), sv);
}

// ---------------------------------------------------------------- ADM

// One band row of both pictures: the four wavelet bands and the decoupled rows.
struct AdmRowSlot
{
    int row = -1;
    ScratchVector<float> restored[3]; // decoupled restored coefficients (h, v, d)
    ScratchVector<float> r3[3];       // Row3 of |csf(additive)| at each column
    ScratchVector<float> rc[3];       // RowCentre of |csf(additive)| at each column
};

struct AdmWork
{
    ScratchVector<float> lo, hi, even, odd;
    ScratchVector<float> band[6]; // ref h, v, d, dis h, v, d of the current row
    ScratchVector<float> absA[3]; // padded by one sample each side
    ScratchVector<float> vals[3];
    ScratchVector<float> rowDen, rowNum;
    AdmRowSlot ring[3];
};

// Vertical then horizontal db2 step producing band row i of s.
void AdmDwtRow(PlaneView const& s, int i, float* ba, float* bh, float* bv, float* bd, AdmWork& wk)
{
    int const win = s.width;
    int const w = (win + 1) / 2;
    float const* r0 = s.row(MirrorIndex(2 * i - 1, s.height));
    float const* r1 = s.row(MirrorIndex(2 * i, s.height));
    float const* r2 = s.row(MirrorIndex(2 * i + 1, s.height));
    float const* r3 = s.row(MirrorIndex(2 * i + 2, s.height));
    float* plo = wk.lo.data();
    float* phi = wk.hi.data();
    float* lo = plo + 1;
    float* hi = phi + 1;
    __m256 const l0 = _mm256_set1_ps(kAdmLo[0]), l1 = _mm256_set1_ps(kAdmLo[1]), l2 = _mm256_set1_ps(kAdmLo[2]),
                 l3 = _mm256_set1_ps(kAdmLo[3]);
    __m256 const h0 = _mm256_set1_ps(kAdmHi[0]), h1 = _mm256_set1_ps(kAdmHi[1]), h2 = _mm256_set1_ps(kAdmHi[2]),
                 h3 = _mm256_set1_ps(kAdmHi[3]);
    int x = 0;
    for (; x + 8 <= win; x += 8) {
        __m256 const s0 = _mm256_loadu_ps(r0 + x), s1 = _mm256_loadu_ps(r1 + x), s2 = _mm256_loadu_ps(r2 + x),
                     s3 = _mm256_loadu_ps(r3 + x);
        __m256 al = _mm256_add_ps(_mm256_setzero_ps(), _mm256_mul_ps(l0, s0));
        al = _mm256_add_ps(al, _mm256_mul_ps(l1, s1));
        al = _mm256_add_ps(al, _mm256_mul_ps(l2, s2));
        al = _mm256_add_ps(al, _mm256_mul_ps(l3, s3));
        __m256 ah = _mm256_add_ps(_mm256_setzero_ps(), _mm256_mul_ps(h0, s0));
        ah = _mm256_add_ps(ah, _mm256_mul_ps(h1, s1));
        ah = _mm256_add_ps(ah, _mm256_mul_ps(h2, s2));
        ah = _mm256_add_ps(ah, _mm256_mul_ps(h3, s3));
        _mm256_storeu_ps(lo + x, al);
        _mm256_storeu_ps(hi + x, ah);
    }
    for (; x < win; ++x) {
        float const s0 = r0[x], s1 = r1[x], s2 = r2[x], s3 = r3[x];
        float al = 0.0f;
        al += kAdmLo[0] * s0;
        al += kAdmLo[1] * s1;
        al += kAdmLo[2] * s2;
        al += kAdmLo[3] * s3;
        float ah = 0.0f;
        ah += kAdmHi[0] * s0;
        ah += kAdmHi[1] * s1;
        ah += kAdmHi[2] * s2;
        ah += kAdmHi[3] * s3;
        lo[x] = al;
        hi[x] = ah;
    }
    for (int xx : {-1, win, win + 1}) {
        lo[xx] = lo[MirrorIndex(xx, win)];
        hi[xx] = hi[MirrorIndex(xx, win)];
    }
    int const n = win + 3;
    float* e = wk.even.data();
    float* o = wk.odd.data();
    float* e2 = e + (n / 2 + 9);
    float* o2 = o + (n / 2 + 9);
    Deinterleave(plo, n, e, o);
    Deinterleave(phi, n, e2, o2);
    int j = 0;
    for (; j + 8 <= w; j += 8) {
        __m256 const p0 = _mm256_loadu_ps(e + j), p1 = _mm256_loadu_ps(o + j), p2 = _mm256_loadu_ps(e + j + 1),
                     p3 = _mm256_loadu_ps(o + j + 1);
        __m256 const q0 = _mm256_loadu_ps(e2 + j), q1 = _mm256_loadu_ps(o2 + j), q2 = _mm256_loadu_ps(e2 + j + 1),
                     q3 = _mm256_loadu_ps(o2 + j + 1);
        auto tap4 = [](__m256 c0, __m256 c1, __m256 c2, __m256 c3, __m256 a, __m256 b, __m256 c, __m256 d) {
            __m256 v = _mm256_add_ps(_mm256_setzero_ps(), _mm256_mul_ps(c0, a));
            v = _mm256_add_ps(v, _mm256_mul_ps(c1, b));
            v = _mm256_add_ps(v, _mm256_mul_ps(c2, c));
            return _mm256_add_ps(v, _mm256_mul_ps(c3, d));
        };
        _mm256_storeu_ps(ba + j, tap4(l0, l1, l2, l3, p0, p1, p2, p3));
        _mm256_storeu_ps(bv + j, tap4(h0, h1, h2, h3, p0, p1, p2, p3));
        _mm256_storeu_ps(bh + j, tap4(l0, l1, l2, l3, q0, q1, q2, q3));
        _mm256_storeu_ps(bd + j, tap4(h0, h1, h2, h3, q0, q1, q2, q3));
    }
    for (; j < w; ++j) {
        float const* p = plo + 2 * j;
        float const* q = phi + 2 * j;
        float a = 0.0f, v = 0.0f, hh = 0.0f, d = 0.0f;
        for (int t = 0; t < 4; ++t) {
            a += kAdmLo[t] * p[t];
            v += kAdmHi[t] * p[t];
            hh += kAdmLo[t] * q[t];
            d += kAdmHi[t] * q[t];
        }
        ba[j] = a;
        bv[j] = v;
        bh[j] = hh;
        bd[j] = d;
    }
}

inline __m256 AdmDivide8(__m256 n, __m256 d)
{
    __m256 const xi = _mm256_rcp_ps(d);
    return _mm256_mul_ps(
        n, _mm256_add_ps(xi, _mm256_mul_ps(xi, _mm256_sub_ps(_mm256_set1_ps(1.0f), _mm256_mul_ps(d, xi)))));
}

inline float AdmDivide1(float n, float d)
{
    float const xi = _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(d)));
    return n * (xi + xi * (1.0f - d * xi));
}

inline float AdmClamp01(float k)
{
    return k > 1.0f ? 1.0f : (k >= 0.0f ? k : 0.0f);
}

inline __m256 AdmClamp01(__m256 k)
{
    __m256 const one = _mm256_set1_ps(1.0f);
    __m256 const zero = _mm256_setzero_ps();
    __m256 const v = _mm256_blendv_ps(zero, k, _mm256_cmp_ps(k, zero, _CMP_GE_OQ));
    return _mm256_blendv_ps(v, one, _mm256_cmp_ps(k, one, _CMP_GT_OQ));
}

float AdmCube3(float sum, float area)
{
    return std::pow(sum, 1.0f / 3.0f) + std::pow(area / 32.0f, 1.0f / 3.0f);
}

// ---------------------------------------------------------------- motion

struct MotionWork
{
    ScratchVector<float> pad, diff, blurA, blurB;
};

// Row y of the 5-tap blur of src into out; pad holds width + 12 floats.
inline void MotionBlurRow(PlaneView const& src, int y, float* pad, float* out)
{
    int const r = 2;
    float const* rows[5];
    for (int k = 0; k < 5; ++k)
        rows[k] = src.row(MirrorIndex(y - r + k, src.height));
    VerticalFilter(rows, kMotionFilter, 5, src.width, pad + r);
    MirrorBorders(pad, src.width, r);
    HorizontalFilter(pad, kMotionFilter, 5, src.width, out);
}

// |p - q| of w samples into d.
inline void AbsDiffRow(float const* p, float const* q, int w, float* d)
{
    int x = 0;
    for (; x + 8 <= w; x += 8)
        _mm256_storeu_ps(d + x, Abs(_mm256_sub_ps(_mm256_loadu_ps(p + x), _mm256_loadu_ps(q + x))));
    for (; x < w; ++x)
        d[x] = std::fabs(p[x] - q[x]);
}

} // namespace

VifResult VifAvx2(PlaneView const& ref, PlaneView const& dis)
{
    return VifOf<Lanes8>(ref, dis);
}

namespace {

// SSIM with the given filter pass (the AVX2 one, or the AVX-512 one where the processor has it).
double SsimVector(PlaneView const& refIn, PlaneView const& disIn, float addend, SsimFilterFn filter)
{
    static thread_local SsimWork wk;
    int const w0 = refIn.width;
    int const h0 = refIn.height;
    if (w0 <= 0 || h0 <= 0)
        return 1.0;
    float const q = static_cast<float>(std::min(w0, h0)) / 256.0f;
    int const f = std::max(1, static_cast<int>(std::floor(q + 0.5f)));
    int const w = f > 1 ? w0 / f + (w0 & 1) : w0;
    int const h = f > 1 ? h0 / f + (h0 & 1) : h0;
    int const kWin = 11;
    if (w < kWin || h < kWin)
        return Ssim(refIn, disIn, addend);
    std::size_t const n = static_cast<std::size_t>(w) * h;
    float* r = Scratch(wk.r, n);
    float* d = Scratch(wk.d, n);
    if (f > 1) {
        SsimDecimate(refIn, f, addend, w, h, r, wk);
        SsimDecimate(disIn, f, addend, w, h, d, wk);
    } else {
        __m256 const av = _mm256_set1_ps(addend);
        for (int y = 0; y < h; ++y) {
            float const* a = refIn.row(y);
            float const* b = disIn.row(y);
            float* ra = r + static_cast<std::size_t>(y) * w;
            float* rb = d + static_cast<std::size_t>(y) * w;
            int x = 0;
            for (; x + 8 <= w; x += 8) {
                _mm256_storeu_ps(ra + x, _mm256_add_ps(_mm256_loadu_ps(a + x), av));
                _mm256_storeu_ps(rb + x, _mm256_add_ps(_mm256_loadu_ps(b + x), av));
            }
            for (; x < w; ++x) {
                ra[x] = a[x] + addend;
                rb[x] = b[x] + addend;
            }
        }
    }
    int const ow = w - (kWin - 1);
    int const oh = h - (kWin - 1);
    std::size_t const hsz = static_cast<std::size_t>(ow) * h;
    float* hp[5];
    for (int m = 0; m < 5; ++m)
        hp[m] = Scratch(wk.hp[m], hsz);
    float* sq[3];
    for (int m = 0; m < 3; ++m)
        sq[m] = Scratch(wk.sq[m], static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        float const* a = r + static_cast<std::size_t>(y) * w;
        float const* b = d + static_cast<std::size_t>(y) * w;
        int x = 0;
        for (; x + 8 <= w; x += 8) {
            __m256 const va = _mm256_loadu_ps(a + x);
            __m256 const vb = _mm256_loadu_ps(b + x);
            _mm256_storeu_ps(sq[0] + x, _mm256_mul_ps(va, va));
            _mm256_storeu_ps(sq[1] + x, _mm256_mul_ps(vb, vb));
            _mm256_storeu_ps(sq[2] + x, _mm256_mul_ps(va, vb));
        }
        for (; x < w; ++x) {
            sq[0][x] = a[x] * a[x];
            sq[1][x] = b[x] * b[x];
            sq[2][x] = a[x] * b[x];
        }
        std::size_t const o = static_cast<std::size_t>(y) * ow;
        filter(a, 1, ow, hp[0] + o);
        filter(b, 1, ow, hp[1] + o);
        filter(sq[0], 1, ow, hp[2] + o);
        filter(sq[1], 1, ow, hp[3] + o);
        filter(sq[2], 1, ow, hp[4] + o);
    }
    float* vrow[5];
    for (int m = 0; m < 5; ++m)
        vrow[m] = Scratch(wk.vrow[m], static_cast<std::size_t>(ow));
    double* lcs = Scratch(wk.lcs, static_cast<std::size_t>(ow));
    double sum = 0.0;
    for (int y = 0; y < oh; ++y) {
        for (int m = 0; m < 5; ++m)
            filter(hp[m] + static_cast<std::size_t>(y) * ow, ow, ow, vrow[m]);
        int x = 0;
        for (; x + 4 <= ow; x += 4)
            _mm256_storeu_pd(lcs + x,
                             SsimLcs4(_mm_loadu_ps(vrow[0] + x), _mm_loadu_ps(vrow[1] + x), _mm_loadu_ps(vrow[2] + x),
                                      _mm_loadu_ps(vrow[3] + x), _mm_loadu_ps(vrow[4] + x)));
        for (; x < ow; ++x) {
            double v[4];
            _mm256_storeu_pd(v, SsimLcs4(_mm_set1_ps(vrow[0][x]), _mm_set1_ps(vrow[1][x]), _mm_set1_ps(vrow[2][x]),
                                         _mm_set1_ps(vrow[3][x]), _mm_set1_ps(vrow[4][x])));
            lcs[x] = v[0];
        }
        for (x = 0; x < ow; ++x)
            sum += lcs[x];
    }
    return static_cast<float>(sum / (static_cast<double>(ow) * oh));
}

} // namespace

double SsimAvx2(PlaneView const& ref, PlaneView const& dis, float addend)
{
    return SsimVector(ref, dis, addend, &SsimFilter);
}

double SsimAvx512(PlaneView const& ref, PlaneView const& dis, float addend)
{
    return SsimVector(ref, dis, addend, &SsimFilterAvx512);
}

AdmResult AdmAvx2(PlaneView const& refIn, PlaneView const& disIn)
{
    static thread_local AdmWork wk;
    AdmResult res;
    int const w0 = refIn.width;
    int const h0 = refIn.height;
    if (w0 <= 0 || h0 <= 0)
        return res;
    double const limit = 1e-10 * (static_cast<double>(w0) * h0) / (1920.0 * 1080.0);
    float const cos1degSq = static_cast<float>(std::cos(1.0 * M_PI / 180.0) * std::cos(1.0 * M_PI / 180.0));
    float const eps = 1e-30f;

    // Row scratch sized for the largest scale.
    std::size_t const wIn = static_cast<std::size_t>(w0);
    std::size_t const wBand = (wIn + 1) / 2;
    Scratch(wk.lo, wIn + 16);
    Scratch(wk.hi, wIn + 16);
    Scratch(wk.even, 2 * (wIn / 2 + 16));
    Scratch(wk.odd, 2 * (wIn / 2 + 16));
    for (auto& b : wk.band)
        Scratch(b, wBand + 8);
    for (int t = 0; t < 3; ++t) {
        Scratch(wk.absA[t], wBand + 10);
        Scratch(wk.vals[t], wBand + 8);
        for (auto& slot : wk.ring) {
            Scratch(slot.restored[t], wBand + 8);
            Scratch(slot.r3[t], wBand + 8);
            Scratch(slot.rc[t], wBand + 8);
        }
    }

    PlaneView r = refIn;
    PlaneView d = disIn;
    for (int scale = 0; scale < 4; ++scale) {
        int const w = (r.width + 1) / 2;
        int const h = (r.height + 1) / 2;
        int const gen = scale & 1;
        std::size_t const n = static_cast<std::size_t>(w) * h;
        float* aRef = ScalePlane(2 * gen, n + 1);
        float* aDis = ScalePlane(2 * gen + 1, n + 1);
        float const rf[3] = {kAdmRfactorHV[scale], kAdmRfactorHV[scale], kAdmRfactorD[scale]};
        AdmRegion const outer = AdmOuterRegion(w, h);
        AdmRegion const in = AdmInnerRegion(w, h);
        float const area = static_cast<float>((in.bottom - in.top) * (in.right - in.left));
        float* rowDen = Scratch(wk.rowDen, static_cast<std::size_t>(h) * 3);
        float* rowNum = Scratch(wk.rowNum, static_cast<std::size_t>(h) * 3);
        for (auto& slot : wk.ring)
            slot.row = -1;
        bool const tiny = w < 2 || h < 2;

        // Masked, cubed restored coefficients of band row i, summed in the portable column order.
        auto numeratorRow = [&](int i) {
            AdmRowSlot const& P = wk.ring[MirrorIndex(i - 1, h) % 3];
            AdmRowSlot const& C = wk.ring[i % 3];
            AdmRowSlot const& N = wk.ring[MirrorIndex(i + 1, h) % 3];
            int j = in.left;
            for (; j + 8 <= in.right; j += 8) {
                __m256 thr = _mm256_setzero_ps();
                for (int t = 0; t < 3; ++t) {
                    __m256 const s3 = _mm256_add_ps(
                        _mm256_add_ps(_mm256_loadu_ps(P.r3[t].data() + j), _mm256_loadu_ps(C.rc[t].data() + j)),
                        _mm256_loadu_ps(N.r3[t].data() + j));
                    thr = _mm256_add_ps(thr, s3);
                }
                for (int t = 0; t < 3; ++t) {
                    __m256 x = _mm256_mul_ps(_mm256_loadu_ps(C.restored[t].data() + j), _mm256_set1_ps(rf[t]));
                    x = _mm256_sub_ps(Abs(x), thr);
                    x = _mm256_andnot_ps(_mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_LT_OQ), x);
                    _mm256_storeu_ps(wk.vals[t].data() + j, _mm256_mul_ps(_mm256_mul_ps(x, x), x));
                }
            }
            for (; j < in.right; ++j) {
                float thr = 0.0f;
                for (int t = 0; t < 3; ++t)
                    thr += P.r3[t][j] + C.rc[t][j] + N.r3[t][j];
                for (int t = 0; t < 3; ++t) {
                    float x = C.restored[t][j] * rf[t];
                    x = std::fabs(x) - thr;
                    x = x < 0.0f ? 0.0f : x;
                    wk.vals[t][j] = x * x * x;
                }
            }
            for (int t = 0; t < 3; ++t) {
                float const* v = wk.vals[t].data();
                float acc = 0.0f;
                if (tiny) {
                    for (int jj = in.left; jj < in.right; ++jj)
                        acc += v[jj];
                } else {
                    if (in.left <= 0)
                        acc += v[0];
                    if (in.right > w - 1)
                        acc += v[w - 1];
                    int const startCol = in.left > 1 ? in.left : 1;
                    int const endCol = in.right < w - 1 ? in.right : w - 1;
                    for (int jj = startCol; jj < endCol; ++jj)
                        acc += v[jj];
                }
                rowNum[static_cast<std::size_t>(i) * 3 + t] = acc;
            }
        };

        float* rb[3] = {wk.band[0].data(), wk.band[1].data(), wk.band[2].data()};
        float* db[3] = {wk.band[3].data(), wk.band[4].data(), wk.band[5].data()};
        for (int k = 0; k < h; ++k) {
            AdmDwtRow(r, k, aRef + static_cast<std::size_t>(k) * w, rb[0], rb[1], rb[2], wk);
            AdmDwtRow(d, k, aDis + static_cast<std::size_t>(k) * w, db[0], db[1], db[2], wk);

            if (k >= in.top && k < in.bottom) {
                for (int t = 0; t < 3; ++t) {
                    float* v = wk.vals[t].data();
                    float const* b = rb[t];
                    __m256 const c = _mm256_set1_ps(rf[t]);
                    int j = in.left;
                    for (; j + 8 <= in.right; j += 8) {
                        __m256 const a = Abs(_mm256_mul_ps(c, _mm256_loadu_ps(b + j)));
                        _mm256_storeu_ps(v + j, _mm256_mul_ps(_mm256_mul_ps(a, a), a));
                    }
                    for (; j < in.right; ++j) {
                        float const a = std::fabs(rf[t] * b[j]);
                        v[j] = a * a * a;
                    }
                    float acc = 0.0f;
                    for (j = in.left; j < in.right; ++j)
                        acc += v[j];
                    rowDen[static_cast<std::size_t>(k) * 3 + t] = acc;
                }
            }

            // Decoupling and |csf(additive)| of this row; zero outside the grown region.
            AdmRowSlot& S = wk.ring[k % 3];
            S.row = k;
            float* A[3] = {wk.absA[0].data() + 1, wk.absA[1].data() + 1, wk.absA[2].data() + 1};
            for (int t = 0; t < 3; ++t)
                std::fill(A[t], A[t] + w, 0.0f);
            if (k >= outer.top && k < outer.bottom) {
                __m256 const epsv = _mm256_set1_ps(eps);
                __m256 const cosv = _mm256_set1_ps(cos1degSq);
                __m256 const zero = _mm256_setzero_ps();
                int j = outer.left;
                for (; j + 8 <= outer.right; j += 8) {
                    __m256 const oh = _mm256_loadu_ps(rb[0] + j), ov = _mm256_loadu_ps(rb[1] + j),
                                 od = _mm256_loadu_ps(rb[2] + j);
                    __m256 const th = _mm256_loadu_ps(db[0] + j), tv = _mm256_loadu_ps(db[1] + j),
                                 td = _mm256_loadu_ps(db[2] + j);
                    __m256 const kh = AdmClamp01(AdmDivide8(th, _mm256_add_ps(oh, epsv)));
                    __m256 const kv = AdmClamp01(AdmDivide8(tv, _mm256_add_ps(ov, epsv)));
                    __m256 const kd = AdmClamp01(AdmDivide8(td, _mm256_add_ps(od, epsv)));
                    __m256 rh = _mm256_mul_ps(kh, oh), rv = _mm256_mul_ps(kv, ov), rd = _mm256_mul_ps(kd, od);
                    __m256 const dot = _mm256_add_ps(_mm256_mul_ps(oh, th), _mm256_mul_ps(ov, tv));
                    __m256 const oMag = _mm256_add_ps(_mm256_mul_ps(oh, oh), _mm256_mul_ps(ov, ov));
                    __m256 const tMag = _mm256_add_ps(_mm256_mul_ps(th, th), _mm256_mul_ps(tv, tv));
                    __m256 const keep =
                        _mm256_and_ps(_mm256_cmp_ps(dot, zero, _CMP_GE_OQ),
                                      _mm256_cmp_ps(_mm256_mul_ps(dot, dot),
                                                    _mm256_mul_ps(_mm256_mul_ps(cosv, oMag), tMag), _CMP_GE_OQ));
                    rh = _mm256_blendv_ps(rh, th, keep);
                    rv = _mm256_blendv_ps(rv, tv, keep);
                    rd = _mm256_blendv_ps(rd, td, keep);
                    _mm256_storeu_ps(S.restored[0].data() + j, rh);
                    _mm256_storeu_ps(S.restored[1].data() + j, rv);
                    _mm256_storeu_ps(S.restored[2].data() + j, rd);
                    _mm256_storeu_ps(A[0] + j, Abs(_mm256_mul_ps(_mm256_set1_ps(rf[0]), _mm256_sub_ps(th, rh))));
                    _mm256_storeu_ps(A[1] + j, Abs(_mm256_mul_ps(_mm256_set1_ps(rf[1]), _mm256_sub_ps(tv, rv))));
                    _mm256_storeu_ps(A[2] + j, Abs(_mm256_mul_ps(_mm256_set1_ps(rf[2]), _mm256_sub_ps(td, rd))));
                }
                for (; j < outer.right; ++j) {
                    float const oh = rb[0][j], ov = rb[1][j], od = rb[2][j];
                    float const th = db[0][j], tv = db[1][j], td = db[2][j];
                    float const kh = AdmClamp01(AdmDivide1(th, oh + eps));
                    float const kv = AdmClamp01(AdmDivide1(tv, ov + eps));
                    float const kd = AdmClamp01(AdmDivide1(td, od + eps));
                    float rh = kh * oh, rv = kv * ov, rd = kd * od;
                    float const dot = oh * th + ov * tv;
                    float const oMag = oh * oh + ov * ov;
                    float const tMag = th * th + tv * tv;
                    if (dot >= 0.0f && dot * dot >= cos1degSq * oMag * tMag) {
                        rh = th;
                        rv = tv;
                        rd = td;
                    }
                    S.restored[0][j] = rh;
                    S.restored[1][j] = rv;
                    S.restored[2][j] = rd;
                    A[0][j] = std::fabs(rf[0] * (th - rh));
                    A[1][j] = std::fabs(rf[1] * (tv - rv));
                    A[2][j] = std::fabs(rf[2] * (td - rd));
                }
            }
            // Row sums of the masking neighbourhood, mirrored at the ends.
            for (int t = 0; t < 3; ++t) {
                float* a = A[t];
                a[-1] = a[MirrorIndex(-1, w)];
                a[w] = a[MirrorIndex(w, w)];
                float* r3 = S.r3[t].data();
                float* rc = S.rc[t].data();
                __m256d const k30 = _mm256_set1_pd(kAdmOneBy30);
                __m256d const k15 = _mm256_set1_pd(kAdmOneBy15);
                int j = 0;
                for (; j + 4 <= w; j += 4) {
                    __m128 const l = _mm_loadu_ps(a + j - 1), c = _mm_loadu_ps(a + j), rr = _mm_loadu_ps(a + j + 1);
                    __m256d const s3 = _mm256_cvtps_pd(_mm_add_ps(_mm_add_ps(l, c), rr));
                    _mm_storeu_ps(r3 + j, _mm256_cvtpd_ps(_mm256_mul_pd(k30, s3)));
                    __m256d const lr = _mm256_cvtps_pd(_mm_add_ps(l, rr));
                    _mm_storeu_ps(rc + j, _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(k30, lr),
                                                                        _mm256_mul_pd(k15, _mm256_cvtps_pd(c)))));
                }
                for (; j < w; ++j) {
                    r3[j] = static_cast<float>(kAdmOneBy30 * static_cast<double>(a[j - 1] + a[j] + a[j + 1]));
                    rc[j] = static_cast<float>(kAdmOneBy30 * static_cast<double>(a[j - 1] + a[j + 1]) +
                                               kAdmOneBy15 * static_cast<double>(a[j]));
                }
            }
            if (k >= 1 && k - 1 >= in.top && k - 1 < in.bottom)
                numeratorRow(k - 1);
        }
        if (h - 1 >= in.top && h - 1 < in.bottom)
            numeratorRow(h - 1);

        float den[3] = {0, 0, 0};
        for (int i = in.top; i < in.bottom; ++i)
            for (int t = 0; t < 3; ++t)
                den[t] += rowDen[static_cast<std::size_t>(i) * 3 + t];
        float const denScale = AdmCube3(den[0], area) + AdmCube3(den[1], area) + AdmCube3(den[2], area);

        float num[3] = {0, 0, 0};
        auto addRow = [&](int i) {
            for (int t = 0; t < 3; ++t)
                num[t] += rowNum[static_cast<std::size_t>(i) * 3 + t];
        };
        if (tiny) {
            for (int i = in.top; i < in.bottom; ++i)
                addRow(i);
        } else {
            if (in.top <= 0)
                addRow(0);
            else
                for (int t = 0; t < 3; ++t)
                    num[t] += 0.0f;
            if (in.bottom > h - 1)
                addRow(h - 1);
            else
                for (int t = 0; t < 3; ++t)
                    num[t] += 0.0f;
            int const startRow = in.top > 1 ? in.top : 1;
            int const endRow = in.bottom < h - 1 ? in.bottom : h - 1;
            for (int i = startRow; i < endRow; ++i)
                addRow(i);
        }
        float const numScale = AdmCube3(num[0], area) + AdmCube3(num[1], area) + AdmCube3(num[2], area);

        res.numScale[scale] = numScale;
        res.denScale[scale] = denScale;
        res.num += numScale;
        res.den += denScale;
        r = PlaneView{aRef, w, h, w};
        d = PlaneView{aDis, w, h, w};
    }
    if (res.num < limit)
        res.num = 0.0;
    if (res.den < limit)
        res.den = 0.0;
    return res;
}

void MotionBlurAvx2(PlaneView const& src, float* dst, std::ptrdiff_t dstStride, float*)
{
    static thread_local MotionWork wk;
    float* pad = Scratch(wk.pad, static_cast<std::size_t>(src.width) + 12);
    for (int y = 0; y < src.height; ++y)
        MotionBlurRow(src, y, pad, dst + y * dstStride);
}

double MotionScoreAvx2(PlaneView const& a, PlaneView const& b)
{
    static thread_local MotionWork wk;
    if (a.width <= 0 || a.height <= 0)
        return 0.0;
    int const w = a.width;
    float* diff = Scratch(wk.diff, static_cast<std::size_t>(w) * 4);
    float accum = 0.0f;
    // Four rows at a time: their |a - b| rows by vector code, then the four in-order row sums
    // side by side (independent chains), added to the total in row order.
    for (int y0 = 0; y0 < a.height; y0 += 4) {
        int const rows = std::min(4, a.height - y0);
        for (int r = 0; r < rows; ++r)
            AbsDiffRow(a.row(y0 + r), b.row(y0 + r), w, diff + static_cast<std::size_t>(r) * w);
        AddRowSums(diff, w, rows, &accum);
    }
    return static_cast<double>(accum / static_cast<float>(a.width * a.height));
}

double BlurredMotionScoreAvx2(PlaneView const& a, PlaneView const& b)
{
    static thread_local MotionWork wk;
    if (a.width <= 0 || a.height <= 0)
        return 0.0;
    int const w = a.width;
    float* pad = Scratch(wk.pad, static_cast<std::size_t>(w) + 12);
    float* ra = Scratch(wk.blurA, static_cast<std::size_t>(w));
    float* rb = Scratch(wk.blurB, static_cast<std::size_t>(w));
    float* diff = Scratch(wk.diff, static_cast<std::size_t>(w) * 4);
    float accum = 0.0f;
    // As MotionScoreAvx2 on the blurred rows, each made just before it is used.
    for (int y0 = 0; y0 < a.height; y0 += 4) {
        int const rows = std::min(4, a.height - y0);
        for (int r = 0; r < rows; ++r) {
            MotionBlurRow(a, y0 + r, pad, ra);
            MotionBlurRow(b, y0 + r, pad, rb);
            AbsDiffRow(ra, rb, w, diff + static_cast<std::size_t>(r) * w);
        }
        AddRowSums(diff, w, rows, &accum);
    }
    return static_cast<double>(accum / static_cast<float>(a.width * a.height));
}

double MeanSquaredErrorAvx2(PlaneView const& ref, PlaneView const& dis)
{
    int const w = ref.width;
    int const h = ref.height;
    if (w <= 0 || h <= 0)
        return 0.0;
    // The portable sum adds the float squares to a double one after another. Where every
    // difference is a multiple of 1/4 no larger than 512 in size (samples of 8- or 10-bit material
    // on the 8-bit scale), each square is an exact multiple of 1/16 below 2^18, and every partial
    // sum of fewer than 2^31 of them is exact in double: any order then gives the same bits, so
    // four running sums side by side do. Any other difference falls back to the portable loop.
    if (static_cast<double>(w) * h >= 2147483648.0)
        return MeanSquaredError(ref, dis);
    __m256 const four = _mm256_set1_ps(4.0f);
    __m256 const limit = _mm256_set1_ps(2048.0f);
    __m256 bad = _mm256_setzero_ps();
    __m256d s0 = _mm256_setzero_pd(), s1 = s0;
    bool tailBad = false; // the samples past the last full vector are checked and summed the same way
    double tailSum = 0.0;
    for (int y = 0; y < h; ++y) {
        float const* r = ref.row(y);
        float const* d = dis.row(y);
        int x = 0;
        for (; x + 8 <= w; x += 8) {
            __m256 const e = _mm256_sub_ps(_mm256_loadu_ps(r + x), _mm256_loadu_ps(d + x));
            __m256 const q = _mm256_mul_ps(e, four);
            __m256 const whole = _mm256_round_ps(q, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
            bad = _mm256_or_ps(bad, _mm256_cmp_ps(q, whole, _CMP_NEQ_UQ));
            bad = _mm256_or_ps(bad, _mm256_cmp_ps(Abs(q), limit, _CMP_NLE_UQ));
            __m256 const sq = _mm256_mul_ps(e, e);
            s0 = _mm256_add_pd(s0, _mm256_cvtps_pd(_mm256_castps256_ps128(sq)));
            s1 = _mm256_add_pd(s1, _mm256_cvtps_pd(_mm256_extractf128_ps(sq, 1)));
        }
        for (; x < w; ++x) {
            float const e = r[x] - d[x];
            float const q = e * 4.0f;
            if (!(q == std::nearbyint(q)) || !(std::fabs(q) <= 2048.0f))
                tailBad = true;
            tailSum += static_cast<double>(e * e);
        }
    }
    if (tailBad || _mm256_movemask_ps(bad) != 0)
        return MeanSquaredError(ref, dis);
    double lanes[8];
    _mm256_storeu_pd(lanes, s0);
    _mm256_storeu_pd(lanes + 4, s1);
    double sum = tailSum;
    for (double v : lanes)
        sum += v;
    return sum / (static_cast<double>(w) * h);
}

} // namespace ze::nox::core::vmaf

#endif
