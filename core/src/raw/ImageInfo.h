#pragma once

#include <cstdint>

// Shared vocabulary of raw pictures: chroma format, line arrangement and crop.
struct ImageInfo
{
    enum IMG_TYPE : int32_t {
        IMG_400 = 0,
        IMG_420 = 1,
        IMG_422 = 2,
        IMG_444 = 3,
        IMG_440 = 4,
        IMG_RGB = 5,  // 3 bytes per pixel in a raw file
        IMG_RGBA = 6, // 4 bytes per pixel in a raw file
    };

    enum IMG_STRUCT : int32_t {
        FRAME = 0,
        FIELDS_TOP_FIRST = 1,
        FIELDS_BOTTOM_FIRST = 2,
    };
};

// Luma samples removed at each edge of a picture.
struct CropInfo
{
    int32_t left = 0;
    int32_t right = 0;
    int32_t top = 0;
    int32_t bottom = 0;
};
