#include "core/raw/yuvfile_test_support.h"
#include "test_support.h"

#include <vector>

namespace {

std::vector<int> PlaneValues(ImageType<short> const& image, int plane)
{
    std::vector<int> v;
    for (int y = 0; y < image.m_planes[plane].height; ++y)
        for (int x = 0; x < image.m_planes[plane].width; ++x)
            v.push_back(static_cast<uint16_t>(image.row(plane, y)[x]));
    return v;
}

using V = std::vector<int>;

ImageType<short> Picture(PicSize const& g)
{
    ImageType<short> image;
    image.allocate(g.width, g.height, g.lumaBitDepth, g.chromaBitDepth, g.type, CropInfo{}, ImageInfo::FRAME);
    // Non-zero start, so samples the readers do not write show up.
    std::fill_n(image.plane(0), image.m_size, short(-1));
    return image;
}

TEST(RawReadersTest, PlanarFrameAndItsTruncations)
{
    PicSize const g = WholePicture(4, 2, ImageInfo::IMG_420);
    struct Case
    {
        int bytes;
        V u, v;
    };
    // The missing bytes of a short frame read as 0, and the position still moves over them.
    Case const cases[] = {{12, {8, 9}, {10, 11}}, {10, {8, 9}, {0, 0}}, {9, {8, 0}, {0, 0}}, {0, {0, 0}, {0, 0}}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.bytes);
        QByteArray data = Bytes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}).left(c.bytes);
        ImageType<short> image = Picture(g);
        int pos = 0;
        YUVFile::readLuma8Bit(image, data, pos, g);
        EXPECT_EQ(pos, 8);
        YUVFile::readChroma420Planar8Bit(image, data, pos, g);
        EXPECT_EQ(pos, 12);
        if (c.bytes == 12) {
            EXPECT_EQ(PlaneValues(image, 0), (V{0, 1, 2, 3, 4, 5, 6, 7}));
        }
        EXPECT_EQ(PlaneValues(image, 1), c.u);
        EXPECT_EQ(PlaneValues(image, 2), c.v);
    }
}

TEST(RawReadersTest, ReadDataWalksLumaThenChromaOfEachFormat)
{
    struct Case
    {
        int w, h;
        ImageInfo::IMG_TYPE type;
        YUVFile::Formats format;
        int frameBytes; // bytes the whole frame takes
    };
    Case const cases[] = {
        {3, 3, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 9 + 4 + 4},
        {3, 3, ImageInfo::IMG_422, YUVFile::FORMAT_PLANAR, 9 + 6 + 6},
        {3, 3, ImageInfo::IMG_440, YUVFile::FORMAT_SEMI_PLANAR, 9 + 6 + 6},
        {3, 3, ImageInfo::IMG_444, YUVFile::FORMAT_SEMI_PLANAR, 27},
        {3, 3, ImageInfo::IMG_400, YUVFile::FORMAT_PLANAR, 9},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.type);
        PicSize const g = WholePicture(c.w, c.h, c.type);
        QByteArray data;
        for (int i = 0; i < c.frameBytes + 5; ++i)
            data.append(char(i));
        ImageType<short> image = Picture(g);
        YUVFile reader;
        reader.m_format = c.format;
        reader.readData(image, data, 0, g);
        // Luma takes the first 9 bytes; the chroma continues right after it.
        EXPECT_EQ(PlaneValues(image, 0), (V{0, 1, 2, 3, 4, 5, 6, 7, 8}));
        if (c.type == ImageInfo::IMG_400)
            continue;
        V const u = PlaneValues(image, 1);
        V const v = PlaneValues(image, 2);
        ASSERT_EQ(int(u.size() + v.size()), c.frameBytes - 9);
        for (size_t i = 0; i < u.size(); ++i) {
            if (c.format == YUVFile::FORMAT_PLANAR) {
                EXPECT_EQ(u[i], int(9 + i));
                EXPECT_EQ(v[i], int(9 + u.size() + i));
            } else {
                EXPECT_EQ(u[i], int(9 + 2 * i));
                EXPECT_EQ(v[i], int(10 + 2 * i));
            }
        }
    }
}

