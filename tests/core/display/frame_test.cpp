#include "display/frame.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

extern "C" {
#include <libavutil/frame.h>
}

using namespace ze::nox::core;

namespace {

using SampleFn = std::function<int(int x, int y)>;

struct Layout
{
    AVPixelFormat fmt;
    char const* name;
    int log2w; // chroma subsampling
    int log2h;
    int maxValue;
};

const Layout kLayouts[] = {
    {AV_PIX_FMT_YUV420P, "yuv420p", 1, 1, 255},          {AV_PIX_FMT_YUV422P, "yuv422p", 1, 0, 255},
    {AV_PIX_FMT_YUV444P, "yuv444p", 0, 0, 255},          {AV_PIX_FMT_YUV420P10LE, "yuv420p10le", 1, 1, 1023},
    {AV_PIX_FMT_YUV444P10LE, "yuv444p10le", 0, 0, 1023}, {AV_PIX_FMT_NV12, "nv12", 1, 1, 255},
    {AV_PIX_FMT_P010LE, "p010le", 1, 1, 1023},           {AV_PIX_FMT_YUYV422, "yuyv422", 1, 0, 255},
};

Layout const& LayoutOf(AVPixelFormat fmt)
{
    for (auto const& l : kLayouts)
        if (l.fmt == fmt)
            return l;
    std::abort();
}

void PutWord(uint8_t* p, int v)
{
    p[0] = static_cast<uint8_t>(v & 0xff);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Stores one sample as each layout keeps it; x, y are in the component's own sample grid.
void PutSample(AVFrame* f, int comp, int x, int y, int v)
{
    auto row = [f, y](int plane) { return f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane]; };
    switch (f->format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUV444P: row(comp)[x] = static_cast<uint8_t>(v); break;
    case AV_PIX_FMT_YUV420P10LE:
    case AV_PIX_FMT_YUV444P10LE: PutWord(row(comp) + 2 * x, v); break;
    case AV_PIX_FMT_NV12:
        if (comp == 0)
            row(0)[x] = static_cast<uint8_t>(v);
        else
            row(1)[2 * x + comp - 1] = static_cast<uint8_t>(v);
        break;
    case AV_PIX_FMT_P010LE:
        if (comp == 0)
            PutWord(row(0) + 2 * x, v << 6);
        else
            PutWord(row(1) + 4 * x + 2 * (comp - 1), v << 6);
        break;
    case AV_PIX_FMT_YUYV422: // Y0 U Y1 V
        if (comp == 0)
            row(0)[2 * x] = static_cast<uint8_t>(v);
        else
            row(0)[4 * x + (comp == 1 ? 1 : 3)] = static_cast<uint8_t>(v);
        break;
    default: std::abort();
    }
}

void FillPicture(AVFrame* f, SampleFn const& fy, SampleFn const& fu, SampleFn const& fv)
{
    Layout const& l = LayoutOf(static_cast<AVPixelFormat>(f->format));
    for (int y = 0; y < f->height; ++y)
        for (int x = 0; x < f->width; ++x)
            PutSample(f, 0, x, y, fy(x, y));
    int const cw = (f->width + (1 << l.log2w) - 1) >> l.log2w;
    int const ch = (f->height + (1 << l.log2h) - 1) >> l.log2h;
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            PutSample(f, 1, x, y, fu(x, y));
            PutSample(f, 2, x, y, fv(x, y));
        }
}

// A picture with packed rows, as the raw decoders make them.
std::unique_ptr<Frame> MakePicture(int w, int h, AVPixelFormat fmt, SampleFn const& fy, SampleFn const& fu,
                                   SampleFn const& fv)
{
    auto f = std::make_unique<Frame>();
    EXPECT_TRUE(f->allocatePicture(w, h, fmt));
    FillPicture(f->avFrame(), fy, fu, fv);
    return f;
}

// A picture with padded rows (64-byte aligned pitches), as FFmpeg's decoders hand them over.
std::unique_ptr<Frame> MakePaddedPicture(int w, int h, AVPixelFormat fmt, SampleFn const& fy, SampleFn const& fu,
                                         SampleFn const& fv)
{
    auto f = std::make_unique<Frame>();
    AVFrame* a = f->avFrame();
    a->width = w;
    a->height = h;
    a->format = fmt;
    EXPECT_EQ(av_frame_get_buffer(a, 64), 0);
    FillPicture(a, fy, fu, fv);
    return f;
}

SampleFn Constant(int v)
{
    return [v](int, int) { return v; };
}

