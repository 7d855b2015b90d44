#include "core/raw/yuvfile_test_support.h"
#include "test_support.h"

#include <QTemporaryDir>

#include <cmath>

namespace {

class Y4MTest : public ::testing::Test
{
protected:
    QString write(QString const& name, QByteArray const& bytes)
    {
        QString const path = m_dir.filePath(name);
        EXPECT_TRUE(WriteAll(path, bytes));
        return path;
    }
    QTemporaryDir m_dir;
};

QByteArray Frames(int count, int bytes, QByteArray const& header = "FRAME\n")
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += header + QByteArray(bytes, char(i + 1));
    return out;
}

TEST_F(Y4MTest, StreamHeaderTokens)
{
    struct Case
    {
        QByteArray header;
        int w, h;
        ImageInfo::IMG_TYPE type;
        int depth;
        double fps, aspect;
    };
    Case const cases[] = {
        {" W5 H3 F25:1 Ip C420jpeg\n", 5, 3, ImageInfo::IMG_420, 8, 25, 0},
        {" W5 H3 C420p10\n", 5, 3, ImageInfo::IMG_420, 10, 0, 0},
        {" W5 H3 C422p12 F30000:1001\n", 5, 3, ImageInfo::IMG_422, 12, 30000.0 / 1001, 0},
        {" W5 H3 C444p16 A4:3\n", 5, 3, ImageInfo::IMG_444, 16, 0, 4.0 / 3},
        {" W5 H3 Cmono12\n", 5, 3, ImageInfo::IMG_400, 12, 0, 0},
        {" W5 H3 Cmono XCOLORRANGE=FULL\n", 5, 3, ImageInfo::IMG_400, 8, 0, 0},
        {" W5 H3 F25:0 A0:0\n", 5, 3, ImageInfo::IMG_420, 8, 0, 0}, // zero denominators give 0
        {" W5 H3 F25 C444\n", 5, 3, ImageInfo::IMG_444, 8, 0, 0},   // no colon: rate unchanged
        {" W5  H3\n", 5, 3, ImageInfo::IMG_420, 8, 0, 0},           // two spaces between tokens
        {" W5 H3 C444alpha\n", 5, 3, YUVFile::Y4M_UNSUPPORTED_CHROMA, 8, 0, 0},
        {" W5 H3 C411\n", 5, 3, YUVFile::Y4M_UNSUPPORTED_CHROMA, 8, 0, 0},
        {" W5 H3 C420p7\n", 5, 3, YUVFile::Y4M_UNSUPPORTED_CHROMA, 8, 0, 0},
        {" W5 H16385 C420\n", 0, 0, ImageInfo::IMG_420, 8, 0, 0}, // out of bounds: defaults
        {" W99999999999999999999 H3\n", 0, 0, ImageInfo::IMG_420, 8, 0, 0},
        {" W5 H3 " + QByteArray(260, 'X') + "\n", 0, 0, ImageInfo::IMG_420, 8, 0, 0}, // line too long
        {" W5 H3", 0, 0, ImageInfo::IMG_420, 8, 0, 0},                                // no line feed
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.header.left(40).toStdString());
        QFile f(write("h.y4m", "YUV4MPEG2" + c.header));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        f.read(9);
        YUVFile::Y4MHeader const h = YUVFile::readY4MHeader(&f);
        EXPECT_EQ(h.width, c.w);
        EXPECT_EQ(h.height, c.h);
        EXPECT_EQ(h.type, c.type);
        EXPECT_EQ(h.bitDepth, c.depth);
        EXPECT_DOUBLE_EQ(h.frameRate, c.fps);
        EXPECT_DOUBLE_EQ(h.aspect, c.aspect);
        EXPECT_EQ(h.format, YUVFile::FORMAT_PLANAR);
    }
}

