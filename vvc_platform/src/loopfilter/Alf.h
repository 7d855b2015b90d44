#pragma once

// Adaptive loop filter of a picture: the luma filters of an APS or of the 16 fixed filter sets
// with the per-4x4 classification (gradients, activity, direction, transpose), the 7x7 luma and
// 5x5 chroma diamond filters with non-linear clipping, and the cross-component filter that adds
// a luma-derived correction to Cb and Cr.
//
// The filters read the deblocked and SAO-filtered picture (an input copy that stays unchanged) and
// write the output planes, CTB by CTB, so CTBs can be filtered in any order or in parallel.
// Samples are 16-bit, planes addressed as samples[y * stride + x]. Main 10 formats: 4:2:0 and 4:0:0.
//
// Where the filters may read:
//  - Outside the picture, and across a CTB edge marked in AlfCtbParams::noCross (slice, tile or
//    subpicture boundary with loop filtering across it disabled), or across a picture virtual
//    boundary with filtering across it disabled, the nearest usable sample is repeated.
//  - The ALF virtual boundary, 4 luma (2 chroma) rows above the bottom of each CTB row, is never
//    crossed: rows above it and rows below it are filtered with symmetrically reduced taps, and the
//    two rows next to it with a smaller weight. It does not apply in a last CTB row too short to
//    contain it (boundary row at or below the picture's height).

#include "bitstream/Syntax.h"
#include "loopfilter/AlfKernels.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kAlfNumClasses = 25;
constexpr int kAlfNumFixedSets = 16;
constexpr int kAlfLumaTaps = 12;
constexpr int kAlfChromaTaps = 6;
constexpr int kCcAlfTaps = 7; // the eighth (centre) tap is implied: differences to the centre
constexpr int kAlfMaxLumaAps = 7;
constexpr int kAlfMaxChromaAlt = 8;
constexpr int kCcAlfMaxFilters = 4;

enum class AlfStatus : int {
    Ok = 0,
    InvalidArgument,   // planes missing or too small, bad sizes or positions
    MissingFilter,     // a CTB selects a filter the APS data does not carry
    UnsupportedFormat, // chroma format or bit depth outside what is handled
};

// ALF data of one adaptation parameter set, as the APS parser gives it. Coefficients are signed;
// CC-ALF coefficients are the mapped values (0 or +-2^k, |c| <= 64). Clipping indices are 0 where
// the clip flag is off.
using AlfApsData = vvcsyntax::AlfParams;

// The 25 class filters of one luma filter set: coefficients and clipping values (not indices).
struct AlfLumaFilterSet
{
    int16_t coeff[kAlfNumClasses][kAlfLumaTaps] = {};
    int32_t clip[kAlfNumClasses][kAlfLumaTaps] = {};
};

struct AlfChromaFilter
{
    int16_t coeff[kAlfChromaTaps] = {};
    int32_t clip[kAlfChromaTaps] = {};
};

struct CcAlfFilter
{
    int16_t coeff[kCcAlfTaps] = {};
};

// The fixed tables: AlfFixFiltCoeff (64 x 12) and AlfClassToFiltMap (16 sets x 25 classes).
extern const int8_t kAlfFixedFilterCoeff[64][12];
extern const uint8_t kAlfClassToFilter[16][25];

// The clipping value of clipping index 0..3 at a bit depth (2^BitDepth, then 2^(BitDepth - 1 - 2 idx)).
int AlfClipValue(int clipIdx, int bitDepth);

// Fixed filter set 0..15 (clipping values 2^BitDepth: no clipping).
AlfStatus AlfFixedFilterSet(int setIdx, int bitDepth, AlfLumaFilterSet& out);
// Luma filters of an APS: class k uses signalled filter lumaCoeffDeltaIdx[k].
AlfStatus AlfApsLumaFilterSet(AlfApsData const& aps, int bitDepth, AlfLumaFilterSet& out);
// Chroma alternative filter altIdx of an APS.
AlfStatus AlfApsChromaFilter(AlfApsData const& aps, int altIdx, int bitDepth, AlfChromaFilter& out);
// Cross-component filter filterIdx (0-based) of an APS for component comp (0 Cb, 1 Cr).
AlfStatus CcAlfApsFilter(AlfApsData const& aps, int comp, int filterIdx, CcAlfFilter& out);

// The filters one slice can select from, derived once per slice from the APSs its header names.
struct AlfSliceFilters
{
    AlfLumaFilterSet fixedSets[kAlfNumFixedSets];
    std::vector<AlfLumaFilterSet> lumaAps;  // [k]: APS slice_alf_aps_id_luma[k]
    std::vector<AlfChromaFilter> chromaAlt; // alternatives of APS slice_alf_aps_id_chroma
    std::vector<CcAlfFilter> cc[2];         // of APS slice_cc_alf_cb/cr_aps_id
};

