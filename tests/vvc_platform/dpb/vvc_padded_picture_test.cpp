// Samples of pictures in the decoded picture buffer: the margins motion compensation reads
// repeat the nearest edge sample in every plane, and the visible planes are what was decoded.

#include "picture/Picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(VvcPaddedPicture, MarginsRepeatTheNearestEdgeSample)
{
    struct Case
    {
        ChromaFormat format;
        int width, height;
        int chromaMargin;
    } const cases[] = {{CHROMA_420, 13, 7, 72}, {CHROMA_400, 8, 8, 0}, {CHROMA_444, 5, 9, 144}};
    for (Case const& k : cases) {
        SCOPED_TRACE(k.format);
        PelStorage rec;
        ASSERT_TRUE(rec.create(k.format, k.width, k.height, 10));
        int const planes = k.format == CHROMA_400 ? 1 : 3;
        for (int c = 0; c < planes; ++c)
            for (int i = 0; i < rec.planeWidth(c) * rec.planeHeight(c); ++i)
                rec.plane(c)[i] = uint16_t(c * 1000 + i);
        PaddedPelStorage pic;
        ASSERT_TRUE(pic.assign(rec));
        EXPECT_EQ(pic.margin(0), PaddedPelStorage::kLumaMargin);
        if (planes > 1) {
            EXPECT_EQ(pic.margin(1), k.chromaMargin);
        }
        EXPECT_EQ(pic.origin(1) != nullptr, planes > 1);
        for (int c = 0; c < planes; ++c) {
            int const w = pic.width(c), h = pic.height(c), m = pic.margin(c);
            ASSERT_EQ(w, rec.planeWidth(c));
            for (int y = -m; y < h + m; ++y)
                for (int x = -m; x < w + m; ++x) {
                    int const xi = std::clamp(x, 0, w - 1), yi = std::clamp(y, 0, h - 1);
                    ASSERT_EQ(pic.origin(c)[y * pic.stride(c) + x], rec.plane(c)[yi * w + xi])
                        << "plane " << c << " at " << x << "," << y;
                }
        }
        PelUnitBuf const view = pic.view();
        EXPECT_EQ(view.width, k.width);
        EXPECT_EQ(view.planes[0].samples, pic.origin(0));
        EXPECT_EQ(view.planes[0].stride, pic.stride(0));
    }
}

TEST(VvcPaddedPicture, RowsCopiedInPartsGiveTheWholePicture)
{
    // A picture written CTU row by CTU row (odd heights: the last chroma row; monochrome) ends up
    // as the one taken whole, margins included; rows outside the picture or of another layout are
    // refused.
    struct Case
    {
        ChromaFormat format;
        int width, height;
        std::vector<int> cuts; // luma rows where the copies start, the first 0
    } const cases[] = {{CHROMA_420, 21, 35, {0, 16, 32}}, {CHROMA_420, 16, 8, {0, 2, 6}}, {CHROMA_400, 9, 11, {0, 4}},
                       {CHROMA_420, 12, 64, {0}}};
    for (Case const& k : cases) {
        SCOPED_TRACE(k.height);
        PelStorage rec;
        ASSERT_TRUE(rec.create(k.format, k.width, k.height, 10));
        for (int c = 0; c < (k.format == CHROMA_400 ? 1 : 3); ++c)
            for (int i = 0; i < rec.planeWidth(c) * rec.planeHeight(c); ++i)
                rec.plane(c)[i] = uint16_t((c * 331 + i * 7) & 1023);
        PaddedPelStorage whole, parts;
        ASSERT_TRUE(whole.assign(rec));
        ASSERT_TRUE(parts.allocate(k.format, k.width, k.height, 10));
        for (size_t i = 0; i < k.cuts.size(); ++i)
            ASSERT_TRUE(parts.copyRows(rec, k.cuts[i], i + 1 < k.cuts.size() ? k.cuts[i + 1] : k.height));
        for (int c = 0; c < whole.numPlanes(); ++c) {
            int const m = whole.margin(c);
            for (int y = -m; y < whole.height(c) + m; ++y)
                for (int x = -m; x < whole.width(c) + m; ++x)
                    ASSERT_EQ(parts.origin(c)[y * parts.stride(c) + x], whole.origin(c)[y * whole.stride(c) + x])
                        << "plane " << c << " at " << x << "," << y;
        }
        EXPECT_FALSE(parts.copyRows(rec, 0, k.height + 1));
        EXPECT_FALSE(parts.copyRows(rec, 4, 4));
        PelStorage other;
        ASSERT_TRUE(other.create(k.format, k.width + 1, k.height, 10));
        EXPECT_FALSE(parts.copyRows(other, 0, 1));
    }
}

TEST(VvcPaddedPicture, RefusesUnusableSizes)
{
    PaddedPelStorage pic;
    EXPECT_FALSE(pic.create(CHROMA_420, 0, 16, 10));
    EXPECT_FALSE(pic.create(CHROMA_420, 16, 16, 7));
    EXPECT_FALSE(pic.create(CHROMA_420, 1 << 20, 1 << 20, 10));
    EXPECT_TRUE(pic.empty());
    PelStorage none;
    EXPECT_FALSE(pic.assign(none));
}

} // namespace