TEST(RawReadersTest, SixteenBitSamplesAreShiftedToTheWantedDepth)
{
    struct Case
    {
        int fileDepth, wanted;
        V luma;
    };
    // Words 0x03ff, 0xffc0, 0x0001, 0x8000 (little endian).
    Case const cases[] = {
        {10, 10, {0x03ff, 0xffc0, 0x0001, 0x8000}},
        {16, 10, {0x000f, 0x03ff, 0x0000, 0x0200}}, // P010-style samples in the upper bits
        {8, 10, {0x0ffc, 0xff00, 0x0004, 0x0000}},  // kept in 16 bits
        {10, 40, {0, 0, 0, 0}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.fileDepth);
        PicSize const g = WholePicture(4, 1, ImageInfo::IMG_400, c.wanted);
        QByteArray data = Bytes({0xff, 0x03, 0xc0, 0xff, 0x01, 0x00, 0x00, 0x80});
        ImageType<short> image = Picture(g);
        int pos = 0;
        YUVFile::readLuma16Bit(image, data, pos, g, c.fileDepth);
        EXPECT_EQ(pos, 8);
        EXPECT_EQ(PlaneValues(image, 0), c.luma);
    }
    // A sample whose high byte is missing is its low byte alone.
    PicSize const g = WholePicture(2, 1, ImageInfo::IMG_400, 10);
    QByteArray data = Bytes({0x10, 0x01, 0x25});
    ImageType<short> image = Picture(g);
    int pos = 0;
    YUVFile::readLuma16Bit(image, data, pos, g, 10);
    EXPECT_EQ(PlaneValues(image, 0), (V{0x110, 0x25}));
}

TEST(RawReadersTest, SemiPlanarChromaPairs)
{
    PicSize const g = WholePicture(4, 2, ImageInfo::IMG_420, 10);
    QByteArray data = Bytes({1, 2, 3, 4});
    ImageType<short> image = Picture(g);
    int pos = 0;
    YUVFile::readChroma420NV128Bit(image, data, pos, g);
    EXPECT_EQ(PlaneValues(image, 1), (V{1, 3}));
    EXPECT_EQ(PlaneValues(image, 2), (V{2, 4}));
    EXPECT_EQ(pos, 4);

    QByteArray words = Bytes({0x40, 0x00, 0x80, 0x00, 0xc0, 0xff, 0x00, 0x01});
    pos = 0;
    YUVFile::readChroma420NV1216Bit(image, words, pos, g, 16);
    EXPECT_EQ(PlaneValues(image, 1), (V{1, 0x3ff}));
    EXPECT_EQ(PlaneValues(image, 2), (V{2, 4}));
}

TEST(RawReadersTest, PackedLayoutsByteTables)
{
    using Reader = void (*)(ImageType<short>&, QByteArray&, int&, PicSize const&);
    struct Case
    {
        char const* name;
        Reader read;
        ImageInfo::IMG_TYPE type;
        QByteArray bytes; // two pixels of one row
        V y, u, v;
        int pos;
    };
    Case const cases[] = {
        {"YUY2", YUVFile::readYUY2, ImageInfo::IMG_422, Bytes({16, 100, 17, 200}), {16, 17}, {100}, {200}, 4},
        {"UYVY", YUVFile::readUYVY, ImageInfo::IMG_422, Bytes({100, 16, 200, 17}), {16, 17}, {100}, {200}, 4},
        // 10-bit values in the upper bits of 16-bit words: Y 0x3ff, U 1, Y 2, V 0x200.
        {"Y210",
         YUVFile::readY210,
         ImageInfo::IMG_422,
         Bytes({0xc0, 0xff, 0x40, 0x00, 0x80, 0x00, 0x00, 0x80}),
         {0x3ff, 2},
         {1},
         {0x200},
         8},
        {"Y216",
         YUVFile::readY216,
         ImageInfo::IMG_422,
         Bytes({0xc0, 0xff, 0x40, 0x00, 0x80, 0x00, 0x00, 0x80}),
         {0xffc0, 0x80},
         {0x40},
         {0x8000},
         8},
        {"AYUV",
         YUVFile::readAYUV,
         ImageInfo::IMG_444,
         Bytes({30, 20, 10, 255, 31, 21, 11, 0}),
         {10, 11},
         {20, 21},
         {30, 31},
         8},
        // U bits 0-9, Y 10-19, V 20-29; the top two bits are dropped.
        {"Y410",
         YUVFile::readY410,
         ImageInfo::IMG_444,
         Bytes({1, 4, 32, 0, 0xff, 0xff, 0xff, 0xff}),
         {1, 0x3ff},
         {1, 0x3ff},
         {2, 0x3ff},
         8},
        {"Y416",
         YUVFile::readY416,
         ImageInfo::IMG_444,
         Bytes({0x58, 0x02, 0xbc, 0x02, 0x84, 0x03, 7, 0, 1, 0, 2, 0, 3, 0, 4, 0}),
         {700, 2},
         {600, 1},
         {900, 3},
         16},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        PicSize const g = WholePicture(2, 1, c.type, 10);
        ImageType<short> image = Picture(g);
        QByteArray data = c.bytes;
        int pos = 0;
        c.read(image, data, pos, g);
        EXPECT_EQ(pos, c.pos);
        EXPECT_EQ(PlaneValues(image, 0), c.y);
        EXPECT_EQ(PlaneValues(image, 1), c.u);
        EXPECT_EQ(PlaneValues(image, 2), c.v);

        // Without bytes every sample reads as 0 and the position still moves.
        QByteArray none;
        pos = 0;
        c.read(image, none, pos, g);
        EXPECT_EQ(pos, c.pos);
        EXPECT_EQ(PlaneValues(image, 0), V(2, 0));
    }
}

