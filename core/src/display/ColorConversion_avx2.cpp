// 8-bit YUV to 32-bit pixels with AVX2, sixteen pixels per step. Samples are clamped to 0..255
// and every step is exact integer arithmetic, so each pixel gets the scalar kernel's bytes.
// x86 only: the build leaves this unit out on other processors.
#include "display/ColorConversion_avx2.h"

#if !defined(__x86_64__) && !defined(__i386__)
#error "ColorConversion_avx2.cpp is x86 code; build it on x86 only"
#endif

#include <immintrin.h>

namespace {

inline unsigned char Clip8(int v)
{
    return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline int Sample8(short v)
{
    unsigned const u = static_cast<unsigned short>(v);
    return static_cast<int>(u < 255u ? u : 255u);
}

inline void Pixel(int y, int u, int v, int const* c, unsigned char* o)
{
    int const ys = y * 256;
    int const up = u - 128;
    int const vp = v - 128;
    o[0] = Clip8((ys + c[3] * up + 128) >> 8);
    o[1] = Clip8((ys - c[2] * up - c[1] * vp + 128) >> 8);
    o[2] = Clip8((ys + c[0] * vp + 128) >> 8);
    o[3] = 255;
}

// Sixteen samples clamped to 0..255.
inline __m256i Load16(short const* p)
{
    return _mm256_min_epu16(_mm256_loadu_si256(reinterpret_cast<__m256i const*>(p)), _mm256_set1_epi16(255));
}

// Eight samples clamped to 0..255, each repeated once, as sixteen lanes.
inline __m256i Load8Twice(short const* p)
{
    __m128i const c = _mm_min_epu16(_mm_loadu_si128(reinterpret_cast<__m128i const*>(p)), _mm_set1_epi16(255));
    return _mm256_set_m128i(_mm_unpackhi_epi16(c, c), _mm_unpacklo_epi16(c, c));
}

inline __m256i Pair(int lo, int hi)
{
    return _mm256_set1_epi32(
        static_cast<int>((static_cast<unsigned>(hi) << 16) | (static_cast<unsigned>(lo) & 0xffff)));
}
struct Constants
{
    __m256i cR, cB, kG, round, mid, alpha;
};

// Chroma terms of sixteen U', V' lanes: (c * V' + 128) >> 8 as one mulhrs of V' * 128 and c; the
// two green products are summed exactly in 32 bits before their shift.
inline void ChromaTerms(__m256i u, __m256i v, Constants const& k, __m256i& dR, __m256i& dG, __m256i& dB)
{
    u = _mm256_sub_epi16(u, k.mid);
    v = _mm256_sub_epi16(v, k.mid);
    dR = _mm256_mulhrs_epi16(_mm256_slli_epi16(v, 7), k.cR);
    dB = _mm256_mulhrs_epi16(_mm256_slli_epi16(u, 7), k.cB);
    __m256i const lo =
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(u, v), k.kG), k.round), 8);
    __m256i const hi =
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(u, v), k.kG), k.round), 8);
    dG = _mm256_packs_epi32(lo, hi);
}

// Sixteen pixels from Y and their chroma terms. With Y * 256 a multiple of 256,
// (Y * 256 + t + 128) >> 8 = Y + ((t + 128) >> 8).
inline void Emit(__m256i y, __m256i dR, __m256i dG, __m256i dB, Constants const& k, unsigned char* o)
{
    // Saturating packs clip to 0..255: per 128-bit lane [B0-7 R0-7] and [G0-7 A0-7].
    __m256i const br = _mm256_packus_epi16(_mm256_add_epi16(y, dB), _mm256_add_epi16(y, dR));
    __m256i const ga = _mm256_packus_epi16(_mm256_add_epi16(y, dG), k.alpha);
    __m256i const bg = _mm256_unpacklo_epi8(br, ga);  // B G pairs of pixels 0-7 | 8-15
    __m256i const ra = _mm256_unpackhi_epi8(br, ga);  // R A pairs
    __m256i const p0 = _mm256_unpacklo_epi16(bg, ra); // pixels 0-3 | 8-11
    __m256i const p1 = _mm256_unpackhi_epi16(bg, ra); // pixels 4-7 | 12-15
    __m256i* dst = reinterpret_cast<__m256i*>(o);
    _mm256_storeu_si256(dst, _mm256_permute2x128_si256(p0, p1, 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(p0, p1, 0x31));
}

// Lanes 0-15 of d each twice: lanes 0-7 into `first`, 8-15 into `second`.
inline void Twice(__m256i d, __m256i& first, __m256i& second)
{
    __m256i const lo = _mm256_unpacklo_epi16(d, d);
    __m256i const hi = _mm256_unpackhi_epi16(d, d);
    first = _mm256_permute2x128_si256(lo, hi, 0x20);
    second = _mm256_permute2x128_si256(lo, hi, 0x31);
}

void Row(ColorKernelArgs const& a, Constants const& k, short const* yr, short const* ur, short const* vr,
         unsigned char* o)
{
    unsigned const w = a.width;
    unsigned x = 0;
    __m256i dR, dG, dB;
    if (a.chromaShiftX) {
        // 32 pixels share 16 chroma samples.
        for (; x + 32 <= w; x += 32) {
            ChromaTerms(Load16(ur + (x >> 1)), Load16(vr + (x >> 1)), k, dR, dG, dB);
            __m256i r0, r1, g0, g1, b0, b1;
            Twice(dR, r0, r1);
            Twice(dG, g0, g1);
            Twice(dB, b0, b1);
            Emit(Load16(yr + x), r0, g0, b0, k, o + 4 * x);
            Emit(Load16(yr + x + 16), r1, g1, b1, k, o + 4 * x + 64);
        }
        for (; x + 16 <= w; x += 16) {
            ChromaTerms(Load8Twice(ur + (x >> 1)), Load8Twice(vr + (x >> 1)), k, dR, dG, dB);
            Emit(Load16(yr + x), dR, dG, dB, k, o + 4 * x);
        }
    } else {
        for (; x + 16 <= w; x += 16) {
            ChromaTerms(Load16(ur + x), Load16(vr + x), k, dR, dG, dB);
            Emit(Load16(yr + x), dR, dG, dB, k, o + 4 * x);
        }
    }
    for (; x < w; ++x) {
        unsigned const cx = x >> a.chromaShiftX;
        Pixel(Sample8(yr[x]), Sample8(ur[cx]), Sample8(vr[cx]), a.coef, o + 4 * x);
    }
}

} // namespace

void ConvertRgb8Avx2(ColorKernelArgs const& a)
{
    Constants k;
    k.cR = _mm256_set1_epi16(static_cast<short>(a.coef[0]));
    k.cB = _mm256_set1_epi16(static_cast<short>(a.coef[3]));
    k.kG = Pair(-a.coef[2], -a.coef[1]); // U', V'
    k.round = _mm256_set1_epi32(128);
    k.mid = _mm256_set1_epi16(128);
    k.alpha = _mm256_set1_epi16(255);
    for (unsigned j = 0; j < a.height; ++j) {
        short const* yr = a.y + static_cast<int64_t>(j) * a.yStride;
        int64_t const cj = static_cast<int64_t>(j >> a.chromaShiftY) * a.cStride;
        Row(a, k, yr, a.u + cj, a.v + cj, a.out + static_cast<int64_t>(j) * a.outStride);
    }
}
