// Intra block copy: the candidate list of block vectors, the vector from a coded difference, the
// history of vectors, the reference window the predictions read, the luma edge strength
// between two block copy units, and block copy units of a single tree in the reconstruction.

#include "intra/Ibc.h"
#include "decoding/Recon.h"
#include "vvc_platform/vvc_recon_fixture.h"

#include <gtest/gtest.h>

#include <vector>

using vvcibc::BlockVector;

namespace {

vvcibc::History HistoryOf(std::vector<BlockVector> const& oldestFirst)
{
    vvcibc::History h;
    for (BlockVector const& bv : oldestFirst)
        h.push(bv);
    return h;
}

} // namespace

TEST(VvcIbc, HistoryMovesARepeatToTheNewestAndDropsTheOldest)
{
    vvcibc::History h = HistoryOf({{-16, 0}, {-32, 0}, {-48, 0}});
    h.push({-16, 0});
    ASSERT_EQ(h.size(), 3);
    EXPECT_EQ(h.newest(0), (BlockVector{-16, 0}));
    EXPECT_EQ(h.newest(1), (BlockVector{-48, 0}));
    EXPECT_EQ(h.newest(2), (BlockVector{-32, 0}));
    for (int k = 1; k <= 3; ++k)
        h.push({0, -16 * k});
    ASSERT_EQ(h.size(), vvcibc::History::kMax);
    EXPECT_EQ(h.newest(0), (BlockVector{0, -48}));
    EXPECT_EQ(h.newest(4), (BlockVector{-48, 0})); // {-32, 0} was the oldest and went
    h.clear();
    EXPECT_EQ(h.size(), 0);
}

TEST(VvcIbc, CandidateList)
{
    const BlockVector a{-64, 0}, b{0, -64}, h1{-128, 0}, h2{-16, -16};
    struct Case
    {
        char const* what;
        int area;
        bool useA, useB;
        BlockVector bValue;
        std::vector<BlockVector> history; // oldest first
        int maxCand;
        std::vector<BlockVector> want; // candidates 0..maxCand-1
    };
    const Case cases[] = {
        {"spatial, then history newest first, then zero", 64, true, true, b, {h2, h1}, 6, {a, b, h1, h2, {}, {}}},
        {"B1 equal to A1 is left out", 64, true, true, a, {h1}, 4, {a, h1, {}, {}}},
        {"16 samples or less: no spatial candidates", 16, true, true, b, {h1}, 3, {h1, {}, {}}},
        {"the newest history entry equal to a spatial one is left out", 32, true, false, b, {h1, a}, 3, {a, h1, {}}},
        {"older history entries are not compared", 32, true, false, b, {a, h1}, 3, {a, h1, a}},
        {"small units take the newest history entry even when a neighbour has it", 16, true, false, b, {a}, 2, {a, {}}},
        {"the list ends at its size", 64, true, true, b, {h2, h1}, 2, {a, b}},
    };
    for (Case const& c : cases) {
        const vvcibc::History h = HistoryOf(c.history);
        for (size_t i = 0; i < c.want.size(); ++i) {
            BlockVector const got =
                vvcibc::Candidate(int(i), c.maxCand, c.area, c.useA ? &a : nullptr, c.useB ? &c.bValue : nullptr, h);
            EXPECT_EQ(got, c.want[i]) << c.what << ", candidate " << i;
        }
        // Past the list's end (never signalled): a zero vector, not memory past the list.
        EXPECT_EQ(vvcibc::Candidate(c.maxCand, c.maxCand, c.area, &a, &c.bValue, h), BlockVector()) << c.what;
    }
}

