// The ALF kernels built with AVX2 (this file only is compiled with -mavx2 on x86), written with
// intrinsics; the shared row bodies serve the sample ranges the vector code does not cover.

#include "loopfilter/AlfKernelBody.h"


// Block classification with AVX2 intrinsics. The Laplacians are 16-bit (exact up to 12 bits per
// sample, wider goes to the portable kernel), 16 columns at a time. A block's 8x8 window is four
// row pairs, and in a pair each column has exactly one subsampled position, so a pair is one
// vector: the even row's Laplacians in the even columns, the odd row's in the odd ones. A window
// is the sum of its pairs (still 16-bit), then of 4-column groups (32-bit); block m adds groups m
// and m + 1. The class of 8 blocks is then derived at once.

#include <cstring>
#include <immintrin.h>

namespace {

static_assert(sizeof(AlfBlockClass) == 2, "classes are stored as 16-bit lanes");

constexpr int kStripBlocks = 32;                         // blocks per strip: groups 0..32
constexpr int kStripChunks = (kStripBlocks + 4) / 4;     // 16-column chunks covering them
constexpr int kStripGroups = 4 * kStripChunks;           // groups computed (the last ones unused)

inline __m256i load16(uint16_t const* p)
{
    return _mm256_loadu_si256(reinterpret_cast<__m256i const*>(p));
}

inline __m256i absDiff2(__m256i c2, __m256i a, __m256i b)
{
    return _mm256_abs_epi16(_mm256_sub_epi16(_mm256_sub_epi16(c2, a), b));
}

// The four Laplacians (horizontal, vertical, 135, 45 degrees) of one subsampled row pair: the
// rows y and y + 1 (y even), 16 columns from cur.
struct PairSums
{
    __m256i d[4];
};

class Classifier
{
public:
    Classifier(AlfClassifyArgs const& a, uint16_t const* src) : m_a(a), m_src(src) {}

    PairSums pair(int y, int x) const
    {
        PairSums e = row(y, x), o = row(y + 1, x), p;
        for (int d = 0; d < 4; ++d)
            p.d[d] = _mm256_blend_epi16(e.d[d], o.d[d], 0xAA);
        return p;
    }

private:
    PairSums row(int y, int x) const
    {
        int const vb = m_a.vbRow;
        uint16_t const* cur = m_src + ptrdiff_t(y) * m_a.stride + x;
        uint16_t const* up = m_src + ptrdiff_t(y == vb ? y : y - 1) * m_a.stride + x;
        uint16_t const* dn = m_src + ptrdiff_t(y == vb - 1 ? y : y + 1) * m_a.stride + x;
        __m256i const c = load16(cur);
        __m256i const c2 = _mm256_add_epi16(c, c);
        PairSums l;
        l.d[0] = absDiff2(c2, load16(cur - 1), load16(cur + 1));
        l.d[1] = absDiff2(c2, load16(up), load16(dn));
        l.d[2] = absDiff2(c2, load16(up - 1), load16(dn + 1));
        l.d[3] = absDiff2(c2, load16(up + 1), load16(dn - 1));
        return l;
    }

