// Arithmetic decoding of the VVC layer against the tests' arithmetic encoder (written from the
// encoding process): whatever mix of regular, bypass and terminating bins is encoded decodes to
// the same bins with the same context states.

#include "slice/Cabac.h"
#include "vvc_platform/vvc_cabac_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using vvctest::Encoder;

namespace {

enum class Kind { Regular, Bypass, Terminate };
struct Bin
{
    Kind kind;
    int ctx;
    unsigned value;
};

} // namespace

TEST(VvcCabac, ContextInitialisation)
{
    struct Case
    {
        int initValue, shiftIdx, qp;
        int p0, p1, shift0, shift1;
    };
    // initValue 35 has slope 0: the state does not depend on the QP. Others clip at 1 and 127;
    // the QP is clipped to 0..63.
    const Case cases[] = {
        {35, 4, 32, 55 << 3, 55 << 7, 3, 6},
        {35, 13, 0, 55 << 3, 55 << 7, 5, 9},
        {63, 0, 63, 127 << 3, 127 << 7, 2, 5},
        {0, 0, 63, 1 << 3, 1 << 7, 2, 5},
        {62, 5, 22, (((3 * 6) >> 1) + 109) << 3, (((3 * 6) >> 1) + 109) << 7, 3, 7},
        {25, 1, 80, 1 << 3, 1 << 7, 2, 6}, // QP 63: (-47 >> 1) + 19 = -5, clipped to 1
        {25, 1, 10, (((-1 * -6) >> 1) + 19) << 3, (((-1 * -6) >> 1) + 19) << 7, 2, 6},
    };
    for (Case const& c : cases) {
        ContextModel m;
        m.init(c.initValue, c.shiftIdx, c.qp);
        EXPECT_EQ(m.p0, c.p0) << c.initValue << " " << c.qp;
        EXPECT_EQ(m.p1, c.p1) << c.initValue << " " << c.qp;
        EXPECT_EQ(m.shift0, c.shift0);
        EXPECT_EQ(m.shift1, c.shift1);
    }
}

TEST(VvcCabac, DecodesWhatWasEncoded)
{
    std::mt19937 gen(7);
    for (int round = 0; round < 50; ++round) {
        // A few contexts of different rates and skews, bins biased per context.
        int const numCtx = 1 + int(gen() % 8);
        std::vector<ContextModel> enc(static_cast<size_t>(numCtx)), dec;
        std::vector<double> bias;
        for (auto& c : enc) {
            c.init(int(gen() % 64), int(gen() % 16), int(gen() % 64));
            bias.push_back((gen() % 1000) / 1000.0);
        }
        dec = enc;
        std::vector<Bin> bins;
        int const count = 1 + int(gen() % 5000);
        for (int i = 0; i < count; ++i) {
            unsigned const r = gen() % 100;
            if (r < 70) {
                int const c = int(gen() % unsigned(numCtx));
                bins.push_back({Kind::Regular, c, (gen() % 1000) / 1000.0 < bias[size_t(c)] ? 1u : 0u});
            } else if (r < 98) {
                bins.push_back({Kind::Bypass, 0, unsigned(gen() & 1)});
            } else {
                bins.push_back({Kind::Terminate, 0, 0});
            }
        }
        bins.push_back({Kind::Terminate, 0, 1});

        Encoder e;
        for (Bin const& b : bins) {
            if (b.kind == Kind::Regular)
                e.encodeBin(enc[size_t(b.ctx)], b.value);
            else if (b.kind == Kind::Bypass)
                e.encodeBypass(b.value);
            else
                e.encodeTerminate(b.value);
        }
        const std::vector<uint8_t> data = e.finish();

        CabacReader r;
        r.init(data.data(), data.size());
        size_t mismatches = 0;
        for (Bin const& b : bins) {
            unsigned const v = b.kind == Kind::Regular  ? r.decodeBin(dec[size_t(b.ctx)])
                               : b.kind == Kind::Bypass ? r.decodeBypass()
                                                        : r.decodeTerminate();
            mismatches += v != b.value ? 1 : 0;
        }
        EXPECT_EQ(mismatches, 0u) << "round " << round;
        EXPECT_FALSE(r.overrun()) << "round " << round;
        // After the final terminating bin the last bit read is the stop bit: the data ends in
        // the byte that holds it.
        EXPECT_EQ((r.bitPosition() + 7) / 8, data.size()) << "round " << round;
        for (int c = 0; c < numCtx; ++c) {
            EXPECT_EQ(dec[size_t(c)].p0, enc[size_t(c)].p0);
            EXPECT_EQ(dec[size_t(c)].p1, enc[size_t(c)].p1);
        }
    }
}

