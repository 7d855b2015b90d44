#pragma once

// Kernels of the inter sample prediction: the interpolation passes, the DMVR cost, BDOF and the
// bi-prediction average. The portable kernels are the reference; the AVX2 ones (InterKernels_avx2.cpp)
// are used only where the CPU has AVX2 and give the same values, for samples of at most 12 bits
// (the callers keep deeper samples on the portable kernels).

#include <cstddef>
#include <cstdint>

namespace vvcinter {

// One pass of an N-tap filter (N = 2, 4 or 8) over a w x h block: dst[x] = (offset + sum over i of
// coeff[i] * src[x + i * step]) >> shift, step 1 along rows, srcStride down columns. Sources are
// samples (below 2^15) or the 16-bit first pass.
struct InterpPassArgs
{
    void const* src = nullptr;
    ptrdiff_t srcStride = 0;
    int w = 0, h = 0;
    int8_t const* coeff = nullptr;
    int taps = 8;
    int offset = 0, shift = 0;
    void* dst = nullptr;
    ptrdiff_t dstStride = 0;
};

struct InterKernels
{
    char const* name;
    // Along rows: samples to the 16-bit first pass / to 32-bit results.
    void (*rowsTo16)(InterpPassArgs const&);
    void (*rowsTo32)(InterpPassArgs const&);
    // Down columns: of samples / of the 16-bit first pass, to 32-bit results.
    void (*colsOfSamples)(InterpPassArgs const&);
    void (*colsOf16)(InterpPassArgs const&);
    // The integer position: dst = src << shift (shift >= 0), else rounded src >> -shift.
    void (*copy)(uint16_t const* src, ptrdiff_t srcStride, int w, int h, int shift, int32_t* dst, ptrdiff_t dstStride);
    // Sum of |a[x] - b[x]| over w columns of `rows` rows, both advancing by stride per row.
    int (*sad)(int32_t const* a, int32_t const* b, ptrdiff_t stride, int w, int rows);
    // BdofBlock and BiAverage (InterPred.h).
    void (*bdof)(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h, int bitDepth, uint16_t* dst,
                 ptrdiff_t dstStride);
    void (*biAverage)(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth,
                      uint16_t* dst, ptrdiff_t dstStride);
};

InterKernels const& InterPortableKernels();
// Null where the CPU lacks AVX2 (or the build is not for x86).
InterKernels const* InterVectorKernels();
// The kernels the prediction uses: the vector ones when allowed and present. Initially allowed.
void InterAllowVectorKernels(bool allow);
InterKernels const& InterActiveKernels();
// The kernels for samples of bitDepth bits: the active ones up to 12 bits, else the portable ones.
InterKernels const& InterKernelsFor(int bitDepth);

// The portable kernels that have no other entry point.
void BdofBlockPortable(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h, int bitDepth,
                       uint16_t* dst, ptrdiff_t dstStride);
void BiAveragePortable(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth,
                       uint16_t* dst, ptrdiff_t dstStride);

// The AVX2 kernels (InterKernels_avx2.cpp).
void InterRowsTo16Avx2(InterpPassArgs const&);
void InterRowsTo32Avx2(InterpPassArgs const&);
void InterColsAvx2(InterpPassArgs const&);
void InterCopyAvx2(uint16_t const* src, ptrdiff_t srcStride, int w, int h, int shift, int32_t* dst,
                   ptrdiff_t dstStride);
int InterSadAvx2(int32_t const* a, int32_t const* b, ptrdiff_t stride, int w, int rows);
void BdofBlockAvx2(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h, int bitDepth, uint16_t* dst,
                   ptrdiff_t dstStride);
void BiAverageAvx2(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth, uint16_t* dst,
                   ptrdiff_t dstStride);

} // namespace vvcinter