    AlfClassifyArgs const& m_a;
    uint16_t const* m_src;
};

// Classes of 8 blocks from their window sums (32-bit lanes); ac: the activity weight.
__m256i classesOf(__m256i sH, __m256i sV, __m256i sD0, __m256i sD1, __m256i ac, __m128i actShift)
{
    __m256i const vGtH = _mm256_cmpgt_epi32(sV, sH);
    __m256i const hv1 = _mm256_max_epi32(sH, sV), hv0 = _mm256_min_epi32(sH, sV);
    __m256i const dirHV = _mm256_blendv_epi8(_mm256_set1_epi32(3), _mm256_set1_epi32(1), vGtH);
    __m256i const d0GtD1 = _mm256_cmpgt_epi32(sD0, sD1);
    __m256i const d1 = _mm256_max_epi32(sD0, sD1), d0 = _mm256_min_epi32(sD0, sD1);
    __m256i const dirD = _mm256_blendv_epi8(_mm256_set1_epi32(2), _mm256_setzero_si256(), d0GtD1);
    // d1 * hv0 > hv1 * d0 in 64 bits, even and odd lanes apart.
    __m256i const ce = _mm256_cmpgt_epi64(_mm256_mul_epu32(d1, hv0), _mm256_mul_epu32(hv1, d0));
    __m256i const co = _mm256_cmpgt_epi64(_mm256_mul_epu32(_mm256_srli_epi64(d1, 32), _mm256_srli_epi64(hv0, 32)),
                                          _mm256_mul_epu32(_mm256_srli_epi64(hv1, 32), _mm256_srli_epi64(d0, 32)));
    __m256i const diag = _mm256_blend_epi32(ce, co, 0xAA);
    __m256i const hvd1 = _mm256_blendv_epi8(hv1, d1, diag), hvd0 = _mm256_blendv_epi8(hv0, d0, diag);
    __m256i const dir1 = _mm256_blendv_epi8(dirHV, dirD, diag), dir2 = _mm256_blendv_epi8(dirD, dirHV, diag);
    // Strength: 2 where hvd1 * 2 > hvd0 * 9, else 1 where hvd1 > hvd0 * 2 (the first implies the second).
    __m256i const strong =
        _mm256_cmpgt_epi32(_mm256_add_epi32(hvd1, hvd1), _mm256_add_epi32(_mm256_slli_epi32(hvd0, 3), hvd0));
    __m256i const weak = _mm256_cmpgt_epi32(hvd1, _mm256_add_epi32(hvd0, hvd0));
    __m256i const dirS = _mm256_sub_epi32(_mm256_setzero_si256(), _mm256_add_epi32(strong, weak));
    __m256i act = _mm256_srl_epi32(_mm256_mullo_epi32(_mm256_add_epi32(sH, sV), ac), actShift);
    act = _mm256_min_epi32(act, _mm256_set1_epi32(15));
    __m256i const actLo = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(kAlfActivityTable));
    __m256i const actHi = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(kAlfActivityTable + 8));
    __m256i filtIdx = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(actLo, act),
                                         _mm256_permutevar8x32_epi32(actHi, act),
                                         _mm256_cmpgt_epi32(act, _mm256_set1_epi32(7)));
    __m256i const dirClass =
        _mm256_add_epi32(_mm256_slli_epi32(_mm256_and_si256(dir1, _mm256_set1_epi32(1)), 1), dirS);
    __m256i const dirOffset = _mm256_add_epi32(_mm256_slli_epi32(dirClass, 2), dirClass);
    filtIdx = _mm256_add_epi32(filtIdx, _mm256_and_si256(dirOffset, weak));
    __m256i const trIdx = _mm256_add_epi32(_mm256_add_epi32(dir1, dir1), _mm256_srli_epi32(dir2, 1));
    __m256i const tr = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<__m256i const*>(kAlfTransposeTable)), trIdx);
    return _mm256_or_si256(filtIdx, _mm256_slli_epi32(tr, 8));
}

