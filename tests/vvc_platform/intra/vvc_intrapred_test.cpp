// Intra sample prediction of the VVC layer: reference samples, planar/DC/angular with PDPC, the
// interpolation filter choice, wide angles, MIP and CCLM, and the sample range at 10 bits.

#include "intra/IntraPred.h"
#include "intra/Mip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// A plane of samples with its own storage.
struct TestPlane
{
    int width, height;
    std::vector<uint16_t> data;
    TestPlane(int w, int h, uint16_t fill = 0) : width(w), height(h), data(size_t(w) * h, fill) {}
    uint16_t& at(int x, int y) { return data[size_t(y) * width + x]; }
    IntraPlane view() const { return IntraPlane{data.data(), width, width, height}; }
};

// A block prediction with its own storage, read as (x, y).
struct Block
{
    int w, h;
    std::vector<uint16_t> s;
    Block(int w_, int h_) : w(w_), h(h_), s(size_t(w_) * h_, 0xdead) {}
    uint16_t* ptr() { return s.data(); }
    int operator()(int x, int y) const { return s[size_t(y) * w + x]; }
};

// Reference samples for refIdx 0 with p[-1][-1] = corner, p[x][-1] = top(x), p[-1][y] = left(y).
template <typename T, typename L>
IntraRefSamples Refs(int refW, int refH, int corner, T top, L left)
{
    IntraRefSamples r;
    r.refW = refW;
    r.refH = refH;
    r.left[0] = r.top[0] = uint16_t(corner);
    for (int x = 0; x < refW; ++x)
        r.top[x + 1] = uint16_t(top(x));
    for (int y = 0; y < refH; ++y)
        r.left[y + 1] = uint16_t(left(y));
    return r;
}

IntraPredParams Params(int mode, int w, int h, int cIdx = 0)
{
    IntraPredParams p;
    p.predModeIntra = mode;
    p.nTbW = p.nCbW = w;
    p.nTbH = p.nCbH = h;
    p.cIdx = cIdx;
    p.bitDepth = 10;
    return p;
}