// Fills `out`. lumaAps[k] (k < numLumaAps) are the luma APSs in the order of the slice header;
// chromaAps and ccAps[0/1] may be null when the slice does not use them. An APS named but without
// the data asked for gives MissingFilter.
AlfStatus BuildAlfSliceFilters(AlfApsData const* const* lumaAps, int numLumaAps, AlfApsData const* chromaAps,
                               AlfApsData const* const ccAps[2], int bitDepthLuma, int bitDepthChroma,
                               AlfSliceFilters& out);

// Edges of a CTB its filters may not read across (bits of AlfCtbParams::noCross). The corner bits
// are for raster-scan slices, where the above-left (below-right) CTB can lie in another slice while
// the CTBs above and left (below and right) do not: the samples there repeat the CTB's first (last)
// column.
enum AlfEdge : uint8_t {
    kAlfEdgeLeft = 1,
    kAlfEdgeRight = 2,
    kAlfEdgeTop = 4,
    kAlfEdgeBottom = 8,
    kAlfEdgeTopLeft = 16,
    kAlfEdgeBottomRight = 32,
};

// What one CTB does (from the CTU syntax and its slice).
struct AlfCtbParams
{
    AlfSliceFilters const* filters = nullptr; // of the CTB's slice; may be null when nothing is on
    bool enabled[3] = {};                     // alf_ctb_flag for Y, Cb, Cr
    int lumaFilterSet = 0;                    // AlfCtbFiltSetIdxY: 0..15 fixed set, 16 + k the k-th luma APS
    int chromaAltIdx[2] = {};                 // alf_ctb_filter_alt_idx for Cb, Cr
    int ccAlfIdc[2] = {};                     // alf_ctb_cc_cb/cr_idc: 0 off, k > 0 the (k - 1)-th CC filter of the APS
    uint8_t noCross = 0;                      // AlfEdge bits
};

struct AlfPlaneIn
{
    uint16_t const* samples = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

struct AlfPlaneOut
{
    uint16_t* samples = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

// The picture the filters run on.
struct AlfPictureInfo
{
    int chromaFormatIdc = 1; // 0 4:0:0, 1 4:2:0
    int bitDepthLuma = 10, bitDepthChroma = 10;
    int ctbSize = 128;         // CtbSizeY: 32, 64 or 128
    int width = 0, height = 0; // luma samples
    // Picture virtual boundaries (luma positions, multiples of 8) the filters may not cross; empty
    // when there are none or filtering across them is allowed.
    std::vector<int> virtualBoundaryX, virtualBoundaryY;
};

// Classification of the 4x4 luma blocks of the area [x0, x0 + w) x [y0, y0 + h) of a CTB (all
// multiples of 4, inside the CTB) into cls[(y / 4) * clsStride + x / 4] relative to (x0, y0).
// Reads the input plane under the same rules as the luma filter.
AlfStatus AlfClassifyLuma(AlfPictureInfo const& pic, AlfPlaneIn const& luma, int ctbX, int ctbY, uint8_t noCross,
                          int x0, int y0, int w, int h, AlfBlockClass* cls, int clsStride);

// Filters one CTB (ctbX, ctbY: its top-left luma sample) of all planes: a component whose ALF is off
// is copied, CC-ALF adds to the chroma result. in/out hold 1 (4:0:0) or 3 planes of the picture size.
AlfStatus ApplyAlfCtb(AlfPictureInfo const& pic, AlfPlaneIn const in[], AlfPlaneOut const out[], int ctbX, int ctbY,
                      AlfCtbParams const& ctb);

// All CTBs of the picture; ctbs in raster order (PicWidthInCtbs * PicHeightInCtbs entries). The
// CTBs are filtered in parallel on the decoding threads (util/WorkerPool.h).
AlfStatus ApplyAlfPicture(AlfPictureInfo const& pic, AlfPlaneIn const in[], AlfPlaneOut const out[],
                          std::vector<AlfCtbParams> const& ctbs);
// The same for the CTB rows [ctbRowBegin, ctbRowEnd) (reading the input rows next to them); the
// checks cover those rows.
AlfStatus ApplyAlfRows(AlfPictureInfo const& pic, AlfPlaneIn const in[], AlfPlaneOut const out[],
                       std::vector<AlfCtbParams> const& ctbs, int ctbRowBegin, int ctbRowEnd);

// From the slice parser's per-CTU control (fields alf[3], alfUseAps, alfFilterIdx, alfAltIdx[2],
// ccAlfIdc[2], e.g. CtuFilterParams); filters and noCross are the caller's.
template <class CtuControl>
AlfCtbParams AlfCtbParamsFrom(CtuControl const& c, AlfSliceFilters const* filters, uint8_t noCross)
{
    AlfCtbParams p;
    p.filters = filters;
    for (int k = 0; k < 3; ++k)
        p.enabled[k] = c.alf[k];
    p.lumaFilterSet = c.alfUseAps ? kAlfNumFixedSets + c.alfFilterIdx : c.alfFilterIdx;
    for (int k = 0; k < 2; ++k) {
        p.chromaAltIdx[k] = c.alfAltIdx[k];
        p.ccAlfIdc[k] = c.ccAlfIdc[k];
    }
    p.noCross = noCross;
    return p;
}
