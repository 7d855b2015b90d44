// Inter sample prediction of the VVC layer: interpolation filters and reference clamping (picture
// corner, padding, wrap-around), the weightings (uni, bi-average, BCW, explicit), DMVR, BDOF,
// PROF, GPM and CIIP. Expected values are worked out by hand from the decoding formulas.

#include "inter/InterPred.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

using namespace vvcinter;

namespace {

// A reference plane with its own storage; `pad` columns of garbage right of the picture make the
// stride larger than the width.
struct TestPlane
{
    int width, height, stride;
    std::vector<uint16_t> data;
    TestPlane(int w, int h, std::function<int(int, int)> const& f, int pad = 0)
        : width(w), height(h), stride(w + pad), data(size_t(stride) * h, 0x3ff)
    {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                data[size_t(y) * stride + x] = uint16_t(f(x, y));
    }
    RefPlane view() const { return RefPlane{data.data(), stride, width, height}; }
};

// A reference picture whose three planes are given (chroma may repeat luma for luma-only tests).
struct TestRef
{
    RefPicture ref;
    TestRef(TestPlane const& y, TestPlane const& cb, TestPlane const& cr)
    {
        ref.planes[0] = y.view();
        ref.planes[1] = cb.view();
        ref.planes[2] = cr.view();
    }
};

struct Out
{
    int w, h;
    std::vector<uint16_t> s[3];
    Out(int w_, int h_) : w(w_), h(h_)
    {
        s[0].assign(size_t(w) * h, 0xdead);
        s[1].assign(size_t(w / 2) * (h / 2), 0xdead);
        s[2].assign(size_t(w / 2) * (h / 2), 0xdead);
    }
    PredBuf buf()
    {
        PredBuf b;
        for (int c = 0; c < 3; c++) {
            b.samples[c] = s[c].data();
            b.stride[c] = c ? w / 2 : w;
        }
        return b;
    }
    int operator()(int c, int x, int y) const { return s[c][size_t(y) * (c ? w / 2 : w) + x]; }
};

InterPicture Picture(int w, int h, int bitDepth = 10)
{
    InterPicture p;
    p.width = w;
    p.height = h;
    p.bitDepth = bitDepth;
    return p;
}

InterBlock Uni(int x, int y, int w, int h, RefPicture const* ref, Mv mv)
{
    InterBlock b;
    b.x = x;
    b.y = y;
    b.width = w;
    b.height = h;
    b.useList[0] = true;
    b.ref[0] = ref;
    b.mv[0] = mv;
    return b;
}

InterBlock Bi(int x, int y, int w, int h, RefPicture const* r0, Mv mv0, RefPicture const* r1, Mv mv1)
{
    InterBlock b = Uni(x, y, w, h, r0, mv0);
    b.useList[1] = true;
    b.ref[1] = r1;
    b.mv[1] = mv1;
    return b;
}

RefClamp ClampOf(TestPlane const& p)
{
    RefClamp c;
    c.right = p.width - 1;
    c.bottom = p.height - 1;
    return c;
}

// Intermediate (14-bit) luma interpolation of one row of 8 samples from integer position (x, 8).
std::vector<int32_t> LumaRow(TestPlane const& p, int x, int xFrac, LumaFilter f)
{
    InterpScratch s;
    std::vector<int32_t> out(8);
    InterpolateLuma(p.view(), ClampOf(p), x, 8, xFrac, 0, 8, 1, 10, f, out.data(), 8, s);
    return out;
}

} // namespace

TEST(VvcInterPred, IntegerMotionCopiesTheReference)
{
    TestPlane y(32, 32, [](int x, int yy) { return 7 * x + 13 * yy; });
    TestPlane c(16, 16, [](int x, int yy) { return 500 + x - yy; });
    TestRef ref(y, c, c);
    InterPredictor pred;
    Out out(8, 8);
    // (2, 1) luma samples: chroma moves (1, 0.5) chroma samples, the half giving the mean of rows.
    ASSERT_TRUE(pred.predict(Picture(32, 32), Uni(8, 8, 8, 8, &ref.ref, {32, 16}), out.buf()));
    for (int yy = 0; yy < 8; yy++)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(out(0, x, yy), 7 * (x + 10) + 13 * (yy + 9));
    // Chroma at (4 + x + 1, 4 + y + 0.5): the 4-tap half filter on a ramp in y gives the midpoint.
    for (int yy = 0; yy < 4; yy++)
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(out(1, x, yy), 500 + (x + 5) - (yy + 4)) << x << "," << yy; // 500 + X - (Y + 0.5), rounded up
}

TEST(VvcInterPred, HalfSampleOfARampIsTheMidpoint)
{
    // Both half-sample filters are symmetric with 64 in total: on 4x they give 4x + 2.
    TestPlane y(32, 32, [](int x, int) { return 4 * x; });
    TestRef ref(y, y, y);
    InterPredictor pred;
    for (bool alt : {false, true}) {
        Out out(8, 8);
        InterBlock b = Uni(8, 8, 8, 8, &ref.ref, {8, 0});
        b.chroma = false;
        b.altHalfPel = alt;
        ASSERT_TRUE(pred.predict(Picture(32, 32), b, out.buf()));
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(out(0, x, 3), 4 * (x + 8) + 2) << alt;
    }
}

