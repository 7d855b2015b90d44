// Deblocking filter of the VVC layer: the beta / tC tables, the luma and chroma edge decisions and
// filters on hand-computed step edges, edges left alone, the order of the two passes, and the
// bounds of whatever an edge map asks for.

#include "loopfilter/Deblock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace vvcdeblock;

namespace {

// A picture with its edge map; every unit has QP 37 unless a test says otherwise. At 10 bits and
// bS 2 that gives tC 21 and beta 144.
struct Pic
{
    DeblockMap map;
    std::vector<uint16_t> plane[3];
    DeblockPlane planes[3];
    int cw = 0, ch = 0;

    Pic(int w, int h, int chromaFormatIdc = 1, int bitDepth = 10, int ctbSize = 128)
    {
        map.reset(w, h);
        map.chromaFormatIdc = chromaFormatIdc;
        map.bitDepthY = map.bitDepthC = bitDepth;
        map.ctbSizeY = ctbSize;
        for (BlockUnit& u : map.units)
            u.qp[0] = u.qp[1] = u.qp[2] = 37;
        int const sw = chromaFormatIdc == 1 || chromaFormatIdc == 2 ? 2 : 1, sh = chromaFormatIdc == 1 ? 2 : 1;
        cw = (w + sw - 1) / sw;
        ch = (h + sh - 1) / sh;
        for (int c = 0; c < 3; ++c) {
            int const pw = c ? cw : w, ph = c ? ch : h;
            if (c && chromaFormatIdc == 0)
                continue;
            plane[c].assign(size_t(pw) * size_t(ph), 512);
            planes[c] = DeblockPlane{plane[c].data(), pw, pw, ph};
        }
    }
    uint16_t& at(int c, int x, int y) { return plane[c][size_t(y) * size_t(planes[c].width) + size_t(x)]; }
    void fill(int c, std::function<int(int, int)> const& f)
    {
        for (int y = 0; y < planes[c].height; ++y)
            for (int x = 0; x < planes[c].width; ++x)
                at(c, x, y) = uint16_t(f(x, y));
    }
    // Marks the luma edge segments of a whole vertical edge at x (or horizontal edge at y).
    void lumaEdge(EdgeDir dir, int pos, int bS, int lenP, int lenQ)
    {
        int const n = dir == kEdgeVer ? map.unitsH() : map.unitsW();
        for (int i = 0; i < n; ++i) {
            EdgeSegment& e = dir == kEdgeVer ? map.edge(dir, pos / 4, i) : map.edge(dir, i, pos / 4);
            e.bs[0] = uint8_t(bS);
            e.maxLenP = uint8_t(lenP);
            e.maxLenQ = uint8_t(lenQ);
        }
    }
    // The same for chroma; `pos` in luma samples.
    void chromaEdge(EdgeDir dir, int pos, int bS, int lenP, int lenQ)
    {
        int const n = dir == kEdgeVer ? map.unitsH() : map.unitsW();
        for (int i = 0; i < n; ++i) {
            EdgeSegment& e = dir == kEdgeVer ? map.edge(dir, pos / 4, i) : map.edge(dir, i, pos / 4);
            e.bs[1] = e.bs[2] = uint8_t(bS);
            e.maxLenCP = uint8_t(lenP);
            e.maxLenCQ = uint8_t(lenQ);
        }
    }
    bool run() { return DeblockPicture(map, planes); }
    // Samples of one row (or column) of a plane from `from`, `n` long.
    std::vector<int> row(int c, int y, int from, int n)
    {
        std::vector<int> v;
        for (int x = from; x < from + n; ++x)
            v.push_back(at(c, x, y));
        return v;
    }
    std::vector<int> column(int c, int x, int from, int n)
    {
        std::vector<int> v;
        for (int y = from; y < from + n; ++y)
            v.push_back(at(c, x, y));
        return v;
    }
};

auto Step(int left, int right, int edge)
{
    return [=](int x, int) { return x < edge ? left : right; };
}

TEST(VvcDeblock, BetaAndTcTablesAndBitDepthScaling)
{
    struct Case
    {
        int q, beta, tc;
    };
    for (Case k : {Case{0, 0, 0}, Case{15, 0, 0}, Case{16, 6, 0}, Case{17, 7, 0}, Case{18, 8, 3}, Case{28, 18, 7},
                   Case{29, 20, 8}, Case{31, 24, 10}, Case{32, 26, 10}, Case{39, 40, 21}, Case{53, 68, 100},
                   Case{63, 88, 314}, Case{65, 88, 395}, Case{-5, 0, 0}, Case{99, 88, 395}}) {
        EXPECT_EQ(BetaTable(k.q), k.beta) << k.q;
        EXPECT_EQ(TcTable(k.q), k.tc) << k.q;
    }
    // qp 37, bS 2: tC index 39, beta index 37; tC rounds down to 8 bits and scales up above 10.
    EXPECT_EQ(DeriveTc(37, 2, 0, 10), 21);
    EXPECT_EQ(DeriveTc(37, 2, 0, 8), 5);  // (21 + 2) >> 2
    EXPECT_EQ(DeriveTc(38, 2, 0, 9), 12); // 9 bits: (24 + 1) >> 1, half the 8-bit rounding offset
    EXPECT_EQ(DeriveTc(37, 2, 0, 12), 84);
    EXPECT_EQ(DeriveTc(37, 1, 0, 10), 17);  // bS 1: index 37
    EXPECT_EQ(DeriveTc(37, 2, -3, 10), 11); // index 33
    EXPECT_EQ(DeriveTc(63, 2, 6, 10), 395); // index clipped to 65
    EXPECT_EQ(DeriveBeta(37, 0, 10), 144);
    EXPECT_EQ(DeriveBeta(37, 0, 8), 36);
    EXPECT_EQ(DeriveBeta(37, 2, 10), 4 * 44);
    EXPECT_EQ(DeriveBeta(60, 6, 8), 88); // index clipped to 63
    EXPECT_EQ(DeriveBeta(10, -6, 10), 0);
}

TEST(VvcDeblock, FilterLengthsFromBlockSizes)
{
    struct Case
    {
        int p, q, lenP, lenQ;
        bool chroma;
    };
    for (Case k :
         {Case{4, 32, 1, 1, false}, Case{32, 4, 1, 1, false}, Case{8, 32, 3, 7, false}, Case{32, 64, 7, 7, false},
          Case{16, 16, 3, 3, false}, Case{8, 4, 1, 1, true}, Case{8, 8, 3, 3, true}, Case{32, 4, 1, 1, true}}) {
        uint8_t p = 0, q = 0;
        if (k.chroma)
            ChromaMaxFilterLengths(k.p, k.q, p, q);
        else
            LumaMaxFilterLengths(k.p, k.q, p, q);
        EXPECT_EQ(p, k.lenP) << k.p << "/" << k.q << (k.chroma ? " chroma" : " luma");
        EXPECT_EQ(q, k.lenQ) << k.p << "/" << k.q << (k.chroma ? " chroma" : " luma");
    }
}

TEST(VvcDeblock, SubblockEdgeLengthsInsideAUnit)
{
    // Edges on the 8x8 grid inside an affine or subblock temporal unit. The first and the last
    // lie next to the unit's own edges even where those are not filtered (the picture boundary,
    // a slice with deblocking off), and no transform edge marks them there.
    struct Case
    {
        int offset, size;
        bool tb4, tb8;
        int len;
    } const cases[] = {
        {8, 16, false, false, 2},  {8, 128, false, false, 2}, {120, 128, false, false, 2},
        {16, 32, false, false, 3}, {24, 32, false, false, 2}, {16, 64, false, true, 2},
        {32, 64, true, false, 1},  {8, 64, true, true, 1},    {56, 128, false, true, 2},
    };
    for (Case const& c : cases)
        EXPECT_EQ(SubblockEdgeLength(c.offset, c.size, c.tb4, c.tb8), c.len)
            << c.offset << " of " << c.size << (c.tb4 ? ", transform edge 4 away" : "")
            << (c.tb8 ? ", transform edge 8 away" : "");
}

TEST(VvcDeblock, BoundaryStrength)
{
    BsSide intra, intraBdpcm, inter, interCoded, interJoint;
    intra.intra = intraBdpcm.intra = true;
    intraBdpcm.bdpcm[0] = true;
    interCoded.cbf[0] = interCoded.cbf[2] = true;
    interJoint.jointCbCr = true;
    EXPECT_EQ(BoundaryStrength(intra, inter, 0, false, true), 2);
    EXPECT_EQ(BoundaryStrength(inter, intra, 1, true, true), 2);
    EXPECT_EQ(BoundaryStrength(intraBdpcm, intraBdpcm, 0, true, true), 0); // both BDPCM in luma
    EXPECT_EQ(BoundaryStrength(intraBdpcm, intraBdpcm, 1, true, true), 2); // chroma not BDPCM
    EXPECT_EQ(BoundaryStrength(intraBdpcm, intra, 0, true, true), 2);
    EXPECT_EQ(BoundaryStrength(interCoded, inter, 0, true, true), 1);
    EXPECT_EQ(BoundaryStrength(interCoded, inter, 1, true, true), 0); // no Cb residual
    EXPECT_EQ(BoundaryStrength(inter, interCoded, 2, true, true), 1);
    EXPECT_EQ(BoundaryStrength(interCoded, inter, 0, false, true), 0); // not a transform edge
    EXPECT_EQ(BoundaryStrength(interJoint, inter, 1, true, true), 1);
    EXPECT_EQ(BoundaryStrength(interJoint, inter, 0, true, true), 0);
    EXPECT_EQ(BoundaryStrength(inter, inter, 0, true, true, 1), 1); // motion differs
    EXPECT_EQ(BoundaryStrength(inter, inter, 1, true, true, 1), 0);
}

// Vertical edges at x = 8 between 8-wide blocks (lengths 3) and at x = 32 between large blocks
// (lengths 5 or 7), bS 2, QP 37, 10 bits: tC 21, beta 144.
TEST(VvcDeblock, LumaEdges)
{
    struct Case
    {
        char const* name;
        int edge, lenP, lenQ;
        std::function<int(int, int)> fill;
        std::vector<int> expect; // from edge - 8, 16 samples
    };
    const std::vector<Case> cases = {
        // |p0 - q0| = 100 is too large for the strong filter: the normal filter changes two
        // samples a side, delta clipped to tC and the second samples to tC / 2.
        {"normal",
         8,
         3,
         3,
         Step(500, 600, 8),
         {500, 500, 500, 500, 500, 500, 510, 521, 579, 590, 600, 600, 600, 600, 600, 600}},
        // |p0 - q0| = 40 < (5 tC + 1) / 2: the strong filter changes three samples a side.
        {"strong",
         8,
         3,
         3,
         Step(500, 540, 8),
         {500, 500, 500, 500, 500, 505, 510, 515, 525, 530, 535, 540, 540, 540, 540, 540}},
        // Both sides 32 wide: the long-tap filter changes seven samples a side.
        {"long 7/7",
         32,
         7,
         7,
         Step(500, 540, 32),
         {500, 502, 504, 507, 510, 513, 516, 518, 522, 524, 527, 530, 533, 536, 538, 540}},
        {"long 5/5",
         32,
         5,
         5,
         Step(500, 540, 32),
         {500, 500, 500, 502, 506, 510, 514, 518, 522, 526, 530, 534, 538, 540, 540, 540}},
        {"long 7/5",
         32,
         7,
         5,
         Step(500, 540, 32),
         {500, 502, 504, 507, 510, 513, 516, 518, 522, 526, 530, 534, 538, 540, 540, 540}},
        // 8-wide block left, 32-wide right, on ramps: the 3/7 filter's middle value weights the
        // short side towards the edge.
        {"long 3/7 ramps",
         32,
         3,
         7,
         [](int x, int) { return x < 32 ? 500 - (31 - x) : 520 + 2 * (x - 32); },
         {493, 494, 495, 496, 497, 500, 505, 510, 514, 517, 520, 523, 525, 528, 531, 534}},
        // Large blocks whose step fails the long-filter decision fall back to the normal filter.
        {"long falls back",
         32,
         7,
         7,
         Step(500, 600, 32),
         {500, 500, 500, 500, 500, 500, 510, 521, 579, 590, 600, 600, 600, 600, 600, 600}},
        // A 4-wide block on either side: only p0 and q0 may change.
        {"length 1",
         8,
         1,
         1,
         Step(500, 540, 8),
         {500, 500, 500, 500, 500, 500, 500, 515, 525, 540, 540, 540, 540, 540, 540, 540}},
    };
    for (Case const& k : cases) {
        Pic pic(64, 16);
        pic.fill(0, k.fill);
        pic.lumaEdge(kEdgeVer, k.edge, 2, k.lenP, k.lenQ);
        ASSERT_TRUE(pic.run());
        for (int y = 0; y < 16; ++y)
            EXPECT_EQ(pic.row(0, y, k.edge - 8, 16), k.expect) << k.name << " row " << y;
    }
}

TEST(VvcDeblock, QpOfBothSidesAndOffsetsOfTheQSlice)
{
    // The normal filter of a 500 | 600 step at x = 8 (lengths 3) shows tC in p0 = 500 + tC.
    struct Case
    {
        char const* name;
        int qpP, qpQ, sliceP, sliceQ;
        std::vector<int> expect;
    };
    for (Case const& k : {Case{"average rounds up", 36, 37, 0, 0, {500, 510, 521, 579, 590, 600}},
                          Case{"average 36", 35, 37, 0, 0, {500, 509, 519, 581, 591, 600}},
                          Case{"P slice offsets unused", 37, 37, 1, 0, {500, 510, 521, 579, 590, 600}},
                          Case{"Q slice tC offset -12", 37, 37, 0, 1, {500, 503, 507, 593, 597, 600}}}) {
        Pic pic(16, 8);
        pic.map.slices.resize(2);
        pic.map.slices[1].tcOffsetDiv2[0] = -6;
        pic.fill(0, Step(500, 600, 8));
        pic.lumaEdge(kEdgeVer, 8, 2, 3, 3);
        for (int y4 = 0; y4 < 2; ++y4)
            for (int x4 = 0; x4 < 4; ++x4) {
                pic.map.unit(x4, y4).qp[0] = int8_t(x4 < 2 ? k.qpP : k.qpQ);
                pic.map.unit(x4, y4).slice = uint16_t(x4 < 2 ? k.sliceP : k.sliceQ);
            }
        ASSERT_TRUE(pic.run());
        for (int y = 0; y < 8; ++y)
            EXPECT_EQ(pic.row(0, y, 5, 6), k.expect) << k.name << " row " << y;
    }
}

TEST(VvcDeblock, LumaAdaptiveQpOffsetFromTheLevelAtTheEdge)
{
    // The 500 | 600 step of the test above at QP 36 (both sides), luma level 550: the offset of
    // the interval the level lies in (above its lower bound) is added to the QP; 37 shows as
    // p0 = 521, 36 as 519.
    struct Case
    {
        char const* name;
        int lowest;
        std::vector<int> bounds, offsets;
        int p0;
    };
    for (Case const& k :
         {Case{"off", 5, {}, {}, 519}, Case{"lowest interval", 1, {600}, {5}, 521},
          Case{"above the bound", 0, {549}, {1}, 521}, Case{"at the bound", 0, {550}, {1}, 519},
          Case{"third interval", 0, {100, 500}, {5, 1}, 521}, Case{"second of three", 0, {100, 550}, {1, 5}, 521}}) {
        Pic pic(16, 8);
        pic.map.ladfLowestQpOffset = k.lowest;
        pic.map.ladfLowerBound = k.bounds;
        pic.map.ladfQpOffset = k.offsets;
        pic.fill(0, Step(500, 600, 8));
        pic.lumaEdge(kEdgeVer, 8, 2, 3, 3);
        for (BlockUnit& u : pic.map.units)
            u.qp[0] = 36;
        ASSERT_TRUE(pic.run());
        for (int y = 0; y < 8; ++y)
            EXPECT_EQ(pic.at(0, 7, y), k.p0) << k.name << " row " << y;
    }
}

TEST(VvcDeblock, LumaUpperSideOfCtbRowLimitedToThree)
{
    // Horizontal edge at y = 32 between 32-high blocks; with CTBs of 32 it is a CTB row boundary
    // and the upper side is filtered as a 3-sample side (the 7/3 long filter), else 7/7.
    for (int ctb : {32, 64}) {
        Pic pic(16, 64, 1, 10, ctb);
        pic.fill(0, [](int, int y) { return y < 32 ? 500 : 540; });
        pic.lumaEdge(kEdgeHor, 32, 2, 7, 7);
        ASSERT_TRUE(pic.run());
        const std::vector<int> expect =
            ctb == 32
                ? std::vector<int>{500, 500, 500, 500, 500, 503, 510, 517, 522, 524, 527, 530, 533, 536, 538, 540}
                : std::vector<int>{500, 502, 504, 507, 510, 513, 516, 518, 522, 524, 527, 530, 533, 536, 538, 540};
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(pic.column(0, x, 24, 16), expect) << "ctb " << ctb << " column " << x;
    }
}

TEST(VvcDeblock, LumaClipsToTheSampleRange)
{
    // Highest QP (tC 395): the normal filter's delta of 9 would take p0 = 1015 to 1024.
    Pic pic(16, 8);
    for (BlockUnit& u : pic.map.units)
        u.qp[0] = 63;
    int const rowValues[8] = {1023, 1023, 1023, 1015, 1023, 1000, 977, 954}; // p3..p0, q0..q3
    pic.fill(0, [&](int x, int) { return x < 4 ? 1023 : (x < 12 ? rowValues[x - 4] : 954); });
    pic.lumaEdge(kEdgeVer, 8, 2, 1, 1);
    ASSERT_TRUE(pic.run());
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(pic.at(0, 7, y), 1023);
        EXPECT_EQ(pic.at(0, 8, y), 1014);
    }
}

