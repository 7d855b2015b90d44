#include "bitstream/ParameterSets.h"

#include "bitstream/Syntax.h"

int const SPS::m_winUnitX[NUM_CHROMA_FORMAT] = {1, 2, 2, 1};
int const SPS::m_winUnitY[NUM_CHROMA_FORMAT] = {1, 2, 1, 1};

namespace {

uint32_t ReadUvlcMax(InputBitstream& bs, uint32_t maximum, char const* name)
{
    const uint32_t v = bs.readUvlc();
    VVC_CHECK(v > maximum, name << " out of range: " << v);
    return v;
}

void ParseGeneralConstraintsInfo(InputBitstream& bs)
{
    if (bs.readFlag()) {     // gci_present_flag
        bs.skip(71);         // the constraint flags and indices of version 1
        bs.skip(bs.read(8)); // gci_num_additional_bits and those bits
    }
    while (!bs.isByteAligned())
        bs.readFlag();
}

void ParseWindow(InputBitstream& bs, Window& w)
{
    int const left = int(ReadUvlcMax(bs, kMaxPictureDimension, "conf_win_left_offset"));
    int const right = int(ReadUvlcMax(bs, kMaxPictureDimension, "conf_win_right_offset"));
    int const top = int(ReadUvlcMax(bs, kMaxPictureDimension, "conf_win_top_offset"));
    int const bottom = int(ReadUvlcMax(bs, kMaxPictureDimension, "conf_win_bottom_offset"));
    w.setWindow(left, right, top, bottom);
}

void CheckPictureSize(int width, int height)
{
    VVC_CHECK(width < 8 || height < 8 || width % 8 || height % 8, "Invalid picture size " << width << "x" << height);
    VVC_CHECK(width > kMaxPictureDimension || height > kMaxPictureDimension ||
                  int64_t(width) * height > kMaxLumaPictureSize,
              "Picture size " << width << "x" << height << " too large");
}

void CheckWindow(Window const& w, ChromaFormat cf, int width, int height)
{
    const int64_t h = int64_t(w.getWindowLeftOffset() + w.getWindowRightOffset()) * SPS::m_winUnitX[cf];
    const int64_t v = int64_t(w.getWindowTopOffset() + w.getWindowBottomOffset()) * SPS::m_winUnitY[cf];
    VVC_CHECK(h >= width || v >= height, "Conformance window leaves no picture");
}

} // namespace

void ParseProfileTierLevel(InputBitstream& bs, bool profileTierPresent, int maxSubLayersMinus1)
{
    VVC_CHECK(maxSubLayersMinus1 < 0 || maxSubLayersMinus1 > 6, "Invalid sub-layer count");
    if (profileTierPresent) {
        bs.read(7); // general_profile_idc
        bs.read(1); // general_tier_flag
    }
    bs.read(8); // general_level_idc
    bs.read(1); // ptl_frame_only_constraint_flag
    bs.read(1); // ptl_multilayer_enabled_flag
    if (profileTierPresent)
        ParseGeneralConstraintsInfo(bs);
    bool sublayerLevelPresent[8] = {};
    for (int i = maxSubLayersMinus1 - 1; i >= 0; --i)
        sublayerLevelPresent[i] = bs.readFlag();
    while (!bs.isByteAligned())
        bs.readFlag();
    for (int i = maxSubLayersMinus1 - 1; i >= 0; --i)
        if (sublayerLevelPresent[i])
            bs.read(8);
    if (profileTierPresent) {
        int const numSubProfiles = int(bs.read(8));
        for (int i = 0; i < numSubProfiles; ++i)
            bs.read(32);
    }
}

void VPS::deriveTargetOutputLayerSet(int)
{
    m_targetLayerIdSet = m_layerIds;
    m_targetOutputLayerIdSet = m_layerIds;
}

void parseVPS(InputBitstream& bs, VPS& vps)
{
    vps = VPS();
    vps.m_vpsId = int(bs.read(4));
    VVC_CHECK(vps.m_vpsId == 0, "vps_video_parameter_set_id must not be 0");
    vps.m_maxLayers = int(bs.read(6)) + 1;
    vps.m_maxSubLayers = int(bs.read(3)) + 1;
    VVC_CHECK(vps.m_maxSubLayers > 7, "vps_max_sublayers_minus1 out of range");
    if (vps.m_maxLayers > 1 && vps.m_maxSubLayers > 1)
        bs.readFlag(); // vps_default_ptl_dpb_hrd_max_tid_flag
    bool allIndependent = true;
    if (vps.m_maxLayers > 1)
        allIndependent = bs.readFlag();
    for (int i = 0; i < vps.m_maxLayers; ++i) {
        int const layerId = int(bs.read(6));
        VVC_CHECK(layerId > 55 || (i > 0 && layerId <= vps.m_layerIds.back()), "Invalid vps_layer_id " << layerId);
        vps.m_layerIds.push_back(layerId);
        if (i > 0 && !allIndependent)
            VVC_CHECK(!bs.readFlag(), "Dependent layers are not supported");
    }
}

