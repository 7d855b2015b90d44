#pragma once

#include "bitstream/Nal.h"
#include "util/VvcCommon.h"

#include <vector>

// Conformance window, in units of SPS::m_winUnitX / m_winUnitY of the chroma format.
class Window
{
public:
    bool getWindowEnabledFlag() const { return m_enabled; }
    int getWindowLeftOffset() const { return m_enabled ? m_left : 0; }
    int getWindowRightOffset() const { return m_enabled ? m_right : 0; }
    int getWindowTopOffset() const { return m_enabled ? m_top : 0; }
    int getWindowBottomOffset() const { return m_enabled ? m_bottom : 0; }
    void setWindow(int left, int right, int top, int bottom)
    {
        m_enabled = true;
        m_left = left;
        m_right = right;
        m_top = top;
        m_bottom = bottom;
    }

private:
    bool m_enabled = false;
    int m_left = 0, m_right = 0, m_top = 0, m_bottom = 0;
};

class VPS
{
public:
    int m_vpsId = 0;
    int m_maxLayers = 1;
    int m_maxSubLayers = 1;
    std::vector<int> m_layerIds;
    std::vector<int> m_targetLayerIdSet;
    std::vector<int> m_targetOutputLayerIdSet;

    int getMaxLayers() const { return m_maxLayers; }
    // Every layer of the stand-in's VPS is independent and output: each output layer set holds
    // them all.
    void deriveTargetOutputLayerSet(int targetOlsIdx);
    std::vector<int> const& getTargetLayerIdSet() const { return m_targetLayerIdSet; }
    std::vector<int> const& getTargetOutputLayerIdSet() const { return m_targetOutputLayerIdSet; }
};

class SPS
{
public:
    int m_spsId = 0;
    int m_vpsId = 0;
    int m_maxSubLayers = 1;
    ChromaFormat m_chromaFormatIdc = CHROMA_420;
    int m_maxWidth = 0;
    int m_maxHeight = 0;
    Window m_conformanceWindow;
    int m_bitDepth = 8; // luma and chroma
    int m_log2MaxPocLsb = 4;
    bool m_pocMsbCycleFlag = false;
    int m_pocMsbCycleLen = 0;
    int m_numExtraPhBits = 0; // extra bits present in picture headers
    bool m_dpbParamsPresent = false;
    // Per temporal sub-layer; without DPB parameters the largest buffer is assumed.
    int m_maxDecPicBuffering[8] = {16, 16, 16, 16, 16, 16, 16, 16};
    int m_maxNumReorderPics[8] = {15, 15, 15, 15, 15, 15, 15, 15};

    int getMaxNumReorderPics(int tid) const { return m_maxNumReorderPics[clampTid(tid)]; }
    int getMaxDecPicBuffering(int tid) const { return m_maxDecPicBuffering[clampTid(tid)]; }

    static int const m_winUnitX[NUM_CHROMA_FORMAT];
    static int const m_winUnitY[NUM_CHROMA_FORMAT];

private:
    int clampTid(int tid) const { return tid < 0 ? 0 : tid > 7 ? 7 : tid; }
};

class PPS
{
public:
    int m_ppsId = 0;
    int m_spsId = 0;
    int m_picWidth = 0;
    int m_picHeight = 0;
    Window m_conformanceWindow;
};

struct PicHeader
{
    bool valid = false;
    bool gdrOrIrapPic = false;
    bool nonRefPic = false;
    bool gdrPic = false;
    int ppsId = 0;
    int pocLsb = 0;
    bool pocMsbCyclePresent = false;
    int pocMsbCycleVal = 0;
};

// Largest picture the parser accepts (the largest of the VVC levels).
constexpr int64_t kMaxLumaPictureSize = 80216064;
constexpr int kMaxPictureDimension = 25332;

// Parsers of the leading part of each structure, from the bit after the NAL unit header. Values
// out of their ranges throw.
void parseVPS(InputBitstream& bs, VPS& vps);
// profile_tier_level(profileTierPresent, maxSubLayersMinus1); the values are not kept.
void ParseProfileTierLevel(InputBitstream& bs, bool profileTierPresent, int maxSubLayersMinus1);
void parseSPS(InputBitstream& bs, SPS& sps);
void parsePPS(InputBitstream& bs, PPS& pps);
// Checks that a PPS fits its SPS; a full-size PPS without a window of its own takes the SPS's.
void CheckPpsAgainstSps(PPS& pps, SPS const& sps);
// The picture header structure; `spsOfPps` gives the SPS of a PPS id, or throws.
template <typename Lookup>
void parsePictureHeader(InputBitstream& bs, PicHeader& ph, Lookup const& spsOfPps)
{
    ph = PicHeader();
    ph.gdrOrIrapPic = bs.readFlag();
    ph.nonRefPic = bs.readFlag();
    if (ph.gdrOrIrapPic)
        ph.gdrPic = bs.readFlag();
    if (bs.readFlag()) // ph_inter_slice_allowed_flag
        bs.readFlag(); // ph_intra_slice_allowed_flag
    ph.ppsId = int(bs.readUvlc());
    VVC_CHECK(ph.ppsId > 63, "Invalid picture parameter set id " << ph.ppsId);
    SPS const& sps = spsOfPps(ph.ppsId);
    ph.pocLsb = int(bs.read(sps.m_log2MaxPocLsb));
    if (ph.gdrPic)
        bs.readUvlc(); // ph_recovery_poc_cnt
    bs.skip(uint64_t(sps.m_numExtraPhBits));
    if (sps.m_pocMsbCycleFlag) {
        ph.pocMsbCyclePresent = bs.readFlag();
        if (ph.pocMsbCyclePresent)
            ph.pocMsbCycleVal = int(bs.read(sps.m_pocMsbCycleLen));
    }
    ph.valid = true;
}
