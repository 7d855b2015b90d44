#pragma once

// Body of the ALF chroma and cross-component row kernels, included by the portable and the AVX2
// translation unit. Everything here has internal linkage and uses no library templates, so no AVX2
// code can be shared with the portable build by the linker.

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