TEST(VvcIbc, VectorFromACodedDifference)
{
    struct Case
    {
        BlockVector pred;
        int mvd[2];
        int shift;
        BlockVector want;
    };
    const Case cases[] = {
        {{-160, 0}, {3, 0}, 4, {-112, 0}},        // whole samples: the difference times 16
        {{-64, -32}, {-1, 2}, 6, {-128, 128}},    // four samples: the predictor rounds to (-64, 0)
        {{-32, 96}, {0, 0}, 6, {0, 64}},          // halves round towards zero
        {{-96, -100}, {0, 0}, 6, {-64, -128}},    // for negative values too; past the half away
        {{0x1FFF0, 0}, {1, 0}, 4, {-0x20000, 0}}, // the sum wraps at 18 bits
    };
    for (Case const& c : cases)
        EXPECT_EQ(vvcibc::WithDifference(c.pred, c.mvd, c.shift), c.want)
            << c.pred.x << "," << c.pred.y << " + " << c.mvd[0] << "," << c.mvd[1] << " << " << c.shift;
}

TEST(VvcIbc, ReferenceWindowWrapsAndChromaRoundsDown)
{
    // CTB 128: the window is 256 x 128 luma samples, 128 x 64 per chroma plane.
    vvcibc::ReferenceBuffer buf;
    buf.create(128, 2, 2);
    EXPECT_EQ(buf.width(0), 256);
    EXPECT_EQ(buf.height(0), 128);
    EXPECT_EQ(buf.width(1), 128);
    EXPECT_EQ(buf.height(2), 64);
    int const w = 512, h = 256;
    std::vector<uint16_t> luma(size_t(w) * size_t(h)), chroma(size_t(w / 2) * size_t(h / 2));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            luma[size_t(y * w + x)] = uint16_t(x + 1000 * (y & 7));
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x)
            chroma[size_t(y * (w / 2) + x)] = uint16_t(x + 1000 * (y & 7));
    // The second CTB row, CTBs at x 0..255 stored, then the block at x 256..263 of the third CTB
    // replaces what was stored for x 0..7.
    buf.store(0, luma.data(), w, 0, 128, 256, 128);
    buf.store(0, luma.data(), w, 256, 128, 8, 8);
    buf.store(1, chroma.data(), w / 2, 0, 64, 128, 64);
    uint16_t out[8 * 4];
    // From x 264, 4 samples to the left: x 260 now holds the sample of x 260.
    buf.predict(0, 264, 128, 8, 4, BlockVector{-4 * 16, 0}, out, 8);
    EXPECT_EQ(out[0], 260);
    EXPECT_EQ(out[3], 263);
    EXPECT_EQ(out[4], 8); // x 264 wraps to window column 8, still the sample of x 8
    EXPECT_EQ(out[8 + 0], 1000 + 260);
    // Chroma at (100, 66) with the luma vector (-24, -2) samples: (-12, -1) chroma samples; with
    // (-23, -3) luma samples the chroma displacement rounds down to (-12, -2).
    buf.predict(1, 100, 66, 2, 1, BlockVector{-24 * 16, -2 * 16}, out, 2);
    EXPECT_EQ(out[0], 88 + 1000 * 1);
    buf.predict(1, 100, 66, 2, 1, BlockVector{-23 * 16, -3 * 16}, out, 2);
    EXPECT_EQ(out[0], 88 + 1000 * 0);
    EXPECT_EQ(out[1], 89 + 1000 * 0);
}

TEST(VvcIbc, LumaEdgeStrengthBetweenBlockCopyUnits)
{
    struct Case
    {
        bool codedP, codedQ;
        BlockVector p, q;
        int want;
    };
    const Case cases[] = {
        {false, false, {-64, 0}, {-64, 0}, 0},   {false, false, {-64, 0}, {-48, 0}, 1},
        {false, false, {-64, 0}, {-64, -16}, 1}, {false, false, {-64, 0}, {-57, 7}, 0},
        {true, false, {-64, 0}, {-64, 0}, 1},    {false, true, {0, -16}, {0, -16}, 1},
    };
    for (Case const& c : cases)
        EXPECT_EQ(vvcibc::EdgeStrength(c.codedP, c.codedQ, c.p, c.q), c.want)
            << c.p.x << "," << c.p.y << " | " << c.q.x << "," << c.q.y << " coded " << c.codedP << c.codedQ;
}

