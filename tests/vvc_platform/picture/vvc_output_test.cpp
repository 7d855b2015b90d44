// Picture storage and output of the VVC layer: cropping to the conformance window, bit-depth
// conversion and byte layout of the written planes, field interleaving, refusals.

#include "picture/Picture.h"
#include "picture/VideoIOYuv.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A picture whose sample at (x, y) of plane c is base + 100 c + 10 y + x.
PelStorage Pattern(int width, int height, int bitDepth, int base = 0)
{
    PelStorage p;
    EXPECT_TRUE(p.create(CHROMA_420, width, height, bitDepth));
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < p.planeHeight(c); ++y)
            for (int x = 0; x < p.planeWidth(c); ++x)
                p.plane(c)[y * p.planeWidth(c) + x] = uint16_t(base + 100 * c + 10 * y + x);
    return p;
}

struct Output
{
    Output(int lumaBytes, int chromaBytes, int fileBitDepth)
        : planes{std::vector<uint8_t>(size_t(lumaBytes), 0xEE), std::vector<uint8_t>(size_t(chromaBytes), 0xEE),
                 std::vector<uint8_t>(size_t(chromaBytes), 0xEE)}
    {
        unsigned char* p[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        int const sizes[3] = {lumaBytes, chromaBytes, chromaBytes};
        int const depth[2] = {fileBitDepth, fileBitDepth};
        EXPECT_TRUE(io.open(std::string(), true, depth, depth, depth, p, sizes));
    }
    std::vector<int> samples(int c, int bytesPerSample) const
    {
        std::vector<int> out;
        for (size_t i = 0; i + size_t(bytesPerSample) <= planes[c].size(); i += size_t(bytesPerSample))
            out.push_back(bytesPerSample == 2 ? planes[c][i] | planes[c][i + 1] << 8 : planes[c][i]);
        return out;
    }
    std::vector<uint8_t> planes[3];
    VideoIOYuv io;
};

} // namespace

TEST(VvcOutput, CropsToTheWindowInEachPlane)
{
    const PelStorage pic = Pattern(8, 6, 10, 500);
    // Crop 2 left, 2 right, 2 top (luma samples): 4x4 luma, 2x2 chroma, two bytes per sample.
    Output out(4 * 4 * 2, 2 * 2 * 2, 10);
    ASSERT_TRUE(out.io.write(pic.view(), 0, false, 2, 2, 2, 0, NUM_CHROMA_FORMAT, false));
    EXPECT_EQ(out.samples(0, 2),
              std::vector<int>({522, 523, 524, 525, 532, 533, 534, 535, 542, 543, 544, 545, 552, 553, 554, 555}));
    EXPECT_EQ(out.samples(1, 2), std::vector<int>({611, 612, 621, 622}));
    EXPECT_EQ(out.samples(2, 2), std::vector<int>({711, 712, 721, 722}));
    EXPECT_EQ(out.planes[0][1], 522 >> 8) << "low byte first";
}

TEST(VvcOutput, ConvertsBitDepths)
{
    PelStorage ten;
    ASSERT_TRUE(ten.create(CHROMA_420, 2, 2, 10));
    const uint16_t luma[4] = {0, 513, 514, 1023};
    std::copy(luma, luma + 4, ten.plane(0));
    Output eight(4, 1, 8);
    ASSERT_TRUE(eight.io.write(ten.view(), 0, false, 0, 0, 0, 0, NUM_CHROMA_FORMAT, false));
    // Rounded down-shift, clipped to 255.
    EXPECT_EQ(eight.samples(0, 1), std::vector<int>({0, 128, 129, 255}));
    EXPECT_EQ(eight.samples(1, 1), std::vector<int>({128})) << "a new picture is mid-grey";

    PelStorage eightBit = Pattern(2, 2, 8, 200);
    Output tenOut(8, 2, 10);
    ASSERT_TRUE(tenOut.io.write(eightBit.view(), 0, false, 0, 0, 0, 0, NUM_CHROMA_FORMAT, false));
    EXPECT_EQ(tenOut.samples(0, 2), std::vector<int>({800, 804, 840, 844}));
}

