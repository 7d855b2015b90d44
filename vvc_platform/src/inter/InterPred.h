#pragma once

// Inter sample prediction: fractional-sample interpolation (luma 8-tap with the alternative
// half-sample 6-tap filter, affine luma 6-tap, chroma 4-tap), reference sample clamping with
// horizontal wrap-around, scaled motion compensation for references of another size, decoder-side
// motion vector refinement (DMVR), bi-directional optical flow (BDOF), prediction refinement with
// optical flow for affine blocks (PROF), default, BCW and explicit weighted sample prediction,
// geometric partition blending (GPM), combined inter/intra blending (CIIP) and the forward luma
// mapping of an inter prediction (LMCS).
//
// The functions are pure functions over 16-bit sample arrays: the motion is derived by the caller
// (motion stage), the reference pictures are plain planes. Coordinates are luma samples of the
// current picture unless said otherwise; motion vectors are in 1/16 luma sample units. Output
// blocks are written row by row: dst[c].samples[y * dst[c].stride + x], for chroma at chroma
// resolution. Every entry point works in an `InterPredictor`, which owns the scratch buffers
// (sized once for 128x128 units), so that nothing is allocated per block; one predictor per thread.

#include "bitstream/Derived.h"
#include "inter/MotionInfo.h"
#include "util/VvcCommon.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vvcinter {

constexpr int kMaxCuSize = 128;

// A reference picture still being decoded: waitFor returns once its luma lines [0, lines) and
// their margins are final (INT_MAX - 1: all of them, the margin below the picture too).
class ReferenceRows
{
public:
    virtual void waitFor(int lumaLines) = 0;

protected:
    ~ReferenceRows() = default;
};

// One colour plane of a reference picture. Samples are read at coordinates clamped to
// [0, width - 1] x [0, height - 1] (or wrapped horizontally, see InterPicture), so the plane may
// or may not have padding around it; width and height are those of the picture, not the padding.
// `margin`: how many samples of replicated edge (PaddedPelStorage) may be read around the
// picture, which spares the clamp for blocks reaching into it.
struct RefPlane
{
    uint16_t const* samples = nullptr; // sample (0, 0)
    ptrdiff_t stride = 0;              // in samples
    int width = 0;
    int height = 0;
    int margin = 0;
    ReferenceRows* rows = nullptr; // null: the reference is final
    int rowShift = 0;              // plane rows to luma lines
};

// Before the plane's rows up to `lastRow` are read (rows of the margins included).
inline void AwaitRows(RefPlane const& p, int lastRow)
{
    if (!p.rows)
        return;
    // Rows of the margin above the picture come with its first rows.
    p.rows->waitFor(lastRow >= p.height - 1 ? INT_MAX - 1 : lastRow < 0 ? 1 : (lastRow + 1) << p.rowShift);
}

// A reference picture as the prediction reads it: its planes and its scaling window.
struct RefPicture
{
    RefPlane planes[3];
    // Scaling window of the reference (luma samples, already multiplied by SubWidthC/SubHeightC):
    // left/top offsets and the window size (PicOutputWidthL/HeightL of the reference).
    int scalingLeft = 0, scalingTop = 0;
    int scalingWidth = 0, scalingHeight = 0;
};

// What the prediction needs of the current picture; fixed for a slice.
struct InterPicture
{
    ChromaFormat chromaFormat = CHROMA_420;
    int bitDepth = 10; // luma and chroma (Main 10 has one bit depth)
    int width = 0;     // pps_pic_width/height_in_luma_samples
    int height = 0;
    // Horizontal wrap-around motion compensation: pps_ref_wraparound_enabled_flag and
    // PpsRefWrapOffset * MinCbSizeY (luma samples).
    bool wrapAround = false;
    int wrapOffset = 0;
    // Scaling window of the current picture (as for RefPicture). With the windows of both set, a
    // reference whose window differs is read scaled; DMVR, BDOF, PROF and wrap-around are not
    // applied to a reference whose window or picture size differs.
    int scalingLeft = 0, scalingTop = 0;
    int scalingWidth = 0, scalingHeight = 0;
    // sps_chroma_horizontal/vertical_collocated_flag: where chroma samples sit, for scaling.
    bool chromaHorCollocated = true, chromaVerCollocated = true;
    // sps_affine_prof_enabled_flag and not ph_prof_disabled_flag is decided per block (see
    // AffineBlock::prof); this is the sub-picture clamp: when the current subpicture is treated
    // as a picture, reference coordinates clamp to its bounds instead (luma samples, inclusive).
    bool subpicClamp = false;
    int subpicLeft = 0, subpicTop = 0, subpicRight = 0, subpicBottom = 0;
};