TEST_F(Y4MTest, IndexOfHandMadeFiles)
{
    struct Case
    {
        char const* name;
        QByteArray content;
        bool ok;
        int frames;
        int64_t size;
    };
    QByteArray const header = "YUV4MPEG2 W5 H3 F25:1 Ip C420jpeg\n";
    Case const cases[] = {
        {"two", header + Frames(2, 27), true, 2, 27},
        {"ten_bit", "YUV4MPEG2 W5 H3 C420p10\n" + Frames(3, 54), true, 3, 54},
        {"mono12", "YUV4MPEG2 W5 H3 Cmono12\n" + Frames(1, 30), true, 1, 30},
        {"frame_params", header + Frames(2, 27, "FRAME Ixyz\n"), true, 2, 27},
        // The last frame runs past the end of the file: still indexed, the missing bytes read as 0.
        {"truncated", header + Frames(2, 27) + "FRAME\n" + QByteArray(4, 'z'), true, 3, 27},
        // A file that ends right after "FRAME" does not index that frame.
        {"bare_frame", header + Frames(1, 27) + "FRAME", true, 1, 27},
        // A frame whose chroma cannot be read ends the index.
        {"frame_alpha", header + Frames(1, 27) + Frames(1, 45, "FRAME C444alpha\n"), true, 1, 27},
        {"alpha", "YUV4MPEG2 W5 H3 C444alpha\n" + Frames(1, 60), false, 0, 0},
        {"c411", "YUV4MPEG2 W5 H3 C411\n" + Frames(1, 30), false, 0, 0},
        {"no_size", "YUV4MPEG2 C420\n" + Frames(3, 0), false, 0, 0},
        {"zero_width", "YUV4MPEG2 W0 H3\n" + Frames(3, 0), false, 0, 0},
        {"huge", "YUV4MPEG2 W100000 H100000\n" + Frames(1, 10), false, 0, 0},
        {"no_line_feed", "YUV4MPEG2 W5 H3" + QByteArray(300, ' ') + Frames(3, 27), false, 0, 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        QString const path = write(QString::fromLatin1(c.name) + ".y4m", c.content);
        YUVFile reader;
        ASSERT_EQ(reader.setFile(path, 2), c.ok);
        if (!c.ok) {
            EXPECT_FALSE(reader.m_layers.contains(2));
            continue;
        }
        YUVFile::YUVLayer const& layer = reader.m_layers[2];
        EXPECT_EQ(layer.isY4M, 1);
        ASSERT_EQ(int(layer.frames.size()), c.frames);
        int const headerEnd = c.content.indexOf('\n') + 1;
        EXPECT_EQ(layer.frames[0].pos, c.content.indexOf('\n', headerEnd) + 1);
        for (auto const& f : layer.frames) {
            EXPECT_EQ(f.size, c.size);
            EXPECT_EQ(f.width, 5);
            EXPECT_EQ(c.content.mid(int(f.pos) - 1, 1), "\n");
        }
    }
}

TEST_F(Y4MTest, RawAndCompressedFilesAreRegisteredUnindexed)
{
    YUVFile reader;
    EXPECT_FALSE(reader.setFile(m_dir.filePath("missing.y4m"), 0));
    EXPECT_FALSE(reader.setFile(QString(), 0));
    EXPECT_TRUE(reader.m_layers.isEmpty());

    QByteArray const y4m = "YUV4MPEG2 W5 H3\n" + Frames(1, 27);
    ASSERT_TRUE(reader.setFile(write("clip.YUV.gz", y4m), 1));
    EXPECT_TRUE(reader.m_layers[1].isGzip);
    EXPECT_EQ(reader.m_layers[1].isY4M, 0);
    ASSERT_TRUE(reader.setFile(write("clip.GZ", y4m), 2)); // the suffix test is case-sensitive
    EXPECT_FALSE(reader.m_layers[2].isGzip);
    EXPECT_EQ(reader.m_layers[2].isY4M, 1);
    ASSERT_TRUE(reader.setFile(write("clip.yuv", QByteArray(100, 'a')), 3));
    EXPECT_EQ(reader.m_layers[3].isY4M, 0);
    EXPECT_TRUE(reader.m_layers[3].frames.empty());

    EXPECT_EQ(YUVFile::check(m_dir.filePath("clip.GZ")), 0xA0000);
    EXPECT_EQ(YUVFile::check(m_dir.filePath("clip.yuv")), 0xA0000);
    EXPECT_EQ(YUVFile::check(write("clip.bin", "abc")), 0);
}

// Y4M files written by ffmpeg: the index matches the file, and a middle frame read with readData
// equals ffmpeg's raw output of the same frame sample for sample.
TEST(Y4MFfmpegTest, IndexAndMiddleFrameMatchFfmpeg)
{
    struct Case
    {
        char const* name;
        int w, h;
        ImageInfo::IMG_TYPE type;
        int depth;
        int64_t frameBytes;
    };
    Case const cases[] = {
        {"raw_420p_175x143", 175, 143, ImageInfo::IMG_420, 8, 37697},
        {"raw_420p_101x101", 101, 101, ImageInfo::IMG_420, 8, 15403},
        {"raw_422p_175x143", 175, 143, ImageInfo::IMG_422, 8, 25025 + 2 * 88 * 143},
        {"raw_444p_101x101", 101, 101, ImageInfo::IMG_444, 8, 3 * 10201},
        {"raw_gray_101x101", 101, 101, ImageInfo::IMG_400, 8, 10201},
        {"raw_gray10_101x101", 101, 101, ImageInfo::IMG_400, 10, 2 * 10201},
        {"raw_420p10_176x143", 176, 143, ImageInfo::IMG_420, 10, 2 * (25168 + 2 * 88 * 72)},
        {"raw_422p10_176x143", 176, 143, ImageInfo::IMG_422, 10, 2 * (25168 + 2 * 88 * 143)},
    };
    int const kFrames = 5;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        QString const y4m = TestMediaPath(QString::fromLatin1(c.name) + ".y4m");
        QString const raw = TestMediaPath(QString::fromLatin1(c.name) + ".yuv");
        ASSERT_EQ(QFileInfo(raw).size(), kFrames * c.frameBytes);

        YUVFile reader;
        ASSERT_TRUE(reader.setFile(y4m, 0));
        YUVFile::YUVLayer const& layer = reader.m_layers[0];
        EXPECT_EQ(layer.header.width, c.w);
        EXPECT_EQ(layer.header.height, c.h);
        EXPECT_EQ(layer.header.type, c.type);
        EXPECT_EQ(layer.header.bitDepth, c.depth);
        EXPECT_DOUBLE_EQ(layer.header.frameRate, 25.0);
        ASSERT_EQ(int(layer.frames.size()), kFrames);
        QByteArray const file = ReadAll(y4m);
        for (int i = 0; i < kFrames; ++i) {
            YUVFile::FrameParams const& f = layer.frames[size_t(i)];
            EXPECT_EQ(f.size, c.frameBytes);
            EXPECT_EQ(file.mid(int(f.pos) - 6, 6), "FRAME\n") << i;
        }
        EXPECT_EQ(layer.frames.back().pos + c.frameBytes, file.size());

        YUVFile::FrameParams const& mid = layer.frames[2];
        QByteArray data = file.mid(int(mid.pos), int(mid.size));
        ImageType<short> image;
        image.allocate(c.w, c.h, c.depth, c.depth, c.type, CropInfo{}, ImageInfo::FRAME);
        reader.m_imgType = layer.header.type;
        reader.m_bitDepth = layer.header.bitDepth;
        reader.m_format = layer.header.format;
        reader.readData(image, data, 0, WholePicture(c.w, c.h, c.type, c.depth));
        ExpectPlanarSamples(image, ReadAll(raw, 2 * c.frameBytes, c.frameBytes), c.w, c.h, c.type, c.depth > 8 ? 2 : 1);
    }
}

} // namespace