// Puts a reference to src's picture into dst without resetting dst, the way a decoder hands over
// the pictures of its library.
void HandOver(Frame& dst, Frame const& src)
{
    av_frame_unref(dst.avFrame());
    ASSERT_EQ(av_frame_ref(dst.avFrame(), src.avFrame()), 0);
}

QRgb Gradient(int index)
{
    return qRgb(heatMapGradient[index][0], heatMapGradient[index][1], heatMapGradient[index][2]);
}

int Grey16(QImage const& image, int x, int y)
{
    return reinterpret_cast<quint16 const*>(image.constScanLine(y))[x];
}

} // namespace

TEST(Frame, EmptyFrameHasNoPicture)
{
    Frame f;
    EXPECT_FALSE(f.isValid());
    EXPECT_EQ(f.bitDepth(), 0);
    EXPECT_FALSE(f.pixel(0, 0).valid);
    EXPECT_FALSE(f.pixelRgb(0, 0).valid);
    QImage image(4, 4, QImage::Format_RGB888);
    EXPECT_FALSE(f.fillImage(image, COMPONENT_YUV));
    EXPECT_TRUE(image.isNull());
    image = QImage(4, 4, QImage::Format_RGB888);
    EXPECT_FALSE(f.fillImageAsHeatMap(image, COMPONENT_Y, 127));
    EXPECT_TRUE(image.isNull());
}

TEST(Frame, PixelReadsEveryLayout)
{
    for (Layout const& l : kLayouts) {
        SCOPED_TRACE(l.name);
        int const m = l.maxValue + 1;
        const SampleFn fy = [m](int x, int y) { return (37 * x + 101 * y + 1) % m; };
        const SampleFn fu = [m](int x, int y) { return (53 * x + 29 * y + 3) % m; };
        const SampleFn fv = [m](int x, int y) { return (17 * x + 71 * y + 9) % m; };
        int const w = 101;
        int const h = 5;
        for (bool padded : {false, true}) {
            SCOPED_TRACE(padded ? "padded rows" : "packed rows");
            auto f = padded ? MakePaddedPicture(w, h, l.fmt, fy, fu, fv) : MakePicture(w, h, l.fmt, fy, fu, fv);
            EXPECT_EQ(f->bitDepth(), l.maxValue == 255 ? 8 : 10);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const PixelValues p = f->pixel(x, y);
                    ASSERT_TRUE(p.valid) << x << "," << y;
                    ASSERT_EQ(p.c0, fy(x, y)) << x << "," << y;
                    ASSERT_EQ(p.c1, fu(x >> l.log2w, y >> l.log2h)) << x << "," << y;
                    ASSERT_EQ(p.c2, fv(x >> l.log2w, y >> l.log2h)) << x << "," << y;
                }
            for (auto [x, y] : {std::pair{w, 0}, {-1, 0}, {0, h}, {0, -1}})
                EXPECT_FALSE(f->pixel(x, y).valid) << x << "," << y;
        }
    }
}

TEST(FrameHeatMap, IndexFollowsValueAndMaximum)
{
    EXPECT_EQ(Gradient(0), qRgb(255, 255, 255));
    EXPECT_EQ(Gradient(16), qRgb(255, 248, 58));
    EXPECT_EQ(Gradient(26), qRgb(254, 185, 46));
    EXPECT_EQ(Gradient(47), qRgb(127, 5, 9));
    EXPECT_EQ(Gradient(63), qRgb(0, 0, 0));

    const struct
    {
        AVPixelFormat fmt;
        int maximum;
        int value;
        int index;
    } kCases[] = {
        {AV_PIX_FMT_YUV444P, 127, 0, 0},
        {AV_PIX_FMT_YUV444P, 127, 2, 0},
        {AV_PIX_FMT_YUV444P, 127, 3, 1},
        {AV_PIX_FMT_YUV444P, 127, 126, 62},
        {AV_PIX_FMT_YUV444P, 127, 127, 63},
        {AV_PIX_FMT_YUV444P, 127, 255, 63},
        {AV_PIX_FMT_YUV444P, 1, 0, 0},
        {AV_PIX_FMT_YUV444P, 1, 1, 63},
        {AV_PIX_FMT_YUV444P, 1, 200, 63},
        {AV_PIX_FMT_YUV444P, 10, 5, 31},
        // A maximum below 1 counts as 1.
        {AV_PIX_FMT_YUV444P, 0, 0, 0},
        {AV_PIX_FMT_YUV444P, 0, 5, 63},
        {AV_PIX_FMT_YUV444P, -3, 5, 63},
        {AV_PIX_FMT_YUV444P10LE, 127, 1023, 63},
        {AV_PIX_FMT_YUV444P10LE, 1023, 512, 31},
        {AV_PIX_FMT_YUV444P10LE, 1023, 17, 1},
        {AV_PIX_FMT_P010LE, 1023, 512, 31},
    };
    for (auto const& c : kCases) {
        SCOPED_TRACE(testing::Message() << LayoutOf(c.fmt).name << " max " << c.maximum << " value " << c.value);
        auto f = MakePicture(3, 2, c.fmt, Constant(c.value), Constant(0), Constant(0));
        QImage image;
        ASSERT_TRUE(f->fillImageAsHeatMap(image, COMPONENT_Y, c.maximum));
        ASSERT_EQ(image.format(), QImage::Format_RGB888);
        ASSERT_EQ(image.size(), QSize(3, 2));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(image.pixel(x, y), Gradient(c.index)) << x << "," << y;
        const PixelValues rgb = f->pixelRgb(2, 1);
        ASSERT_TRUE(rgb.valid);
        EXPECT_EQ(qRgb(rgb.c0, rgb.c1, rgb.c2), Gradient(c.index));
    }
}