TEST(VvcInterPred, ImpulseResponseIsTheFilter)
{
    // An impulse of 64 at x = 10: the intermediate value at integer position X is
    // (64 c[13 - X]) >> 2 = 16 c[13 - X] at 10 bits.
    TestPlane p(32, 32, [](int x, int) { return x == 10 ? 64 : 0; });
    struct Case
    {
        LumaFilter filter;
        int frac;
        int taps[8];
    } const cases[] = {
        {LUMA_REGULAR, 8, {-1, 4, -11, 40, 40, -11, 4, -1}},
        {LUMA_ALT_HALF, 8, {0, 3, 9, 20, 20, 9, 3, 0}},
        {LUMA_ALT_HALF, 4, {-1, 4, -10, 58, 17, -5, 1, 0}}, // the alternative filter is for halves only
        {LUMA_AFFINE, 8, {0, 3, -11, 40, 40, -11, 3, 0}},
        {LUMA_AFFINE, 5, {0, 3, -11, 52, 26, -8, 2, 0}},
    };
    for (Case const& c : cases) {
        std::vector<int32_t> row = LumaRow(p, 6, c.frac, c.filter); // X = 6 .. 13
        for (int i = 0; i < 8; i++)
            EXPECT_EQ(row[size_t(i)], 16 * c.taps[7 - i]) << c.filter << " frac " << c.frac << " X " << 6 + i;
    }
}

TEST(VvcInterPred, FlatAreaStaysFlatAtEveryFraction)
{
    // Each filter phase sums to 64: a flat reference gives value << (14 - bitDepth) at every
    // fraction, in both directions.
    TestPlane p(40, 40, [](int, int) { return 333; });
    InterpScratch s;
    std::vector<int32_t> out(16);
    for (int f = 0; f < 16; f++)
        for (LumaFilter k : {LUMA_REGULAR, LUMA_ALT_HALF, LUMA_AFFINE}) {
            InterpolateLuma(p.view(), ClampOf(p), 10, 10, f, 15 - f, 4, 4, 10, k, out.data(), 4, s);
            for (int v : out)
                EXPECT_EQ(v, 333 * 16) << "frac " << f;
        }
    for (int f = 0; f < 32; f++) {
        InterpolateChroma(p.view(), ClampOf(p), 10, 10, f, 31 - f, 4, 4, 10, out.data(), 4, s);
        for (int v : out)
            EXPECT_EQ(v, 333 * 16) << "chroma frac " << f;
    }
}

TEST(VvcInterPred, ReferenceClampsAtThePictureCorner)
{
    // Stride larger than the width, the padding full of 0x3ff: nothing of it may be read.
    TestPlane y(16, 16, [](int x, int yy) { return 1 + x + 16 * yy; }, 8);
    TestRef ref(y, y, y);
    InterPredictor pred;
    Out out(8, 8);
    InterBlock b = Uni(0, 0, 8, 8, &ref.ref, {-2 * 16, -3 * 16});
    b.chroma = false;
    ASSERT_TRUE(pred.predict(Picture(16, 16), b, out.buf()));
    for (int yy = 0; yy < 8; yy++)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(out(0, x, yy), 1 + std::max(0, x - 2) + 16 * std::max(0, yy - 3));
    // Far outside beyond the bottom-right corner every tap reads the corner sample: any fraction
    // gives it back exactly.
    b = Uni(8, 8, 8, 8, &ref.ref, {40 * 16 + 5, 50 * 16 + 11});
    b.chroma = false;
    ASSERT_TRUE(pred.predict(Picture(16, 16), b, out.buf()));
    for (int yy = 0; yy < 8; yy++)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(out(0, x, yy), 1 + 15 + 16 * 15);
    // Half a sample right of the right edge: the last columns read only column 15, never the
    // padding beyond the width.
    b = Uni(8, 0, 8, 8, &ref.ref, {4 * 16 + 8, 0});
    b.chroma = false;
    ASSERT_TRUE(pred.predict(Picture(16, 16), b, out.buf()));
    for (int yy = 0; yy < 8; yy++) {
        EXPECT_EQ(out(0, 6, yy), 1 + 15 + 16 * yy);
        EXPECT_EQ(out(0, 7, yy), 1 + 15 + 16 * yy);
    }
}

TEST(VvcInterPred, WrapAroundReadsTheOtherSide)
{
    TestPlane y(32, 8, [](int x, int) { return 10 * x; });
    TestRef ref(y, y, y);
    InterPredictor pred;
    InterPicture pic = Picture(32, 8);
    InterBlock b = Uni(0, 0, 8, 4, &ref.ref, {-3 * 16, 0});
    b.chroma = false;
    Out plain(8, 4), wrapped(8, 4);
    ASSERT_TRUE(pred.predict(pic, b, plain.buf()));
    pic.wrapAround = true;
    pic.wrapOffset = 32;
    ASSERT_TRUE(pred.predict(pic, b, wrapped.buf()));
    int const expectPlain[8] = {0, 0, 0, 0, 10, 20, 30, 40};
    int const expectWrapped[8] = {290, 300, 310, 0, 10, 20, 30, 40}; // x - 3 < 0 reads x - 3 + 32
    for (int x = 0; x < 8; x++) {
        EXPECT_EQ(plain(0, x, 1), expectPlain[x]);
        EXPECT_EQ(wrapped(0, x, 1), expectWrapped[x]);
    }
    // Past the right edge it wraps back by the offset.
    b = Uni(24, 0, 8, 4, &ref.ref, {5 * 16, 0});
    b.chroma = false;
    ASSERT_TRUE(pred.predict(pic, b, wrapped.buf()));
    EXPECT_EQ(wrapped(0, 0, 0), 290);
    EXPECT_EQ(wrapped(0, 2, 0), 310);
    EXPECT_EQ(wrapped(0, 3, 0), 0);
    EXPECT_EQ(wrapped(0, 7, 0), 40);
}

