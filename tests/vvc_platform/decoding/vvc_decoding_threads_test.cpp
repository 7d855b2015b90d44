// Decoding on several threads gives what one thread gives: the same pictures, sample for sample,
// in the same output order, and the same hash outcome, also for pictures that do not match their
// hash.

#include "decoding/StreamCheck.h"
#include "util/WorkerPool.h"
#include "vvc_platform/vvc_test_streams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Decoded
{
    StreamCheckResult check;
    std::vector<int> pocs;         // output order
    std::vector<PlaneHash> hashes; // per output picture and plane
};

Decoded Decode(char const* name, int threads)
{
    vvcutil::SetDecodingThreads(threads);
    Decoded d;
    d.check = CheckStream(vvctest::StreamPath(name), [&](Picture const& pic) {
        d.pocs.push_back(pic.poc);
        PelUnitBuf const buf = pic.samples.view();
        for (int c = 0; c < 3 && !buf.empty(); ++c)
            d.hashes.push_back(ComputePlaneHash(PictureHashType::MD5, buf.plane(c), buf.bitDepth));
    });
    vvcutil::SetDecodingThreads(0);
    return d;
}

} // namespace

TEST(VvcDecodingThreads, SeveralThreadsGiveWhatOneGives)
{
    // ALF and CC-ALF, deblocking of a single tree, LMCS, several slices, wavefront entry points,
    // inter pictures that do not all match their hash, DMVR and BDOF.
    for (char const* name :
         {"ALF_C_KDDI_3.bit", "DEBLOCKING_E_Ericsson_3.bit", "APSLMCS_D_Dolby_1.bit", "SLICES_A_HUAWEI_3.bit",
          "WPP_A_Sharp_3.bit", "LTRP_A_ERICSSON_3.bit", "DMVR_B_KDDI_4.bit"}) {
        Decoded const one = Decode(name, 1);
        ASSERT_EQ(one.check.error, "") << name;
        ASSERT_FALSE(one.pocs.empty()) << name;
        for (int threads : {8}) {
            Decoded const many = Decode(name, threads);
            EXPECT_EQ(many.check.error, one.check.error) << name << ", " << threads << " threads";
            EXPECT_EQ(many.pocs, one.pocs) << name << ", " << threads << " threads";
            EXPECT_TRUE(many.hashes == one.hashes) << name << ", " << threads << " threads";
            EXPECT_EQ(many.check.hashes.checked, one.check.hashes.checked) << name;
            EXPECT_EQ(many.check.hashes.matched, one.check.hashes.matched) << name;
            EXPECT_EQ(many.check.hashes.firstMismatch, one.check.hashes.firstMismatch) << name;
            EXPECT_EQ(many.check.hashes.firstMismatchPlane, one.check.hashes.firstMismatchPlane) << name;
        }
    }
}
