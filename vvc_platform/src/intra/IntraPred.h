#pragma once

// Intra sample prediction of one transform block: neighbouring reference samples (availability,
// substitution, [1 2 1] filtering), planar, DC, the angular modes with wide angles and the 4-tap
// interpolation filters, position-dependent prediction sample filtering (PDPC), and the
// cross-component linear model modes (CCLM). Matrix-based prediction is in Mip.h.
//
// All functions are free functions over 16-bit sample arrays; nothing is allocated. Coordinates
// are in samples of the colour plane concerned (chroma coordinates for chroma). Predicted samples
// are written row by row: dst[y * dstStride + x], x < nTbW, y < nTbH.

#include <cstddef>
#include <cstdint>
#include <functional>

// Mode numbers of intra_pred_mode (after derivation from the syntax).
enum IntraPredModeNumber : int {
    INTRA_PLANAR = 0,
    INTRA_DC = 1,
    INTRA_ANGULAR2 = 2,
    INTRA_ANGULAR18 = 18, // horizontal
    INTRA_ANGULAR34 = 34, // diagonal top-left
    INTRA_ANGULAR50 = 50, // vertical
    INTRA_ANGULAR66 = 66,
    INTRA_LT_CCLM = 81,
    INTRA_L_CCLM = 82,
    INTRA_T_CCLM = 83,
};

// Largest transform block side intra prediction handles, and the longest reference row/column
// (2 * 64 without ISP; nCbW + nTbW <= 128 with ISP).
constexpr int kIntraMaxTbSize = 64;
constexpr int kIntraMaxRefLen = 128;

// A reconstructed colour plane (samples before in-loop filtering) neighbours are read from.
struct IntraPlane
{
    uint16_t const* samples = nullptr;
    ptrdiff_t stride = 0; // in samples
    int width = 0;
    int height = 0;
};

// Answers whether the reconstructed sample at (x, y) of the plane may be used for the prediction of
// the current block: already reconstructed (z-scan order; earlier subpartitions of an ISP block
// count) and in the same slice, tile and subpicture. Samples outside the plane are never asked
// about; they are unavailable.
using IntraAvailFn = std::function<bool(int x, int y)>;

// Neighbouring samples of a block at reference line refIdx, after substitution:
//   left[k] = p[-1 - refIdx][-1 - refIdx + k], k = 0 .. refH + refIdx
//   top[k]  = p[-1 - refIdx + k][-1 - refIdx], k = 0 .. refW + refIdx
// left[0] and top[0] are both the corner sample p[-1 - refIdx][-1 - refIdx].
// For refIdx 0: p[-1][y] = left[y + 1], p[x][-1] = top[x + 1].
struct IntraRefSamples
{
    int refIdx = 0;
    int refW = 0;
    int refH = 0;
    uint16_t left[kIntraMaxRefLen + 4] = {};
    uint16_t top[kIntraMaxRefLen + 4] = {};
};

// Reference sample availability marking and substitution: reads p[x][y] for the block at (x0, y0)
// of the plane (x = -1 - refIdx with y = -1 - refIdx .. refH - 1, and x = -refIdx .. refW - 1 with
// y = -1 - refIdx), asks `avail` once per aligned run of `availUnit` samples along each side (a
// power of two, e.g. the minimum block size of the plane; 1 asks for every sample), and replaces
// unavailable samples: with 1 << (bitDepth - 1) when none is available, else with the nearest
// available one before it in the order bottom-left .. corner .. top-right (the first ones with the
// first available sample). Answers false (and leaves `out` empty) for sizes out of range
// (refW, refH in 1 .. kIntraMaxRefLen, refIdx 0..2) or a plane without samples.
bool BuildIntraRefSamples(IntraPlane const& plane, int x0, int y0, int refW, int refH, int refIdx, int bitDepth,
                          IntraAvailFn const& avail, int availUnit, IntraRefSamples& out);

// Filtering process of neighbouring samples: the [1 2 1] filter along the left column and the top
// row through the corner; the last sample of each side is kept. Only for refIdx 0 (no change
// otherwise).
void FilterIntraRefSamples(IntraRefSamples& ref);

// Wide angle intra prediction mode mapping: modes 2..66 of a non-square block of nW x nH (the
// coding block for ISP luma) become -14..-1 (tall blocks) or 67..80 (wide blocks) by the aspect
// ratio. Other modes are returned unchanged.
int MapWideAngleMode(int predModeIntra, int nW, int nH);

// intraPredAngle of a mapped angular mode -14..80 (0 for others), and invAngle
// (Round(512 * 32 / intraPredAngle); 0 where the angle is 0 or the mode is not angular).
int IntraPredAngle(int mappedMode);
int IntraInvAngle(int mappedMode);

// Interpolation filter coefficients of the luma angular modes at phase 0..31: fC (cubic, sharp)
// and fG (gaussian, smoothing).
int const* IntraFilterC(int phase);
int const* IntraFilterG(int phase);

