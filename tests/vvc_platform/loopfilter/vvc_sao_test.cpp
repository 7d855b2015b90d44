// Sample adaptive offset of the VVC layer on small planes with hand-computed results.

#include "loopfilter/Sao.h"
#include "loopfilter/SaoKernels.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

struct Plane
{
    Plane(int w, int h, std::vector<int> const& v) : width(w), height(h), samples(v.begin(), v.end()) {}
    PlaneView view() const { return {samples.data(), width, width, height}; }
    int width, height;
    std::vector<uint16_t> samples;
};

std::vector<int> Filter(Plane const& src, int bitDepth, SaoParams const& p, SaoNeighbours const& nb = SaoNeighbours())
{
    std::vector<uint16_t> dst(src.samples.size(), 0xFFFF);
    ApplySao(src.view(), dst.data(), src.width, 0, 0, src.width, src.height, bitDepth, p, nb);
    return std::vector<int>(dst.begin(), dst.end());
}

SaoParams Params(int type, int a, int b, int c, int d, int bandOrClass = 0)
{
    SaoParams p;
    p.typeIdx = type;
    p.offsetVal[1] = a;
    p.offsetVal[2] = b;
    p.offsetVal[3] = c;
    p.offsetVal[4] = d;
    p.bandPosition = p.eoClass = bandOrClass;
    return p;
}

} // namespace

TEST(VvcSao, BandOffsetChangesFourBandsFromTheSignalledOneWrappingAround)
{
    // 10 bits: bands of 32 values. Bands 30, 31, 0 and 1 get the four offsets.
    const Plane src(6, 1, {960, 1023, 0, 40, 100, 991});
    EXPECT_EQ(Filter(src, 10, Params(1, 5, 8, -3, 2, 30)), std::vector<int>({965, 1023, 0, 42, 100, 996}));
    // 8 bits: bands of 8 values.
    const Plane eight(4, 1, {16, 23, 24, 48});
    EXPECT_EQ(Filter(eight, 8, Params(1, 1, 2, 3, 4, 2)), std::vector<int>({17, 24, 26, 48}));
}

TEST(VvcSao, EdgeOffsetByLocalShape)
{
    // Horizontal: local minimum, corners and maximum take offsets 1 to 4; the ends of the row
    // have no neighbour on one side and stay; flat samples stay.
    const Plane row(9, 1, {5, 3, 5, 5, 7, 5, 6, 6, 6});
    EXPECT_EQ(Filter(row, 10, Params(2, 1, 2, -2, -1, 0)), std::vector<int>({5, 4, 3, 7, 6, 6, 4, 6, 6}));

    // A 3x3 block whose centre is a minimum only along one direction at a time.
    struct Case
    {
        int eoClass;
        std::vector<int> values;
        int centre;
    };
    // clang-format off
    const Case cases[] = {
        {1, {9, 8, 9, 1, 4, 1, 9, 8, 9}, 4 + 1},   // vertical: 8 above and below
        {1, {9, 2, 9, 8, 4, 8, 9, 2, 9}, 4 - 1},   // vertical: a maximum
        {2, {8, 0, 0, 0, 4, 0, 0, 0, 8}, 4 + 1},   // 135 degrees
        {3, {0, 0, 8, 0, 4, 0, 8, 0, 0}, 4 + 1},   // 45 degrees
        {3, {8, 0, 0, 0, 4, 0, 0, 0, 8}, 4 - 1},   // 45 degrees sees the other diagonal
    };
    // clang-format on
    for (Case const& c : cases) {
        const Plane block(3, 3, c.values);
        const std::vector<int> out = Filter(block, 10, Params(2, 1, 2, -2, -1, c.eoClass));
        EXPECT_EQ(out[4], c.centre) << "class " << c.eoClass;
        // The top and bottom rows lack a neighbour in every direction but the horizontal.
        for (int i : {0, 1, 2, 6, 7, 8})
            EXPECT_EQ(out[size_t(i)], c.values[size_t(i)]) << "class " << c.eoClass << " sample " << i;
    }
}

TEST(VvcSao, BoundariesAndClipping)
{
    const Plane row(5, 1, {5, 3, 5, 1020, 1000});
    // A neighbour that may not be used (here across a virtual boundary at x 2) leaves the sample.
    SaoNeighbours vb2;
    vb2.vbX = {2};
    EXPECT_EQ(Filter(row, 10, Params(2, 1, 2, -2, 10, 0), vb2), std::vector<int>({5, 3, 5, 1023, 1000}));
    // Not applied: the samples are copied.
    EXPECT_EQ(Filter(row, 10, SaoParams()), std::vector<int>({5, 3, 5, 1020, 1000}));
    // Results are clipped to the sample range.
    EXPECT_EQ(Filter(Plane(3, 1, {0, 1, 0}), 10, Params(2, -5, 0, 0, -5, 0)), std::vector<int>({0, 0, 0}));
}

