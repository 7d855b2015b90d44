// Deblocking of inter units in the reconstruction: which luma edges the motion comparison decides.

#include "decoding/Recon.h"
#include "vvc_platform/vvc_recon_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A flat reference picture of the fixture's size.
void FlatPicture(Picture& p, int poc, uint16_t luma)
{
    ASSERT_TRUE(p.samples.create(CHROMA_420, 64, 64, 10));
    p.poc = poc;
    for (int c = 0; c < 3; ++c)
        for (int y = -p.samples.margin(c); y < p.samples.height(c) + p.samples.margin(c); ++y)
            for (int x = -p.samples.margin(c); x < p.samples.width(c) + p.samples.margin(c); ++x)
                p.samples.origin(c)[y * p.samples.stride(c) + x] = c ? 512 : luma;
}

// The luma samples of the fixture's picture after one skipped 64x64 GPM unit over the two zero
// merge candidates (list 0 of the first reference, list 1 of the second), deblocked or not.
std::vector<uint16_t> SkippedGpmUnit(int split, bool deblock)
{
    ReconFixture f;
    f.sps.maxLumaTransform64 = false; // four 32x32 transform blocks
    f.sps.gpm = true;
    f.sps.maxNumMergeCand = 6;
    f.sps.maxNumGpmCand = 6;
    f.sh.sliceType = 0;
    f.sh.ph.interAllowed = true;
    f.sh.deblockingDisabled = !deblock;
    Picture ref0, ref1, current;
    FlatPicture(ref0, 0, 480);
    FlatPicture(ref1, 4, 520);
    current.poc = 2;
    SliceRefs refs;
    refs.sliceType = 0;
    for (int l = 0; l < 2; ++l) {
        refs.numActive[l] = 2;
        for (Picture* p : {&ref0, &ref1}) {
            RefPicEntry e;
            e.pic = p;
            e.poc = p->poc;
            refs.list[l].push_back(e);
        }
    }
    IntraPictureReconstructor recon(f.sps, f.pps);
    EXPECT_TRUE(recon.ok()) << recon.error();
    recon.startSlice(f.sh, 0, nullptr, &current, &refs);
    vvcslice::IntraCodingUnit cu;
    cu.tree = 2;
    cu.predMode = vvcslice::CuPredMode::Inter;
    cu.width = cu.height = 64;
    cu.qpY = 40;
    cu.inter.merge = vvcslice::MergeKind::Gpm;
    cu.inter.gpmSplitIdx = split;
    cu.inter.gpmCand[0] = 0;
    cu.inter.gpmCand[1] = 1;
    recon.codingUnit(cu);
    recon.finishPicture();
    EXPECT_TRUE(recon.ok()) << recon.error();
    PelStorage& pic = recon.picture();
    return std::vector<uint16_t>(pic.plane(0), pic.plane(0) + 64 * 64);
}

} // namespace

TEST(VvcReconInterDeblock, TransformEdgesInsideAUnitDoNotCompareMotion)
{
    // Inside a skipped GPM unit the stored motion changes across the split line (one list, both
    // lists, the other list), and the unit's four transform blocks meet at x 32 and y 32. These
    // edges have no residual and are neither coding unit nor subblock edges: for every split the
    // deblocking leaves the picture as it is without deblocking (the picture boundary is not
    // filtered either).
    int differing = 0;
    for (int split = 0; split < 64; ++split) {
        SCOPED_TRACE(split);
        std::vector<uint16_t> const plain = SkippedGpmUnit(split, false);
        ASSERT_EQ(plain.size(), 64u * 64u);
        differing += plain.front() != plain.back() || plain[63] != plain[63 * 64];
        EXPECT_EQ(SkippedGpmUnit(split, true), plain);
    }
    EXPECT_GT(differing, 32) << "the parts predict from different pictures";
}
