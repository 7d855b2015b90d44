// 4:0:0 intra pictures: slice data without any chroma syntax, encoded here bin by bin, parsed
// and reconstructed (luma only, with deblocking, SAO and ALF), and checked against a one-plane
// hash.

#include "vvc_cabac_encoder.h"

#include "PictureHash.h"
#include "Recon.h"
#include "SliceParser.h"

#include <gtest/gtest.h>

#include <vector>

using vvctest::Encoder;

namespace {

// A 16x8 10-bit 4:0:0 picture of one 32x32 CTU: 4x4 minimum blocks, quad-tree splits only,
// SAO of luma and ALF with a fixed filter set on, no other tool.
struct MonoFixture
{
    vvcsyntax::SeqParameterSet sps;
    vvcsyntax::PicParameterSet pps;
    vvcsyntax::SliceHeaderParams sh;
    MonoFixture()
    {
        sps.chromaFormatIdc = 0;
        sps.bitDepth = 10;
        sps.log2CtuSize = 5;
        sps.log2MinCbSize = 2;
        sps.sao = sps.alf = true;
        pps.picWidth = 16;
        pps.picHeight = 8;
        pps.picWidthInCtbs = pps.picHeightInCtbs = 1;
        pps.tileColWidth = {1};
        pps.tileRowHeight = {1};
        sh.ctus = {0};
        sh.saoLuma = true;
        sh.alfEnabled = true;
    }
};

// The contexts the slice uses, with their initValue and shiftIdx, at the slice QP 26.
struct Contexts
{
    ContextModel saoType, alfCtb, split[2], mpm, notPlanar, cbfY, lastX, lastY, gt1;
    Contexts()
    {
        saoType.init(13, 4, 26);
        alfCtb.init(62, 0, 26);
        split[0].init(19, 12, 26);
        split[1].init(28, 13, 26);
        mpm.init(45, 6, 26);
        notPlanar.init(28, 5, 26); // second context: no ISP
        cbfY.init(15, 5, 26);
        lastX.init(13, 8, 26); // 4x4 luma, first prefix bin
        lastY.init(13, 8, 26);
        gt1.init(25, 9, 26); // first coefficient of the block
    }
};

// The slice data: the 8x8 block at (0, 0) split into four 4x4 planar units, the first with a
// DC level of 1, then one 8x8 planar unit at (8, 0). No chroma mode, chroma coded flags or
// chroma tree anywhere.
std::vector<uint8_t> MonoSliceData()
{
    Contexts c;
    Encoder e;
    e.encodeBin(c.saoType, 0); // SAO off in the CTU
    e.encodeBin(c.alfCtb, 1);  // ALF on, fixed filter set 5
    for (unsigned b : {0u, 1u, 0u, 1u})
        e.encodeBypass(b);
    e.encodeBin(c.split[0], 1); // 8x8 at (0, 0): quad split (implied, the only split allowed)
    for (int k = 0; k < 4; ++k) {
        e.encodeBin(c.mpm, 1);
        e.encodeBin(c.notPlanar, 0);
        e.encodeBin(c.cbfY, k == 0 ? 1 : 0);
        if (k == 0) {
            e.encodeBin(c.lastX, 0);
            e.encodeBin(c.lastY, 0);
            e.encodeBin(c.gt1, 0); // level 1
            e.encodeBypass(0);     // positive
        }
    }
    e.encodeBin(c.split[1], 0); // 8x8 at (8, 0): not split (its left neighbour is smaller)
    e.encodeBin(c.mpm, 1);
    e.encodeBin(c.notPlanar, 0);
    e.encodeBin(c.cbfY, 0);
    e.encodeTerminate(1);
    return e.finish();
}

// Keeps the decoded units and hands everything on to the reconstructor.
struct Recorder : vvcslice::SliceDataSink
{
    explicit Recorder(IntraPictureReconstructor& r) : recon(r) {}
    void ctu(vvcslice::CtuFilterParams const& p) override { recon.ctu(p); }
    void codingUnit(vvcslice::IntraCodingUnit const& cu) override
    {
        units.push_back(cu);
        recon.codingUnit(cu);
    }
    IntraPictureReconstructor& recon;
    std::vector<vvcslice::IntraCodingUnit> units;
};

} // namespace

