// Optical-flow refinements of the prediction: BDOF for bi-predicted subblocks and PROF for
// affine subblocks. Both work on intermediate predictions with a 1-sample border of
// integer-position samples; gradients are differences of neighbours at 8-bit precision.

#include "inter/InterKernels.h"
#include "inter/InterPred.h"

#include <algorithm>

namespace vvcinter {
namespace {

constexpr int kMaxBdof = 16;
constexpr int kBdofArray = kMaxBdof + 2;

inline int Sign(int v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }
inline int FloorLog2(unsigned v)
{
    int n = -1;
    while (v) {
        v >>= 1;
        n++;
    }
    return n;
}
inline int Clip3(int lo, int hi, int v) { return v < lo ? lo : (v > hi ? hi : v); }

} // namespace

void BdofBlock(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h, int bitDepth, uint16_t* dst,
               ptrdiff_t dstStride)
{
    InterKernelsFor(bitDepth).bdof(p0, p1, stride, w, h, bitDepth, dst, dstStride);
}

void BdofBlockPortable(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h, int bitDepth,
                       uint16_t* dst, ptrdiff_t dstStride)
{
    // Per position of the bordered array (w + 2) x (h + 2): the gradients of both lists and the
    // difference, taken at the nearest inner sample for border positions.
    int gH0[kBdofArray][kBdofArray], gH1[kBdofArray][kBdofArray], gV0[kBdofArray][kBdofArray],
        gV1[kBdofArray][kBdofArray], tH[kBdofArray][kBdofArray], tV[kBdofArray][kBdofArray],
        diff[kBdofArray][kBdofArray];
    w = std::min(w, kMaxBdof);
    h = std::min(h, kMaxBdof);
    for (int j = 0; j < h + 2; j++) {
        int const vy = Clip3(1, h, j);
        int32_t const* a = p0 + vy * stride;
        int32_t const* b = p1 + vy * stride;
        for (int i = 0; i < w + 2; i++) {
            int const hx = Clip3(1, w, i);
            gH0[j][i] = (a[hx + 1] >> 6) - (a[hx - 1] >> 6);
            gH1[j][i] = (b[hx + 1] >> 6) - (b[hx - 1] >> 6);
            gV0[j][i] = (a[hx + stride] >> 6) - (a[hx - stride] >> 6);
            gV1[j][i] = (b[hx + stride] >> 6) - (b[hx - stride] >> 6);
            diff[j][i] = (a[hx] >> 4) - (b[hx] >> 4);
            tH[j][i] = (gH0[j][i] + gH1[j][i]) >> 1;
            tV[j][i] = (gV0[j][i] + gV1[j][i]) >> 1;
        }
    }
    int const shift4 = std::max(3, 15 - bitDepth), offset4 = 1 << (shift4 - 1), maxVal = (1 << bitDepth) - 1;
    int const limit = (1 << 4) - 1;
    for (int ys = 0; ys < h; ys += 4)
        for (int xs = 0; xs < w; xs += 4) {
            int sGx2 = 0, sGy2 = 0, sGxGy = 0, sGxdI = 0, sGydI = 0;
            for (int j = ys; j < ys + 6; j++)
                for (int i = xs; i < xs + 6; i++) {
                    sGx2 += std::abs(tH[j][i]);
                    sGy2 += std::abs(tV[j][i]);
                    sGxGy += Sign(tV[j][i]) * tH[j][i];
                    sGxdI += -Sign(tH[j][i]) * diff[j][i];
                    sGydI += -Sign(tV[j][i]) * diff[j][i];
                }
            int const vx = sGx2 > 0 ? Clip3(-limit, limit, (sGxdI * 4) >> FloorLog2(unsigned(sGx2))) : 0;
            int const vy =
                sGy2 > 0 ? Clip3(-limit, limit, (sGydI * 4 - ((vx * sGxGy) >> 1)) >> FloorLog2(unsigned(sGy2))) : 0;
            for (int y = 0; y < 4; y++) {
                int const j = ys + y + 1;
                int32_t const* a = p0 + j * stride;
                int32_t const* b = p1 + j * stride;
                uint16_t* out = dst + (ys + y) * dstStride;
                for (int x = 0; x < 4; x++) {
                    int const i = xs + x + 1;
                    int const offset = vx * (gH0[j][i] - gH1[j][i]) + vy * (gV0[j][i] - gV1[j][i]);
                    int const v = (a[i] + b[i] + offset + offset4) >> shift4;
                    out[xs + x] = uint16_t(Clip3(0, maxVal, v));
                }
            }
        }
}

void ProfDiffMv(int dHorX, int dHorY, int dVerX, int dVerY, int bitDepth, int (*diffMv)[2])
{
    int const limit = (1 << std::max(5, bitDepth - 7)) - 1;
    auto round = [limit](int v) {
        v = (v + 128 - (v >= 0 ? 1 : 0)) >> 8;
        return Clip3(-limit, limit, v);
    };
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) {
            int const mx = x * (dHorX * 4) + y * (dHorY * 4) - (6 * dHorX + 6 * dHorY);
            int const my = x * (dVerX * 4) + y * (dVerY * 4) - (6 * dVerX + 6 * dVerY);
            diffMv[y * 4 + x][0] = round(mx);
            diffMv[y * 4 + x][1] = round(my);
        }
}

void ProfBlock(int32_t* p, ptrdiff_t stride, int const (*diffMv)[2], int bitDepth)
{
    int const limit = 1 << std::max(13, bitDepth + 1);
    int dI[16];
    for (int y = 0; y < 4; y++) {
        int32_t const* row = p + (y + 1) * stride + 1;
        for (int x = 0; x < 4; x++) {
            int const gH = (row[x + 1] >> 6) - (row[x - 1] >> 6);
            int const gV = (row[x + stride] >> 6) - (row[x - stride] >> 6);
            dI[y * 4 + x] = Clip3(-limit, limit - 1, gH * diffMv[y * 4 + x][0] + gV * diffMv[y * 4 + x][1]);
        }
    }
    for (int y = 0; y < 4; y++) {
        int32_t* row = p + (y + 1) * stride + 1;
        for (int x = 0; x < 4; x++)
            row[x] += dI[y * 4 + x];
    }
}

} // namespace vvcinter
