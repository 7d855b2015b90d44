// The 4-line luma filters built with AVX2 (this file only is compiled with -mavx2 on x86): the
// four lines lie in the four 32-bit lanes of a vector, one vector per sample position across the
// edge. Vertical edges (o == 1) transpose rows into such vectors and back; horizontal edges
// (lineStep == 1) load them directly. Any other layout goes to the portable kernels.

#include "loopfilter/Deblock.h"

#include <algorithm>
#include <immintrin.h>

namespace vvcdeblock {

extern int const kLongFilterCoef[3][7];
extern int const kLongFilterClip[3][7];

namespace {

// v[i]: sample base[i * o] of lines 0..3. Horizontal edges read only v[from..to) (the others 0).
inline __attribute__((always_inline)) void Load8(uint16_t const* base, ptrdiff_t o, ptrdiff_t lineStep, __m128i v[8],
                                                 int from = 0, int to = 8)
{
    if (o == 1) {
        __m128i const r0 = _mm_loadu_si128(reinterpret_cast<__m128i const*>(base));
        __m128i const r1 = _mm_loadu_si128(reinterpret_cast<__m128i const*>(base + lineStep));
        __m128i const r2 = _mm_loadu_si128(reinterpret_cast<__m128i const*>(base + 2 * lineStep));
        __m128i const r3 = _mm_loadu_si128(reinterpret_cast<__m128i const*>(base + 3 * lineStep));
        __m128i const t0 = _mm_unpacklo_epi16(r0, r1), t1 = _mm_unpackhi_epi16(r0, r1);
        __m128i const t2 = _mm_unpacklo_epi16(r2, r3), t3 = _mm_unpackhi_epi16(r2, r3);
        __m128i const u[4] = {_mm_unpacklo_epi32(t0, t2), _mm_unpackhi_epi32(t0, t2), _mm_unpacklo_epi32(t1, t3),
                              _mm_unpackhi_epi32(t1, t3)}; // samples 2j and 2j + 1 of the 4 lines
        for (int j = 0; j < 4; ++j) {
            v[2 * j] = _mm_cvtepu16_epi32(u[j]);
            v[2 * j + 1] = _mm_cvtepu16_epi32(_mm_srli_si128(u[j], 8));
        }
    } else {
        for (int i = 0; i < 8; ++i)
            v[i] = i < from || i >= to
                       ? _mm_setzero_si128()
                       : _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<__m128i const*>(base + i * o)));
    }
}