// Up to kStripBlocks block columns from src.
void classifyStrip(AlfClassifyArgs const& a, uint16_t const* src, AlfBlockClass* cls, int nbx)
{
    Classifier const rows(a, src);
    int const chunks = (nbx + 4) / 4; // groups 0..nbx
    alignas(32) int32_t groups[4][kStripGroups + 8] = {};
    PairSums carry[kStripChunks][2]; // per chunk: the pairs of the window's upper half
    __m256i const ones = _mm256_set1_epi16(1);
    __m128i const actShift = _mm_cvtsi32_si128(a.bitDepth + 4);
    for (int j = 0; j < a.blocksY; ++j) {
        bool const above = 4 * j == a.vbRow - 4, below = 4 * j == a.vbRow;
        for (int c = 0; c < chunks; ++c) {
            int const x = 16 * c - 2;
            if (j == 0) {
                carry[c][0] = rows.pair(-2, x);
                carry[c][1] = rows.pair(0, x);
            }
            PairSums const p2 = rows.pair(4 * j + 2, x), p3 = rows.pair(4 * j + 4, x);
            __m256i sums[4];
            for (int d = 0; d < 4; ++d) {
                __m256i w = below ? carry[c][1].d[d] : _mm256_add_epi16(carry[c][0].d[d], carry[c][1].d[d]);
                w = _mm256_add_epi16(w, p2.d[d]);
                if (!above)
                    w = _mm256_add_epi16(w, p3.d[d]);
                sums[d] = _mm256_madd_epi16(w, ones); // column pairs
            }
            // 4-column groups, then [group 0..3 of one direction | of the other].
            __m256i const order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
            __m256i const hv = _mm256_permutevar8x32_epi32(_mm256_hadd_epi32(sums[0], sums[1]), order);
            __m256i const dd = _mm256_permutevar8x32_epi32(_mm256_hadd_epi32(sums[2], sums[3]), order);
            _mm_store_si128(reinterpret_cast<__m128i*>(groups[0] + 4 * c), _mm256_castsi256_si128(hv));
            _mm_store_si128(reinterpret_cast<__m128i*>(groups[1] + 4 * c), _mm256_extracti128_si256(hv, 1));
            _mm_store_si128(reinterpret_cast<__m128i*>(groups[2] + 4 * c), _mm256_castsi256_si128(dd));
            _mm_store_si128(reinterpret_cast<__m128i*>(groups[3] + 4 * c), _mm256_extracti128_si256(dd, 1));
            carry[c][0] = p2;
            carry[c][1] = p3;
        }
        __m256i const ac = _mm256_set1_epi32(above || below ? 96 : 64);
        AlfBlockClass* out = cls + ptrdiff_t(j) * a.clsStride;
        for (int m = 0; m < nbx; m += 8) {
            __m256i s[4];
            for (int d = 0; d < 4; ++d)
                s[d] = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<__m256i const*>(groups[d] + m)),
                                        _mm256_loadu_si256(reinterpret_cast<__m256i const*>(groups[d] + m + 1)));
            __m256i const k = classesOf(s[0], s[1], s[2], s[3], ac, actShift);
            __m128i const packed =
                _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi32(k, k), 0x08));
            if (m + 8 <= nbx) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + m), packed);
            } else {
                alignas(16) uint16_t tmp[8];
                _mm_store_si128(reinterpret_cast<__m128i*>(tmp), packed);
                std::memcpy(out + m, tmp, size_t(nbx - m) * sizeof(AlfBlockClass));
            }
        }
    }
}

} // namespace

void AlfClassifyAvx2(AlfClassifyArgs const& a)
{
    if (a.bitDepth > 12) {
        AlfPortableKernels().classify(a);
        return;
    }
    for (int bx = 0; bx < a.blocksX; bx += kStripBlocks)
        classifyStrip(a, a.src + 4 * bx, a.cls + bx, a.blocksX - bx < kStripBlocks ? a.blocksX - bx : kStripBlocks);
}

// Luma diamond with AVX2 intrinsics, 16 columns (4 blocks) at a time, up to 12 bits per sample
// (wider goes to the portable kernel). The clipped differences are 16-bit; the taps are summed in
// pairs by multiply-add against the two coefficients of each block, interleaved as the unpacked
// differences are (columns 0-3 and 8-11 in the low half, 4-7 and 12-15 in the high one), and the
// saturating pack of the two halves puts the columns back in order. Where the pack (or the
// addition of the current sample) saturates, the result lies outside the sample range either way
// and the clamp gives the same sample.

