// Colour conversion of pictures to 32-bit images: the fixed-point, vector and shift kernels,
// grey planes, RGB pictures and the sample ranges that must not wrap.
#include "display/ColorConversion.h"
#include "raw/Util.h"
#include "raw/YUVFile.h"
#include "test_support.h"

#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

struct Bgr
{
    int b, g, r;
};

Bgr PixelAt(QImage const& img, int x, int y)
{
    uchar const* p = img.constScanLine(y) + 4 * x;
    EXPECT_EQ(p[3], 255) << "alpha at " << x << "," << y;
    return Bgr{p[0], p[1], p[2]};
}

// A picture whose every sample of plane 0 is y and of planes 1, 2 are u and v.
void Uniform(ImageType<short>& pic, int w, int h, ImageInfo::IMG_TYPE type, int depthY, int depthC, int y, int u, int v)
{
    ASSERT_TRUE(pic.allocate(w, h, depthY, depthC, type, CropInfo{}, ImageInfo::FRAME));
    int const values[3] = {y, u, v};
    for (int p = 0; p < 3; ++p) {
        if (pic.m_planes[p].data == nullptr)
            continue;
        for (int r = 0; r < pic.m_planes[p].height; ++r)
            for (int x = 0; x < pic.m_planes[p].width; ++x)
                pic.row(p, r)[x] = static_cast<short>(static_cast<unsigned short>(values[p]));
    }
}

void Random(ImageType<short>& pic, int w, int h, ImageInfo::IMG_TYPE type, int maxValue, unsigned seed)
{
    ASSERT_TRUE(pic.allocate(w, h, 8, 8, type, CropInfo{}, ImageInfo::FRAME));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(0, maxValue);
    for (int p = 0; p < 3; ++p) {
        if (pic.m_planes[p].data == nullptr)
            continue;
        for (int r = 0; r < pic.m_planes[p].height; ++r)
            for (int x = 0; x < pic.m_planes[p].width; ++x)
                pic.row(p, r)[x] = static_cast<short>(static_cast<unsigned short>(dist(rng)));
    }
}

// Every width up to 40, and some past the blocks of the scalar kernel.
std::vector<int> Widths()
{
    std::vector<int> w;
    for (int i = 1; i <= 40; ++i)
        w.push_back(i);
    for (int i : {255, 256, 257, 300, 513})
        w.push_back(i);
    return w;
}

} // namespace

TEST(ColorConversion, FixedPointCoefficientsPerStandard)
{
    struct Case
    {
        int row;
        int c[4];
    } const cases[] = {{0, {359, 183, 88, 454}},
                       {1, {403, 120, 48, 475}},
                       {2, {359, 183, 88, 454}},
                       {3, {359, 183, 88, 454}},
                       {4, {377, 146, 42, 482}}};
    for (Case const& c : cases) {
        int got[4];
        ColorConversion::fixedPointCoefficients(Util::Krgb[c.row], got);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(got[i], c.c[i]) << "row " << c.row << " coefficient " << i;
    }
}

// Single colours through getImg, for every chroma format and depth that takes a different path.
TEST(ColorConversion, UniformPicturesGiveTheDefinedColours)
{
    struct Case
    {
        char const* what;
        ImageInfo::IMG_TYPE type;
        int depthY, depthC, y, u, v;
        Bgr want;
    } const cases[] = {
        {"mid grey 4:2:0", ImageInfo::IMG_420, 8, 8, 128, 128, 128, {128, 128, 128}},
        {"red clipped 4:2:2", ImageInfo::IMG_422, 8, 8, 235, 128, 240, {235, 183, 255}},
        {"zeros 4:4:4", ImageInfo::IMG_444, 8, 8, 0, 0, 0, {0, 84, 0}},
        {"zeros 4:4:0", ImageInfo::IMG_440, 8, 8, 0, 0, 0, {0, 84, 0}},
        {"10-bit grey", ImageInfo::IMG_420, 10, 10, 512, 512, 512, {128, 128, 128}},
        {"4:0:0 in colour is its luma", ImageInfo::IMG_400, 8, 8, 77, 0, 0, {77, 77, 77}},
        // 16-bit samples from 32768 up are bright, not negative.
        {"16-bit bright grey", ImageInfo::IMG_444, 16, 16, 60000, 32768, 32768, {234, 234, 234}},
        {"16-bit white 4:2:2", ImageInfo::IMG_422, 16, 16, 65535, 32768, 32768, {255, 255, 255}},
        {"16-bit 4:0:0 white", ImageInfo::IMG_400, 16, 16, 65535, 0, 0, {255, 255, 255}},
        // Depths below 8 count as 8 (no shift by a negative count).
        {"depth 4 as 8", ImageInfo::IMG_420, 4, 4, 128, 128, 128, {128, 128, 128}},
        {"depth 4 luma, 10 chroma", ImageInfo::IMG_420, 4, 10, 128, 512, 512, {128, 128, 128}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        ImageType<short> pic;
        Uniform(pic, 6, 4, c.type, c.depthY, c.depthC, c.y, c.u, c.v);
        QImage const img = Util::getImg(0, &pic, 6, 4, false, 0);
        ASSERT_FALSE(img.isNull());
        ASSERT_EQ(img.format(), QImage::Format_ARGB32);
        ASSERT_EQ(img.size(), QSize(6, 4));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                Bgr const p = PixelAt(img, x, y);
                ASSERT_EQ(p.b, c.want.b) << x << "," << y;
                ASSERT_EQ(p.g, c.want.g) << x << "," << y;
                ASSERT_EQ(p.r, c.want.r) << x << "," << y;
            }
    }
}

