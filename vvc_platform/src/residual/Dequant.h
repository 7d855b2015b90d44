#pragma once

#include <cstddef>
#include <cstdint>

// Scaling (dequantisation) of the coefficient levels of a transform block, the scaling matrices
// of scaling list APSs, and the level reconstruction of dependent quantisation.
//
// Blocks are stored as in Transform.h: the value at column x, row y of an nTbW x nTbH block is
// at `p[y * stride + x]`, sizes powers of two from 1 to 64. Nothing allocates.
namespace vvcresidual {

// ---- Dependent quantisation ----

// The next state of the dependent quantisation state machine (states 0..3) after a coefficient
// of absolute level `absLevel`: QStateTransTable[state][absLevel & 1].
int DepQuantNextState(int state, int absLevel);

// TransCoeffLevel of a coefficient: with dependent quantisation
// (2 * absLevel - (state > 1 ? 1 : 0)) * (1 - 2 * sign), otherwise absLevel * (1 - 2 * sign).
// The result is clipped to [kCoeffMin, kCoeffMax]; a zero absLevel gives 0.
int32_t CoefficientLevel(int absLevel, bool sign, bool depQuant, int state);

// ---- Scaling matrices ----

// The scaling list data of a scaling list APS as parsed, indexed by id 0..27 (2x2 lists 0..1,
// 4x4 lists 2..7, 8x8 lists 8..27 of which 14..27 carry a DC value).
struct ScalingListData
{
    bool copyMode[28] = {};   // scaling_list_copy_mode_flag
    bool predMode[28] = {};   // scaling_list_pred_mode_flag
    int predIdDelta[28] = {}; // scaling_list_pred_id_delta
    int list[28][64] = {};    // ScalingList[id][i]: the accumulated nextCoef values, i in
                              // up-right diagonal order; 0 where not coded
    int dcCoef[14] = {};      // scaling_list_dc_coef[id - 14]
    bool coded[28] = {};      // the list is present (chroma lists may be absent)
};

// The reconstructed scaling matrices: ScalingMatrixRec[id] in raster order (entry x + y * size,
// size 2, 4 or 8 by id) and ScalingMatrixDcRec[id - 14]. Defaults to flat 16.
struct ScalingMatrices
{
    uint8_t rec[28][64];
    uint8_t dcRec[14];
    ScalingMatrices();
};

// Reconstruction of the scaling matrices from the scaling list data: each coded list is
// predicted from 8 (no copy, no prediction), 16 (prediction from list id with delta 0) or the
// reconstructed list id - scaling_list_pred_id_delta, and the coded values are added modulo 256;
// the DC value likewise. Lists that are not coded stay flat 16. Returns false (leaving `out`
// flat) when a reference id is out of range or a reconstructed value is 0.
bool ReconstructScalingMatrices(ScalingListData const& data, ScalingMatrices& out);

// The scaling matrix id of a block (the id of the scaling list used): by prediction mode
// (intra, or inter / IBC), colour component and the larger of the block's sizes. -1 when no
// list exists for the combination (an intra 2x2 chroma block).
int ScalingMatrixId(bool intra, int cIdx, int nTbW, int nTbH);

// The intermediate scaling factor m[x][y] of an nTbW x nTbH block from a scaling matrix:
// m[x][y] = ScalingMatrixRec[id][(x * size) / nTbW][(y * size) / nTbH] (the 2x2, 4x4 or 8x8
// matrix up-sampled to the block, then sub-sampled for non-square blocks), and m[0][0] the DC
// value for ids 14..27. Written to `m` with stride nTbW. A negative id gives flat 16.
void DeriveScalingFactor(ScalingMatrices const& matrices, int id, int nTbW, int nTbH, uint8_t* m);

// ---- Scaling process ----

struct ScalingParams
{
    int qp = 0;                 // Qp'Y, Qp'Cb, Qp'Cr or Qp'CbCr of the block (>= 0)
    int bitDepth = 10;          // BitDepth of the component, 8..16
    bool transformSkip = false; // transform_skip_flag
    bool depQuant = false;      // sh_dep_quant_used_flag (ignored for transform skip)
    int qpPrimeTsMin = 4;       // QpPrimeTsMin
    int bdpcmDir = -1;          // BDPCM: -1 off, 0 horizontal, 1 vertical
    // m[x][y] of the block (stride nTbW, see DeriveScalingFactor), or nullptr for the flat 16
    // used without explicit scaling lists, for transform skip, and for LFNST blocks when the
    // SPS disables scaling matrices for LFNST.
    uint8_t const* m = nullptr;
};

// Scaling process for transform coefficients: from the levels TransCoeffLevel of a block to the
// scaled coefficients d.
// - Transform skip: qP = Max(QpPrimeTsMin, qp), bdShift 10, levelScale of the square table.
// - Otherwise bdShift = bitDepth + rect + (log2(nTbW) + log2(nTbH)) / 2 - 5 + depQuant, where
//   rect says log2(nTbW) + log2(nTbH) is odd and selects the second levelScale row; with
//   dependent quantisation qP + 1 picks the scale.
// - ls = m * levelScale[rect][qP % 6] << (qP / 6); d = Clip3(kCoeffMin, kCoeffMax,
//   (level * ls + (1 << (bdShift - 1))) >> bdShift), computed in 64 bits.
// - BDPCM accumulates the levels first (BdpcmAccumulate). Levels are taken within
//   [kCoeffMin, kCoeffMax], the range a stream may use, so no product overflows.
// Only the top-left 32x32 can hold coefficients; d beyond it is set to 0. `levels` and `d` may
// be the same buffer. Returns false (writing nothing) for unsupported sizes or parameters.
bool ScaleTransformCoefficients(int32_t const* levels, ptrdiff_t levelStride, int nTbW, int nTbH,
                                ScalingParams const& params, int32_t* d, ptrdiff_t dStride);

} // namespace vvcresidual
