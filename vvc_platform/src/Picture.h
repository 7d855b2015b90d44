#pragma once

#include "ParameterSets.h"
#include "PictureHash.h"

#include <memory>

// Reconstructed planes of a picture. The stand-in reconstructs no samples, so it is always empty.
struct PelUnitBuf
{
    ChromaFormat chromaFormat = CHROMA_420;
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    bool empty() const { return true; }
    PlaneView plane(int) const { return PlaneView(); }
};

class Picture
{
public:
    int poc = 0;
    int layerId = 0;
    int temporalId = 0;
    int nalUnitType = NAL_UNIT_INVALID;
    int clvsIndex = 0;                  // coded layer video sequence the picture belongs to
    bool neededForOutput = true;
    bool referenced = false;            // the stand-in keeps no reference pictures
    bool fieldPic = false;
    bool topField = false;
    std::shared_ptr<SPS const> sps;
    std::shared_ptr<PPS const> pps;
    // The complete syntax of its slices was read (see DecLib::syntaxError) and how many of them
    // were intra slices.
    bool syntaxComplete = true;
    int numSlices = 0;
    int numIntraSlices = 0;
    bool hasHash = false;               // a decoded picture hash SEI message came with it
    PictureHash hash;

    bool getOutputMark() const { return neededForOutput; }
    void setOutputMark(bool mark) { neededForOutput = mark; }
    PelUnitBuf getRecoBuf(bool = false) const
    {
        PelUnitBuf buf;
        buf.chromaFormat = sps ? sps->m_chromaFormatIdc : CHROMA_420;
        buf.width = pps ? pps->m_picWidth : 0;
        buf.height = pps ? pps->m_picHeight : 0;
        return buf;
    }
    void destroy()
    {
        sps.reset();
        pps.reset();
    }
};