uint32_t g_seed = 12345;
int Rand(int n)
{
    g_seed = g_seed * 1664525u + 1013904223u;
    return int((g_seed >> 8) % uint32_t(n));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Reference samples

TEST(VvcIntraRefs, SubstitutesUnavailableSamplesInScanOrder)
{
    TestPlane plane(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            plane.at(x, y) = uint16_t(x + 16 * y);
    // Block 4x4 at (4, 4): below-left (y >= 8) and above-right (x >= 8) not decoded yet.
    auto avail = [](int x, int y) { return x < 8 && y < 8; };
    IntraRefSamples r;
    ASSERT_TRUE(BuildIntraRefSamples(plane.view(), 4, 4, 8, 8, 0, 10, avail, 1, r));
    EXPECT_EQ(r.left[0], 3 + 16 * 3); // corner
    EXPECT_EQ(r.top[0], r.left[0]);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(r.left[y + 1], 3 + 16 * (4 + y)) << y;
    for (int y = 4; y < 8; ++y) // take the lowest available left sample
        EXPECT_EQ(r.left[y + 1], 3 + 16 * 7) << y;
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(r.top[x + 1], 4 + x + 16 * 3) << x;
    for (int x = 4; x < 8; ++x) // continue the last available top sample
        EXPECT_EQ(r.top[x + 1], 7 + 16 * 3) << x;

    // Asking once per 4 samples gives the same result with fewer questions.
    int calls = 0;
    auto counted = [&](int x, int y) {
        ++calls;
        return avail(x, y);
    };
    IntraRefSamples r4;
    ASSERT_TRUE(BuildIntraRefSamples(plane.view(), 4, 4, 8, 8, 0, 10, counted, 4, r4));
    EXPECT_LT(calls, 17);
    EXPECT_TRUE(std::equal(r.left, r.left + 9, r4.left));
    EXPECT_TRUE(std::equal(r.top, r.top + 9, r4.top));
}

TEST(VvcIntraRefs, PictureEdgesAndNothingAvailable)
{
    TestPlane plane(16, 16, 700);
    plane.at(0, 3) = 123; // p[0][-1] of the block at (0, 4)
    auto all = [](int, int) { return true; };
    IntraRefSamples r;
    // Left of the picture: the left column and the corner take the first top sample.
    ASSERT_TRUE(BuildIntraRefSamples(plane.view(), 0, 4, 8, 8, 0, 10, all, 1, r));
    for (int k = 0; k <= 8; ++k)
        EXPECT_EQ(r.left[k], 123) << k;
    EXPECT_EQ(r.top[1], 123);
    EXPECT_EQ(r.top[2], 700);
    // The picture's top-left block: mid-grey at the bit depth.
    ASSERT_TRUE(BuildIntraRefSamples(plane.view(), 0, 0, 8, 8, 0, 10, all, 1, r));
    for (int k = 0; k <= 8; ++k) {
        EXPECT_EQ(r.left[k], 512);
        EXPECT_EQ(r.top[k], 512);
    }
    ASSERT_TRUE(BuildIntraRefSamples(plane.view(), 0, 0, 4, 4, 0, 8, all, 1, r));
    EXPECT_EQ(r.top[3], 128);
    // The callback refuses everything inside the picture too.
    ASSERT_TRUE(BuildIntraRefSamples(
        plane.view(), 8, 8, 8, 8, 0, 10, [](int, int) { return false; }, 1, r));
    EXPECT_EQ(r.left[5], 512);
    // Sizes out of range are refused.
    EXPECT_FALSE(BuildIntraRefSamples(plane.view(), 8, 8, 0, 8, 0, 10, all, 1, r));
    EXPECT_FALSE(BuildIntraRefSamples(plane.view(), 8, 8, 8, kIntraMaxRefLen + 1, 0, 10, all, 1, r));
    EXPECT_FALSE(BuildIntraRefSamples(plane.view(), 8, 8, 8, 8, 3, 10, all, 1, r));
    EXPECT_FALSE(BuildIntraRefSamples(IntraPlane{}, 8, 8, 8, 8, 0, 10, all, 1, r));
}

TEST(VvcIntraRefs, FarReferenceLine)
{
    TestPlane plane(32, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            plane.at(x, y) = uint16_t(x + 32 * y);
    IntraRefSamples r;
    ASSERT_TRUE(BuildIntraRefSamples(plane.view(), 8, 8, 8, 8, 2, 10, nullptr, 1, r));
    // left[k] = p[-3][-3 + k], top[k] = p[-3 + k][-3] relative to (8, 8).
    EXPECT_EQ(r.left[0], 5 + 32 * 5);
    EXPECT_EQ(r.left[10], 5 + 32 * 15);
    EXPECT_EQ(r.top[10], 15 + 32 * 5);
}

TEST(VvcIntraRefs, OneTwoOneFilter)
{
    // corner 40; top 0 80 0 80; left 120 0 120 0.
    IntraRefSamples r = Refs(
        4, 4, 40, [](int x) { return x % 2 ? 80 : 0; }, [](int y) { return y % 2 ? 0 : 120; });
    FilterIntraRefSamples(r);
    EXPECT_EQ(r.left[0], 50);
    EXPECT_EQ(r.top[0], 50);
    int const top[5] = {50, 30, 40, 40, 80}, left[5] = {50, 70, 60, 60, 0};
    for (int k = 1; k < 5; ++k) {
        EXPECT_EQ(r.top[k], top[k]) << k;
        EXPECT_EQ(r.left[k], left[k]) << k;
    }
    // Far reference lines are never filtered.
    IntraRefSamples far = Refs(
        4, 4, 40, [](int x) { return x % 2 ? 80 : 0; }, [](int) { return 0; });
    far.refIdx = 1;
    FilterIntraRefSamples(far);
    EXPECT_EQ(far.top[1], 0);
}

TEST(VvcIntraRefs, FilterConditions)
{
    struct Case
    {
        int mode, w, h, cIdx, refIdx;
        bool isp, smoothingOff, expected;
    } const cases[] = {
        {INTRA_PLANAR, 8, 8, 0, 0, false, false, true},
        {INTRA_PLANAR, 4, 8, 0, 0, false, false, false}, // 32 samples: too small
        {INTRA_PLANAR, 8, 8, 1, 0, false, false, false}, // chroma
        {INTRA_PLANAR, 8, 8, 0, 0, true, false, false},  // ISP
        {INTRA_PLANAR, 8, 8, 0, 0, false, true, false},  // smoothing switched off
        {INTRA_DC, 16, 16, 0, 0, false, false, false},
        {2, 8, 8, 0, 0, false, false, true},
        {34, 32, 32, 0, 0, false, false, true},
        {66, 16, 16, 0, 0, false, false, true},
        {66, 16, 16, 0, 1, false, false, false}, // MRL
        {3, 8, 8, 0, 0, false, false, false},    // fractional slope
        {50, 8, 8, 0, 0, false, false, false},
        {2, 16, 8, 0, 0, false, false, false},  // becomes 67 (angle 35)
        {7, 32, 8, 0, 0, false, false, true},   // becomes 72 (angle 64)
        {66, 8, 16, 0, 0, false, false, false}, // becomes -1 (angle 35)
        {61, 8, 16, 0, 0, false, false, true},  // becomes -6 (angle 64)
    };
    for (auto const& c : cases) {
        IntraPredParams p = Params(c.mode, c.w, c.h, c.cIdx);
        p.refIdx = c.refIdx;
        p.isp = c.isp;
        p.smoothingDisabled = c.smoothingOff;
        EXPECT_EQ(IntraRefFilterApplies(p), c.expected) << c.mode << " " << c.w << "x" << c.h;
    }
}

// ---------------------------------------------------------------------------------------------
// Mode tables

TEST(VvcIntraModes, WideAngleMapping)
{
    struct Case
    {
        int mode, w, h, mapped;
    } const cases[] = {
        {2, 8, 8, 2},
        {66, 8, 8, 66},
        {INTRA_PLANAR, 16, 4, INTRA_PLANAR},
        {INTRA_DC, 4, 16, INTRA_DC},
        {2, 8, 4, 67},
        {7, 8, 4, 72},
        {8, 8, 4, 8},
        {66, 8, 4, 66},
        {2, 16, 4, 67},
        {11, 16, 4, 76},
        {12, 16, 4, 12},
        {15, 64, 4, 80},
        {16, 64, 4, 16},
        {66, 4, 8, -1},
        {61, 4, 8, -6},
        {60, 4, 8, 60},
        {2, 4, 8, 2},
        {57, 4, 16, -10},
        {56, 4, 16, 56},
        {53, 4, 64, -14},
        {52, 4, 64, 52},
    };
    for (auto const& c : cases)
        EXPECT_EQ(MapWideAngleMode(c.mode, c.w, c.h), c.mapped) << c.mode << " " << c.w << "x" << c.h;
}

TEST(VvcIntraModes, AngleTables)
{
    struct Case
    {
        int mode, angle, invAngle;
    } const cases[] = {
        {-14, 512, 32},   {-1, 35, 468},   {2, 32, 512},     {3, 29, 565},     {17, 1, 16384}, {18, 0, 0},
        {19, -1, -16384}, {34, -32, -512}, {40, -16, -1024}, {42, -12, -1365}, {50, 0, 0},     {51, 1, 16384},
        {66, 32, 512},    {67, 35, 468},   {73, 73, 224},    {74, 86, 191},    {80, 512, 32},  {INTRA_DC, 0, 0},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(IntraPredAngle(c.mode), c.angle) << c.mode;
        EXPECT_EQ(IntraInvAngle(c.mode), c.invAngle) << c.mode;
    }
    // Both interpolation filters keep the signal level at every phase.
    for (int ph = 0; ph < 32; ++ph) {
        int sc = 0, sg = 0;
        for (int i = 0; i < 4; ++i) {
            sc += IntraFilterC(ph)[i];
            sg += IntraFilterG(ph)[i];
        }
        EXPECT_EQ(sc, 64) << ph;
        EXPECT_EQ(sg, 64) << ph;
    }
    EXPECT_EQ(IntraFilterC(16)[1], 36);
    EXPECT_EQ(IntraFilterG(0)[0], 16);
}

TEST(VvcIntraModes, PdpcConditions)
{
    struct Case
    {
        int mode, w, h, cIdx, refIdx;
        bool bdpcm, expected;
    } const cases[] = {
        {INTRA_PLANAR, 4, 4, 0, 0, false, true},
        {INTRA_DC, 32, 8, 0, 0, false, true},
        {18, 8, 8, 0, 0, false, true},
        {50, 8, 8, 0, 0, false, true},
        {2, 8, 8, 0, 0, false, true},
        {66, 8, 8, 0, 0, false, true},
        {30, 8, 8, 0, 0, false, false},
        {34, 8, 8, 0, 0, false, false},
        {49, 8, 8, 0, 0, false, false},
        {19, 8, 8, 0, 0, false, false},
        {66, 8, 8, 0, 1, false, false},
        {INTRA_DC, 8, 8, 0, 2, false, false},
        {INTRA_PLANAR, 16, 2, 0, 0, false, false},
        {50, 8, 8, 0, 0, true, false},
        {66, 4, 4, 1, 0, false, true},
        // Chroma blocks 2 high (from dual-tree chroma splits) have no PDPC either.
        {INTRA_PLANAR, 8, 2, 1, 0, false, false},
        {INTRA_DC, 16, 2, 2, 0, false, false},
        {50, 8, 2, 1, 0, false, false},
        {18, 2, 8, 1, 0, false, false},
        {61, 4, 8, 0, 0, false, true}, // becomes -6
    };
    for (auto const& c : cases) {
        IntraPredParams p = Params(c.mode, c.w, c.h, c.cIdx);
        p.refIdx = c.refIdx;
        p.bdpcm = c.bdpcm;
        EXPECT_EQ(IntraPdpcApplies(p), c.expected) << c.mode << " " << c.w << "x" << c.h;
    }
}

// ---------------------------------------------------------------------------------------------
// Planar, DC, angular

TEST(VvcIntraPredict, PlanarWithPdpc)
{
    // Top 100, left 200 (also beyond the block).
    IntraRefSamples r = Refs(
        8, 8, 150, [](int) { return 100; }, [](int) { return 200; });
    Block b(4, 4);
    ASSERT_TRUE(PredictIntraFromRefs(Params(INTRA_PLANAR, 4, 4), r, b.ptr(), 4));
    EXPECT_EQ(b(0, 0), 150);
    EXPECT_EQ(b(1, 0), 127);
    EXPECT_EQ(b(3, 0), 107);
    EXPECT_EQ(b(3, 3), 150); // PDPC weights are 0 here

    // A flat neighbourhood predicts flat.
    IntraRefSamples flat = Refs(
        32, 16, 333, [](int) { return 333; }, [](int) { return 333; });
    Block f(16, 8);
    ASSERT_TRUE(PredictIntraFromRefs(Params(INTRA_PLANAR, 16, 8), flat, f.ptr(), 16));
    for (int v : f.s)
        EXPECT_EQ(v, 333);
}

TEST(VvcIntraPredict, DcAveragesTheLongerSide)
{
    // Top 10, 20, ..., left 1000.
    IntraRefSamples r = Refs(
        16, 16, 0, [](int x) { return 10 * (x + 1); }, [](int) { return 1000; });
    Block wide(8, 4);
    ASSERT_TRUE(PredictIntraFromRefs(Params(INTRA_DC, 8, 4), r, wide.ptr(), 8));
    EXPECT_EQ(wide(4, 3), (360 + 4) >> 3); // top only; PDPC weights are 0 at (4, 3)
    Block tall(4, 8);
    ASSERT_TRUE(PredictIntraFromRefs(Params(INTRA_DC, 4, 8), r, tall.ptr(), 4));
    EXPECT_EQ(tall(3, 4), 1000); // left only
    Block square(4, 4);
    ASSERT_TRUE(PredictIntraFromRefs(Params(INTRA_DC, 4, 4), r, square.ptr(), 4));
    EXPECT_EQ(square(3, 3), (100 + 4000 + 4) >> 3);
    // PDPC at the corner of the square block: (1000 * 32 + 10 * 32 + 0 * dc + 32) >> 6.
    EXPECT_EQ(square(0, 0), (32000 + 320 + 32) >> 6);
}

TEST(VvcIntraPredict, DcOnAFarReferenceLine)
{
    TestPlane plane(32, 32, 100);
    for (int k = 0; k < 16; ++k) {
        plane.at(8 + k - 3, 5) = 300; // line 2 above the block at (8, 8)
        plane.at(5, 8 + k - 3) = 300; // line 2 left of it
    }
    IntraPredParams p = Params(INTRA_DC, 4, 4);
    Block near(4, 4), far(4, 4);
    ASSERT_TRUE(PredictIntra(p, plane.view(), 8, 8, nullptr, 1, near.ptr(), 4));
    p.refIdx = 2;
    ASSERT_TRUE(PredictIntra(p, plane.view(), 8, 8, nullptr, 1, far.ptr(), 4));
    for (int v : near.s)
        EXPECT_EQ(v, 100);
    for (int v : far.s)
        EXPECT_EQ(v, 300);          // no PDPC on far lines
    p.predModeIntra = INTRA_PLANAR; // planar has no far lines
    EXPECT_FALSE(PredictIntra(p, plane.view(), 8, 8, nullptr, 1, far.ptr(), 4));
}

TEST(VvcIntraPredict, PureHorizontalAndVerticalCopyTheReferences)
{
    auto top = [](int x) { return 100 * (x + 1); };
    auto left = [](int y) { return 60 + 10 * y; };
    IntraRefSamples r = Refs(8, 8, 50, top, left);
    // BDPCM blocks: a plain copy.
    for (int mode : {INTRA_ANGULAR18, INTRA_ANGULAR50}) {
        IntraPredParams p = Params(mode, 4, 4);
        p.bdpcm = true;
        Block b(4, 4);
        ASSERT_TRUE(PredictIntraFromRefs(p, r, b.ptr(), 4));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(b(x, y), mode == INTRA_ANGULAR50 ? top(x) : left(y)) << mode << " " << x << "," << y;
    }
    // With PDPC the left gradient p[-1][y] - p[-1][-1] is blended in near the left edge.
    Block v(4, 4);
    ASSERT_TRUE(PredictIntraFromRefs(Params(INTRA_ANGULAR50, 4, 4), r, v.ptr(), 4));
    EXPECT_EQ(v(0, 0), (110 * 32 + 32 * 100 + 32) >> 6);
    EXPECT_EQ(v(1, 0), (210 * 8 + 56 * 200 + 32) >> 6);
    EXPECT_EQ(v(3, 0), 400);
    EXPECT_EQ(v(3, 3), 400);
    // A flat left side adds nothing: a straight copy of the top row, also for 64x64.
    IntraRefSamples flatLeft = Refs(
        128, 128, 50, [](int x) { return 3 * x; }, [](int) { return 50; });
    Block big(64, 64);
    ASSERT_TRUE(PredictIntraFromRefs(Params(INTRA_ANGULAR50, 64, 64), flatLeft, big.ptr(), 64));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(big(x, y), 3 * x) << x << "," << y;
}

TEST(VvcIntraPredict, DiagonalModesCopyAlongTheDiagonal)
{
    // Symmetric references make the diagonal PDPC blend neutral.
    auto ramp = [](int k) { return 7 * k + 20; };
    IntraRefSamples r = Refs(16, 16, 13, ramp, ramp);
    for (int cIdx : {0, 1}) {
        for (int mode : {2, 66}) {
            Block b(8, 8);
            IntraPredParams p = Params(mode, 8, 8, cIdx);
            IntraRefSamples rr = r;
            if (IntraRefFilterApplies(p))
                continue; // luma 8x8 would be filtered; covered through chroma and 4x4
            ASSERT_TRUE(PredictIntraFromRefs(p, rr, b.ptr(), 8));
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    ASSERT_EQ(b(x, y), ramp(x + y + 1)) << mode << " " << x << "," << y;
        }
        Block b4(4, 4);
        for (int mode : {2, 66}) {
            ASSERT_TRUE(PredictIntraFromRefs(Params(mode, 4, 4, cIdx), r, b4.ptr(), 4));
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    ASSERT_EQ(b4(x, y), ramp(x + y + 1)) << mode << " " << x << "," << y;
        }
    }
    // Mode 34 runs from the top-left corner: top row right of the diagonal, left column below it.
    auto top = [](int x) { return 500 + x; };
    auto left = [](int y) { return 100 + y; };
    IntraRefSamples d = Refs(16, 16, 77, top, left);
    Block b(8, 8);
    ASSERT_TRUE(PredictIntraFromRefs(Params(34, 8, 8, 1), d, b.ptr(), 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int const want = x == y ? 77 : (x > y ? top(x - y - 1) : left(y - x - 1));
            ASSERT_EQ(b(x, y), want) << x << "," << y;
        }
    // A far reference line: mode 66 from line 1 is p[x + y + 2][-2], the row padded with its last
    // sample p[refW - 1][-2] beyond.
    IntraRefSamples far = Refs(
        8, 8, 0, [](int) { return 0; }, [](int) { return 0; });
    far.refIdx = 1;
    for (int k = 0; k <= 9; ++k)
        far.top[k] = uint16_t(30 * k); // top[k] = p[-2 + k][-2]
    IntraPredParams p = Params(66, 4, 4);
    p.refIdx = 1;
    Block m(4, 4);
    ASSERT_TRUE(PredictIntraFromRefs(p, far, m.ptr(), 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(m(x, y), 30 * std::min(x + y + 4, 9)) << x << "," << y;
}

TEST(VvcIntraPredict, DiagonalPdpcBlendsTheOppositeSide)
{
    // Mode 66 of a 4x4 block: top 100, left 500; weights 32, 8, 2, 0 across the columns.
    IntraRefSamples r = Refs(
        8, 8, 100, [](int) { return 100; }, [](int) { return 500; });
    Block b(4, 4);
    ASSERT_TRUE(PredictIntraFromRefs(Params(66, 4, 4), r, b.ptr(), 4));
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(b(0, y), 300) << y;
        EXPECT_EQ(b(1, y), 150) << y;
        EXPECT_EQ(b(2, y), 113) << y;
        EXPECT_EQ(b(3, y), 100) << y;
    }
}

TEST(VvcIntraPredict, InterpolationFilterChoice)
{
    // Mode 61 (angle 18): the first row samples ref[x..x+3] at phase 18. An impulse at p[7][-1]
    // shows the filter: gaussian taps 25/23, cubic 42/30, chroma linear 18/14 (of 32).
    IntraRefSamples r = Refs(
        32, 32, 0, [](int x) { return x == 7 ? 640 : 0; }, [](int) { return 0; });
    struct Case
    {
        int w, cIdx;
        bool isp, smoothingOff;
        int at6, at7;
    } const cases[] = {
        {16, 0, false, false, 250, 230}, // far from vertical for 16x16: gaussian
        {8, 0, false, false, 420, 300},  // 8x8: threshold not exceeded, cubic
        {16, 0, true, false, 420, 300},  // ISP: cubic
        {16, 0, false, true, 420, 300},  // smoothing switched off: cubic
        {8, 1, false, false, 360, 280},  // chroma: linear
    };
    for (auto const& c : cases) {
        IntraPredParams p = Params(61, c.w, c.w, c.cIdx);
        p.isp = c.isp;
        p.smoothingDisabled = c.smoothingOff;
        Block b(c.w, c.w);
        ASSERT_TRUE(PredictIntraFromRefs(p, r, b.ptr(), c.w));
        EXPECT_EQ(b(6, 0), c.at6) << c.w << " " << c.cIdx << " " << c.isp;
        EXPECT_EQ(b(7, 0), c.at7) << c.w << " " << c.cIdx << " " << c.isp;
    }
}

TEST(VvcIntraPredict, NegativeAngleExtendsTheMainReference)
{
    // Mode 42 (angle -12, invAngle -1365), chroma 4x4: row 3 starts between ref[-1] = p[-1][2] and
    // the corner at phase 16.
    IntraRefSamples r = Refs(
        8, 8, 100, [](int) { return 900; }, [](int y) { return y == 2 ? 300 : 0; });
    Block b(4, 4);
    ASSERT_TRUE(PredictIntraFromRefs(Params(42, 4, 4, 1), r, b.ptr(), 4));
    EXPECT_EQ(b(0, 3), (16 * 300 + 16 * 100 + 16) >> 5);
}

TEST(VvcIntraPredict, WideAnglesAndIspShapes)
{
    // Flat references predict flat for every mode and shape, including wide angles (64x4, 4x64 at
    // ratio 16) and ISP lines (1xN, Nx1) with their longer references.
    struct Shape
    {
        int w, h, cbW, cbH;
        bool isp;
    } const shapes[] = {{64, 4, 64, 4, false}, {4, 64, 4, 64, false}, {16, 4, 16, 4, false}, {1, 16, 4, 16, true},
                        {16, 1, 16, 4, true},  {2, 8, 4, 8, true},    {64, 1, 64, 4, true},  {16, 16, 64, 16, true}};
    for (auto const& s : shapes) {
        for (int mode = 0; mode <= 66; ++mode) {
            IntraPredParams p = Params(mode, s.w, s.h);
            p.nCbW = s.cbW;
            p.nCbH = s.cbH;
            p.isp = s.isp;
            int refW, refH;
            IntraRefSize(p, refW, refH);
            IntraRefSamples r = Refs(
                refW, refH, 777, [](int) { return 777; }, [](int) { return 777; });
            Block b(s.w, s.h);
            ASSERT_TRUE(PredictIntraFromRefs(p, r, b.ptr(), s.w)) << mode << " " << s.w << "x" << s.h;
            for (int v : b.s)
                ASSERT_EQ(v, 777) << mode << " " << s.w << "x" << s.h;
        }
    }
    // References shorter than the block needs are refused.
    IntraRefSamples shortRefs = Refs(
        8, 8, 0, [](int) { return 0; }, [](int) { return 0; });
    Block b(8, 8);
    EXPECT_FALSE(PredictIntraFromRefs(Params(66, 8, 8), shortRefs, b.ptr(), 8));
    EXPECT_FALSE(PredictIntraFromRefs(Params(67, 4, 4), shortRefs, b.ptr(), 4));
    EXPECT_FALSE(PredictIntraFromRefs(Params(2, 3, 4), shortRefs, b.ptr(), 4));
}

TEST(VvcIntraPredict, StaysInRangeAtEightAndTenBits)
{
    // Alternating extremes overshoot the cubic taps the most; every mode, size and reference line
    // must stay within the sample range of the bit depth.
    int const sizes[][2] = {{4, 4},  {8, 8},  {16, 16}, {32, 32}, {64, 64}, {4, 16},
                            {16, 4}, {8, 32}, {32, 8},  {64, 4},  {4, 64},  {64, 8}};
    for (int bd : {8, 10}) {
        for (int pattern = 0; pattern < 3; ++pattern) {
            int const maxV = (1 << bd) - 1;
            for (auto const& sz : sizes) {
                int const w = sz[0], h = sz[1];
                for (int refIdx = 0; refIdx <= 2; ++refIdx) {
                    IntraRefSamples r;
                    r.refIdx = refIdx;
                    r.refW = 2 * w;
                    r.refH = 2 * h;
                    for (int k = 0; k < kIntraMaxRefLen + 4; ++k) {
                        int const v = pattern == 0 ? maxV : pattern == 1 ? (k % 2 ? maxV : 0) : Rand(maxV + 1);
                        r.left[k] = uint16_t(v);
                        r.top[k] = uint16_t(pattern == 1 ? maxV - v : (pattern == 2 ? Rand(maxV + 1) : v));
                    }
                    r.top[0] = r.left[0];
                    for (int cIdx = 0; cIdx <= 1; ++cIdx) {
                        if (cIdx == 1 && refIdx != 0)
                            continue;
                        for (int mode = 0; mode <= 66; ++mode) {
                            if (refIdx != 0 && mode == INTRA_PLANAR)
                                continue;
                            IntraPredParams p = Params(mode, w, h, cIdx);
                            p.bitDepth = bd;
                            p.refIdx = refIdx;
                            IntraRefSamples rr = r;
                            if (IntraRefFilterApplies(p))
                                FilterIntraRefSamples(rr);
                            Block b(w, h);
                            ASSERT_TRUE(PredictIntraFromRefs(p, rr, b.ptr(), w));
                            for (int v : b.s) {
                                ASSERT_LE(v, maxV) << mode << " " << w << "x" << h << " ref " << refIdx;
                                if (pattern == 0) {
                                    ASSERT_EQ(v, maxV);
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Matrix-based intra prediction

TEST(VvcMip, SizeIdsAndModes)
{
    EXPECT_EQ(MipSizeId(4, 4), 0);
    EXPECT_EQ(MipSizeId(4, 8), 1);
    EXPECT_EQ(MipSizeId(16, 4), 1);
    EXPECT_EQ(MipSizeId(8, 8), 1);
    EXPECT_EQ(MipSizeId(8, 16), 2);
    EXPECT_EQ(MipSizeId(64, 64), 2);
    EXPECT_EQ(MipNumModes(0), 16);
    EXPECT_EQ(MipNumModes(1), 8);
    EXPECT_EQ(MipNumModes(2), 6);
    uint16_t ref[64] = {};
    uint16_t dst[64 * 64];
    EXPECT_FALSE(PredictMip(4, 4, 16, false, 10, ref, ref, dst, 4));
    EXPECT_FALSE(PredictMip(8, 8, 8, false, 10, ref, ref, dst, 8));
    EXPECT_FALSE(PredictMip(16, 16, 6, false, 10, ref, ref, dst, 16));
    EXPECT_FALSE(PredictMip(2, 16, 0, false, 10, ref, ref, dst, 16));
}

TEST(VvcMip, FlatBoundaryGivesFlatBlock)
{
    // The larger sizes predict any flat boundary flat; all sizes predict mid-grey flat.
    int const sizes[][2] = {{4, 4}, {8, 8}, {4, 16}, {16, 4}, {8, 16}, {16, 16}, {32, 8}, {64, 64}, {4, 64}};
    for (auto const& sz : sizes) {
        int const w = sz[0], h = sz[1];
        int const sizeId = MipSizeId(w, h);
        for (int value : {512, 17, 1000}) {
            if (sizeId != 2 && value != 512)
                continue;
            std::vector<uint16_t> refT(static_cast<size_t>(w), uint16_t(value)),
                refL(static_cast<size_t>(h), uint16_t(value));
            for (int mode = 0; mode < MipNumModes(sizeId); ++mode)
                for (bool transposed : {false, true}) {
                    Block b(w, h);
                    ASSERT_TRUE(PredictMip(w, h, mode, transposed, 10, refT.data(), refL.data(), b.ptr(), w));
                    for (int v : b.s)
                        ASSERT_EQ(v, value) << w << "x" << h << " mode " << mode << " t " << transposed;
                }
        }
    }
}

TEST(VvcMip, MatrixProductOfAKnownCase)
{
    // 4x4, mode 0: top 512, left 576 gives p = {0, 0, 64, 64}; each output is 512 plus
    // (w2 + w3 - 64) of its weight row ({32,30,90,28}, {51,124,36,37}, {34,29,14,111}, {89,97,0,64}).
    uint16_t refT[4] = {512, 512, 512, 512}, refL[4] = {576, 576, 576, 576};
    Block b(4, 4);
    ASSERT_TRUE(PredictMip(4, 4, 0, false, 10, refT, refL, b.ptr(), 4));
    EXPECT_EQ(b(0, 0), 566);
    EXPECT_EQ(b(3, 0), 521);
    EXPECT_EQ(b(0, 3), 573);
    EXPECT_EQ(b(3, 3), 512);
    // Transposed: p = {-64, 0, -64, -64} around 576, output transposed back:
    // 576 + 96 - w0 - w2 - w3 of each row.
    ASSERT_TRUE(PredictMip(4, 4, 0, true, 10, refT, refL, b.ptr(), 4));
    EXPECT_EQ(b(0, 0), 576 + 96 - 32 - 90 - 28);
    EXPECT_EQ(b(0, 3), 576 + 96 - 51 - 36 - 37);
    EXPECT_EQ(b(3, 0), 576 + 96 - 34 - 14 - 111);
}

TEST(VvcMip, UpsamplingUsesTheFullResolutionBoundary)
{
    // 8x8: the top boundary alternates around 512, so the reduced input is flat 512; the first
    // row is interpolated against the full-resolution top samples, the rest stays 512.
    uint16_t refT[8], refL[8];
    for (int i = 0; i < 8; ++i) {
        refT[i] = uint16_t(i % 2 ? 524 : 500);
        refL[i] = 512;
    }
    for (int mode = 0; mode < 8; ++mode) {
        Block b(8, 8);
        ASSERT_TRUE(PredictMip(8, 8, mode, false, 10, refT, refL, b.ptr(), 8));
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(b(x, 0), x % 2 ? 518 : 506) << mode << " " << x;
            for (int y = 1; y < 8; ++y)
                EXPECT_EQ(b(x, y), 512) << mode << " " << x << "," << y;
        }
    }
    // The same on the left for the horizontal pass: (refL[y] + 512 + 1) >> 1 at x = 0 of the odd rows.
    for (int i = 0; i < 8; ++i) {
        refT[i] = 512;
        refL[i] = uint16_t(i % 2 ? 524 : 500);
    }
    Block b(8, 8);
    ASSERT_TRUE(PredictMip(8, 8, 0, false, 10, refT, refL, b.ptr(), 8));
    EXPECT_EQ(b(0, 1), 518);
    EXPECT_EQ(b(0, 3), 518);
    EXPECT_EQ(b(1, 1), 512);
}

TEST(VvcMip, StaysInRangeAtTenBits)
{
    int const sizes[][2] = {{4, 4}, {8, 8}, {4, 16}, {16, 4}, {8, 16}, {16, 16}, {32, 32}, {64, 8}, {64, 64}};
    for (int pattern = 0; pattern < 3; ++pattern)
        for (auto const& sz : sizes) {
            int const w = sz[0], h = sz[1];
            std::vector<uint16_t> refT(static_cast<size_t>(w)), refL(static_cast<size_t>(h));
            for (int i = 0; i < w; ++i)
                refT[i] = uint16_t(pattern == 0 ? 1023 : pattern == 1 ? (i < w / 2 ? 0 : 1023) : Rand(1024));
            for (int i = 0; i < h; ++i)
                refL[i] = uint16_t(pattern == 0 ? 1023 : pattern == 1 ? (i < h / 2 ? 1023 : 0) : Rand(1024));
            for (int mode = 0; mode < MipNumModes(MipSizeId(w, h)); ++mode)
                for (bool transposed : {false, true}) {
                    Block b(w, h);
                    ASSERT_TRUE(PredictMip(w, h, mode, transposed, 10, refT.data(), refL.data(), b.ptr(), w));
                    for (int v : b.s)
                        ASSERT_LE(v, 1023);
                }
        }
}

TEST(VvcMip, WholeBlockFromThePicture)
{
    TestPlane plane(32, 32, 640);
    Block b(16, 16);
    ASSERT_TRUE(PredictMipBlock(plane.view(), 8, 8, 16, 16, 3, true, 10, nullptr, 1, b.ptr(), 16));
    for (int v : b.s)
        EXPECT_EQ(v, 640);
    // Nothing available: mid-grey references.
    ASSERT_TRUE(PredictMipBlock(plane.view(), 0, 0, 16, 16, 3, false, 10, nullptr, 1, b.ptr(), 16));
    for (int v : b.s)
        EXPECT_EQ(v, 512);
}

// ---------------------------------------------------------------------------------------------
// Cross-component linear model

namespace {

// Luma L(x, y) = 4x + 8y + 100 is linear, so every 4:2:0 down-sampling filter gives its value at
// the filter centre exactly; chroma is half of that plus 20.
struct CclmFixture
{
    TestPlane luma{64, 64}, chroma{32, 32};
    explicit CclmFixture(bool collocated)
    {
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                luma.at(x, y) = uint16_t(4 * x + 8 * y + 100);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                chroma.at(x, y) = uint16_t(Expected(x, y, collocated));
    }
    // Down-sampled luma at chroma (x, y): the filter centre is (2x, 2y + 0.5) or, collocated, (2x, 2y).
    static int Expected(int x, int y, bool collocated) { return (8 * x + 16 * y + (collocated ? 100 : 104)) / 2 + 20; }
};

} // namespace

TEST(VvcCclm, DerivesTheModel)
{
    // Slope 1/2, offset 20, from four pairs and from two.
    int const y4[4] = {104, 136, 128, 192}, c4[4] = {72, 88, 84, 116};
    CclmModel m = DeriveCclmModel(y4, c4, 4);
    EXPECT_EQ(m.a, 8);
    EXPECT_EQ(m.k, 4);
    EXPECT_EQ(m.b, 20);
    int const y2[4] = {100, 300, 0, 0}, c2[4] = {70, 170, 0, 0};
    m = DeriveCclmModel(y2, c2, 2);
    EXPECT_EQ((300 * m.a) >> m.k, 150);
    EXPECT_EQ(m.b + ((100 * m.a) >> m.k), 70);
    // Equal luma: flat at the chroma minimum.
    int const yf[4] = {50, 50, 50, 50}, cf[4] = {10, 30, 20, 40};
    m = DeriveCclmModel(yf, cf, 4);
    EXPECT_EQ(m.a, 0);
    EXPECT_EQ(m.b, 15); // average of the chroma of the two "smaller" samples
    // A steep negative slope is capped.
    int const ys[4] = {10, 11, 10, 11}, cs[4] = {1000, 0, 1000, 0};
    m = DeriveCclmModel(ys, cs, 4);
    EXPECT_EQ(m.a, -15);
    EXPECT_EQ(m.k, 1);
}

TEST(VvcCclm, RecoversALinearRelation)
{
    for (bool collocated : {false, true}) {
        CclmFixture f(collocated);
        for (int mode : {INTRA_LT_CCLM, INTRA_L_CCLM, INTRA_T_CCLM}) {
            CclmParams p;
            p.predModeIntra = mode;
            p.xTbC = 8;
            p.yTbC = 8;
            p.nTbW = 8;
            p.nTbH = 8;
            p.verticalCollocated = collocated;
            p.ctbSizeY = 128;
            Block b(8, 8);
            ASSERT_TRUE(PredictCclm(p, f.luma.view(), f.chroma.view(), nullptr, b.ptr(), 8));
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    ASSERT_EQ(b(x, y), CclmFixture::Expected(8 + x, 8 + y, collocated))
                        << mode << " collocated " << collocated << " at " << x << "," << y;
        }
    }
}

TEST(VvcCclm, AvailabilityOfTheNeighbours)
{
    CclmFixture f(false);
    CclmParams p;
    p.xTbC = 8;
    p.yTbC = 8;
    p.nTbW = 8;
    p.nTbH = 4;
    p.ctbSizeY = 128;
    Block b(8, 4);
    // Only the top row available (left and below-left not decoded): LM and LM-T still recover the
    // relation from the top; LM-L has nothing and predicts mid-grey.
    auto topOnly = [](int x, int y) { return y < 8 && x >= 8; };
    for (int mode : {INTRA_LT_CCLM, INTRA_T_CCLM, INTRA_L_CCLM}) {
        p.predModeIntra = mode;
        ASSERT_TRUE(PredictCclm(p, f.luma.view(), f.chroma.view(), topOnly, b.ptr(), 8));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(b(x, y), mode == INTRA_L_CCLM ? 512 : CclmFixture::Expected(8 + x, 8 + y, false))
                    << mode << " " << x << "," << y;
    }
    // The picture's corner block has no neighbours at all.
    p.xTbC = p.yTbC = 0;
    p.predModeIntra = INTRA_LT_CCLM;
    ASSERT_TRUE(PredictCclm(p, f.luma.view(), f.chroma.view(), nullptr, b.ptr(), 8));
    for (int v : b.s)
        EXPECT_EQ(v, 512);
    // Out of range parameters are refused.
    p.predModeIntra = INTRA_DC;
    EXPECT_FALSE(PredictCclm(p, f.luma.view(), f.chroma.view(), nullptr, b.ptr(), 8));
    p.predModeIntra = INTRA_LT_CCLM;
    p.xTbC = 28;
    EXPECT_FALSE(PredictCclm(p, f.luma.view(), f.chroma.view(), nullptr, b.ptr(), 8));
}

TEST(VvcCclm, TopOfTheCtuUsesOneLumaRow)
{
    // At a CTU's top row only the luma row directly above is read: the rows further up may hold
    // anything. The model then comes from (L(2x - 1, -1) + 2 L(2x, -1) + L(2x + 1, -1)) / 4 for the
    // top and the usual 6-tap on the left.
    CclmFixture f(false);
    CclmFixture g(false);
    for (int x = 0; x < 64; ++x) {
        g.luma.at(x, 13) = 1023; // two and three rows above the block at luma y 16
        g.luma.at(x, 14) = 0;
    }
    CclmParams p;
    p.predModeIntra = INTRA_T_CCLM;
    p.xTbC = 8;
    p.yTbC = 8;
    p.nTbW = 8;
    p.nTbH = 8;
    p.ctbSizeY = 16;
    Block a(8, 8), b(8, 8);
    ASSERT_TRUE(PredictCclm(p, f.luma.view(), f.chroma.view(), nullptr, a.ptr(), 8));
    ASSERT_TRUE(PredictCclm(p, g.luma.view(), g.chroma.view(), nullptr, b.ptr(), 8));
    EXPECT_EQ(a.s, b.s);
    // Away from the CTU top those rows matter.
    p.ctbSizeY = 128;
    ASSERT_TRUE(PredictCclm(p, g.luma.view(), g.chroma.view(), nullptr, b.ptr(), 8));
    EXPECT_NE(a.s, b.s);
}

TEST(VvcCclm, StaysInRangeAtTenBits)
{
    TestPlane luma(128, 128), chroma(64, 64);
    for (int pattern = 0; pattern < 3; ++pattern) {
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                luma.at(x, y) = uint16_t(pattern == 0 ? 1023 : pattern == 1 ? ((x + y) % 2) * 1023 : Rand(1024));
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                chroma.at(x, y) = uint16_t(pattern == 0 ? 1023 : pattern == 1 ? ((x / 2 + y) % 2) * 1023 : Rand(1024));
        for (int mode : {INTRA_LT_CCLM, INTRA_L_CCLM, INTRA_T_CCLM})
            for (bool collocated : {false, true})
                for (int size : {4, 8, 16, 32}) {
                    CclmParams p;
                    p.predModeIntra = mode;
                    p.xTbC = 64 - size;
                    p.yTbC = 64 - size;
                    p.nTbW = size;
                    p.nTbH = size;
                    p.verticalCollocated = collocated;
                    Block b(size, size);
                    ASSERT_TRUE(PredictCclm(p, luma.view(), chroma.view(), nullptr, b.ptr(), size));
                    for (int v : b.s) {
                        ASSERT_LE(v, 1023);
                        if (pattern == 0) {
                            ASSERT_EQ(v, 1023);
                        }
                    }
                }
    }
}