TEST(VvcDeblock, EdgesNotToBeFilteredStayUntouched)
{
    struct Case
    {
        char const* name;
        std::function<void(Pic&)> setup;
    };
    const std::vector<Case> cases = {
        {"bS 0",
         [](Pic& p) {
             p.lumaEdge(kEdgeVer, 8, 0, 3, 3);
             p.chromaEdge(kEdgeVer, 16, 0, 3, 3);
         }},
        {"no edge", [](Pic&) {}},
        // Chroma is filtered on the 8x8 chroma grid only: luma x = 8 is chroma x = 4.
        {"off the chroma grid", [](Pic& p) { p.chromaEdge(kEdgeVer, 8, 2, 3, 3); }},
        // bS 1 filters chroma only between large blocks.
        {"chroma bS 1, small blocks", [](Pic& p) { p.chromaEdge(kEdgeVer, 16, 1, 1, 1); }},
        {"picture boundary",
         [](Pic& p) {
             p.lumaEdge(kEdgeVer, 0, 2, 3, 3);
             p.lumaEdge(kEdgeHor, 0, 2, 3, 3);
         }},
    };
    for (Case const& k : cases) {
        Pic pic(32, 16);
        pic.fill(0, Step(500, 600, 8));
        pic.fill(1, Step(500, 600, 8));
        pic.fill(2, Step(300, 700, 8));
        const std::vector<uint16_t> before[3] = {pic.plane[0], pic.plane[1], pic.plane[2]};
        k.setup(pic);
        ASSERT_TRUE(pic.run());
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(pic.plane[c], before[c]) << k.name << " plane " << c;
    }
}

