#pragma once

// Row kernels of the sample adaptive offset. The same source (SaoKernelBody.h) is built portable
// and with AVX2; the vector build is used only where the CPU has AVX2 and gives the same samples.

#include <cstdint>

// Edge offset over one row of samples whose neighbours may all be used: cur, a and b are the row
// and its two neighbours along the edge class (a[x] and b[x] are sample x's neighbours), offset[]
// the offsets by 2 + the sum of the two signs, results clipped to [0, maxVal].
struct SaoEdgeRowArgs
{
    uint16_t const* cur = nullptr;
    uint16_t const* a = nullptr;
    uint16_t const* b = nullptr;
    uint16_t* dst = nullptr;
    int width = 0;
    int offset[5] = {};
    int maxVal = 1023;
};

struct SaoKernels
{
    char const* name;
    void (*edgeRow)(SaoEdgeRowArgs const&);
};

SaoKernels const& SaoPortableKernels();
// Null where the CPU lacks AVX2 (or the build is not for x86).
SaoKernels const* SaoVectorKernels();
// The kernels the filter uses: the vector ones when allowed and present. Initially allowed.
void SaoAllowVectorKernels(bool allow);
SaoKernels const& SaoActiveKernels();
