// Weighted sample prediction: from the 14-bit intermediate predictions to samples (default
// averaging, BCW, explicit weighted prediction), GPM and CIIP blending, LMCS forward mapping.

#include "inter/InterKernels.h"
#include "inter/InterPred.h"

#include <algorithm>

namespace vvcinter {
namespace {

inline int ClipSample(int v, int maxVal) { return v < 0 ? 0 : (v > maxVal ? maxVal : v); }

} // namespace

void UniToSamples(int32_t const* p, ptrdiff_t pStride, int w, int h, int bitDepth, uint16_t* dst, ptrdiff_t dstStride)
{
    int const shift = std::max(2, 14 - bitDepth), offset = 1 << (shift - 1), maxVal = (1 << bitDepth) - 1;
    for (int y = 0; y < h; y++, p += pStride, dst += dstStride)
        for (int x = 0; x < w; x++)
            dst[x] = uint16_t(ClipSample((p[x] + offset) >> shift, maxVal));
}

void BiAverage(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth, uint16_t* dst,
               ptrdiff_t dstStride)
{
    InterKernelsFor(bitDepth).biAverage(p0, p1, pStride, w, h, bitDepth, dst, dstStride);
}

void BiAveragePortable(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth,
                       uint16_t* dst, ptrdiff_t dstStride)
{
    int const shift = std::max(3, 15 - bitDepth), offset = 1 << (shift - 1), maxVal = (1 << bitDepth) - 1;
    for (int y = 0; y < h; y++, p0 += pStride, p1 += pStride, dst += dstStride)
        for (int x = 0; x < w; x++)
            dst[x] = uint16_t(ClipSample((p0[x] + p1[x] + offset) >> shift, maxVal));
}

void BiBcw(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth, int bcwIdx,
           uint16_t* dst, ptrdiff_t dstStride)
{
    static int const kW1[5] = {4, 5, 3, 10, -2};
    int const w1 = kW1[bcwIdx >= 0 && bcwIdx < 5 ? bcwIdx : 0], w0 = 8 - w1;
    int const shift = std::max(2, 14 - bitDepth) + 3, offset = 1 << (shift - 1), maxVal = (1 << bitDepth) - 1;
    for (int y = 0; y < h; y++, p0 += pStride, p1 += pStride, dst += dstStride)
        for (int x = 0; x < w; x++)
            dst[x] = uint16_t(ClipSample((w0 * p0[x] + w1 * p1[x] + offset) >> shift, maxVal));
}

void WeightedPrediction(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth,
                        int cIdx, WeightParams const* wp0, WeightParams const* wp1, uint16_t* dst, ptrdiff_t dstStride)
{
    int const c = cIdx > 0 ? 1 : 0;
    int const log2Wd = wp0->log2Denom[c] + std::max(2, 14 - bitDepth);
    int const w0 = wp0->weight[cIdx], o0 = wp0->offset[cIdx];
    int const maxVal = (1 << bitDepth) - 1;
    if (!p1) {
        int const round = log2Wd >= 1 ? 1 << (log2Wd - 1) : 0;
        for (int y = 0; y < h; y++, p0 += pStride, dst += dstStride)
            for (int x = 0; x < w; x++)
                dst[x] = uint16_t(ClipSample(((p0[x] * w0 + round) >> log2Wd) + o0, maxVal));
        return;
    }
    int const w1 = wp1->weight[cIdx], o1 = wp1->offset[cIdx];
    int const offset = (o0 + o1 + 1) * (1 << log2Wd);
    for (int y = 0; y < h; y++, p0 += pStride, p1 += pStride, dst += dstStride)
        for (int x = 0; x < w; x++)
            dst[x] = uint16_t(ClipSample((p0[x] * w0 + p1[x] * w1 + offset) >> (log2Wd + 1), maxVal));
}

void GpmSplit(int splitIdx, int& angleIdx, int& distanceIdx)
{
    static uint8_t const kAngle[64] = {0,  0,  2,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4,  4,  5,  5,
                                       5,  5,  8,  8,  11, 11, 11, 11, 12, 12, 12, 12, 13, 13, 13, 13,
                                       14, 14, 14, 14, 16, 16, 18, 18, 18, 19, 19, 19, 20, 20, 20, 21,
                                       21, 21, 24, 24, 27, 27, 27, 28, 28, 28, 29, 29, 29, 30, 30, 30};
    static uint8_t const kDistance[64] = {1, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 1, 3, 0, 1,
                                          2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 1, 3, 1, 2, 3, 1, 2, 3,
                                          1, 2, 3, 1, 2, 3, 1, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3};
    splitIdx &= 63;
    angleIdx = kAngle[splitIdx];
    distanceIdx = kDistance[splitIdx];
}

namespace {

// The terms of the GPM weight of a w x h luma block: weightIdx = (2 (x + offsetX) + 1) * dx +
// (2 (y + offsetY) + 1) * dy; weight = Clip3(0, 8, (32 -/+ weightIdx + 4) >> 3).
struct GpmLine
{
    int offsetX, offsetY, dx, dy;
    bool flip;
};

GpmLine GpmGeometry(int splitIdx, int w, int h)
{
    static int8_t const kDisLut[32] = {8,  8,  8,  8,  4,  4,  2,  1,  0,  -1, -2, -4, -4, -8, -8, -8,
                                       -8, -8, -8, -8, -4, -4, -2, -1, 0,  1,  2,  4,  4,  8,  8,  8};
    int angleIdx = 0, distanceIdx = 0;
    GpmSplit(splitIdx, angleIdx, distanceIdx);
    GpmLine g;
    g.dx = kDisLut[angleIdx];
    g.dy = kDisLut[(angleIdx + 8) % 32];
    g.flip = !(angleIdx >= 13 && angleIdx <= 27);
    bool const shiftHor = !(angleIdx % 16 == 8 || (angleIdx % 16 != 0 && h >= w));
    if (!shiftHor) {
        g.offsetX = (-w) >> 1;
        g.offsetY = ((-h) >> 1) + (angleIdx < 16 ? (distanceIdx * h) >> 3 : -((distanceIdx * h) >> 3));
    } else {
        g.offsetX = ((-w) >> 1) + (angleIdx < 16 ? (distanceIdx * w) >> 3 : -((distanceIdx * w) >> 3));
        g.offsetY = (-h) >> 1;
    }
    return g;
}

inline int GpmWeightAt(GpmLine const& g, int x, int y)
{
    int const idx = (2 * (x + g.offsetX) + 1) * g.dx + (2 * (y + g.offsetY) + 1) * g.dy;
    int const idxL = g.flip ? 32 + idx : 32 - idx;
    int const v = (idxL + 4) >> 3;
    return v < 0 ? 0 : (v > 8 ? 8 : v);
}

} // namespace

int GpmWeight(int splitIdx, int w, int h, int x, int y)
{
    return GpmWeightAt(GpmGeometry(splitIdx, w, h), x, y);
}

void GpmBlend(int32_t const* pA, int32_t const* pB, ptrdiff_t pStride, int w, int h, int subX, int subY,
              int splitIdx, int lumaW, int lumaH, int bitDepth, uint16_t* dst, ptrdiff_t dstStride)
{
    GpmLine const g = GpmGeometry(splitIdx, lumaW, lumaH);
    int const shift = std::max(5, 17 - bitDepth), offset = 1 << (shift - 1), maxVal = (1 << bitDepth) - 1;
    for (int y = 0; y < h; y++, pA += pStride, pB += pStride, dst += dstStride)
        for (int x = 0; x < w; x++) {
            int const wA = GpmWeightAt(g, x << subX, y << subY);
            dst[x] = uint16_t(ClipSample((pA[x] * wA + pB[x] * (8 - wA) + offset) >> shift, maxVal));
        }
}

int CiipWeight(bool leftIntra, bool topIntra)
{
    return leftIntra && topIntra ? 3 : (leftIntra || topIntra ? 2 : 1);
}

void CiipBlend(uint16_t* inter, ptrdiff_t interStride, uint16_t const* intra, ptrdiff_t intraStride, int w, int h,
               int wIntra)
{
    for (int y = 0; y < h; y++, inter += interStride, intra += intraStride)
        for (int x = 0; x < w; x++)
            inter[x] = uint16_t((wIntra * intra[x] + (4 - wIntra) * inter[x] + 2) >> 2);
}

void ForwardMapLuma(vvcsyntax::LmcsModel const& lmcs, uint16_t* pred, ptrdiff_t stride, int w, int h)
{
    for (int y = 0; y < h; y++, pred += stride)
        for (int x = 0; x < w; x++)
            pred[x] = uint16_t(lmcs.forward(pred[x]));
}

} // namespace vvcinter