TEST(VvcDeblock, SideMarkedNoFilterKeepsItsSamples)
{
    for (int side = 0; side < 2; ++side) {
        Pic pic(16, 8);
        pic.fill(0, Step(500, 600, 8));
        pic.lumaEdge(kEdgeVer, 8, 2, 3, 3);
        for (int y4 = 0; y4 < 2; ++y4)
            pic.map.unit(side == 0 ? 1 : 2, y4).noFilter = 1;
        ASSERT_TRUE(pic.run());
        const std::vector<int> expect =
            side == 0 ? std::vector<int>{500, 500, 500, 579, 590, 600} : std::vector<int>{500, 510, 521, 600, 600, 600};
        for (int y = 0; y < 8; ++y)
            EXPECT_EQ(pic.row(0, y, 5, 6), expect) << "side " << side << " row " << y;
    }
}

// Chroma edges at chroma x = 8 (luma 16), QP 37, 10 bits: tC 21 (17 for bS 1), beta 144.
TEST(VvcDeblock, ChromaStepEdges)
{
    struct Case
    {
        char const* name;
        int bS, len, left, right;
        std::vector<int> expect; // chroma x 4..11
    };
    const std::vector<Case> cases = {
        {"strong", 2, 3, 500, 540, {500, 505, 510, 515, 525, 530, 535, 540}},
        {"strong bS 1", 1, 3, 500, 540, {500, 505, 510, 515, 525, 530, 535, 540}},
        // A smooth-looking step too large for the strong filter gets the normal one.
        {"large blocks, normal", 2, 3, 500, 600, {500, 500, 500, 521, 579, 600, 600, 600}},
        {"normal", 2, 1, 500, 540, {500, 500, 500, 515, 525, 540, 540, 540}},
    };
    for (Case const& k : cases) {
        Pic pic(32, 16);
        pic.fill(1, Step(k.left, k.right, 8));
        pic.fill(2, Step(k.left, k.right, 8));
        pic.chromaEdge(kEdgeVer, 16, k.bS, k.len, k.len);
        ASSERT_TRUE(pic.run());
        for (int c = 1; c <= 2; ++c)
            for (int y = 0; y < pic.ch; ++y)
                EXPECT_EQ(pic.row(c, y, 4, 8), k.expect) << k.name << " plane " << c << " row " << y;
        for (int v : pic.plane[0])
            ASSERT_EQ(v, 512) << k.name << ": luma has no edge";
    }
}

