// Fractional-sample interpolation: the reference region is read once (straight from the plane
// when it lies inside, otherwise gathered with the clamp), then filtered horizontally and
// vertically in contiguous loops.

#include "inter/InterKernels.h"
#include "inter/InterPred.h"

#include <algorithm>
#include <cstring>

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

// Filters of references larger than the current picture (scaling ratio above 1.25 and 1.75):
// luma, luma of affine 4x4 subblocks, chroma. They smooth at the integer position as well.
int8_t const kLumaRpr[2][16][8] = {
    {
        {-1, -5, 17, 42, 17, -5, -1, 0}, {0, -5, 15, 41, 19, -5, -1, 0}, {0, -5, 13, 40, 21, -4, -1, 0},
        {0, -5, 11, 39, 24, -4, -2, 1},  {0, -5, 9, 38, 26, -3, -2, 1},  {0, -5, 7, 38, 28, -2, -3, 1},
        {1, -5, 5, 36, 30, -1, -3, 1},   {1, -4, 3, 35, 32, 0, -4, 1},   {1, -4, 2, 33, 33, 2, -4, 1},
        {1, -4, 0, 32, 35, 3, -4, 1},    {1, -3, -1, 30, 36, 5, -5, 1},  {1, -3, -2, 28, 38, 7, -5, 0},
        {1, -2, -3, 26, 38, 9, -5, 0},   {1, -2, -4, 24, 39, 11, -5, 0}, {0, -1, -4, 21, 40, 13, -5, 0},
        {0, -1, -5, 19, 41, 15, -5, 0},
    },
    {
        {-4, 2, 20, 28, 20, 2, -4, 0},   {-4, 0, 19, 29, 21, 5, -4, -2}, {-4, -1, 18, 29, 22, 6, -4, -2},
        {-4, -1, 16, 29, 23, 7, -4, -2}, {-4, -1, 16, 28, 24, 7, -4, -2}, {-4, -1, 14, 28, 25, 8, -4, -2},
        {-3, -3, 14, 27, 26, 9, -3, -3}, {-3, -1, 12, 28, 25, 10, -4, -3}, {-3, -3, 11, 27, 27, 11, -3, -3},
        {-3, -4, 10, 25, 28, 12, -1, -3}, {-3, -3, 9, 26, 27, 14, -3, -3}, {-2, -4, 8, 25, 28, 14, -1, -4},
        {-2, -4, 7, 24, 28, 16, -1, -4}, {-2, -4, 7, 23, 29, 16, -1, -4}, {-2, -4, 6, 22, 29, 18, -1, -4},
        {-2, -4, 5, 21, 29, 19, 0, -4},
    },
};
int8_t const kAffineRpr[2][16][8] = {
    {
        {0, -6, 17, 42, 17, -5, -1, 0}, {0, -5, 15, 41, 19, -5, -1, 0}, {0, -5, 13, 40, 21, -4, -1, 0},
        {0, -5, 11, 39, 24, -4, -1, 0}, {0, -5, 9, 38, 26, -3, -1, 0},  {0, -5, 7, 38, 28, -2, -2, 0},
        {0, -4, 5, 36, 30, -1, -2, 0},  {0, -3, 3, 35, 32, 0, -3, 0},   {0, -3, 2, 33, 33, 2, -3, 0},
        {0, -3, 0, 32, 35, 3, -3, 0},   {0, -2, -1, 30, 36, 5, -4, 0},  {0, -2, -2, 28, 38, 7, -5, 0},
        {0, -1, -3, 26, 38, 9, -5, 0},  {0, -1, -4, 24, 39, 11, -5, 0}, {0, -1, -4, 21, 40, 13, -5, 0},
        {0, -1, -5, 19, 41, 15, -5, 0},
    },
    {
        {0, -2, 20, 28, 20, 2, -4, 0}, {0, -4, 19, 29, 21, 5, -6, 0}, {0, -5, 18, 29, 22, 6, -6, 0},
        {0, -5, 16, 29, 23, 7, -6, 0}, {0, -5, 16, 28, 24, 7, -6, 0}, {0, -5, 14, 28, 25, 8, -6, 0},
        {0, -6, 14, 27, 26, 9, -6, 0}, {0, -4, 12, 28, 25, 10, -7, 0}, {0, -6, 11, 27, 27, 11, -6, 0},
        {0, -7, 10, 25, 28, 12, -4, 0}, {0, -6, 9, 26, 27, 14, -6, 0}, {0, -6, 8, 25, 28, 14, -5, 0},
        {0, -6, 7, 24, 28, 16, -5, 0}, {0, -6, 7, 23, 29, 16, -5, 0}, {0, -6, 6, 22, 29, 18, -5, 0},
        {0, -6, 5, 21, 29, 19, -4, 0},
    },
};
int8_t const kChromaRpr[2][32][4] = {
    {
        {12, 40, 12, 0}, {11, 40, 13, 0}, {10, 40, 15, -1}, {9, 40, 16, -1}, {8, 40, 17, -1}, {8, 39, 18, -1},
        {7, 39, 19, -1}, {6, 38, 21, -1}, {5, 38, 22, -1},  {4, 38, 23, -1}, {4, 37, 24, -1}, {3, 36, 25, 0},
        {3, 35, 26, 0},  {2, 34, 28, 0},  {2, 33, 29, 0},   {1, 33, 30, 0},  {1, 31, 31, 1},  {0, 30, 33, 1},
        {0, 29, 33, 2},  {0, 28, 34, 2},  {0, 26, 35, 3},   {0, 25, 36, 3},  {-1, 24, 37, 4}, {-1, 23, 38, 4},
        {-1, 22, 38, 5}, {-1, 21, 38, 6}, {-1, 19, 39, 7},  {-1, 18, 39, 8}, {-1, 17, 40, 8}, {-1, 16, 40, 9},
        {-1, 15, 40, 10}, {0, 13, 40, 11},
    },
    {
        {17, 30, 17, 0}, {17, 30, 18, -1}, {16, 30, 18, 0}, {16, 30, 18, 0}, {15, 30, 18, 1}, {14, 30, 18, 2},
        {13, 29, 19, 3}, {13, 29, 19, 3},  {12, 29, 20, 3}, {11, 28, 21, 4}, {10, 28, 22, 4}, {10, 27, 22, 5},
        {9, 27, 23, 5},  {9, 26, 24, 5},   {8, 26, 24, 6},  {7, 26, 25, 6},  {7, 25, 25, 7},  {6, 25, 26, 7},
        {6, 24, 26, 8},  {5, 24, 26, 9},   {5, 23, 27, 9},  {5, 22, 27, 10}, {4, 22, 28, 10}, {4, 21, 28, 11},
        {3, 20, 29, 12}, {3, 19, 29, 13},  {3, 19, 29, 13}, {2, 18, 30, 14}, {1, 18, 30, 15}, {0, 18, 30, 16},
        {0, 18, 30, 16}, {-1, 18, 30, 17},
    },
};