TEST(VvcInterPred, BiAverageRoundsHalfUp)
{
    // 100 and 101 average to 100.5, which rounds to 101 at 8 and at 10 bits; the sum of two
    // negative intermediate values clips to 0, a large one to the maximum.
    for (int bd : {8, 10}) {
        int const s3 = 14 - bd;
        int32_t const p0[4] = {100 << s3, -100, ((1 << bd) - 1) << s3, 7 << s3};
        int32_t const p1[4] = {101 << s3, -100, (1 << s3) * 40 + ((1 << bd) - 1) * (1 << s3), 8 << s3};
        uint16_t out[4];
        BiAverage(p0, p1, 4, 4, 1, bd, out, 4);
        EXPECT_EQ(out[0], 101) << bd;
        EXPECT_EQ(out[1], 0) << bd;
        EXPECT_EQ(out[2], (1 << bd) - 1) << bd;
        EXPECT_EQ(out[3], 8) << bd;
    }
}

TEST(VvcInterPred, BcwAndExplicitWeights)
{
    int32_t const p0[1] = {100 << 4}, p1[1] = {200 << 4};
    uint16_t out[1];
    // w1 of 8 for list 1 and 8 - w1 for list 0, rounded half up at 10 bits.
    struct Bcw
    {
        int idx, expect;
    } const bcw[] = {
        {1, 163}, // (3 * 100 + 5 * 200) / 8 = 162.5
        {2, 138}, // (5 * 100 + 3 * 200) / 8 = 137.5
        {3, 225}, // (-2 * 100 + 10 * 200) / 8 = 225
        {4, 75},  // (10 * 100 - 2 * 200) / 8 = 75
    };
    for (Bcw const& c : bcw) {
        BiBcw(p0, p1, 1, 1, 1, 10, c.idx, out, 1);
        EXPECT_EQ(out[0], c.expect) << c.idx;
    }

    // Uni: weight 1.5 (6 at denominator 2), offset 4: 100 * 1.5 + 4.
    WeightParams a;
    a.log2Denom[0] = 2;
    a.weight[0] = 6;
    a.offset[0] = 4;
    WeightedPrediction(p0, nullptr, 1, 1, 1, 10, 0, &a, nullptr, out, 1);
    EXPECT_EQ(out[0], 154);
    // Bi: weights 1 and 2, offsets 4 and 8: (100 + 2 * 200) / 2 + (4 + 8) / 2 = 256, the rounding
    // of the half going down with the offsets' own half.
    WeightParams b0, b1;
    b0.log2Denom[0] = b1.log2Denom[0] = 2;
    b0.weight[0] = 4;
    b0.offset[0] = 4;
    b1.weight[0] = 8;
    b1.offset[0] = 8;
    WeightedPrediction(p0, p1, 1, 1, 1, 10, 0, &b0, &b1, out, 1);
    EXPECT_EQ(out[0], 256);
    // Chroma uses its own denominator and component.
    b0.log2Denom[1] = b1.log2Denom[1] = 0;
    b0.weight[1] = 1;
    b1.weight[1] = 1;
    b0.offset[1] = 0;
    b1.offset[1] = 0;
    WeightedPrediction(p0, p1, 1, 1, 1, 10, 1, &b0, &b1, out, 1);
    EXPECT_EQ(out[0], 150);
}

TEST(VvcInterPred, BdofOnFlatBlocksIsThePlainAverage)
{
    TestPlane a(64, 64, [](int, int) { return 100; }), b(64, 64, [](int, int) { return 103; });
    TestRef r0(a, a, a), r1(b, b, b);
    InterPredictor pred;
    Out out(16, 16);
    InterBlock blk = Bi(16, 16, 16, 16, &r0.ref, {5, 3}, &r1.ref, {-5, -3});
    blk.bdof = true;
    ASSERT_TRUE(pred.predict(Picture(64, 64), blk, out.buf()));
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++)
            EXPECT_EQ(out(0, x, y), 102); // 101.5 rounded up
}

TEST(VvcInterPred, BdofCorrectsAlongTheGradient)
{
    // List 0 a ramp of 512 per sample (gradient 16 after the >> 6), list 1 flat at 1024: the
    // mean gradient is 8 and the difference (p0 >> 4) - (p1 >> 4) = 32 k - 64 at bordered column
    // k. Over each 6x6 window the columns are k = 1, 1, 2, 3, 4, 4 (border positions take the
    // nearest inner sample): sGx2 = 36 * 8 = 288, sGxdI = -6 * (32 * 15 - 6 * 64) = -576, so
    // vx = (-576 * 4) >> 8 = -9, vy = 0, and the offset is -9 * (16 - 0) = -144:
    // (512 (x + 1) + 1024 - 144 + 16) >> 5 = 16 x + 44 (without it 16 x + 48).
    int32_t p0[6 * 6], p1[6 * 6];
    for (int j = 0; j < 6; j++)
        for (int k = 0; k < 6; k++) {
            p0[j * 6 + k] = 512 * k;
            p1[j * 6 + k] = 1024;
        }
    uint16_t out[16];
    BdofBlock(p0, p1, 6, 4, 4, 10, out, 4);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(out[y * 4 + x], 16 * x + 44) << x << "," << y;
}

