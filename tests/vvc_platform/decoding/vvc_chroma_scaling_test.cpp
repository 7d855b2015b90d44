// Luma-dependent chroma residual scaling in the reconstructor: which luma samples set the scale
// of a chroma block.

#include "decoding/Recon.h"
#include "vvc_platform/vvc_recon_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// One 128x128 intra coding unit at (0, 128) of a 256x256 picture of 128x128 CTUs, reconstructed
// after the CTU row above it. Its luma is predicted vertically from the row above, whose left
// half (x < 64) holds `leftLuma` and the rest `rightLuma`; so its right 64x64 areas hold
// `rightLuma` too. Its chroma is predicted vertically from a flat row and each of its four chroma
// blocks carries the same DC level. Returns the Cb plane.
std::vector<uint16_t> ScaledChroma(int leftLuma, int rightLuma)
{
    ReconFixture f;
    f.sps.log2CtuSize = 7;
    f.sps.maxLumaTransform64 = true;
    f.pps.picWidth = f.pps.picHeight = 256;
    f.pps.picWidthInCtbs = f.pps.picHeightInCtbs = 2;
    f.pps.tileColWidth = {2};
    f.pps.tileRowHeight = {2};
    f.sh.lmcsUsed = true;
    f.sh.ph.chromaResidualScale = true;
    // 10-bit model: the bins of 64 codewords keep their scale (2048); the mapped range 480..575
    // (bin 8, 96 codewords) scales chroma residuals by 64 * 2048 / 96.
    vvcsyntax::AdaptationParameterSet aps;
    aps.type = 1;
    aps.lmcs.deltaCw[7] = -32;
    aps.lmcs.deltaCw[8] = 32;
    aps.lmcs.deltaCw[15] = -1;
    vvcslice::ApsLookup const lookup = [&aps](int type, int) { return type == 1 ? &aps : nullptr; };

    IntraPictureReconstructor recon(f.sps, f.pps);
    EXPECT_TRUE(recon.ok()) << recon.error();
    recon.startSlice(f.sh, 0, lookup);
    for (int x = 0; x < 256; x += 128) {
        vvcslice::IntraCodingUnit top;
        top.tree = 2;
        top.x = x;
        top.width = top.height = 128;
        top.lumaMode = top.chromaMode = vvcslice::kDc;
        recon.codingUnit(top);
    }
    EXPECT_TRUE(recon.ok()) << recon.error();
    uint16_t* luma = recon.picture().plane(0);
    int const strideY = recon.picture().planeWidth(0);
    for (int x = 0; x < 256; ++x)
        luma[127 * strideY + x] = uint16_t(x < 64 ? leftLuma : rightLuma);
    uint16_t* cb = recon.picture().plane(1);
    int const strideC = recon.picture().planeWidth(1);
    for (int x = 0; x < 128; ++x)
        cb[63 * strideC + x] = 512;

    vvcslice::IntraCodingUnit cu;
    cu.tree = 2;
    cu.y = 128;
    cu.width = cu.height = 128;
    cu.lumaMode = cu.chromaMode = vvcslice::kVer;
    cu.qpY = 30;
    for (int k = 0; k < 4; ++k) {
        vvcslice::TransformBlock b;
        b.cIdx = 1;
        b.x = (k & 1) * 32;
        b.y = 64 + (k >> 1) * 32;
        b.width = b.height = 32;
        b.levels.assign(32 * 32, 0);
        b.levels[0] = 40;
        cu.blocks.push_back(b);
    }
    recon.codingUnit(cu);
    EXPECT_TRUE(recon.ok()) << recon.error();
    return std::vector<uint16_t>(cb, cb + size_t(strideC) * size_t(recon.picture().planeHeight(1)));
}

} // namespace

TEST(VvcChromaScaling, UnitLargerThanTheAreaScalesByTheLumaNextToTheUnit)
{
    // Every 64x64 area of the unit takes its scale from the row above the unit (luma 100, scale
    // 2048), whatever the unit's own luma: with the right half at 900 the areas on the right
    // would otherwise average 100 and 900 (500: the 96-codeword bin) or see 900 above them.
    std::vector<uint16_t> const flat = ScaledChroma(100, 100);
    std::vector<uint16_t> const split = ScaledChroma(100, 900);
    ASSERT_EQ(flat.size(), split.size());
    int const strideC = 128;
    // The residual shows (the scaled blocks differ from their flat prediction).
    EXPECT_NE(flat[size_t(100 * strideC + 16)], 512);
    for (int y = 64; y < 128; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(split[size_t(y * strideC + x)], flat[size_t(y * strideC + x)]) << x << "," << y;
}