TEST(FrameHeatMap, ChromaComponentsOfEveryLayout)
{
    for (Layout const& l : kLayouts) {
        SCOPED_TRACE(l.name);
        int const m = l.maxValue + 1;
        const SampleFn fu = [m](int x, int y) { return (97 * x + 389 * y + 3) % m; };
        const SampleFn fv = [m](int x, int y) { return (211 * x + 53 * y + 500) % m; };
        int const w = 9;
        int const h = 5;
        auto f = MakePicture(w, h, l.fmt, Constant(1), fu, fv);
        for (auto [component, fn] : {std::pair{COMPONENT_U, fu}, {COMPONENT_V, fv}}) {
            QImage image;
            ASSERT_TRUE(f->fillImageAsHeatMap(image, component, l.maxValue));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    int const v = fn(x >> l.log2w, y >> l.log2h);
                    ASSERT_EQ(image.pixel(x, y), Gradient(63 * v / l.maxValue)) << component << ":" << x << "," << y;
                }
        }
    }
}

TEST(FrameHeatMap, AllComponentsCombined)
{
    const struct
    {
        AVPixelFormat fmt;
        int y, u, v;
        int maximum;
        int index;
    } kCases[] = {
        // The mean rounds down to 0 although a sample is not 0: shown as 1.
        {AV_PIX_FMT_YUV420P, 0, 2, 0, 127, 0},
        {AV_PIX_FMT_YUV420P, 0, 2, 0, 1, 63},
        {AV_PIX_FMT_YUV420P, 0, 0, 0, 1, 0},
        // 4:2:0: ((4*100 + 200/2 + 80/2) / 4) / 3 = 45
        {AV_PIX_FMT_YUV420P, 100, 50, 20, 127, 22},
        {AV_PIX_FMT_NV12, 100, 50, 20, 127, 22},
        // 4:2:2: ((2*100 + 100 + 40) / 2) / 3 = 56; 4:4:4: 170 / 3 = 56
        {AV_PIX_FMT_YUV422P, 100, 50, 20, 127, 27},
        {AV_PIX_FMT_YUYV422, 100, 50, 20, 127, 27},
        {AV_PIX_FMT_YUV444P, 100, 50, 20, 127, 27},
        // 10 bit 4:2:0: ((4*900 + 1600/2 + 1200/2) / 4) / 3 = 416
        {AV_PIX_FMT_YUV420P10LE, 900, 400, 300, 1023, 25},
        {AV_PIX_FMT_P010LE, 900, 400, 300, 1023, 25},
    };
    for (auto const& c : kCases) {
        SCOPED_TRACE(testing::Message() << LayoutOf(c.fmt).name << " " << c.y << " " << c.u << " " << c.v);
        auto f = MakePicture(4, 2, c.fmt, Constant(c.y), Constant(c.u), Constant(c.v));
        QImage image;
        ASSERT_TRUE(f->fillImageAsHeatMap(image, COMPONENT_YUV, c.maximum));
        EXPECT_EQ(image.pixel(3, 1), Gradient(c.index));
        EXPECT_EQ(image.pixel(0, 0), Gradient(c.index));
    }
}