namespace {

// Two coefficients as the 16-bit pair a multiply-add takes them in (first in the low half).
inline int coeffPair(int first, int second)
{
    return int(uint32_t(uint16_t(first)) | (uint32_t(uint16_t(second)) << 16));
}

// A 16-bit lane pattern: v in all four lanes of a 64-bit element.
inline long long repeat4(int v)
{
    return (long long)(uint16_t(v)) * 0x0001000100010001LL;
}

inline __m256i clipDiff(__m256i v, __m256i cur, __m256i lo, __m256i hi)
{
    return _mm256_min_epi16(_mm256_max_epi16(_mm256_sub_epi16(v, cur), lo), hi);
}

// One tap of a diamond: the clipped differences of its two samples to the current one, added.
inline __m256i clipPair(uint16_t const* s0, uint16_t const* s1, __m256i cur, __m256i lo, __m256i hi)
{
    return _mm256_add_epi16(clipDiff(load16(s0), cur, lo, hi), clipDiff(load16(s1), cur, lo, hi));
}

// The filtered samples from the taps d[0 .. 2 pairs): tap pairs weighted by the coefficient pairs
// (coeffLo for columns 0-3 and 8-11, coeffHi for 4-7 and 12-15), rounded and shifted, added to the
// current samples and clamped to [0, maxVal].
inline __m256i diamondResult(__m256i const* d, __m256i const* coeffLo, __m256i const* coeffHi, int pairs,
                             int shift, __m256i cur, __m256i maxVal)
{
    __m256i sumLo = _mm256_set1_epi32(1 << (shift - 1)), sumHi = sumLo;
    for (int i = 0; i < pairs; ++i) {
        __m256i const lo = _mm256_unpacklo_epi16(d[2 * i], d[2 * i + 1]);
        __m256i const hi = _mm256_unpackhi_epi16(d[2 * i], d[2 * i + 1]);
        sumLo = _mm256_add_epi32(sumLo, _mm256_madd_epi16(lo, coeffLo[i]));
        sumHi = _mm256_add_epi32(sumHi, _mm256_madd_epi16(hi, coeffHi[i]));
    }
    __m128i const n = _mm_cvtsi32_si128(shift);
    __m256i const delta = _mm256_packs_epi32(_mm256_sra_epi32(sumLo, n), _mm256_sra_epi32(sumHi, n));
    return _mm256_min_epi16(_mm256_max_epi16(_mm256_adds_epi16(cur, delta), _mm256_setzero_si256()), maxVal);
}

// Stores the first n (> 0) of the 16 samples of v.
inline void store16(uint16_t* dst, __m256i v, int n)
{
    if (n >= 16) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), v);
        return;
    }
    alignas(32) uint16_t tmp[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(tmp), v);
    std::memcpy(dst, tmp, size_t(n) * sizeof(uint16_t));
}

} // namespace

namespace {

struct LumaChunk
{
    __m256i clipLo[12], clipHi[12], coeffLo[6], coeffHi[6];
};

// The rows of one 16-column chunk. Without clipping (every clipping value at least the largest
// sample, so no difference reaches it) the clamps are left out.
template <bool kClip>
void lumaChunkRows(AlfLumaRowsArgs const& a, int x, LumaChunk const& k, __m256i maxVal)
{
    for (int r = 0; r < a.rows; ++r) {
        uint16_t const* const* p = a.src[r];
        uint16_t const* p0 = p[0] + x;
        uint16_t const *pU1 = p[1] + x, *pD1 = p[2] + x, *pU2 = p[3] + x, *pD2 = p[4] + x, *pU3 = p[5] + x,
                       *pD3 = p[6] + x;
        __m256i const cur = load16(p0);
        auto tap = [&](int j, uint16_t const* s0, uint16_t const* s1) {
            if (kClip)
                return clipPair(s0, s1, cur, k.clipLo[j], k.clipHi[j]);
            return _mm256_add_epi16(_mm256_sub_epi16(load16(s0), cur), _mm256_sub_epi16(load16(s1), cur));
        };
        __m256i const d[12] = {
            tap(0, pD3, pU3),         tap(1, pD2 + 1, pU2 - 1), tap(2, pD2, pU2),         tap(3, pD2 - 1, pU2 + 1),
            tap(4, pD1 + 2, pU1 - 2), tap(5, pD1 + 1, pU1 - 1), tap(6, pD1, pU1),         tap(7, pD1 - 1, pU1 + 1),
            tap(8, pD1 - 2, pU1 + 2), tap(9, p0 + 3, p0 - 3),   tap(10, p0 + 2, p0 - 2), tap(11, p0 + 1, p0 - 1),
        };
        store16(a.dst[r] + x, diamondResult(d, k.coeffLo, k.coeffHi, 6, a.shift[r], cur, maxVal), a.width - x);
    }
}

} // namespace