TEST(VvcCabac, ReadsPastTheDataAreRecordedNotMade)
{
    const uint8_t data[2] = {0xA5, 0x5A};
    CabacReader r;
    r.init(data, sizeof data);
    EXPECT_FALSE(r.overrun());
    ContextModel ctx;
    ctx.init(35, 4, 32);
    for (int i = 0; i < 64; ++i)
        i % 2 ? r.decodeBypass() : r.decodeBin(ctx);
    EXPECT_TRUE(r.overrun());
    CabacReader none;
    none.init(nullptr, 100);
    none.decodeBypassBins(32);
    EXPECT_TRUE(none.overrun());
}

// Runs of bypass bins decoded at once give the bins, the position and the overrun that single
// bypass bins give, on any data: arbitrary bytes (also ones whose first 9 bits exceed the
// range, which no encoder writes) and runs that reach past the end of the data.
TEST(VvcCabac, BypassRunsMatchSingleBins)
{
    std::mt19937 gen(11);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(size_t(gen() % 40));
        for (auto& b : data)
            b = uint8_t(gen());
        if (round % 4 == 0 && data.size() >= 2)
            data[0] = data[1] = 0xFF; // offset 511 against the range 510
        CabacReader runs, single;
        runs.init(data.data(), data.size());
        single.init(data.data(), data.size());
        ContextModel ctxA, ctxB;
        ctxA.init(int(gen() % 64), int(gen() % 16), 32);
        ctxB = ctxA;
        for (int step = 0; step < 40; ++step) {
            if (gen() % 3 == 0) {
                ASSERT_EQ(runs.decodeBin(ctxA), single.decodeBin(ctxB)) << "round " << round << " step " << step;
                continue;
            }
            int const n = int(gen() % 33);
            uint32_t expected = 0;
            for (int i = 0; i < n; ++i)
                expected = (expected << 1) | single.decodeBypass();
            ASSERT_EQ(runs.decodeBypassBins(n), expected) << "round " << round << " step " << step << " n " << n;
            ASSERT_EQ(runs.bitPosition(), single.bitPosition()) << "round " << round << " step " << step;
            ASSERT_EQ(runs.overrun(), single.overrun()) << "round " << round << " step " << step;
        }
    }
}

// At the end of the data: every bit is counted once, the position stops at the last bit, and
// the overrun is set by the first bin that needs a bit beyond it, for data ending anywhere
// relative to the reader's eight-byte loads.
TEST(VvcCabac, PositionAndOverrunAtTheEndOfTheData)
{
    for (size_t size = 0; size <= 19; ++size) {
        std::vector<uint8_t> data(size, 0x5C);
        CabacReader r;
        r.init(data.data(), data.size());
        uint64_t const bits = uint64_t(size) * 8;
        EXPECT_EQ(r.overrun(), bits < 9) << size;
        for (uint64_t read = 9; read < bits + 3; ++read) {
            ASSERT_EQ(r.bitPosition(), std::min(read, bits)) << size << " bytes, " << read << " bits";
            ASSERT_EQ(r.bytePosition(), size_t(std::min(read, bits) / 8));
            ASSERT_EQ(r.overrun(), read > bits) << size << " bytes, " << read << " bits";
            r.decodeBypass();
        }
    }
}