TEST(VvcSao, PictureOfCtbsWithTheirOwnParameters)
{
    // An 8x2 luma plane of two 4-wide CTBs: band offset on the left one, horizontal edge offset
    // on the right one, whose neighbours across the CTB boundary may not be used.
    Plane luma(8, 2, {10, 100, 200, 300, 5, 3, 5, 5, 10, 100, 200, 300, 5, 5, 3, 5});
    std::vector<uint16_t> out(16, 0xFFFF);
    SaoPicture pic;
    pic.width = 8;
    pic.height = 2;
    pic.ctbSize = 4;
    pic.widthInCtbs = 2;
    pic.bitDepth = 10;
    pic.planes[0] = luma.view();
    pic.out[0] = out.data();
    auto params = [](int ctu, int c, SaoParams& p) {
        if (c != 0)
            return false;
        p = ctu == 0 ? Params(1, 1, 2, 3, 4, 3) /* bands 3..6: values 96..223 */ : Params(2, 1, 2, -2, -1, 0);
        return true;
    };
    auto closed = [](int a, int b) { return a != b; };
    ApplySaoToPicture(pic, params, closed);
    EXPECT_EQ(std::vector<int>(out.begin(), out.end()),
              std::vector<int>({10, 101, 204, 300, 5, 4, 3, 5, 10, 101, 204, 300, 5, 3, 4, 5}));
}

TEST(VvcSao, EdgeOffsetNeighboursAcrossCtbCornersAndVirtualBoundaries)
{
    // An 8x8 luma plane of 2x2 CTBs of 4x4 whose columns alternate 0 and 8: along every class but
    // the vertical one, even columns are minima (+1) and odd ones maxima (-1). '#' marks the
    // samples that are filtered. Closed pairs of CTBs do not see each other, whether they share
    // a side or only a corner.
    struct Case
    {
        char const* what;
        int eoClass;
        std::vector<std::pair<int, int>> closed;
        std::vector<int> vbY;
        char const* filtered[8];
    };
    // clang-format off
    const Case cases[] = {
        {"135 degrees, CTBs 0 and 3 closed", 2, {{0, 3}}, {},
         {"........", ".######.", ".######.", ".##.###.", ".###.##.", ".######.", ".######.", "........"}},
        {"45 degrees, CTBs 1 and 2 closed", 3, {{1, 2}}, {},
         {"........", ".######.", ".######.", ".###.##.", ".##.###.", ".######.", ".######.", "........"}},
        {"135 degrees does not cross between CTBs 1 and 2", 2, {{1, 2}}, {},
         {"........", ".######.", ".######.", ".######.", ".######.", ".######.", ".######.", "........"}},
        {"horizontal, CTBs 0 and 1 closed", 0, {{0, 1}}, {},
         {".##..##.", ".##..##.", ".##..##.", ".##..##.", ".######.", ".######.", ".######.", ".######."}},
        {"45 degrees, a horizontal virtual boundary at y 4", 3, {}, {4},
         {"........", ".######.", ".######.", "........", "........", ".######.", ".######.", "........"}},
    };
    // clang-format on
    std::vector<int> values(64);
    for (int i = 0; i < 64; ++i)
        values[size_t(i)] = (i & 1) * 8;
    const Plane luma(8, 8, values);
    for (Case const& c : cases) {
        std::vector<uint16_t> out(64, 0xFFFF);
        SaoPicture pic;
        pic.width = pic.height = 8;
        pic.ctbSize = 4;
        pic.widthInCtbs = 2;
        pic.bitDepth = 10;
        pic.planes[0] = luma.view();
        pic.out[0] = out.data();
        pic.vbY = c.vbY;
        auto params = [&](int, int cIdx, SaoParams& p) {
            p = Params(2, 1, 0, 0, -1, c.eoClass);
            return cIdx == 0;
        };
        auto closed = [&](int a, int b) {
            for (auto const& pr : c.closed)
                if ((pr.first == a && pr.second == b) || (pr.first == b && pr.second == a))
                    return true;
            return false;
        };
        ApplySaoToPicture(pic, params, closed);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                int const in = values[size_t(y * 8 + x)];
                int const expected = c.filtered[y][x] == '#' ? (in ? in - 1 : in + 1) : in;
                EXPECT_EQ(out[size_t(y * 8 + x)], expected) << c.what << " at " << x << "," << y;
            }
    }
}

