// The ALF kernels built with AVX2 (this file only is compiled with -mavx2 on x86): the row filters
// from the shared body, the classification written with intrinsics.

#include "loopfilter/AlfKernelBody.h"

void AlfLumaRowAvx2(AlfLumaRowArgs const& a)
{
    alfLumaRowBody(a);
}

void AlfChromaRowAvx2(AlfChromaRowArgs const& a)
{
    alfChromaRowBody(a);
}

void AlfCcRowAvx2(CcAlfRowArgs const& a)
{
    alfCcRowBody(a);
}

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
