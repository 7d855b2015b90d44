#pragma once

#include "slice/Cabac.h"
#include "bitstream/Syntax.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Entropy decoding of the slice data of intra slices: CTU syntax (SAO, ALF and CC-ALF control),
// the coding tree with quad-tree and multi-type splits (dual tree), coding units with all intra
// modes, transform trees and units, and the coefficients of regular and transform-skip residual
// coding. The parse ends with the slice's terminating bin, which must come exactly at the end
// of the slice data: a check of the whole entropy decoding.
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

// One coding unit of an intra slice's dual tree, with its decoded syntax and the intra modes
// derived from it. Positions and sizes in luma samples.
struct IntraCodingUnit
{
    int tree = 0; // 0 luma, 1 chroma
    int x = 0, y = 0, width = 0, height = 0;
    int qtDepth = 0;
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
    int mtsIdx = 0;
    int qpY = 26;               // QpY (of the luma unit at the centre for a chroma tree unit)
    int chromaQpOffset[3] = {}; // CuQpOffsetCb, CuQpOffsetCr, CuQpOffsetCbCr
    std::vector<TransformBlock> blocks;
};

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
    virtual void codingUnit(IntraCodingUnit const&) {}
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

// `data` is the slice data: the RBSP of the slice NAL unit from SliceHeaderParams::sliceDataByte.
SliceParseResult ParseIntraSliceData(uint8_t const* data, size_t size, vvcsyntax::SeqParameterSet const& sps,
                                     vvcsyntax::PicParameterSet const& pps, vvcsyntax::SliceHeaderParams const& sh,
                                     ApsLookup const& aps, SliceDataSink* sink = nullptr);

} // namespace vvcslice