TEST(RawReadersTest, PackedChromaAlternatesOverTheWholeFrame)
{
    // 3 x 2: pixels 0..5 carry U, V, U, V, U, V; the alternation does not restart at row ends.
    PicSize const g = WholePicture(3, 2, ImageInfo::IMG_422);
    QByteArray data = Bytes({0, 10, 1, 11, 2, 12, 3, 13, 4, 14, 5, 15});
    ImageType<short> image = Picture(g);
    int pos = 0;
    YUVFile::readYUY2(image, data, pos, g);
    EXPECT_EQ(PlaneValues(image, 0), (V{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(PlaneValues(image, 1), (V{10, 12, 14, 0xffff}));
    EXPECT_EQ(PlaneValues(image, 2), (V{11, 0xffff, 13, 15}));
}

TEST(RawReadersTest, BitDepthSourcesOfReadData)
{
    PicSize const g = WholePicture(2, 1, ImageInfo::IMG_400, 10);
    QByteArray data = Bytes({0x01, 0x02, 0x03, 0x04});
    struct Case
    {
        int readerDepth;
        int layerDepth; // -1: no entry
        V luma;
    };
    // clang-format off
    Case const cases[] = {
        {10, -1, {0x201, 0x403}},
        {8, -1, {0x01, 0x02}},
        {0, -1, {0x201, 0x403}}, // the picture's own depth (10)
        {-1, 10, {0x201, 0x403}},
        {-1, -1, {0x01, 0x02}}, // no layer entry: depth 0, read as 8-bit
    };
    // clang-format on
    for (Case const& c : cases) {
        YUVFile reader;
        reader.m_bitDepth = c.readerDepth;
        if (c.layerDepth >= 0)
            reader.m_layerBitDepths[3] = c.layerDepth;
        ImageType<short> image = Picture(g);
        reader.readData(image, data, 3, g);
        EXPECT_EQ(PlaneValues(image, 0), c.luma) << c.readerDepth;
    }
}

TEST(RawReadersTest, GeometryLargerThanThePictureWritesNothingOutside)
{
    // The picture is 2 x 2; the geometry claims 64 x 64. Only the picture's own samples change.
    PicSize const g = WholePicture(64, 64, ImageInfo::IMG_420, 10);
    ImageType<short> image = Picture(WholePicture(2, 2, ImageInfo::IMG_420, 10));
    QByteArray data(64 * 64 * 4, char(5));
    for (auto format : {YUVFile::FORMAT_PLANAR, YUVFile::FORMAT_SEMI_PLANAR, YUVFile::FORMAT_YUY2, YUVFile::FORMAT_Y416,
                        YUVFile::FORMAT_P010}) {
        YUVFile reader;
        reader.m_format = format;
        reader.m_bitDepth = 10;
        reader.readData(image, data, 0, g);
    }
    EXPECT_EQ(PlaneValues(image, 0).size(), 4u);
}

// ffmpeg's own packed and semi-planar output of a planar source reads back to the planar samples.
TEST(RawReadersTest, RepackedFfmpegOutputReadsBackToThePlanarSamples)
{
    struct Case
    {
        char const* file;
        char const* planar;
        ImageInfo::IMG_TYPE type;
        YUVFile::Formats format;
        int fileDepth, wanted;
    };
    Case const cases[] = {
        {"raw_yuyv422_176x144.yuv", "raw_422p_176x144.yuv", ImageInfo::IMG_422, YUVFile::FORMAT_YUY2, 8, 8},
        {"raw_uyvy422_176x144.yuv", "raw_422p_176x144.yuv", ImageInfo::IMG_422, YUVFile::FORMAT_UYVY, 8, 8},
        {"raw_nv12_176x144.yuv", "raw_420p_176x144.yuv", ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, 8, 8},
        {"raw_p010le_176x144.yuv", "raw_420p10_176x144.yuv", ImageInfo::IMG_420, YUVFile::FORMAT_P010, 16, 10},
        {"raw_p010le_176x144.yuv", "raw_420p10_176x144.yuv", ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, 16, 10},
    };
    int const w = 176, h = 144;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.file);
        int const bps = c.wanted > 8 ? 2 : 1;
        int64_t const size = YUVFile::frameSize(w, h, c.type, c.wanted);
        QByteArray data = ReadAll(TestMediaPath(c.file), 2 * size, size);
        QByteArray const ref = ReadAll(TestMediaPath(c.planar), 2 * size, size);
        ASSERT_EQ(data.size(), size);
        ASSERT_EQ(ref.size(), size);
        PicSize const g = WholePicture(w, h, c.type, c.wanted);
        ImageType<short> image = Picture(g);
        YUVFile reader;
        reader.m_format = c.format;
        reader.m_bitDepth = c.fileDepth;
        reader.readData(image, data, 0, g);
        ExpectPlanarSamples(image, ref, w, h, c.type, bps);
    }
}

} // namespace