constexpr int kMaxRegion = kMaxCuSize + 16; // block, taps and the DMVR/BDOF margins
// Rows a scaled block reads: twice the block (the largest ratio) and the taps.
constexpr int kMaxScaledRows = 2 * kMaxCuSize + 16;

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
    AwaitRows(p, inside ? y0 + h - 1 : c.y(y0 + h - 1));
    if (inside) {
        stride = p.stride;
        return p.samples + ptrdiff_t(y0) * p.stride + x0;
    }
    int cols[kMaxRegion];
    for (int i = 0; i < w; i++)
        cols[i] = c.x(x0 + i);
    // Without wrap-around the columns are a run of the first column, consecutive columns and a
    // run of the last column: rows are then filled and copied rather than gathered.
    int lead = 1;
    while (lead < w && cols[lead] == cols[0])
        lead++;
    int mid = lead;
    while (mid < w && cols[mid] == cols[mid - 1] + 1)
        mid++;
    int tail = mid;
    while (tail < w && cols[tail] == cols[w - 1])
        tail++;
    bool const runs = tail == w;
    for (int r = 0; r < h; r++) {
        uint16_t const* row = p.samples + ptrdiff_t(c.y(y0 + r)) * p.stride;
        uint16_t* out = buf + ptrdiff_t(r) * w;
        if (runs) {
            // Rows are short: fixed-size copies of 8 samples (the last one overlapping) rather
            // than library calls.
            uint16_t const first = row[cols[0]], last = row[cols[w - 1]];
            uint16_t const* mids = row + cols[lead - 1] + 1;
            for (int i = 0; i < lead; i++)
                out[i] = first;
            int const n = mid - lead;
            if (n >= 8) {
                for (int k = 0; k + 8 <= n; k += 8)
                    std::memcpy(out + lead + k, mids + k, 16);
                std::memcpy(out + mid - 8, mids + n - 8, 16);
            } else {
                for (int k = 0; k < n; k++)
                    out[lead + k] = mids[k];
            }
            for (int i = mid; i < w; i++)
                out[i] = last;
        } else {
            for (int i = 0; i < w; i++)
                out[i] = row[cols[i]];
        }
    }
    stride = w;
    return buf;
}