namespace {

vvcslice::IntraCodingUnit SingleTreeCu(int x, int y, int size, int mode)
{
    vvcslice::IntraCodingUnit cu;
    cu.tree = 2;
    cu.x = x;
    cu.y = y;
    cu.width = cu.height = size;
    cu.lumaMode = cu.chromaMode = mode;
    return cu;
}

} // namespace

TEST(VvcIbc, SingleTreeUnitsCopyLumaAndChroma)
{
    // A 64x64 10-bit 4:2:0 picture of one CTU, deblocking off. Unit 1 is predicted horizontally
    // from a left column painted with a ramp, so its rows differ; units 2 and 3 are block copy
    // units (single tree: luma and chroma) that copy it.
    ReconFixture f;
    f.sps.ibc = true;
    f.sps.maxNumIbcMergeCand = 6;
    IntraPictureReconstructor recon(f.sps, f.pps);
    ASSERT_TRUE(recon.ok()) << recon.error();
    recon.startSlice(f.sh, 0, nullptr);
    recon.codingUnit(SingleTreeCu(0, 0, 8, 1));
    ASSERT_TRUE(recon.ok()) << recon.error();
    PelStorage& pic = recon.picture();
    for (int y = 0; y < 8; ++y)
        pic.plane(0)[size_t(y * pic.planeWidth(0) + 7)] = uint16_t(100 + 37 * y);
    for (int c = 1; c <= 2; ++c)
        for (int y = 0; y < 4; ++y)
            pic.plane(c)[size_t(y * pic.planeWidth(c) + 3)] = uint16_t(300 * c + 41 * y);
    recon.codingUnit(SingleTreeCu(8, 0, 8, 18));

    // Unit 2: no candidates yet, so the vector is the difference: 8 samples to the left.
    vvcslice::IntraCodingUnit copy = SingleTreeCu(16, 0, 8, 0);
    copy.ibc = true;
    copy.ibcMvd[0] = -8;
    recon.codingUnit(copy);
    // Unit 3: the left neighbour's vector (-8, 0) plus one more sample to the left: luma copies
    // from x 15, chroma (4.5 chroma samples) from 4 + 5 to the left.
    copy.x = 24;
    copy.ibcMvd[0] = -1;
    recon.codingUnit(copy);
    // Unit 4 merges with the first candidate: its left neighbour unit 3's vector.
    vvcslice::IntraCodingUnit merged = SingleTreeCu(32, 0, 8, 0);
    merged.ibc = merged.ibcMerge = true;
    recon.codingUnit(merged);
    ASSERT_TRUE(recon.ok()) << recon.error();

    struct Copy
    {
        int c, x, fromX, w;
    };
    const Copy copies[] = {
        {0, 16, 8, 8},  {1, 8, 4, 4},   {2, 8, 4, 4},  // unit 2 is unit 1
        {0, 24, 15, 8}, {1, 12, 7, 4},  {2, 12, 7, 4}, // unit 3: 9 luma samples, 5 chroma samples
        {0, 32, 23, 8}, {1, 16, 11, 4},                // unit 4 with unit 3's vector
    };
    for (Copy const& k : copies) {
        uint16_t const* p = pic.plane(k.c);
        int const stride = pic.planeWidth(k.c);
        for (int y = 0; y < k.w; ++y)
            for (int x = 0; x < k.w; ++x)
                ASSERT_EQ(p[y * stride + k.x + x], p[y * stride + k.fromX + x])
                    << "plane " << k.c << " at " << k.x + x << "," << y;
    }
    // The copied rows differ (the copies are of something).
    EXPECT_NE(pic.plane(0)[16], pic.plane(0)[7 * pic.planeWidth(0) + 16]);
    EXPECT_NE(pic.plane(1)[8], pic.plane(1)[3 * pic.planeWidth(1) + 8]);
}