TEST(VvcDeblock, ChromaAtCtbRowReadsAndWritesOneRowAbove)
{
    // Horizontal chroma edge at luma y = 32 (chroma 16). Rows p2 and p3 are 0: an ordinary edge
    // sees no smooth side and takes the normal filter; at a CTB row boundary p1 stands in for them
    // and the strong filter changes only p0 above the edge.
    for (int ctb : {32, 64}) {
        Pic pic(16, 64, 1, 10, ctb);
        pic.fill(1, [](int, int y) { return y < 14 ? 0 : (y < 16 ? 500 : 540); });
        pic.chromaEdge(kEdgeHor, 32, 2, 3, 3);
        ASSERT_TRUE(pic.run());
        const std::vector<int> expect = ctb == 32 ? std::vector<int>{0, 0, 500, 515, 525, 530, 535, 540}
                                                  : std::vector<int>{0, 0, 500, 515, 525, 540, 540, 540};
        for (int x = 0; x < pic.cw; ++x)
            EXPECT_EQ(pic.column(1, x, 12, 8), expect) << "ctb " << ctb << " column " << x;
    }
}

TEST(VvcDeblock, ChromaClipsToTheSampleRange)
{
    Pic pic(32, 16);
    for (BlockUnit& u : pic.map.units)
        u.qp[1] = 63;                                              // tC 395
    int const values[8] = {1023, 1023, 1023, 1020, 1023, 0, 0, 0}; // p3..p0, q0..q3
    pic.fill(1, [&](int x, int) { return x < 4 ? 1023 : (x < 12 ? values[x - 4] : 0); });
    pic.chromaEdge(kEdgeVer, 16, 2, 1, 1);
    ASSERT_TRUE(pic.run());
    for (int y = 0; y < pic.ch; ++y) {
        EXPECT_EQ(pic.at(1, 7, y), 1023); // 1020 + 129
        EXPECT_EQ(pic.at(1, 8, y), 894);
    }
}