TEST(VvcOutput, MonochromePicturesGetNeutralChromaPlanes)
{
    // A 4:0:0 picture has one plane; the output's chroma planes (odd window: 3x2 chroma for a
    // 5x3 luma area) are filled with the neutral value of the output bit depth.
    PelStorage mono;
    ASSERT_TRUE(mono.create(CHROMA_400, 6, 4, 10));
    EXPECT_EQ(mono.plane(1), nullptr);
    for (int i = 0; i < 6 * 4; ++i)
        mono.plane(0)[i] = uint16_t(4 * i);
    struct Case
    {
        int fileBitDepth, neutral;
        std::vector<int> luma;
    } const cases[] = {
        {10, 512, {28, 32, 36, 40, 44, 52, 56, 60, 64, 68, 76, 80, 84, 88, 92}},
        {8, 128, {7, 8, 9, 10, 11, 13, 14, 15, 16, 17, 19, 20, 21, 22, 23}},
    };
    for (Case const& c : cases) {
        int const bytes = c.fileBitDepth > 8 ? 2 : 1;
        Output out(5 * 3 * bytes, 3 * 2 * bytes, c.fileBitDepth);
        ASSERT_TRUE(out.io.write(mono.view(), 0, false, 1, 0, 1, 0, NUM_CHROMA_FORMAT, false)) << c.fileBitDepth;
        EXPECT_EQ(out.samples(0, bytes), c.luma) << c.fileBitDepth;
        for (int p = 1; p <= 2; ++p)
            EXPECT_EQ(out.samples(p, bytes), std::vector<int>(6, c.neutral)) << c.fileBitDepth << " plane " << p;
    }
}

TEST(VvcOutput, InterleavesFieldPairs)
{
    const PelStorage first = Pattern(2, 2, 10, 0), second = Pattern(2, 2, 10, 50);
    for (bool tff : {true, false}) {
        Output out(2 * 4 * 2, 1 * 2 * 2, 10);
        ASSERT_TRUE(out.io.write(first.view(), second.view(), 0, false, 0, 0, 0, 0, NUM_CHROMA_FORMAT, tff, false));
        const std::vector<int> a = {0, 1}, b = {50, 51}, a1 = {10, 11}, b1 = {60, 61};
        std::vector<int> expect;
        for (auto const* row : tff ? std::vector<std::vector<int> const*>{&a, &b, &a1, &b1}
                                   : std::vector<std::vector<int> const*>{&b, &a, &b1, &a1})
            expect.insert(expect.end(), row->begin(), row->end());
        EXPECT_EQ(out.samples(0, 2), expect) << tff;
    }
}

TEST(VvcOutput, RefusesWhatDoesNotFit)
{
    const PelStorage pic = Pattern(8, 6, 10);
    {
        Output small(8 * 6 * 2 - 1, 4 * 3 * 2, 10);
        EXPECT_FALSE(small.io.write(pic.view(), 0, false, 0, 0, 0, 0, NUM_CHROMA_FORMAT, false))
            << "luma plane too small";
    }
    Output out(8 * 6 * 2, 4 * 3 * 2, 10);
    EXPECT_FALSE(out.io.write(pic.view(), 0, false, 4, 4, 0, 0, NUM_CHROMA_FORMAT, false)) << "nothing left";
    EXPECT_FALSE(out.io.write(pic.view(), 0, false, -2, 0, 0, 0, NUM_CHROMA_FORMAT, false));
    EXPECT_FALSE(out.io.write(PelUnitBuf(), 0, false, 0, 0, 0, 0, NUM_CHROMA_FORMAT, false)) << "no samples";
    EXPECT_FALSE(out.io.write(pic.view(), 0, true, 0, 0, 0, 0, NUM_CHROMA_FORMAT, false)) << "packed output";
    const PelStorage other = Pattern(4, 6, 10);
    EXPECT_FALSE(out.io.write(pic.view(), other.view(), 0, false, 0, 0, 0, 0, NUM_CHROMA_FORMAT, true, false))
        << "fields of different sizes";
    EXPECT_TRUE(out.io.write(pic.view(), 0, false, 0, 0, 0, 0, NUM_CHROMA_FORMAT, false));
    out.io.close();
    EXPECT_FALSE(out.io.write(pic.view(), 0, false, 0, 0, 0, 0, NUM_CHROMA_FORMAT, false)) << "closed";

    PelStorage s;
    EXPECT_FALSE(s.create(CHROMA_420, 0, 16, 10));
    EXPECT_FALSE(s.create(CHROMA_420, 30000, 30000, 10));
    EXPECT_FALSE(s.create(CHROMA_420, 16, 16, 17));
    EXPECT_TRUE(s.empty());
    ASSERT_TRUE(s.create(CHROMA_420, 9, 5, 10));
    EXPECT_EQ(s.planeWidth(1), 5);
    EXPECT_EQ(s.planeHeight(1), 3) << "odd sizes round the chroma planes up";
}