// How reference sample coordinates are brought into the plane: the bounding box of the DMVR
// padding first (when set), then horizontal wrap-around (ClipH with wrapOffset, picture width
// picWidth, when wrapOffset > 0), then the clamp to [left, right] x [top, bottom] (the picture, or
// the subpicture treated as a picture). All in samples of the plane.
struct RefClamp
{
    int left = 0, top = 0, right = 0, bottom = 0;
    int wrapOffset = 0, picWidth = 0;
    bool box = false;
    int boxLeft = 0, boxTop = 0, boxRight = 0, boxBottom = 0;
    int x(int v) const
    {
        if (box)
            v = v < boxLeft ? boxLeft : (v > boxRight ? boxRight : v);
        if (wrapOffset > 0)
            v = v < 0 ? v + wrapOffset : (v > picWidth - 1 ? v - wrapOffset : v);
        return v < left ? left : (v > right ? right : v);
    }
    int y(int v) const
    {
        if (box)
            v = v < boxTop ? boxTop : (v > boxBottom ? boxBottom : v);
        return v < top ? top : (v > bottom ? bottom : v);
    }
};

// Interpolation filters of luma: the regular 8-tap, the alternative half-sample filter (used at
// the half position only), the 6-tap of 4x4 affine subblocks.
enum LumaFilter : int { LUMA_REGULAR = 0, LUMA_ALT_HALF = 1, LUMA_AFFINE = 2 };

// Scratch space of the interpolation kernels: the gathered reference region and the first pass.
struct InterpScratch
{
    std::vector<uint16_t> src;
    std::vector<int16_t> tmp;
    InterpScratch();
};

// Explicit weighted prediction of one reference of a slice (pred_weight_table), per component:
// weights and offsets as the standard derives them (LumaWeightLX = (1 << denom) + delta when the
// flag is set, 1 << denom otherwise; offsets already shifted by BitDepth - 8).
struct WeightParams
{
    int log2Denom[2] = {0, 0}; // luma_log2_weight_denom, ChromaLog2WeightDenom
    int weight[3] = {1, 1, 1};
    int offset[3] = {0, 0, 0};
};

// The prediction of one translational (non-affine) block: one or two lists.
struct InterBlock
{
    int x = 0, y = 0, width = 0, height = 0; // luma, the coding unit (or the part predicted)
    bool useList[2] = {false, false};
    Mv mv[2];
    RefPicture const* ref[2] = {nullptr, nullptr};
    bool altHalfPel = false; // hpelIfIdx 1 (AMVR half-sample precision)
    int bcwIdx = 0;          // 0: equal weights
    // Explicit weighted prediction of the slice (pps_weighted_(bi_)pred_flag) for the lists used;
    // null for default weighting.
    WeightParams const* weights[2] = {nullptr, nullptr};
    // dmvrFlag and bdofFlag as the decoding process derives them (the caller knows the POC
    // distances, reference kinds and the CU's merge mode). Both need: the tool on in the SPS and
    // not off in the picture header, two lists from a picture before and one after at the same
    // POC distance, both short-term, BCW index 0, no luma or chroma weights signalled for either
    // reference, a unit of 8x8 or more with 128 samples or more (references of another size turn
    // both off here). DMVR in addition: regular merge only (not MMVD, subblock, CIIP, GPM). BDOF in
    // addition: not affine or subblock temporal, not CIIP, not with symmetric MVD.
    bool dmvr = false;
    bool bdof = false;
    bool luma = true, chroma = true; // which components to predict
};

// An affine block: the motion of its 4x4 luma subblocks and the PROF parameters.
struct AffineBlock
{
    int x = 0, y = 0, width = 0, height = 0; // luma, multiples of 8
    bool useList[2] = {false, false};
    RefPicture const* ref[2] = {nullptr, nullptr};
    // Per list the subblock motion, (width / 4) x (height / 4) entries row by row.
    Mv const* subblockMv[2] = {nullptr, nullptr};
    // Per list cbProfFlagLX and the affine parameters of the subblock motion derivation, in 1/16
    // sample units scaled by 128: the horizontal motion component changes by dHorX per sample to
    // the right and by dHorY per sample down, the vertical one by dVerX and dVerY.
    bool prof[2] = {false, false};
    int dHorX[2] = {}, dHorY[2] = {}, dVerX[2] = {}, dVerY[2] = {};
    int bcwIdx = 0;
    WeightParams const* weights[2] = {nullptr, nullptr};
    bool luma = true, chroma = true;
};

