#include "display/ColorConversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

inline unsigned char Clip8(int v)
{
    return static_cast<unsigned char>(std::min(std::max(v, 0), 255));
}

// Samples of 16-bit pictures are unsigned (Y216, Y416 and 16-bit planar reach 65535).
inline int Sample(short v)
{
    return static_cast<unsigned short>(v);
}
inline int Sample(int v)
{
    return std::clamp(v, 0, 65535);
}
// Residual pictures hold signed differences.
inline int Signed(short v)
{
    return v;
}
inline int Signed(int v)
{
    return std::clamp(v, -65536, 65535);
}

// Bit depth as the kernels use it: below 8 counts as 8, above 16 as 16.
inline int Depth(int d)
{
    return std::clamp(d, 8, 16);
}

struct ChromaShift
{
    int x = 0;
    int y = 0;
};

ChromaShift ShiftOf(ImageInfo::IMG_TYPE type)
{
    ChromaShift s;
    s.x = (type == ImageInfo::IMG_420 || type == ImageInfo::IMG_422) ? 1 : 0;
    s.y = (type == ImageInfo::IMG_420 || type == ImageInfo::IMG_440) ? 1 : 0;
    return s;
}

template <typename T>
bool HasChroma(ImageType<T> const* image)
{
    return image->m_planes[1].data != nullptr && image->m_planes[2].data != nullptr;
}

void FillOpaqueBlack(unsigned char* out, unsigned width, unsigned height)
{
    uint32_t const px = 0xff000000u;
    int64_t const n = int64_t(width) * height;
    for (int64_t i = 0; i < n; ++i)
        std::memcpy(out + 4 * i, &px, 4);
}

inline void Put(unsigned char* o, int b, int g, int r)
{
    o[0] = Clip8(b);
    o[1] = Clip8(g);
    o[2] = Clip8(r);
    o[3] = 255;
}

// One pixel of the fixed-point kernel.
inline void Fixed(int y, int u, int v, int const* c, unsigned char* o)
{
    int const ys = y * 256;
    int const up = u - 128;
    int const vp = v - 128;
    Put(o, (ys + c[3] * up + 128) >> 8, (ys - c[2] * up - c[1] * vp + 128) >> 8, (ys + c[0] * vp + 128) >> 8);
}

// 8-bit samples: anything above 255 (or, in 16-bit storage, at or above 32768) counts as 255.
inline int Sample8(short v)
{
    unsigned const u = static_cast<unsigned short>(v);
    return static_cast<int>(u < 255u ? u : 255u);
}
inline int Sample8(int v)
{
    return std::clamp(v, 0, 255);
}

template <typename T, bool Residual>
inline int In8(T v)
{
    return Residual ? residualAdjust(Signed(v), 8) : Sample8(v);
}

inline uint32_t Pack(int b, int g, int r)
{
    return uint32_t(Clip8(b)) | (uint32_t(Clip8(g)) << 8) | (uint32_t(Clip8(r)) << 16) | 0xff000000u;
}

// Rows of the fixed-point kernel; SX 1 when chroma is halved horizontally. Y * 256 is a multiple
// of 256, so (Y * 256 + t + 128) >> 8 = Y + ((t + 128) >> 8): the chroma terms are rounded once per
// chroma sample, spread to their pixels in a small block, and added to each Y in a plain loop.
template <typename T, bool Residual, int SX>
void Fixed8Rows(ImageType<T> const* image, unsigned char* out, unsigned width, unsigned height, int const* c)
{
    constexpr unsigned kBlock = 256; // pixels per block, even
    int const cR = c[0], cGv = c[1], cGu = c[2], cB = c[3];
    int const sy = ShiftOf(image->m_type).y;
    int dR[kBlock], dG[kBlock], dB[kBlock];
    for (unsigned j = 0; j < height; ++j) {
        T const* yr = image->row(0, static_cast<int>(j));
        T const* ur = image->row(1, static_cast<int>(j >> sy));
        T const* vr = image->row(2, static_cast<int>(j >> sy));
        unsigned char* o = out + int64_t(j) * width * 4;
        for (unsigned x0 = 0; x0 < width; x0 += kBlock) {
            unsigned const n = std::min(kBlock, width - x0);
            unsigned const cn = (n + SX) >> SX;
            T const* ub = ur + (x0 >> SX);
            T const* vb = vr + (x0 >> SX);
            for (unsigned i = 0; i < cn; ++i) {
                int const up = In8<T, Residual>(ub[i]) - 128;
                int const vp = In8<T, Residual>(vb[i]) - 128;
                int const r = (cR * vp + 128) >> 8;
                int const g = (-cGu * up - cGv * vp + 128) >> 8;
                int const b = (cB * up + 128) >> 8;
                dR[i << SX] = r;
                dG[i << SX] = g;
                dB[i << SX] = b;
                if (SX) {
                    dR[(i << SX) + SX] = r;
                    dG[(i << SX) + SX] = g;
                    dB[(i << SX) + SX] = b;
                }
            }
            T const* yb = yr + x0;
            unsigned char* ob = o + 4 * int64_t(x0);
            for (unsigned i = 0; i < n; ++i) {
                int const y = In8<T, Residual>(yb[i]);
                uint32_t const px = Pack(y + dB[i], y + dG[i], y + dR[i]);
                std::memcpy(ob + 4 * i, &px, 4);
            }
        }
    }
}