TEST(VvcDeblock, VerticalEdgesOfThePictureBeforeHorizontal)
{
    // Top half steps from 500 to 600 at x = 8, bottom half is 600: the horizontal edge at y = 8
    // must see the vertical pass's 521 in column 7, not the original 500.
    Pic pic(16, 16, 0);
    pic.fill(0, [](int x, int y) { return y < 8 && x < 8 ? 500 : 600; });
    for (int y4 = 0; y4 < 2; ++y4) {
        EdgeSegment& e = pic.map.edge(kEdgeVer, 2, y4);
        e.bs[0] = 2;
        e.maxLenP = e.maxLenQ = 3;
    }
    pic.lumaEdge(kEdgeHor, 8, 2, 3, 3);
    ASSERT_TRUE(pic.run());
    EXPECT_EQ(pic.column(0, 7, 5, 6), (std::vector<int>{521, 531, 542, 579, 590, 600}));
    EXPECT_EQ(pic.column(0, 4, 5, 6), (std::vector<int>{500, 510, 521, 579, 590, 600}));
    EXPECT_EQ(pic.row(0, 2, 5, 6), (std::vector<int>{500, 510, 521, 579, 590, 600}));
}

TEST(VvcDeblock, InconsistentMapIsRefused)
{
    Pic pic(32, 16);
    pic.lumaEdge(kEdgeVer, 8, 2, 3, 3);
    pic.fill(0, Step(500, 600, 8));
    const std::vector<uint16_t> before = pic.plane[0];
    DeblockPlane planes[3] = {pic.planes[0], pic.planes[1], pic.planes[2]};
    planes[1].height = 16; // the 4:2:0 chroma plane is 8 high
    EXPECT_FALSE(DeblockPicture(pic.map, planes));
    pic.map.edges[kEdgeHor].pop_back();
    EXPECT_FALSE(pic.run());
    pic.map.reset(32, 16);
    pic.map.slices.clear();
    EXPECT_FALSE(pic.run());
    pic.map.slices.resize(1);
    pic.map.bitDepthY = 7;
    EXPECT_FALSE(pic.run());
    EXPECT_EQ(pic.plane[0], before);
}