// The separable N-tap filter with coefficients cH, cV (null: integer position in that direction).
// Rounding offsets and shifts per pass: regular filters have none in the first pass, the bilinear
// DMVR filter rounds in both.
template <int N>
void Interpolate(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int8_t const* cH,
                 int8_t const* cV, int w, int h, int bitDepth, int shiftCopy, int shift1, int shift2, bool round,
                 int32_t* dst, ptrdiff_t dstStride, InterpScratch& s)
{
    int const before = N / 2 - 1;
    int const rw = w + N - 1, rh = h + N - 1;
    ptrdiff_t stride = 0;
    uint16_t const* src = ReadRegion(plane, clamp, xInt - before, yInt - before, rw, rh, s.src.data(), stride);
    InterKernels const& k = InterKernelsFor(bitDepth);
    InterpPassArgs a;
    a.w = w;
    a.h = h;
    a.taps = N;
    a.offset = round && shift1 > 0 ? 1 << (shift1 - 1) : 0;
    a.shift = shift1;
    a.dst = dst;
    a.dstStride = dstStride;
    if (!cH && !cV) {
        k.copy(src + before * stride + before, stride, w, h, shiftCopy, dst, dstStride);
    } else if (!cV) {
        a.src = src + before * stride;
        a.srcStride = stride;
        a.coeff = cH;
        k.rowsTo32(a);
    } else if (!cH) {
        a.src = src + before;
        a.srcStride = stride;
        a.coeff = cV;
        k.colsOfSamples(a);
    } else {
        int16_t* tmp = s.tmp.data();
        InterpPassArgs first = a;
        first.src = src;
        first.srcStride = stride;
        first.h = rh;
        first.coeff = cH;
        first.dst = tmp;
        first.dstStride = w;
        k.rowsTo16(first);
        a.src = tmp;
        a.srcStride = w;
        a.coeff = cV;
        a.offset = round && shift2 > 0 ? 1 << (shift2 - 1) : 0;
        a.shift = shift2;
        k.colsOf16(a);
    }
}

int Shift1(int bitDepth) { return std::min(4, bitDepth - 8); }
int Shift3(int bitDepth) { return std::max(2, 14 - bitDepth); }

// The filter phase table of one direction of a scaled reference: the downsampling filters above
// ratios 1.25 and 1.75, otherwise the regular ones (the alternative half-sample filter only
// without scaling in that direction).
int8_t const* ScaledPhase(int cIdx, LumaFilter filter, int scale, int frac)
{
    int const rpr = scale > 28672 ? 1 : (scale > 20480 ? 0 : -1);
    if (cIdx > 0)
        return rpr >= 0 ? kChromaRpr[rpr][frac] : kChromaFilter[frac];
    if (rpr >= 0)
        return filter == LUMA_AFFINE ? kAffineRpr[rpr][frac] : kLumaRpr[rpr][frac];
    if (filter == LUMA_AFFINE)
        return kLumaAffine[frac];
    return filter == LUMA_ALT_HALF && frac == 8 && scale == (1 << 14) ? kLumaAltHalf : kLumaFilter[frac];
}

