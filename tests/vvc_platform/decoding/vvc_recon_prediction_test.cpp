// Intra picture reconstruction, prediction side: coding units without residuals handed to the
// reconstructor, the predicted samples read back from its picture.

#include "decoding/Recon.h"
#include "vvc_platform/vvc_recon_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

vvcslice::IntraCodingUnit LumaCu(int x, int y, int w, int h, int mode)
{
    vvcslice::IntraCodingUnit cu;
    cu.tree = 0;
    cu.x = x;
    cu.y = y;
    cu.width = w;
    cu.height = h;
    cu.lumaMode = mode;
    return cu;
}

// Planar of a w x h block whose top row (with top-right) is `top` and whose left column (with
// bottom-left) is `left`.
int PlanarOfFlatSides(int w, int h, int x, int y, int top, int left)
{
    int const lw = w == 4 ? 2 : w == 8 ? 3 : 4, lh = h == 4 ? 2 : h == 8 ? 3 : 4;
    int const v = ((h - 1 - y) * top + (y + 1) * left) << lw;
    int const hh = ((w - 1 - x) * left + (x + 1) * top) << lh;
    return (v + hh + w * h) >> (lw + lh + 1);
}

} // namespace

TEST(VvcReconPrediction, NarrowIspSubpartitionsShareOneFourWidePrediction)
{
    // An 8x16 coding unit split vertically into four 2x16 sub-partitions: each pair is predicted
    // as one 4x16 block from the neighbours at the time of its first sub-partition, not
    // sub-partition by sub-partition.
    ReconFixture f;
    IntraPictureReconstructor recon(f.sps, f.pps);
    ASSERT_TRUE(recon.ok()) << recon.error();
    recon.startSlice(f.sh, 0, nullptr);
    // Neighbours: the rows above and the columns left of (8, 8) are reconstructed first.
    recon.codingUnit(LumaCu(0, 0, 64, 8, 1));
    recon.codingUnit(LumaCu(0, 8, 8, 32, 1));
    ASSERT_TRUE(recon.ok()) << recon.error();
    int const top = 800, left = 200;
    uint16_t* luma = recon.picture().plane(0);
    int const stride = recon.picture().planeWidth(0);
    for (int x = 0; x < 64; ++x)
        luma[7 * stride + x] = top;
    for (int y = 8; y < 40; ++y)
        luma[y * stride + 7] = left;

    vvcslice::IntraCodingUnit cu = LumaCu(8, 8, 8, 16, 0);
    cu.isp = 2;
    recon.codingUnit(cu);
    ASSERT_TRUE(recon.ok()) << recon.error();
    // The first 4x16 prediction block sees the flat sides; planar plus the PDPC of a 4x16 block
    // (nScale 1: weights 32, 16, 8, 4, 2, 1 over the first rows and columns).
    auto pdpc = [](int pred, int x, int y, int t, int l) {
        int const wL = 32 >> std::min((x << 1) >> 1, 6), wT = 32 >> std::min((y << 1) >> 1, 6);
        return (l * wL + t * wT + (64 - wL - wT) * pred + 32) >> 6;
    };
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(luma[(8 + y) * stride + 8 + x], pdpc(PlanarOfFlatSides(4, 16, x, y, top, left), x, y, top, left))
                << x << "," << y;
}

TEST(VvcReconPrediction, NeighboursAcrossTilesAndParallelCtuRowsAreUnavailable)
{
    // 64x64 CTUs. Left CTU (or the upper-left one) reconstructed as 300, the one to its right as
    // 900; then an 8x8 block predicted next to the boundary, from whichever samples it may use.
    struct Case
    {
        char const* what;
        bool tiles, wpp;
        int x, y, mode;
        int want; // at the block's bottom-right sample
    } const cases[] = {
        // Horizontal copy from the left: the left CTU is another tile, so nothing is available.
        {"left CTU, same tile", false, false, 64, 0, 18, 300},
        {"left CTU, other tile", true, false, 64, 0, 18, 512},
        // Mode 66 reaches the top-right: in the CTU above-right, which the parallel CTU rows make
        // unavailable (the top-right samples are substituted from the ones above).
        {"above-right CTU", false, false, 56, 64, 66, 900},
        {"above-right CTU, parallel rows", false, true, 56, 64, 66, 300},
    };
    for (auto const& c : cases) {
        ReconFixture f;
        f.pps.picWidth = f.pps.picHeight = 128;
        f.pps.picWidthInCtbs = f.pps.picHeightInCtbs = 2;
        f.pps.tileColWidth = c.tiles ? std::vector<int>{1, 1} : std::vector<int>{2};
        f.pps.tileRowHeight = {2};
        f.sps.entropyCodingSync = c.wpp;
        IntraPictureReconstructor recon(f.sps, f.pps);
        ASSERT_TRUE(recon.ok()) << recon.error();
        recon.startSlice(f.sh, 0, nullptr);
        recon.codingUnit(LumaCu(0, 0, 64, 64, 1));
        recon.codingUnit(LumaCu(64, 0, 64, 64, 1));
        uint16_t* luma = recon.picture().plane(0);
        int const stride = recon.picture().planeWidth(0);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                luma[y * stride + x] = x < 64 ? 300 : 900;
        recon.codingUnit(LumaCu(c.x, c.y, 8, 8, c.mode));
        ASSERT_TRUE(recon.ok()) << recon.error();
        EXPECT_EQ(luma[(c.y + 7) * stride + c.x + 7], c.want) << c.what;
    }
}

TEST(VvcReconPrediction, ReferenceLinesOneTwoAndThreeSamplesAway)
{
    // DC of an 8x8 block at (16, 16) from each reference line the slice data can select
    // (refLine 0, 1 or 3 as the parser numbers them): the rows above and columns left of it hold
    // 100 * distance, so the prediction tells which line was read. The third line is 3 samples
    // away, not 4.
    struct Case
    {
        int refLine, want;
    } const cases[] = {{0, 100}, {1, 200}, {3, 300}};
    for (auto const& c : cases) {
        ReconFixture f;
        IntraPictureReconstructor recon(f.sps, f.pps);
        recon.startSlice(f.sh, 0, nullptr);
        recon.codingUnit(LumaCu(0, 0, 64, 16, 1));
        recon.codingUnit(LumaCu(0, 16, 16, 16, 1));
        ASSERT_TRUE(recon.ok()) << recon.error();
        uint16_t* luma = recon.picture().plane(0);
        int const stride = recon.picture().planeWidth(0);
        for (int d = 1; d <= 4; ++d) {
            for (int x = 16 - d; x < 40; ++x)
                luma[(16 - d) * stride + x] = uint16_t(100 * d);
            for (int y = 16 - d; y < 32; ++y)
                luma[y * stride + 16 - d] = uint16_t(100 * d);
        }
        vvcslice::IntraCodingUnit cu = LumaCu(16, 16, 8, 8, 1);
        cu.refLine = c.refLine;
        recon.codingUnit(cu);
        ASSERT_TRUE(recon.ok()) << recon.error();
        // Away from the PDPC of line 0 (the far lines have none): the block's bottom-right sample.
        EXPECT_EQ(luma[23 * stride + 23], c.want) << c.refLine;
    }
}
