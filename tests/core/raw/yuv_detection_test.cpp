// Guessing raw YUV parameters from file names, contents and standard sizes.
#include "raw/YUVParameters.h"
#include "test_support.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Detected
{
    int width, height;
    ImageInfo::IMG_TYPE type;
    YUVFile::Formats format;
    int bitDepth;
};

YUVParameters Detect(QTemporaryDir const& dir, QString const& name, QByteArray const& contents)
{
    EXPECT_TRUE(WriteAll(dir.filePath(name), contents));
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    YUVParameters p;
    p.detectResolution(&f);
    return p;
}

void Expect(YUVParameters const& p, Detected const& want)
{
    EXPECT_EQ(p.m_width, want.width);
    EXPECT_EQ(p.m_height, want.height);
    EXPECT_EQ(p.m_colorFormat, want.type);
    EXPECT_EQ(p.m_format, want.format);
    EXPECT_EQ(p.m_bitDepth, want.bitDepth);
}

} // namespace

TEST(YuvDetection, FileNames)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case
    {
        char const* name;
        Detected want;
    } const cases[] = {
        // P010 is semi-planar 10-bit.
        {"clip_1920x1080_p010.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, 10}},
        {"clip_1280x720.yuv", {1280, 720, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"a_40000x200.yuv", {16384, 200, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"nv12_640x480.yuv", {640, 480, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"x-nv12_640x480.yuv", {640, 480, ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, 8}},
        {"clip_640x480_NV12.yuv", {640, 480, ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, 8}},
        {"clip_352x288_yuy2.yuv", {352, 288, ImageInfo::IMG_422, YUVFile::FORMAT_YUY2, 8}},
        {"clip_352x288_uyvy.yuv", {352, 288, ImageInfo::IMG_422, YUVFile::FORMAT_UYVY, 8}},
        {"clip_352x288_y210.yuv", {352, 288, ImageInfo::IMG_422, YUVFile::FORMAT_Y210, 10}},
        {"clip_352x288_y216.yuv", {352, 288, ImageInfo::IMG_422, YUVFile::FORMAT_Y216, 16}},
        {"clip_352x288_ayuv.yuv", {352, 288, ImageInfo::IMG_444, YUVFile::FORMAT_AYUV, 8}},
        {"clip_352x288_y410.yuv", {352, 288, ImageInfo::IMG_444, YUVFile::FORMAT_Y410, 10}},
        {"clip_352x288_y416.yuv", {352, 288, ImageInfo::IMG_444, YUVFile::FORMAT_Y416, 16}},
        // The first word that matches wins.
        {"c_64x64_uyvy_nv12.yuv", {64, 64, ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, 8}},
        // "rgb" words name no layout: the size stays, with 4:2:0 planar.
        {"c_320x240_rgb.yuv", {320, 240, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"c_320x240_argb.yuv", {320, 240, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        // Only a small x separates the numbers, and only sizes above 0 that fit an int count;
        // the rest falls to the contents, here empty, which fit nothing: the common size.
        {"clip_1920X1080.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"clip_0x480.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"clip_99999999999x480.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        // The last suffix is not part of the name that is searched.
        {"clip.640x480", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        // A sample format in the name: a pixel-format name gives chroma format and depth, a depth
        // word the depth; packed layouts keep their own; words run into others state nothing.
        {"clip_1920x1080_yuv420p10le.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 10}},
        {"clip_352x288_yuv444p12le.yuv", {352, 288, ImageInfo::IMG_444, YUVFile::FORMAT_PLANAR, 12}},
        {"yuv422p_352x288.yuv", {352, 288, ImageInfo::IMG_422, YUVFile::FORMAT_PLANAR, 8}},
        {"clip_352x288_gray10le.yuv", {352, 288, ImageInfo::IMG_400, YUVFile::FORMAT_PLANAR, 10}},
        {"clip_1920x1080_10bit.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 10}},
        {"clip_1920x1080_10b.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 10}},
        {"clip_1920x1080_12-bit.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 12}},
        {"x-nv12_640x480_10bit.yuv", {640, 480, ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, 10}},
        {"clip_352x288_y210_8bit.yuv", {352, 288, ImageInfo::IMG_422, YUVFile::FORMAT_Y210, 10}},
        {"clip_1080p_1920x1080.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"clip_1920x1080_h10bit2.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"clip_1920x1080_40bit.yuv", {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Expect(Detect(dir, QString::fromLatin1(c.name), QByteArray()), c.want);
    }

    // Two bytes per value: two P010 frames are two frames, not four.
    YUVParameters const p010 =
        Detect(dir, QStringLiteral("clip_1920x1080_p010.yuv"), QByteArray(2 * 1920 * 1080 * 3 + 100, '\0'));
    EXPECT_EQ(p010.m_bytesPerValue, 2);
    EXPECT_EQ(p010.m_frameSize, 1920 * 1080 * 3);
    EXPECT_EQ(p010.m_frameCount, 2);
    // A stated depth counts two bytes per value.
    YUVParameters const tenBit =
        Detect(dir, QStringLiteral("clip_1920x1080_10bit.yuv"), QByteArray(2 * 1920 * 1080 * 3, '\0'));
    EXPECT_EQ(tenBit.m_bytesPerValue, 2);
    EXPECT_EQ(tenBit.m_frameCount, 2);
    // Without a size in the name the stated depth still holds, and the sizes are tried as words.
    for (char const* name : {"clip_10bit.yuv", "clip_yuv420p10le.yuv"}) {
        SCOPED_TRACE(name);
        YUVParameters const p = Detect(dir, QString::fromLatin1(name), QByteArray(2 * 352 * 288 * 3, '\0'));
        EXPECT_EQ(p.m_bitDepth, 10);
        EXPECT_EQ(p.m_bytesPerValue, 2);
        EXPECT_EQ(p.m_frameSize * p.m_frameCount, 2 * 352 * 288 * 3);
    }
    YUVParameters const eight = Detect(dir, QStringLiteral("clip_8bit.yuv"), QByteArray(2 * 352 * 288 * 3, '\0'));
    EXPECT_EQ(eight.m_bitDepth, 8);
    EXPECT_EQ(eight.m_bytesPerValue, 1);
    // An odd size from the name counts its chroma planes rounded up.
    YUVParameters const odd = Detect(dir, QStringLiteral("clip_175x143.yuv"), QByteArray(100, '\0'));
    EXPECT_EQ(odd.m_frameSize, 175 * 143 + 2 * 88 * 72);
}

TEST(YuvDetection, ContentsAndStandardSizes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A row-periodic picture that ends before the height scan: the scan stops at the end of the
    // data instead of judging rows by missing bytes, so the height stays 128.
    QByteArray ramp(5000, '\0');
    for (int i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<char>((i % 100) * 2);
    struct Case
    {
        char const* what;
        QByteArray data;
        Detected want;
    } const cases[] = {
        {"empty: no size fits", QByteArray(), {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"100 bytes fit nothing", QByteArray(100, 'a'), {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"zeros fitting no frame",
         QByteArray(61440, '\0'),
         {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"two QCIF frames", QByteArray(176 * 144 * 3, '\0'), {176, 144, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"one 128x96 frame",
         QByteArray(128 * 96 * 3 / 2, '\0'),
         {128, 96, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        // Flat contents tell no size from another: the first size that divides the file.
        {"one flat 1280x720 frame",
         QByteArray(1280 * 720 * 3 / 2, '\0'),
         {128, 96, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        {"one 176x144 frame",
         QByteArray(176 * 144 * 3 / 2, '\0'),
         {176, 144, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
        // A row-periodic picture whose row estimate holds no whole frame of the file is not
        // taken: the common size is left for the user.
        {"row estimate without whole frames", ramp, {1920, 1080, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        Expect(Detect(dir, QStringLiteral("noname.yuv"), c.data), c.want);
    }
}

// ffmpeg-made clips without a size in their names: the size whose frames divide the file and
// whose rows and frames repeat in the contents.
TEST(YuvDetection, ClipContents)
{
    struct Case
    {
        char const* clip;
        Detected want;
        int frames;
    } const cases[] = {
        {"rd_guess_a.yuv", {1280, 720, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}, 60},
        {"rd_guess_b.yuv", {352, 288, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}, 10},
        {"rd_guess_c.yuv", {176, 144, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 8}, 10},
        {"rd_guess_d.yuv", {176, 144, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 10}, 10},
        {"rd_p010le.yuv", {176, 144, ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, 10}, 3},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.clip);
        QFile f(TestMediaPath(QString::fromLatin1(c.clip)));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        YUVParameters p;
        p.detectResolution(&f);
        Expect(p, c.want);
        EXPECT_EQ(p.m_frameCount, c.frames);
        EXPECT_EQ(p.m_frameSize * c.frames, f.size());
    }
}

TEST(YuvDetection, PresetsAndFrameCounts)
{
    YUVParameters::Formats const y416 =
        YUVParameters::getDefaultPresetFormats(ImageInfo::IMG_444, YUVFile::FORMAT_Y416);
    EXPECT_EQ(y416.bitDepth, 16);
    EXPECT_DOUBLE_EQ(y416.bytesPerPixel, 8.0);
    EXPECT_FALSE(y416.editable);
    YUVParameters::Formats const none =
        YUVParameters::getDefaultPresetFormats(ImageInfo::IMG_420, YUVFile::FORMAT_YUY2);
    EXPECT_EQ(none.bitDepth, 0);
    EXPECT_DOUBLE_EQ(none.bytesPerPixel, 0.0);

    // No preset (an RGB format, a layout the format lacks): frame size 0 and frame count 0.
    YUVParameters p;
    p.m_fileSize = 1000;
    p.setDefaultPresetFormats(ImageInfo::IMG_RGB, YUVFile::FORMAT_PLANAR, 100, 100);
    EXPECT_EQ(p.m_frameSize, 0);
    EXPECT_EQ(p.m_frameCount, 0);
    p.setDefaultPresetFormats(ImageInfo::IMG_440, YUVFile::FORMAT_Y416, 100, 100);
    EXPECT_EQ(p.m_frameCount, 0);
    p.setDefaultPresetFormats(ImageInfo::IMG_422, YUVFile::FORMAT_PLANAR, 10, 10);
    EXPECT_EQ(p.m_frameSize, 200);
    EXPECT_EQ(p.m_frameCount, 5);
    EXPECT_DOUBLE_EQ(p.m_fps, 25.0);

    // The standard sizes: 44 rows between two end rows, in the dialog's order.
    EXPECT_EQ(YUVParameters::standardResolutions[0].width, -1);
    EXPECT_EQ(YUVParameters::standardResolutions[45].width, -1);
    EXPECT_EQ(YUVParameters::standardResolutions[1].width, 128);
    EXPECT_EQ(YUVParameters::standardResolutions[18].width, 864);
    EXPECT_EQ(YUVParameters::standardResolutions[19].width, 832);
    EXPECT_EQ(YUVParameters::standardResolutions[29].height, 1080);
    EXPECT_EQ(YUVParameters::standardResolutions[44].height, 8192);
}
