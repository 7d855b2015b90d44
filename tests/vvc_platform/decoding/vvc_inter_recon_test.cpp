// Inter pictures reconstructed end to end: every picture of a committed low-delay stream (merge
// and AMVP units, DMVR and BDOF, intra pictures between them) matches its picture hash.

#include "decoding/StreamCheck.h"
#include "vvc_platform/vvc_test_streams.h"

#include <gtest/gtest.h>

TEST(VvcInterRecon, LowDelayStreamMatchesEveryPictureHash)
{
    StreamCheckResult const r = CheckStream(vvctest::StreamPath("DMVR_B_KDDI_4.bit"));
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.sliceDataError, "");
    EXPECT_EQ(r.hashes.checked, 11);
    EXPECT_EQ(r.hashes.matched, 11);
}
