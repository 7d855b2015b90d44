#pragma once

// Stages of the two-dimensional inverse transform. The same source (TransformKernelBody.h) is
// built portable and with AVX2; the vector build is used only where the CPU has AVX2 and gives
// the same residual.

#include <cstddef>
#include <cstdint>

// The separable stages over the non-zero region of a block's coefficients.
// in: rows x cols coefficients (row stride 32, zeros from column `cols` up to the next power of
// two), already clipped to the coefficient range; mv / mh: the nTbH- and nTbW-point matrices
// (entry [k * n + i]); res: nTbW x nTbH residual, row stride resStride. Sizes 2..64, rows and cols
// 1..32 and at most the block's size, shift 4..12.
struct TransformStagesArgs
{
    int32_t const* in = nullptr;
    int8_t const* mv = nullptr;
    int8_t const* mh = nullptr;
    int nTbW = 0;
    int nTbH = 0;
    int rows = 0;
    int cols = 0;
    int shift = 10;
    int32_t* res = nullptr;
    ptrdiff_t resStride = 0;
};

// Reconstruction of a block from its prediction and residual: dst = Clip(0, maxVal, pred + res)
// over w x h samples (res null: the prediction alone, clipped). Strides in samples; the three
// buffers do not overlap. w and h from 0 up, maxVal from 1 to 65535.
struct ResidualAddArgs
{
    uint16_t* dst = nullptr;
    ptrdiff_t dstStride = 0;
    uint16_t const* pred = nullptr;
    ptrdiff_t predStride = 0;
    int32_t const* res = nullptr;
    ptrdiff_t resStride = 0;
    int w = 0;
    int h = 0;
    int maxVal = 1023;
};

struct TransformKernels
{
    char const* name;
    void (*stages2D)(TransformStagesArgs const&);
    void (*addResidual)(ResidualAddArgs const&);
};

TransformKernels const& TransformPortableKernels();
// Null where the CPU lacks AVX2 (or the build is not for x86).
TransformKernels const* TransformVectorKernels();
// The kernels the transforms use: the vector ones when allowed and present. Initially allowed.
void TransformAllowVectorKernels(bool allow);
TransformKernels const& TransformActiveKernels();