// Any edge map on any picture size stays inside the planes (the sanitizer build checks) and keeps
// samples in range.
TEST(VvcDeblock, RandomMapsStayInBounds)
{
    std::mt19937 rng(7);
    for (int iter = 0; iter < 60; ++iter) {
        int const w = 4 + int(rng() % 70), h = 4 + int(rng() % 70), fmt = int(rng() % 4);
        int const bitDepth = iter % 2 ? 10 : 8;
        Pic pic(w, h, fmt, bitDepth, 16 << (rng() % 4));
        pic.map.slices.resize(2);
        pic.map.slices[1].betaOffsetDiv2[0] = 6;
        pic.map.slices[1].tcOffsetDiv2[1] = 6;
        for (BlockUnit& u : pic.map.units) {
            for (int c = 0; c < 3; ++c)
                u.qp[c] = int8_t(int(rng() % 80) - 12);
            u.noFilter = uint8_t(rng() % 8 == 0 ? rng() % 8 : 0);
            u.slice = uint16_t(rng() % 3); // 2 is not a slice: the first one's offsets apply
        }
        for (int d = 0; d < 2; ++d)
            for (EdgeSegment& e : pic.map.edges[d]) {
                for (uint8_t& b : e.bs)
                    b = uint8_t(rng() % 4);
                e.maxLenP = uint8_t(rng() % 9);
                e.maxLenQ = uint8_t(rng() % 9);
                e.maxLenCP = uint8_t(rng() % 5);
                e.maxLenCQ = uint8_t(rng() % 5);
            }
        int const maxVal = (1 << bitDepth) - 1;
        int const planesUsed = fmt == 0 ? 1 : 3;
        for (int c = 0; c < planesUsed; ++c)
            for (uint16_t& v : pic.plane[c])
                v = uint16_t(rng() % 3 == 0 ? maxVal * (rng() % 2) : rng() % (maxVal + 1));
        ASSERT_TRUE(pic.run()) << w << "x" << h << " format " << fmt;
        for (int c = 0; c < planesUsed; ++c)
            for (uint16_t v : pic.plane[c])
                ASSERT_LE(v, maxVal);
    }
}

} // namespace

namespace {

// An intra picture described block by block: a 32x32 transform block on the left, four 16x16 on
// the right, of which the top two use BDPCM in luma and the bottom-left one starts a slice whose
// left boundary is not filtered. Single tree: each block also has its chroma block.
TEST(VvcDeblock, EdgesDerivedFromTransformBlocks)
{
    DeblockMap map;
    map.reset(64, 32);
    struct Rect
    {
        int x, y, w, h;
        bool bdpcm, filterLeft;
    };
    for (Rect r : {Rect{0, 0, 32, 32, false, true}, Rect{32, 0, 16, 16, true, true}, Rect{48, 0, 16, 16, true, true},
                   Rect{32, 16, 16, 16, false, false}, Rect{48, 16, 16, 16, false, true}})
        for (bool chroma : {false, true}) {
            TransformBlock b;
            b.chroma = chroma;
            b.x = r.x, b.y = r.y, b.w = r.w, b.h = r.h;
            b.bdpcm = r.bdpcm && !chroma;
            b.filterLeft = r.filterLeft;
            b.qp[0] = chroma ? 30 + r.x / 16 : 20 + r.x / 16;
            b.qp[1] = 40;
            AddTransformBlock(map, b);
        }
    DeriveEdges(map);

    struct Expect
    {
        EdgeDir dir;
        int x, y;
        int bsY, bsC, lenP, lenQ, lenCP, lenCQ;
    };
    for (Expect k : {
             Expect{kEdgeVer, 32, 0, 2, 2, 7, 3, 3, 3}, // 32 | 16 (chroma 16 | 8)
             Expect{kEdgeVer, 32, 12, 2, 2, 7, 3, 3, 3},
             Expect{kEdgeVer, 32, 16, 0, 0, 0, 0, 0, 0}, // not to be filtered
             Expect{kEdgeVer, 48, 0, 0, 2, 3, 3, 3, 3},  // BDPCM on both sides in luma only
             Expect{kEdgeVer, 48, 16, 2, 2, 3, 3, 3, 3},
             Expect{kEdgeHor, 32, 16, 2, 2, 3, 3, 3, 3}, // below a BDPCM block: one side only
             Expect{kEdgeHor, 8, 16, 0, 0, 0, 0, 0, 0},  // inside the 32x32 block
             Expect{kEdgeVer, 16, 8, 0, 0, 0, 0, 0, 0}, Expect{kEdgeVer, 0, 0, 0, 0, 0, 0, 0, 0}, // picture boundary
         }) {
        EdgeSegment const& e = map.edge(k.dir, k.x / 4, k.y / 4);
        const std::string where = std::string(k.dir == kEdgeVer ? "vertical " : "horizontal ") + std::to_string(k.x) +
                                  "," + std::to_string(k.y);
        EXPECT_EQ(e.bs[0], k.bsY) << where;
        EXPECT_EQ(e.bs[1], k.bsC) << where;
        EXPECT_EQ(e.bs[2], k.bsC) << where;
        EXPECT_EQ(e.maxLenP, k.lenP) << where;
        EXPECT_EQ(e.maxLenQ, k.lenQ) << where;
        EXPECT_EQ(e.maxLenCP, k.lenCP) << where;
        EXPECT_EQ(e.maxLenCQ, k.lenCQ) << where;
    }
    EXPECT_EQ(map.unit(12, 2).qp[0], 23); // the block at x 48
    EXPECT_EQ(map.unit(12, 2).qp[1], 33);
    EXPECT_EQ(map.unit(12, 2).qp[2], 40);

    // Blocks partly or wholly outside the picture change nothing outside it.
    TransformBlock outside;
    outside.x = 48, outside.y = 16, outside.w = 64, outside.h = 64;
    AddTransformBlock(map, outside);
    outside.x = 64;
    AddTransformBlock(map, outside);
    outside.x = -4;
    AddTransformBlock(map, outside);
    EXPECT_EQ(map.units.size(), 16u * 8u);
}

// A dual tree (as in the local one of small blocks in inter slices): five 16x16 luma blocks, the
// first intra, the others predicted from a vector (block copy) with a coded residual in the third
// only, under intra chroma blocks. Luma edges take the luma blocks' modes and chroma edges the
// chroma blocks', whichever tree's blocks come first.
TEST(VvcDeblock, DualTreeKeepsLumaAndChromaIntraApart)
{
    for (bool chromaFirst : {false, true}) {
        DeblockMap map;
        map.reset(80, 16);
        auto add = [&map](bool chroma) {
            for (int i = 0; i < 5; ++i) {
                TransformBlock b;
                b.chroma = chroma;
                b.x = 16 * i, b.y = 0, b.w = 16, b.h = 16;
                b.intra = chroma || i == 0;
                b.cbf[0] = !chroma && i == 2;
                AddTransformBlock(map, b);
            }
        };
        add(chromaFirst);
        add(!chromaFirst);
        DeriveEdges(map);
        int const bsY[4] = {2, 1, 1, 0}; // intra | copy, coded | uncoded twice, uncoded | uncoded
        for (int i = 0; i < 4; ++i) {
            EdgeSegment const& e = map.edge(kEdgeVer, 4 * (i + 1), 0);
            EXPECT_EQ(e.bs[0], bsY[i]) << "edge at x " << 16 * (i + 1) << (chromaFirst ? ", chroma first" : "");
            EXPECT_EQ(e.bs[1], 2) << "edge at x " << 16 * (i + 1);
            EXPECT_EQ(e.bs[2], 2) << "edge at x " << 16 * (i + 1);
        }
    }
}

// Two CIIP units without residual in a single tree: a 64x64 one split into four 32x32 transform
// blocks (the largest transform being 32) and a 32x64 one on its right. Strength 2 comes from
// CIIP on coding block edges only; the edges between a unit's blocks get none.
TEST(VvcDeblock, CiipGivesStrengthOnItsCodingBlockEdgesOnly)
{
    DeblockMap map;
    map.reset(96, 64);
    for (int y = 0; y < 64; y += 32)
        for (int x = 0; x < 96; x += 32)
            for (bool chroma : {false, true}) {
                TransformBlock b;
                b.chroma = chroma;
                b.x = x, b.y = y, b.w = 32, b.h = 32;
                b.intra = false;
                b.ciip = true;
                b.codingEdgeLeft = x != 32;
                b.codingEdgeTop = y == 0; // both units are 64 high
                AddTransformBlock(map, b);
            }
    DeriveEdges(map);
    struct Expect
    {
        EdgeDir dir;
        int x, y, bs;
    };
    for (Expect k : {Expect{kEdgeVer, 32, 0, 0}, Expect{kEdgeVer, 32, 60, 0}, Expect{kEdgeHor, 0, 32, 0},
                     Expect{kEdgeHor, 28, 32, 0}, Expect{kEdgeHor, 64, 32, 0}, Expect{kEdgeVer, 64, 0, 2}, Expect{kEdgeVer, 64, 40, 2}})
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(map.edge(k.dir, k.x / 4, k.y / 4).bs[c], k.bs)
                << (k.dir == kEdgeVer ? "vertical " : "horizontal ") << k.x << "," << k.y << " component " << c;
}

} // namespace