template <typename T, bool Residual>
void Fixed8(ImageType<T> const* image, unsigned char* out, unsigned width, unsigned height, int const* c)
{
    if (ShiftOf(image->m_type).x)
        Fixed8Rows<T, Residual, 1>(image, out, width, height, c);
    else
        Fixed8Rows<T, Residual, 0>(image, out, width, height, c);
}

// Grey value of one sample at bit depth b (8..16), or in residual mode with r = b.
template <typename T>
inline int Grey(T v, int b, bool residual)
{
    if (b == 8)
        return residual ? Clip8((Signed(v) >> 1) + 128) : (Sample(v) & 0xff);
    int const s = residual ? std::max<int>(residualAdjust(Signed(v), b), 0) : Sample(v);
    return Clip8((s + (1 << (b - 9))) >> (b - 8));
}

} // namespace

short residualAdjust(int value, int bitDepth)
{
    int const b = std::clamp(bitDepth, 1, 16);
    int const v = (value >> 1) + (1 << (b - 1));
    return static_cast<short>(std::clamp(v, 0, (1 << b) - 1));
}

int adjustBitdepth(int a, int b)
{
    return b != 0 ? b : a;
}

void ColorConversion::fixedPointCoefficients(double const* k, int coef[4])
{
    auto fixed = [](double q) {
        float const f = static_cast<float>(q);
        return static_cast<int>(std::trunc(f * 512.0f + 0.5f));
    };
    double const kr = k[0], kg = k[1], kb = k[2];
    coef[0] = fixed(1.0 - kr);
    coef[1] = fixed(kr * (1.0 - kr) / kg);
    coef[2] = fixed(kb * (1.0 - kb) / kg);
    coef[3] = fixed(1.0 - kb);
}

template <typename T>
void ColorConversion::convertITU_RGB_8_kernel(ImageType<T> const* image, unsigned char* out, unsigned int width,
                                              unsigned int height, double const* k, int residualBitDepth)
{
    if (image == nullptr || out == nullptr)
        return;
    if (!HasChroma(image))
        return copyOnePlaneToRGB(image, 1, out, width, height, residualBitDepth);
    int c[4];
    fixedPointCoefficients(k, c);
    if (residualBitDepth != 0)
        Fixed8<T, true>(image, out, width, height, c);
    else
        Fixed8<T, false>(image, out, width, height, c);
}