template <int N>
void InterpolateScaledN(RefPlane const& plane, RefClamp const& clamp, ScaledPosition const& pos, int cIdx,
                        LumaFilter filter, int w, int h, int bitDepth, int32_t* dst, ptrdiff_t dstStride,
                        InterpScratch& s)
{
    int const before = N / 2 - 1;
    int const fracBits = pos.fracBits, fracShift = 10 - fracBits, off = 1 << (fracShift - 1);
    int const toTable = cIdx > 0 ? 5 - fracBits : 0; // chroma phases are in 1/32
    int const mask = (1 << fracBits) - 1;
    // Per column: its taps' clamped columns and its phase.
    int cols[kMaxCuSize][N];
    int8_t const* coeffH[kMaxCuSize];
    for (int c = 0; c < w; c++) {
        int64_t const p = pos.x0 + int64_t(c) * pos.stepX + off;
        int const xInt = int(p >> 10), xFrac = int(p >> fracShift) & mask;
        coeffH[c] = ScaledPhase(cIdx, filter, pos.scaleX, xFrac << toTable);
        for (int i = 0; i < N; i++)
            cols[c][i] = clamp.x(xInt + i - before);
    }
    int const yFirst = int((pos.y0 + off) >> 10);
    int const yLast = int((pos.y0 + int64_t(h - 1) * pos.stepY + off) >> 10);
    int const rows = std::min(yLast - yFirst + N, kMaxScaledRows);
    int const shift1 = Shift1(bitDepth);
    int16_t* tmp = s.tmp.data();
    AwaitRows(plane, clamp.y(yFirst - before + rows - 1));
    for (int r = 0; r < rows; r++) {
        uint16_t const* row = plane.samples + ptrdiff_t(clamp.y(yFirst - before + r)) * plane.stride;
        int16_t* out = tmp + ptrdiff_t(r) * w;
        for (int c = 0; c < w; c++) {
            int sum = 0;
            for (int i = 0; i < N; i++)
                sum += coeffH[c][i] * row[cols[c][i]];
            out[c] = int16_t(sum >> shift1);
        }
    }
    for (int y = 0; y < h; y++, dst += dstStride) {
        int64_t const p = pos.y0 + int64_t(y) * pos.stepY + off;
        int const yInt = int(p >> 10), yFrac = int(p >> fracShift) & mask;
        int8_t const* cV = ScaledPhase(cIdx, filter, pos.scaleY, yFrac << toTable);
        int16_t const* src = tmp + ptrdiff_t(std::min(yInt - yFirst, rows - N)) * w;
        for (int x = 0; x < w; x++) {
            int sum = 0;
            for (int i = 0; i < N; i++)
                sum += cV[i] * src[x + i * w];
            dst[x] = sum >> 6;
        }
    }
}

} // namespace

InterpScratch::InterpScratch()
    : src(size_t(kMaxRegion) * kMaxRegion), tmp(size_t(kMaxCuSize) * std::max(kMaxScaledRows, kMaxRegion))
{
}

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
    Interpolate<8>(plane, clamp, xInt, yInt, coeff(xFrac & 15), coeff(yFrac & 15), w, h, bitDepth,
                   Shift3(bitDepth), Shift1(bitDepth), 6, false, dst, dstStride, s);
}

void InterpolateChroma(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int xFrac, int yFrac, int w,
                       int h, int bitDepth, int32_t* dst, ptrdiff_t dstStride, InterpScratch& s)
{
    Interpolate<4>(plane, clamp, xInt, yInt, (xFrac & 31) ? kChromaFilter[xFrac & 31] : nullptr,
                   (yFrac & 31) ? kChromaFilter[yFrac & 31] : nullptr, w, h, bitDepth, Shift3(bitDepth),
                   Shift1(bitDepth), 6, false, dst, dstStride, s);
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
                   (yFrac & 15) ? kBilinear[yFrac & 15] : nullptr, w, h, bitDepth, shiftCopy, shift1, 4, true, dst,
                   dstStride, s);
}

void InterpolateScaled(RefPlane const& plane, RefClamp const& clamp, ScaledPosition const& pos, int cIdx,
                       LumaFilter filter, int w, int h, int bitDepth, int32_t* dst, ptrdiff_t dstStride,
                       InterpScratch& s)
{
    w = std::min(w, kMaxCuSize);
    if (cIdx == 0)
        InterpolateScaledN<8>(plane, clamp, pos, cIdx, filter, w, h, bitDepth, dst, dstStride, s);
    else
        InterpolateScaledN<4>(plane, clamp, pos, cIdx, filter, w, h, bitDepth, dst, dstStride, s);
}

} // namespace vvcinter