namespace {

// A 20x20 block with an edge through its middle (column or row 10), filled by one of the
// patterns: random over the whole range, a step with a little noise (which the filters act on),
// or the range's two ends only.
struct KernelBlock
{
    static constexpr int kSize = 20, kEdge = 10;
    std::vector<uint16_t> s = std::vector<uint16_t>(kSize * kSize);

    void fill(std::mt19937& rng, int pattern, int bitDepth)
    {
        int const maxVal = (1 << bitDepth) - 1;
        int const lo = int(rng() % uint32_t(maxVal + 1)), step = int(rng() % uint32_t(maxVal / 8 + 1));
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                int v;
                if (pattern == 0)
                    v = int(rng() % uint32_t(maxVal + 1));
                else if (pattern == 1)
                    v = lo + (x >= kEdge || y >= kEdge ? step : 0) + int(rng() % 5) - 2;
                else
                    v = rng() % 2 ? maxVal : 0;
                s[size_t(y * kSize + x)] = uint16_t(std::clamp(v, 0, maxVal));
            }
    }
    // The first line's q0 and the steps (o, lineStep) of a vertical or horizontal edge.
    uint16_t* first(bool ver) { return s.data() + (ver ? 8 * kSize + kEdge : kEdge * kSize + 8); }
    static ptrdiff_t o(bool ver) { return ver ? 1 : kSize; }
    static ptrdiff_t lineStep(bool ver) { return ver ? kSize : 1; }
};

// The luma tC at the extremes of the table for a bit depth, and values between.
std::vector<int> TcCases(int bitDepth, std::mt19937& rng)
{
    int const top = DeriveTc(65, 2, 0, bitDepth);
    return {0, 1, 2, top / 2, top, 1 + int(rng() % uint32_t(top))};
}

