#pragma once

// Kept free of other headers: the unit behind it is built with -mavx2, and no inline code of
// a shared header may be emitted there.

#include <cstdint>

// Geometry of one 8-bit conversion handed to the vector kernel (unit ColorConversion_avx2).
struct ColorKernelArgs
{
    short const* y;
    short const* u;
    short const* v;
    int64_t yStride;
    int64_t cStride;
    int chromaShiftX; // 1 when chroma is halved horizontally
    int chromaShiftY; // 1 when chroma is halved vertically
    unsigned width;
    unsigned height;
    unsigned char* out;
    int64_t outStride; // bytes
    int coef[4];       // cR, cGv, cGu, cB
};

// Built with -mavx2 on x86 only (SERAVIN_HAVE_AVX2_KERNEL); call only when cpuHasAvx2().
void ConvertRgb8Avx2(ColorKernelArgs const& a);
