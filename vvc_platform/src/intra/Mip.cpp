#include "intra/Mip.h"

#include <algorithm>

namespace {

int Log2Of(int v)
{
    int n = 0;
    while ((1 << n) < v)
        ++n;
    return n;
}

bool IsPow2(int v)
{
    return v > 0 && (v & (v - 1)) == 0;
}

// Averages nTbS reference samples down to `boundarySize` values.
void DownsampleBoundary(uint16_t const* ref, int nTbS, int boundarySize, int* red)
{
    int const bDwn = nTbS / boundarySize;
    if (bDwn <= 1) {
        for (int x = 0; x < boundarySize; ++x)
            red[x] = ref[x];
        return;
    }
    int const log2Dwn = Log2Of(bDwn);
    for (int x = 0; x < boundarySize; ++x) {
        int sum = 0;
        for (int i = 0; i < bDwn; ++i)
            sum += ref[x * bDwn + i];
        red[x] = (sum + (1 << (log2Dwn - 1))) >> log2Dwn;
    }
}

} // namespace

int MipSizeId(int w, int h)
{
    if (w == 4 && h == 4)
        return 0;
    if (w == 4 || h == 4 || (w == 8 && h == 8))
        return 1;
    return 2;
}

int MipNumModes(int sizeId)
{
    switch (sizeId) {
    case 0: return 16;
    case 1: return 8;
    case 2: return 6;
    default: return 0;
    }
}

bool PredictMip(int nTbW, int nTbH, int modeId, bool transposed, int bitDepth, uint16_t const* refT,
                uint16_t const* refL, uint16_t* dst, ptrdiff_t dstStride)
{
    if (!refT || !refL || !dst || !IsPow2(nTbW) || !IsPow2(nTbH) || nTbW < 4 || nTbH < 4 || nTbW > 64 || nTbH > 64 ||
        bitDepth < 1 || bitDepth > 16)
        return false;
    int const sizeId = MipSizeId(nTbW, nTbH);
    if (modeId < 0 || modeId >= MipNumModes(sizeId))
        return false;
    int const boundarySize = sizeId == 0 ? 2 : 4;
    int const predSize = sizeId == 2 ? 8 : 4;
    int const inSize = 2 * boundarySize - (sizeId == 2 ? 1 : 0);
    int const maxVal = (1 << bitDepth) - 1;

    // Reduced boundary, top first unless transposed.
    int redT[4], redL[4], pTemp[8];
    DownsampleBoundary(refT, nTbW, boundarySize, redT);
    DownsampleBoundary(refL, nTbH, boundarySize, redL);
    int const* first = transposed ? redL : redT;
    int const* second = transposed ? redT : redL;
    for (int i = 0; i < boundarySize; ++i) {
        pTemp[i] = first[i];
        pTemp[boundarySize + i] = second[i];
    }
    // Matrix input relative to the first boundary sample.
    int p[8];
    if (sizeId == 2) {
        for (int i = 0; i < inSize; ++i)
            p[i] = pTemp[i + 1] - pTemp[0];
    } else {
        p[0] = (1 << (bitDepth - 1)) - pTemp[0];
        for (int i = 1; i < inSize; ++i)
            p[i] = pTemp[i] - pTemp[0];
    }
    int sumP = 0;
    for (int i = 0; i < inSize; ++i)
        sumP += p[i];
    int const oW = 32 - 32 * sumP;

    // Reduced prediction predSize x predSize, row-major, already transposed back when needed.
    int pred[64];
    for (int y = 0; y < predSize; ++y)
        for (int x = 0; x < predSize; ++x) {
            int const pos = y * predSize + x;
            uint8_t const* w = sizeId == 0   ? kMipWeights4x4[modeId][pos]
                               : sizeId == 1 ? kMipWeights8x8[modeId][pos]
                                             : kMipWeights16x16[modeId][pos];
            int sum = 0;
            for (int i = 0; i < inSize; ++i)
                sum += w[i] * p[i];
            int v = ((sum + oW) >> 6) + pTemp[0];
            v = std::min(std::max(v, 0), maxVal);
            if (transposed)
                pred[x * predSize + y] = v;
            else
                pred[pos] = v;
        }

    int const upHor = nTbW / predSize, upVer = nTbH / predSize;
    if (upHor == 1 && upVer == 1) {
        for (int y = 0; y < nTbH; ++y)
            for (int x = 0; x < nTbW; ++x)
                dst[y * dstStride + x] = uint16_t(pred[y * predSize + x]);
        return true;
    }
    // Sparse samples at ((x + 1) * upHor - 1, (y + 1) * upVer - 1), then horizontal up-sampling of
    // those rows (left boundary refL), then vertical up-sampling of every column (top boundary refT).
    auto at = [&](int x, int y) -> uint16_t& { return dst[y * dstStride + x]; };
    int const log2Hor = Log2Of(upHor), log2Ver = Log2Of(upVer);
    for (int y = 0; y < predSize; ++y) {
        int const yy = (y + 1) * upVer - 1;
        for (int x = 0; x < predSize; ++x)
            at((x + 1) * upHor - 1, yy) = uint16_t(pred[y * predSize + x]);
        if (upHor > 1) {
            for (int m = 0; m < predSize; ++m) {
                int const xHor = m * upHor - 1;
                int const a = xHor < 0 ? refL[yy] : at(xHor, yy);
                int const b = at(xHor + upHor, yy);
                for (int dX = 1; dX < upHor; ++dX)
                    at(xHor + dX, yy) = uint16_t(((upHor - dX) * a + dX * b + (upHor >> 1)) >> log2Hor);
            }
        }
    }
    if (upVer > 1) {
        for (int n = 0; n < predSize; ++n) {
            int const yVer = n * upVer - 1;
            for (int x = 0; x < nTbW; ++x) {
                int const a = yVer < 0 ? refT[x] : at(x, yVer);
                int const b = at(x, yVer + upVer);
                for (int dY = 1; dY < upVer; ++dY)
                    at(x, yVer + dY) = uint16_t(((upVer - dY) * a + dY * b + (upVer >> 1)) >> log2Ver);
            }
        }
    }
    return true;
}

bool PredictMipBlock(IntraPlane const& plane, int x0, int y0, int nTbW, int nTbH, int modeId, bool transposed,
                     int bitDepth, IntraAvailFn const& avail, int availUnit, uint16_t* dst, ptrdiff_t dstStride)
{
    if (nTbW < 4 || nTbH < 4 || nTbW > 64 || nTbH > 64)
        return false;
    IntraRefSamples ref;
    if (!BuildIntraRefSamples(plane, x0, y0, nTbW, nTbH, 0, bitDepth, avail, availUnit, ref))
        return false;
    return PredictMip(nTbW, nTbH, modeId, transposed, bitDepth, ref.top + 1, ref.left + 1, dst, dstStride);
}
