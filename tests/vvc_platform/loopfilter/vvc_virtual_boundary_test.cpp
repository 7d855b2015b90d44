// Virtual boundaries of the SPS or the picture header in the reconstruction: SAO's edge offset
// does not use samples across one.

#include "decoding/Recon.h"
#include "vvc_platform/vvc_recon_fixture.h"

#include <gtest/gtest.h>

#include <vector>

TEST(VvcVirtualBoundaries, SaoEdgeOffsetDoesNotReachAcrossThem)
{
    // A 64x64 10-bit picture of one CTU, deblocking off, horizontal edge offset on luma with +7
    // for local minima and -5 for local maxima. Columns 15..17 and 31..33 are 600, 500, 600 on a
    // background of 500: columns 16 and 32 are minima, 15, 17, 31 and 33 maxima.
    struct Case
    {
        char const* what;
        bool enabled, inSps;
        std::vector<int> spsX, phX;
        bool blocked; // a boundary at x 32
    };
    const Case cases[] = {
        {"picture header boundary", true, false, {}, {32}, true},
        {"SPS boundary", true, true, {32}, {}, true},
        {"the SPS's boundaries replace the picture header's", true, true, {48}, {32}, false},
        {"boundaries disabled", false, false, {}, {32}, false},
    };
    for (Case const& c : cases) {
        ReconFixture f;
        f.sps.sao = true;
        f.sps.virtualBoundariesEnabled = c.enabled;
        f.sps.virtualBoundariesPresent = c.inSps;
        f.sps.vbPosX = c.spsX;
        f.sh.saoLuma = true;
        f.sh.ph.vbPosX = c.phX;
        IntraPictureReconstructor recon(f.sps, f.pps);
        recon.startSlice(f.sh, 0, nullptr);
        vvcslice::CtuFilterParams sao;
        sao.saoType[0] = 2;
        sao.saoEoClass[0] = 0;
        sao.saoOffset[0][0] = 7;
        sao.saoOffset[0][3] = -5;
        recon.ctu(sao);
        ASSERT_TRUE(recon.ok()) << recon.error();
        PelStorage& pic = recon.picture();
        uint16_t* luma = pic.plane(0);
        int const stride = pic.planeWidth(0);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                luma[y * stride + x] = (x == 15 || x == 17 || x == 31 || x == 33) ? 600 : 500;
        recon.finishPicture();
        ASSERT_TRUE(recon.ok()) << recon.error();
        luma = pic.plane(0); // the filters leave the picture in other planes
        for (int y : {0, 20, 63}) {
            uint16_t const* row = luma + y * stride;
            EXPECT_EQ(row[16], 507) << c.what;
            EXPECT_EQ(row[15], 595) << c.what;
            EXPECT_EQ(row[33], 595) << c.what; // its neighbours are on its own side
            EXPECT_EQ(row[32], c.blocked ? 500 : 507) << c.what;
            EXPECT_EQ(row[31], c.blocked ? 600 : 595) << c.what;
        }
    }
}