template <typename T>
void ColorConversion::convertITU_RGB_shift(ImageType<T> const* image, unsigned char* out, unsigned int width,
                                           unsigned int height, double const* k, int residualBitDepth)
{
    if (image == nullptr || out == nullptr)
        return;
    if (!HasChroma(image))
        return copyOnePlaneToRGB(image, 1, out, width, height, residualBitDepth);
    bool const residual = residualBitDepth != 0;
    int const bL = Depth(residual ? residualBitDepth : image->m_planes[0].bitDepth);
    int const bC = Depth(residual ? residualBitDepth : image->m_planes[1].bitDepth);
    int const B = std::max(bL, bC);
    int const sL = B - bL;
    int const sC = B - bC;
    float const mid = static_cast<float>(1 << (B - 1));
    float const fR = static_cast<float>(2.0 * (1.0 - k[0]));
    float const fGu = static_cast<float>(2.0 * k[2] * (1.0 - k[2]) / k[1]);
    float const fGv = static_cast<float>(2.0 * k[0] * (1.0 - k[0]) / k[1]);
    float const fB = static_cast<float>(2.0 * (1.0 - k[2]));
    int const round = B > 8 ? 1 << (B - 9) : 0;
    int const down = B - 8;
    ChromaShift const s = ShiftOf(image->m_type);
    for (unsigned j = 0; j < height; ++j) {
        T const* yr = image->row(0, static_cast<int>(j));
        T const* ur = image->row(1, static_cast<int>(j >> s.y));
        T const* vr = image->row(2, static_cast<int>(j >> s.y));
        unsigned char* o = out + int64_t(j) * width * 4;
        for (unsigned x = 0; x < width; ++x) {
            unsigned const cx = x >> s.x;
            int y, u, v;
            if (residual) {
                y = residualAdjust(Signed(yr[x]) * (1 << sL), bL);
                u = residualAdjust(Signed(ur[cx]) * (1 << sC), bC);
                v = residualAdjust(Signed(vr[cx]) * (1 << sC), bC);
            } else {
                y = Sample(yr[x]) << sL;
                u = Sample(ur[cx]) << sC;
                v = Sample(vr[cx]) << sC;
            }
            float const yf = static_cast<float>(y);
            float const uf = static_cast<float>(u) - mid;
            float const vf = static_cast<float>(v) - mid;
            float const r = vf * fR + yf;
            float const g = (yf - uf * fGu) - vf * fGv;
            float const b = yf + uf * fB;
            Put(o + 4 * x, (static_cast<int>(b) + round) >> down, (static_cast<int>(g) + round) >> down,
                (static_cast<int>(r) + round) >> down);
        }
    }
}

template <typename T>
void ColorConversion::copyOnePlaneToRGB(ImageType<T> const* image, int plane, unsigned char* out, unsigned int width,
                                        unsigned int height, int residualBitDepth)
{
    if (image == nullptr || out == nullptr)
        return;
    int const p = std::clamp(plane, 1, 3) - 1;
    if (image->m_planes[p].data == nullptr)
        return FillOpaqueBlack(out, width, height);
    bool const residual = residualBitDepth != 0;
    int const b = Depth(residual ? residualBitDepth : image->m_planes[p == 0 ? 0 : 1].bitDepth);
    ChromaShift const s = p == 0 ? ChromaShift{} : ShiftOf(image->m_type);
    for (unsigned j = 0; j < height; ++j) {
        T const* row = image->row(p, static_cast<int>(j >> s.y));
        unsigned char* o = out + int64_t(j) * width * 4;
        for (unsigned x = 0; x < width; ++x) {
            int const g = Grey(row[x >> s.x], b, residual);
            Put(o + 4 * x, g, g, g);
        }
    }
}

template <typename T>
void ColorConversion::copyRGBToARGB32(ImageType<T> const* image, unsigned char* out, unsigned int width,
                                      unsigned int height, int)
{
    if (image == nullptr || out == nullptr)
        return;
    if (image->m_planes[0].data == nullptr)
        return FillOpaqueBlack(out, width, height);
    for (unsigned j = 0; j < height; ++j) {
        T const* row = image->row(0, static_cast<int>(j));
        unsigned char* o = out + int64_t(j) * width * 4;
        for (unsigned x = 0; x < width; ++x, row += 3) {
            o[4 * x] = static_cast<unsigned char>(row[2] & 0xff);
            o[4 * x + 1] = static_cast<unsigned char>(row[1] & 0xff);
            o[4 * x + 2] = static_cast<unsigned char>(row[0] & 0xff);
            o[4 * x + 3] = 255;
        }
    }
}

template <typename T>
void ColorConversion::copyToRGB(ImageType<T> const* image, unsigned char* out, unsigned int width, unsigned int height,
                                int residualBitDepth)
{
    if (image == nullptr || out == nullptr)
        return;
    if (!HasChroma(image) || image->m_planes[0].data == nullptr)
        return copyOnePlaneToRGB(image, 1, out, width, height, residualBitDepth);
    bool const residual = residualBitDepth != 0;
    int const bL = Depth(residual ? residualBitDepth : image->m_planes[0].bitDepth);
    int const bC = Depth(residual ? residualBitDepth : image->m_planes[1].bitDepth);
    ChromaShift const s = ShiftOf(image->m_type);
    for (unsigned j = 0; j < height; ++j) {
        T const* yr = image->row(0, static_cast<int>(j));
        T const* ur = image->row(1, static_cast<int>(j >> s.y));
        T const* vr = image->row(2, static_cast<int>(j >> s.y));
        unsigned char* o = out + int64_t(j) * width * 4;
        for (unsigned x = 0; x < width; ++x) {
            unsigned const cx = x >> s.x;
            Put(o + 4 * x, Grey(vr[cx], bC, residual), Grey(ur[cx], bC, residual), Grey(yr[x], bL, residual));
        }
    }
}