// Writes v[from..to) back (vertical edges: all 8 samples of each line, the others unchanged).
inline __attribute__((always_inline)) void Store8(uint16_t* base, ptrdiff_t o, ptrdiff_t lineStep, __m128i const v[8],
                                                  int from, int to)
{
    if (o == 1) {
        __m128i w[4]; // samples 2j, 2j + 1 of line r in 32-bit lane r
        for (int j = 0; j < 4; ++j) {
            __m128i const u = _mm_packus_epi32(v[2 * j], v[2 * j + 1]);
            w[j] = _mm_unpacklo_epi16(u, _mm_srli_si128(u, 8));
        }
        __m128i const a0 = _mm_unpacklo_epi32(w[0], w[1]), a1 = _mm_unpackhi_epi32(w[0], w[1]);
        __m128i const b0 = _mm_unpacklo_epi32(w[2], w[3]), b1 = _mm_unpackhi_epi32(w[2], w[3]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(base), _mm_unpacklo_epi64(a0, b0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(base + lineStep), _mm_unpackhi_epi64(a0, b0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(base + 2 * lineStep), _mm_unpacklo_epi64(a1, b1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(base + 3 * lineStep), _mm_unpackhi_epi64(a1, b1));
    } else {
        for (int i = from; i < to; ++i)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(base + i * o), _mm_packus_epi32(v[i], v[i]));
    }
}

inline __m128i Add(__m128i a, __m128i b)
{
    return _mm_add_epi32(a, b);
}
inline __m128i Twice(__m128i a)
{
    return _mm_slli_epi32(a, 1);
}
inline __m128i Set(int v)
{
    return _mm_set1_epi32(v);
}
// value clipped to [v - r, v + r]
inline __m128i ClipAround(__m128i v, __m128i r, __m128i value)
{
    return _mm_min_epi32(_mm_max_epi32(value, _mm_sub_epi32(v, r)), _mm_add_epi32(v, r));
}
inline __m128i Clamp(__m128i v, __m128i lo, __m128i hi)
{
    return _mm_min_epi32(_mm_max_epi32(v, lo), hi);
}

} // namespace

void LumaShort4Avx2(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, LumaShortFilter const& f)
{
    if (o != 1 && lineStep != 1) {
        DeblockPortableKernels().lumaShort4(first, o, lineStep, f);
        return;
    }
    uint16_t* const base = first - 4 * o;
    __m128i s[8]; // p3 p2 p1 p0 q0 q1 q2 q3
    Load8(base, o, lineStep, s);
    __m128i const p3 = s[0], p2 = s[1], p1 = s[2], p0 = s[3], q0 = s[4], q1 = s[5], q2 = s[6], q3 = s[7];
    if (f.strong) {
        __m128i const tc = Set(f.tc), tc2 = Set(2 * f.tc), tc3 = Set(3 * f.tc), four = Set(4), two = Set(2);
        __m128i const p0q0 = Add(p0, q0);
        if (f.writeP) {
            s[3] = ClipAround(p0, tc3, _mm_srai_epi32(Add(Add(Add(p2, Twice(Add(p1, p0q0))), q1), four), 3));
            s[2] = ClipAround(p1, tc2, _mm_srai_epi32(Add(Add(Add(p2, p1), p0q0), two), 2));
            s[1] = ClipAround(p2, tc,
                              _mm_srai_epi32(Add(Add(Add(Twice(p3), Add(Twice(p2), p2)), Add(p1, p0q0)), four), 3));
        }
        if (f.writeQ) {
            s[4] = ClipAround(q0, tc3, _mm_srai_epi32(Add(Add(Add(p1, Twice(Add(q1, p0q0))), q2), four), 3));
            s[5] = ClipAround(q1, tc2, _mm_srai_epi32(Add(Add(Add(q2, q1), p0q0), two), 2));
            s[6] = ClipAround(q2, tc,
                              _mm_srai_epi32(Add(Add(Add(Twice(q3), Add(Twice(q2), q2)), Add(q1, p0q0)), four), 3));
        }
        Store8(base, o, lineStep, s, f.writeP ? 1 : 4, f.writeQ ? 7 : 4);
        return;
    }
    // delta = (9 (q0 - p0) - 3 (q1 - p1) + 8) >> 4, applied where |delta| < 10 tc
    __m128i const d0 = _mm_sub_epi32(q0, p0), d1 = _mm_sub_epi32(q1, p1);
    __m128i delta = _mm_sub_epi32(Add(_mm_slli_epi32(d0, 3), d0), Add(Twice(d1), d1));
    delta = _mm_srai_epi32(Add(delta, Set(8)), 4);
    __m128i const on = _mm_cmpgt_epi32(Set(f.tc * 10), _mm_abs_epi32(delta));
    if (_mm_movemask_epi8(on) == 0)
        return;
    delta = Clamp(delta, Set(-f.tc), Set(f.tc));
    __m128i const zero = _mm_setzero_si128(), maxVal = Set(f.maxVal), one = Set(1);
    __m128i const half = Set(f.tc >> 1), minusHalf = Set(-(f.tc >> 1));
    if (f.writeP) {
        s[3] = _mm_blendv_epi8(p0, Clamp(Add(p0, delta), zero, maxVal), on);
        if (f.filterP1) {
            __m128i const t =
                _mm_srai_epi32(Add(_mm_sub_epi32(_mm_srai_epi32(Add(Add(p2, p0), one), 1), p1), delta), 1);
            s[2] = _mm_blendv_epi8(p1, Clamp(Add(p1, Clamp(t, minusHalf, half)), zero, maxVal), on);
        }
    }
    if (f.writeQ) {
        s[4] = _mm_blendv_epi8(q0, Clamp(_mm_sub_epi32(q0, delta), zero, maxVal), on);
        if (f.filterQ1) {
            __m128i const t =
                _mm_srai_epi32(_mm_sub_epi32(_mm_sub_epi32(_mm_srai_epi32(Add(Add(q2, q0), one), 1), q1), delta), 1);
            s[5] = _mm_blendv_epi8(q1, Clamp(Add(q1, Clamp(t, minusHalf, half)), zero, maxVal), on);
        }
    }
    Store8(base, o, lineStep, s, f.writeP ? (f.filterP1 ? 2 : 3) : 4, f.writeQ ? (f.filterQ1 ? 6 : 5) : 4);
}

void LumaLong4Avx2(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, LumaLongFilter const& f)
{
    if (o != 1 && lineStep != 1) {
        DeblockPortableKernels().lumaLong4(first, o, lineStep, f);
        return;
    }
    int const lenP = f.lenP, lenQ = f.lenQ;
    __m128i pb[8], q[8], p[8]; // pb: p7..p0 as they lie in the picture
    // On a horizontal CTB row edge the upper side may be 3 long: no row above p3 is read then.
    Load8(first - 8 * o, o, lineStep, pb, 7 - lenP, 8);
    Load8(first, o, lineStep, q, 0, lenQ + 1);
    for (int i = 0; i < 8; ++i)
        p[i] = pb[7 - i];

    __m128i mid;
    if (lenP == 5 && lenQ == 5) {
        mid = Add(Twice(Add(Add(Add(p[0], q[0]), Add(p[1], q[1])), Add(p[2], q[2]))),
                  Add(Add(p[3], q[3]), Add(p[4], q[4])));
        mid = _mm_srai_epi32(Add(mid, Set(8)), 4);
    } else if (lenP == 7 && lenQ == 7) {
        mid = Twice(Add(p[0], q[0]));
        for (int i = 1; i < 7; ++i)
            mid = Add(mid, Add(p[i], q[i]));
        mid = _mm_srai_epi32(Add(mid, Set(8)), 4);
    } else if (std::min(lenP, lenQ) == 5) { // 7 and 5
        mid = Twice(Add(Add(p[0], q[0]), Add(p[1], q[1])));
        for (int i = 2; i < 6; ++i)
            mid = Add(mid, Add(p[i], q[i]));
        mid = _mm_srai_epi32(Add(mid, Set(8)), 4);
    } else if (std::max(lenP, lenQ) == 7) { // 7 and 3: the long side is weighted towards the edge
        __m128i const* a = lenP == 7 ? p : q;
        __m128i const* b = lenP == 7 ? q : p;
        __m128i const b01 = Add(b[0], b[1]);
        mid = Add(Add(Twice(a[0]), Add(Twice(b01), b01)), Add(Twice(b[2]), a[1]));
        for (int i = 2; i < 7; ++i)
            mid = Add(mid, a[i]);
        mid = _mm_srai_epi32(Add(mid, Set(8)), 4);
    } else { // 5 and 3
        mid = Add(p[0], q[0]);
        for (int i = 1; i < 4; ++i)
            mid = Add(mid, Add(p[i], q[i]));
        mid = _mm_srai_epi32(Add(mid, Set(4)), 3);
    }

    // Sample i of a side of length len: (mid f + ref (64 - f) + 32) >> 6 = (ref 64 + (mid - ref) f + 32) >> 6.
    auto side = [&](__m128i* v, int len) {
        int const* coef = kLongFilterCoef[(len - 3) / 2];
        int const* clip = kLongFilterClip[(len - 3) / 2];
        __m128i const ref = _mm_srai_epi32(Add(Add(v[len - 1], v[len]), Set(1)), 1);
        __m128i const diff = _mm_sub_epi32(mid, ref), ref64 = Add(_mm_slli_epi32(ref, 6), Set(32));
        for (int i = 0; i < len; ++i) {
            __m128i const value = _mm_srai_epi32(Add(ref64, _mm_mullo_epi32(diff, Set(coef[i]))), 6);
            v[i] = ClipAround(v[i], Set((f.tc * clip[i]) >> 1), value);
        }
    };
    if (f.writeP) {
        side(p, lenP);
        for (int i = 0; i < 8; ++i)
            pb[7 - i] = p[i];
        Store8(first - 8 * o, o, lineStep, pb, 8 - lenP, 8);
    }
    if (f.writeQ) {
        side(q, lenQ);
        Store8(first, o, lineStep, q, 0, lenQ);
    }
}

} // namespace vvcdeblock