// Every decision outcome of the normal and strong filters, both directions, bit depths 8 to 16,
// tC from 0 to the table's top, on random, noisy-step and extreme blocks: the vector kernel gives
// the portable kernel's samples, and leaves everything else in the block alone.
TEST(VvcDeblockKernels, VectorShortFilterMatchesPortable)
{
    DeblockKernels const* vec = DeblockVectorKernels();
    if (!vec)
        GTEST_SKIP() << "no vector kernels on this CPU";
    std::mt19937 rng(11);
    for (int bitDepth : {8, 10, 12, 16})
        for (int pattern = 0; pattern < 3; ++pattern)
            for (int variant = 0; variant < 32; ++variant)
                for (int tc : TcCases(bitDepth, rng))
                    for (bool ver : {true, false}) {
                        LumaShortFilter f;
                        f.strong = variant & 1;
                        f.filterP1 = variant & 2;
                        f.filterQ1 = variant & 4;
                        f.writeP = !(variant & 8);
                        f.writeQ = !(variant & 16);
                        f.tc = tc;
                        f.maxVal = (1 << bitDepth) - 1;
                        KernelBlock a;
                        a.fill(rng, pattern, bitDepth);
                        KernelBlock b = a;
                        DeblockPortableKernels().lumaShort4(a.first(ver), a.o(ver), a.lineStep(ver), f);
                        vec->lumaShort4(b.first(ver), b.o(ver), b.lineStep(ver), f);
                        ASSERT_EQ(b.s, a.s) << "bit depth " << bitDepth << " pattern " << pattern << " variant "
                                            << variant << " tc " << tc << (ver ? " vertical" : " horizontal");
                    }
}

// The long-tap filter for every pair of lengths, either side kept, the same tables of blocks and tC.
TEST(VvcDeblockKernels, VectorLongFilterMatchesPortable)
{
    DeblockKernels const* vec = DeblockVectorKernels();
    if (!vec)
        GTEST_SKIP() << "no vector kernels on this CPU";
    std::mt19937 rng(12);
    for (int bitDepth : {8, 10, 12, 16})
        for (int pattern = 0; pattern < 3; ++pattern)
            for (int lenP : {3, 5, 7})
                for (int lenQ : {3, 5, 7})
                    for (int writes = 1; writes < 4 && (lenP > 3 || lenQ > 3); ++writes)
                        for (int tc : TcCases(bitDepth, rng))
                            for (bool ver : {true, false}) {
                                LumaLongFilter const f{lenP, lenQ, tc, (writes & 1) != 0, (writes & 2) != 0};
                                KernelBlock a;
                                a.fill(rng, pattern, bitDepth);
                                KernelBlock b = a;
                                DeblockPortableKernels().lumaLong4(a.first(ver), a.o(ver), a.lineStep(ver), f);
                                vec->lumaLong4(b.first(ver), b.o(ver), b.lineStep(ver), f);
                                ASSERT_EQ(b.s, a.s) << "bit depth " << bitDepth << " pattern " << pattern << " lengths "
                                                    << lenP << "," << lenQ << " writes " << writes << " tc " << tc
                                                    << (ver ? " vertical" : " horizontal");
                            }
}

// Whole pictures from random edge maps (sizes that leave segments short of lines or of room near
// the borders, CTB rows, every chroma format, 8 and 10 bits): the same planes with the vector
// kernels allowed and not.
TEST(VvcDeblockKernels, PicturesMatchWithAndWithoutVectorKernels)
{
    if (!DeblockVectorKernels())
        GTEST_SKIP() << "no vector kernels on this CPU";
    std::mt19937 rng(13);
    for (int iter = 0; iter < 40; ++iter) {
        int const w = 4 + int(rng() % 90), h = 4 + int(rng() % 90), fmt = int(rng() % 4);
        int const bitDepth = iter % 2 ? 10 : 8;
        Pic pic(w, h, fmt, bitDepth, 16 << (rng() % 4));
        for (BlockUnit& u : pic.map.units) {
            for (int c = 0; c < 3; ++c)
                u.qp[c] = int8_t(20 + int(rng() % 44));
            u.noFilter = uint8_t(rng() % 8 == 0 ? rng() % 8 : 0);
        }
        for (int d = 0; d < 2; ++d)
            for (EdgeSegment& e : pic.map.edges[d]) {
                for (uint8_t& b : e.bs)
                    b = uint8_t(rng() % 3);
                e.maxLenP = uint8_t(rng() % 8);
                e.maxLenQ = uint8_t(rng() % 8);
                e.maxLenCP = uint8_t(rng() % 4);
                e.maxLenCQ = uint8_t(rng() % 4);
            }
        int const maxVal = (1 << bitDepth) - 1;
        int const planesUsed = fmt == 0 ? 1 : 3;
        // Smooth planes with small noise, so that most edges are filtered, long filters included.
        int const base = int(rng() % uint32_t(maxVal / 2));
        for (int c = 0; c < planesUsed; ++c)
            pic.fill(c, [&](int x, int y) { return base + (x / 8 + y / 8) % 3 * 6 + int(rng() % 4); });
        Pic const before = pic;
        ASSERT_TRUE(pic.run());
        Pic portable = before;
        for (int c = 0; c < planesUsed; ++c)
            portable.planes[c].samples = portable.plane[c].data();
        DeblockAllowVectorKernels(false);
        EXPECT_STREQ(DeblockActiveKernels().name, "portable");
        bool const ok = portable.run();
        DeblockAllowVectorKernels(true);
        ASSERT_TRUE(ok);
        for (int c = 0; c < planesUsed; ++c)
            EXPECT_EQ(pic.plane[c], portable.plane[c]) << w << "x" << h << " format " << fmt << " plane " << c;
        if (w >= 16 && h >= 16) {
            EXPECT_NE(pic.plane[0], before.plane[0]) << "nothing filtered";
        }
    }
}

} // namespace
