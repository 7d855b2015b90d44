// 8-bit YUV to 32-bit pixels with AVX2: eight pixels per step in 32-bit lanes, so the arithmetic
// is the scalar kernel's, lane by lane, and the bytes are the same.
#include "ColorConversion_avx.h"

#include <immintrin.h>

namespace {

inline unsigned char Clip8(int v)
{
    return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
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

inline __m256i Clamp(__m256i v)
{
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// Four chroma samples, each repeated once, as eight 32-bit lanes.
inline __m256i LoadHalf(short const* p)
{
    __m128i const c = _mm_loadl_epi64(reinterpret_cast<__m128i const*>(p));
    return _mm256_cvtepu16_epi32(_mm_unpacklo_epi16(c, c));
}

inline __m256i LoadFull(short const* p)
{
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<__m128i const*>(p)));
}

} // namespace

void ConvertRgb8Avx2(ColorKernelArgs const& a)
{
    __m256i const cR = _mm256_set1_epi32(a.coef[0]);
    __m256i const cGv = _mm256_set1_epi32(a.coef[1]);
    __m256i const cGu = _mm256_set1_epi32(a.coef[2]);
    __m256i const cB = _mm256_set1_epi32(a.coef[3]);
    __m256i const half = _mm256_set1_epi32(128);
    __m256i const alpha = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    unsigned const w = a.width;
    for (unsigned j = 0; j < a.height; ++j) {
        short const* yr = a.y + static_cast<int64_t>(j) * a.yStride;
        int64_t const cj = static_cast<int64_t>(j >> a.chromaShiftY) * a.cStride;
        short const* ur = a.u + cj;
        short const* vr = a.v + cj;
        unsigned char* o = a.out + static_cast<int64_t>(j) * a.outStride;
        unsigned x = 0;
        for (; x + 8 <= w; x += 8) {
            __m256i const y = _mm256_slli_epi32(LoadFull(yr + x), 8);
            __m256i u, v;
            if (a.chromaShiftX) {
                u = LoadHalf(ur + (x >> 1));
                v = LoadHalf(vr + (x >> 1));
            } else {
                u = LoadFull(ur + x);
                v = LoadFull(vr + x);
            }
            u = _mm256_sub_epi32(u, half);
            v = _mm256_sub_epi32(v, half);
            __m256i const r = _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(y, _mm256_mullo_epi32(cR, v)), half), 8);
            __m256i const g = _mm256_srai_epi32(
                _mm256_add_epi32(_mm256_sub_epi32(_mm256_sub_epi32(y, _mm256_mullo_epi32(cGu, u)),
                                                  _mm256_mullo_epi32(cGv, v)),
                                 half),
                8);
            __m256i const b = _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(y, _mm256_mullo_epi32(cB, u)), half), 8);
            __m256i px = _mm256_or_si256(Clamp(b), _mm256_slli_epi32(Clamp(g), 8));
            px = _mm256_or_si256(px, _mm256_slli_epi32(Clamp(r), 16));
            px = _mm256_or_si256(px, alpha);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 4 * x), px);
        }
        for (; x < w; ++x) {
            unsigned const cx = x >> a.chromaShiftX;
            Pixel(static_cast<unsigned short>(yr[x]), static_cast<unsigned short>(ur[cx]),
                  static_cast<unsigned short>(vr[cx]), a.coef, o + 4 * x);
        }
    }
}