void parseSPS(InputBitstream& bs, SPS& sps)
{
    sps = SPS();
    sps.m_spsId = int(bs.read(4));
    sps.m_vpsId = int(bs.read(4));
    sps.m_maxSubLayers = int(bs.read(3)) + 1;
    VVC_CHECK(sps.m_maxSubLayers > 7, "sps_max_sublayers_minus1 out of range");
    sps.m_chromaFormatIdc = ChromaFormat(bs.read(2));
    int const log2CtuMinus5 = int(bs.read(2));
    VVC_CHECK(log2CtuMinus5 > 2, "sps_log2_ctu_size_minus5 out of range");
    bool const ptlDpbHrdPresent = bs.readFlag();
    if (ptlDpbHrdPresent)
        ParseProfileTierLevel(bs, true, sps.m_maxSubLayers - 1);
    bs.readFlag();     // sps_gdr_enabled_flag
    if (bs.readFlag()) // sps_ref_pic_resampling_enabled_flag
        bs.readFlag(); // sps_res_change_in_clvs_allowed_flag
    sps.m_maxWidth = int(ReadUvlcMax(bs, kMaxPictureDimension, "sps_pic_width_max_in_luma_samples"));
    sps.m_maxHeight = int(ReadUvlcMax(bs, kMaxPictureDimension, "sps_pic_height_max_in_luma_samples"));
    CheckPictureSize(sps.m_maxWidth, sps.m_maxHeight);
    if (bs.readFlag())
        ParseWindow(bs, sps.m_conformanceWindow);
    CheckWindow(sps.m_conformanceWindow, sps.m_chromaFormatIdc, sps.m_maxWidth, sps.m_maxHeight);
    if (bs.readFlag()) { // sps_subpic_info_present_flag: the layout is kept by the full parser
        vvcsyntax::SubpicLayout subpics;
        vvcsyntax::ParseSubpicInfo(bs, sps.m_maxWidth, sps.m_maxHeight, log2CtuMinus5 + 5, subpics);
    }
    sps.m_bitDepth = int(ReadUvlcMax(bs, 8, "sps_bitdepth_minus8")) + 8;
    bs.readFlag(); // sps_entropy_coding_sync_enabled_flag
    bs.readFlag(); // sps_entry_point_offsets_present_flag
    sps.m_log2MaxPocLsb = int(bs.read(4)) + 4;
    VVC_CHECK(sps.m_log2MaxPocLsb > 16, "sps_log2_max_pic_order_cnt_lsb_minus4 out of range");
    sps.m_pocMsbCycleFlag = bs.readFlag();
    if (sps.m_pocMsbCycleFlag)
        sps.m_pocMsbCycleLen =
            int(ReadUvlcMax(bs, uint32_t(32 - sps.m_log2MaxPocLsb - 1), "sps_poc_msb_cycle_len_minus1")) + 1;
    int const numExtraPhBytes = int(bs.read(2));
    for (int i = 0; i < numExtraPhBytes * 8; ++i)
        sps.m_numExtraPhBits += bs.readFlag() ? 1 : 0;
    int const numExtraShBytes = int(bs.read(2));
    bs.skip(uint64_t(numExtraShBytes) * 8);
    if (ptlDpbHrdPresent) {
        bool const sublayerInfo = sps.m_maxSubLayers > 1 ? bs.readFlag() : false;
        int const last = sps.m_maxSubLayers - 1;
        for (int i = sublayerInfo ? 0 : last; i <= last; ++i) {
            sps.m_maxDecPicBuffering[i] = int(ReadUvlcMax(bs, 15, "dpb_max_dec_pic_buffering_minus1")) + 1;
            sps.m_maxNumReorderPics[i] =
                int(ReadUvlcMax(bs, uint32_t(sps.m_maxDecPicBuffering[i] - 1), "dpb_max_num_reorder_pics"));
            bs.readUvlc(); // dpb_max_latency_increase_plus1
        }
        // Sub-layers without their own values take those of the highest one.
        for (int i = 0; i < last && !sublayerInfo; ++i) {
            sps.m_maxDecPicBuffering[i] = sps.m_maxDecPicBuffering[last];
            sps.m_maxNumReorderPics[i] = sps.m_maxNumReorderPics[last];
        }
        for (int i = last + 1; i < 8; ++i) {
            sps.m_maxDecPicBuffering[i] = sps.m_maxDecPicBuffering[last];
            sps.m_maxNumReorderPics[i] = sps.m_maxNumReorderPics[last];
        }
        sps.m_dpbParamsPresent = true;
    }
}

void parsePPS(InputBitstream& bs, PPS& pps)
{
    pps = PPS();
    pps.m_ppsId = int(bs.read(6));
    pps.m_spsId = int(bs.read(4));
    bs.readFlag(); // pps_mixed_nalu_types_in_pic_flag
    pps.m_picWidth = int(ReadUvlcMax(bs, kMaxPictureDimension, "pps_pic_width_in_luma_samples"));
    pps.m_picHeight = int(ReadUvlcMax(bs, kMaxPictureDimension, "pps_pic_height_in_luma_samples"));
    CheckPictureSize(pps.m_picWidth, pps.m_picHeight);
    if (bs.readFlag())
        ParseWindow(bs, pps.m_conformanceWindow);
}

void CheckPpsAgainstSps(PPS& pps, SPS const& sps)
{
    VVC_CHECK(pps.m_picWidth > sps.m_maxWidth || pps.m_picHeight > sps.m_maxHeight,
              "PPS picture size exceeds the SPS maximum");
    // A PPS of the full size without its own window takes the SPS's.
    if (!pps.m_conformanceWindow.getWindowEnabledFlag() && pps.m_picWidth == sps.m_maxWidth &&
        pps.m_picHeight == sps.m_maxHeight)
        pps.m_conformanceWindow = sps.m_conformanceWindow;
    CheckWindow(pps.m_conformanceWindow, sps.m_chromaFormatIdc, pps.m_picWidth, pps.m_picHeight);
}