TEST(VvcInterPred, DmvrFindsTheMirroredShift)
{
    // f = 2x + 5y + 100; list 0 holds f(x - 1), list 1 f(x + 1): only the mirrored offset (1, 0)
    // matches. With the SAD N |4 (dx - 1) + 10 dy| (N = 16 * 8 samples of every other row), the
    // unrefined cost is 4N less a quarter = 3N, the offset (2, 0) costs 4N, so the parabola puts
    // the minimum at 8 (3N - 4N) / 7N = -1.14, truncated to -1/16; vertically both neighbours
    // cost 10N: no sub-sample shift. Delta (15, 0); the refined average is f itself.
    TestPlane a(64, 64, [](int x, int y) { return 2 * (x - 1) + 5 * y + 100; });
    TestPlane b(64, 64, [](int x, int y) { return 2 * (x + 1) + 5 * y + 100; });
    TestRef r0(a, a, a), r1(b, b, b);
    InterPredictor pred;
    Out out(16, 16);
    InterBlock blk = Bi(16, 16, 16, 16, &r0.ref, {0, 0}, &r1.ref, {0, 0});
    blk.dmvr = true;
    DmvrResult res;
    ASSERT_TRUE(pred.predict(Picture(64, 64), blk, out.buf(), &res));
    ASSERT_EQ(res.numX, 1);
    ASSERT_EQ(res.numY, 1);
    EXPECT_EQ(res.delta[0].x, 15);
    EXPECT_EQ(res.delta[0].y, 0);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++)
            EXPECT_EQ(out(0, x, y), 2 * (16 + x) + 5 * (16 + y) + 100);
}

TEST(VvcInterPred, DmvrRefinedPredictionReadsOnlyTheUnrefinedBlockAndItsTaps)
{
    // A texture, list 1 holding it four luma (two chroma) samples further left, both vectors at
    // half a sample right: the mirrored search ends at (2, 0), so list 0 is predicted 2.5
    // samples right (1.25 chroma samples), past the reference block of the unrefined motion.
    // The refined prediction reads that block and its filter taps only ([x - 3, x + w + 3] for
    // luma, [x - 1, x + w + 1] for chroma), as if the reference repeated its edge beyond.
    auto tex = [](int x, int y) { return int(((unsigned(x) * 73856093u) ^ (unsigned(y) * 19349663u)) % 1024u); };
    TestPlane y0(64, 64, tex), y1(64, 64, [&](int x, int y) { return tex(x + 4, y); });
    TestPlane c0(32, 32, [&](int x, int y) { return tex(3 * x + 1, 5 * y); });
    TestPlane c1(32, 32, [&](int x, int y) { return tex(3 * (x + 2) + 1, 5 * y); });
    TestRef r0(y0, c0, c0), r1(y1, c1, c1);
    InterPredictor pred;
    Out out(16, 16);
    InterBlock blk = Bi(16, 16, 16, 16, &r0.ref, {8, 0}, &r1.ref, {8, 0});
    blk.dmvr = true;
    DmvrResult res;
    ASSERT_TRUE(pred.predict(Picture(64, 64), blk, out.buf(), &res));
    ASSERT_EQ(res.numX, 1);
    EXPECT_EQ(res.delta[0].x, 32);
    EXPECT_EQ(res.delta[0].y, 0);

    // The same refined vectors without DMVR, from references clamped to those blocks.
    auto clamped = [](TestPlane const& p, int lo, int hi) {
        return TestPlane(p.width, p.height, [&](int x, int y) {
            auto c = [&](int v) { return std::min(std::max(v, lo), hi); };
            return int(p.data[size_t(c(y)) * p.stride + c(x)]);
        });
    };
    TestPlane y0c = clamped(y0, 13, 35), y1c = clamped(y1, 13, 35), c0c = clamped(c0, 7, 17),
              c1c = clamped(c1, 7, 17);
    TestRef q0(y0c, c0c, c0c), q1(y1c, c1c, c1c);
    Out want(16, 16);
    ASSERT_TRUE(pred.predict(Picture(64, 64), Bi(16, 16, 16, 16, &q0.ref, {40, 0}, &q1.ref, {-24, 0}), want.buf()));
    for (int c = 0; c < 3; c++)
        EXPECT_EQ(out.s[c], want.s[c]) << "plane " << c;
}

TEST(VvcInterPred, DmvrKeepsTheMotionOfMatchingPredictions)
{
    // Identical predictions: cost 0 is below w * h, the search stops at once.
    std::vector<int32_t> p(20 * 20, 500);
    DmvrRefinement r = DmvrSearch(p.data() + 2 * 20 + 2, p.data() + 2 * 20 + 2, 20, 16, 16);
    EXPECT_EQ(r.delta.x, 0);
    EXPECT_EQ(r.delta.y, 0);
    EXPECT_EQ(r.minSad, 0);
}

