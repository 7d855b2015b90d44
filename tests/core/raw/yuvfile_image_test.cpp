#include "raw/Util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

short* Sample(ImageType<short>& image, int plane, int x, int y)
{
    return image.row(plane, y) + x;
}

TEST(ImageBaseTest, DefaultPictureIsEmpty)
{
    ImageType<short> image;
    EXPECT_EQ(image.m_buffer, nullptr);
    EXPECT_EQ(image.m_size, 0);
    EXPECT_EQ(image.m_type, ImageInfo::IMG_420);
    EXPECT_EQ(image.m_struct, ImageInfo::FRAME);
    EXPECT_EQ(image.m_bytesPerSample, 2);
    for (auto const& p : image.m_planes) {
        EXPECT_EQ(p.data, nullptr);
        EXPECT_EQ(p.bitDepth, 8);
        EXPECT_EQ(p.stride, 0);
    }
    EXPECT_EQ(ImageType<int>().m_bytesPerSample, 4);
}

TEST(ImageBaseTest, YuvLayoutsPackPlanesIntoOneBuffer)
{
    struct Case
    {
        ImageInfo::IMG_TYPE type;
        int chromaW, chromaH, chromaStride, size;
    };
    // A 5 x 3 picture: chroma sides are rounded up.
    Case const cases[] = {
        {ImageInfo::IMG_420, 3, 2, 3, 15 + 2 * 6}, {ImageInfo::IMG_422, 3, 3, 3, 15 + 2 * 9},
        {ImageInfo::IMG_444, 5, 3, 5, 15 * 3},     {ImageInfo::IMG_440, 5, 2, 5, 15 + 2 * 10},
        {ImageInfo::IMG_400, 0, 0, 0, 15},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.type);
        ImageType<short> image;
        ASSERT_TRUE(image.allocate(5, 3, 10, 9, c.type, CropInfo{}, ImageInfo::FRAME));
        EXPECT_EQ(image.m_size, c.size);
        EXPECT_EQ(image.m_planes[0].data, image.m_buffer.get());
        EXPECT_EQ(image.m_planes[0].stride, 5);
        EXPECT_EQ(image.m_planes[0].bitDepth, 10);
        EXPECT_EQ(image.m_planes[1].width, c.chromaW);
        EXPECT_EQ(image.m_planes[1].height, c.chromaH);
        EXPECT_EQ(image.m_planes[1].stride, c.chromaStride);
        if (c.type == ImageInfo::IMG_400) {
            EXPECT_EQ(image.m_planes[1].data, nullptr);
            EXPECT_EQ(image.m_planes[2].data, nullptr);
            continue;
        }
        EXPECT_EQ(image.m_planes[1].bitDepth, 9);
        EXPECT_EQ(image.plane(1), image.plane(0) + 15);
        EXPECT_EQ(image.plane(2), image.plane(1) + c.chromaStride * c.chromaH);
        // The last chroma sample is inside the buffer (16 samples of slack follow the planes).
        *Sample(image, 2, c.chromaW - 1, c.chromaH - 1) = 7;
        EXPECT_EQ(image.plane(2) + c.chromaStride * c.chromaH, image.plane(0) + c.size);
    }
}

TEST(ImageBaseTest, ChromaCropIsHalvedWhereTheFormatSubsamples)
{
    CropInfo const crop{5, 3, 1, 2};
    struct Case
    {
        ImageInfo::IMG_TYPE type;
        CropInfo chroma;
    };
    Case const cases[] = {{ImageInfo::IMG_420, {2, 1, 0, 1}},
                          {ImageInfo::IMG_422, {2, 1, 1, 2}},
                          {ImageInfo::IMG_440, {5, 3, 0, 1}},
                          {ImageInfo::IMG_444, {5, 3, 1, 2}},
                          {ImageInfo::IMG_400, {0, 0, 0, 0}}};
    for (Case const& c : cases) {
        ImageType<short> image;
        image.allocate(16, 16, 8, 8, c.type, crop, ImageInfo::FRAME);
        CropInfo const& got = image.m_planes[1].crop;
        EXPECT_EQ(image.m_planes[0].crop.left, 5);
        EXPECT_EQ(got.left, c.chroma.left) << c.type;
        EXPECT_EQ(got.right, c.chroma.right) << c.type;
        EXPECT_EQ(got.top, c.chroma.top) << c.type;
        EXPECT_EQ(got.bottom, c.chroma.bottom) << c.type;
    }
}

TEST(ImageBaseTest, RgbAndUnknownTypes)
{
    ImageType<short> rgb;
    ASSERT_TRUE(rgb.allocate(4, 2, 8, 8, ImageInfo::IMG_RGB, CropInfo{}, ImageInfo::FRAME));
    EXPECT_EQ(rgb.m_size, 24);
    EXPECT_EQ(rgb.m_planes[0].stride, 12);
    EXPECT_EQ(rgb.m_planes[1].data, nullptr);

    ImageType<short> none;
    none.allocate(4, 2, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME);
    EXPECT_TRUE(none.allocate(4, 2, 8, 8, static_cast<ImageInfo::IMG_TYPE>(7), CropInfo{}, ImageInfo::FRAME));
    EXPECT_EQ(none.m_buffer, nullptr);
    EXPECT_EQ(none.m_planes[0].data, nullptr);
}

TEST(ImageBaseTest, SizesBeyondIntAreRefusedWithoutBuffer)
{
    ImageType<short> image;
    EXPECT_FALSE(image.allocate(1 << 16, 1 << 16, 8, 8, ImageInfo::IMG_444, CropInfo{}, ImageInfo::FRAME));
    EXPECT_EQ(image.m_buffer, nullptr);
    EXPECT_EQ(image.m_planes[0].data, nullptr);
    EXPECT_FALSE(image.allocate(-1, 4, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME));
}

TEST(ImageBaseTest, CopyOwnsItsSamples)
{
    auto source = std::make_unique<ImageType<short>>();
    source->allocate(5, 3, 10, 10, ImageInfo::IMG_420, CropInfo{1, 0, 0, 0}, ImageInfo::FRAME);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < source->m_planes[p].height; ++y)
            for (int x = 0; x < source->m_planes[p].width; ++x)
                *Sample(*source, p, x, y) = static_cast<short>(100 * p + 10 * y + x);

    ImageType<short> copy(*source);
    EXPECT_NE(copy.m_buffer, source->m_buffer);
    EXPECT_EQ(copy.m_size, 27);
    EXPECT_EQ(copy.m_planes[0].crop.left, 1);
    source->allocate(8, 8, 8, 8, ImageInfo::IMG_444, CropInfo{}, ImageInfo::FRAME);
    source->setZero();
    source.reset();
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < copy.m_planes[p].height; ++y)
            for (int x = 0; x < copy.m_planes[p].width; ++x)
                EXPECT_EQ(*Sample(copy, p, x, y), 100 * p + 10 * y + x);

    ImageType<short> empty;
    ImageType<short> emptyCopy(empty);
    EXPECT_EQ(emptyCopy.m_buffer, nullptr);
    EXPECT_EQ(emptyCopy.m_planes[0].data, nullptr);
}

TEST(ImageBaseTest, SetZeroClearsEverySample)
{
    ImageType<short> image;
    image.allocate(3, 3, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME);
    std::fill_n(image.plane(0), image.m_size, short(9));
    image.setZero();
    for (int i = 0; i < image.m_size; ++i)
        ASSERT_EQ(image.plane(0)[i], 0);
}

} // namespace