// The planar layouts go through colour tables, the interleaved ones through the per-sample
// code: on the same samples both must give the same picture, for any maximum.
TEST(FrameHeatMap, PlanarTablesMatchInterleavedLayouts)
{
    const struct
    {
        AVPixelFormat planar, interleaved;
        int maxValue;
    } kPairs[] = {
        {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12, 255},
        {AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_P010LE, 1023},
        {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUYV422, 255},
    };
    for (auto const& c : kPairs) {
        int const m = c.maxValue + 1;
        const SampleFn fy = [m](int x, int y) { return (x * 37 + y * 101 + x * y) % m; };
        const SampleFn fu = [m](int x, int y) { return (x * 53 + y * 7 + 11) % m; };
        const SampleFn fv = [m](int x, int y) { return (x * 5 + y * 67 + 300) % m; };
        auto a = MakePicture(21, 9, c.planar, fy, fu, fv);
        auto b = MakePicture(21, 9, c.interleaved, fy, fu, fv);
        for (Component component : {COMPONENT_YUV, COMPONENT_Y})
            for (int maximum : {1, 3, 127, c.maxValue, 4 * c.maxValue}) {
                SCOPED_TRACE(testing::Message()
                             << LayoutOf(c.planar).name << " component " << component << " max " << maximum);
                QImage ia, ib;
                ASSERT_TRUE(a->fillImageAsHeatMap(ia, component, maximum));
                ASSERT_TRUE(b->fillImageAsHeatMap(ib, component, maximum));
                EXPECT_EQ(ia, ib);
            }
    }
}

TEST(FrameFillImage, OddWidthRowsHaveNoSkew)
{
    int const w = 101;
    int const h = 9;
    const SampleFn fy = [](int x, int y) { return (x * 7 + y * 13) & 255; };
    for (bool padded : {false, true}) {
        SCOPED_TRACE(padded ? "padded rows" : "packed rows");
        auto f = padded ? MakePaddedPicture(w, h, AV_PIX_FMT_YUV420P, fy, Constant(128), Constant(128))
                        : MakePicture(w, h, AV_PIX_FMT_YUV420P, fy, Constant(128), Constant(128));
        QImage grey;
        ASSERT_TRUE(f->fillImage(grey, COMPONENT_Y));
        ASSERT_EQ(grey.format(), QImage::Format_Grayscale8);
        ASSERT_EQ(grey.size(), QSize(w, h));
        EXPECT_FALSE(f->pixelRgb(0, 0).valid) << "a grey conversion is not an RGB picture";
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(grey.constScanLine(y)[x], fy(x, y)) << x << "," << y;

        QImage rgb;
        ASSERT_TRUE(f->fillImage(rgb, COMPONENT_YUV));
        ASSERT_EQ(rgb.format(), QImage::Format_RGB888);
        ASSERT_EQ(rgb.size(), QSize(w, h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb c = rgb.pixel(x, y);
                ASSERT_NEAR(qRed(c), fy(x, y), 2) << x << "," << y;
                ASSERT_NEAR(qGreen(c), fy(x, y), 2) << x << "," << y;
                ASSERT_NEAR(qBlue(c), fy(x, y), 2) << x << "," << y;
                const PixelValues p = f->pixelRgb(x, y);
                ASSERT_TRUE(p.valid);
                ASSERT_EQ(qRgb(p.c0, p.c1, p.c2), c) << x << "," << y;
            }
        EXPECT_FALSE(f->pixelRgb(w, 0).valid);
        EXPECT_FALSE(f->pixelRgb(0, h).valid);
    }
}

TEST(FrameFillImage, ChromaPlaneShownAtFullSize)
{
    auto f = MakePicture(33, 17, AV_PIX_FMT_YUV420P, Constant(16), Constant(77), Constant(200));
    for (auto [component, value] : {std::pair{COMPONENT_U, 77}, {COMPONENT_V, 200}}) {
        QImage image;
        ASSERT_TRUE(f->fillImage(image, component));
        ASSERT_EQ(image.format(), QImage::Format_Grayscale8);
        ASSERT_EQ(image.size(), QSize(33, 17));
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 33; ++x)
                ASSERT_NEAR(image.constScanLine(y)[x], value, 1) << component << ":" << x << "," << y;
    }
}

