#pragma once

#include "bitstream/Nal.h"
#include "util/VvcCommon.h"

#include <array>
#include <cstdint>
#include <vector>

// Complete high-level syntax of a single-layer Main 10 stream: sequence and picture parameter
// sets, adaptation parameter sets (ALF, LMCS, scaling lists) and the picture header, parsed to
// the last bit. Every value is read with bounds; a value out of its range, a structure that
// does not end where its unit ends, or a read past the end throws Exception.
namespace vvcsyntax {

struct RefPicListStruct
{
    int numRefEntries = 0;
    bool ltrpInHeader = false;
    int numLtrpEntries = 0;
    std::vector<bool> interLayer;
    std::vector<bool> shortTerm;
    std::vector<int> deltaPocSt; // signed, as signalled
    std::vector<int> pocLsbLt;
};

struct DpbParams
{
    int maxDecPicBufferingMinus1[8] = {};
    int maxNumReorderPics[8] = {};
    int maxLatencyIncreasePlus1[8] = {};
};

// Subpictures of a sequence: their rectangles in CTUs, flags and IDs as the SPS gives them. A
// sequence without subpicture information has one subpicture, the whole picture.
struct SubpicLayout
{
    std::vector<int> x, y, w, h; // top-left CTU column and row, width and height in CTUs
    std::vector<uint8_t> treatedAsPic, loopFilterAcross;
    bool independent = true;
    int idLenMinus1 = 0;
    bool idMappingExplicit = false, idMappingInSps = false;
    std::vector<uint32_t> ids; // the SPS's IDs when it carries them
    int count() const { return int(x.size()); }
};

// From sps_num_subpics_minus1 to the last subpicture ID. Sizes and positions not signalled are
// inferred; throws unless the subpictures cover the picture's CTUs exactly once.
void ParseSubpicInfo(InputBitstream& bs, int picWidthMax, int picHeightMax, int log2CtuSize, SubpicLayout& out);
// One subpicture covering a picture of the given size in CTUs.
SubpicLayout WholePictureSubpic(int widthCtbs, int heightCtbs);

struct SeqParameterSet
{
    int id = 0, vpsId = 0, maxSublayersMinus1 = 0, chromaFormatIdc = 1, log2CtuSize = 7;
    bool ptlDpbHrdPresent = false, gdrEnabled = false, rprEnabled = false, resChangeInClvs = false;
    int picWidthMax = 0, picHeightMax = 0;
    int confWin[4] = {}; // left, right, top, bottom
    bool subpicInfoPresent = false;
    int numSubpicsMinus1 = 0, subpicIdLenMinus1 = 0;
    SubpicLayout subpics; // filled in for every SPS: one subpicture without subpicture information
    int bitDepth = 8;
    bool entropyCodingSync = false, entryPointOffsetsPresent = false;
    int log2MaxPocLsb = 4;
    bool pocMsbCycleFlag = false;
    int pocMsbCycleLen = 0;
    int numExtraPhBits = 0, numExtraShBits = 0;
    bool sublayerDpbParams = false;
    DpbParams dpb;
    int log2MinCbSize = 2;
    bool partitionConstraintsOverride = false;
    // [0] intra luma, [1] intra chroma, [2] inter
    int log2DiffMinQtMinCb[3] = {}, maxMttDepth[3] = {}, log2DiffMaxBtMinQt[3] = {}, log2DiffMaxTtMinQt[3] = {};
    bool dualTreeIntra = false, maxLumaTransform64 = false;
    bool transformSkip = false, bdpcm = false;
    int log2TransformSkipMaxSize = 2;
    bool mts = false, explicitMtsIntra = false, explicitMtsInter = false, lfnst = false;
    bool jointCbCr = false, sameQpTableForChroma = true;
    // Chroma QP mapping tables, as signalled: start, then (delta in - 1, delta diff) pairs.
    int numQpTables = 0;
    int qpTableStartMinus26[3] = {};
    std::vector<int> deltaQpInValMinus1[3], deltaQpDiffVal[3];
    bool sao = false, alf = false, ccalf = false, lmcs = false;
    bool weightedPred = false, weightedBipred = false, longTermRefPics = false, interLayerPred = false;
    bool idrRplPresent = false, rpl1SameAsRpl0 = false;
    int numRefPicLists[2] = {};
    std::vector<RefPicListStruct> rpl[2];
    bool refWraparound = false, temporalMvp = false, sbtmvp = false, amvr = false, bdof = false,
         bdofControlInPh = false, smvd = false, dmvr = false, dmvrControlInPh = false, mmvd = false,
         mmvdFullpelOnly = false;
    int maxNumMergeCand = 6;
    bool sbt = false, affine = false, affine6Param = false, affineAmvr = false, prof = false, profControlInPh = false,
         bcw = false, ciip = false, gpm = false;
    int maxNumSubblockMergeCand = 0, maxNumGpmCand = 0, log2ParallelMergeLevel = 2;
    bool isp = false, mrl = false, mip = false, cclm = false, chromaHorCollocated = true, chromaVerCollocated = true;
    bool palette = false, act = false;
    int minQpPrimeTs = 0;
    bool ibc = false;
    int maxNumIbcMergeCand = 0;
    bool ladf = false;
    // Luma-adaptive deblocking: the QP offset of the lowest luma level interval, then of each
    // further interval with the lowest luma level it starts above.
    int ladfLowestQpOffset = 0;
    std::vector<int> ladfQpOffset, ladfLowerBound;
    bool explicitScalingMatrix = false, scalingMatrixForLfnstDisabled = false;
    bool depQuant = false, signDataHiding = false;
    bool virtualBoundariesEnabled = false, virtualBoundariesPresent = false;
    std::vector<int> vbPosX, vbPosY; // in luma samples
    bool fieldSeq = false;