// A geometric partition block: two uni-predicted parts blended along the split line.
struct GpmBlock
{
    int x = 0, y = 0, width = 0, height = 0;
    int splitIdx = 0;                       // merge_gpm_partition_idx (0..63)
    Mv mv[2];                          // part A, part B (each uni-predicted)
    RefPicture const* ref[2] = {nullptr, nullptr};
};

// A destination block: three planes (luma, Cb, Cr), chroma at chroma resolution.
struct PredBuf
{
    uint16_t* samples[3] = {nullptr, nullptr, nullptr};
    ptrdiff_t stride[3] = {0, 0, 0};
};

// The refined motion DMVR found, per 16x16 luma subblock of the block (row by row, at most 8x8
// subblocks): the delta added to mv[0] (and subtracted from mv[1]), 1/16 luma units.
struct DmvrResult
{
    int numX = 0, numY = 0;
    Mv delta[64];
};

class InterPredictor
{
public:
    InterPredictor();

    // Predicts a translational block into dst (clipped samples): interpolation per list, DMVR per
    // 16x16 subblock and BDOF per 4x4 where flagged, then default, BCW or explicit weighting.
    // `dmvr`, when not null, receives the refinement (zero deltas when DMVR is off). False when
    // the block or its references are unusable (nothing written).
    bool predict(InterPicture const& pic, InterBlock const& blk, PredBuf const& dst, DmvrResult* dmvr = nullptr);

    // Predicts an affine block from its 4x4 subblock motion (luma 6-tap, chroma per the chroma
    // format's subblock motion), PROF where flagged, then the weighting.
    bool predictAffine(InterPicture const& pic, AffineBlock const& blk, PredBuf const& dst);

    // Predicts both parts of a geometric partition block and blends them.
    bool predictGpm(InterPicture const& pic, GpmBlock const& blk, PredBuf const& dst);

private:
    bool predictList(InterPicture const& pic, RefPicture const& ref, int cIdx, int x, int y, int w, int h, Mv mv,
                     LumaFilter filter, bool border, RefClamp const* box, int32_t* dst, ptrdiff_t dstStride);
    void weight(InterPicture const& pic, int cIdx, int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w,
                int h, int bcwIdx, WeightParams const* const* weights, bool const* useList, uint16_t* dst,
                ptrdiff_t dstStride);

    InterpScratch m_scratch;
    std::vector<int32_t> m_pred[2];  // per list, intermediate precision, room for a 1-sample border
    std::vector<int32_t> m_bilinear[2]; // DMVR search predictions, 2-sample margin

};

// Fractional-sample interpolation of a w x h block (w, h <= 130) whose sample (0, 0) is at integer
// position (xInt, yInt) of `plane` with fraction (xFrac, yFrac), in 1/16 (luma) or 1/32 (chroma)
// units, to the 14-bit intermediate precision (32-bit storage, as the 2-D filter of 10-bit
// samples can pass 2^15): dst[y * dstStride + x].
void InterpolateLuma(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int xFrac, int yFrac, int w,
                     int h, int bitDepth, LumaFilter filter, int32_t* dst, ptrdiff_t dstStride, InterpScratch& s);
void InterpolateChroma(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int xFrac, int yFrac, int w,
                       int h, int bitDepth, int32_t* dst, ptrdiff_t dstStride, InterpScratch& s);
// Where a block of a scaled reference reads: sample 0 of the block at x0 (y0) and sample k at
// x0 + k * stepX, in 1/1024 samples of the plane; the ratios (1 << 14 for equal sizes) select the
// downsampling filters; fracBits: the fraction's precision (4 luma, 4 + log2 SubWidthC chroma).
struct ScaledPosition
{
    int64_t x0 = 0, y0 = 0;
    int stepX = 1024, stepY = 1024;
    int scaleX = 1 << 14, scaleY = 1 << 14;
    int fracBits = 4;
};
// Interpolation from a reference of another size (or scaling window): every sample its own phase,
// 8 taps for luma (cIdx 0), 4 for chroma; w <= 128, h <= 128.
void InterpolateScaled(RefPlane const& plane, RefClamp const& clamp, ScaledPosition const& pos, int cIdx,
                       LumaFilter filter, int w, int h, int bitDepth, int32_t* dst, ptrdiff_t dstStride,
                       InterpScratch& s);
// The DMVR search interpolation: bilinear, 1/16 units, to 10-bit precision.
void InterpolateBilinear(RefPlane const& plane, RefClamp const& clamp, int xInt, int yInt, int xFrac, int yFrac, int w,
                         int h, int bitDepth, int32_t* dst, ptrdiff_t dstStride, InterpScratch& s);