TEST(VvcInterPred, ProfAddsTheGradientTimesTheMotionDifference)
{
    // dHorX = 64: 4 x * 64 - 6 * 64 = -384, -128, 128, 384 round (>> 8, halves toward zero) to
    // -1, 0, 0, 1; no vertical motion change.
    int diff[16][2];
    ProfDiffMv(64, 0, 0, 0, 10, diff);
    for (int y = 0; y < 4; y++) {
        EXPECT_EQ(diff[y * 4 + 0][0], -1);
        EXPECT_EQ(diff[y * 4 + 1][0], 0);
        EXPECT_EQ(diff[y * 4 + 2][0], 0);
        EXPECT_EQ(diff[y * 4 + 3][0], 1);
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(diff[y * 4 + x][1], 0);
    }
    // A ramp of 1024 per sample has the gradient 16 (k + 1) - 16 (k - 1) = 32.
    int32_t p[36];
    for (int j = 0; j < 6; j++)
        for (int k = 0; k < 6; k++)
            p[j * 6 + k] = 1024 * k;
    ProfBlock(p, 6, diff, 10);
    int const dI[4] = {-32, 0, 0, 32};
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(p[(y + 1) * 6 + x + 1], 1024 * (x + 1) + dI[x]);
}

TEST(VvcInterPred, GpmWeightsAlongTheSplitLine)
{
    // Partition 0: angle 0, distance 1. For 8x8 the line is vertical: weightIdx = (2 (x - 3) + 1) 8,
    // flipped: 32 + weightIdx = 16 x - 8, weight Clip3(0, 8, (16 x - 4) >> 3).
    int const col[8] = {0, 1, 3, 5, 7, 8, 8, 8};
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(GpmWeight(0, 8, 8, x, y), col[x]);
    // Partition 2: angle 2, distance 0: weightIdx = (2x - 7) 8 + (2y - 7)(-2), weight
    // Clip3(0, 8, (16 x - 4 y - 6) >> 3).
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(GpmWeight(2, 8, 8, x, y), std::min(8, std::max(0, (16 * x - 4 * y - 6) >> 3))) << x << "," << y;
    int angle = 0, distance = 0;
    GpmSplit(63, angle, distance);
    EXPECT_EQ(angle, 30);
    EXPECT_EQ(distance, 3);

    // Blending 100 (part A) with 200: weight w gives (100 w + 200 (8 - w)) / 8, rounded; chroma
    // takes the weight of luma (2x, 2y).
    std::vector<int32_t> pa(64, 100 << 4), pb(64, 200 << 4);
    uint16_t out[64];
    GpmBlend(pa.data(), pb.data(), 8, 8, 8, 0, 0, 0, 8, 8, 10, out, 8);
    int const blended[8] = {200, 188, 163, 138, 113, 100, 100, 100};
    for (int x = 0; x < 8; x++)
        EXPECT_EQ(out[8 + x], blended[x]);
    GpmBlend(pa.data(), pb.data(), 4, 4, 4, 1, 1, 0, 8, 8, 10, out, 4);
    int const chroma[4] = {200, 163, 113, 100}; // luma columns 0, 2, 4, 6
    for (int x = 0; x < 4; x++)
        EXPECT_EQ(out[4 + x], chroma[x]);
}

TEST(VvcInterPred, CiipWeightsFromTheNeighbours)
{
    EXPECT_EQ(CiipWeight(false, false), 1);
    EXPECT_EQ(CiipWeight(true, false), 2);
    EXPECT_EQ(CiipWeight(false, true), 2);
    EXPECT_EQ(CiipWeight(true, true), 3);
    uint16_t inter[2] = {100, 100};
    uint16_t const intra[2] = {200, 201};
    CiipBlend(inter, 2, intra, 2, 2, 1, 3);
    EXPECT_EQ(inter[0], 175); // (600 + 100 + 2) >> 2
    EXPECT_EQ(inter[1], 176); // (603 + 100 + 2) >> 2
}

TEST(VvcInterPred, RejectsUnusableBlocks)
{
    TestPlane y(16, 16, [](int, int) { return 1; });
    TestRef ref(y, y, y);
    InterPredictor pred;
    Out out(8, 8);
    EXPECT_FALSE(pred.predict(Picture(16, 16), Uni(0, 0, 256, 8, &ref.ref, {0, 0}), out.buf()));
    EXPECT_FALSE(pred.predict(Picture(16, 16), Uni(0, 0, 8, 8, nullptr, {0, 0}), out.buf()));
    RefPicture empty;
    EXPECT_FALSE(pred.predict(Picture(16, 16), Uni(0, 0, 8, 8, &empty, {0, 0}), out.buf()));
}

TEST(VvcInterPred, ScaledReferenceOfAnotherSize)
{
    // A 32x32 picture predicted from references of 64, 48 and 16 samples a side holding the ramp
    // 4x: sample x reads the reference at x times the ratio (2, 1.5, 0.5). The downsampling
    // filters at 2 and 1.5 are symmetric at the integer and half positions used here, so away
    // from the edge the ramp comes out exact: 8x, 6x and 2x. At column 0 of the 2x case the
    // 2x filter (-4, 2, 20, 28, 20, 2, -4, 0) smooths over the clamped edge: 20 * 4 + 2 * 8 -
    // 4 * 12 = 48, >> 2 = 12, (12 + 8) >> 4 = 1.
    struct Case
    {
        int refSize;
        int slope; // of the prediction per sample
    } const cases[] = {{64, 8}, {48, 6}, {16, 2}};
    for (Case const& c : cases) {
        TestPlane y(c.refSize, c.refSize, [](int x, int) { return 4 * x; });
        TestRef ref(y, y, y);
        ref.ref.scalingWidth = ref.ref.scalingHeight = c.refSize;
        InterPicture pic = Picture(32, 32);
        pic.scalingWidth = pic.scalingHeight = 32;
        InterPredictor pred;
        Out out(8, 8);
        InterBlock b = Uni(8, 8, 8, 8, &ref.ref, {0, 0});
        b.chroma = false;
        ASSERT_TRUE(pred.predict(pic, b, out.buf()));
        for (int yy = 0; yy < 8; yy++)
            for (int x = 0; x < 8; x++)
                EXPECT_EQ(out(0, x, yy), c.slope * (8 + x)) << c.refSize << ": " << x << "," << yy;
        b = Uni(0, 0, 8, 8, &ref.ref, {0, 0});
        b.chroma = false;
        ASSERT_TRUE(pred.predict(pic, b, out.buf()));
        if (c.refSize == 64)
            EXPECT_EQ(out(0, 0, 0), 1);
        EXPECT_EQ(out(0, 4, 0), c.slope * 4);
    }
}