    int ctbSize() const { return 1 << log2CtuSize; }
};

struct PicParameterSet
{
    int id = 0, spsId = 0;
    bool mixedNaluTypes = false;
    int picWidth = 0, picHeight = 0;
    int confWin[4] = {};
    // Scaling window offsets (left, right, top, bottom, in chroma sample units as coded); the
    // conformance window when not signalled.
    int scalingWin[4] = {};
    bool outputFlagPresent = false, noPicPartition = true;
    // Tiles and slices, derived: column widths and row heights in CTUs.
    std::vector<int> tileColWidth, tileRowHeight;
    bool loopFilterAcrossTiles = false, rectSlice = true, singleSlicePerSubpic = false;
    int numSlicesInPicMinus1 = 0;
    bool loopFilterAcrossSlices = false;
    // Rectangular slices: the CTU addresses (in raster order of the picture) of each slice, in
    // decoding order, and per slice the subpicture holding it.
    std::vector<std::vector<int>> sliceCtus;
    std::vector<int> sliceSubpic;
    // Per subpicture: its ID (the PPS's mapping, else the SPS's, else its index) and its slices
    // (indices into sliceCtus) in the order of their slice addresses.
    std::vector<uint32_t> subpicIdVal;
    std::vector<std::vector<int>> subpicSlices;
    bool cabacInitPresent = false;
    int numRefIdxDefaultActiveMinus1[2] = {};
    bool rpl1IdxPresent = false, weightedPred = false, weightedBipred = false, refWraparound = false;
    int wraparoundOffset = 0; // PpsRefWrapOffset, in units of the minimum coding block size
    int initQp = 26;
    bool cuQpDeltaEnabled = false, chromaToolOffsetsPresent = false;
    int cbQpOffset = 0, crQpOffset = 0;
    bool jointCbCrQpOffsetPresent = false;
    int jointCbCrQpOffset = 0;
    bool sliceChromaQpOffsetsPresent = false, cuChromaQpOffsetListEnabled = false;
    std::vector<int> cbQpOffsetList, crQpOffsetList, jointCbCrQpOffsetList;
    bool deblockingControlPresent = false, deblockingOverrideEnabled = false, deblockingDisabled = false,
         dbfInfoInPh = false;
    int betaOffsetDiv2[3] = {}, tcOffsetDiv2[3] = {}; // Y, Cb, Cr
    bool rplInfoInPh = false, saoInfoInPh = false, alfInfoInPh = false, wpInfoInPh = false, qpDeltaInfoInPh = false;
    bool pictureHeaderExtensionPresent = false, sliceHeaderExtensionPresent = false;

