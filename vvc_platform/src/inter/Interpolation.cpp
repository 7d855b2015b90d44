// Fractional-sample interpolation: the reference region is read once (straight from the plane
// when it lies inside, otherwise gathered with the clamp), then filtered horizontally and
// vertically in contiguous loops.

#include "inter/InterPred.h"

#include <algorithm>

namespace vvcinter {
namespace {

// Luma 8-tap coefficients per 1/16 position.
int8_t const kLumaFilter[16][8] = {
    {0, 0, 0, 64, 0, 0, 0, 0},          {0, 1, -3, 63, 4, -2, 1, 0},      {-1, 2, -5, 62, 8, -3, 1, 0},
    {-1, 3, -8, 60, 13, -4, 1, 0},      {-1, 4, -10, 58, 17, -5, 1, 0},   {-1, 4, -11, 52, 26, -8, 3, -1},
    {-1, 3, -9, 47, 31, -10, 4, -1},    {-1, 4, -11, 45, 34, -10, 4, -1}, {-1, 4, -11, 40, 40, -11, 4, -1},
    {-1, 4, -10, 34, 45, -11, 4, -1},   {-1, 4, -10, 31, 47, -9, 3, -1},  {-1, 3, -8, 26, 52, -11, 4, -1},
    {0, 1, -5, 17, 58, -10, 4, -1},     {0, 1, -4, 13, 60, -8, 3, -1},    {0, 1, -3, 8, 62, -5, 2, -1},
    {0, 1, -2, 4, 63, -3, 1, 0},
};
// The alternative half-sample filter (AMVR half-sample precision).
int8_t const kLumaAltHalf[8] = {0, 3, 9, 20, 20, 9, 3, 0};
// 6-tap coefficients of 4x4 affine subblocks, placed in taps 1..6.
int8_t const kLumaAffine[16][8] = {
    {0, 0, 0, 64, 0, 0, 0, 0},       {0, 1, -3, 63, 4, -2, 1, 0},    {0, 1, -5, 62, 8, -3, 1, 0},
    {0, 2, -8, 60, 13, -4, 1, 0},    {0, 3, -10, 58, 17, -5, 1, 0},  {0, 3, -11, 52, 26, -8, 2, 0},
    {0, 2, -9, 47, 31, -10, 3, 0},   {0, 3, -11, 45, 34, -10, 3, 0}, {0, 3, -11, 40, 40, -11, 3, 0},
    {0, 3, -10, 34, 45, -11, 3, 0},  {0, 3, -10, 31, 47, -9, 2, 0},  {0, 2, -8, 26, 52, -11, 3, 0},
    {0, 1, -5, 17, 58, -10, 3, 0},   {0, 1, -4, 13, 60, -8, 2, 0},   {0, 1, -3, 8, 62, -5, 1, 0},
    {0, 1, -2, 4, 63, -3, 1, 0},
};
// Chroma 4-tap coefficients per 1/32 position.
int8_t const kChromaFilter[32][4] = {
    {0, 64, 0, 0},     {-1, 63, 2, 0},    {-2, 62, 4, 0},    {-2, 60, 7, -1},   {-2, 58, 10, -2},  {-3, 57, 12, -2},
    {-4, 56, 14, -2},  {-4, 55, 15, -2},  {-4, 54, 16, -2},  {-5, 53, 18, -2},  {-6, 52, 20, -2},  {-6, 49, 24, -3},
    {-6, 46, 28, -4},  {-5, 44, 29, -4},  {-4, 42, 30, -4},  {-4, 39, 33, -4},  {-4, 36, 36, -4},  {-4, 33, 39, -4},
    {-4, 30, 42, -4},  {-4, 29, 44, -5},  {-4, 28, 46, -6},  {-3, 24, 49, -6},  {-2, 20, 52, -6},  {-2, 18, 53, -5},
    {-2, 16, 54, -4},  {-2, 15, 55, -4},  {-2, 14, 56, -4},  {-2, 12, 57, -3},  {-2, 10, 58, -2},  {-1, 7, 60, -2},
    {0, 4, 62, -2},    {0, 2, 63, -1},
};

constexpr int kMaxRegion = kMaxCuSize + 16; // block, taps and the DMVR/BDOF margins

// The region [x0, x0 + w) x [y0, y0 + h) of the plane: a pointer into the plane where the clamp
// changes nothing there (or the plane's margin already holds the clamped samples), otherwise the
// gathered copy in buf (stride w).
uint16_t const* ReadRegion(RefPlane const& p, RefClamp const& c, int x0, int y0, int w, int h, uint16_t* buf,
                           ptrdiff_t& stride)
{
    bool const plainClamp = c.wrapOffset == 0 && c.left == 0 && c.top == 0 && c.right == p.width - 1 &&
                            c.bottom == p.height - 1;
    int const m = plainClamp ? p.margin : 0;
    bool inside = x0 >= c.left - m && y0 >= c.top - m && x0 + w - 1 <= c.right + m && y0 + h - 1 <= c.bottom + m;
    if (c.box)
        inside = inside && x0 >= c.boxLeft && y0 >= c.boxTop && x0 + w - 1 <= c.boxRight &&
                 y0 + h - 1 <= c.boxBottom;
    if (inside) {
        stride = p.stride;
        return p.samples + ptrdiff_t(y0) * p.stride + x0;
    }
    int cols[kMaxRegion];
    for (int i = 0; i < w; i++)
        cols[i] = c.x(x0 + i);
    for (int r = 0; r < h; r++) {
        uint16_t const* row = p.samples + ptrdiff_t(c.y(y0 + r)) * p.stride;
        uint16_t* out = buf + ptrdiff_t(r) * w;
        for (int i = 0; i < w; i++)
            out[i] = row[cols[i]];
    }
    stride = w;
    return buf;
}

template <int N, typename T, typename D>
void FilterRows(T const* src, ptrdiff_t srcStride, int w, int h, int8_t const* c, int offset, int shift, D* dst,
                ptrdiff_t dstStride)
{
    for (int y = 0; y < h; y++, src += srcStride, dst += dstStride)
        for (int x = 0; x < w; x++) {
            int sum = offset;
            for (int i = 0; i < N; i++)
                sum += c[i] * src[x + i];
            dst[x] = D(sum >> shift);
        }
}

template <int N, typename T>
void FilterCols(T const* src, ptrdiff_t srcStride, int w, int h, int8_t const* c, int offset, int shift, int32_t* dst,
                ptrdiff_t dstStride)
{
    for (int y = 0; y < h; y++, src += srcStride, dst += dstStride)
        for (int x = 0; x < w; x++) {
            int sum = offset;
            for (int i = 0; i < N; i++)
                sum += c[i] * src[x + i * srcStride];
            dst[x] = sum >> shift;
        }
}

// The separable N-tap filter with coefficients cH, cV (null: integer position in that direction).
// Rounding offsets and shifts per pass: regular filters have none in the first pass, the bilinear
// DMVR filter rounds in both.
template <int N>
void Interpolate(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int8_t const* cH,
                 int8_t const* cV, int w, int h, int shiftCopy, int shift1, int shift2, bool round, int32_t* dst,
                 ptrdiff_t dstStride, InterpScratch& s)
{
    int const before = N / 2 - 1;
    int const rw = w + N - 1, rh = h + N - 1;
    ptrdiff_t stride = 0;
    uint16_t const* src = ReadRegion(plane, clamp, xInt - before, yInt - before, rw, rh, s.src.data(), stride);
    int const off1 = round && shift1 > 0 ? 1 << (shift1 - 1) : 0;
    int const off2 = round && shift2 > 0 ? 1 << (shift2 - 1) : 0;
    if (!cH && !cV) {
        uint16_t const* p = src + before * stride + before;
        for (int y = 0; y < h; y++, p += stride, dst += dstStride)
            for (int x = 0; x < w; x++)
                dst[x] = shiftCopy >= 0 ? int32_t(p[x]) << shiftCopy : (p[x] + (1 << (-shiftCopy - 1))) >> -shiftCopy;
    } else if (!cV) {
        FilterRows<N>(src + before * stride, stride, w, h, cH, off1, shift1, dst, dstStride);
    } else if (!cH) {
        FilterCols<N>(src + before, stride, w, h, cV, off1, shift1, dst, dstStride);
    } else {
        int16_t* tmp = s.tmp.data();
        FilterRows<N>(src, stride, w, rh, cH, off1, shift1, tmp, w);
        FilterCols<N>(tmp, w, w, h, cV, off2, shift2, dst, dstStride);
    }
}

int Shift1(int bitDepth) { return std::min(4, bitDepth - 8); }
int Shift3(int bitDepth) { return std::max(2, 14 - bitDepth); }

} // namespace

InterpScratch::InterpScratch() : src(size_t(kMaxRegion) * kMaxRegion), tmp(size_t(kMaxRegion) * kMaxRegion) {}

void InterpolateLuma(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int xFrac, int yFrac, int w,
                     int h, int bitDepth, LumaFilter filter, int32_t* dst, ptrdiff_t dstStride, InterpScratch& s)
{
    auto coeff = [filter](int frac) -> int8_t const* {
        if (!frac)
            return nullptr;
        if (filter == LUMA_AFFINE)
            return kLumaAffine[frac];
        return filter == LUMA_ALT_HALF && frac == 8 ? kLumaAltHalf : kLumaFilter[frac];
    };
    Interpolate<8>(plane, clamp, xInt, yInt, coeff(xFrac & 15), coeff(yFrac & 15), w, h, Shift3(bitDepth),
                   Shift1(bitDepth), 6, false, dst, dstStride, s);
}

void InterpolateChroma(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int xFrac, int yFrac, int w,
                       int h, int bitDepth, int32_t* dst, ptrdiff_t dstStride, InterpScratch& s)
{
    Interpolate<4>(plane, clamp, xInt, yInt, (xFrac & 31) ? kChromaFilter[xFrac & 31] : nullptr,
                   (yFrac & 31) ? kChromaFilter[yFrac & 31] : nullptr, w, h, Shift3(bitDepth), Shift1(bitDepth), 6,
                   false, dst, dstStride, s);
}

void InterpolateBilinear(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int xFrac, int yFrac, int w,
                         int h, int bitDepth, int32_t* dst, ptrdiff_t dstStride, InterpScratch& s)
{
    // Coefficients 16 - f and f, so that the search runs on 10-bit values.
    static int8_t const kBilinear[16][2] = {{16, 0}, {15, 1}, {14, 2}, {13, 3}, {12, 4}, {11, 5}, {10, 6}, {9, 7},
                                            {8, 8},  {7, 9},  {6, 10}, {5, 11}, {4, 12}, {3, 13}, {2, 14}, {1, 15}};
    int const shiftCopy = 10 - bitDepth;
    int const shift1 = bitDepth - 6;
    Interpolate<2>(plane, clamp, xInt, yInt, (xFrac & 15) ? kBilinear[xFrac & 15] : nullptr,
                   (yFrac & 15) ? kBilinear[yFrac & 15] : nullptr, w, h, shiftCopy, shift1, 4, true, dst, dstStride,
                   s);
}

} // namespace vvcinter
