#pragma once

// Body of the ALF row kernels, included by the portable and the AVX2 translation unit. Everything
// here has internal linkage and uses no library templates, so no AVX2 code can be shared with the
// portable build by the linker.

#include "loopfilter/AlfKernels.h"

namespace {

inline int alfClipDiff(int v, int cur, int c)
{
    int const d = v - cur;
    return d < -c ? -c : (d > c ? c : d);
}

inline int alfClamp(int v, int maxVal)
{
    return v < 0 ? 0 : (v > maxVal ? maxVal : v);
}

void alfLumaRowBody(AlfLumaRowArgs const& a)
{
    uint16_t const* __restrict p0 = a.rows[0];
    uint16_t const* __restrict pU1 = a.rows[1];
    uint16_t const* __restrict pD1 = a.rows[2];
    uint16_t const* __restrict pU2 = a.rows[3];
    uint16_t const* __restrict pD2 = a.rows[4];
    uint16_t const* __restrict pU3 = a.rows[5];
    uint16_t const* __restrict pD3 = a.rows[6];
    int32_t const* __restrict f0 = a.coeff[0];
    int32_t const* __restrict c0 = a.clip[0];
    int32_t const* __restrict f1 = a.coeff[1];
    int32_t const* __restrict c1 = a.clip[1];
    int32_t const* __restrict f2 = a.coeff[2];
    int32_t const* __restrict c2 = a.clip[2];
    int32_t const* __restrict f3 = a.coeff[3];
    int32_t const* __restrict c3 = a.clip[3];
    int32_t const* __restrict f4 = a.coeff[4];
    int32_t const* __restrict c4 = a.clip[4];
    int32_t const* __restrict f5 = a.coeff[5];
    int32_t const* __restrict c5 = a.clip[5];
    int32_t const* __restrict f6 = a.coeff[6];
    int32_t const* __restrict c6 = a.clip[6];
    int32_t const* __restrict f7 = a.coeff[7];
    int32_t const* __restrict c7 = a.clip[7];
    int32_t const* __restrict f8 = a.coeff[8];
    int32_t const* __restrict c8 = a.clip[8];
    int32_t const* __restrict f9 = a.coeff[9];
    int32_t const* __restrict c9 = a.clip[9];
    int32_t const* __restrict f10 = a.coeff[10];
    int32_t const* __restrict c10 = a.clip[10];
    int32_t const* __restrict f11 = a.coeff[11];
    int32_t const* __restrict c11 = a.clip[11];
    uint16_t* __restrict dst = a.dst;
    int const round = 1 << (a.shift - 1), shift = a.shift, maxVal = a.maxVal;
    for (int x = 0; x < a.width; ++x) {
        int const cur = p0[x];
        int sum = f0[x] * (alfClipDiff(pD3[x], cur, c0[x]) + alfClipDiff(pU3[x], cur, c0[x]));
        sum += f1[x] * (alfClipDiff(pD2[x + 1], cur, c1[x]) + alfClipDiff(pU2[x - 1], cur, c1[x]));
        sum += f2[x] * (alfClipDiff(pD2[x], cur, c2[x]) + alfClipDiff(pU2[x], cur, c2[x]));
        sum += f3[x] * (alfClipDiff(pD2[x - 1], cur, c3[x]) + alfClipDiff(pU2[x + 1], cur, c3[x]));
        sum += f4[x] * (alfClipDiff(pD1[x + 2], cur, c4[x]) + alfClipDiff(pU1[x - 2], cur, c4[x]));
        sum += f5[x] * (alfClipDiff(pD1[x + 1], cur, c5[x]) + alfClipDiff(pU1[x - 1], cur, c5[x]));
        sum += f6[x] * (alfClipDiff(pD1[x], cur, c6[x]) + alfClipDiff(pU1[x], cur, c6[x]));
        sum += f7[x] * (alfClipDiff(pD1[x - 1], cur, c7[x]) + alfClipDiff(pU1[x + 1], cur, c7[x]));
        sum += f8[x] * (alfClipDiff(pD1[x - 2], cur, c8[x]) + alfClipDiff(pU1[x + 2], cur, c8[x]));
        sum += f9[x] * (alfClipDiff(p0[x + 3], cur, c9[x]) + alfClipDiff(p0[x - 3], cur, c9[x]));
        sum += f10[x] * (alfClipDiff(p0[x + 2], cur, c10[x]) + alfClipDiff(p0[x - 2], cur, c10[x]));
        sum += f11[x] * (alfClipDiff(p0[x + 1], cur, c11[x]) + alfClipDiff(p0[x - 1], cur, c11[x]));
        dst[x] = uint16_t(alfClamp(cur + ((sum + round) >> shift), maxVal));
    }
}

void alfChromaRowBody(AlfChromaRowArgs const& a)
{
    uint16_t const* __restrict p0 = a.rows[0];
    uint16_t const* __restrict pU1 = a.rows[1];
    uint16_t const* __restrict pD1 = a.rows[2];
    uint16_t const* __restrict pU2 = a.rows[3];
    uint16_t const* __restrict pD2 = a.rows[4];
    uint16_t* __restrict dst = a.dst;
    int const f0 = a.coeff[0], f1 = a.coeff[1], f2 = a.coeff[2], f3 = a.coeff[3], f4 = a.coeff[4], f5 = a.coeff[5];
    int const c0 = a.clip[0], c1 = a.clip[1], c2 = a.clip[2], c3 = a.clip[3], c4 = a.clip[4], c5 = a.clip[5];
    int const round = 1 << (a.shift - 1), shift = a.shift, maxVal = a.maxVal;
    for (int x = 0; x < a.width; ++x) {
        int const cur = p0[x];
        int sum = f0 * (alfClipDiff(pD2[x], cur, c0) + alfClipDiff(pU2[x], cur, c0));
        sum += f1 * (alfClipDiff(pD1[x + 1], cur, c1) + alfClipDiff(pU1[x - 1], cur, c1));
        sum += f2 * (alfClipDiff(pD1[x], cur, c2) + alfClipDiff(pU1[x], cur, c2));
        sum += f3 * (alfClipDiff(pD1[x - 1], cur, c3) + alfClipDiff(pU1[x + 1], cur, c3));
        sum += f4 * (alfClipDiff(p0[x + 2], cur, c4) + alfClipDiff(p0[x - 2], cur, c4));
        sum += f5 * (alfClipDiff(p0[x + 1], cur, c5) + alfClipDiff(p0[x - 1], cur, c5));
        dst[x] = uint16_t(alfClamp(cur + ((sum + round) >> shift), maxVal));
    }
}

void alfCcRowBody(CcAlfRowArgs const& a)
{
    uint16_t const* __restrict l0 = a.luma[0];
    uint16_t const* __restrict lM1 = a.luma[1];
    uint16_t const* __restrict lP1 = a.luma[2];
    uint16_t const* __restrict lP2 = a.luma[3];
    uint16_t* __restrict dst = a.dst;
    int const f0 = a.coeff[0], f1 = a.coeff[1], f2 = a.coeff[2], f3 = a.coeff[3], f4 = a.coeff[4], f5 = a.coeff[5],
              f6 = a.coeff[6];
    int const maxVal = (1 << a.bitDepth) - 1;
    int const lo = -(1 << (a.bitDepth - 1)), hi = (1 << (a.bitDepth - 1)) - 1;
    for (int x = 0; x < a.width; ++x) {
        int const xL = 2 * x;
        int const c = l0[xL];
        int sum = f0 * (lM1[xL] - c);
        sum += f1 * (l0[xL - 1] - c);
        sum += f2 * (l0[xL + 1] - c);
        sum += f3 * (lP1[xL - 1] - c);
        sum += f4 * (lP1[xL] - c);
        sum += f5 * (lP1[xL + 1] - c);
        sum += f6 * (lP2[xL] - c);
        int scaled = (sum + 64) >> 7;
        scaled = scaled < lo ? lo : (scaled > hi ? hi : scaled);
        dst[x] = uint16_t(alfClamp(int(dst[x]) + scaled, maxVal));
    }
}

} // namespace
