// The inter prediction kernels built with AVX2 (this file only is compiled with -mavx2 on x86).
// Filter taps run as pairs of 16-bit samples times pairs of coefficients (madd), summed in 32 bits,
// so that the results equal the portable ones for sources below 2^15.

#include "inter/InterKernels.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdlib>

namespace vvcinter {
namespace {

// Coefficient pairs (c[2k], c[2k + 1]) in every 32-bit lane.
template <int N>
void CoefficientPairs(int8_t const* c, __m256i* pairs)
{
    for (int k = 0; k < N / 2; k++)
        pairs[k] = _mm256_set1_epi32(int32_t(uint16_t(int16_t(c[2 * k]))) | (int32_t(c[2 * k + 1]) * 65536));
}

// The filter of one row position: src points at tap 0 of output x, `step` between taps. Four
// variants by width: 16, 8 and 4 outputs, then one.
template <int N>
inline void Sum16(int16_t const* src, ptrdiff_t step, __m256i const* pairs, __m256i offset, __m256i& lo, __m256i& hi)
{
    lo = hi = offset;
    for (int k = 0; k < N / 2; k++) {
        __m256i const a = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(src + 2 * k * step));
        __m256i const b = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(src + (2 * k + 1) * step));
        lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), pairs[k]));
        hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), pairs[k]));
    }
}

template <int N>
inline void Sum8(int16_t const* src, ptrdiff_t step, __m256i const* pairs, __m256i offset, __m128i& lo, __m128i& hi)
{
    lo = hi = _mm256_castsi256_si128(offset);
    for (int k = 0; k < N / 2; k++) {
        __m128i const a = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + 2 * k * step));
        __m128i const b = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + (2 * k + 1) * step));
        __m128i const c = _mm256_castsi256_si128(pairs[k]);
        lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), c));
        hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), c));
    }
}

template <int N>
inline __m128i Sum4(int16_t const* src, ptrdiff_t step, __m256i const* pairs, __m256i offset)
{
    __m128i s = _mm256_castsi256_si128(offset);
    for (int k = 0; k < N / 2; k++) {
        __m128i const a = _mm_loadl_epi64(reinterpret_cast<__m128i const*>(src + 2 * k * step));
        __m128i const b = _mm_loadl_epi64(reinterpret_cast<__m128i const*>(src + (2 * k + 1) * step));
        s = _mm_add_epi32(s, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), _mm256_castsi256_si128(pairs[k])));
    }
    return s;
}

template <int N>
inline int Sum1(int16_t const* src, ptrdiff_t step, int8_t const* c, int offset)
{
    int sum = offset;
    for (int i = 0; i < N; i++)
        sum += c[i] * src[i * step];
    return sum;
}

// One pass of the filter; `step` is 1 along rows, the source stride down columns. Out32: 32-bit
// results, else 16-bit (the first pass, whose values fit).
template <int N, bool Out32>
void Pass(InterpPassArgs const& a, ptrdiff_t step)
{
    __m256i pairs[N / 2];
    CoefficientPairs<N>(a.coeff, pairs);
    __m256i const offset = _mm256_set1_epi32(a.offset);
    __m128i const shift = _mm_cvtsi32_si128(a.shift);
    auto const* src = static_cast<int16_t const*>(a.src);
    for (int y = 0; y < a.h; y++, src += a.srcStride) {
        int x = 0;
        if (Out32) {
            int32_t* dst = static_cast<int32_t*>(a.dst) + y * a.dstStride;
            for (; x + 16 <= a.w; x += 16) {
                __m256i lo, hi;
                Sum16<N>(src + x, step, pairs, offset, lo, hi);
                lo = _mm256_sra_epi32(lo, shift);
                hi = _mm256_sra_epi32(hi, shift);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), _mm256_permute2x128_si256(lo, hi, 0x20));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
            }
            for (; x + 8 <= a.w; x += 8) {
                __m128i lo, hi;
                Sum8<N>(src + x, step, pairs, offset, lo, hi);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_sra_epi32(lo, shift));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x + 4), _mm_sra_epi32(hi, shift));
            }
            for (; x + 4 <= a.w; x += 4)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x),
                                 _mm_sra_epi32(Sum4<N>(src + x, step, pairs, offset), shift));
            for (; x < a.w; x++)
                dst[x] = Sum1<N>(src + x, step, a.coeff, a.offset) >> a.shift;
        } else {
            int16_t* dst = static_cast<int16_t*>(a.dst) + y * a.dstStride;
            for (; x + 16 <= a.w; x += 16) {
                __m256i lo, hi;
                Sum16<N>(src + x, step, pairs, offset, lo, hi);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x),
                                    _mm256_packs_epi32(_mm256_sra_epi32(lo, shift), _mm256_sra_epi32(hi, shift)));
            }
            for (; x + 8 <= a.w; x += 8) {
                __m128i lo, hi;
                Sum8<N>(src + x, step, pairs, offset, lo, hi);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x),
                                 _mm_packs_epi32(_mm_sra_epi32(lo, shift), _mm_sra_epi32(hi, shift)));
            }
            for (; x + 4 <= a.w; x += 4) {
                __m128i const s = _mm_sra_epi32(Sum4<N>(src + x, step, pairs, offset), shift);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + x), _mm_packs_epi32(s, s));
            }
            for (; x < a.w; x++)
                dst[x] = int16_t(Sum1<N>(src + x, step, a.coeff, a.offset) >> a.shift);
        }
    }
}