// Frames made by ffmpeg, converted and compared with the conversion formulas in double precision.
TEST(ColorConversion, FfmpegFramesMatchTheFormulas)
{
    struct Case
    {
        char const* file;
        ImageInfo::IMG_TYPE type;
        int depth;
    } const cases[] = {{"conv_64x48_yuv420p.yuv", ImageInfo::IMG_420, 8},
                       {"conv_64x48_yuv422p.yuv", ImageInfo::IMG_422, 8},
                       {"conv_64x48_yuv444p.yuv", ImageInfo::IMG_444, 8},
                       {"conv_64x48_yuv420p10le.yuv", ImageInfo::IMG_420, 10}};
    int const w = 64, h = 48;
    double const kr = Util::Krgb[1][0], kg = Util::Krgb[1][1], kb = Util::Krgb[1][2];
    for (Case const& c : cases) {
        SCOPED_TRACE(c.file);
        QByteArray data = ReadAll(TestMediaPath(c.file));
        ASSERT_FALSE(data.isEmpty());
        ImageType<short> pic;
        ASSERT_TRUE(pic.allocate(w, h, c.depth, c.depth, c.type, CropInfo{}, ImageInfo::FRAME));
        PicSize g;
        g.width = w;
        g.height = h;
        g.lumaBitDepth = g.chromaBitDepth = c.depth;
        g.type = c.type;
        YUVFile file;
        file.m_format = YUVFile::FORMAT_PLANAR;
        file.m_bitDepth = c.depth;
        file.readData(pic, data, 0, g);

        QImage const img = Util::getImg(0, &pic, w, h, false, 0);
        ASSERT_EQ(img.size(), QSize(w, h));
        int const sx = c.type == ImageInfo::IMG_444 ? 0 : 1;
        int const sy = c.type == ImageInfo::IMG_420 ? 1 : 0;
        double const scale = std::ldexp(1.0, c.depth - 8);
        double const mid = std::ldexp(1.0, c.depth - 1);
        int worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double const Y = static_cast<unsigned short>(pic.row(0, y)[x]);
                double const U = static_cast<unsigned short>(pic.row(1, y >> sy)[x >> sx]) - mid;
                double const V = static_cast<unsigned short>(pic.row(2, y >> sy)[x >> sx]) - mid;
                auto to8 = [&](double v) { return std::clamp(std::lround(v / scale), 0L, 255L); };
                long const r = to8(Y + 2 * (1 - kr) * V);
                long const gr = to8(Y - 2 * kb * (1 - kb) / kg * U - 2 * kr * (1 - kr) / kg * V);
                long const b = to8(Y + 2 * (1 - kb) * U);
                Bgr const p = PixelAt(img, x, y);
                worst = std::max({worst, int(std::abs(p.r - r)), int(std::abs(p.g - gr)), int(std::abs(p.b - b))});
            }
        EXPECT_LE(worst, 1);
    }
}

TEST(ColorConversion, VectorKernelGivesTheScalarBytes)
{
    if (!cpuHasAvx2())
        GTEST_SKIP() << "no AVX2 on this processor";
    double const* k = Util::Krgb[1];
    for (ImageInfo::IMG_TYPE type : {ImageInfo::IMG_420, ImageInfo::IMG_422, ImageInfo::IMG_444, ImageInfo::IMG_440})
        for (int maxValue : {255, 65535}) // 8-bit samples, and out-of-range ones clipped alike
            for (int w : Widths()) {
                ImageType<short> pic;
                Random(pic, w, 5, type, maxValue, 1000u * type + w);
                std::vector<unsigned char> a(size_t(w) * 5 * 4, 1), b(size_t(w) * 5 * 4, 2);
                getScalarConvertor()->convertITU_RGB(&pic, a.data(), w, 5, k, 0);
                getAvx2Convertor()->convertITU_RGB(&pic, b.data(), w, 5, k, 0);
                ASSERT_EQ(a, b) << "type " << type << " width " << w << " max " << maxValue;
            }
}