// DMVR search of one subblock (w x h, at most 16x16) from its bilinear predictions p0 and p1
// (pointing at the subblock's sample (0, 0) of arrays that reach 2 samples beyond it on every
// side): the SAD of every other row over the 5x5 integer offsets (the unrefined one favoured by a
// quarter, and kept outright when its cost is below w * h), then the sub-sample offset from the
// parametric error surface. The delta applies to list 0 (negated for list 1), 1/16 units;
// minSad is the smallest integer-offset cost (BDOF is skipped below 2 * w * h).
struct DmvrRefinement
{
    Mv delta;
    int minSad = 0;
};
DmvrRefinement DmvrSearch(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h);

// BDOF of one subblock (w x h, multiples of 4, at most 16x16) from its two intermediate
// predictions with a 1-sample border (p0, p1 point at the border sample (-1, -1)): gradients,
// per 4x4 the motion refinement (vx, vy) from the 6x6 window, and the corrected average.
void BdofBlock(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h, int bitDepth, uint16_t* dst,
               ptrdiff_t dstStride);

// PROF of one 4x4 affine subblock in place: p points at the border sample (-1, -1) of a 6x6
// intermediate prediction; diffMv holds the per-sample motion differences (x, y) for the 16
// samples (ProfDiffMv).
void ProfBlock(int32_t* p, ptrdiff_t stride, int const (*diffMv)[2], int bitDepth);
// The per-sample motion differences of PROF within a 4x4 subblock, from the affine parameters.
void ProfDiffMv(int dHorX, int dHorY, int dVerX, int dVerY, int bitDepth, int (*diffMv)[2]);

// Uni-prediction to samples: (p + offset) >> (14 - bitDepth), clipped.
void UniToSamples(int32_t const* p, ptrdiff_t pStride, int w, int h, int bitDepth, uint16_t* dst, ptrdiff_t dstStride);
// Default bi-prediction average: (p0 + p1 + offset) >> (15 - bitDepth), clipped.
void BiAverage(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth, uint16_t* dst,
               ptrdiff_t dstStride);
// BCW weighted bi-prediction (bcwIdx 1..4: w1 = 4, 5, 3, 10, -2 of 8).
void BiBcw(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth, int bcwIdx,
           uint16_t* dst, ptrdiff_t dstStride);
// Explicit weighted prediction, uni (p1 null) and bi, of component cIdx.
void WeightedPrediction(int32_t const* p0, int32_t const* p1, ptrdiff_t pStride, int w, int h, int bitDepth,
                        int cIdx, WeightParams const* w0, WeightParams const* w1, uint16_t* dst, ptrdiff_t dstStride);

// GPM: the blending weight (0..8) of part A at luma sample (x, y) of a w x h block for
// merge_gpm_partition_idx `splitIdx`; chroma samples take the weight of their top-left luma
// sample (x * SubWidthC, y * SubHeightC).
int GpmWeight(int splitIdx, int w, int h, int x, int y);
// GPM angle and distance index of a merge_gpm_partition_idx.
void GpmSplit(int splitIdx, int& angleIdx, int& distanceIdx);
// GPM blending of the intermediate predictions of parts A and B of one component (w x h samples,
// subX/subY its subsampling, lumaW x lumaH the block in luma samples).
void GpmBlend(int32_t const* pA, int32_t const* pB, ptrdiff_t pStride, int w, int h, int subX, int subY,
              int splitIdx, int lumaW, int lumaH, int bitDepth, uint16_t* dst, ptrdiff_t dstStride);

// CIIP: the intra weight (1..3 of 4) from whether the left and top neighbours are intra, and the
// blend of a (mapped, for luma with LMCS) inter prediction with the intra planar prediction in
// place: inter = (w * intra + (4 - w) * inter + 2) >> 2.
int CiipWeight(bool leftIntra, bool topIntra);
// Chroma blocks narrower than 4 samples (4xN units in 4:2:0 and 4:2:2) keep their inter
// prediction unblended: no intra prediction is made for them.
inline bool CiipBlendsChroma(int chromaWidth) { return chromaWidth >= 4; }
void CiipBlend(uint16_t* inter, ptrdiff_t interStride, uint16_t const* intra, ptrdiff_t intraStride, int w, int h,
               int wIntra);

// LMCS: forward mapping of a luma inter prediction in place. (The chroma residual scale of an inter
// CU comes from the mapped luma next to its 64x64 area as for intra: LmcsModel::neighbourAverage.)
void ForwardMapLuma(vvcsyntax::LmcsModel const& lmcs, uint16_t* pred, ptrdiff_t stride, int w, int h);

} // namespace vvcinter