template <bool Out32>
void PassOfTaps(InterpPassArgs const& a, ptrdiff_t step)
{
    switch (a.taps) {
    case 2: Pass<2, Out32>(a, step); break;
    case 4: Pass<4, Out32>(a, step); break;
    default: Pass<8, Out32>(a, step); break;
    }
}

inline int Clip3(int lo, int hi, int v)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// Eight 32-bit values clipped to [0, maxVal] and stored as samples (lanes 0..7 in order).
inline void StoreSamples8(uint16_t* dst, __m256i v, __m256i maxVal)
{
    v = _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), maxVal);
    __m128i const s = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), s);
}

inline __m256i Load8(int32_t const* p)
{
    return _mm256_loadu_si256(reinterpret_cast<__m256i const*>(p));
}

} // namespace

void InterRowsTo16Avx2(InterpPassArgs const& a)
{
    PassOfTaps<false>(a, 1);
}

void InterRowsTo32Avx2(InterpPassArgs const& a)
{
    PassOfTaps<true>(a, 1);
}

void InterColsAvx2(InterpPassArgs const& a)
{
    PassOfTaps<true>(a, a.srcStride);
}

void InterCopyAvx2(uint16_t const* src, ptrdiff_t srcStride, int w, int h, int shift, int32_t* dst, ptrdiff_t dstStride)
{
    __m128i const left = _mm_cvtsi32_si128(shift >= 0 ? shift : 0), right = _mm_cvtsi32_si128(shift >= 0 ? 0 : -shift);
    __m256i const round = _mm256_set1_epi32(shift >= 0 ? 0 : 1 << (-shift - 1));
    for (int y = 0; y < h; y++, src += srcStride, dst += dstStride) {
        int x = 0;
        for (; x + 8 <= w; x += 8) {
            __m256i v = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<__m128i const*>(src + x)));
            v = _mm256_sra_epi32(_mm256_add_epi32(_mm256_sll_epi32(v, left), round), right);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), v);
        }
        for (; x < w; x++)
            dst[x] = shift >= 0 ? int32_t(src[x]) << shift : (src[x] + (1 << (-shift - 1))) >> -shift;
    }
}

int InterSadAvx2(int32_t const* a, int32_t const* b, ptrdiff_t stride, int w, int rows)
{
    __m256i acc = _mm256_setzero_si256();
    int tail = 0;
    for (int y = 0; y < rows; y++, a += stride, b += stride) {
        int x = 0;
        for (; x + 8 <= w; x += 8)
            acc = _mm256_add_epi32(acc, _mm256_abs_epi32(_mm256_sub_epi32(Load8(a + x), Load8(b + x))));
        for (; x < w; x++)
            tail += std::abs(a[x] - b[x]);
    }
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4e));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xb1));
    return _mm_cvtsi128_si32(s) + tail;
}

void BiAverageAvx2(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth, uint16_t* dst,
                   ptrdiff_t dstStride)
{
    int const shift = std::max(3, 15 - bitDepth), offset = 1 << (shift - 1), maxVal = (1 << bitDepth) - 1;
    __m256i const vOffset = _mm256_set1_epi32(offset), vMax = _mm256_set1_epi32(maxVal);
    __m128i const vShift = _mm_cvtsi32_si128(shift);
    for (int y = 0; y < h; y++, p0 += pStride, p1 += pStride, dst += dstStride) {
        int x = 0;
        for (; x + 8 <= w; x += 8)
            StoreSamples8(
                dst + x,
                _mm256_sra_epi32(_mm256_add_epi32(_mm256_add_epi32(Load8(p0 + x), Load8(p1 + x)), vOffset), vShift),
                vMax);
        for (; x < w; x++)
            dst[x] = uint16_t(Clip3(0, maxVal, (p0[x] + p1[x] + offset) >> shift));
    }
}