void AlfLumaRowsAvx2(AlfLumaRowsArgs const& a)
{
    if (a.maxVal > 4095) {
        AlfPortableKernels().lumaRows(a);
        return;
    }
    int const nb = (a.width + 3) / 4;
    __m256i const zero = _mm256_setzero_si256(), maxVal = _mm256_set1_epi16(short(a.maxVal));
    LumaChunk k;
    for (int x = 0; x < a.width; x += 16) {
        // The taps of this chunk's blocks (the last block repeated past the end).
        AlfLumaBlockTaps const* t[4];
        for (int b = 0; b < 4; ++b)
            t[b] = a.taps + (x / 4 + b < nb ? x / 4 + b : nb - 1);
        bool clips = false;
        for (int j = 0; j < 12; ++j) {
            for (int b = 0; b < 4; ++b)
                clips = clips || t[b]->clip[j] < a.maxVal;
            k.clipHi[j] = _mm256_setr_epi64x(repeat4(t[0]->clip[j]), repeat4(t[1]->clip[j]), repeat4(t[2]->clip[j]),
                                             repeat4(t[3]->clip[j]));
            k.clipLo[j] = _mm256_sub_epi16(zero, k.clipHi[j]);
        }
        for (int i = 0; i < 6; ++i) {
            int w[4];
            for (int b = 0; b < 4; ++b)
                w[b] = coeffPair(t[b]->coeff[2 * i], t[b]->coeff[2 * i + 1]);
            k.coeffLo[i] = _mm256_setr_epi32(w[0], w[0], w[0], w[0], w[2], w[2], w[2], w[2]);
            k.coeffHi[i] = _mm256_setr_epi32(w[1], w[1], w[1], w[1], w[3], w[3], w[3], w[3]);
        }
        if (clips)
            lumaChunkRows<true>(a, x, k, maxVal);
        else
            lumaChunkRows<false>(a, x, k, maxVal);
    }
}

// Chroma diamond with AVX2 intrinsics, as the luma one with the same 6 taps in every column.
void AlfChromaRowAvx2(AlfChromaRowArgs const& a)
{
    if (a.maxVal > 4095) {
        alfChromaRowBody(a);
        return;
    }
    __m256i const zero = _mm256_setzero_si256(), maxVal = _mm256_set1_epi16(short(a.maxVal));
    __m256i clipHi[6], clipLo[6], coeff[3];
    for (int j = 0; j < 6; ++j) {
        clipHi[j] = _mm256_set1_epi16(short(a.clip[j]));
        clipLo[j] = _mm256_sub_epi16(zero, clipHi[j]);
    }
    for (int i = 0; i < 3; ++i)
        coeff[i] = _mm256_set1_epi32(coeffPair(a.coeff[2 * i], a.coeff[2 * i + 1]));
    uint16_t const *p0 = a.rows[0], *pU1 = a.rows[1], *pD1 = a.rows[2], *pU2 = a.rows[3], *pD2 = a.rows[4];
    for (int x = 0; x < a.width; x += 16) {
        __m256i const cur = load16(p0 + x);
        auto tap = [&](int j, uint16_t const* s0, uint16_t const* s1) {
            return clipPair(s0, s1, cur, clipLo[j], clipHi[j]);
        };
        __m256i const d[6] = {
            tap(0, pD2 + x, pU2 + x),         tap(1, pD1 + x + 1, pU1 + x - 1), tap(2, pD1 + x, pU1 + x),
            tap(3, pD1 + x - 1, pU1 + x + 1), tap(4, p0 + x + 2, p0 + x - 2),   tap(5, p0 + x + 1, p0 + x - 1),
        };
        store16(a.dst + x, diamondResult(d, coeff, coeff, 3, a.shift, cur, maxVal), a.width - x);
    }
}

