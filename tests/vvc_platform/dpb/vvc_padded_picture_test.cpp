// Samples of pictures in the decoded picture buffer: the margins motion compensation reads
// repeat the nearest edge sample in every plane, and the visible planes are what was decoded.

#include "picture/Picture.h"

#include <gtest/gtest.h>

#include <algorithm>

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