// BDOF with rows of 8 samples per vector: the gradients and the five correlation terms per sample,
// the 6x6 window sums as sums of rows (edge rows repeated) and then of columns (edge columns
// repeated), the refinement per 4x4 and the corrected average.
void BdofBlockAvx2(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h, int bitDepth, uint16_t* dst,
                   ptrdiff_t dstStride)
{
    if (w < 8 || w > 16 || h > 16 || (w & 7) || (h & 3)) {
        BdofBlockPortable(p0, p1, stride, w, h, bitDepth, dst, dstStride);
        return;
    }
    constexpr int kMax = 16, kVec = kMax / 8;
    int const nv = w / 8;
    // Per inner row and vector: the gradient differences of the lists and the terms |tH|, |tV|,
    // sign(tV) tH, sign(tH) diff, sign(tV) diff.
    __m256i dH[kMax][kVec], dV[kMax][kVec], term[5][kMax][kVec];
    __m128i const s6 = _mm_cvtsi32_si128(6), s4 = _mm_cvtsi32_si128(4);
    for (int y = 0; y < h; y++)
        for (int v = 0; v < nv; v++) {
            int32_t const* a = p0 + (y + 1) * stride + 1 + 8 * v;
            int32_t const* b = p1 + (y + 1) * stride + 1 + 8 * v;
            auto grad = [&](int32_t const* q, ptrdiff_t d) {
                return _mm256_sub_epi32(_mm256_sra_epi32(Load8(q + d), s6), _mm256_sra_epi32(Load8(q - d), s6));
            };
            __m256i const gH0 = grad(a, 1), gH1 = grad(b, 1), gV0 = grad(a, stride), gV1 = grad(b, stride);
            __m256i const diff = _mm256_sub_epi32(_mm256_sra_epi32(Load8(a), s4), _mm256_sra_epi32(Load8(b), s4));
            __m256i const tH = _mm256_srai_epi32(_mm256_add_epi32(gH0, gH1), 1);
            __m256i const tV = _mm256_srai_epi32(_mm256_add_epi32(gV0, gV1), 1);
            dH[y][v] = _mm256_sub_epi32(gH0, gH1);
            dV[y][v] = _mm256_sub_epi32(gV0, gV1);
            term[0][y][v] = _mm256_abs_epi32(tH);
            term[1][y][v] = _mm256_abs_epi32(tV);
            term[2][y][v] = _mm256_sign_epi32(tH, tV);
            term[3][y][v] = _mm256_sign_epi32(diff, tH);
            term[4][y][v] = _mm256_sign_epi32(diff, tV);
        }
    int const shift4 = std::max(3, 15 - bitDepth), offset4 = 1 << (shift4 - 1), maxVal = (1 << bitDepth) - 1;
    int const limit = (1 << 4) - 1;
    __m256i const vOffset4 = _mm256_set1_epi32(offset4), vMax = _mm256_set1_epi32(maxVal);
    __m128i const vShift4 = _mm_cvtsi32_si128(shift4);
    for (int ys = 0; ys < h; ys += 4) {
        // Column sums of the window rows ys - 1 .. ys + 4.
        alignas(32) int32_t col[5][kMax];
        for (int q = 0; q < 5; q++)
            for (int v = 0; v < nv; v++) {
                __m256i s = _mm256_setzero_si256();
                for (int r = ys - 1; r <= ys + 4; r++)
                    s = _mm256_add_epi32(s, term[q][Clip3(0, h - 1, r)][v]);
                _mm256_store_si256(reinterpret_cast<__m256i*>(col[q] + 8 * v), s);
            }
        int vxs[kMax / 4], vys[kMax / 4];
        for (int xs = 0; xs < w; xs += 4) {
            int sum[5];
            for (int q = 0; q < 5; q++) {
                int const* c = col[q];
                sum[q] =
                    c[std::max(0, xs - 1)] + c[xs] + c[xs + 1] + c[xs + 2] + c[xs + 3] + c[std::min(w - 1, xs + 4)];
            }
            int const sGx2 = sum[0], sGy2 = sum[1], sGxGy = sum[2], sGxdI = -sum[3], sGydI = -sum[4];
            int const vx = sGx2 > 0 ? Clip3(-limit, limit, (sGxdI * 4) >> (31 - __builtin_clz(unsigned(sGx2)))) : 0;
            int const vy = sGy2 > 0 ? Clip3(-limit, limit,
                                            (sGydI * 4 - ((vx * sGxGy) >> 1)) >> (31 - __builtin_clz(unsigned(sGy2))))
                                    : 0;
            vxs[xs / 4] = vx;
            vys[xs / 4] = vy;
        }
        for (int v = 0; v < nv; v++) {
            __m256i const vx = _mm256_set_m128i(_mm_set1_epi32(vxs[2 * v + 1]), _mm_set1_epi32(vxs[2 * v]));
            __m256i const vy = _mm256_set_m128i(_mm_set1_epi32(vys[2 * v + 1]), _mm_set1_epi32(vys[2 * v]));
            for (int y = ys; y < ys + 4; y++) {
                int32_t const* a = p0 + (y + 1) * stride + 1 + 8 * v;
                int32_t const* b = p1 + (y + 1) * stride + 1 + 8 * v;
                __m256i const offset =
                    _mm256_add_epi32(_mm256_mullo_epi32(vx, dH[y][v]), _mm256_mullo_epi32(vy, dV[y][v]));
                __m256i const sum =
                    _mm256_add_epi32(_mm256_add_epi32(Load8(a), Load8(b)), _mm256_add_epi32(offset, vOffset4));
                StoreSamples8(dst + y * dstStride + 8 * v, _mm256_sra_epi32(sum, vShift4), vMax);
            }
        }
    }
}

} // namespace vvcinter
