#pragma once

#include "picture/Picture.h"

#include <string>

// Picture output. The memory form of open binds the output to caller-owned planes: planar
// rows without padding, the width and height of the cropped picture, one byte per sample at an
// output bit depth of 8 and below, else two bytes, low byte first. Samples are converted from
// the internal to the output bit depth (rounded down-shift, or up-shift).
class VideoIOYuv
{
public:
    bool open(std::string const& fileName, bool writeMode, int const fileBitDepth[2], int const msbExtendedBitDepth[2],
              int const internalBitDepth[2], unsigned char** planes, int const* planeSizes);
    bool isOpen() const { return m_open; }
    // The first plane the output is bound to (null when closed).
    unsigned char const* boundPlane() const { return m_planes[0]; }
    void close();
    // Writes one picture, cropped by the window, into the planes; a 4:0:0 picture fills chroma
    // planes it is given with the neutral value. False when nothing could be written: the output
    // is closed or the picture holds no samples.
    bool write(PelUnitBuf const& pic, int colourSpaceConversion, bool packedYuv, int confLeft, int confRight,
               int confTop, int confBottom, ChromaFormat format, bool clipOutput);
    // The two fields of a frame, interleaved.
    bool write(PelUnitBuf const& top, PelUnitBuf const& bottom, int colourSpaceConversion, bool packedYuv, int confLeft,
               int confRight, int confTop, int confBottom, ChromaFormat format, bool isTff, bool clipOutput);

private:
    bool writePlanes(PelUnitBuf const& pic, PelUnitBuf const* bottom, int confLeft, int confRight, int confTop,
                     int confBottom, bool topFieldFirst);

    bool m_open = false;
    int m_fileBitDepth = 8;
    unsigned char* m_planes[3] = {};
    int m_planeSizes[3] = {};
};