TEST(VvcInterPred, ScaledChromaSitsWhereTheChromaSamplesAre)
{
    // A reference of half the size (16x16, chroma 8x8 holding the ramp 32x): chroma sample xC of
    // the block at chroma column 8 reads the reference at (8 + xC) / 2 = 4, 4.5, 5, 5.5 where
    // chroma is collocated with luma, 1/8 sample less where it is not (its phase offset scales
    // with the ratio): 3.875, 4.375, 4.875, 5.375. On the ramp the filters at phases 0, 16 and
    // 28 give 32 times the position; the one at 12/32, (-6, 46, 28, -4), weighs in at 13/32.
    struct Case
    {
        bool collocated;
        int expect[4];
    } const cases[] = {{true, {128, 144, 160, 176}}, {false, {124, 141, 156, 173}}};
    TestPlane y(16, 16, [](int x, int) { return 4 * x; });
    TestPlane c(8, 8, [](int x, int) { return 32 * x; });
    TestRef ref(y, c, c);
    ref.ref.scalingWidth = ref.ref.scalingHeight = 16;
    for (Case const& k : cases) {
        InterPicture pic = Picture(32, 32);
        pic.scalingWidth = pic.scalingHeight = 32;
        pic.chromaHorCollocated = k.collocated;
        InterPredictor pred;
        Out out(8, 8);
        InterBlock b = Uni(16, 16, 8, 8, &ref.ref, {0, 0});
        b.luma = false;
        ASSERT_TRUE(pred.predict(pic, b, out.buf()));
        for (int xC = 0; xC < 4; xC++)
            for (int yC = 0; yC < 4; yC++)
                EXPECT_EQ(out(1, xC, yC), k.expect[xC]) << k.collocated << ": " << xC << "," << yC;
    }
}

TEST(VvcInterPred, ReferenceOfAnotherPictureSizeIsNotRefinedNorWrapped)
{
    // References of 64 samples a side for a picture 48 wide, all scaling windows 48x64 at the
    // origin: the ratio is 1, so positions are the plain ones, but the references count as
    // resampled and neither DMVR/BDOF, PROF nor wrap-around applies to them.
    auto tex = [](int x, int y) { return int(((unsigned(x) * 73856093u) ^ (unsigned(y) * 19349663u)) % 1024u); };
    TestPlane y0(64, 64, tex), y1(64, 64, [&](int x, int y) { return tex(x + 4, y); });
    TestRef r0(y0, y0, y0), r1(y1, y1, y1);
    InterPicture pic = Picture(48, 64);
    pic.scalingWidth = r0.ref.scalingWidth = r1.ref.scalingWidth = 48;
    pic.scalingHeight = r0.ref.scalingHeight = r1.ref.scalingHeight = 64;
    InterPredictor pred;
    InterBlock blk = Bi(16, 16, 16, 16, &r0.ref, {8, 0}, &r1.ref, {8, 0});
    blk.chroma = false;
    blk.dmvr = blk.bdof = true;
    Out refined(16, 16), plain(16, 16), sameSize(16, 16);
    DmvrResult res;
    ASSERT_TRUE(pred.predict(pic, blk, refined.buf(), &res));
    EXPECT_EQ(res.numX, 0);
    InterBlock unrefined = blk;
    unrefined.dmvr = unrefined.bdof = false;
    ASSERT_TRUE(pred.predict(pic, unrefined, plain.buf()));
    EXPECT_EQ(refined.s[0], plain.s[0]);
    // The same block from references of the picture's own size is refined (the search moves).
    InterPicture own = Picture(64, 64);
    ASSERT_TRUE(pred.predict(own, blk, sameSize.buf(), &res));
    EXPECT_EQ(res.numX, 1);
    EXPECT_NE(sameSize.s[0], plain.s[0]);

    // PROF likewise: an affine unit whose motion changes across it (dHorX 64) on the texture.
    Mv const sub[4] = {Mv(8, 0), Mv(16, 0), Mv(8, 0), Mv(16, 0)};
    AffineBlock a;
    a.x = a.y = 16;
    a.width = a.height = 8;
    a.useList[0] = true;
    a.ref[0] = &r0.ref;
    a.subblockMv[0] = sub;
    a.dHorX[0] = 64;
    a.chroma = false;
    AffineBlock noProf = a;
    a.prof[0] = true;
    Out profiled(8, 8), unprofiled(8, 8), profiledOwn(8, 8);
    ASSERT_TRUE(pred.predictAffine(pic, a, profiled.buf()));
    ASSERT_TRUE(pred.predictAffine(pic, noProf, unprofiled.buf()));
    EXPECT_EQ(profiled.s[0], unprofiled.s[0]);
    ASSERT_TRUE(pred.predictAffine(own, a, profiledOwn.buf()));
    EXPECT_NE(profiledOwn.s[0], unprofiled.s[0]);

    // Wrap-around: a ramp reference 40 wide (window 32x8) for a picture 32 wide with the wrap
    // offset 32; the block 3 samples left of the edge clamps instead of reading the other side.
    TestPlane ramp(40, 8, [](int x, int) { return 10 * x; });
    TestRef wide(ramp, ramp, ramp);
    wide.ref.scalingWidth = 32;
    wide.ref.scalingHeight = 8;
    InterPicture wrapPic = Picture(32, 8);
    wrapPic.scalingWidth = 32;
    wrapPic.scalingHeight = 8;
    wrapPic.wrapAround = true;
    wrapPic.wrapOffset = 32;
    InterBlock b = Uni(0, 0, 8, 4, &wide.ref, {-3 * 16, 0});
    b.chroma = false;
    Out out(8, 4);
    ASSERT_TRUE(pred.predict(wrapPic, b, out.buf()));
    int const expect[8] = {0, 0, 0, 0, 10, 20, 30, 40};
    for (int x = 0; x < 8; x++)
        EXPECT_EQ(out(0, x, 1), expect[x]) << x;
}

