#pragma once

// Body of the SAO row kernels, included by the portable and the AVX2 translation unit. Everything
// here has internal linkage and uses no library templates, so no AVX2 code can be shared with the
// portable build by the linker.

#include "loopfilter/SaoKernels.h"

namespace {

void saoEdgeRowBody(SaoEdgeRowArgs const& a)
{
    uint16_t const* __restrict cur = a.cur;
    uint16_t const* __restrict na = a.a;
    uint16_t const* __restrict nb = a.b;
    uint16_t* __restrict dst = a.dst;
    int const o0 = a.offset[0], o1 = a.offset[1], o2 = a.offset[2], o3 = a.offset[3], o4 = a.offset[4];
    int const maxVal = a.maxVal;
    for (int x = 0; x < a.width; ++x) {
        int const v = cur[x], pa = na[x], pb = nb[x];
        // The sum of the signs of v - pa and v - pb selects the offset (masks rather than a
        // table or branches, so that the loop vectorises).
        int const e = (v > pa) - (v < pa) + (v > pb) - (v < pb);
        int const o = (-(e == -2) & o0) | (-(e == -1) & o1) | (-(e == 0) & o2) | (-(e == 1) & o3) | (-(e == 2) & o4);
        int const r = v + o;
        dst[x] = uint16_t(r < 0 ? 0 : (r > maxVal ? maxVal : r));
    }
}

} // namespace
