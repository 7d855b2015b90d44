#pragma once

// Kernels of the adaptive loop filter: the luma, chroma and cross-component rows and the block
// classification. The portable kernels are the reference. The AVX2 ones (the cross-component rows
// built from the same source, AlfKernelBody.h; the luma and chroma rows and the classification
// written with intrinsics) are used only where the CPU has AVX2 and give the same samples.

#include <cstddef>
#include <cstdint>

// Taps of the luma filter of one 4x4 block, already transposed: coefficients and clipping values.
struct AlfLumaBlockTaps
{
    int16_t coeff[12] = {};
    int32_t clip[12] = {};
};

// The rows of one block row (1 to 4) of the luma 7x7 diamond. src[r]: row r and the rows at -d1,
// +d1, -d2, +d2, -d3, +d3 (moved to the first column filtered, readable 3 samples before it and up
// to 3 samples past the next multiple of 16 of width); taps[b]: the filter of columns 4b .. 4b + 3.
struct AlfLumaRowsArgs
{
    int rows = 0;
    uint16_t const* src[4][7] = {};
    uint16_t* dst[4] = {};
    int shift[4] = {};
    AlfLumaBlockTaps const* taps = nullptr;
    int width = 0;
    int maxVal = 1023;
};

// One row of the chroma 5x5 diamond. rows[]: the current row and the rows at -d1, +d1, -d2, +d2
// (moved to the first column filtered, readable 2 samples before it and up to 2 samples past the
// next multiple of 16 of width); the filter's 6 taps.
struct AlfChromaRowArgs
{
    uint16_t const* rows[5] = {};
    int coeff[6] = {};
    int clip[6] = {};
    uint16_t* dst = nullptr;
    int width = 0;
    int shift = 7;
    int maxVal = 1023;
};

// One row of the cross-component filter (4:2:0): luma[] the luma rows at 0, yM1, yP1, yP2, moved
// to the luma column of the first chroma sample (readable from 2 samples before it to 2 * width
// samples on); the correction is added to dst, clipped to [0, 2^bitDepth - 1].
struct CcAlfRowArgs
{
    uint16_t const* luma[4] = {};
    int coeff[7] = {};
    uint16_t* dst = nullptr;
    int width = 0;
    int bitDepth = 10;
};

// Class of one 4x4 luma block: filtIdx 0..24 and transposeIdx 0..3.
struct AlfBlockClass
{
    uint8_t filtIdx = 0;
    uint8_t transposeIdx = 0;
};

// Classification of blocksX x blocksY 4x4 luma blocks. src: the sample of the first block's top-left
// corner in a padded copy (every sample outside the usable area already replaced), rows readable
// from -3 to 4 * blocksY + 2 and columns from -3 to 4 * blocksX + 14 (the vector kernel reads whole
// vectors past the last window). vbRow: the row (relative to src, a multiple of 4) of the ALF
// virtual boundary, or kAlfNoVirtualBoundary. Classes go to cls[by * clsStride + bx].
constexpr int kAlfNoVirtualBoundary = -(1 << 20);
struct AlfClassifyArgs
{
    uint16_t const* src = nullptr;
    ptrdiff_t stride = 0;
    int blocksX = 0, blocksY = 0;
    int vbRow = kAlfNoVirtualBoundary;
    int bitDepth = 10;
    AlfBlockClass* cls = nullptr;
    int clsStride = 0;
};

// Block classes: the activity quantiser and the transpose index of each (main, secondary)
// direction pair.
constexpr int kAlfActivityTable[16] = {0, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4};
constexpr int kAlfTransposeTable[8] = {0, 1, 0, 2, 2, 3, 1, 3};

struct AlfKernels
{
    char const* name;
    void (*lumaRows)(AlfLumaRowsArgs const&);
    void (*chromaRow)(AlfChromaRowArgs const&);
    void (*ccRow)(CcAlfRowArgs const&);
    void (*classify)(AlfClassifyArgs const&);
};

AlfKernels const& AlfPortableKernels();
// Null where the CPU lacks AVX2 (or the build is not for x86).
AlfKernels const* AlfVectorKernels();
// The kernels the filters use: the vector ones when allowed and present. Initially allowed.
void AlfAllowVectorKernels(bool allow);
AlfKernels const& AlfActiveKernels();
