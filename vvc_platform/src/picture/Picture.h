#pragma once

#include "bitstream/ParameterSets.h"
#include "picture/PictureHash.h"

#include <memory>
#include <vector>

// Reconstructed planes of a picture, as a view: empty while the picture holds no samples.
struct PelUnitBuf
{
    ChromaFormat chromaFormat = CHROMA_420;
    int width = 0; // luma size
    int height = 0;
    int bitDepth = 8;
    PlaneView planes[3];
    bool empty() const { return !planes[0].samples; }
    PlaneView plane(int c) const { return c >= 0 && c < 3 ? planes[c] : PlaneView(); }
};

// Sample storage of a picture: three planes of 16-bit samples, rows packed.
class PelStorage
{
public:
    // False when the size is not usable; the storage is then empty.
    bool create(ChromaFormat format, int width, int height, int bitDepth);
    void destroy();
    bool empty() const { return m_samples[0].empty(); }
    PelUnitBuf view() const;
    uint16_t* plane(int c) { return c >= 0 && c < 3 && !m_samples[c].empty() ? m_samples[c].data() : nullptr; }
    int planeWidth(int c) const { return m_width[c]; }
    int planeHeight(int c) const { return m_height[c]; }

private:
    ChromaFormat m_format = CHROMA_420;
    int m_bitDepth = 8;
    std::vector<uint16_t> m_samples[3];
    int m_width[3] = {};
    int m_height[3] = {};
};

class Picture
{
public:
    int poc = 0;
    int layerId = 0;
    int temporalId = 0;
    int nalUnitType = NAL_UNIT_INVALID;
    int clvsIndex = 0; // coded layer video sequence the picture belongs to
    bool neededForOutput = true;
    bool referenced = false; // the stand-in keeps no reference pictures
    bool fieldPic = false;
    bool topField = false;
    std::shared_ptr<SPS const> sps;
    std::shared_ptr<PPS const> pps;
    // The complete syntax of its slices was read (see DecLib::syntaxError) and how many of them
    // were intra slices.
    bool syntaxComplete = true;
    int numSlices = 0;
    int numIntraSlices = 0;
    bool hasHash = false; // a decoded picture hash SEI message came with it
    PictureHash hash;

    bool getOutputMark() const { return neededForOutput; }
    void setOutputMark(bool mark) { neededForOutput = mark; }
    // The reconstructed samples; empty until the picture's slices are reconstructed.
    PelStorage reco;

    PelUnitBuf getRecoBuf(bool = false) const
    {
        if (!reco.empty())
            return reco.view();
        PelUnitBuf buf;
        buf.chromaFormat = sps ? sps->m_chromaFormatIdc : CHROMA_420;
        buf.width = pps ? pps->m_picWidth : 0;
        buf.height = pps ? pps->m_picHeight : 0;
        return buf;
    }
    void destroy()
    {
        reco.destroy();
        sps.reset();
        pps.reset();
    }
};
