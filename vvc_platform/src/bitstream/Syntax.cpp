#include "bitstream/Syntax.h"

#include "bitstream/ParameterSets.h"

#include <algorithm>

namespace vvcsyntax {

namespace {

uint32_t Ue(InputBitstream& bs, uint32_t maximum, char const* name)
{
    const uint32_t v = bs.readUvlc();
    VVC_CHECK(v > maximum, name << " out of range: " << v);
    return v;
}

int Se(InputBitstream& bs, int minimum, int maximum, char const* name)
{
    const uint32_t k = bs.readUvlc();
    const int64_t v = (k & 1) ? int64_t(k / 2) + 1 : -int64_t(k / 2);
    VVC_CHECK(v < minimum || v > maximum, name << " out of range: " << v);
    return int(v);
}

int CeilLog2(int64_t v)
{
    int n = 0;
    while ((int64_t(1) << n) < v)
        ++n;
    return n;
}

void SkipBits(InputBitstream& bs, uint64_t n)
{
    bs.skip(n);
}

void ParseDpbParams(InputBitstream& bs, DpbParams& dpb, int maxSubLayersMinus1, bool subLayerInfo)
{
    for (int i = subLayerInfo ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
        dpb.maxDecPicBufferingMinus1[i] = int(Ue(bs, 15, "dpb_max_dec_pic_buffering_minus1"));
        dpb.maxNumReorderPics[i] = int(Ue(bs, uint32_t(dpb.maxDecPicBufferingMinus1[i]), "dpb_max_num_reorder_pics"));
        dpb.maxLatencyIncreasePlus1[i] = int(Ue(bs, 0xFFFFFFFEu, "dpb_max_latency_increase_plus1"));
    }
    for (int i = 0; i < maxSubLayersMinus1 && !subLayerInfo; ++i) {
        dpb.maxDecPicBufferingMinus1[i] = dpb.maxDecPicBufferingMinus1[maxSubLayersMinus1];
        dpb.maxNumReorderPics[i] = dpb.maxNumReorderPics[maxSubLayersMinus1];
        dpb.maxLatencyIncreasePlus1[i] = dpb.maxLatencyIncreasePlus1[maxSubLayersMinus1];
    }
}

struct GeneralHrd
{
    bool nal = false, vcl = false, du = false;
    int cpbCntMinus1 = 0;
};

void ParseGeneralTimingHrd(InputBitstream& bs, GeneralHrd& hrd)
{
    bs.read(32); // num_units_in_tick
    bs.read(32); // time_scale
    hrd.nal = bs.readFlag();
    hrd.vcl = bs.readFlag();
    if (hrd.nal || hrd.vcl) {
        bs.readFlag(); // general_same_pic_timing_in_all_ols_flag
        hrd.du = bs.readFlag();
        if (hrd.du)
            bs.read(8); // tick_divisor_minus2
        bs.read(4);     // bit_rate_scale
        bs.read(4);     // cpb_size_scale
        if (hrd.du)
            bs.read(4); // cpb_size_du_scale
        hrd.cpbCntMinus1 = int(Ue(bs, 31, "hrd_cpb_cnt_minus1"));
    }
}

void ParseSublayerHrd(InputBitstream& bs, GeneralHrd const& hrd)
{
    for (int j = 0; j <= hrd.cpbCntMinus1; ++j) {
        bs.readUvlc(); // bit_rate_value_minus1
        bs.readUvlc(); // cpb_size_value_minus1
        if (hrd.du) {
            bs.readUvlc();
            bs.readUvlc();
        }
        bs.readFlag(); // cbr_flag
    }
}

void ParseOlsTimingHrd(InputBitstream& bs, GeneralHrd const& hrd, int first, int maxSubLayersMinus1)
{
    for (int i = first; i <= maxSubLayersMinus1; ++i) {
        bool const fixedGeneral = bs.readFlag();
        bool const fixedWithinCvs = fixedGeneral ? true : bs.readFlag();
        if (fixedWithinCvs)
            Ue(bs, 2047, "elemental_duration_in_tc_minus1");
        else if ((hrd.nal || hrd.vcl) && hrd.cpbCntMinus1 == 0)
            bs.readFlag(); // low_delay_hrd_flag
        if (hrd.nal)
            ParseSublayerHrd(bs, hrd);
        if (hrd.vcl)
            ParseSublayerHrd(bs, hrd);
    }
}

void ParseRefPicListStruct(InputBitstream& bs, RefPicListStruct& rpl, SeqParameterSet const& sps, int listIdx,
                           int rplsIdx)
{
    rpl = RefPicListStruct();
    rpl.numRefEntries = int(Ue(bs, 29, "num_ref_entries"));
    // Not signalled (a list in a header): the long-term POC LSBs follow in the header.
    rpl.ltrpInHeader = true;
    if (sps.longTermRefPics && rplsIdx < sps.numRefPicLists[listIdx] && rpl.numRefEntries > 0)
        rpl.ltrpInHeader = bs.readFlag();
    for (int i = 0; i < rpl.numRefEntries; ++i) {
        bool const interLayer = sps.interLayerPred ? bs.readFlag() : false;
        rpl.interLayer.push_back(interLayer);
        if (!interLayer) {
            bool const st = sps.longTermRefPics ? bs.readFlag() : true;
            rpl.shortTerm.push_back(st);
            if (st) {
                int const abs = int(Ue(bs, 32767, "abs_delta_poc_st"));
                int const absDelta = (sps.weightedPred || sps.weightedBipred) && i != 0 ? abs : abs + 1;
                bool const negative = absDelta > 0 ? bs.readFlag() : false;
                rpl.deltaPocSt.push_back(negative ? -absDelta : absDelta);
                rpl.pocLsbLt.push_back(0);
            } else {
                ++rpl.numLtrpEntries;
                rpl.deltaPocSt.push_back(0);
                rpl.pocLsbLt.push_back(rpl.ltrpInHeader ? 0 : int(bs.read(sps.log2MaxPocLsb)));
            }
        } else {
            rpl.shortTerm.push_back(false);
            rpl.deltaPocSt.push_back(0);
            rpl.pocLsbLt.push_back(0);
            bs.readUvlc(); // ilrp_idx
        }
    }
}

void ParseRefPicLists(InputBitstream& bs, RefPicLists& lists, SeqParameterSet const& sps, PicParameterSet const& pps)
{
    lists = RefPicLists();
    for (int i = 0; i < 2; ++i) {
        bool const signalled = i == 0 || pps.rpl1IdxPresent;
        if (sps.numRefPicLists[i] > 0 && signalled)
            lists.rplSpsFlag[i] = bs.readFlag();
        else if (sps.numRefPicLists[i] == 0)
            lists.rplSpsFlag[i] = false;
        else
            lists.rplSpsFlag[i] = lists.rplSpsFlag[0];
        if (lists.rplSpsFlag[i]) {
            if (sps.numRefPicLists[i] > 1 && signalled)
                lists.rplIdx[i] = int(bs.read(CeilLog2(sps.numRefPicLists[i])));
            else if (i == 1 && !pps.rpl1IdxPresent)
                lists.rplIdx[1] = lists.rplIdx[0];
            VVC_CHECK(lists.rplIdx[i] >= sps.numRefPicLists[i], "rpl_idx out of range");
        } else {
            ParseRefPicListStruct(bs, lists.own[i], sps, i, sps.numRefPicLists[i]);
        }
        RefPicListStruct const& rpl = lists.list(i, sps);
        for (int j = 0; j < rpl.numLtrpEntries; ++j) {
            lists.pocLsbLt[i].push_back(rpl.ltrpInHeader ? int(bs.read(sps.log2MaxPocLsb)) : 0);
            bool const present = bs.readFlag();
            lists.deltaPocMsbCyclePresent[i].push_back(present);
            lists.deltaPocMsbCycleLt[i].push_back(present ? int(Ue(bs, 1u << 28, "delta_poc_msb_cycle_lt")) : 0);
        }
    }
}

PredWeightTable ParsePredWeightTable(InputBitstream& bs, SeqParameterSet const& sps, PicParameterSet const& pps,
                                     RefPicLists const& rpl, int const numRefIdxActive[2])
{
    PredWeightTable t;
    t.lumaLog2Denom = int(Ue(bs, 7, "luma_log2_weight_denom"));
    t.chromaLog2Denom = t.lumaLog2Denom;
    if (sps.chromaFormatIdc != 0) {
        t.chromaLog2Denom += Se(bs, -7, 7, "delta_chroma_log2_weight_denom");
        VVC_CHECK(t.chromaLog2Denom < 0 || t.chromaLog2Denom > 7, "ChromaLog2WeightDenom out of range");
    }
    // The offsets are signalled at 8 bits (high-precision offsets are not in Main 10).
    int const halfRangeC = 128;
    for (int l = 0; l < 2; ++l) {
        int numWeights = 0;
        if (l == 0) {
            numWeights = pps.wpInfoInPh ? int(Ue(bs, 15, "num_l0_weights")) : numRefIdxActive[0];
        } else {
            int const entries1 = rpl.list(1, sps).numRefEntries;
            if (!pps.weightedBipred || (pps.wpInfoInPh && entries1 == 0))
                numWeights = 0;
            else
                numWeights = pps.wpInfoInPh ? int(Ue(bs, 15, "num_l1_weights")) : numRefIdxActive[1];
        }
        t.numWeights[l] = numWeights;
        auto& e = t.entries[l];
        e.resize(size_t(numWeights));
        for (auto& w : e)
            w.lumaFlag = bs.readFlag();
        if (sps.chromaFormatIdc != 0)
            for (auto& w : e)
                w.chromaFlag = bs.readFlag();
        for (auto& w : e) {
            w.lumaWeight = 1 << t.lumaLog2Denom;
            w.chromaWeight[0] = w.chromaWeight[1] = 1 << t.chromaLog2Denom;
            if (w.lumaFlag) {
                w.lumaWeight += Se(bs, -128, 127, "delta_luma_weight");
                w.lumaOffset = Se(bs, -128, 127, "luma_offset");
            }
            if (w.chromaFlag)
                for (int j = 0; j < 2; ++j) {
                    w.chromaWeight[j] += Se(bs, -128, 127, "delta_chroma_weight");
                    int const delta = Se(bs, -4 * halfRangeC, 4 * halfRangeC - 1, "delta_chroma_offset");
                    int const off = (halfRangeC - ((halfRangeC * w.chromaWeight[j]) >> t.chromaLog2Denom)) + delta;
                    w.chromaOffset[j] = std::min(std::max(off, -halfRangeC), halfRangeC - 1);
                }
        }
    }
    return t;
}

} // namespace

RefPicListStruct const& RefPicLists::list(int i, SeqParameterSet const& sps) const
{
    if (rplSpsFlag[i]) {
        int const l = sps.rpl1SameAsRpl0 ? 0 : i;
        VVC_CHECK(rplIdx[i] >= int(sps.rpl[l].size()), "Reference picture list index out of range");
        return sps.rpl[l][size_t(rplIdx[i])];
    }
    return own[i];
}

void ReadTrailingBits(InputBitstream& bs)
{
    int const rest = int(std::min<uint64_t>(bs.bitsLeft(), 9));
    VVC_CHECK(rest == 0 || rest > 8,
              "The structure does not end where its unit ends (" << bs.bitsLeft() << " bits left)");
    VVC_CHECK(bs.read(rest) != (1u << (rest - 1)), "Invalid trailing bits");
}

int PeekPictureHeaderPpsId(InputBitstream const& in)
{
    InputBitstream bs = in;
    bool const irap = bs.readFlag();
    bs.readFlag();
    if (irap)
        bs.readFlag();
    if (bs.readFlag())
        bs.readFlag();
    return int(Ue(bs, 63, "ph_pic_parameter_set_id"));
}

SubpicLayout WholePictureSubpic(int widthCtbs, int heightCtbs)
{
    SubpicLayout l;
    l.x = {0};
    l.y = {0};
    l.w = {widthCtbs};
    l.h = {heightCtbs};
    l.treatedAsPic = {1};
    l.loopFilterAcross = {0};
    return l;
}

void ParseSubpicInfo(InputBitstream& bs, int picWidthMax, int picHeightMax, int log2CtuSize, SubpicLayout& l)
{
    int const ctb = 1 << log2CtuSize;
    int const widthCtbs = (picWidthMax + ctb - 1) / ctb, heightCtbs = (picHeightMax + ctb - 1) / ctb;
    int const num = int(Ue(bs, uint32_t(std::min(599, widthCtbs * heightCtbs - 1)), "sps_num_subpics_minus1")) + 1;
    l = WholePictureSubpic(widthCtbs, heightCtbs);
    bool sameSize = false;
    if (num > 1) {
        l.independent = bs.readFlag();
        sameSize = bs.readFlag();
        l.x.assign(size_t(num), 0);
        l.y.assign(size_t(num), 0);
        l.w.assign(size_t(num), 0);
        l.h.assign(size_t(num), 0);
        // Independent subpictures are treated as pictures and closed to the loop filters.
        l.treatedAsPic.assign(size_t(num), 1);
        l.loopFilterAcross.assign(size_t(num), 0);
        bool const xBits = picWidthMax > ctb, yBits = picHeightMax > ctb;
        int const xLen = CeilLog2(widthCtbs), yLen = CeilLog2(heightCtbs);
        for (int i = 0; i < num; ++i) {
            size_t const k = size_t(i);
            if (!sameSize || i == 0) {
                l.x[k] = i > 0 && xBits ? int(bs.read(xLen)) : 0;
                l.y[k] = i > 0 && yBits ? int(bs.read(yLen)) : 0;
                VVC_CHECK(l.x[k] >= widthCtbs || l.y[k] >= heightCtbs, "Subpicture " << i << " outside the picture");
                // The last one, and any in a picture one CTU wide or high, reach the picture's edge.
                l.w[k] = i < num - 1 && xBits ? int(bs.read(xLen)) + 1 : widthCtbs - l.x[k];
                l.h[k] = i < num - 1 && yBits ? int(bs.read(yLen)) + 1 : heightCtbs - l.y[k];
            } else {
                // Equal sizes: a grid of the first one's size in raster order.
                int const cols = std::max(1, widthCtbs / l.w[0]);
                l.x[k] = (i % cols) * l.w[0];
                l.y[k] = (i / cols) * l.h[0];
                l.w[k] = l.w[0];
                l.h[k] = l.h[0];
            }
            if (!l.independent) {
                l.treatedAsPic[k] = bs.readFlag() ? 1 : 0;
                l.loopFilterAcross[k] = bs.readFlag() ? 1 : 0;
            }
        }
        // Every CTU of the picture in exactly one subpicture.
        std::vector<uint8_t> covered(size_t(widthCtbs) * size_t(heightCtbs), 0);
        for (int i = 0; i < num; ++i) {
            size_t const k = size_t(i);
            VVC_CHECK(l.x[k] + l.w[k] > widthCtbs || l.y[k] + l.h[k] > heightCtbs,
                      "Subpicture " << i << " reaches outside the picture");
            for (int y = l.y[k]; y < l.y[k] + l.h[k]; ++y)
                for (int x = l.x[k]; x < l.x[k] + l.w[k]; ++x) {
                    uint8_t& c = covered[size_t(y) * size_t(widthCtbs) + size_t(x)];
                    VVC_CHECK(c, "Subpictures overlap");
                    c = 1;
                }
        }
        VVC_CHECK(std::find(covered.begin(), covered.end(), 0) != covered.end(),
                  "Subpictures do not cover the picture");
    }
    l.idLenMinus1 = int(Ue(bs, 15, "sps_subpic_id_len_minus1"));
    VVC_CHECK((1 << (l.idLenMinus1 + 1)) < num, "sps_subpic_id_len_minus1 too small for the subpictures");
    l.idMappingExplicit = bs.readFlag();
    if (l.idMappingExplicit) {
        l.idMappingInSps = bs.readFlag();
        if (l.idMappingInSps)
            for (int i = 0; i < num; ++i)
                l.ids.push_back(bs.read(l.idLenMinus1 + 1));
    }
}

void ParseSps(InputBitstream& bs, SeqParameterSet& s)
{
    s = SeqParameterSet();
    s.id = int(bs.read(4));
    s.vpsId = int(bs.read(4));
    s.maxSublayersMinus1 = int(bs.read(3));
    VVC_CHECK(s.maxSublayersMinus1 > 6, "sps_max_sublayers_minus1 out of range");
    s.chromaFormatIdc = int(bs.read(2));
    int const log2CtuMinus5 = int(bs.read(2));
    VVC_CHECK(log2CtuMinus5 > 2, "sps_log2_ctu_size_minus5 out of range");
    s.log2CtuSize = log2CtuMinus5 + 5;
    s.ptlDpbHrdPresent = bs.readFlag();
    if (s.ptlDpbHrdPresent)
        ParseProfileTierLevel(bs, true, s.maxSublayersMinus1);
    s.gdrEnabled = bs.readFlag();
    s.rprEnabled = bs.readFlag();
    if (s.rprEnabled)
        s.resChangeInClvs = bs.readFlag();
    s.picWidthMax = int(Ue(bs, kMaxPictureDimension, "sps_pic_width_max_in_luma_samples"));
    s.picHeightMax = int(Ue(bs, kMaxPictureDimension, "sps_pic_height_max_in_luma_samples"));
    VVC_CHECK(s.picWidthMax < 8 || s.picHeightMax < 8 || int64_t(s.picWidthMax) * s.picHeightMax > kMaxLumaPictureSize,
              "Invalid picture size");
    if (bs.readFlag())
        for (int& w : s.confWin)
            w = int(Ue(bs, kMaxPictureDimension, "sps_conf_win_offset"));
    {
        int const unitX = s.chromaFormatIdc == 1 || s.chromaFormatIdc == 2 ? 2 : 1;
        int const unitY = s.chromaFormatIdc == 1 ? 2 : 1;
        VVC_CHECK(int64_t(s.confWin[0] + s.confWin[1]) * unitX >= s.picWidthMax ||
                      int64_t(s.confWin[2] + s.confWin[3]) * unitY >= s.picHeightMax,
                  "Conformance window leaves no picture");
    }
    int const ctb = s.ctbSize();
    int const widthCtbs = (s.picWidthMax + ctb - 1) / ctb, heightCtbs = (s.picHeightMax + ctb - 1) / ctb;
    s.subpicInfoPresent = bs.readFlag();
    if (s.subpicInfoPresent)
        ParseSubpicInfo(bs, s.picWidthMax, s.picHeightMax, s.log2CtuSize, s.subpics);
    else
        s.subpics = WholePictureSubpic(widthCtbs, heightCtbs);
    s.numSubpicsMinus1 = s.subpics.count() - 1;
    s.subpicIdLenMinus1 = s.subpics.idLenMinus1;
    s.bitDepth = int(Ue(bs, 8, "sps_bitdepth_minus8")) + 8;
    s.entropyCodingSync = bs.readFlag();
    s.entryPointOffsetsPresent = bs.readFlag();
    s.log2MaxPocLsb = int(bs.read(4)) + 4;
    VVC_CHECK(s.log2MaxPocLsb > 16, "sps_log2_max_pic_order_cnt_lsb_minus4 out of range");
    s.pocMsbCycleFlag = bs.readFlag();
    if (s.pocMsbCycleFlag)
        s.pocMsbCycleLen = int(Ue(bs, uint32_t(32 - s.log2MaxPocLsb - 1), "sps_poc_msb_cycle_len_minus1")) + 1;
    int const extraPhBytes = int(bs.read(2));
    for (int i = 0; i < extraPhBytes * 8; ++i)
        s.numExtraPhBits += bs.readFlag() ? 1 : 0;
    int const extraShBytes = int(bs.read(2));
    for (int i = 0; i < extraShBytes * 8; ++i)
        s.numExtraShBits += bs.readFlag() ? 1 : 0;
    if (s.ptlDpbHrdPresent) {
        if (s.maxSublayersMinus1 > 0)
            s.sublayerDpbParams = bs.readFlag();
        ParseDpbParams(bs, s.dpb, s.maxSublayersMinus1, s.sublayerDpbParams);
    }
    s.log2MinCbSize =
        int(Ue(bs, uint32_t(std::min(4, s.log2CtuSize - 2)), "sps_log2_min_luma_coding_block_size_minus2")) + 2;
    int const sizeUnit = std::max(8, 1 << s.log2MinCbSize);
    VVC_CHECK(s.picWidthMax % sizeUnit || s.picHeightMax % sizeUnit, "Picture size not a multiple of " << sizeUnit);
    s.partitionConstraintsOverride = bs.readFlag();
    auto partition = [&](int k) {
        s.log2DiffMinQtMinCb[k] =
            int(Ue(bs, uint32_t(std::min(6, s.log2CtuSize) - s.log2MinCbSize), "log2_diff_min_qt_min_cb"));
        s.maxMttDepth[k] = int(Ue(bs, uint32_t(2 * (s.log2CtuSize - s.log2MinCbSize)), "max_mtt_hierarchy_depth"));
        if (s.maxMttDepth[k] != 0) {
            const int minQt = s.log2MinCbSize + s.log2DiffMinQtMinCb[k];
            s.log2DiffMaxBtMinQt[k] =
                int(Ue(bs, uint32_t(std::max(0, (k == 1 ? std::min(6, s.log2CtuSize) : s.log2CtuSize) - minQt)),
                       "log2_diff_max_bt_min_qt"));
            s.log2DiffMaxTtMinQt[k] =
                int(Ue(bs, uint32_t(std::max(0, std::min(6, s.log2CtuSize) - minQt)), "log2_diff_max_tt_min_qt"));
        }
    };
    partition(0);
    if (s.chromaFormatIdc != 0)
        s.dualTreeIntra = bs.readFlag();
    if (s.dualTreeIntra)
        partition(1);
    partition(2);
    if (s.ctbSize() > 32)
        s.maxLumaTransform64 = bs.readFlag();
    s.transformSkip = bs.readFlag();
    if (s.transformSkip) {
        s.log2TransformSkipMaxSize = int(Ue(bs, 3, "sps_log2_transform_skip_max_size_minus2")) + 2;
        s.bdpcm = bs.readFlag();
    }
    s.mts = bs.readFlag();
    if (s.mts) {
        s.explicitMtsIntra = bs.readFlag();
        s.explicitMtsInter = bs.readFlag();
    }
    s.lfnst = bs.readFlag();
    if (s.chromaFormatIdc != 0) {
        s.jointCbCr = bs.readFlag();
        s.sameQpTableForChroma = bs.readFlag();
        s.numQpTables = s.sameQpTableForChroma ? 1 : s.jointCbCr ? 3 : 2;
        int const qpBdOffset = 6 * (s.bitDepth - 8);
        for (int i = 0; i < s.numQpTables; ++i) {
            s.qpTableStartMinus26[i] = Se(bs, -26 - qpBdOffset, 36, "sps_qp_table_start_minus26");
            int const points =
                int(Ue(bs, uint32_t(36 - s.qpTableStartMinus26[i]), "sps_num_points_in_qp_table_minus1")) + 1;
            for (int j = 0; j < points; ++j) {
                s.deltaQpInValMinus1[i].push_back(int(Ue(bs, 127, "sps_delta_qp_in_val_minus1")));
                s.deltaQpDiffVal[i].push_back(int(Ue(bs, 127, "sps_delta_qp_diff_val")));
            }
        }
    }
    s.sao = bs.readFlag();
    s.alf = bs.readFlag();
    if (s.alf && s.chromaFormatIdc != 0)
        s.ccalf = bs.readFlag();
    s.lmcs = bs.readFlag();
    s.weightedPred = bs.readFlag();
    s.weightedBipred = bs.readFlag();
    s.longTermRefPics = bs.readFlag();
    if (s.vpsId > 0)
        s.interLayerPred = bs.readFlag();
    s.idrRplPresent = bs.readFlag();
    s.rpl1SameAsRpl0 = bs.readFlag();
    for (int i = 0; i < (s.rpl1SameAsRpl0 ? 1 : 2); ++i) {
        s.numRefPicLists[i] = int(Ue(bs, 64, "sps_num_ref_pic_lists"));
        s.rpl[i].resize(size_t(s.numRefPicLists[i]));
        for (int j = 0; j < s.numRefPicLists[i]; ++j)
            ParseRefPicListStruct(bs, s.rpl[i][size_t(j)], s, i, j);
    }
    if (s.rpl1SameAsRpl0) {
        s.numRefPicLists[1] = s.numRefPicLists[0];
        s.rpl[1] = s.rpl[0];
    }
    s.refWraparound = bs.readFlag();
    s.temporalMvp = bs.readFlag();
    if (s.temporalMvp)
        s.sbtmvp = bs.readFlag();
    s.amvr = bs.readFlag();
    s.bdof = bs.readFlag();
    if (s.bdof)
        s.bdofControlInPh = bs.readFlag();
    s.smvd = bs.readFlag();
    s.dmvr = bs.readFlag();
    if (s.dmvr)
        s.dmvrControlInPh = bs.readFlag();
    s.mmvd = bs.readFlag();
    if (s.mmvd)
        s.mmvdFullpelOnly = bs.readFlag();
    s.maxNumMergeCand = 6 - int(Ue(bs, 5, "sps_six_minus_max_num_merge_cand"));
    s.sbt = bs.readFlag();
    s.affine = bs.readFlag();
    if (s.affine) {
        s.maxNumSubblockMergeCand = 5 - int(Ue(bs, 5, "sps_five_minus_max_num_subblock_merge_cand"));
        s.affine6Param = bs.readFlag();
        if (s.amvr)
            s.affineAmvr = bs.readFlag();
        s.prof = bs.readFlag();
        if (s.prof)
            s.profControlInPh = bs.readFlag();
    }
    s.bcw = bs.readFlag();
    s.ciip = bs.readFlag();
    if (s.maxNumMergeCand >= 2) {
        s.gpm = bs.readFlag();
        if (s.gpm)
            s.maxNumGpmCand = s.maxNumMergeCand >= 3
                                  ? s.maxNumMergeCand - int(Ue(bs, uint32_t(s.maxNumMergeCand - 2),
                                                               "sps_max_num_merge_cand_minus_max_num_gpm_cand"))
                                  : 2;
    }
    s.log2ParallelMergeLevel = int(Ue(bs, uint32_t(s.log2CtuSize - 2), "sps_log2_parallel_merge_level_minus2")) + 2;
    s.isp = bs.readFlag();
    s.mrl = bs.readFlag();
    s.mip = bs.readFlag();
    if (s.chromaFormatIdc != 0)
        s.cclm = bs.readFlag();
    if (s.chromaFormatIdc == 1) {
        s.chromaHorCollocated = bs.readFlag();
        s.chromaVerCollocated = bs.readFlag();
    }
    s.palette = bs.readFlag();
    if (s.chromaFormatIdc == 3 && !s.maxLumaTransform64)
        s.act = bs.readFlag();
    if (s.transformSkip || s.palette)
        s.minQpPrimeTs = int(Ue(bs, 8, "sps_min_qp_prime_ts"));
    s.ibc = bs.readFlag();
    if (s.ibc)
        s.maxNumIbcMergeCand = 6 - int(Ue(bs, 5, "sps_six_minus_max_num_ibc_merge_cand"));
    s.ladf = bs.readFlag();
    if (s.ladf) {
        int const intervals = int(bs.read(2)) + 2;
        s.ladfLowestQpOffset = Se(bs, -63, 63, "sps_ladf_lowest_interval_qp_offset");
        int bound = 0;
        for (int i = 0; i < intervals - 1; ++i) {
            s.ladfQpOffset.push_back(Se(bs, -63, 63, "sps_ladf_qp_offset"));
            bound += int(Ue(bs, (1u << s.bitDepth) - 3, "sps_ladf_delta_threshold_minus1")) + 1;
            s.ladfLowerBound.push_back(bound);
        }
    }
    s.explicitScalingMatrix = bs.readFlag();
    if (s.explicitScalingMatrix && s.lfnst)
        s.scalingMatrixForLfnstDisabled = bs.readFlag();
    bool altColourSpaceDisabled = false;
    if (s.act && s.explicitScalingMatrix)
        altColourSpaceDisabled = bs.readFlag();
    if (altColourSpaceDisabled)
        bs.readFlag(); // sps_scaling_matrix_designated_colour_space_flag
    s.depQuant = bs.readFlag();
    s.signDataHiding = bs.readFlag();
    s.virtualBoundariesEnabled = bs.readFlag();
    if (s.virtualBoundariesEnabled) {
        s.virtualBoundariesPresent = bs.readFlag();
        if (s.virtualBoundariesPresent) {
            int const numVer = int(Ue(bs, s.picWidthMax <= 8 ? 0 : 3, "sps_num_ver_virtual_boundaries"));
            for (int i = 0; i < numVer; ++i)
                s.vbPosX.push_back(
                    (int(Ue(bs, uint32_t((s.picWidthMax + 7) / 8 - 2), "sps_virtual_boundary_pos_x_minus1")) + 1) * 8);
            int const numHor = int(Ue(bs, s.picHeightMax <= 8 ? 0 : 3, "sps_num_hor_virtual_boundaries"));
            for (int i = 0; i < numHor; ++i)
                s.vbPosY.push_back(
                    (int(Ue(bs, uint32_t((s.picHeightMax + 7) / 8 - 2), "sps_virtual_boundary_pos_y_minus1")) + 1) * 8);
        }
    }
    if (s.ptlDpbHrdPresent && bs.readFlag()) { // sps_timing_hrd_params_present_flag
        GeneralHrd hrd;
        ParseGeneralTimingHrd(bs, hrd);
        bool const sublayerCpb = s.maxSublayersMinus1 > 0 ? bs.readFlag() : false;
        ParseOlsTimingHrd(bs, hrd, sublayerCpb ? 0 : s.maxSublayersMinus1, s.maxSublayersMinus1);
    }
    s.fieldSeq = bs.readFlag();
    if (bs.readFlag()) { // sps_vui_parameters_present_flag
        const uint32_t size = Ue(bs, 1023, "sps_vui_payload_size_minus1") + 1;
        while (!bs.isByteAligned())
            VVC_CHECK(bs.readFlag(), "sps_vui_alignment_zero_bit is set");
        SkipBits(bs, uint64_t(size) * 8);
    }
    if (bs.readFlag()) // sps_extension_flag: extension data up to the trailing bits
        return;
    ReadTrailingBits(bs);
}

namespace {

// Tile columns or rows of explicit sizes, then the last explicit size repeated to the end.
std::vector<int> TileSizes(InputBitstream& bs, int numExplicit, int total, char const* name)
{
    std::vector<int> sizes;
    int left = total;
    for (int i = 0; i < numExplicit; ++i) {
        int const size = int(Ue(bs, uint32_t(std::max(0, left - 1)), name)) + 1;
        VVC_CHECK(size > left, name << " beyond the picture");
        sizes.push_back(size);
        left -= size;
    }
    int const uniform = sizes.back();
    while (left >= uniform) {
        sizes.push_back(uniform);
        left -= uniform;
    }
    if (left > 0)
        sizes.push_back(left);
    return sizes;
}

// All CTUs of the picture in tile scan.
std::vector<int> TileScanOrder(PicParameterSet const& p)
{
    std::vector<int> ctus;
    ctus.reserve(size_t(p.picWidthInCtbs) * size_t(p.picHeightInCtbs));
    for (int ty = 0, y0 = 0; ty < p.numTileRows(); y0 += p.tileRowHeight[size_t(ty)], ++ty)
        for (int tx = 0, x0 = 0; tx < p.numTileColumns(); x0 += p.tileColWidth[size_t(tx)], ++tx)
            for (int y = y0; y < y0 + p.tileRowHeight[size_t(ty)]; ++y)
                for (int x = x0; x < x0 + p.tileColWidth[size_t(tx)]; ++x)
                    ctus.push_back(y * p.picWidthInCtbs + x);
    return ctus;
}

// The slices of each subpicture: with one slice per subpicture its CTUs in tile scan, else the
// PPS's slices, each assigned to the subpicture holding it. Slice addresses count the slices
// within a subpicture, in the order of the PPS.
void DeriveSubpicSlices(PicParameterSet& p, SeqParameterSet const& sps)
{
    // An SPS built without its layout has the one subpicture of the whole picture.
    SubpicLayout const sub =
        sps.subpics.count() > 0 ? sps.subpics : WholePictureSubpic(p.picWidthInCtbs, p.picHeightInCtbs);
    int const num = sub.count();
    p.subpicSlices.assign(size_t(num), {});
    if (!p.rectSlice) {
        VVC_CHECK(num > 1, "Raster-scan slices in a picture of several subpictures");
        return;
    }
    std::vector<int> ctuSubpic(size_t(p.picWidthInCtbs) * size_t(p.picHeightInCtbs), 0);
    for (int i = 1; i < num; ++i)
        for (int y = sub.y[size_t(i)]; y < sub.y[size_t(i)] + sub.h[size_t(i)]; ++y)
            for (int x = sub.x[size_t(i)]; x < sub.x[size_t(i)] + sub.w[size_t(i)]; ++x)
                ctuSubpic[size_t(y) * size_t(p.picWidthInCtbs) + size_t(x)] = i;
    if (p.noPicPartition || p.singleSlicePerSubpic) {
        p.sliceCtus.assign(size_t(num), {});
        for (int c : TileScanOrder(p))
            p.sliceCtus[size_t(ctuSubpic[size_t(c)])].push_back(c);
        p.numSlicesInPicMinus1 = num - 1;
    }
    p.sliceSubpic.clear();
    for (size_t j = 0; j < p.sliceCtus.size(); ++j) {
        VVC_CHECK(p.sliceCtus[j].empty(), "Slice without CTUs");
        int const s = ctuSubpic[size_t(p.sliceCtus[j].front())];
        for (int c : p.sliceCtus[j])
            VVC_CHECK(ctuSubpic[size_t(c)] != s, "Slice " << j << " in two subpictures");
        p.sliceSubpic.push_back(s);
        p.subpicSlices[size_t(s)].push_back(int(j));
    }
    for (int i = 0; i < num; ++i)
        VVC_CHECK(p.subpicSlices[size_t(i)].empty(), "Subpicture " << i << " without slices");
}

} // namespace

void ParsePps(InputBitstream& bs, PicParameterSet& p, SeqParameterSet const& sps)
{
    p = PicParameterSet();
    p.id = int(bs.read(6));
    p.spsId = int(bs.read(4));
    VVC_CHECK(p.spsId != sps.id, "PPS refers to another SPS");
    p.mixedNaluTypes = bs.readFlag();
    p.picWidth = int(Ue(bs, uint32_t(sps.picWidthMax), "pps_pic_width_in_luma_samples"));
    p.picHeight = int(Ue(bs, uint32_t(sps.picHeightMax), "pps_pic_height_in_luma_samples"));
    int const minCb = std::max(8, 1 << sps.log2MinCbSize);
    VVC_CHECK(p.picWidth == 0 || p.picHeight == 0 || p.picWidth % minCb || p.picHeight % minCb,
              "Invalid picture size " << p.picWidth << "x" << p.picHeight);
    if (bs.readFlag()) {
        for (int& w : p.confWin)
            w = int(Ue(bs, kMaxPictureDimension, "pps_conf_win_offset"));
    } else if (p.picWidth == sps.picWidthMax && p.picHeight == sps.picHeightMax) {
        std::copy(std::begin(sps.confWin), std::end(sps.confWin), p.confWin);
    }
    if (bs.readFlag()) { // pps_scaling_window_explicit_signalling_flag
        for (int& w : p.scalingWin)
            w = Se(bs, -kMaxPictureDimension, kMaxPictureDimension, "pps_scaling_win_offset");
    } else {
        std::copy(std::begin(p.confWin), std::end(p.confWin), p.scalingWin);
    }
    p.outputFlagPresent = bs.readFlag();
    p.noPicPartition = bs.readFlag();
    VVC_CHECK(p.noPicPartition && sps.numSubpicsMinus1 > 0, "A picture of several subpictures without partitions");
    VVC_CHECK(sps.numSubpicsMinus1 > 0 && (p.picWidth != sps.picWidthMax || p.picHeight != sps.picHeightMax),
              "A picture of several subpictures smaller than the SPS's size");
    bool const subpicIdMapping = bs.readFlag();
    std::vector<uint32_t> ppsIds;
    if (subpicIdMapping) {
        int const numSubpicsMinus1 =
            p.noPicPartition ? 0 : int(Ue(bs, uint32_t(sps.numSubpicsMinus1), "pps_num_subpics_minus1"));
        VVC_CHECK(numSubpicsMinus1 != sps.numSubpicsMinus1, "pps_num_subpics_minus1 differs from the SPS");
        int const len = int(Ue(bs, 15, "pps_subpic_id_len_minus1")) + 1;
        VVC_CHECK(len != sps.subpicIdLenMinus1 + 1, "pps_subpic_id_len_minus1 differs from the SPS");
        for (int i = 0; i <= numSubpicsMinus1; ++i)
            ppsIds.push_back(bs.read(len));
    }
    // The subpicture IDs the slice headers name: the PPS's override the SPS's.
    SubpicLayout const& subpics = sps.subpics;
    for (int i = 0; i < subpics.count(); ++i) {
        uint32_t id = uint32_t(i);
        if (subpics.idMappingExplicit) {
            VVC_CHECK(!subpicIdMapping && !subpics.idMappingInSps, "Subpicture IDs neither in the SPS nor the PPS");
            id = subpicIdMapping ? ppsIds[size_t(i)] : subpics.ids[size_t(i)];
        }
        VVC_CHECK(std::find(p.subpicIdVal.begin(), p.subpicIdVal.end(), id) != p.subpicIdVal.end(),
                  "Two subpictures of ID " << id);
        p.subpicIdVal.push_back(id);
    }
    int const log2Ctb = p.noPicPartition ? sps.log2CtuSize : int(bs.read(2)) + 5;
    VVC_CHECK(log2Ctb != sps.log2CtuSize, "pps_log2_ctu_size_minus5 differs from the SPS");
    p.ctbSize = 1 << log2Ctb;
    p.picWidthInCtbs = (p.picWidth + p.ctbSize - 1) / p.ctbSize;
    p.picHeightInCtbs = (p.picHeight + p.ctbSize - 1) / p.ctbSize;
    if (p.noPicPartition) {
        p.tileColWidth = {p.picWidthInCtbs};
        p.tileRowHeight = {p.picHeightInCtbs};
        p.numSlicesInPicMinus1 = 0;
        p.rectSlice = true;
        p.singleSlicePerSubpic = true;
    } else {
        int const numExpCols = int(Ue(bs, uint32_t(p.picWidthInCtbs - 1), "pps_num_exp_tile_columns_minus1")) + 1;
        int const numExpRows = int(Ue(bs, uint32_t(p.picHeightInCtbs - 1), "pps_num_exp_tile_rows_minus1")) + 1;
        p.tileColWidth = TileSizes(bs, numExpCols, p.picWidthInCtbs, "pps_tile_column_width_minus1");
        p.tileRowHeight = TileSizes(bs, numExpRows, p.picHeightInCtbs, "pps_tile_row_height_minus1");
        int const cols = p.numTileColumns(), rows = p.numTileRows();
        if (p.numTiles() > 1) {
            p.loopFilterAcrossTiles = bs.readFlag();
            p.rectSlice = bs.readFlag();
        }
        if (p.rectSlice)
            p.singleSlicePerSubpic = bs.readFlag();
        std::vector<int> colStart(size_t(cols) + 1, 0), rowStart(size_t(rows) + 1, 0);
        for (int i = 0; i < cols; ++i)
            colStart[size_t(i) + 1] = colStart[size_t(i)] + p.tileColWidth[size_t(i)];
        for (int i = 0; i < rows; ++i)
            rowStart[size_t(i) + 1] = rowStart[size_t(i)] + p.tileRowHeight[size_t(i)];
        // Slices do not overlap: all of them together hold at most the picture's CTUs, which
        // also bounds what a damaged PPS can make this allocate.
        const size_t picCtus = size_t(p.picWidthInCtbs) * size_t(p.picHeightInCtbs);
        size_t sliceCtuTotal = 0;
        auto addTiles = [&](std::vector<int>& ctus, int tileIdx, int widthTiles, int heightTiles, int ctuRow0,
                            int ctuRows) {
            const int tx = tileIdx % cols, ty = tileIdx / cols;
            VVC_CHECK(tx + widthTiles > cols || ty + heightTiles > rows, "Slice beyond the picture's tiles");
            size_t n = 0;
            for (int j = ty; j < ty + heightTiles; ++j)
                for (int i = tx; i < tx + widthTiles; ++i)
                    n += size_t(ctuRows > 0 ? ctuRows : p.tileRowHeight[size_t(j)]) * size_t(p.tileColWidth[size_t(i)]);
            VVC_CHECK(sliceCtuTotal + n > picCtus, "Slices overlap");
            sliceCtuTotal += n;
            for (int j = ty; j < ty + heightTiles; ++j)
                for (int i = tx; i < tx + widthTiles; ++i) {
                    const int y0 = ctuRows > 0 ? rowStart[size_t(j)] + ctuRow0 : rowStart[size_t(j)];
                    const int y1 = ctuRows > 0 ? y0 + ctuRows : rowStart[size_t(j) + 1];
                    for (int y = y0; y < y1; ++y)
                        for (int x = colStart[size_t(i)]; x < colStart[size_t(i) + 1]; ++x)
                            ctus.push_back(y * p.picWidthInCtbs + x);
                }
        };
        if (p.rectSlice && !p.singleSlicePerSubpic) {
            p.numSlicesInPicMinus1 = int(Ue(bs, uint32_t(std::min(999, p.picWidthInCtbs * p.picHeightInCtbs - 1)),
                                            "pps_num_slices_in_pic_minus1"));
            bool const tileIdxDelta = p.numSlicesInPicMinus1 > 1 ? bs.readFlag() : false;
            int tileIdx = 0;
            int prevHeightMinus1 = 0;
            for (int i = 0; i < p.numSlicesInPicMinus1; ++i) {
                VVC_CHECK(tileIdx < 0 || tileIdx >= p.numTiles(), "Slice starts outside the picture");
                int widthMinus1 = 0, heightMinus1 = 0;
                if (tileIdx % cols != cols - 1)
                    widthMinus1 = int(Ue(bs, uint32_t(cols - 1 - tileIdx % cols), "pps_slice_width_in_tiles_minus1"));
                if (tileIdx / cols != rows - 1 && (tileIdxDelta || tileIdx % cols == 0))
                    heightMinus1 = int(Ue(bs, uint32_t(rows - 1 - tileIdx / cols), "pps_slice_height_in_tiles_minus1"));
                else if (tileIdx / cols != rows - 1)
                    heightMinus1 = prevHeightMinus1;
                prevHeightMinus1 = heightMinus1;
                int const tileRowHeight = p.tileRowHeight[size_t(tileIdx / cols)];
                if (widthMinus1 == 0 && heightMinus1 == 0 && tileRowHeight > 1) {
                    // Several slices in one tile, of explicit then repeated CTU-row heights.
                    int const numExp = int(Ue(bs, uint32_t(tileRowHeight), "pps_num_exp_slices_in_tile"));
                    std::vector<int> heights;
                    int left = tileRowHeight;
                    for (int j = 0; j < numExp; ++j) {
                        int const h = int(Ue(bs, uint32_t(left - 1), "pps_exp_slice_height_in_ctus_minus1")) + 1;
                        heights.push_back(h);
                        left -= h;
                    }
                    if (numExp > 0) {
                        int const uniform = heights.back();
                        while (left >= uniform) {
                            heights.push_back(uniform);
                            left -= uniform;
                        }
                    }
                    if (left > 0)
                        heights.push_back(left);
                    int row0 = 0;
                    for (size_t k = 0; k < heights.size(); ++k) {
                        p.sliceCtus.emplace_back();
                        addTiles(p.sliceCtus.back(), tileIdx, 1, 1, row0, heights[k]);
                        row0 += heights[k];
                    }
                    i += int(heights.size()) - 1;
                    VVC_CHECK(i > p.numSlicesInPicMinus1, "More slices in a tile than in the picture");
                } else {
                    p.sliceCtus.emplace_back();
                    addTiles(p.sliceCtus.back(), tileIdx, widthMinus1 + 1, heightMinus1 + 1, 0, 0);
                }
                if (tileIdxDelta && i < p.numSlicesInPicMinus1) {
                    tileIdx += Se(bs, -p.numTiles() + 1, p.numTiles() - 1, "pps_tile_idx_delta_val");
                } else if (!tileIdxDelta) {
                    tileIdx += widthMinus1 + 1;
                    if (tileIdx % cols == 0)
                        tileIdx += heightMinus1 * cols;
                }
            }
            if (int(p.sliceCtus.size()) == p.numSlicesInPicMinus1) {
                // The last slice: every CTU not yet in a slice.
                std::vector<bool> used(size_t(p.picWidthInCtbs) * size_t(p.picHeightInCtbs), false);
                for (auto const& s : p.sliceCtus)
                    for (int c : s)
                        used[size_t(c)] = true;
                auto last = TileScanOrder(p);
                last.erase(std::remove_if(last.begin(), last.end(), [&](int c) { return used[size_t(c)]; }),
                           last.end());
                VVC_CHECK(last.empty(), "No CTUs left for the last slice");
                p.sliceCtus.push_back(std::move(last));
            }
        }
        if (!p.rectSlice || p.singleSlicePerSubpic || p.numSlicesInPicMinus1 > 0)
            p.loopFilterAcrossSlices = bs.readFlag();
    }
    DeriveSubpicSlices(p, sps);
    p.cabacInitPresent = bs.readFlag();
    for (int& n : p.numRefIdxDefaultActiveMinus1)
        n = int(Ue(bs, 14, "pps_num_ref_idx_default_active_minus1"));
    p.rpl1IdxPresent = bs.readFlag();
    p.weightedPred = bs.readFlag();
    p.weightedBipred = bs.readFlag();
    p.refWraparound = bs.readFlag();
    if (p.refWraparound)
        p.wraparoundOffset = (p.picWidth >> sps.log2MinCbSize) -
                             int(Ue(bs, uint32_t(p.picWidth >> sps.log2MinCbSize), "pps_pic_width_minus_wraparound_offset"));
    p.initQp = 26 + Se(bs, -(26 + 6 * (sps.bitDepth - 8)), 37, "pps_init_qp_minus26");
    p.cuQpDeltaEnabled = bs.readFlag();
    p.chromaToolOffsetsPresent = bs.readFlag();
    if (p.chromaToolOffsetsPresent) {
        p.cbQpOffset = Se(bs, -12, 12, "pps_cb_qp_offset");
        p.crQpOffset = Se(bs, -12, 12, "pps_cr_qp_offset");
        p.jointCbCrQpOffsetPresent = bs.readFlag();
        if (p.jointCbCrQpOffsetPresent)
            p.jointCbCrQpOffset = Se(bs, -12, 12, "pps_joint_cbcr_qp_offset_value");
        p.sliceChromaQpOffsetsPresent = bs.readFlag();
        p.cuChromaQpOffsetListEnabled = bs.readFlag();
        if (p.cuChromaQpOffsetListEnabled) {
            int const len = int(Ue(bs, 5, "pps_chroma_qp_offset_list_len_minus1")) + 1;
            for (int i = 0; i < len; ++i) {
                p.cbQpOffsetList.push_back(Se(bs, -12, 12, "pps_cb_qp_offset_list"));
                p.crQpOffsetList.push_back(Se(bs, -12, 12, "pps_cr_qp_offset_list"));
                p.jointCbCrQpOffsetList.push_back(
                    p.jointCbCrQpOffsetPresent ? Se(bs, -12, 12, "pps_joint_cbcr_qp_offset_list") : 0);
            }
        }
    }
    p.deblockingControlPresent = bs.readFlag();
    if (p.deblockingControlPresent) {
        p.deblockingOverrideEnabled = bs.readFlag();
        p.deblockingDisabled = bs.readFlag();
        if (!p.noPicPartition && p.deblockingOverrideEnabled)
            p.dbfInfoInPh = bs.readFlag();
        if (!p.deblockingDisabled) {
            p.betaOffsetDiv2[0] = Se(bs, -12, 12, "pps_luma_beta_offset_div2");
            p.tcOffsetDiv2[0] = Se(bs, -12, 12, "pps_luma_tc_offset_div2");
            if (p.chromaToolOffsetsPresent) {
                for (int c = 1; c < 3; ++c) {
                    p.betaOffsetDiv2[c] = Se(bs, -12, 12, "pps_chroma_beta_offset_div2");
                    p.tcOffsetDiv2[c] = Se(bs, -12, 12, "pps_chroma_tc_offset_div2");
                }
            } else {
                for (int c = 1; c < 3; ++c) {
                    p.betaOffsetDiv2[c] = p.betaOffsetDiv2[0];
                    p.tcOffsetDiv2[c] = p.tcOffsetDiv2[0];
                }
            }
        }
    }
    if (!p.noPicPartition) {
        p.rplInfoInPh = bs.readFlag();
        p.saoInfoInPh = bs.readFlag();
        p.alfInfoInPh = bs.readFlag();
        if ((p.weightedPred || p.weightedBipred) && p.rplInfoInPh)
            p.wpInfoInPh = bs.readFlag();
        p.qpDeltaInfoInPh = bs.readFlag();
    }
    p.pictureHeaderExtensionPresent = bs.readFlag();
    p.sliceHeaderExtensionPresent = bs.readFlag();
    if (bs.readFlag()) // pps_extension_flag
        return;
    ReadTrailingBits(bs);
}

namespace {

void ParseAlfData(InputBitstream& bs, AlfParams& a, bool chromaPresent)
{
    a.lumaSignal = bs.readFlag();
    if (chromaPresent) {
        a.chromaSignal = bs.readFlag();
        a.ccCbSignal = bs.readFlag();
        a.ccCrSignal = bs.readFlag();
    }
    if (a.lumaSignal) {
        a.lumaClip = bs.readFlag();
        a.lumaNumFilters = int(Ue(bs, 24, "alf_luma_num_filters_signalled_minus1")) + 1;
        if (a.lumaNumFilters > 1) {
            int const bits = CeilLog2(a.lumaNumFilters);
            for (int& idx : a.lumaCoeffDeltaIdx) {
                idx = int(bs.read(bits));
                VVC_CHECK(idx >= a.lumaNumFilters, "alf_luma_coeff_delta_idx out of range");
            }
        }
        a.lumaCoeff.resize(size_t(a.lumaNumFilters));
        a.lumaClipIdx.assign(size_t(a.lumaNumFilters), {});
        for (auto& f : a.lumaCoeff)
            for (int& c : f) {
                c = int(Ue(bs, 128, "alf_luma_coeff_abs"));
                if (c && bs.readFlag())
                    c = -c;
            }
        if (a.lumaClip)
            for (auto& f : a.lumaClipIdx)
                for (int& c : f)
                    c = int(bs.read(2));
    }
    if (a.chromaSignal) {
        a.chromaClip = bs.readFlag();
        a.chromaNumAltFilters = int(Ue(bs, 7, "alf_chroma_num_alt_filters_minus1")) + 1;
        a.chromaCoeff.resize(size_t(a.chromaNumAltFilters));
        a.chromaClipIdx.assign(size_t(a.chromaNumAltFilters), {});
        for (int k = 0; k < a.chromaNumAltFilters; ++k) {
            for (int& c : a.chromaCoeff[size_t(k)]) {
                c = int(Ue(bs, 128, "alf_chroma_coeff_abs"));
                if (c && bs.readFlag())
                    c = -c;
            }
            if (a.chromaClip)
                for (int& c : a.chromaClipIdx[size_t(k)])
                    c = int(bs.read(2));
        }
    }
    for (int comp = 0; comp < 2; ++comp) {
        if (!(comp == 0 ? a.ccCbSignal : a.ccCrSignal))
            continue;
        a.ccNumFilters[comp] = int(Ue(bs, 3, "alf_cc_filters_signalled_minus1")) + 1;
        a.ccCoeff[comp].resize(size_t(a.ccNumFilters[comp]));
        for (auto& f : a.ccCoeff[comp])
            for (int& c : f) {
                int const mapped = int(bs.read(3));
                c = mapped ? (1 << (mapped - 1)) : 0;
                if (mapped && bs.readFlag())
                    c = -c;
            }
    }
}

void ParseLmcsData(InputBitstream& bs, LmcsParams& l, bool chromaPresent)
{
    l.minBinIdx = int(Ue(bs, 15, "lmcs_min_bin_idx"));
    l.maxBinIdx = 15 - int(Ue(bs, 15, "lmcs_delta_max_bin_idx"));
    VVC_CHECK(l.maxBinIdx < l.minBinIdx, "lmcs_delta_max_bin_idx out of range");
    int const prec = int(Ue(bs, 14, "lmcs_delta_cw_prec_minus1")) + 1;
    for (int i = l.minBinIdx; i <= l.maxBinIdx; ++i) {
        l.deltaCw[i] = int(bs.read(prec));
        if (l.deltaCw[i] && bs.readFlag())
            l.deltaCw[i] = -l.deltaCw[i];
    }
    if (chromaPresent) {
        l.deltaCrs = int(bs.read(3));
        if (l.deltaCrs && bs.readFlag())
            l.deltaCrs = -l.deltaCrs;
    }
}

// Positions (x, y) of the up-right diagonal scan of a size x size block.
std::vector<std::pair<int, int>> DiagonalScan(int size)
{
    std::vector<std::pair<int, int>> scan;
    for (int line = 0; line < 2 * size - 1; ++line)
        for (int y = std::min(line, size - 1); y >= 0; --y) {
            int const x = line - y;
            if (x < size)
                scan.emplace_back(x, y);
        }
    return scan;
}

void ParseScalingListData(InputBitstream& bs, ScalingListParams& s, bool chromaPresent)
{
    for (int id = 0; id < 28; ++id) {
        int const size = id < 2 ? 2 : id < 8 ? 4 : 8;
        if (!(chromaPresent || id % 3 == 2 || id == 27))
            continue;
        s.copyMode[id] = bs.readFlag();
        if (!s.copyMode[id])
            s.predMode[id] = bs.readFlag();
        if ((s.copyMode[id] || s.predMode[id]) && id != 0 && id != 2 && id != 8) {
            int const maxDelta = id < 2 ? id : id < 8 ? id - 2 : id - 8;
            s.predIdDelta[id] = int(Ue(bs, uint32_t(maxDelta), "scaling_list_pred_id_delta"));
        }
        if (s.copyMode[id])
            continue;
        int next = 0;
        if (id > 13) {
            s.dc[id - 14] = Se(bs, -128, 127, "scaling_list_dc_coef");
            next += s.dc[id - 14];
        }
        auto const scan = DiagonalScan(size);
        s.coeff[id].assign(scan.size(), 0);
        for (size_t i = 0; i < scan.size(); ++i) {
            if (!(id > 25 && scan[i].first >= 4 && scan[i].second >= 4)) {
                next += Se(bs, -128, 127, "scaling_list_delta_coef");
            }
            s.coeff[id][i] = next;
        }
    }
}

} // namespace

void ParseAps(InputBitstream& bs, AdaptationParameterSet& a)
{
    a = AdaptationParameterSet();
    a.type = int(bs.read(3));
    a.id = int(bs.read(5));
    a.chromaPresent = bs.readFlag();
    switch (a.type) {
    case 0:
        VVC_CHECK(a.id > 7, "ALF APS id out of range");
        ParseAlfData(bs, a.alf, a.chromaPresent);
        VVC_CHECK(!a.alf.lumaSignal && !a.alf.chromaSignal && !a.alf.ccCbSignal && !a.alf.ccCrSignal,
                  "ALF APS without filters");
        break;
    case 1:
        VVC_CHECK(a.id > 3, "LMCS APS id out of range");
        ParseLmcsData(bs, a.lmcs, a.chromaPresent);
        break;
    case 2:
        VVC_CHECK(a.id > 7, "Scaling list APS id out of range");
        ParseScalingListData(bs, a.scaling, a.chromaPresent);
        break;
    default: VVC_THROW("Reserved APS type " << a.type);
    }
    if (bs.readFlag()) // aps_extension_flag
        return;
    ReadTrailingBits(bs);
}

void ParsePictureHeader(InputBitstream& bs, PictureHeaderParams& h, PicParameterSet const& pps,
                        SeqParameterSet const& sps)
{
    h = PictureHeaderParams();
    h.gdrOrIrap = bs.readFlag();
    h.nonRef = bs.readFlag();
    if (h.gdrOrIrap)
        h.gdr = bs.readFlag();
    h.interAllowed = bs.readFlag();
    h.intraAllowed = h.interAllowed ? bs.readFlag() : true;
    h.ppsId = int(Ue(bs, 63, "ph_pic_parameter_set_id"));
    VVC_CHECK(h.ppsId != pps.id, "Picture header refers to another PPS");
    h.pocLsb = int(bs.read(sps.log2MaxPocLsb));
    if (h.gdr)
        h.recoveryPocCnt = int(Ue(bs, 1u << sps.log2MaxPocLsb, "ph_recovery_poc_cnt"));
    bs.skip(uint64_t(sps.numExtraPhBits));
    if (sps.pocMsbCycleFlag) {
        h.pocMsbCyclePresent = bs.readFlag();
        if (h.pocMsbCyclePresent)
            h.pocMsbCycleVal = int(bs.read(sps.pocMsbCycleLen));
    }
    if (sps.alf && pps.alfInfoInPh) {
        h.alfEnabled = bs.readFlag();
        if (h.alfEnabled) {
            h.numAlfApsIdsLuma = int(bs.read(3));
            for (int i = 0; i < h.numAlfApsIdsLuma; ++i)
                h.alfApsIdLuma[i] = int(bs.read(3));
            if (sps.chromaFormatIdc != 0) {
                h.alfCbEnabled = bs.readFlag();
                h.alfCrEnabled = bs.readFlag();
            }
            if (h.alfCbEnabled || h.alfCrEnabled)
                h.alfApsIdChroma = int(bs.read(3));
            if (sps.ccalf) {
                h.alfCcCbEnabled = bs.readFlag();
                if (h.alfCcCbEnabled)
                    h.alfCcCbApsId = int(bs.read(3));
                h.alfCcCrEnabled = bs.readFlag();
                if (h.alfCcCrEnabled)
                    h.alfCcCrApsId = int(bs.read(3));
            }
        }
    }
    if (sps.lmcs) {
        h.lmcsEnabled = bs.readFlag();
        if (h.lmcsEnabled) {
            h.lmcsApsId = int(bs.read(2));
            if (sps.chromaFormatIdc != 0)
                h.chromaResidualScale = bs.readFlag();
        }
    }
    if (sps.explicitScalingMatrix) {
        h.explicitScalingList = bs.readFlag();
        if (h.explicitScalingList)
            h.scalingListApsId = int(bs.read(3));
    }
    h.vbPosX.clear();
    h.vbPosY.clear();
    if (sps.virtualBoundariesEnabled && !sps.virtualBoundariesPresent && bs.readFlag()) {
        int const numVer = int(Ue(bs, pps.picWidth <= 8 ? 0 : 3, "ph_num_ver_virtual_boundaries"));
        for (int i = 0; i < numVer; ++i)
            h.vbPosX.push_back(
                (int(Ue(bs, uint32_t((pps.picWidth + 7) / 8 - 2), "ph_virtual_boundary_pos_x_minus1")) + 1) * 8);
        int const numHor = int(Ue(bs, pps.picHeight <= 8 ? 0 : 3, "ph_num_hor_virtual_boundaries"));
        for (int i = 0; i < numHor; ++i)
            h.vbPosY.push_back(
                (int(Ue(bs, uint32_t((pps.picHeight + 7) / 8 - 2), "ph_virtual_boundary_pos_y_minus1")) + 1) * 8);
    }
    if (pps.outputFlagPresent && !h.nonRef)
        h.picOutput = bs.readFlag();
    if (pps.rplInfoInPh)
        ParseRefPicLists(bs, h.rpl, sps, pps);
    if (sps.partitionConstraintsOverride)
        h.partitionOverride = bs.readFlag();
    std::copy(std::begin(sps.log2DiffMinQtMinCb), std::end(sps.log2DiffMinQtMinCb), h.log2DiffMinQtMinCb);
    std::copy(std::begin(sps.maxMttDepth), std::end(sps.maxMttDepth), h.maxMttDepth);
    std::copy(std::begin(sps.log2DiffMaxBtMinQt), std::end(sps.log2DiffMaxBtMinQt), h.log2DiffMaxBtMinQt);
    std::copy(std::begin(sps.log2DiffMaxTtMinQt), std::end(sps.log2DiffMaxTtMinQt), h.log2DiffMaxTtMinQt);
    auto partition = [&](int k) {
        h.log2DiffMinQtMinCb[k] =
            int(Ue(bs, uint32_t(std::min(6, sps.log2CtuSize) - sps.log2MinCbSize), "ph_log2_diff_min_qt_min_cb"));
        h.maxMttDepth[k] =
            int(Ue(bs, uint32_t(2 * (sps.log2CtuSize - sps.log2MinCbSize)), "ph_max_mtt_hierarchy_depth"));
        h.log2DiffMaxBtMinQt[k] = h.log2DiffMaxTtMinQt[k] = 0;
        if (h.maxMttDepth[k] != 0) {
            h.log2DiffMaxBtMinQt[k] = int(Ue(bs, uint32_t(sps.log2CtuSize), "ph_log2_diff_max_bt_min_qt"));
            h.log2DiffMaxTtMinQt[k] = int(Ue(bs, uint32_t(sps.log2CtuSize), "ph_log2_diff_max_tt_min_qt"));
        }
    };
    int const maxSubdiv = 2 * (sps.log2CtuSize - sps.log2MinCbSize) + 2 * 3;
    if (h.intraAllowed) {
        if (h.partitionOverride) {
            partition(0);
            if (sps.dualTreeIntra)
                partition(1);
        }
        if (pps.cuQpDeltaEnabled)
            h.cuQpDeltaSubdivIntra = int(Ue(bs, uint32_t(maxSubdiv), "ph_cu_qp_delta_subdiv_intra_slice"));
        if (pps.cuChromaQpOffsetListEnabled)
            h.cuChromaQpOffsetSubdivIntra =
                int(Ue(bs, uint32_t(maxSubdiv), "ph_cu_chroma_qp_offset_subdiv_intra_slice"));
    }
    if (h.interAllowed) {
        if (h.partitionOverride)
            partition(2);
        if (pps.cuQpDeltaEnabled)
            h.cuQpDeltaSubdivInter = int(Ue(bs, uint32_t(maxSubdiv), "ph_cu_qp_delta_subdiv_inter_slice"));
        if (pps.cuChromaQpOffsetListEnabled)
            h.cuChromaQpOffsetSubdivInter =
                int(Ue(bs, uint32_t(maxSubdiv), "ph_cu_chroma_qp_offset_subdiv_inter_slice"));
        if (sps.temporalMvp) {
            h.temporalMvp = bs.readFlag();
            if (h.temporalMvp && pps.rplInfoInPh) {
                int const n0 = h.rpl.list(0, sps).numRefEntries, n1 = h.rpl.list(1, sps).numRefEntries;
                if (n1 > 0)
                    h.collocatedFromL0 = bs.readFlag();
                int const n = h.collocatedFromL0 ? n0 : n1;
                if (n > 1)
                    h.collocatedRefIdx = int(Ue(bs, uint32_t(n - 1), "ph_collocated_ref_idx"));
            }
        }
        if (sps.mmvdFullpelOnly)
            h.mmvdFullpelOnly = bs.readFlag();
        bool const presence = !pps.rplInfoInPh || h.rpl.list(1, sps).numRefEntries > 0;
        // Absent: no list-1 differences, and the tools as the SPS enables them (off where the
        // SPS leaves their control to an absent flag).
        h.mvdL1Zero = true;
        h.bdofDisabled = !sps.bdof || sps.bdofControlInPh;
        h.dmvrDisabled = !sps.dmvr || sps.dmvrControlInPh;
        if (presence) {
            h.mvdL1Zero = bs.readFlag();
            if (sps.bdofControlInPh)
                h.bdofDisabled = bs.readFlag();
            if (sps.dmvrControlInPh)
                h.dmvrDisabled = bs.readFlag();
        }
        h.profDisabled = !sps.prof;
        if (sps.profControlInPh)
            h.profDisabled = bs.readFlag();
        if ((pps.weightedPred || pps.weightedBipred) && pps.wpInfoInPh) {
            int const active[2] = {0, 0};
            h.weights = ParsePredWeightTable(bs, sps, pps, h.rpl, active);
        }
    }
    if (pps.qpDeltaInfoInPh)
        h.qpDelta = Se(bs, -(63 + 6 * (sps.bitDepth - 8)), 63, "ph_qp_delta");
    if (sps.jointCbCr)
        h.jointCbCrSign = bs.readFlag();
    if (sps.sao && pps.saoInfoInPh) {
        h.saoLuma = bs.readFlag();
        if (sps.chromaFormatIdc != 0)
            h.saoChroma = bs.readFlag();
    }
    h.deblockingDisabled = pps.deblockingDisabled;
    std::copy(std::begin(pps.betaOffsetDiv2), std::end(pps.betaOffsetDiv2), h.betaOffsetDiv2);
    std::copy(std::begin(pps.tcOffsetDiv2), std::end(pps.tcOffsetDiv2), h.tcOffsetDiv2);
    if (pps.dbfInfoInPh && bs.readFlag()) { // ph_deblocking_params_present_flag
        // Parameters present in a picture whose PPS disables the filter switch it on.
        h.deblockingDisabled = pps.deblockingDisabled ? false : bs.readFlag();
        if (!h.deblockingDisabled) {
            h.betaOffsetDiv2[0] = Se(bs, -12, 12, "ph_luma_beta_offset_div2");
            h.tcOffsetDiv2[0] = Se(bs, -12, 12, "ph_luma_tc_offset_div2");
            for (int c = 1; c < 3; ++c) {
                if (pps.chromaToolOffsetsPresent) {
                    h.betaOffsetDiv2[c] = Se(bs, -12, 12, "ph_chroma_beta_offset_div2");
                    h.tcOffsetDiv2[c] = Se(bs, -12, 12, "ph_chroma_tc_offset_div2");
                } else {
                    h.betaOffsetDiv2[c] = h.betaOffsetDiv2[0];
                    h.tcOffsetDiv2[c] = h.tcOffsetDiv2[0];
                }
            }
        }
    }
    if (pps.pictureHeaderExtensionPresent) {
        const uint32_t len = Ue(bs, 256, "ph_extension_length");
        bs.skip(uint64_t(len) * 8);
    }
}

namespace {

// CTUs of the tiles [first, first + count) in tile scan.
std::vector<int> TileScanCtus(PicParameterSet const& pps, int first, int count)
{
    std::vector<int> ctus;
    int const cols = pps.numTileColumns();
    for (int t = first; t < first + count; ++t) {
        int const tx = t % cols, ty = t / cols;
        int x0 = 0, y0 = 0;
        for (int i = 0; i < tx; ++i)
            x0 += pps.tileColWidth[size_t(i)];
        for (int j = 0; j < ty; ++j)
            y0 += pps.tileRowHeight[size_t(j)];
        for (int y = y0; y < y0 + pps.tileRowHeight[size_t(ty)]; ++y)
            for (int x = x0; x < x0 + pps.tileColWidth[size_t(tx)]; ++x)
                ctus.push_back(y * pps.picWidthInCtbs + x);
    }
    return ctus;
}

void ParseAlfSliceInfo(InputBitstream& bs, SliceHeaderParams& sh, SeqParameterSet const& sps)
{
    sh.alfEnabled = bs.readFlag();
    if (!sh.alfEnabled)
        return;
    sh.numAlfApsIdsLuma = int(bs.read(3));
    for (int i = 0; i < sh.numAlfApsIdsLuma; ++i)
        sh.alfApsIdLuma[i] = int(bs.read(3));
    if (sps.chromaFormatIdc != 0) {
        sh.alfCbEnabled = bs.readFlag();
        sh.alfCrEnabled = bs.readFlag();
    }
    if (sh.alfCbEnabled || sh.alfCrEnabled)
        sh.alfApsIdChroma = int(bs.read(3));
    if (sps.ccalf) {
        sh.alfCcCbEnabled = bs.readFlag();
        if (sh.alfCcCbEnabled)
            sh.alfCcCbApsId = int(bs.read(3));
        sh.alfCcCrEnabled = bs.readFlag();
        if (sh.alfCcCrEnabled)
            sh.alfCcCrApsId = int(bs.read(3));
    }
}

} // namespace

void ParseSliceHeader(InputBitstream& bs, SliceHeaderParams& sh, int nalUnitType, PictureHeaderParams const* phUnit,
                      PicParameterSet const& pps, SeqParameterSet const& sps)
{
    sh = SliceHeaderParams();
    sh.phInSliceHeader = bs.readFlag();
    if (sh.phInSliceHeader) {
        VVC_CHECK(phUnit, "A picture header in the slice header of a picture with a picture header unit");
        ParsePictureHeader(bs, sh.ph, pps, sps);
    } else {
        VVC_CHECK(!phUnit, "Slice without a picture header");
        sh.ph = *phUnit;
    }
    PictureHeaderParams const& ph = sh.ph;
    if (sps.subpicInfoPresent) {
        sh.subpicId = int(bs.read(sps.subpicIdLenMinus1 + 1));
        auto const it = std::find(pps.subpicIdVal.begin(), pps.subpicIdVal.end(), uint32_t(sh.subpicId));
        VVC_CHECK(it == pps.subpicIdVal.end(), "No subpicture of ID " << sh.subpicId);
        sh.subpicIdx = int(it - pps.subpicIdVal.begin());
    }
    bool const rect = pps.rectSlice;
    // Rectangular slices are addressed within their subpicture.
    int const numSlices = rect && size_t(sh.subpicIdx) < pps.subpicSlices.size()
                              ? int(pps.subpicSlices[size_t(sh.subpicIdx)].size())
                              : pps.numSlicesInPicMinus1 + 1;
    if ((rect && numSlices > 1) || (!rect && pps.numTiles() > 1)) {
        sh.sliceAddress = int(bs.read(CeilLog2(rect ? numSlices : pps.numTiles())));
        VVC_CHECK(sh.sliceAddress >= (rect ? numSlices : pps.numTiles()), "sh_slice_address out of range");
    }
    bs.skip(uint64_t(sps.numExtraShBits));
    if (!rect && pps.numTiles() - sh.sliceAddress > 1)
        sh.numTilesInSlice =
            int(Ue(bs, uint32_t(pps.numTiles() - 1 - sh.sliceAddress), "sh_num_tiles_in_slice_minus1")) + 1;
    sh.sliceType = ph.interAllowed ? int(Ue(bs, 2, "sh_slice_type")) : 2;
    VVC_CHECK(sh.sliceType != 2 && !ph.interAllowed, "Inter slice in an intra picture");
    VVC_CHECK(sh.sliceType == 2 && !ph.intraAllowed, "Intra slice where the picture header allows none");
    if (nalUnitType >= NAL_UNIT_CODED_SLICE_IDR_W_RADL && nalUnitType <= NAL_UNIT_CODED_SLICE_GDR)
        sh.noOutputOfPriorPics = bs.readFlag();
    if (sps.alf && !pps.alfInfoInPh) {
        ParseAlfSliceInfo(bs, sh, sps);
    } else {
        sh.alfEnabled = ph.alfEnabled;
        sh.numAlfApsIdsLuma = ph.numAlfApsIdsLuma;
        std::copy(std::begin(ph.alfApsIdLuma), std::end(ph.alfApsIdLuma), sh.alfApsIdLuma);
        sh.alfApsIdChroma = ph.alfApsIdChroma;
        sh.alfCbEnabled = ph.alfCbEnabled;
        sh.alfCrEnabled = ph.alfCrEnabled;
        sh.alfCcCbEnabled = ph.alfCcCbEnabled;
        sh.alfCcCrEnabled = ph.alfCcCrEnabled;
        sh.alfCcCbApsId = ph.alfCcCbApsId;
        sh.alfCcCrApsId = ph.alfCcCrApsId;
    }
    sh.lmcsUsed = ph.lmcsEnabled;
    if (ph.lmcsEnabled && !sh.phInSliceHeader)
        sh.lmcsUsed = bs.readFlag();
    sh.explicitScalingListUsed = ph.explicitScalingList;
    if (ph.explicitScalingList && !sh.phInSliceHeader)
        sh.explicitScalingListUsed = bs.readFlag();
    bool const idr = nalUnitType == NAL_UNIT_CODED_SLICE_IDR_W_RADL || nalUnitType == NAL_UNIT_CODED_SLICE_IDR_N_LP;
    if (pps.rplInfoInPh)
        sh.rpl = ph.rpl;
    else if (!idr || sps.idrRplPresent)
        ParseRefPicLists(bs, sh.rpl, sps, pps);
    int const entries[2] = {sh.rpl.list(0, sps).numRefEntries, sh.rpl.list(1, sps).numRefEntries};
    bool override = true;
    int activeMinus1[2] = {};
    if ((sh.sliceType != 2 && entries[0] > 1) || (sh.sliceType == 0 && entries[1] > 1)) {
        override = bs.readFlag();
        if (override)
            for (int i = 0; i < (sh.sliceType == 0 ? 2 : 1); ++i)
                if (entries[i] > 1)
                    activeMinus1[i] = int(Ue(bs, 14, "sh_num_ref_idx_active_minus1"));
    }
    for (int i = 0; i < 2; ++i) {
        if (sh.sliceType == 0 || (sh.sliceType == 1 && i == 0)) {
            if (override)
                sh.numRefIdxActive[i] = activeMinus1[i] + 1;
            else
                sh.numRefIdxActive[i] = std::min(entries[i], pps.numRefIdxDefaultActiveMinus1[i] + 1);
            VVC_CHECK(sh.numRefIdxActive[i] > entries[i], "More active references than list entries");
        }
    }
    if (sh.sliceType != 2) {
        if (pps.cabacInitPresent)
            sh.cabacInit = bs.readFlag();
        if (ph.temporalMvp && pps.rplInfoInPh) {
            sh.collocatedFromL0 = sh.sliceType == 1 || ph.collocatedFromL0;
            sh.collocatedRefIdx = ph.collocatedRefIdx;
        } else if (ph.temporalMvp) {
            if (sh.sliceType == 0)
                sh.collocatedFromL0 = bs.readFlag();
            if ((sh.collocatedFromL0 && sh.numRefIdxActive[0] > 1) ||
                (!sh.collocatedFromL0 && sh.numRefIdxActive[1] > 1))
                sh.collocatedRefIdx =
                    int(Ue(bs, uint32_t(sh.numRefIdxActive[sh.collocatedFromL0 ? 0 : 1] - 1), "sh_collocated_ref_idx"));
        }
        if (pps.wpInfoInPh)
            sh.weights = ph.weights;
        else if ((pps.weightedPred && sh.sliceType == 1) || (pps.weightedBipred && sh.sliceType == 0))
            sh.weights = ParsePredWeightTable(bs, sps, pps, sh.rpl, sh.numRefIdxActive);
    }
    int const qpBdOffset = 6 * (sps.bitDepth - 8);
    sh.qpDelta = pps.qpDeltaInfoInPh ? ph.qpDelta : Se(bs, -(63 + qpBdOffset), 63, "sh_qp_delta");
    int const sliceQp = pps.initQp + sh.qpDelta;
    VVC_CHECK(sliceQp < -qpBdOffset || sliceQp > 63, "Slice QP out of range: " << sliceQp);
    if (pps.sliceChromaQpOffsetsPresent) {
        sh.cbQpOffset = Se(bs, -12, 12, "sh_cb_qp_offset");
        sh.crQpOffset = Se(bs, -12, 12, "sh_cr_qp_offset");
        if (sps.jointCbCr)
            sh.jointCbCrQpOffset = Se(bs, -12, 12, "sh_joint_cbcr_qp_offset");
    }
    if (pps.cuChromaQpOffsetListEnabled)
        sh.cuChromaQpOffsetEnabled = bs.readFlag();
    if (sps.sao && !pps.saoInfoInPh) {
        sh.saoLuma = bs.readFlag();
        if (sps.chromaFormatIdc != 0)
            sh.saoChroma = bs.readFlag();
    } else {
        sh.saoLuma = ph.saoLuma;
        sh.saoChroma = ph.saoChroma;
    }
    sh.deblockingDisabled = ph.deblockingDisabled;
    std::copy(std::begin(ph.betaOffsetDiv2), std::end(ph.betaOffsetDiv2), sh.betaOffsetDiv2);
    std::copy(std::begin(ph.tcOffsetDiv2), std::end(ph.tcOffsetDiv2), sh.tcOffsetDiv2);
    if (pps.deblockingOverrideEnabled && !pps.dbfInfoInPh && bs.readFlag()) { // sh_deblocking_params_present_flag
        sh.deblockingDisabled = pps.deblockingDisabled ? false : bs.readFlag();
        if (!sh.deblockingDisabled) {
            sh.betaOffsetDiv2[0] = Se(bs, -12, 12, "sh_luma_beta_offset_div2");
            sh.tcOffsetDiv2[0] = Se(bs, -12, 12, "sh_luma_tc_offset_div2");
            for (int c = 1; c < 3; ++c) {
                if (pps.chromaToolOffsetsPresent) {
                    sh.betaOffsetDiv2[c] = Se(bs, -12, 12, "sh_chroma_beta_offset_div2");
                    sh.tcOffsetDiv2[c] = Se(bs, -12, 12, "sh_chroma_tc_offset_div2");
                } else {
                    sh.betaOffsetDiv2[c] = sh.betaOffsetDiv2[0];
                    sh.tcOffsetDiv2[c] = sh.tcOffsetDiv2[0];
                }
            }
        }
    }
    if (sps.depQuant)
        sh.depQuant = bs.readFlag();
    if (sps.signDataHiding && !sh.depQuant)
        sh.signDataHiding = bs.readFlag();
    if (sps.transformSkip && !sh.depQuant && !sh.signDataHiding)
        sh.tsResidualCodingDisabled = bs.readFlag();
    if (pps.sliceHeaderExtensionPresent) {
        const uint32_t len = Ue(bs, 256, "sh_slice_header_extension_length");
        bs.skip(uint64_t(len) * 8);
    }

    // The slice's CTUs and its entry points: one per tile and, with wavefronts, per CTU row.
    if (rect) {
        VVC_CHECK(size_t(sh.subpicIdx) >= pps.subpicSlices.size(), "Slice of a PPS without its slice layout");
        sh.ctus = pps.sliceCtus.at(size_t(pps.subpicSlices[size_t(sh.subpicIdx)].at(size_t(sh.sliceAddress))));
    } else {
        sh.ctus = TileScanCtus(pps, sh.sliceAddress, sh.numTilesInSlice);
    }
    VVC_CHECK(sh.ctus.empty(), "Slice without CTUs");
    std::vector<int> colTile(size_t(pps.picWidthInCtbs)), rowTile(size_t(pps.picHeightInCtbs));
    for (int i = 0, x = 0; i < pps.numTileColumns(); ++i)
        for (int k = 0; k < pps.tileColWidth[size_t(i)]; ++k)
            colTile[size_t(x++)] = i;
    for (int j = 0, y = 0; j < pps.numTileRows(); ++j)
        for (int k = 0; k < pps.tileRowHeight[size_t(j)]; ++k)
            rowTile[size_t(y++)] = j;
    int numEntryPoints = 0;
    for (size_t i = 1; i < sh.ctus.size(); ++i) {
        int const x = sh.ctus[i] % pps.picWidthInCtbs, y = sh.ctus[i] / pps.picWidthInCtbs;
        int const px = sh.ctus[i - 1] % pps.picWidthInCtbs, py = sh.ctus[i - 1] / pps.picWidthInCtbs;
        if (rowTile[size_t(y)] != rowTile[size_t(py)] || colTile[size_t(x)] != colTile[size_t(px)] ||
            (y != py && sps.entropyCodingSync))
            ++numEntryPoints;
    }
    if (sps.entryPointOffsetsPresent && numEntryPoints > 0) {
        int const len = int(Ue(bs, 31, "sh_entry_offset_len_minus1")) + 1;
        VVC_CHECK(uint64_t(numEntryPoints) * uint64_t(len) > bs.bitsLeft(), "Entry points run past the unit");
        for (int i = 0; i < numEntryPoints; ++i)
            sh.entryPointOffsets.push_back(bs.read(len) + 1);
    }
    // byte_alignment: a one bit, then zeros to the byte boundary.
    VVC_CHECK(!bs.readFlag(), "Invalid byte alignment after the slice header");
    while (!bs.isByteAligned())
        VVC_CHECK(bs.readFlag(), "Invalid byte alignment after the slice header");
    sh.sliceDataByte = bs.bitPosition() / 8;
    VVC_CHECK(bs.bitsLeft() == 0, "Slice without data");
}

} // namespace vvcsyntax
