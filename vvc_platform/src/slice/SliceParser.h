#pragma once

#include "bitstream/Syntax.h"
#include "slice/Cabac.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Entropy decoding of the slice data of I, P and B slices: CTU syntax (SAO, ALF and CC-ALF
// control), the coding tree with quad-tree and multi-type splits (dual tree in intra slices),
// coding units with all intra, block copy and inter modes, transform trees and units, and the
// coefficients of regular and transform-skip residual coding. The parse ends with the slice's
// terminating bin, which must come exactly at the end of the slice data: a check of the whole
// entropy decoding.
namespace vvcslice {

struct SliceParseResult
{
    bool ok = false;
    int ctus = 0; // CTUs parsed
    int codingUnits = 0;
    std::string error;
};

using ApsLookup = std::function<vvcsyntax::AdaptationParameterSet const*(int type, int id)>;

enum : int { kPlanar = 0, kDc = 1, kHor = 18, kVer = 50, kModeLtCclm = 81, kModeLCclm = 82, kModeTCclm = 83 };

// The coefficient levels of one transform block, in raster order of the block.
struct TransformBlock
{
    int cIdx = 0;
    int x = 0, y = 0, width = 0, height = 0; // in samples of the component
    bool transformSkip = false;
    int jointCbCr = 0; // 1, 2, 3: the block carries the joint Cb-Cr residual
    std::vector<int32_t> levels;
};

// How an inter coding unit's motion is coded: by a motion vector difference against a predictor
// (AMVP), or by one of the merge modes.
enum class MergeKind : uint8_t { None = 0, Regular, Mmvd, Subblock, Ciip, Gpm };
enum class CuPredMode : uint8_t { Intra = 0, Inter, Ibc };
enum : int { kPredL0 = 0, kPredL1 = 1, kPredBi = 2 };

// What the parse decodes of an inter coding unit's motion, before any motion derivation. Each
// value is as signalled, with the inferences of absent syntax elements applied.
struct InterUnitData
{
    bool skip = false;
    MergeKind merge = MergeKind::None;
    // Regular, CIIP and subblock merge: the candidate's index (merge_idx or
    // merge_subblock_idx). MMVD: the base candidate (mmvd_cand_flag) with the distance and
    // direction indices of the offset.
    int mergeIdx = 0;
    int mmvdCandFlag = 0, mmvdDistanceIdx = 0, mmvdDirectionIdx = 0;
    // GPM: the split (merge_gpm_partition_idx) and the merge candidates of the two parts, the
    // second one already resolved (merge_gpm_idx1 skips the first part's candidate).
    int gpmSplitIdx = 0, gpmCand[2] = {};
    // AMVP (merge None): the lists used, the reference index per list (-1 for a list not used),
    // the predictor flags and the motion vector differences per list and control point (one
    // for translational motion, two or three for affine), in sixteenths of a luma sample
    // (the AMVR shift applied; with the symmetric mode list 1 holds the negated list 0
    // difference; with ph_mvd_l1_zero_flag and bi-prediction list 1 is zero).
    int interPredIdc = kPredL0; // kPredL0, kPredL1, kPredBi
    int refIdx[2] = {-1, -1};
    bool mvpFlag[2] = {};
    int mvd[2][3][2] = {};
    bool affine = false;        // inter_affine_flag (AMVP) or the subblock merge mode
    bool affine6 = false;       // 6-parameter affine AMVP (cu_affine_type_flag)
    bool symMvd = false;        // sym_mvd_flag: refIdx holds RefIdxSymL0/L1
    int amvrShift = 2;          // AmvrShift: 2 quarter, 3 half, 4 whole, 6 four samples; affine 0, 2, 4
    bool halfPelFilter = false; // the alternative half-sample filter (AMVR half-sample precision)
    int bcwIdx = 0;             // bcw_idx (0 where absent: equal weights)
    // The residual: cu_coded_flag (false for skip), and the subblock transform: the coded part
    // (a half or, with sbtQuad, a quarter), split horizontal or vertical, at position 0 (left
    // or top) or 1.
    bool cuCoded = false;
    bool sbt = false, sbtQuad = false, sbtHorizontal = false;
    int sbtPos = 0;
};

// One coding unit, in decoding order: of an intra slice's dual tree or local dual tree, or of
// the single tree of any slice (then of any prediction mode). Positions and sizes in luma
// samples. Intra units carry their intra modes, block copy units their vector data, inter
// units `inter`; all of them the transform blocks and transform choices.
struct CodingUnit
{
    int tree = 0; // 0 luma, 1 chroma, 2 single tree
    int x = 0, y = 0, width = 0, height = 0;
    int qtDepth = 0;
    CuPredMode predMode = CuPredMode::Intra;
    bool ibc = false; // predicted by block copy (the intra modes do not apply)
    // Block copy: merge (also when skipped) with the candidate's index, or else the vector
    // difference, in units of 1 << ibcAmvrShift sixteenths of a sample, with the predictor's
    // index.
    bool ibcMerge = false;
    int ibcCandIdx = 0;
    int ibcMvd[2] = {};
    int ibcAmvrShift = 4;
    // Luma tree
    bool bdpcm = false;
    bool bdpcmVertical = false;
    bool bdpcmChroma = false; // BDPCM of the chroma blocks (chroma tree or single tree)
    bool bdpcmChromaVertical = false;
    bool mip = false;
    bool mipTransposed = false;
    int mipMode = 0;
    int refLine = 0;        // reference line 0, 1 or 3
    int isp = 0;            // 0 none, 1 horizontal, 2 vertical sub-partitions
    int lumaMode = kPlanar; // 0..66 (not meaningful for MIP)
    // Chroma tree
    int chromaMode = kPlanar; // 0..66, or 81..83 for the CCLM modes
    int lfnstIdx = 0;
    int mtsIdx = 0;             // explicit MTS of intra and inter units (0 DCT-2)
    int qpY = 26;               // QpY (of the luma unit at the centre for a chroma tree unit)
    int chromaQpOffset[3] = {}; // CuQpOffsetCb, CuQpOffsetCr, CuQpOffsetCbCr
    InterUnitData inter;        // predMode Inter (and the skip flag of skipped block copy units)
    std::vector<TransformBlock> blocks;
};
using IntraCodingUnit = CodingUnit;

// SAO and ALF parameters of one CTU (merges resolved).
struct CtuFilterParams
{
    int ctuAddr = 0;
    int saoType[3] = {};      // 0 off, 1 band, 2 edge
    int saoOffset[3][4] = {}; // signed, before the bit-depth scaling
    int saoBandPosition[3] = {};
    int saoEoClass[3] = {};
    bool alf[3] = {};
    bool alfUseAps = false;
    int alfFilterIdx = 0; // APS index or fixed filter set
    int alfAltIdx[2] = {};
    int ccAlfIdc[2] = {};
};

// Receives what the slice data decodes to, in decoding order.
class SliceDataSink
{
public:
    virtual ~SliceDataSink() = default;
    virtual void ctu(CtuFilterParams const&) {}
    virtual void codingUnit(CodingUnit const&) {}
};

// The most probable modes of a luma block from the modes of its left and above neighbours
// (kPlanar where a neighbour is missing, not intra or MIP coded).
void MostProbableModes(int left, int above, int mpm[6]);

// What the QP prediction of a quantization group depends on: the QpY of the last coding unit of
// the group before (the slice QP for the first group of a slice, tile or wavefront row), and the
// QpY of the coding units covering the samples left of and above the group's top-left sample
// (kNoQp where not available; the left one only inside the group's CTU).
constexpr int kNoQp = -1000;
struct QgNeighbours
{
    int prev = 26;
    int left = kNoQp;
    int above = kNoQp;
    bool aboveInCtu = false;     // the above coding unit lies in the group's CTU
    bool firstInTileRow = false; // the group starts the first CTU of a CTU row of its tile
};

// qPY_PRED: the above unit's QpY for the first group of a CTU row of a tile, else the rounded
// mean of the left and above QpY inside the CTU, each replaced by `prev` when missing.
int PredictQpY(QgNeighbours const& q);

// The context variables at the start of a slice of initialization type 0 (I), 1 or 2, and the
// index of the first context of a syntax element's group by its name ("MERGE_FLAG", "SKIP",
// ...: the parse's names; -1 if unknown). For tests that encode slice data.
std::vector<ContextModel> InitialContexts(int initType, int sliceQp);
int ContextOffset(std::string const& name);

// What the parse needs of a slice's active references (RefIdxSymLX, NoBackwardPredFlag): per
// list the POC distance of each (current POC minus the reference's) and whether it is long-term.
struct RefDistances
{
    std::vector<int> dist[2];
    std::vector<bool> longTerm[2];
};
// The distances the slice's reference picture lists code for their short-term entries;
// long-term entries count as preceding the picture (their POCs are the picture buffer's).
RefDistances HeaderRefDistances(vvcsyntax::SliceHeaderParams const& sh, vvcsyntax::SeqParameterSet const& sps);
// RefIdxSymL0 and RefIdxSymL1 of a B slice: the nearest short-term reference before the
// current picture in list 0 and after it in list 1 (else the other way round); -1 where there
// is none.
void SymmetricMvdRefIdx(RefDistances const& refs, int refIdxSym[2]);

// Frees the buffers parses keep for later ones (a decoder closing calls it).
void ReleaseParserBuffers();

// `data` is the slice data: the RBSP of the slice NAL unit from SliceHeaderParams::sliceDataByte.
// Slices of every type: the sink receives the CTUs and coding units in decoding order. Parsing
// needs nothing of the reconstruction or of derived motion; of the references only their POC
// distances, `refs` as the picture buffer resolves them (null: HeaderRefDistances).
SliceParseResult ParseSliceData(uint8_t const* data, size_t size, vvcsyntax::SeqParameterSet const& sps,
                                vvcsyntax::PicParameterSet const& pps, vvcsyntax::SliceHeaderParams const& sh,
                                ApsLookup const& aps, SliceDataSink* sink = nullptr,
                                RefDistances const* refs = nullptr);
// The same (the name of the intra-only parse).
inline SliceParseResult ParseIntraSliceData(uint8_t const* data, size_t size, vvcsyntax::SeqParameterSet const& sps,
                                            vvcsyntax::PicParameterSet const& pps,
                                            vvcsyntax::SliceHeaderParams const& sh, ApsLookup const& aps,
                                            SliceDataSink* sink = nullptr)
{
    return ParseSliceData(data, size, sps, pps, sh, aps, sink);
}

} // namespace vvcslice