// A picture filtered in parts of lines (as rows are filtered while the picture is decoded) gives
// the whole picture's result, and a part writes only its own lines: random 4:2:0 planes of
// partial CTBs with band and edge offsets of every class, closed CTB pairs and a virtual boundary.
TEST(VvcSao, LinesFilteredInPartsGiveTheWholePicture)
{
    int const w = 40, h = 42, ctb = 16;
    std::mt19937 rng(7);
    std::vector<Plane> planes;
    for (int c = 0; c < 3; ++c) {
        int const pw = c ? (w + 1) / 2 : w, ph = c ? (h + 1) / 2 : h;
        std::vector<int> v(size_t(pw) * size_t(ph));
        for (int& x : v)
            x = int(rng() % 1024);
        planes.emplace_back(pw, ph, v);
    }
    int const ctus = ((w + ctb - 1) / ctb) * ((h + ctb - 1) / ctb);
    std::vector<SaoParams> params(size_t(3 * ctus));
    for (SaoParams& p : params)
        p = Params(int(rng() % 3), int(rng() % 15) - 7, int(rng() % 15) - 7, int(rng() % 15) - 7,
                   int(rng() % 15) - 7, int(rng() % 32));
    for (SaoParams& p : params)
        p.eoClass &= 3;
    auto run = [&](std::vector<std::pair<int, int>> const& parts) {
        std::vector<std::vector<uint16_t>> out;
        SaoPicture pic;
        pic.width = w;
        pic.height = h;
        pic.ctbSize = ctb;
        pic.widthInCtbs = (w + ctb - 1) / ctb;
        pic.bitDepth = 10;
        pic.vbY = {24};
        for (int c = 0; c < 3; ++c) {
            out.emplace_back(planes[size_t(c)].samples.size(), 0xFFFF);
            pic.planes[c] = planes[size_t(c)].view();
            pic.out[c] = out.back().data();
        }
        auto get = [&](int ctu, int c, SaoParams& p) {
            p = params[size_t(3 * ctu + c)];
            return p.typeIdx != 0;
        };
        auto closed = [](int a, int b) { return (a == 0 && b == 4) || (a == 4 && b == 0) || (a + b == 5); };
        for (auto const& part : parts)
            EXPECT_TRUE(ApplySaoToLines(pic, get, closed, part.first, part.second));
        return out;
    };
    auto const whole = run({{0, h}});
    EXPECT_EQ(run({{0, 8}, {8, 24}, {24, 40}, {40, h}}), whole);
    EXPECT_EQ(run({{0, 16}, {16, 18}, {18, h}}), whole);
    // Lines 8 to 24 alone: nothing else written.
    auto const part = run({{8, 24}});
    for (int c = 0; c < 3; ++c) {
        int const pw = planes[size_t(c)].width, sh = c ? 1 : 0;
        for (int y = 0; y < planes[size_t(c)].height; ++y)
            for (int x = 0; x < pw; ++x) {
                size_t const i = size_t(y) * size_t(pw) + size_t(x);
                bool const inside = y >= (8 >> sh) && y < (24 >> sh);
                EXPECT_EQ(part[size_t(c)][i], inside ? whole[size_t(c)][i] : 0xFFFF)
                    << "plane " << c << " at " << x << "," << y;
            }
    }
}

// The vector edge-offset row against the portable one: every width, the bit depths SAO serves,
// flat runs (signs of zero) and the range's ends, offsets that clip at both ends; then whole
// planes of every edge class with vector kernels allowed and not.
TEST(VvcSaoKernels, VectorEdgeRowMatchesPortable)
{
    SaoKernels const* vec = SaoVectorKernels();
    if (!vec)
        GTEST_SKIP() << "no vector kernels on this processor";
    std::mt19937 rng(32);
    for (int bitDepth : {8, 10, 12, 16})
        for (int width : {1, 2, 7, 8, 15, 16, 17, 31, 32, 33, 64, 130}) {
            int const maxVal = (1 << bitDepth) - 1;
            auto sample = [&] {
                switch (rng() % 4) {
                case 0: return uint16_t(0);
                case 1: return uint16_t(maxVal);
                case 2: return uint16_t(maxVal / 2);
                default: return uint16_t(rng() % unsigned(maxVal + 1));
                }
            };
            std::vector<uint16_t> rows[3];
            for (auto& r : rows) {
                r.resize(size_t(width));
                for (auto& v : r)
                    v = sample();
            }
            SaoEdgeRowArgs a;
            a.cur = rows[0].data();
            a.a = rows[1].data();
            a.b = rows[2].data();
            a.width = width;
            a.maxVal = maxVal;
            int const range = 1 << (bitDepth - 4);
            for (int k = 0; k < 5; ++k)
                a.offset[k] = k == 2 ? 0 : int(rng() % unsigned(2 * range + 1)) - range;
            std::vector<uint16_t> outPortable(size_t(width), 0xFFFF), outVector(size_t(width), 0xFFFF);
            a.dst = outPortable.data();
            SaoPortableKernels().edgeRow(a);
            a.dst = outVector.data();
            vec->edgeRow(a);
            ASSERT_EQ(outVector, outPortable) << "width " << width << " bit depth " << bitDepth;
        }

    std::vector<int> v(size_t(67 * 21));
    for (auto& s : v)
        s = int(rng() % 4 == 0 ? 512 : rng() % 1024);
    const Plane src(67, 21, v);
    for (int eoClass = 0; eoClass < 4; ++eoClass) {
        const SaoParams p = Params(2, 7, 3, -2, -9, eoClass);
        const std::vector<int> withVector = Filter(src, 10, p);
        SaoAllowVectorKernels(false);
        EXPECT_STREQ(SaoActiveKernels().name, "portable");
        const std::vector<int> portable = Filter(src, 10, p);
        SaoAllowVectorKernels(true);
        EXPECT_EQ(withVector, portable) << "class " << eoClass;
    }
}