TEST(VvcInterPred, ForwardMapOfTheInterLuma)
{
    // 10 bits, 64 per bin: bin 0 squeezed to 32 codewords, bin 1 widened to 96, the rest as they
    // are. 10 maps to 10 / 2 = 5; 100 to 32 + 36 * 1.5 = 86; 200 (bin 3) to 32 + 96 + 64 + 8 = 200.
    vvcsyntax::LmcsParams params;
    params.deltaCw[0] = -32;
    params.deltaCw[1] = 32;
    vvcsyntax::LmcsModel const lmcs = vvcsyntax::DeriveLmcs(params, 10);
    uint16_t pred[2][3] = {{10, 100, 200}, {0, 64, 1023}};
    ForwardMapLuma(lmcs, &pred[0][0], 3, 3, 2);
    EXPECT_EQ(pred[0][0], 5);
    EXPECT_EQ(pred[0][1], 86);
    EXPECT_EQ(pred[0][2], 200);
    EXPECT_EQ(pred[1][0], 0);
    EXPECT_EQ(pred[1][1], 32);
    EXPECT_EQ(pred[1][2], 1023);
}

TEST(VvcInterPred, AffineChromaTakesTheMeanOfTwoLumaSubblocks)
{
    // An 8x8 affine unit: luma subblocks (0,0) (1,0) (0,1) (1,1) with horizontal motion 1, 2, 3
    // and 4 luma samples, each copying the ramp 4x from its own place. The one 4x4 chroma
    // subblock moves by the mean of the top-left and bottom-right vectors, (16 + 64) / 2 = 40
    // thirty-seconds: 1 chroma sample and 8/32. The 4-tap (-4, 54, 16, -2) on the ramp 10X gives
    // 640 X + 10 * (4 + 16 - 4) = 640 X + 160, so (160 X + 40 + 8) >> 4 = 10 X + 3.
    TestPlane y(32, 32, [](int x, int) { return 4 * x; });
    TestPlane c(16, 16, [](int x, int) { return 10 * x; });
    TestRef ref(y, c, c);
    Mv const sub[4] = {Mv(16, 0), Mv(32, 0), Mv(48, 0), Mv(64, 0)};
    AffineBlock b;
    b.x = b.y = 8;
    b.width = b.height = 8;
    b.useList[0] = true;
    b.ref[0] = &ref.ref;
    b.subblockMv[0] = sub;
    InterPredictor pred;
    Out out(8, 8);
    ASSERT_TRUE(pred.predictAffine(Picture(32, 32), b, out.buf()));
    EXPECT_EQ(out(0, 0, 0), 4 * (8 + 1));
    EXPECT_EQ(out(0, 4, 0), 4 * (12 + 2));
    EXPECT_EQ(out(0, 0, 4), 4 * (8 + 3));
    EXPECT_EQ(out(0, 7, 7), 4 * (15 + 4));
    for (int x = 0; x < 4; x++)
        EXPECT_EQ(out(1, x, 0), 10 * (4 + x + 1) + 3) << x;
}

namespace {

// The interpolation of one sample straight from the equations: each tap's coordinates brought
// into the plane on their own (box, wrap, clamp), the first pass per tap row.
int32_t NaiveSample(RefPlane const& p, RefClamp const& c, int xInt, int yInt, int xFrac, int yFrac, int taps,
                    int8_t const* cH, int8_t const* cV, int bd)
{
    int const before = taps / 2 - 1, shift1 = std::min(4, bd - 8), shift3 = std::max(2, 14 - bd);
    auto at = [&](int x, int y) { return int(p.samples[ptrdiff_t(c.y(y)) * p.stride + c.x(x)]); };
    auto row = [&](int y) {
        int s = 0;
        for (int i = 0; i < taps; i++)
            s += cH[i] * at(xInt + i - before, y);
        return s >> shift1;
    };
    if (!xFrac && !yFrac)
        return at(xInt, yInt) << shift3;
    if (!yFrac)
        return row(yInt);
    if (!xFrac) {
        int s = 0;
        for (int i = 0; i < taps; i++)
            s += cV[i] * at(xInt, yInt + i - before);
        return s >> shift1;
    }
    int s = 0;
    for (int i = 0; i < taps; i++)
        s += cV[i] * row(yInt + i - before);
    return s >> 6;
}

} // namespace

