// Decoding on several threads gives what one thread gives: the same pictures, sample for sample,
// in the same output order, and the same hash outcome, also for pictures that do not match their
// hash.

#include "decoding/StreamCheck.h"
#include "util/WorkerPool.h"
#include "vvc_platform/vvc_test_streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Decoded
{
    StreamCheckResult check;
    std::vector<int> pocs;         // output order
    std::vector<PlaneHash> hashes; // per output picture and plane
};

Decoded DecodeFile(std::string const& path, int threads)
{
    vvcutil::SetDecodingThreads(threads);
    Decoded d;
    d.check = CheckStream(path, [&](Picture const& pic) {
        d.pocs.push_back(pic.poc);
        PelUnitBuf const buf = pic.hasSamples() ? pic.samples.view() : PelUnitBuf();
        for (int c = 0; c < 3 && !buf.empty(); ++c)
            d.hashes.push_back(ComputePlaneHash(PictureHashType::MD5, buf.plane(c), buf.bitDepth));
    });
    vvcutil::SetDecodingThreads(0);
    return d;
}

Decoded Decode(char const* name, int threads)
{
    return DecodeFile(vvctest::StreamPath(name), threads);
}

void ExpectSame(Decoded const& many, Decoded const& one, std::string const& what)
{
    EXPECT_EQ(many.check.error, one.check.error) << what;
    EXPECT_EQ(many.pocs, one.pocs) << what;
    EXPECT_TRUE(many.hashes == one.hashes) << what;
    EXPECT_EQ(many.check.hashes.checked, one.check.hashes.checked) << what;
    EXPECT_EQ(many.check.hashes.matched, one.check.hashes.matched) << what;
    EXPECT_EQ(many.check.hashes.firstMismatch, one.check.hashes.firstMismatch) << what;
    EXPECT_EQ(many.check.hashes.firstMismatchPlane, one.check.hashes.firstMismatchPlane) << what;
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
        for (int threads : {8})
            ExpectSame(Decode(name, threads), one, std::string(name) + ", " + std::to_string(threads) + " threads");
    }
}

TEST(VvcDecodingThreads, PicturesThatReadFromAFailedPictureFailAlike)
{
    // The slice data of the first inter picture (a reference of most later ones) is damaged:
    // it fails, and so does every picture that reads its rows or its motion, on any number of
    // threads, while later pictures read it before it failed.
    std::vector<std::vector<uint8_t>> units = vvctest::ReadUnits(vvctest::StreamPath("DMVR_B_KDDI_4.bit"));
    int slices = 0;
    for (auto& u : units) {
        if (u.size() < 64 || (u[1] >> 3) > 12 || ++slices != 2)
            continue;
        for (size_t i = u.size() / 2; i < u.size() / 2 + 24; ++i)
            u[i] ^= 0xA5;
    }
    ASSERT_GE(slices, 2);
    std::string const path = ::testing::TempDir() + "vvc_damaged_reference.bit";
    {
        std::ofstream out(path, std::ios::binary);
        for (auto const& u : units) {
            static char const start[4] = {0, 0, 0, 1};
            out.write(start, 4);
            out.write(reinterpret_cast<char const*>(u.data()), std::streamsize(u.size()));
        }
    }
    Decoded const one = DecodeFile(path, 1);
    EXPECT_GT(one.check.hashes.pictures, one.check.hashes.checked + 1); // more than the damaged one fails
    EXPECT_GT(one.check.hashes.checked, 0);
    ExpectSame(DecodeFile(path, 8), one, "8 threads");
    std::remove(path.c_str());
}