template <typename T>
void ColorConversion::convertITU_RGB(ImageType<T> const* image, unsigned char* out, unsigned int width,
                                     unsigned int height, double const* k, int residualBitDepth) const
{
    if (image == nullptr || out == nullptr)
        return;
    if (!HasChroma(image))
        return copyOnePlaneToRGB(image, 1, out, width, height, residualBitDepth);
    bool const eight = Depth(image->m_planes[0].bitDepth) == 8 && Depth(image->m_planes[1].bitDepth) == 8;
    if ((eight && residualBitDepth == 0) || residualBitDepth == 8)
        convertITU_RGB_8(image, out, width, height, k, residualBitDepth);
    else
        convertITU_RGB_shift(image, out, width, height, k, residualBitDepth);
}

void ColorConversion::convertITU_RGB_8(ImageType<short> const* image, unsigned char* out, unsigned int width,
                                       unsigned int height, double const* k, int residualBitDepth) const
{
    convertITU_RGB_8_kernel(image, out, width, height, k, residualBitDepth);
}

void ColorConversion::convertITU_RGB_8(ImageType<int> const* image, unsigned char* out, unsigned int width,
                                       unsigned int height, double const* k, int residualBitDepth) const
{
    convertITU_RGB_8_kernel(image, out, width, height, k, residualBitDepth);
}

void ColorConversion_avx2::convertITU_RGB_8(ImageType<short> const* image, unsigned char* out, unsigned int width,
                                            unsigned int height, double const* k, int residualBitDepth) const
{
    if (image == nullptr || out == nullptr)
        return;
    if (residualBitDepth != 0 || !HasChroma(image) || !cpuHasAvx2())
        return convertITU_RGB_8_kernel(image, out, width, height, k, residualBitDepth);
    ColorKernelArgs a{};
    ChromaShift const s = ShiftOf(image->m_type);
    a.y = image->plane(0);
    a.u = image->plane(1);
    a.v = image->plane(2);
    a.yStride = image->m_planes[0].stride;
    a.cStride = image->m_planes[1].stride;
    a.chromaShiftX = s.x;
    a.chromaShiftY = s.y;
    a.width = width;
    a.height = height;
    a.out = out;
    a.outStride = int64_t(width) * 4;
    fixedPointCoefficients(k, a.coef);
#if SERAVIN_HAVE_AVX2_KERNEL
    ConvertRgb8Avx2(a);
#endif
}

bool cpuHasAvx2()
{
    // The build defines SERAVIN_HAVE_AVX2_KERNEL on x86 only, where the vector unit is compiled.
#if SERAVIN_HAVE_AVX2_KERNEL
    static bool const sHas = __builtin_cpu_supports("avx2");
    return sHas;
#else
    return false;
#endif
}

ColorConversion const* getScalarConvertor()
{
    static constexpr ColorConversion opt_scalar;
    return &opt_scalar;
}

ColorConversion const* getAvx2Convertor()
{
    static constexpr ColorConversion_avx2 opt_avx2;
    return &opt_avx2;
}

ColorConversion const* getConvertor()
{
    return cpuHasAvx2() ? getAvx2Convertor() : getScalarConvertor();
}

#define SERAVIN_COLOR_CONVERSION(T)                                                                                    \
    template void ColorConversion::convertITU_RGB<T>(ImageType<T> const*, unsigned char*, unsigned, unsigned,          \
                                                     double const*, int) const;                                        \
    template void ColorConversion::copyOnePlaneToRGB<T>(ImageType<T> const*, int, unsigned char*, unsigned, unsigned,  \
                                                        int);                                                          \
    template void ColorConversion::convertITU_RGB_8_kernel<T>(ImageType<T> const*, unsigned char*, unsigned, unsigned, \
                                                              double const*, int);                                     \
    template void ColorConversion::convertITU_RGB_shift<T>(ImageType<T> const*, unsigned char*, unsigned, unsigned,    \
                                                           double const*, int);                                        \
    template void ColorConversion::copyRGBToARGB32<T>(ImageType<T> const*, unsigned char*, unsigned, unsigned, int);   \
    template void ColorConversion::copyToRGB<T>(ImageType<T> const*, unsigned char*, unsigned, unsigned, int);

SERAVIN_COLOR_CONVERSION(short)
SERAVIN_COLOR_CONVERSION(int)
#undef SERAVIN_COLOR_CONVERSION
