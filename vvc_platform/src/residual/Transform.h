#pragma once

#include "residual/Dequant.h"

#include <cstddef>
#include <cstdint>

// Inverse transforms of the residual of a transform block: the separable DCT-II / DST-VII /
// DCT-VIII transforms, the low-frequency non-separable transform (LFNST), the selection of the
// transform types, and the residual of blocks that skip the transform (transform skip, BDPCM,
// lossless) or share one residual between Cb and Cr.
//
// Conventions of every function here:
// - A block is nTbW x nTbH, stored row by row: the value at column x, row y is at
//   `p[y * stride + x]`. For coefficients x is the horizontal and y the vertical frequency.
// - Sizes are powers of two from 1 to 64; functions given other sizes do nothing (a documented
//   bool result says so where there is one).
// - Coefficients entering a transform are in [-32768, 32767] (what the scaling process gives);
//   nothing overflows for any int32_t input, but results are only meaningful in that range.
// - No function allocates; working storage is on the stack (at most 64 x 64 int32_t).
namespace vvcresidual {

constexpr int kCoeffMin = -32768; // coefficient range with extended precision off
constexpr int kCoeffMax = 32767;

// Transform types of one direction (trTypeHor / trTypeVer).
enum TrType : int { kDct2 = 0, kDst7 = 1, kDct8 = 2 };

// The transformation matrix of a type and size: `nTbS * nTbS` entries, entry [k * nTbS + n] is
// basis function k (the coefficient index) at sample n. DCT-II for nTbS 2..64, DST-VII and
// DCT-VIII for 4..32; nullptr for other combinations.
int8_t const* TransformMatrix(int trType, int nTbS);

// One-dimensional transformation process: y[i] = sum over j < nonZeroS of
// matrix[j][i] * x[j], for i < nTbS. `x` is read with step `xStep`, `y` written with `yStep`.
// No rounding and no clipping (the caller applies them). nonZeroS is clamped to [0, nTbS].
// Returns false (and writes nothing) for an unsupported type or size.
bool InverseTransform1D(int trType, int nTbS, int nonZeroS, int32_t const* x, ptrdiff_t xStep, int32_t* y,
                        ptrdiff_t yStep);

// The number of leading coefficient columns / rows that can be non-zero (nonZeroW, nonZeroH)
// in the transformation process: 4 or 8 in both directions after LFNST, otherwise at most 32
// for DCT-II and 16 for DST-VII / DCT-VIII, and never more than the block.
void NonZeroTransformSize(int nTbW, int nTbH, int trTypeHor, int trTypeVer, bool lfnstApplied, int& nonZeroW,
                          int& nonZeroH);

// Transformation process for scaled transform coefficients followed by the residual rounding of
// the scaling and transformation process: from the scaled coefficients `d` (see Dequant.h) to
// the residual samples `res` of the block.
// - 2-D blocks: vertical stage over the nonZeroW leading columns, (e + 64) >> 7 and a clip to
//   [kCoeffMin, kCoeffMax]; horizontal stage; then (r + (1 << (bdShift - 1))) >> bdShift with
//   bdShift = 20 - bitDepth.
// - Blocks one sample wide or high (intra sub-partitions): the one stage, then the shift
//   21 - bitDepth that makes their gain equal to that of the 2-D transform.
// Coefficients outside the non-zero region (NonZeroTransformSize) are not read. `d` and `res`
// may be the same buffer. bitDepth 8..16. Returns false for unsupported sizes or types.
bool InverseTransform(int32_t const* d, ptrdiff_t dStride, int nTbW, int nTbH, int trTypeHor, int trTypeVer,
                      bool lfnstApplied, int bitDepth, int32_t* res, ptrdiff_t resStride);

// What selects the transform types of a transform block (the syntax and SPS values by name).
struct MtsSelection
{
    int cIdx = 0;                     // 0 luma, 1 Cb, 2 Cr
    bool spsMtsEnabled = false;       // sps_mts_enabled_flag
    bool spsExplicitMtsIntra = false; // sps_explicit_mts_intra_enabled_flag
    bool intra = true;                // CuPredMode is MODE_INTRA
    bool isp = false;                 // IntraSubPartitionsSplitType != ISP_NO_SPLIT
    bool sbt = false;                 // cu_sbt_flag
    bool sbtHorizontal = false;       // cu_sbt_horizontal_flag
    bool sbtPos = false;              // cu_sbt_pos_flag
    int lfnstIdx = 0;                 // lfnst_idx
    bool mip = false;                 // intra_mip_flag
    int mtsIdx = 0;                   // mts_idx (0..4)
};

// Derivation of trTypeHor and trTypeVer: chroma and ISP with LFNST use DCT-II; with implicit MTS
// (ISP, SBT up to 32, or intra without explicit MTS, LFNST and MIP) SBT takes its position's
// types and other blocks DST-VII in each direction of size 4..16; otherwise mts_idx selects
// (0: DCT-II, 1: DST-VII both, 2: DCT-VIII horizontal, 3: DCT-VIII vertical, 4: DCT-VIII both).
void SelectTransformTypes(MtsSelection const& sel, int nTbW, int nTbH, int& trTypeHor, int& trTypeVer);

// ---- Low-frequency non-separable transform ----

// Wide angle intra prediction mode mapping: modes 2..66 of a non-square nW x nH block that
// point outside the range of the block's angles become modes 67..80 or -14..-1.
int WideAngleIntraMode(int predModeIntra, int nW, int nH);

// The intra mode that selects and orients the LFNST kernel of a transform block: planar for a
// MIP luma block; for a CCLM chroma mode (81, 82, 83) the mode of the luma block at the centre
// of the chroma block (`collocatedLumaMode`), planar when that luma block is MIP; otherwise the
// block's own mode (for chroma after the 4:2:2 mode mapping). Then the wide angle mapping with
// nW x nH: the transform block's size, the coding block's size for ISP luma.
int LfnstIntraMode(int predModeIntra, int cIdx, bool mip, int collocatedLumaMode, bool collocatedLumaMip, int nW,
                   int nH);

// lfnstTrSetIdx of a (wide angle mapped) intra mode: 0 for planar and DC, 1, 2, 3, 2, 1 over the
// angular ranges 2..12, 13..23, 24..44, 45..55, 56..80; 1 below 0 and above 80.
int LfnstTransformSet(int predModeIntra);

// The kernel of a set (0..3) and candidate (0..1, that is lfnst_idx - 1): 16 basis vectors of 48
// samples (8x8 kernel) or of 16 samples (4x4 kernel), at a scale of 128; nullptr when out of
// range.
int8_t const* LfnstKernel(int setIdx, int candidate, bool kernel8x8);

// Low frequency non-separable transformation process, in place on the scaled coefficients of an
// nTbW x nTbH block (both at least 4): the first nonZeroSize coefficients in 4x4 diagonal order
// (8 for 4x4 and 8x8 blocks, else 16) go through the transposed kernel, each output is rounded
// (+64 >> 7) and clipped to [kCoeffMin, kCoeffMax], and written back in rows (or in columns for
// modes above 34) over the top-left 4x4, or the top-left 8x8 without its bottom-right 4x4 when
// both sizes are at least 8. `predModeIntra` is the mapped mode from LfnstIntraMode, lfnstIdx
// 1 or 2. Returns false, leaving the block, for other sizes or indices.
bool InverseLfnst(int32_t* d, ptrdiff_t stride, int nTbW, int nTbH, int predModeIntra, int lfnstIdx);

// ---- Residuals without a transform ----

// Residual of a transform-skip block: the scaled coefficients are the residual (the
// transform-skip scaling already used its fixed shift), copied to `res`.
void TransformSkipResidual(int32_t const* d, ptrdiff_t dStride, int nTbW, int nTbH, int32_t* res, ptrdiff_t resStride);

// BDPCM accumulation of coefficient levels, in place: each level becomes the sum of itself and
// the accumulated level to its left (horizontal, `vertical` false) or above it (vertical),
// clipped to [kCoeffMin, kCoeffMax] at every step. Part of the scaling of a BDPCM block
// (ScaleTransformCoefficients does it when told); here for callers that need it alone.
void BdpcmAccumulate(int32_t* levels, ptrdiff_t stride, int nTbW, int nTbH, bool vertical);

// Residual of a lossless block (transform skip at the lossless QP with flat scaling): the coded
// levels, after the BDPCM accumulation when BDPCM is used, are the residual, clipped to the
// coefficient range.
void LosslessResidual(int32_t const* levels, ptrdiff_t levelStride, int nTbW, int nTbH, int32_t* res,
                      ptrdiff_t resStride);

// Joint Cb-Cr residual: the one coded residual `res` gives both chroma residuals.
// tuCResMode 1: Cb = res, Cr = (cSign * Cb) >> 1; 2: Cb = res, Cr = cSign * Cb;
// 3: Cr = res, Cb = (cSign * Cr) >> 1; with cSign = 1 - 2 * ph_joint_cbcr_sign_flag.
// Returns false for another mode.
bool JointCbCrResidual(int32_t const* res, ptrdiff_t resStride, int nTbW, int nTbH, int tuCResMode, bool signFlag,
                       int32_t* resCb, ptrdiff_t cbStride, int32_t* resCr, ptrdiff_t crStride);

// ---- The whole residual of a transform block ----

struct ResidualParams
{
    ScalingParams scaling; // its transformSkip and bdpcmDir also select the path below
    int trTypeHor = kDct2; // from SelectTransformTypes
    int trTypeVer = kDct2;
    int lfnstIdx = 0;  // 0 off, 1 or 2 (ApplyLfnstFlag set by the caller's conditions)
    int lfnstMode = 0; // the mode from LfnstIntraMode
};

// Scaling and transformation process of one transform block: the levels are scaled (with the
// BDPCM accumulation), then for transform skip the scaled coefficients are the residual;
// otherwise LFNST (when lfnstIdx is set and both sizes are at least 4) and the inverse transform
// give it. `res` (nTbW x nTbH, may be `levels`) receives the residual. Returns false, with
// `res` unspecified, for unsupported sizes or parameters.
bool ReconstructResidual(int32_t const* levels, ptrdiff_t levelStride, int nTbW, int nTbH, ResidualParams const& p,
                         int32_t* res, ptrdiff_t resStride);

} // namespace vvcresidual