// Deeper planar YUV pictures are rounded to 8 bits before the colour conversion: the image is
// the one of the 8-bit picture with the rounded samples (words above the depth saturate).
// Other deeper layouts keep 16-bit colour; grey stays 16-bit.
TEST(FrameFillImage, DeepColourIsTheRoundedEightBitPicture)
{
    const SampleFn y8 = [](int x, int y) { return (x * 23 + y * 41) % 256; };
    const SampleFn u8 = [](int x, int y) { return (x * 7 + y * 90 + 30) % 256; };
    const SampleFn v8 = [](int x, int y) { return (x * 61 + y * 13 + 200) % 256; };
    const struct
    {
        AVPixelFormat deep, eight;
        int shift;
        int add; // added to v << shift: below half a step rounds down, half rounds up
        int roundUp;
    } kCases[] = {
        {AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV420P, 2, 0, 0}, {AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV420P, 2, 1, 0},
        {AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV420P, 2, 2, 1}, {AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_YUV444P, 2, 3, 1},
        {AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_YUV444P, 2, 1, 0},
    };
    for (auto const& c : kCases) {
        SCOPED_TRACE(testing::Message() << LayoutOf(c.eight).name << " shift " << c.shift << " add " << c.add);
        auto up = [&](SampleFn const& f) {
            return SampleFn([=](int x, int y) { return std::min((f(x, y) << c.shift) + c.add, (256 << c.shift) - 1); });
        };
        auto rounded = [&](SampleFn const& f) {
            return SampleFn([=](int x, int y) { return std::min(f(x, y) + c.roundUp, 255); });
        };
        for (auto [w, h] : {std::pair{33, 17}, std::pair{8, 2}}) {
            auto deep = MakePaddedPicture(w, h, c.deep, up(y8), up(u8), up(v8));
            auto eight = MakePicture(w, h, c.eight, rounded(y8), rounded(u8), rounded(v8));
            QImage a, b;
            ASSERT_TRUE(deep->fillImage(a, COMPONENT_YUV));
            ASSERT_TRUE(eight->fillImage(b, COMPONENT_YUV));
            ASSERT_EQ(a.format(), QImage::Format_RGB888);
            ASSERT_EQ(a, b);
            EXPECT_TRUE(deep->pixelRgb(w - 1, h - 1).valid);
        }
    }

    // Words above the depth saturate at 255 instead of wrapping.
    auto over = MakePicture(4, 2, AV_PIX_FMT_YUV444P10LE, Constant(0xFFFF), Constant(0x8000), Constant(1023));
    auto white = MakePicture(4, 2, AV_PIX_FMT_YUV444P, Constant(255), Constant(255), Constant(255));
    QImage a, b;
    ASSERT_TRUE(over->fillImage(a, COMPONENT_YUV));
    ASSERT_TRUE(white->fillImage(b, COMPONENT_YUV));
    EXPECT_EQ(a, b);

    const SampleFn fy = [](int x, int) { return x * 100; };
    auto p010 = MakePicture(11, 4, AV_PIX_FMT_P010LE, fy, Constant(512), Constant(512));
    QImage rgb;
    ASSERT_TRUE(p010->fillImage(rgb, COMPONENT_YUV));
    EXPECT_EQ(rgb.format(), QImage::Format_RGBA64);
    EXPECT_FALSE(p010->pixelRgb(0, 0).valid);

    auto f = MakePicture(11, 4, AV_PIX_FMT_YUV420P10LE, fy, Constant(512), Constant(512));
    QImage grey;
    ASSERT_TRUE(f->fillImage(grey, COMPONENT_Y));
    ASSERT_EQ(grey.format(), QImage::Format_Grayscale16);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 11; ++x)
            EXPECT_NEAR(Grey16(grey, x, y), fy(x, y) * 65535.0 / 1023.0, 300) << x << "," << y;
}

// An image the caller keeps is refilled in place; one shared with another holder is replaced,
// never written through.
TEST(FrameFillImage, ReusedImageGetsTheNewPictureAndSharedCopiesStay)
{
    auto first = MakePicture(16, 8, AV_PIX_FMT_YUV420P, Constant(40), Constant(128), Constant(128));
    auto second = MakePicture(16, 8, AV_PIX_FMT_YUV420P, Constant(200), Constant(90), Constant(160));
    QImage expected;
    ASSERT_TRUE(second->fillImage(expected, COMPONENT_YUV));
    for (bool viaHeatMap : {false, true}) {
        QImage image;
        ASSERT_TRUE(viaHeatMap ? first->fillImageAsHeatMap(image, COMPONENT_YUV, 255)
                               : first->fillImage(image, COMPONENT_YUV));
        const QImage kept = image; // shares the buffer
        const QImage keptCopy = kept.copy();
        ASSERT_TRUE(viaHeatMap ? second->fillImageAsHeatMap(image, COMPONENT_YUV, 255)
                               : second->fillImage(image, COMPONENT_YUV));
        EXPECT_EQ(kept, keptCopy);
        QImage reference;
        ASSERT_TRUE(viaHeatMap ? second->fillImageAsHeatMap(reference, COMPONENT_YUV, 255)
                               : second->fillImage(reference, COMPONENT_YUV));
        EXPECT_EQ(image, reference);
        // Now detached: the next fill writes into the same buffer.
        uchar const* own = image.constBits();
        ASSERT_TRUE(viaHeatMap ? first->fillImageAsHeatMap(image, COMPONENT_YUV, 255)
                               : first->fillImage(image, COMPONENT_YUV));
        EXPECT_EQ(image.constBits(), own);
        EXPECT_EQ(image, keptCopy);
    }
}