TEST(VvcMonochrome, SliceDataWithoutChromaParsesAndReconstructsLumaOnly)
{
    MonoFixture f;
    std::vector<uint8_t> const data = MonoSliceData();
    IntraPictureReconstructor recon(f.sps, f.pps);
    ASSERT_TRUE(recon.ok()) << recon.error();
    recon.startSlice(f.sh, 0, nullptr);
    Recorder rec(recon);
    vvcslice::SliceParseResult const r =
        vvcslice::ParseIntraSliceData(data.data(), data.size(), f.sps, f.pps, f.sh, nullptr, &rec);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.ctus, 1);

    // Four 4x4 units (no chroma unit after them: the split keeps its single tree) and one 8x8.
    struct Unit
    {
        int x, y, w;
        size_t blocks;
    } const expected[] = {{0, 0, 4, 1}, {4, 0, 4, 0}, {0, 4, 4, 0}, {4, 4, 4, 0}, {8, 0, 8, 0}};
    ASSERT_EQ(rec.units.size(), std::size(expected));
    for (size_t i = 0; i < rec.units.size(); ++i) {
        vvcslice::IntraCodingUnit const& cu = rec.units[i];
        EXPECT_EQ(cu.tree, 2) << i;
        EXPECT_EQ(cu.x, expected[i].x) << i;
        EXPECT_EQ(cu.y, expected[i].y) << i;
        EXPECT_EQ(cu.width, expected[i].w) << i;
        EXPECT_EQ(cu.lumaMode, vvcslice::kPlanar) << i;
        EXPECT_EQ(cu.lfnstIdx, 0) << i;
        ASSERT_EQ(cu.blocks.size(), expected[i].blocks) << i;
    }
    vvcslice::TransformBlock const& b = rec.units[0].blocks[0];
    EXPECT_EQ(b.cIdx, 0);
    std::vector<int32_t> levels(16, 0);
    levels[0] = 1;
    EXPECT_EQ(b.levels, levels);

    recon.finishPicture();
    ASSERT_TRUE(recon.ok()) << recon.error();
    PelUnitBuf const pic = recon.picture().view();
    EXPECT_EQ(pic.chromaFormat, CHROMA_400);
    EXPECT_EQ(pic.plane(1).samples, nullptr);
    EXPECT_EQ(pic.plane(2).samples, nullptr);
    // The DC level scales to 408 at QP 26 (38 with the 10-bit offset) and transforms to a
    // residual of 13 on the mid-grey prediction; every later unit predicts planar from it and the
    // filters keep the picture flat.
    PlaneView const y = pic.plane(0);
    ASSERT_EQ(y.width, 16);
    ASSERT_EQ(y.height, 8);
    for (int yy = 0; yy < 8; ++yy)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(y.samples[yy * y.stride + x], 525) << x << "," << yy;

    // Its hash SEI has one plane.
    PictureHash hash;
    hash.numPlanes = 1;
    std::vector<uint16_t> const flat(16 * 8, 525);
    hash.planes[0] = ComputePlaneHash(PictureHashType::MD5, PlaneView{flat.data(), 16, 16, 8}, 10);
    PlaneView const planes[3] = {pic.plane(0), pic.plane(1), pic.plane(2)};
    int const depth[3] = {10, 10, 10};
    EXPECT_EQ(CheckPictureHash(hash, planes, depth), -1);
}

TEST(VvcMonochrome, OtherChromaFormatsAreRefused)
{
    // 4:2:2 and 4:4:4 are neither parsed nor reconstructed: both say so instead of misreading.
    for (int format : {2, 3}) {
        MonoFixture f;
        f.sps.chromaFormatIdc = format;
        std::vector<uint8_t> const data = MonoSliceData();
        vvcslice::SliceParseResult const r =
            vvcslice::ParseIntraSliceData(data.data(), data.size(), f.sps, f.pps, f.sh, nullptr, nullptr);
        EXPECT_FALSE(r.ok) << format;
        EXPECT_FALSE(r.error.empty()) << format;
        IntraPictureReconstructor recon(f.sps, f.pps);
        EXPECT_FALSE(recon.ok()) << format;
    }
}