namespace {

// The luma samples p[0], p[2], .. p[30] (even) and p[1], p[3], .. p[31] (odd), in order.
struct EvenOdd
{
    __m256i even, odd;
};

inline EvenOdd split(uint16_t const* p)
{
    __m256i const a = load16(p), b = load16(p + 16), low = _mm256_set1_epi32(0xffff);
    EvenOdd r;
    r.even = _mm256_permute4x64_epi64(_mm256_packus_epi32(_mm256_and_si256(a, low), _mm256_and_si256(b, low)), 0xd8);
    r.odd = _mm256_permute4x64_epi64(_mm256_packus_epi32(_mm256_srli_epi32(a, 16), _mm256_srli_epi32(b, 16)), 0xd8);
    return r;
}

} // namespace

// Cross-component row with AVX2 intrinsics, 16 chroma samples at a time from 32 luma columns, as
// the diamonds (16-bit differences, tap pairs by multiply-add); up to 12 bits per sample. The
// columns short of a whole vector go to the shared row body.
void AlfCcRowAvx2(CcAlfRowArgs const& a)
{
    int x = 0;
    if (a.bitDepth <= 12) {
        __m256i const coeff[4] = {
            _mm256_set1_epi32(coeffPair(a.coeff[0], a.coeff[1])),
            _mm256_set1_epi32(coeffPair(a.coeff[2], a.coeff[3])),
            _mm256_set1_epi32(coeffPair(a.coeff[4], a.coeff[5])),
            _mm256_set1_epi32(coeffPair(a.coeff[6], 0)),
        };
        __m256i const zero = _mm256_setzero_si256(), maxVal = _mm256_set1_epi16(short((1 << a.bitDepth) - 1));
        __m256i const lo = _mm256_set1_epi32(-(1 << (a.bitDepth - 1)));
        __m256i const hi = _mm256_set1_epi32((1 << (a.bitDepth - 1)) - 1);
        __m256i const round = _mm256_set1_epi32(64);
        for (; x + 16 <= a.width; x += 16) {
            int const xL = 2 * x;
            EvenOdd const r0 = split(a.luma[0] + xL), r0m = split(a.luma[0] + xL - 2);
            EvenOdd const p1 = split(a.luma[2] + xL), p1m = split(a.luma[2] + xL - 2);
            __m256i const c = r0.even;
            __m256i const d[8] = {
                _mm256_sub_epi16(split(a.luma[1] + xL).even, c), _mm256_sub_epi16(r0m.odd, c),
                _mm256_sub_epi16(r0.odd, c),                     _mm256_sub_epi16(p1m.odd, c),
                _mm256_sub_epi16(p1.even, c),                    _mm256_sub_epi16(p1.odd, c),
                _mm256_sub_epi16(split(a.luma[3] + xL).even, c), zero,
            };
            __m256i sumLo = round, sumHi = round;
            for (int i = 0; i < 4; ++i) {
                __m256i const l = _mm256_unpacklo_epi16(d[2 * i], d[2 * i + 1]);
                __m256i const h = _mm256_unpackhi_epi16(d[2 * i], d[2 * i + 1]);
                sumLo = _mm256_add_epi32(sumLo, _mm256_madd_epi16(l, coeff[i]));
                sumHi = _mm256_add_epi32(sumHi, _mm256_madd_epi16(h, coeff[i]));
            }
            sumLo = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(sumLo, 7), lo), hi);
            sumHi = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(sumHi, 7), lo), hi);
            __m256i const v = _mm256_add_epi16(load16(a.dst + x), _mm256_packs_epi32(sumLo, sumHi));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(a.dst + x),
                                _mm256_min_epi16(_mm256_max_epi16(v, zero), maxVal));
        }
    }
    if (x < a.width) {
        CcAlfRowArgs rest = a;
        for (auto& l : rest.luma)
            l += 2 * x;
        rest.dst += x;
        rest.width -= x;
        alfCcRowBody(rest);
    }
}
