#pragma once

// Row kernels of the adaptive loop filter. The same source (AlfKernelBody.h) is built portable and
// with AVX2; the vector build is used only where the CPU has AVX2 and gives the same samples.

#include <cstdint>

// One row of the luma 7x7 diamond. rows[]: the current row and the rows at -d1, +d1, -d2, +d2,
// -d3, +d3 (already moved to the first column filtered, readable 3 samples either side);
// coeff[j][x] and clip[j][x]: tap j's coefficient and clipping value for column x (transposed).
struct AlfLumaRowArgs
{
    uint16_t const* rows[7] = {};
    int32_t const* coeff[12] = {};
    int32_t const* clip[12] = {};
    uint16_t* dst = nullptr;
    int width = 0;
    int shift = 7;
    int maxVal = 1023;
};

// One row of the chroma 5x5 diamond. rows[]: the current row and the rows at -d1, +d1, -d2, +d2
// (moved to the first column filtered, readable 2 samples either side); the filter's 6 taps.
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
// to the luma column of the first chroma sample (readable 1 sample either side, and 2 * width
// samples on); the correction is added to dst, clipped to [0, 2^bitDepth - 1].
struct CcAlfRowArgs
{
    uint16_t const* luma[4] = {};
    int coeff[7] = {};
    uint16_t* dst = nullptr;
    int width = 0;
    int bitDepth = 10;
};

struct AlfKernels
{
    char const* name;
    void (*lumaRow)(AlfLumaRowArgs const&);
    void (*chromaRow)(AlfChromaRowArgs const&);
    void (*ccRow)(CcAlfRowArgs const&);
};

AlfKernels const& AlfPortableKernels();
// Null where the CPU lacks AVX2 (or the build is not for x86).
AlfKernels const* AlfVectorKernels();
// The kernels the filters use: the vector ones when allowed and present. Initially allowed.
void AlfAllowVectorKernels(bool allow);
AlfKernels const& AlfActiveKernels();