// A decoder may hand over pictures of another size or format without resetting the Frame; the
// converted picture and the scale context must follow, never read or write past a plane.
TEST(FrameFillImage, PictureChangingSizeOrFormatUnderneath)
{
    auto small = MakePaddedPicture(64, 48, AV_PIX_FMT_YUV420P, Constant(50), Constant(60), Constant(70));
    auto large = MakePaddedPicture(160, 120, AV_PIX_FMT_YUV420P, Constant(90), Constant(100), Constant(110));
    auto large444 = MakePaddedPicture(160, 120, AV_PIX_FMT_YUV444P, Constant(90), Constant(140), Constant(150));
    auto deep = MakePaddedPicture(40, 30, AV_PIX_FMT_YUV420P10LE, Constant(400), Constant(500), Constant(600));

    const struct
    {
        Frame const* picture;
        int u; // expected grey of component 1
    } kSteps[] = {{small.get(), 60}, {large444.get(), 140}, {large.get(), 100}, {large444.get(), 140},
                  {small.get(), 60}, {deep.get(), -1},      {large.get(), 100}};
    // Each kind of conversion on its own, so the wanted converted format stays the same from
    // step to step, then all of them mixed.
    enum Kind { HeatMap, Rgb, Chroma, Mixed };
    for (Kind kind : {HeatMap, Rgb, Chroma, Mixed}) {
        Frame f;
        for (auto const& step : kSteps) {
            Frame const& p = *step.picture;
            SCOPED_TRACE(testing::Message()
                         << "kind " << kind << " " << p.width() << "x" << p.height() << " " << p.pixelFormat());
            HandOver(f, p);
            const QSize size(p.width(), p.height());
            QImage image;
            if (kind == HeatMap || kind == Mixed) {
                ASSERT_TRUE(f.fillImageAsHeatMap(image, COMPONENT_YUV, 127));
                EXPECT_EQ(image.size(), size);
                EXPECT_TRUE(f.pixelRgb(size.width() - 1, size.height() - 1).valid);
                EXPECT_FALSE(f.pixelRgb(size.width(), 0).valid);
            }
            if (kind == Rgb || kind == Mixed) {
                ASSERT_TRUE(f.fillImage(image, COMPONENT_YUV));
                EXPECT_EQ(image.size(), size);
            }
            if (kind == Chroma || kind == Mixed) {
                ASSERT_TRUE(f.fillImage(image, COMPONENT_U));
                EXPECT_EQ(image.size(), size);
                if (step.u >= 0) {
                    EXPECT_NEAR(image.constScanLine(size.height() - 1)[size.width() - 1], step.u, 1);
                    EXPECT_NEAR(image.constScanLine(0)[0], step.u, 1);
                }
            }
        }
    }
}

TEST(FrameDiff, RejectsMismatchedInputs)
{
    auto a = MakePicture(8, 4, AV_PIX_FMT_YUV420P, Constant(1), Constant(2), Constant(3));
    auto wider = MakePicture(10, 4, AV_PIX_FMT_YUV420P, Constant(1), Constant(2), Constant(3));
    auto taller = MakePicture(8, 6, AV_PIX_FMT_YUV420P, Constant(1), Constant(2), Constant(3));
    auto other = MakePicture(8, 4, AV_PIX_FMT_YUV444P, Constant(1), Constant(2), Constant(3));
    Frame empty;
    const struct
    {
        char const* what;
        Frame const* a;
        Frame const* b;
    } kCases[] = {{"width", a.get(), wider.get()},
                  {"height", taller.get(), a.get()},
                  {"format", a.get(), other.get()},
                  {"empty b", a.get(), &empty},
                  {"empty a", &empty, a.get()}};
    for (auto const& c : kCases) {
        auto target = MakePicture(8, 4, AV_PIX_FMT_YUV420P, Constant(9), Constant(9), Constant(9));
        EXPECT_FALSE(Frame::getDiff(*target, *c.a, *c.b)) << c.what;
        EXPECT_FALSE(target->isValid()) << c.what;
    }
}