TEST(VvcInterPred, BlockInterpolationMatchesThePerSampleEquations)
{
    // Random noise in a plane with a replicated margin of 20 samples (read directly where the
    // block stays within it) and random blocks anywhere around the picture, with and without
    // wrap-around and the DMVR box: the block kernels give what the per-sample equations give.
    int const w = 40, h = 24, m = 20, stride = w + 2 * m;
    std::vector<uint16_t> store(size_t(stride) * (h + 2 * m));
    unsigned seed = 7;
    auto rnd = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % unsigned(n));
    };
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            store[size_t(y + m) * stride + x + m] = uint16_t(rnd(1024));
    for (int y = -m; y < h + m; y++)
        for (int x = -m; x < w + m; x++)
            store[size_t(y + m) * stride + x + m] =
                store[size_t(std::min(std::max(y, 0), h - 1) + m) * stride + std::min(std::max(x, 0), w - 1) + m];
    RefPlane plane{store.data() + m * stride + m, stride, w, h, m};
    static int8_t const luma[16][8] = {
        {0, 0, 0, 64, 0, 0, 0, 0},        {0, 1, -3, 63, 4, -2, 1, 0},      {-1, 2, -5, 62, 8, -3, 1, 0},
        {-1, 3, -8, 60, 13, -4, 1, 0},    {-1, 4, -10, 58, 17, -5, 1, 0},   {-1, 4, -11, 52, 26, -8, 3, -1},
        {-1, 3, -9, 47, 31, -10, 4, -1},  {-1, 4, -11, 45, 34, -10, 4, -1}, {-1, 4, -11, 40, 40, -11, 4, -1},
        {-1, 4, -10, 34, 45, -11, 4, -1}, {-1, 4, -10, 31, 47, -9, 3, -1},  {-1, 3, -8, 26, 52, -11, 4, -1},
        {0, 1, -5, 17, 58, -10, 4, -1},   {0, 1, -4, 13, 60, -8, 3, -1},    {0, 1, -3, 8, 62, -5, 2, -1},
        {0, 1, -2, 4, 63, -3, 1, 0}};
    static int8_t const chroma[32][4] = {
        {0, 64, 0, 0},    {-1, 63, 2, 0},   {-2, 62, 4, 0},   {-2, 60, 7, -1},  {-2, 58, 10, -2}, {-3, 57, 12, -2},
        {-4, 56, 14, -2}, {-4, 55, 15, -2}, {-4, 54, 16, -2}, {-5, 53, 18, -2}, {-6, 52, 20, -2}, {-6, 49, 24, -3},
        {-6, 46, 28, -4}, {-5, 44, 29, -4}, {-4, 42, 30, -4}, {-4, 39, 33, -4}, {-4, 36, 36, -4}, {-4, 33, 39, -4},
        {-4, 30, 42, -4}, {-4, 29, 44, -5}, {-4, 28, 46, -6}, {-3, 24, 49, -6}, {-2, 20, 52, -6}, {-2, 18, 53, -5},
        {-2, 16, 54, -4}, {-2, 15, 55, -4}, {-2, 14, 56, -4}, {-2, 12, 57, -3}, {-2, 10, 58, -2}, {-1, 7, 60, -2},
        {0, 4, 62, -2},   {0, 2, 63, -1}};
    InterpScratch s;
    std::vector<int32_t> out(size_t(32) * 32);
    for (int iter = 0; iter < 400; iter++) {
        int const bw = 1 + rnd(24), bh = 1 + rnd(24);
        int const xInt = rnd(w + 60) - 30, yInt = rnd(h + 60) - 30, xFrac = rnd(16), yFrac = rnd(16);
        RefClamp c;
        c.right = w - 1;
        c.bottom = h - 1;
        if (iter % 3 == 1) {
            c.wrapOffset = w;
            c.picWidth = w;
        }
        if (iter % 4 == 2) {
            c.box = true;
            c.boxLeft = xInt - 1;
            c.boxRight = xInt + bw + 1;
            c.boxTop = yInt - 2;
            c.boxBottom = yInt + bh;
        }
        InterpolateLuma(plane, c, xInt, yInt, xFrac, yFrac, bw, bh, 10, LUMA_REGULAR, out.data(), 32, s);
        for (int y = 0; y < bh; y++)
            for (int x = 0; x < bw; x++)
                ASSERT_EQ(out[size_t(y) * 32 + x],
                          NaiveSample(plane, c, xInt + x, yInt + y, xFrac, yFrac, 8, luma[xFrac], luma[yFrac], 10))
                    << "iteration " << iter << " at " << x << "," << y;
        // The same block as chroma: 4 taps, fractions in 1/32.
        int const cxFrac = 2 * xFrac + (iter & 1), cyFrac = 2 * yFrac + ((iter >> 1) & 1);
        InterpolateChroma(plane, c, xInt, yInt, cxFrac, cyFrac, bw, bh, 10, out.data(), 32, s);
        for (int y = 0; y < bh; y++)
            for (int x = 0; x < bw; x++)
                ASSERT_EQ(out[size_t(y) * 32 + x], NaiveSample(plane, c, xInt + x, yInt + y, cxFrac, cyFrac, 4,
                                                               chroma[cxFrac], chroma[cyFrac], 10))
                    << "chroma iteration " << iter << " at " << x << "," << y;
    }
}
