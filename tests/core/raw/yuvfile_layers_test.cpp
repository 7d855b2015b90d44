#include "core/raw/yuvfile_test_support.h"
#include "test_support.h"

namespace {

struct Repeat : Core::Picture
{
    Core::Picture* of = nullptr;
    Core::Picture* getRepeatedPic() const override { return of; }
};

void AddPictures(YUVFile& reader, int count, PicSize const& g)
{
    for (int i = 0; i < count; ++i)
        reader.m_pictures.push_back(std::make_unique<PicSize>(g));
}

// The layer operations find a frame by the sizes of the pictures before it (raw) or by the
// index (Y4M), and read it with the frame's own bit depth.
TEST(YuvLayersTest, LoadFindsTheCurrentFrameOfRawAndY4MLayers)
{
    struct Case
    {
        char const* name;
        int w, h, depth;
    };
    Case const cases[] = {{"raw_420p_175x143", 175, 143, 8}, {"raw_420p10_176x143", 176, 143, 10}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        QString const raw = TestMediaPath(QString::fromLatin1(c.name) + ".yuv");
        int64_t const size = YUVFile::frameSize(c.w, c.h, ImageInfo::IMG_420, c.depth);
        QByteArray const ref = ReadAll(raw, 3 * size, size);
        for (bool y4m : {false, true}) {
            YUVFile reader;
            reader.m_bitDepth = c.depth;
            ASSERT_TRUE(reader.setFile(y4m ? TestMediaPath(QString::fromLatin1(c.name) + ".y4m") : raw, 0));
            AddPictures(reader, 5, WholePicture(c.w, c.h, ImageInfo::IMG_420, c.depth));
            reader.m_curIndex = 3;
            EXPECT_EQ(reader.calculateBytesToSkip(0, false), 3 * size);
            ASSERT_TRUE(reader.load(0)) << y4m;
            EXPECT_TRUE(reader.m_layers[0].loaded);
            ExpectPlanarSamples(reader.m_layers[0].image, ref, c.w, c.h, ImageInfo::IMG_420, c.depth > 8 ? 2 : 1);

            reader.m_curIndex = 5; // beyond the file / the index
            EXPECT_FALSE(reader.load(0));
            EXPECT_FALSE(reader.m_layers[0].loaded);
        }
    }
}

TEST(YuvLayersTest, LoadPictureByNumberAndRepeatedPictures)
{
    YUVFile reader;
    reader.m_bitDepth = 0;
    ASSERT_TRUE(reader.setFile(TestMediaPath("raw_420p_101x101.yuv"), 0));
    AddPictures(reader, 5, WholePicture(101, 101, ImageInfo::IMG_420, 8));
    EXPECT_FALSE(reader.loadPicture(nullptr));

    Core::Picture pic;
    pic.decodeOrder = 4;
    pic.displayOrder = 1;
    ASSERT_TRUE(reader.loadPicture(&pic));
    EXPECT_EQ(reader.m_curIndex, 4);
    QByteArray const ref = ReadAll(TestMediaPath("raw_420p_101x101.yuv"), 4 * 15403, 15403);
    ExpectPlanarSamples(reader.m_layers[0].image, ref, 101, 101, ImageInfo::IMG_420, 1);
    EXPECT_TRUE(reader.loadPicture(&pic)); // already loaded

    // A repeated picture in decode order is an empty mid-grey picture.
    Repeat rep;
    rep.of = &pic;
    rep.decodeOrder = 2;
    EXPECT_FALSE(reader.loadPicture(&rep));
    EXPECT_FALSE(reader.m_layers[0].loaded);
    EXPECT_EQ(reader.m_layers[0].image.plane(0)[0], 128);
    EXPECT_EQ(reader.m_layers[0].image.row(2, 50)[50], 128);

    // Layer records copy their picture into a buffer of their own.
    YUVFile::YUVLayer copy = reader.m_layers[0];
    EXPECT_NE(copy.image.m_buffer, reader.m_layers[0].image.m_buffer);
    EXPECT_EQ(copy.image.row(1, 3)[3], 128);
    reader.reset(0);
    EXPECT_EQ(reader.m_layers[0].image.m_buffer, nullptr);
    EXPECT_FALSE(reader.isExist(0));
}

} // namespace