    int ctbSize = 0;
    int picWidthInCtbs = 0, picHeightInCtbs = 0;
    int numTileColumns() const { return int(tileColWidth.size()); }
    int numTileRows() const { return int(tileRowHeight.size()); }
    int numTiles() const { return numTileColumns() * numTileRows(); }
};

struct AlfParams
{
    bool lumaSignal = false, chromaSignal = false, ccCbSignal = false, ccCrSignal = false;
    bool lumaClip = false, chromaClip = false;
    int lumaNumFilters = 0;
    int lumaCoeffDeltaIdx[25] = {};
    std::vector<std::array<int, 12>> lumaCoeff, lumaClipIdx;
    int chromaNumAltFilters = 0;
    std::vector<std::array<int, 6>> chromaCoeff, chromaClipIdx;
    int ccNumFilters[2] = {};
    std::vector<std::array<int, 7>> ccCoeff[2];
};

struct LmcsParams
{
    int minBinIdx = 0, maxBinIdx = 15;
    int deltaCw[16] = {}; // signed
    int deltaCrs = 0;     // signed
};

struct ScalingListParams
{
    // 28 lists: the coefficients in up-right diagonal order, and the DC values of ids 14..27.
    bool copyMode[28] = {}, predMode[28] = {};
    int predIdDelta[28] = {};
    std::vector<int> coeff[28];
    int dc[14] = {};
};

struct AdaptationParameterSet
{
    int type = 0; // 0 ALF, 1 LMCS, 2 scaling lists
    int id = 0;
    bool chromaPresent = false;
    AlfParams alf;
    LmcsParams lmcs;
    ScalingListParams scaling;
};

struct RefPicLists
{
    bool rplSpsFlag[2] = {};
    int rplIdx[2] = {};
    RefPicListStruct own[2]; // lists signalled in the header
    std::vector<int> pocLsbLt[2];
    std::vector<bool> deltaPocMsbCyclePresent[2];
    std::vector<int> deltaPocMsbCycleLt[2];
    RefPicListStruct const& list(int i, SeqParameterSet const& sps) const;
};

// Explicit weighted prediction (pred_weight_table): per list and reference index the weights
// and offsets as the process uses them (LumaWeightLX, luma_offset_lX, ChromaWeightLX,
// ChromaOffsetLX), with the flags that say which are coded.
struct PredWeightTable
{
    int lumaLog2Denom = 0, chromaLog2Denom = 0;
    int numWeights[2] = {};
    struct Entry
    {
        bool lumaFlag = false, chromaFlag = false;
        int lumaWeight = 0, lumaOffset = 0;
        int chromaWeight[2] = {}, chromaOffset[2] = {};
    };
    std::vector<Entry> entries[2];
    // Whether reference `refIdx` of list `l` has explicit luma or chroma weights.
    bool weighted(int l, int refIdx) const
    {
        return refIdx >= 0 && size_t(refIdx) < entries[l].size() &&
               (entries[l][size_t(refIdx)].lumaFlag || entries[l][size_t(refIdx)].chromaFlag);
    }
};

struct PictureHeaderParams
{
    bool gdrOrIrap = false, nonRef = false, gdr = false, interAllowed = false, intraAllowed = true;
    int ppsId = 0, pocLsb = 0, recoveryPocCnt = 0;
    bool pocMsbCyclePresent = false;
    int pocMsbCycleVal = 0;
    bool alfEnabled = false;
    int numAlfApsIdsLuma = 0, alfApsIdLuma[8] = {}, alfApsIdChroma = 0;
    bool alfCbEnabled = false, alfCrEnabled = false, alfCcCbEnabled = false, alfCcCrEnabled = false;
    int alfCcCbApsId = 0, alfCcCrApsId = 0;
    bool lmcsEnabled = false, chromaResidualScale = false;
    int lmcsApsId = 0;
    bool explicitScalingList = false;
    int scalingListApsId = 0;
    bool picOutput = true;
    std::vector<int> vbPosX, vbPosY; // the picture's own virtual boundaries, in luma samples
    RefPicLists rpl;
    bool partitionOverride = false;
    int log2DiffMinQtMinCb[3] = {}, maxMttDepth[3] = {}, log2DiffMaxBtMinQt[3] = {}, log2DiffMaxTtMinQt[3] = {};
    int cuQpDeltaSubdivIntra = 0, cuChromaQpOffsetSubdivIntra = 0, cuQpDeltaSubdivInter = 0,
        cuChromaQpOffsetSubdivInter = 0;
    bool temporalMvp = false;
    // The collocated picture when the reference lists are in the picture header.
    bool collocatedFromL0 = true;
    int collocatedRefIdx = 0;
    bool mmvdFullpelOnly = false, mvdL1Zero = false, bdofDisabled = false, dmvrDisabled = false, profDisabled = false;
    PredWeightTable weights; // when the PPS puts it in the picture header
    int qpDelta = 0;
    bool jointCbCrSign = false;
    bool saoLuma = false, saoChroma = false;
    bool deblockingDisabled = false;
    int betaOffsetDiv2[3] = {}, tcOffsetDiv2[3] = {};
};

struct SliceHeaderParams
{
    bool phInSliceHeader = false;
    PictureHeaderParams ph; // the picture header in force for the slice (its own or the PH unit's)
    int subpicId = 0, sliceAddress = 0, numTilesInSlice = 1;
    int subpicIdx = 0; // the subpicture whose ID is subpicId
    int sliceType = 2; // 0 B, 1 P, 2 I
    bool noOutputOfPriorPics = false;
    bool alfEnabled = false;
    int numAlfApsIdsLuma = 0, alfApsIdLuma[8] = {}, alfApsIdChroma = 0;
    bool alfCbEnabled = false, alfCrEnabled = false, alfCcCbEnabled = false, alfCcCrEnabled = false;
    int alfCcCbApsId = 0, alfCcCrApsId = 0;
    bool lmcsUsed = false, explicitScalingListUsed = false;
    RefPicLists rpl;
    int numRefIdxActive[2] = {};
    bool cabacInit = false, collocatedFromL0 = true;
    int collocatedRefIdx = 0;
    PredWeightTable weights; // the slice's explicit weights (its own or the picture header's)
    int qpDelta = 0, cbQpOffset = 0, crQpOffset = 0, jointCbCrQpOffset = 0;
    bool cuChromaQpOffsetEnabled = false;
    bool saoLuma = false, saoChroma = false;
    bool deblockingDisabled = false;
    int betaOffsetDiv2[3] = {}, tcOffsetDiv2[3] = {};
    bool depQuant = false, signDataHiding = false, tsResidualCodingDisabled = false;
    std::vector<uint32_t> entryPointOffsets; // in bytes of the NAL unit, emulation prevention included
    std::vector<int> ctus;                   // CTU addresses of the slice, in decoding order
    uint64_t sliceDataByte = 0;              // first byte of the slice data in the RBSP
};

// The parsers start just after the NAL unit header. The picture header reads the PPS and SPS it
// refers to through `ppsOf` (null for an unknown id: throws).
void ParseSps(InputBitstream& bs, SeqParameterSet& sps);
void ParsePps(InputBitstream& bs, PicParameterSet& pps, SeqParameterSet const& sps);
void ParseAps(InputBitstream& bs, AdaptationParameterSet& aps);
void ParsePictureHeader(InputBitstream& bs, PictureHeaderParams& ph, PicParameterSet const& pps,
                        SeqParameterSet const& sps);
// The slice header to its byte alignment. `phUnit` is the picture header of the picture's PH
// unit, or null when there was none (the slice must then carry its own).
void ParseSliceHeader(InputBitstream& bs, SliceHeaderParams& sh, int nalUnitType, PictureHeaderParams const* phUnit,
                      PicParameterSet const& pps, SeqParameterSet const& sps);
// rbsp_trailing_bits: throws unless exactly the stop bit and zero bits are left.
void ReadTrailingBits(InputBitstream& bs);
// The first field of a picture header: the PPS it refers to, without moving the reader.
int PeekPictureHeaderPpsId(InputBitstream const& bs);

} // namespace vvcsyntax
