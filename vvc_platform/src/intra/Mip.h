#pragma once

// Matrix-based intra sample prediction (MIP) of one luma block: the top and left reference samples
// are averaged down to the boundary size, multiplied with the mode's weight matrix, optionally
// transposed, and the reduced prediction is bilinearly up-sampled to the block size with the
// full-resolution references as the outer boundary.

#include "intra/IntraPred.h"

#include <cstddef>
#include <cstdint>

// Weight matrices (MipData.cpp): [mode][output sample][input], values 0..127.
extern const uint8_t kMipWeights4x4[16][16][4];
extern const uint8_t kMipWeights8x8[8][16][8];
extern const uint8_t kMipWeights16x16[6][64][7];

// mipSizeId: 0 for 4x4, 1 for 4xN, Nx4 and 8x8, 2 otherwise.
int MipSizeId(int nTbW, int nTbH);

// Number of MIP modes (intra_mip_mode values) of a size id: 16, 8 or 6; 0 for others.
int MipNumModes(int sizeId);

// Predicts the nTbW x nTbH block (powers of two, 4..64) with MIP mode `modeId`, transposed or not
// (intra_mip_transposed_flag), from refT[x] = p[x][-1], x < nTbW, and refL[y] = p[-1][y], y < nTbH:
// reference samples after availability substitution, not filtered. Writes dst[y * dstStride + x].
// Answers false for parameters out of range.
bool PredictMip(int nTbW, int nTbH, int modeId, bool transposed, int bitDepth, uint16_t const* refT,
                uint16_t const* refL, uint16_t* dst, ptrdiff_t dstStride);

// The whole MIP of a block at (x0, y0) of the luma plane: reference samples for refIdx 0 with
// refW = nTbW and refH = nTbH (availability and substitution as BuildIntraRefSamples), then
// PredictMip.
bool PredictMipBlock(IntraPlane const& plane, int x0, int y0, int nTbW, int nTbH, int modeId, bool transposed,
                     int bitDepth, IntraAvailFn const& avail, int availUnit, uint16_t* dst, ptrdiff_t dstStride);