TEST(ColorConversion, ConverterFollowsTheProcessor)
{
    EXPECT_EQ(getConvertor(), cpuHasAvx2() ? getAvx2Convertor() : getScalarConvertor());
}

TEST(ColorConversion, SinglePlanesAsGrey)
{
    // 4:2:0: each U sample covers 2 x 2 pixels.
    ImageType<short> pic;
    ASSERT_TRUE(pic.allocate(4, 4, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME));
    pic.setZero();
    short const u[4] = {10, 20, 30, 40};
    pic.row(1, 0)[0] = u[0];
    pic.row(1, 0)[1] = u[1];
    pic.row(1, 1)[0] = u[2];
    pic.row(1, 1)[1] = u[3];
    QImage const img = Util::getImg(2, &pic, 4, 4, false, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            Bgr const p = PixelAt(img, x, y);
            int const want = u[(y / 2) * 2 + x / 2];
            EXPECT_EQ(p.b, want);
            EXPECT_EQ(p.g, want);
            EXPECT_EQ(p.r, want);
        }

    // Deeper planes are scaled with rounding; 16-bit ones stay unsigned.
    struct Case
    {
        int depth, value, grey;
    } const cases[] = {{10, 512, 128}, {10, 1023, 255}, {16, 65535, 255}, {16, 40000, 156}, {12, 2047, 128}};
    for (Case const& c : cases) {
        ImageType<short> deep;
        Uniform(deep, 3, 2, ImageInfo::IMG_444, c.depth, c.depth, c.value, c.value, c.value);
        for (int plane = 1; plane <= 3; ++plane) {
            Bgr const p = PixelAt(Util::getImg(plane, &deep, 3, 2, false, 0), 2, 1);
            EXPECT_EQ(p.g, c.grey) << "depth " << c.depth << " value " << c.value << " plane " << plane;
        }
    }
}

TEST(ColorConversion, ResidualPicturesAreCentredOnGrey)
{
    ImageType<short> pic;
    Uniform(pic, 4, 2, ImageInfo::IMG_444, 8, 8, 0, 0, 0);
    Bgr const zero = PixelAt(Util::getImg(0, &pic, 4, 2, false, 8), 0, 0);
    EXPECT_EQ(zero.g, 128);
    EXPECT_EQ(residualAdjust(-600, 8), 0);
    EXPECT_EQ(residualAdjust(600, 8), 255);
    EXPECT_EQ(residualAdjust(0, 10), 512);
    EXPECT_EQ(adjustBitdepth(10, 0), 10);
    EXPECT_EQ(adjustBitdepth(10, 8), 8);
}

TEST(ColorConversion, RgbAndUnusablePictures)
{
    for (ImageInfo::IMG_TYPE type : {ImageInfo::IMG_RGB, ImageInfo::IMG_RGBA}) {
        ImageType<short> rgb;
        ASSERT_TRUE(rgb.allocate(3, 2, 8, 8, type, CropInfo{}, ImageInfo::FRAME));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                short* s = rgb.row(0, y) + 3 * x;
                s[0] = 200; // red
                s[1] = 100;
                s[2] = 0x150; // blue, low byte 0x50
            }
        for (int plane = 0; plane <= 3; ++plane) {
            QImage const img = Util::getImg(plane, &rgb, 3, 2, false, 0);
            ASSERT_FALSE(img.isNull()) << "type " << type << " plane " << plane;
            Bgr const p = PixelAt(img, 2, 1);
            EXPECT_EQ(p.r, 200);
            EXPECT_EQ(p.g, 100);
            EXPECT_EQ(p.b, 0x50);
        }
    }
    ImageType<short> none;
    EXPECT_TRUE(Util::getImg(0, &none, 4, 4, false, 0).isNull()) << "no samples";
    EXPECT_TRUE(Util::getImg<short>(0, nullptr, 4, 4, false, 0).isNull());
    ImageType<short> unknown;
    ASSERT_TRUE(unknown.allocate(4, 4, 8, 8, static_cast<ImageInfo::IMG_TYPE>(7), CropInfo{}, ImageInfo::FRAME));
    EXPECT_TRUE(Util::getImg(0, &unknown, 4, 4, false, 0).isNull());

    // A size beyond the picture is not read; the rest of the image is black.
    ImageType<short> small;
    Uniform(small, 2, 2, ImageInfo::IMG_444, 8, 8, 200, 128, 128);
    QImage const big = Util::getImg(0, &small, 5, 3, false, 0);
    ASSERT_EQ(big.size(), QSize(5, 3));
    EXPECT_EQ(PixelAt(big, 1, 1).g, 200);
    EXPECT_EQ(PixelAt(big, 4, 2).g, 0);
}