TEST(FrameDiff, AbsoluteDifferenceOfEveryLayout)
{
    for (Layout const& l : kLayouts) {
        SCOPED_TRACE(l.name);
        int const m = l.maxValue + 1;
        const SampleFn ay = [m](int x, int y) { return (37 * x + 101 * y + 1) % m; };
        const SampleFn by = [m](int x, int y) { return (11 * x + 3 * y + 200) % m; };
        const SampleFn au = [m](int x, int y) { return (53 * x + 29 * y + 3) % m; };
        const SampleFn bu = [m](int x, int y) { return (5 * x + 7 * y) % m; };
        const SampleFn av = [m](int x, int y) { return (17 * x + 71 * y + 9) % m; };
        const SampleFn bv = [m](int x, int) { return (m - 1 - x) % m; };
        int const w = 101;
        int const h = 5;
        auto a = MakePaddedPicture(w, h, l.fmt, ay, au, av);
        auto b = MakePicture(w, h, l.fmt, by, bu, bv);
        // A target of the same geometry is overwritten in place: every sample must be reached.
        int const junk = l.maxValue == 255 ? 0xEE : 0x3AA;
        auto target = MakePicture(w, h, l.fmt, Constant(junk), Constant(junk), Constant(junk));
        ASSERT_TRUE(Frame::getDiff(*target, *a, *b));
        ASSERT_EQ(target->pixelFormat(), l.fmt);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int const cx = x >> l.log2w;
                int const cy = y >> l.log2h;
                const PixelValues p = target->pixel(x, y);
                ASSERT_TRUE(p.valid);
                ASSERT_EQ(p.c0, std::abs(ay(x, y) - by(x, y))) << x << "," << y;
                ASSERT_EQ(p.c1, std::abs(au(cx, cy) - bu(cx, cy))) << x << "," << y;
                ASSERT_EQ(p.c2, std::abs(av(cx, cy) - bv(cx, cy))) << x << "," << y;
            }
    }
}

TEST(FrameDiff, EqualPicturesGiveZerosAndAWhiteHeatMap)
{
    const SampleFn fy = [](int x, int y) { return x * 9 + y; };
    auto a = MakePicture(13, 7, AV_PIX_FMT_YUV420P, fy, Constant(30), Constant(40));
    auto b = MakePaddedPicture(13, 7, AV_PIX_FMT_YUV420P, fy, Constant(30), Constant(40));
    Frame target;
    ASSERT_TRUE(Frame::getDiff(target, *a, *b));
    QImage image;
    ASSERT_TRUE(target.fillImageAsHeatMap(image, COMPONENT_YUV, 1));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
            const PixelValues p = target.pixel(x, y);
            ASSERT_TRUE(p.valid && p.c0 == 0 && p.c1 == 0 && p.c2 == 0) << x << "," << y;
            ASSERT_EQ(image.pixel(x, y), Gradient(0)) << x << "," << y;
        }
}

TEST(FrameDiff, ReusesPlanesAndReallocatesForANewSize)
{
    auto a = MakePicture(16, 8, AV_PIX_FMT_YUV420P, Constant(10), Constant(20), Constant(30));
    auto b = MakePicture(16, 8, AV_PIX_FMT_YUV420P, Constant(13), Constant(20), Constant(30));
    Frame target;
    ASSERT_TRUE(Frame::getDiff(target, *a, *b));
    QImage image;
    ASSERT_TRUE(target.fillImageAsHeatMap(image, COMPONENT_Y, 127));
    uint8_t const* planes = target.avFrame()->data[0];

    auto b2 = MakePicture(16, 8, AV_PIX_FMT_YUV420P, Constant(15), Constant(20), Constant(30));
    ASSERT_TRUE(Frame::getDiff(target, *a, *b2));
    EXPECT_EQ(target.avFrame()->data[0], planes);
    EXPECT_TRUE(target.pixelRgb(15, 7).valid) << "the converted picture stays";
    EXPECT_EQ(target.pixel(15, 7).c0, 5);

    auto c = MakePicture(24, 10, AV_PIX_FMT_YUV420P, Constant(1), Constant(20), Constant(30));
    auto d = MakePicture(24, 10, AV_PIX_FMT_YUV420P, Constant(8), Constant(20), Constant(30));
    ASSERT_TRUE(Frame::getDiff(target, *c, *d));
    EXPECT_EQ(target.width(), 24);
    EXPECT_EQ(target.height(), 10);
    EXPECT_FALSE(target.pixelRgb(0, 0).valid) << "the converted picture was released";
    EXPECT_EQ(target.pixel(23, 9).c0, 7);
}

