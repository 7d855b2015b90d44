#pragma once

#include "picture/PictureHash.h"

#include <climits>
#include <cstdint>
#include <functional>
#include <vector>

// Sample adaptive offset of one coding tree block of one colour plane.
struct SaoParams
{
    int typeIdx = 0;       // 0 not applied, 1 band offset, 2 edge offset
    int offsetVal[5] = {}; // SaoOffsetVal: [0] is 0, [1..4] the signalled offsets, scaled
    int bandPosition = 0;  // band offset: the first of the four bands
    int eoClass = 0;       // edge offset: 0 horizontal, 1 vertical, 2 135 degrees, 3 45 degrees
};

// Which neighbours the edge offset of a block may use. `block[1 + dy][1 + dx]` says whether the
// samples of the neighbouring block in direction (dx, dy) may be used (false across slice, tile
// and subpicture boundaries with filtering across them off); `vbX` and `vbY` are virtual
// boundaries in this plane's positions: a sample left of (above) one and a sample at or right of
// (below) it do not see each other. Neighbours outside the plane are never used.
struct SaoNeighbours
{
    bool block[3][3] = {{true, true, true}, {true, true, true}, {true, true, true}};
    std::vector<int> vbX, vbY;
};

// Filters the block [x0, x0 + width) x [y0, y0 + height) of a plane: reads the deblocked plane
// `src` (whole plane), writes the block into `dst` (a plane of the same size and layout). A
// sample whose edge neighbours may not be used is left as it is. Only the plane rows
// [rowBegin, rowEnd) of the block are written (the block's bounds still decide its neighbours).
void ApplySao(PlaneView const& src, uint16_t* dst, ptrdiff_t dstStride, int x0, int y0, int width, int height,
              int bitDepth, SaoParams const& params, SaoNeighbours const& neighbours = SaoNeighbours(),
              int rowBegin = 0, int rowEnd = INT_MAX);

// SAO of a whole picture, CTB by CTB, from the deblocked picture `planes` into `out` (planes of
// the same sizes, every sample written: unfiltered CTBs are copied). `params(ctuAddr, cIdx, p)`
// gives the CTB's parameters with their offsets already scaled; `closed(ctuA, ctuB)` says whether
// the samples of CTU B may not be used for those of CTU A. Virtual boundaries are in luma
// positions. False, with nothing written, when the CTBs do not cover the picture or the bit depth
// is not one the filter takes. The CTB rows run in parallel on the decoding threads
// (util/WorkerPool.h): `params` and `closed` are called from several at once.
struct SaoPicture
{
    int width = 0, height = 0; // luma
    int ctbSize = 128;
    int widthInCtbs = 0;
    int bitDepth = 10;
    PlaneView planes[3];   // deblocked input
    uint16_t* out[3] = {}; // output, strides as the input planes
    std::vector<int> vbX, vbY;
};
bool ApplySaoToPicture(SaoPicture const& pic, std::function<bool(int ctu, int cIdx, SaoParams& p)> const& params,
                       std::function<bool(int ctuA, int ctuB)> const& closed);
// The same for the CTB rows [ctbRowBegin, ctbRowEnd) of the output (reading the input rows next
// to them).
bool ApplySaoToRows(SaoPicture const& pic, std::function<bool(int ctu, int cIdx, SaoParams& p)> const& params,
                    std::function<bool(int ctuA, int ctuB)> const& closed, int ctbRowBegin, int ctbRowEnd);
// The same for the luma lines [lineBegin, lineEnd) of the output (and the chroma lines they
// cover; both even, or lineEnd the picture height): a CTB row may be filtered in parts.
bool ApplySaoToLines(SaoPicture const& pic, std::function<bool(int ctu, int cIdx, SaoParams& p)> const& params,
                     std::function<bool(int ctuA, int ctuB)> const& closed, int lineBegin, int lineEnd);
