#pragma once

#include "display/ColorConversion_avx2.h"
#include "raw/Util.h"

#include <cstddef>
#include <cstdint>

// Turns a picture into 32-bit pixels in memory order blue, green, red, 255.
// Every operation writes `height` rows of `width` pixels, packed at width x 4 bytes.
// A residual bit depth r (0 = none) marks a picture of signed differences.
class ColorConversion
{
public:
    constexpr ColorConversion() = default;

    // 8-bit colour conversion in fixed point (the scalar kernel); samples are taken as 0..255.
    virtual void convertITU_RGB_8(ImageType<short> const* image, unsigned char* out, unsigned int width,
                                  unsigned int height, double const* k, int residualBitDepth) const;
    virtual void convertITU_RGB_8(ImageType<int> const* image, unsigned char* out, unsigned int width,
                                  unsigned int height, double const* k, int residualBitDepth) const;

    // Whole picture in colour with the weights k = {Kr, Kg, Kb}: the 8-bit path when both luma and
    // chroma are 8 bits (or r is 8), the shift kernel otherwise.
    template <typename T>
    void convertITU_RGB(ImageType<T> const* image, unsigned char* out, unsigned int width, unsigned int height,
                        double const* k, int residualBitDepth) const;

    // One plane as grey: 1 Y, 2 U, 3 V.
    template <typename T>
    static void copyOnePlaneToRGB(ImageType<T> const* image, int plane, unsigned char* out, unsigned int width,
                                  unsigned int height, int residualBitDepth);

    template <typename T>
    static void convertITU_RGB_8_kernel(ImageType<T> const* image, unsigned char* out, unsigned int width,
                                        unsigned int height, double const* k, int residualBitDepth);
    template <typename T>
    static void convertITU_RGB_shift(ImageType<T> const* image, unsigned char* out, unsigned int width,
                                     unsigned int height, double const* k, int residualBitDepth);

    // An RGB picture (one plane of R, G, B samples) to blue, green, red, 255 (low byte of each sample).
    template <typename T>
    static void copyRGBToARGB32(ImageType<T> const* image, unsigned char* out, unsigned int width, unsigned int height,
                                int unused);
    // The three planes as red, green and blue without conversion.
    template <typename T>
    static void copyToRGB(ImageType<T> const* image, unsigned char* out, unsigned int width, unsigned int height,
                          int residualBitDepth);

    // Fixed-point coefficients {cR, cGv, cGu, cB} of the 8-bit kernels.
    static void fixedPointCoefficients(double const* k, int coef[4]);
};

// 8-bit conversion with 256-bit integer vectors, sixteen pixels per step; same bytes as the base.
class ColorConversion_avx2 : public ColorConversion
{
public:
    constexpr ColorConversion_avx2() = default;
    using ColorConversion::convertITU_RGB_8;
    void convertITU_RGB_8(ImageType<short> const* image, unsigned char* out, unsigned int width, unsigned int height,
                          double const* k, int residualBitDepth) const override;
};

// The process-wide converter: the vector variant where the processor has AVX2, the scalar one otherwise.
ColorConversion const* getConvertor();
// The scalar converter, whatever the processor.
ColorConversion const* getScalarConvertor();
// The vector converter; only to be used when cpuHasAvx2() is true.
ColorConversion const* getAvx2Convertor();
bool cpuHasAvx2();

// Residual mapping: min(max((v >> 1) + 2^(bitDepth-1), 0), 2^bitDepth - 1).
short residualAdjust(int value, int bitDepth);
// b when b is not 0, else a.
int adjustBitdepth(int a, int b);
