#pragma once

#include "PictureHash.h"

#include <cstdint>
#include <functional>

// Sample adaptive offset of one coding tree block of one colour plane.
struct SaoParams
{
    int typeIdx = 0;       // 0 not applied, 1 band offset, 2 edge offset
    int offsetVal[5] = {}; // SaoOffsetVal: [0] is 0, [1..4] the signalled offsets, scaled
    int bandPosition = 0;  // band offset: the first of the four bands
    int eoClass = 0;       // edge offset: 0 horizontal, 1 vertical, 2 135 degrees, 3 45 degrees
};

// Filters the block [x0, x0 + width) x [y0, y0 + height) of a plane: reads the deblocked plane
// `src` (whole plane), writes the block into `dst` (a plane of the same size and layout).
// `usable(x, y, nx, ny)` says whether the sample at (nx, ny) may be used for the one at (x, y)
// (slice, tile and subpicture boundaries with filtering across them off, virtual boundaries);
// neighbours outside the plane are never used. A sample whose edge neighbours may not be used
// is left as it is.
void ApplySao(PlaneView const& src, uint16_t* dst, ptrdiff_t dstStride, int x0, int y0, int width, int height,
              int bitDepth, SaoParams const& params, std::function<bool(int, int, int, int)> const& usable = nullptr);

// SAO of a whole picture, CTB by CTB, from the deblocked picture `deblocked` into `out` (planes of
// the same sizes). `params(ctuAddr, cIdx, p)` gives the CTB's parameters with their offsets
// already scaled; `usable(x, y, nx, ny)` works in luma positions (chroma positions are scaled).
struct SaoPicture
{
    int width = 0, height = 0; // luma
    int ctbSize = 128;
    int widthInCtbs = 0;
    int bitDepth = 10;
    PlaneView planes[3];   // deblocked input
    uint16_t* out[3] = {}; // output, strides as the input planes
};
void ApplySaoToPicture(SaoPicture const& pic, std::function<bool(int ctu, int cIdx, SaoParams& p)> const& params,
                       std::function<bool(int, int, int, int)> const& usableLuma);
