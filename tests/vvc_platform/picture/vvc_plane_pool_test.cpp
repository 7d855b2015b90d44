// Picture planes are reused: a plane given back serves a later picture of a size it fits, the
// free planes stay within their bound, and a storage made from a reused plane is grey as a fresh
// one.

#include "picture/Picture.h"
#include "picture/PlanePool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

TEST(VvcPlanePool, ReusesAPlaneForTheSameReservedSize)
{
    vvcpool::ReleaseFreePlanes();
    // Small planes reserve whole 32-byte units; picture-sized ones whole huge pages (on Linux).
    struct Case
    {
        char const* what;
        size_t returned, taken;
        bool reused;
    } const cases[] = {
        {"the same size", 1000, 1000, true},
        {"within the same 32 bytes", 1000, 1001, true},
        {"larger", 1000, 1100, false},
        {"smaller", 1000, 900, false},
#if defined(__linux__)
        {"a 1080p chroma plane and a larger one on the same huge page", 1104 * 684, 1 << 20, true},
#endif
    };
    for (Case const& c : cases) {
        vvcpool::Plane plane = vvcpool::TakePlane(c.returned);
        ASSERT_EQ(plane.size(), c.returned) << c.what;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(plane.data()) % 32, 0u) << c.what;
        EXPECT_GE(plane.reservedBytes(), c.returned * 2) << c.what;
        plane.data()[c.returned - 1] = 1; // the whole plane is writable
        uint16_t const* const data = plane.data();
        size_t const bytes = plane.reservedBytes();
        vvcpool::ReturnPlane(std::move(plane));
        EXPECT_TRUE(plane.empty()) << c.what;
        EXPECT_EQ(vvcpool::FreePlaneBytes(), bytes) << c.what;
        vvcpool::Plane const again = vvcpool::TakePlane(c.taken);
        EXPECT_EQ(again.size(), c.taken) << c.what;
        EXPECT_EQ(again.data() == data, c.reused) << c.what;
        EXPECT_EQ(vvcpool::FreePlaneBytes(), c.reused ? 0 : bytes) << c.what;
        vvcpool::ReleaseFreePlanes();
        EXPECT_EQ(vvcpool::FreePlaneBytes(), 0u);
    }
}

TEST(VvcPlanePool, KeepsFreePlanesWithinTheBoundOldestLeavingFirst)
{
    vvcpool::ReleaseFreePlanes();
    // Fresh planes are not touched here: their memory is never written.
    size_t const third = vvcpool::kMaxFreeBytes / 3 / sizeof(uint16_t) + 1;
    vvcpool::Plane planes[4];
    uint16_t const* data[4] = {};
    for (int i = 0; i < 4; ++i) {
        planes[i] = vvcpool::TakePlane(third);
        ASSERT_FALSE(planes[i].empty());
        data[i] = planes[i].data();
    }
    size_t const bytes = planes[0].reservedBytes();
    for (vvcpool::Plane& plane : planes) {
        vvcpool::ReturnPlane(std::move(plane));
        EXPECT_LE(vvcpool::FreePlaneBytes(), vvcpool::kMaxFreeBytes);
    }
    EXPECT_EQ(vvcpool::FreePlaneBytes(), 2 * bytes);
    // The two newest are kept.
    vvcpool::Plane const a = vvcpool::TakePlane(third), b = vvcpool::TakePlane(third);
    EXPECT_TRUE((a.data() == data[2] && b.data() == data[3]) || (a.data() == data[3] && b.data() == data[2]));
    vvcpool::ReleaseFreePlanes();
}

TEST(VvcPlanePool, StoragesOfReusedPlanesAreGrey)
{
    vvcpool::ReleaseFreePlanes();
    {
        PelStorage rec;
        ASSERT_TRUE(rec.create(CHROMA_420, 24, 16, 10));
        for (int c = 0; c < 3; ++c)
            std::fill_n(rec.plane(c), rec.planeWidth(c) * rec.planeHeight(c), uint16_t(7));
        uint16_t const* const luma = rec.plane(0);
        rec.destroy();
        ASSERT_TRUE(rec.create(CHROMA_420, 24, 16, 10));
        EXPECT_EQ(rec.plane(0), luma);
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < rec.planeWidth(c) * rec.planeHeight(c); ++i)
                ASSERT_EQ(rec.plane(c)[i], 512) << c << " " << i;
    }
    // A storage gives its planes back when it goes.
    EXPECT_GT(vvcpool::FreePlaneBytes(), 0u);
    {
        PaddedPelStorage pic;
        ASSERT_TRUE(pic.create(CHROMA_420, 24, 16, 8));
        std::fill_n(pic.origin(0) - pic.margin(0) * (pic.stride(0) + 1), pic.stride(0) * (16 + 2 * pic.margin(0)),
                    uint16_t(7));
        uint16_t const* const luma = pic.origin(0);
        pic.destroy();
        ASSERT_TRUE(pic.create(CHROMA_420, 24, 16, 8));
        EXPECT_EQ(pic.origin(0), luma);
        for (int c = 0; c < 3; ++c)
            for (int y = -pic.margin(c); y < pic.height(c) + pic.margin(c); ++y)
                for (int x = -pic.margin(c); x < pic.width(c) + pic.margin(c); ++x)
                    ASSERT_EQ(pic.origin(c)[y * pic.stride(c) + x], 128) << c << " " << x << "," << y;
    }
    vvcpool::ReleaseFreePlanes();
}

} // namespace