// A target holding a picture shared with someone else (a decoder's reference) gets planes of its
// own; the shared picture is not written.
TEST(FrameDiff, LeavesSharedPicturesAlone)
{
    auto a = MakePicture(6, 4, AV_PIX_FMT_YUV420P, Constant(100), Constant(50), Constant(50));
    auto b = MakePicture(6, 4, AV_PIX_FMT_YUV420P, Constant(40), Constant(50), Constant(50));
    auto shared = MakePicture(6, 4, AV_PIX_FMT_YUV420P, Constant(7), Constant(7), Constant(7));

    Frame target;
    HandOver(target, *shared);
    ASSERT_TRUE(Frame::getDiff(target, *a, *b));
    EXPECT_EQ(target.pixel(5, 3).c0, 60);
    EXPECT_EQ(shared->pixel(5, 3).c0, 7);

    // An input used as the target.
    Frame sharedA;
    HandOver(sharedA, *a);
    ASSERT_TRUE(Frame::getDiff(sharedA, sharedA, *b));
    EXPECT_EQ(sharedA.pixel(0, 0).c0, 60);
    EXPECT_EQ(a->pixel(0, 0).c0, 100);
}

TEST(FrameDump, AppendsVisiblePlanes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct
    {
        AVPixelFormat fmt;
        qint64 bytes; // one 5x3 picture
    } kCases[] = {
        {AV_PIX_FMT_YUV420P, 15 + 2 * 3 * 2},
        {AV_PIX_FMT_YUV444P, 3 * 15},
        {AV_PIX_FMT_YUV420P10LE, 2 * (15 + 2 * 3 * 2)},
        {AV_PIX_FMT_NV12, 15 + 6 * 2},
        {AV_PIX_FMT_YUYV422, 12 * 3},
    };
    for (auto const& c : kCases) {
        SCOPED_TRACE(LayoutOf(c.fmt).name);
        auto f = MakePaddedPicture(
            5, 3, c.fmt, [](int x, int y) { return 10 * y + x; }, Constant(200), Constant(201));
        const QString name = dir.filePath(QStringLiteral("%1.raw").arg(LayoutOf(c.fmt).name));
        ASSERT_TRUE(f->dump(name));
        ASSERT_TRUE(Frame::dumpAvFrame(name, f->avFrame()));
        const QByteArray data = ReadAll(name);
        ASSERT_EQ(data.size(), 2 * c.bytes);
        EXPECT_EQ(data.left(c.bytes), data.mid(c.bytes));
        if (c.fmt == AV_PIX_FMT_YUV420P) {
            const QByteArray expected("\x00\x01\x02\x03\x04\x0a\x0b\x0c\x0d\x0e\x14\x15\x16\x17\x18"
                                      "\xc8\xc8\xc8\xc8\xc8\xc8\xc9\xc9\xc9\xc9\xc9\xc9",
                                      27);
            EXPECT_EQ(data.left(27), expected);
        }
    }

    // An RGB picture is one block of rows at their pitch.
    auto f = MakePicture(5, 3, AV_PIX_FMT_YUV420P, Constant(1), Constant(128), Constant(128));
    QImage image;
    ASSERT_TRUE(f->fillImageAsHeatMap(image, COMPONENT_Y, 1));
    AVFrame* rgb = av_frame_alloc();
    rgb->width = 5;
    rgb->height = 3;
    rgb->format = AV_PIX_FMT_RGB24;
    ASSERT_EQ(av_frame_get_buffer(rgb, 32), 0);
    const QString rgbName = dir.filePath(QStringLiteral("rgb.raw"));
    EXPECT_TRUE(Frame::dumpAvFrame(rgbName, rgb));
    EXPECT_EQ(QFile(rgbName).size(), 3 * rgb->linesize[0]);
    av_frame_free(&rgb);

    EXPECT_FALSE(Frame::dumpAvFrame(dir.filePath(QStringLiteral("null.raw")), nullptr));
    EXPECT_FALSE(f->dump(dir.path())) << "a folder does not open as a file";

    const QString jpeg = dir.filePath(QStringLiteral("picture.jpg"));
    f->saveAsJpeg(jpeg, QSize(5, 3));
    EXPECT_FALSE(QFile::exists(jpeg));
}