// What one block is predicted with.
struct IntraPredParams
{
    int predModeIntra = INTRA_PLANAR; // 0 planar, 1 DC, 2..66 angular, before wide-angle mapping
    int nTbW = 0, nTbH = 0;           // the block predicted (a subpartition under ISP)
    int nCbW = 0, nCbH = 0;           // its coding block (0: same as the transform block)
    int cIdx = 0;                     // 0 luma, 1 Cb, 2 Cr
    int refIdx = 0;                   // intra_luma_ref_idx (luma only; 0 for chroma)
    bool isp = false;                 // intra subpartitions in use (IntraSubPartitionsSplitType)
    bool bdpcm = false;               // BdpcmFlag: horizontal/vertical copy without PDPC
    bool smoothingDisabled = false;   // the SPS switch turning off reference and gaussian smoothing
    int bitDepth = 10;
};

// Reference row/column lengths the block needs: refW = 2 * nTbW, refH = 2 * nTbH, or under ISP
// (luma) nCbW + nTbW and nCbH + nTbH.
void IntraRefSize(IntraPredParams const& p, int& refW, int& refH);

// Whether the [1 2 1] filter applies to the reference samples: refIdx 0, luma, no ISP, smoothing
// not switched off, more than 32 samples, and the mapped mode is planar or an integer-slope angle
// (-14, -12, -10, -6, 2, 34, 66, 72, 76, 78, 80). MIP and CCLM never use filtered references.
bool IntraRefFilterApplies(IntraPredParams const& p);

// Whether PDPC is applied to the block (before the angle-dependent scale, which can still turn it
// off for flat angles): at least 4x4 (luma and chroma), refIdx 0 (or chroma), no BDPCM, and mapped
// mode planar, DC, <= 18 or >= 50.
bool IntraPdpcApplies(IntraPredParams const& p);

// Predicts the block from prepared (already filtered where it applies) reference samples: planar,
// DC (non-square blocks average the longer side only), or an angular mode after wide-angle mapping
// (luma 4-tap fC/fG interpolation, chroma 2-tap linear; negative angles extend the main reference
// with invAngle), then PDPC where it applies, results clipped to the bit depth. Answers false for
// parameters out of range (sizes, mode, refIdx with planar, references too short).
bool PredictIntraFromRefs(IntraPredParams const& p, IntraRefSamples const& ref, uint16_t* dst, ptrdiff_t dstStride);

// The whole general intra sample prediction of one block at (x0, y0) of `plane` for planar, DC and
// the angular modes: reference samples (with availability and substitution), their filtering, the
// prediction and PDPC. `availUnit` as for BuildIntraRefSamples.
bool PredictIntra(IntraPredParams const& p, IntraPlane const& plane, int x0, int y0, IntraAvailFn const& avail,
                  int availUnit, uint16_t* dst, ptrdiff_t dstStride);

// Cross-component linear model: predC = Clip1(((lumaDs * a) >> k) + b).
struct CclmModel
{
    int a = 0;
    int b = 0;
    int k = 0;
};

// Derives a, b and k from the selected neighbouring pairs (down-sampled luma, chroma): count is 2
// or 4 (2 pairs are used twice); the two smaller and two larger luma values are averaged with
// their chroma values, and the slope is computed without division (divSigTable).
CclmModel DeriveCclmModel(int const selLuma[4], int const selChroma[4], int count);

// What one chroma block predicted from luma needs.
struct CclmParams
{
    int predModeIntra = INTRA_LT_CCLM; // INTRA_LT_CCLM, INTRA_L_CCLM or INTRA_T_CCLM
    int xTbC = 0, yTbC = 0;            // block position in chroma samples
    int nTbW = 0, nTbH = 0;            // block size in chroma samples
    int subWidthC = 2, subHeightC = 2; // 2, 2 for 4:2:0; 2, 1 for 4:2:2; 1, 1 for 4:4:4
    bool verticalCollocated = false;   // sps_chroma_vertical_collocated_flag (4:2:0 filter choice)
    int ctbSizeY = 128;                // CTB size in luma samples (the top CTU row uses one luma row)
    int bitDepth = 10;
};

// Specification of the three CCLM modes: counts the available neighbouring chroma samples (top-right
// and below-left for LM-T and LM-L), picks up to four positions, down-samples the co-located and
// neighbouring luma samples (4:2:0 with one of the two filters), derives the model and predicts the
// block. `chromaAvail` answers for chroma positions (see IntraAvailFn); the luma plane is the
// reconstructed luma of the same picture. With no neighbour the block is 1 << (bitDepth - 1).
// Answers false for parameters out of range.
bool PredictCclm(CclmParams const& p, IntraPlane const& luma, IntraPlane const& chroma, IntraAvailFn const& chromaAvail,
                 uint16_t* dst, ptrdiff_t dstStride);
