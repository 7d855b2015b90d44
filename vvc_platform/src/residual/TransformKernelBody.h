#pragma once

// Body of the inverse transform stages, included by the portable and the AVX2 translation unit.
// Everything here has internal linkage and uses no library templates, so no AVX2 code can be
// shared with the portable build by the linker.

#include "residual/TransformKernels.h"

namespace {

inline int32_t trClampCoeff(int32_t v)
{
    return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

// Vertical stage over C coefficient columns (a power of two; `in` holds zeros beyond the
// non-zero ones): tmp[y][x] = Clip((sum over k < rows of mv[k][y] * in[k][x] + 64) >> 7).
template <int C>
void trVerticalStage(int32_t const* __restrict in, int8_t const* __restrict mv, int nTbH, int rows,
                     int32_t* __restrict tmp)
{
    for (int y = 0; y < nTbH; ++y) {
        int32_t acc[C] = {};
        for (int k = 0; k < rows; ++k) {
            const int32_t c = mv[k * nTbH + y];
            int32_t const* src = in + k * 32;
            for (int x = 0; x < C; ++x)
                acc[x] += c * src[x];
        }
        int32_t* t = tmp + y * 32;
        for (int x = 0; x < C; ++x)
            t[x] = trClampCoeff((acc[x] + 64) >> 7);
    }
}

// Horizontal stage of a block W wide over `cols` intermediate columns, with the final rounding.
template <int W>
void trHorizontalStage(int32_t const* __restrict tmp, int8_t const* __restrict mh, int nTbH, int cols, int shift,
                       int32_t* __restrict res, ptrdiff_t resStride)
{
    const int32_t round = 1 << (shift - 1);
    for (int y = 0; y < nTbH; ++y) {
        int32_t acc[W] = {};
        int32_t const* t = tmp + y * 32;
        for (int k = 0; k < cols; ++k) {
            const int32_t c = t[k];
            int8_t const* row = mh + k * W;
            for (int x = 0; x < W; ++x)
                acc[x] += c * row[x];
        }
        int32_t* r = res + y * resStride;
        for (int x = 0; x < W; ++x)
            r[x] = (acc[x] + round) >> shift;
    }
}

void trStages2DBody(TransformStagesArgs const& a)
{
    // Vertical stage over the non-zero columns, rounded up to a power of two (at most the
    // non-zero width, so the extra columns of `in` are zeros), then the horizontal stage.
    int32_t tmp[64 * 32];
    int c = 1;
    while (c < a.cols)
        c *= 2;
    switch (c) {
    case 1: trVerticalStage<1>(a.in, a.mv, a.nTbH, a.rows, tmp); break;
    case 2: trVerticalStage<2>(a.in, a.mv, a.nTbH, a.rows, tmp); break;
    case 4: trVerticalStage<4>(a.in, a.mv, a.nTbH, a.rows, tmp); break;
    case 8: trVerticalStage<8>(a.in, a.mv, a.nTbH, a.rows, tmp); break;
    case 16: trVerticalStage<16>(a.in, a.mv, a.nTbH, a.rows, tmp); break;
    default: trVerticalStage<32>(a.in, a.mv, a.nTbH, a.rows, tmp); break;
    }
    switch (a.nTbW) {
    case 2: trHorizontalStage<2>(tmp, a.mh, a.nTbH, a.cols, a.shift, a.res, a.resStride); break;
    case 4: trHorizontalStage<4>(tmp, a.mh, a.nTbH, a.cols, a.shift, a.res, a.resStride); break;
    case 8: trHorizontalStage<8>(tmp, a.mh, a.nTbH, a.cols, a.shift, a.res, a.resStride); break;
    case 16: trHorizontalStage<16>(tmp, a.mh, a.nTbH, a.cols, a.shift, a.res, a.resStride); break;
    case 32: trHorizontalStage<32>(tmp, a.mh, a.nTbH, a.cols, a.shift, a.res, a.resStride); break;
    default: trHorizontalStage<64>(tmp, a.mh, a.nTbH, a.cols, a.shift, a.res, a.resStride); break;
    }
}

void trAddResidualBody(ResidualAddArgs const& a)
{
    const int32_t maxVal = a.maxVal;
    for (int y = 0; y < a.h; ++y) {
        uint16_t* __restrict d = a.dst + y * a.dstStride;
        uint16_t const* __restrict p = a.pred + y * a.predStride;
        if (!a.res) {
            for (int x = 0; x < a.w; ++x)
                d[x] = uint16_t(p[x] > maxVal ? maxVal : p[x]);
            continue;
        }
        int32_t const* __restrict r = a.res + y * a.resStride;
        for (int x = 0; x < a.w; ++x) {
            const int32_t v = int32_t(p[x]) + r[x];
            d[x] = uint16_t(v < 0 ? 0 : (v > maxVal ? maxVal : v));
        }
    }
}

} // namespace
