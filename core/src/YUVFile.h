#pragma once

#include "ImageInfo.h"

#include <cstdint>

// Reader state of one raw YUV or YUV4MPEG2 file.
class YUVFile
{
public:
    // Sample layout of a raw file.
    enum Formats : int32_t {
        FORMAT_PLANAR = 0,
        FORMAT_SEMI_PLANAR = 1,
        FORMAT_YUY2 = 2,
        FORMAT_UYVY = 3,
        FORMAT_Y210 = 4,
        FORMAT_Y216 = 5,
        FORMAT_AYUV = 6,
        FORMAT_Y410 = 7,
        FORMAT_Y416 = 8,
        FORMAT_P010 = 9,
    };
};
