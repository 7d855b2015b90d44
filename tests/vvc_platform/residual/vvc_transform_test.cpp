// Residual reconstruction of the VVC layer: scaling of coefficient levels, scaling matrices,
// inverse DCT-II / DST-VII / DCT-VIII, LFNST, transform selection and the residuals that skip
// the transform.

#include "residual/Dequant.h"
#include "residual/Transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace vvcresidual;

namespace {

using Block = std::vector<int32_t>;

std::string Name(int trType)
{
    return trType == kDct2 ? "DCT-II" : (trType == kDst7 ? "DST-VII" : "DCT-VIII");
}

// Orthonormal basis function k of a transform type at sample n, from the definitions.
double Basis(int trType, int n, int k, int pos)
{
    double const pi = std::acos(-1.0);
    if (n == 1)
        return 1.0;
    switch (trType) {
    case kDct2: return k == 0 ? std::sqrt(1.0 / n) : std::sqrt(2.0 / n) * std::cos(pi * (2 * pos + 1) * k / (2.0 * n));
    case kDst7: return std::sqrt(4.0 / (2 * n + 1)) * std::sin(pi * (2 * k + 1) * (pos + 1) / (2 * n + 1.0));
    default: return std::sqrt(4.0 / (2 * n + 1)) * std::cos(pi * (2 * k + 1) * (2 * pos + 1) / (4 * n + 2.0));
    }
}

// ---- Transformation matrices ----

TEST(VvcTransformMatrix, RowsMatchThePublishedMatrices)
{
    struct Row
    {
        int trType, size, k;
        std::vector<int> values; // the first values.size() entries of row k
    };
    const Row rows[] = {
        {kDct2, 2, 1, {64, -64}},
        {kDct2, 4, 1, {83, 36, -36, -83}},
        {kDct2, 4, 3, {36, -83, 83, -36}},
        {kDct2, 8, 1, {89, 75, 50, 18, -18, -50, -75, -89}},
        {kDct2, 16, 1, {90, 87, 80, 70, 57, 43, 25, 9, -9, -25, -43, -57, -70, -80, -87, -90}},
        {kDct2, 32, 1, {90, 90, 88, 85, 82, 78, 73, 67, 61, 54, 46, 38, 31, 22, 13, 4, -4, -13}},
        {kDct2, 32, 31, {4, -13, 22, -31, 38, -46, 54, -61, 67, -73, 78, -82, 85, -88, 90, -90}},
        {kDct2, 64, 0, {64, 64, 64, 64}},
        {kDct2, 64, 1, {91, 90, 90, 90, 88, 87, 86, 84, 83, 81, 79, 77, 73, 71, 69, 65}},
        {kDct2, 64, 3, {90, 88, 84, 79, 71, 62, 52, 41, 28, 15, 2, -11, -24, -37, -48, -59}},
        {kDct2, 64, 63, {2, -7, 11, -15, 20, -24, 28, -33, 37, -41, 44, -48, 52, -56, 59, -62}},
        {kDst7, 4, 0, {29, 55, 74, 84}},
        {kDst7, 4, 1, {74, 74, 0, -74}},
        {kDst7, 4, 3, {55, -84, 74, -29}},
        {kDst7, 8, 2, {71, 85, 32, -46, -86, -60, 17, 78}},
        {kDst7, 16, 1, {25, 48, 68, 81, 88, 88, 81, 68, 48, 25, 0, -25, -48, -68, -81, -88}},
        {kDst7, 32, 31, {9,  -17, 26, -34, 42, -50, 56, -63, 68, -74, 78, -82, 85, -87, 89, -90,
                         90, -88, 86, -84, 80, -77, 72, -66, 60, -53, 46, -38, 30, -21, 13, -4}},
        {kDct8, 4, 0, {84, 74, 55, 29}},
        {kDct8, 4, 3, {29, -74, 84, -55}},
        {kDct8, 8, 1, {85, 60, 17, -32, -71, -86, -78, -46}},
        {kDct8, 16, 2, {87, 68, 33, -8, -48, -77, -88, -81, -55, -17, 25, 62, 85, 88, 73, 40}},
        {kDct8, 32, 1, {90,  87,  84,  78,  72,  63,  53,  42,  30,  17,  4,   -9,  -21, -34, -46, -56,
                        -66, -74, -80, -85, -88, -90, -89, -86, -82, -77, -68, -60, -50, -38, -26, -13}},
    };
    for (auto const& r : rows) {
        int8_t const* m = TransformMatrix(r.trType, r.size);
        ASSERT_NE(m, nullptr) << Name(r.trType) << " " << r.size;
        for (size_t n = 0; n < r.values.size(); ++n)
            EXPECT_EQ(m[r.k * r.size + int(n)], r.values[n])
                << Name(r.trType) << " " << r.size << " row " << r.k << " entry " << n;
    }
    EXPECT_EQ(TransformMatrix(kDst7, 64), nullptr);
    EXPECT_EQ(TransformMatrix(kDct8, 2), nullptr);
    EXPECT_EQ(TransformMatrix(kDct2, 128), nullptr);
    EXPECT_EQ(TransformMatrix(3, 4), nullptr);
}

TEST(VvcTransformMatrix, EveryEntryIsTheScaledDefinitionWithinTwo)
{
    for (int trType : {kDct2, kDst7, kDct8})
        for (int n = 2; n <= 64; n *= 2) {
            int8_t const* m = TransformMatrix(trType, n);
            if (!m)
                continue;
            for (int k = 0; k < n; ++k)
                for (int pos = 0; pos < n; ++pos) {
                    double const expected = 64.0 * std::sqrt(double(n)) * Basis(trType, n, k, pos);
                    ASSERT_NEAR(m[k * n + pos], expected, 2.0)
                        << Name(trType) << " " << n << " [" << k << "][" << pos << "]";
                }
        }
}

// ---- Inverse transform ----

TEST(VvcInverseTransform, DcOnlyGivesAFlatBlockAtEverySize)
{
    int const sizes[] = {1, 2, 4, 8, 16, 32, 64};
    for (int w : sizes)
        for (int h : sizes) {
            if (w == 1 && h == 1)
                continue;
            for (int dc : {64, -1000, 32767}) {
                Block d(size_t(w * h), 0), res(size_t(w * h), 12345);
                d[0] = dc;
                ASSERT_TRUE(InverseTransform(d.data(), w, w, h, kDct2, kDct2, false, 10, res.data(), w));
                for (int i = 0; i < w * h; ++i)
                    ASSERT_EQ(res[size_t(i)], res[0]) << w << "x" << h << " dc " << dc << " sample " << i;
            }
        }
    // 8x8, DC 64, 10 bits: (64 * 64 + 64) >> 7 = 32, then (64 * 32 + 512) >> 10 = 2.
    Block d(64, 0), res(64, 0);
    d[0] = 64;
    ASSERT_TRUE(InverseTransform(d.data(), 8, 8, 8, kDct2, kDct2, false, 10, res.data(), 8));
    EXPECT_EQ(res[0], 2);
    // 1x16 has the gain of the 2-D transform of the same area: (64 * 64 + 1024) >> 11 = 2.
    Block d1(16, 0), res1(16, 0);
    d1[0] = 64;
    ASSERT_TRUE(InverseTransform(d1.data(), 1, 1, 16, kDct2, kDct2, false, 10, res1.data(), 1));
    EXPECT_EQ(res1[0], 2);
}

// A band-limited residual, its forward transform from the definitions in double precision,
// scaled to the decoder's coefficient scale, comes back through the integer inverse.
TEST(VvcInverseTransform, InverseOfTheDefinitionsForwardRoundTrips)
{
    struct Case
    {
        int w, h, trHor, trVer;
    };
    std::vector<Case> cases;
    int const sizes[] = {1, 2, 4, 8, 16, 32, 64};
    for (int w : sizes)
        for (int h : sizes)
            if (!(w == 1 && h == 1) && !(w == 1 && h == 2) && !(w == 2 && h == 1))
                cases.push_back({w, h, kDct2, kDct2});
    for (int w : {4, 8, 16, 32})
        for (int h : {4, 8, 16, 32})
            for (int th : {kDst7, kDct8})
                for (int tv : {kDct2, kDst7, kDct8})
                    cases.push_back({w, h, th, tv});
    cases.push_back({1, 16, kDct2, kDst7}); // intra sub-partitions one sample wide
    cases.push_back({16, 1, kDst7, kDct2});

    std::mt19937 rng(20);
    int const bitDepth = 10;
    for (auto const& c : cases) {
        int nzW = 0, nzH = 0;
        NonZeroTransformSize(c.w, c.h, c.trHor, c.trVer, false, nzW, nzH);
        std::uniform_real_distribution<double> coef(-150.0, 150.0);
        std::vector<double> cf(size_t(nzW * nzH));
        for (auto& v : cf)
            v = coef(rng);
        // Residual from the coefficients, rounded to integers.
        Block r(size_t(c.w * c.h));
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                double s = 0;
                for (int k = 0; k < nzH; ++k)
                    for (int l = 0; l < nzW; ++l)
                        s += cf[size_t(k * nzW + l)] * Basis(c.trVer, c.h, k, y) * Basis(c.trHor, c.w, l, x);
                r[size_t(y * c.w + x)] = int32_t(std::lround(s));
            }
        // Forward transform of the integer residual, to the decoder's scale.
        double const scale = std::ldexp(1.0, 27 - bitDepth) / (4096.0 * std::sqrt(double(c.w * c.h)));
        Block d(size_t(c.w * c.h), 0);
        for (int k = 0; k < nzH; ++k)
            for (int l = 0; l < nzW; ++l) {
                double s = 0;
                for (int y = 0; y < c.h; ++y)
                    for (int x = 0; x < c.w; ++x)
                        s += r[size_t(y * c.w + x)] * Basis(c.trVer, c.h, k, y) * Basis(c.trHor, c.w, l, x);
                d[size_t(k * c.w + l)] = int32_t(std::lround(s * scale));
            }
        Block res(size_t(c.w * c.h), 0);
        ASSERT_TRUE(InverseTransform(d.data(), c.w, c.w, c.h, c.trHor, c.trVer, false, bitDepth, res.data(), c.w));
        int worst = 0, peak = 0;
        for (size_t i = 0; i < r.size(); ++i) {
            worst = std::max(worst, std::abs(res[i] - r[i]));
            peak = std::max(peak, std::abs(r[i]));
        }
        EXPECT_LE(worst, 5) << c.w << "x" << c.h << " " << Name(c.trHor) << " / " << Name(c.trVer);
    }
}

// The 2-D transform skips coefficient rows and columns after the last non-zero one; the result
// equals the plain separable computation with the one-dimensional transform.
TEST(VvcInverseTransform, SparseBlocksMatchThePlainSeparableComputation)
{
    struct Case
    {
        int w, h, trHor, trVer;
        std::vector<std::pair<int, int>> nonZero; // (x, y)
    };
    const Case cases[] = {{16, 16, kDct2, kDct2, {{2, 4}}},
                          {16, 8, kDst7, kDct8, {{0, 0}, {2, 1}, {1, 6}}},
                          {64, 32, kDct2, kDct2, {{30, 0}, {5, 3}}},
                          {8, 32, kDct8, kDct2, {{7, 31}}},
                          {4, 4, kDst7, kDst7, {{3, 3}}},
                          {32, 32, kDct2, kDct2, {}}};
    for (auto const& c : cases) {
        Block d(size_t(c.w * c.h), 0);
        int v = 300;
        for (auto const& p : c.nonZero) {
            d[size_t(p.second * c.w + p.first)] = v;
            v = -v / 2 - 7;
        }
        Block res(d.size(), 55);
        ASSERT_TRUE(InverseTransform(d.data(), c.w, c.w, c.h, c.trHor, c.trVer, false, 10, res.data(), c.w));
        // Plain: every column, clip, every row, shift.
        Block e(d.size(), 0), expected(d.size(), 0);
        for (int x = 0; x < c.w; ++x)
            ASSERT_TRUE(InverseTransform1D(c.trVer, c.h, c.h, d.data() + x, c.w, e.data() + x, c.w));
        for (auto& t : e)
            t = std::min(std::max((t + 64) >> 7, kCoeffMin), kCoeffMax);
        for (int y = 0; y < c.h; ++y)
            ASSERT_TRUE(InverseTransform1D(c.trHor, c.w, c.w, e.data() + y * c.w, 1, expected.data() + y * c.w, 1));
        for (auto& t : expected)
            t = (t + 512) >> 10;
        EXPECT_EQ(res, expected) << c.w << "x" << c.h;
    }
}

TEST(VvcInverseTransform, CoefficientsInTheZeroOutRegionAreNotRead)
{
    // A coefficient at horizontal frequency 20 of a 32x32 block: DCT-II uses it, DST-VII keeps
    // only the first 16 frequencies; DCT-II 64 keeps only the first 32.
    struct Case
    {
        int size, trType, x;
        bool used;
    };
    const Case cases[] = {{32, kDct2, 20, true},
                          {32, kDst7, 20, false},
                          {32, kDct8, 15, true},
                          {64, kDct2, 31, true},
                          {64, kDct2, 40, false}};
    for (auto const& c : cases) {
        Block d(size_t(c.size * c.size), 0), res(d.size(), 0);
        d[size_t(c.x)] = 2000;
        ASSERT_TRUE(InverseTransform(d.data(), c.size, c.size, c.size, c.trType, kDct2, false, 10, res.data(), c.size));
        bool any = false;
        for (int32_t v : res)
            any = any || v != 0;
        EXPECT_EQ(any, c.used) << c.size << " " << Name(c.trType) << " x " << c.x;
    }
    // After LFNST only the top-left 4x4 (blocks 4 wide or high) or 8x8 is read.
    Block d(16 * 16, 0), res(d.size(), 0);
    d[9 * 16 + 0] = 2000;
    ASSERT_TRUE(InverseTransform(d.data(), 16, 16, 16, kDct2, kDct2, true, 10, res.data(), 16));
    for (int32_t v : res)
        ASSERT_EQ(v, 0);
}

TEST(VvcInverseTransform, IntermediateValuesAreClippedTo16Bits)
{
    // 4x4, d[0][0] = d[0][1] = 32767 (vertical frequencies 0 and 1 of column 0): the first stage
    // gives (147 * 32767 + 64) >> 7 = 37631 at row 0, clipped to 32767; row 0 of the residual is
    // then (64 * 32767 + 512) >> 10 = 2048 (2352 without the clip).
    Block d(16, 0), res(16, 0);
    d[0] = 32767;
    d[4] = 32767;
    ASSERT_TRUE(InverseTransform(d.data(), 4, 4, 4, kDct2, kDct2, false, 10, res.data(), 4));
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(res[size_t(x)], 2048);
}

TEST(VvcInverseTransform, ExtremeInputsStayBounded)
{
    int const sizes[] = {1, 2, 4, 8, 16, 32, 64};
    for (int trType : {kDct2, kDst7, kDct8})
        for (int w : sizes)
            for (int h : sizes) {
                int const th = (w >= 4 && w <= 32) ? trType : kDct2;
                int const tv = (h >= 4 && h <= 32) ? trType : kDct2;
                if (w * h < 4)
                    continue;
                for (int pattern = 0; pattern < 3; ++pattern) {
                    // Out-of-range inputs are taken at the coefficient range's ends.
                    Block d(size_t(w * h));
                    for (int i = 0; i < w * h; ++i)
                        d[size_t(i)] = pattern == 0 ? INT32_MAX
                                                    : (pattern == 1 ? ((i & 1) ? INT32_MIN : INT32_MAX)
                                                                    : ((i * 7919) % 3 - 1) * 32768);
                    Block res(d.size(), 0);
                    ASSERT_TRUE(InverseTransform(d.data(), w, w, h, th, tv, false, 10, res.data(), w));
                    for (int32_t v : res)
                        ASSERT_LE(std::abs(v), (32768 * 91 * 64) >> 10) << w << "x" << h;
                }
            }
}

TEST(VvcInverseTransform, UnsupportedBlocksAreRefused)
{
    Block d(64 * 64, 1), res(64 * 64, 0);
    EXPECT_FALSE(InverseTransform(d.data(), 64, 64, 64, kDst7, kDct2, false, 10, res.data(), 64));
    EXPECT_FALSE(InverseTransform(d.data(), 12, 12, 4, kDct2, kDct2, false, 10, res.data(), 12));
    EXPECT_FALSE(InverseTransform(d.data(), 1, 1, 1, kDct2, kDct2, false, 10, res.data(), 1));
    EXPECT_FALSE(InverseTransform(d.data(), 4, 4, 4, kDct2, kDct2, false, 7, res.data(), 4));
    EXPECT_FALSE(InverseTransform(nullptr, 4, 4, 4, kDct2, kDct2, false, 10, res.data(), 4));
    for (int32_t v : res)
        ASSERT_EQ(v, 0);
}

// ---- Transform selection ----

TEST(VvcTransformSelection, TypesFollowTheCodingTools)
{
    struct Case
    {
        char const* what;
        MtsSelection sel;
        int w, h, hor, ver;
    };
    auto base = [] {
        MtsSelection s;
        s.spsMtsEnabled = true;
        s.spsExplicitMtsIntra = true;
        return s;
    };
    auto with = [&](auto f) {
        MtsSelection s = base();
        f(s);
        return s;
    };
    const Case cases[] = {
        {"explicit, mts_idx 0", base(), 8, 8, kDct2, kDct2},
        {"explicit, mts_idx 1", with([](MtsSelection& s) { s.mtsIdx = 1; }), 8, 8, kDst7, kDst7},
        {"explicit, mts_idx 2", with([](MtsSelection& s) { s.mtsIdx = 2; }), 8, 8, kDct8, kDst7},
        {"explicit, mts_idx 3", with([](MtsSelection& s) { s.mtsIdx = 3; }), 8, 8, kDst7, kDct8},
        {"explicit, mts_idx 4", with([](MtsSelection& s) { s.mtsIdx = 4; }), 8, 8, kDct8, kDct8},
        {"chroma", with([](MtsSelection& s) {
             s.cIdx = 1;
             s.mtsIdx = 1;
             s.isp = true;
         }),
         8, 8, kDct2, kDct2},
        {"ISP with LFNST", with([](MtsSelection& s) {
             s.isp = true;
             s.lfnstIdx = 1;
         }),
         4, 16, kDct2, kDct2},
        {"ISP 4x16", with([](MtsSelection& s) { s.isp = true; }), 4, 16, kDst7, kDst7},
        {"ISP 1x16", with([](MtsSelection& s) { s.isp = true; }), 1, 16, kDct2, kDst7},
        {"ISP 32x4", with([](MtsSelection& s) { s.isp = true; }), 32, 4, kDct2, kDst7},
        {"MTS off in the SPS", with([](MtsSelection& s) {
             s.spsMtsEnabled = false;
             s.isp = true;
         }),
         4, 16, kDct2, kDct2},
        {"implicit intra 8x32", with([](MtsSelection& s) { s.spsExplicitMtsIntra = false; }), 8, 32, kDst7, kDct2},
        {"implicit intra but LFNST", with([](MtsSelection& s) {
             s.spsExplicitMtsIntra = false;
             s.lfnstIdx = 2;
         }),
         8, 8, kDct2, kDct2},
        {"implicit intra but MIP", with([](MtsSelection& s) {
             s.spsExplicitMtsIntra = false;
             s.mip = true;
         }),
         8, 8, kDct2, kDct2},
        {"SBT vertical, position 0", with([](MtsSelection& s) {
             s.intra = false;
             s.sbt = true;
         }),
         8, 16, kDct8, kDst7},
        {"SBT vertical, position 1", with([](MtsSelection& s) {
             s.intra = false;
             s.sbt = true;
             s.sbtPos = true;
         }),
         8, 16, kDst7, kDst7},
        {"SBT horizontal, position 0", with([](MtsSelection& s) {
             s.intra = false;
             s.sbt = true;
             s.sbtHorizontal = true;
         }),
         16, 8, kDst7, kDct8},
        {"SBT horizontal, position 1", with([](MtsSelection& s) {
             s.intra = false;
             s.sbt = true;
             s.sbtHorizontal = true;
             s.sbtPos = true;
         }),
         16, 8, kDst7, kDst7},
        {"SBT above 32", with([](MtsSelection& s) {
             s.intra = false;
             s.sbt = true;
         }),
         64, 32, kDct2, kDct2},
    };
    for (auto const& c : cases) {
        int hor = -1, ver = -1;
        SelectTransformTypes(c.sel, c.w, c.h, hor, ver);
        EXPECT_EQ(hor, c.hor) << c.what;
        EXPECT_EQ(ver, c.ver) << c.what;
    }
}

TEST(VvcTransformSelection, NonZeroRegion)
{
    struct Case
    {
        int w, h, hor, ver;
        bool lfnst;
        int nzW, nzH;
    };
    const Case cases[] = {{64, 64, kDct2, kDct2, false, 32, 32}, {32, 16, kDst7, kDct8, false, 16, 16},
                          {32, 8, kDct2, kDst7, false, 32, 8},   {16, 16, kDct2, kDct2, true, 8, 8},
                          {4, 16, kDct2, kDct2, true, 4, 4},     {8, 4, kDct2, kDct2, true, 4, 4},
                          {1, 16, kDct2, kDst7, false, 1, 16}};
    for (auto const& c : cases) {
        int w = 0, h = 0;
        NonZeroTransformSize(c.w, c.h, c.hor, c.ver, c.lfnst, w, h);
        EXPECT_EQ(w, c.nzW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.nzH) << c.w << "x" << c.h;
    }
}

// ---- LFNST ----

TEST(VvcLfnst, KernelsAreOrthogonalAtTheirScale)
{
    for (bool big : {false, true})
        for (int set = 0; set < 4; ++set)
            for (int cand = 0; cand < 2; ++cand) {
                int8_t const* k = LfnstKernel(set, cand, big);
                ASSERT_NE(k, nullptr);
                int const n = big ? 48 : 16;
                for (int i = 0; i < 16; ++i)
                    for (int j = i; j < 16; ++j) {
                        int dot = 0;
                        for (int s = 0; s < n; ++s)
                            dot += k[i * n + s] * k[j * n + s];
                        // 128^2 on the diagonal, 0 elsewhere, up to the integer rounding.
                        EXPECT_NEAR(dot, i == j ? 16384 : 0, 256)
                            << (big ? "8x8" : "4x4") << " set " << set << " candidate " << cand << " rows " << i << ", "
                            << j;
                    }
            }
    EXPECT_EQ(LfnstKernel(4, 0, false), nullptr);
    EXPECT_EQ(LfnstKernel(0, 2, true), nullptr);
}

TEST(VvcLfnst, KernelEntriesMatchThePublishedTables)
{
    struct Entry
    {
        bool big;
        int set, cand, row, col, value;
    };
    const Entry entries[] = {{true, 0, 0, 0, 0, -117},   {true, 0, 0, 0, 1, 28},      {true, 0, 0, 1, 1, -91},
                             {true, 1, 0, 0, 0, 110},    {true, 2, 0, 1, 8, 121},     {true, 2, 0, 9, 36, -116},
                             {true, 3, 1, 0, 0, 109},    {true, 3, 1, 15, 47, 2},     {true, 2, 1, 14, 40, 86},
                             {false, 0, 0, 0, 0, 108},   {false, 0, 0, 15, 15, -112}, {false, 1, 1, 0, 1, -55},
                             {false, 2, 0, 6, 12, -113}, {false, 3, 1, 15, 15, 65},   {false, 2, 1, 15, 15, 88}};
    for (auto const& e : entries) {
        int8_t const* k = LfnstKernel(e.set, e.cand, e.big);
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k[e.row * (e.big ? 48 : 16) + e.col], e.value)
            << (e.big ? "8x8" : "4x4") << " set " << e.set << " cand " << e.cand << " [" << e.row << "][" << e.col
            << "]";
    }
}

TEST(VvcLfnst, ModeToTransformSet)
{
    int const table[][2] = {{-14, 1}, {-1, 1}, {0, 0},  {1, 0},  {2, 1},  {12, 1}, {13, 2}, {23, 2},
                            {24, 3},  {34, 3}, {44, 3}, {45, 2}, {55, 2}, {56, 1}, {66, 1}, {80, 1}};
    for (auto const& t : table)
        EXPECT_EQ(LfnstTransformSet(t[0]), t[1]) << "mode " << t[0];
}

TEST(VvcLfnst, WideAngleAndSpecialModes)
{
    struct Case
    {
        int mode, w, h, expected;
    };
    const Case wide[] = {{2, 16, 4, 67}, {11, 16, 4, 76},  {12, 16, 4, 12}, {7, 8, 4, 72},    {8, 8, 4, 8},
                         {61, 4, 8, -6}, {66, 4, 8, -1},   {60, 4, 8, 60},  {57, 4, 16, -10}, {56, 4, 16, 56},
                         {2, 8, 8, 2},   {66, 16, 16, 66}, {0, 16, 4, 0},   {1, 4, 16, 1}};
    for (auto const& c : wide)
        EXPECT_EQ(WideAngleIntraMode(c.mode, c.w, c.h), c.expected) << c.mode << " " << c.w << "x" << c.h;

    EXPECT_EQ(LfnstIntraMode(50, 0, true, 0, false, 8, 8), 0);    // MIP luma: planar
    EXPECT_EQ(LfnstIntraMode(81, 1, false, 50, false, 8, 8), 50); // CCLM: the collocated luma mode
    EXPECT_EQ(LfnstIntraMode(83, 2, false, 50, true, 8, 8), 0);   // ... planar when that is MIP
    EXPECT_EQ(LfnstIntraMode(82, 1, false, 66, false, 4, 8), -1); // then the wide angle mapping
    EXPECT_EQ(LfnstIntraMode(18, 1, true, 50, false, 8, 8), 18);  // MIP concerns luma only
    EXPECT_EQ(LfnstIntraMode(66, 0, false, 0, false, 4, 16), -1);
}

TEST(VvcLfnst, OutputIsPlacedInRowsOrColumnsByMode)
{
    // One input coefficient of 128 at DC: the output is basis vector 0 of the kernel.
    struct Case
    {
        int w, h, mode, lfnstIdx;
    };
    const Case cases[] = {{4, 4, 18, 1}, {4, 4, 50, 2}, {8, 8, 2, 1}, {16, 16, 66, 2}, {8, 32, 30, 1}, {4, 16, 0, 1}};
    for (auto const& c : cases) {
        bool const big = c.w >= 8 && c.h >= 8;
        int const size = big ? 8 : 4;
        Block d(size_t(c.w * c.h), 7);
        d[0] = 128;
        // The rest of the top-left 4x4, the rest of the input, is zero.
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                if (x || y)
                    d[size_t(y * c.w + x)] = 0;
        ASSERT_TRUE(InverseLfnst(d.data(), c.w, c.w, c.h, c.mode, c.lfnstIdx));
        int8_t const* k = LfnstKernel(LfnstTransformSet(c.mode), c.lfnstIdx - 1, big);
        bool const transpose = c.mode > 34;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                int const v = d[size_t(y * c.w + x)];
                if (x >= size || y >= size || (x >= 4 && y >= 4)) {
                    EXPECT_EQ(v, 7) << "left alone at " << x << "," << y;
                    continue;
                }
                int const a = transpose ? y : x, b = transpose ? x : y;
                int const idx = b < 4 ? a + b * size : 32 + a + (b - 4) * 4;
                EXPECT_EQ(v, k[idx]) << c.w << "x" << c.h << " mode " << c.mode << " at " << x << "," << y;
            }
    }
}

TEST(VvcLfnst, NumberOfInputsDependsOnTheBlock)
{
    // Scan position 8 of the 4x4 diagonal order is (x 2, y 1): an input for 4x8 blocks (16
    // inputs) but not for 4x4 and 8x8 blocks (8 inputs).
    struct Case
    {
        int w, h;
        bool used;
    };
    for (auto const& c : {Case{4, 4, false}, Case{8, 8, false}, Case{4, 8, true}, Case{16, 8, true}}) {
        Block d(size_t(c.w * c.h), 0);
        d[size_t(1 * c.w + 2)] = 1000;
        ASSERT_TRUE(InverseLfnst(d.data(), c.w, c.w, c.h, 0, 1));
        bool any = false;
        for (int32_t v : d)
            any = any || v != 0;
        EXPECT_EQ(any, c.used) << c.w << "x" << c.h;
    }
}

TEST(VvcLfnst, ExtremeInputsAreClippedAndOtherBlocksRefused)
{
    for (int w : {4, 8, 16}) {
        Block d(size_t(w * w), 0);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                d[size_t(y * w + x)] = ((x + y) & 1) ? INT32_MIN : INT32_MAX;
        ASSERT_TRUE(InverseLfnst(d.data(), w, w, w, 30, 2));
        for (int32_t v : d) {
            ASSERT_GE(v, kCoeffMin);
            ASSERT_LE(v, kCoeffMax);
        }
    }
    Block d(64, 5);
    EXPECT_FALSE(InverseLfnst(d.data(), 2, 2, 8, 0, 1));
    EXPECT_FALSE(InverseLfnst(d.data(), 8, 8, 8, 0, 0));
    EXPECT_FALSE(InverseLfnst(d.data(), 8, 8, 8, 0, 3));
    for (int32_t v : d)
        ASSERT_EQ(v, 5);
}

// ---- Scaling ----

TEST(VvcScaling, LevelScaleShiftAndRounding)
{
    struct Case
    {
        char const* what;
        int w, h, qp;
        bool ts, dq;
        int bdpcm;
        int32_t level, expected;
    };
    // Hand-derived: ls = 16 * levelScale[rect][qP % 6] << (qP / 6), d = (level * ls + round) >> bdShift.
    const Case cases[] = {
        // 4x4, 10 bits, qP 30: bdShift 7, ls 16 * 40 << 5 = 20480: (3 * 20480 + 64) >> 7 = 480.
        {"square", 4, 4, 30, false, false, -1, 3, 480},
        {"square, negative", 4, 4, 30, false, false, -1, -3, -480},
        // 8x4: rect, bdShift 8, ls 16 * 57 << 5 = 29184: (29184 + 128) >> 8 = 114.
        {"rectangular", 8, 4, 30, false, false, -1, 1, 114},
        // Dependent quantisation at qP 29 uses qP 30 and one more shift: (61440 + 128) >> 8 = 240.
        {"dependent quantisation", 4, 4, 29, false, true, -1, 3, 240},
        // qP 37 (37 % 6 = 1): 16 * 45 << 6 = 46080, 16x16 bdShift 9: (2 * 46080 + 256) >> 9 = 180.
        {"qP 37, 16x16", 16, 16, 37, false, false, -1, 2, 180},
        // Transform skip: qP raised to QpPrimeTsMin 4, shift 10, identity at qP 4.
        {"transform skip at the minimum", 4, 4, 2, true, false, -1, 5, 5},
        {"transform skip ignores rect and dependent quantisation", 8, 4, 4, true, true, -1, -9, -9},
        // Transform skip qP 15: 16 * 57 << 2 = 3648: (3 * 3648 + 512) >> 10 = 11.
        {"transform skip qP 15", 4, 4, 15, true, false, -1, 3, 11},
        {"clipped above", 4, 4, 60, false, false, -1, 30000, 32767},
        {"clipped below", 4, 4, 60, false, false, -1, -30000, -32768},
    };
    for (auto const& c : cases) {
        Block levels(size_t(c.w * c.h), 0), d(levels.size(), 99);
        levels[0] = c.level;
        ScalingParams p;
        p.qp = c.qp;
        p.transformSkip = c.ts;
        p.depQuant = c.dq;
        p.bdpcmDir = c.bdpcm;
        ASSERT_TRUE(ScaleTransformCoefficients(levels.data(), c.w, c.w, c.h, p, d.data(), c.w)) << c.what;
        EXPECT_EQ(d[0], c.expected) << c.what;
        for (size_t i = 1; i < d.size(); ++i)
            ASSERT_EQ(d[i], 0) << c.what;
    }
}

TEST(VvcScaling, LosslessTransformSkipIsTheIdentity)
{
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> level(-1023, 1023);
    for (int size : {4, 8, 16, 32}) {
        Block levels(size_t(size * size));
        for (auto& v : levels)
            v = level(rng);
        Block d(levels.size(), 0), res(levels.size(), 0), lossless(levels.size(), 0);
        ScalingParams p;
        p.qp = 4;
        p.transformSkip = true;
        ASSERT_TRUE(ScaleTransformCoefficients(levels.data(), size, size, size, p, d.data(), size));
        TransformSkipResidual(d.data(), size, size, size, res.data(), size);
        LosslessResidual(levels.data(), size, size, size, lossless.data(), size);
        EXPECT_EQ(res, levels) << size;
        EXPECT_EQ(lossless, levels) << size;
    }
}

TEST(VvcScaling, OnlyTheTopLeft32x32IsScaled)
{
    Block levels(64 * 64, 1), d(64 * 64, 99);
    ScalingParams p;
    p.qp = 30;
    ASSERT_TRUE(ScaleTransformCoefficients(levels.data(), 64, 64, 64, p, d.data(), 64));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(d[size_t(y * 64 + x)] != 0, x < 32 && y < 32) << x << "," << y;
    // The same buffer in and out.
    Block inPlace(64 * 64, 1);
    ASSERT_TRUE(ScaleTransformCoefficients(inPlace.data(), 64, 64, 64, p, inPlace.data(), 64));
    EXPECT_EQ(inPlace, d);
}

TEST(VvcScaling, BdpcmAccumulatesLevelsWithAClipAtEveryStep)
{
    struct Case
    {
        bool vertical;
        std::vector<int32_t> in, out; // a 4x1 or 1x4 block
    };
    const Case cases[] = {{false, {1, 2, 3, 4}, {1, 3, 6, 10}},
                          {true, {1, 2, 3, 4}, {1, 3, 6, 10}},
                          {false, {32767, 10, -20, 0}, {32767, 32767, 32747, 32747}},
                          {true, {-32768, -5, 7, INT32_MIN}, {-32768, -32768, -32761, -32768}}};
    for (auto const& c : cases) {
        int const w = c.vertical ? 1 : 4, h = c.vertical ? 4 : 1;
        Block b = c.in;
        BdpcmAccumulate(b.data(), w, w, h, c.vertical);
        EXPECT_EQ(b, c.out);
        // Through the scaling process at the lossless QP the accumulation gives the same values.
        Block d(4, 0);
        ScalingParams p;
        p.qp = 4;
        p.transformSkip = true;
        p.bdpcmDir = c.vertical ? 1 : 0;
        ASSERT_TRUE(ScaleTransformCoefficients(c.in.data(), w, w, h, p, d.data(), w));
        EXPECT_EQ(d, c.out);
    }
    // 2-D: horizontal accumulation runs along each row only.
    Block b = {1, 1, 1, 2, 2, 2};
    BdpcmAccumulate(b.data(), 3, 3, 2, false);
    EXPECT_EQ(b, (Block{1, 2, 3, 2, 4, 6}));
    b = {1, 1, 1, 2, 2, 2};
    BdpcmAccumulate(b.data(), 3, 3, 2, true);
    EXPECT_EQ(b, (Block{1, 1, 1, 3, 3, 3}));
}

TEST(VvcScaling, ExtremeLevelsAndParameters)
{
    Block levels(32 * 32), d(levels.size(), 0);
    for (size_t i = 0; i < levels.size(); ++i)
        levels[i] = (i & 1) ? INT32_MIN : INT32_MAX;
    std::vector<uint8_t> m(levels.size(), 255);
    for (bool ts : {false, true})
        for (int bdpcm : {-1, 0, 1}) {
            ScalingParams p;
            p.qp = 120;
            p.bitDepth = 16;
            p.transformSkip = ts;
            p.depQuant = !ts;
            p.bdpcmDir = bdpcm;
            p.m = m.data();
            ASSERT_TRUE(ScaleTransformCoefficients(levels.data(), 32, 32, 32, p, d.data(), 32));
            for (int32_t v : d)
                ASSERT_TRUE(v == kCoeffMax || v == kCoeffMin || v == 0);
        }
    ScalingParams bad;
    bad.qp = -1;
    EXPECT_FALSE(ScaleTransformCoefficients(levels.data(), 32, 32, 32, bad, d.data(), 32));
    bad.qp = 121;
    EXPECT_FALSE(ScaleTransformCoefficients(levels.data(), 32, 32, 32, bad, d.data(), 32));
    bad.qp = 30;
    bad.bdpcmDir = 2;
    EXPECT_FALSE(ScaleTransformCoefficients(levels.data(), 32, 32, 32, bad, d.data(), 32));
    bad.bdpcmDir = -1;
    EXPECT_FALSE(ScaleTransformCoefficients(levels.data(), 24, 24, 24, bad, d.data(), 24));
}

// Products of a level and its scale around 2^31 with a result inside the coefficient range (16
// bits, 32x32, dependent quantisation: bdShift 17; qP 65: scale 16 * 40 << 11, or 255 * 40 << 11
// with a scaling matrix): each is exact, whichever the magnitude of the other levels of the block.
TEST(VvcScaling, ProductsAround32BitsAreExact)
{
    struct Case
    {
        int32_t level;
        uint8_t m; // 0: no scaling matrix
        int32_t expected;
    };
    const Case cases[] = {
        {1638, 0, 16380}, {-1638, 0, -16380},   // level * scale + round just fits 32 bits
        {1639, 0, 16390}, {-1639, 0, -16390},   // just beyond
        {200, 255, 31875}, {-200, 255, -31875}, // beyond only through the matrix
        {1, 0, 10},                             // a small level: (1310720 + 65536) >> 17
    };
    for (auto const& c : cases)
        for (int32_t other : {0, 1, 1639}) {
            Block levels(32 * 32, 0), d(levels.size(), 99);
            levels[5] = c.level;
            levels[32 * 7 + 3] = other;
            std::vector<uint8_t> m(levels.size(), c.m);
            ScalingParams p;
            p.qp = 65;
            p.bitDepth = 16;
            p.depQuant = true;
            p.m = c.m ? m.data() : nullptr;
            ASSERT_TRUE(ScaleTransformCoefficients(levels.data(), 32, 32, 32, p, d.data(), 32));
            EXPECT_EQ(d[5], c.expected) << c.level << " matrix " << int(c.m) << " other " << other;
            int64_t const o = (int64_t(other) * (c.m ? c.m : 16) * 81920 + 65536) >> 17;
            EXPECT_EQ(d[32 * 7 + 3], std::min<int64_t>(o, kCoeffMax)) << c.level << " other " << other;
            EXPECT_EQ(d[32 * 31 + 31], 0);
        }
}

TEST(VvcScaling, DependentQuantisationLevels)
{
    // QStateTransTable[state][parity].
    int const next[4][2] = {{0, 2}, {2, 0}, {1, 3}, {3, 1}};
    for (int s = 0; s < 4; ++s)
        for (int a = 0; a < 6; ++a)
            EXPECT_EQ(DepQuantNextState(s, a), next[s][a & 1]) << s << " " << a;
    struct Case
    {
        int abs;
        bool sign, dq;
        int state;
        int32_t expected;
    };
    const Case cases[] = {{3, false, true, 0, 6},         {3, true, true, 2, -5},         {3, false, true, 3, 5},
                          {1, false, true, 1, 2},         {3, true, false, 3, -3},        {0, true, true, 3, 0},
                          {40000, false, true, 0, 32767}, {40000, true, false, 0, -32768}};
    for (auto const& c : cases)
        EXPECT_EQ(CoefficientLevel(c.abs, c.sign, c.dq, c.state), c.expected) << c.abs << " state " << c.state;
}

// ---- Scaling matrices ----

TEST(VvcScalingMatrix, MatrixIdsByModeComponentAndSize)
{
    struct Case
    {
        bool intra;
        int cIdx, w, h, id;
    };
    const Case cases[] = {{true, 0, 4, 4, 2},    {true, 1, 8, 8, 9},     {false, 2, 2, 2, 1},    {false, 1, 2, 8, 12},
                          {true, 1, 2, 2, -1},   {false, 0, 64, 64, 27}, {true, 0, 64, 16, 26},  {true, 2, 64, 32, 22},
                          {false, 1, 16, 4, 18}, {true, 0, 32, 8, 20},   {false, 2, 64, 64, 25}, {true, 0, 1, 16, 14}};
    for (auto const& c : cases)
        EXPECT_EQ(ScalingMatrixId(c.intra, c.cIdx, c.w, c.h), c.id)
            << (c.intra ? "intra" : "inter") << " " << c.cIdx << " " << c.w << "x" << c.h;
}

TEST(VvcScalingMatrix, ReconstructionFromTheListData)
{
    ScalingListData data;
    // id 8 coded without prediction: 8 + ScalingList in diagonal order.
    data.coded[8] = true;
    for (int i = 0; i < 64; ++i)
        data.list[8][i] = i;
    // id 9 copies id 8; id 10 copies the default; id 11 predicts from id 8 and adds 1 everywhere.
    data.coded[9] = data.copyMode[9] = true;
    data.predIdDelta[9] = 1;
    data.coded[10] = data.copyMode[10] = true;
    data.coded[11] = data.predMode[11] = true;
    data.predIdDelta[11] = 3;
    for (int i = 0; i < 64; ++i)
        data.list[11][i] = 1;
    // id 14 with its DC: DC 8 + 4, AC 8 + 2; id 15 copies it, DC included; 2x2 id 0 adds 200 to 8.
    data.coded[14] = true;
    data.dcCoef[0] = 4;
    for (int i = 0; i < 64; ++i)
        data.list[14][i] = 2;
    data.coded[15] = data.copyMode[15] = true;
    data.predIdDelta[15] = 1;
    data.coded[0] = true;
    for (int i = 0; i < 4; ++i)
        data.list[0][i] = 200 + i;

    ScalingMatrices m;
    ASSERT_TRUE(ReconstructScalingMatrices(data, m));
    // Diagonal positions 0, 1, 2 of an 8x8 list are (0,0), (0,1), (1,0); position 63 is (7,7).
    EXPECT_EQ(m.rec[8][0], 8);
    EXPECT_EQ(m.rec[8][0 + 1 * 8], 9);
    EXPECT_EQ(m.rec[8][1 + 0 * 8], 10);
    EXPECT_EQ(m.rec[8][7 + 7 * 8], 8 + 63);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(m.rec[9][i], m.rec[8][i]);
        EXPECT_EQ(m.rec[10][i], 16);
        EXPECT_EQ(m.rec[11][i], m.rec[8][i] + 1);
        EXPECT_EQ(m.rec[14][i], 10);
        EXPECT_EQ(m.rec[15][i], 10);
        EXPECT_EQ(m.rec[20][i], 16); // not coded
    }
    EXPECT_EQ(m.dcRec[0], 12);
    EXPECT_EQ(m.dcRec[1], 12);
    EXPECT_EQ(m.dcRec[2], 16);
    // 2x2 diagonal order (0,0), (0,1), (1,0), (1,1).
    EXPECT_EQ(m.rec[0][0], 208);
    EXPECT_EQ(m.rec[0][2], 209);
    EXPECT_EQ(m.rec[0][1], 210);
    EXPECT_EQ(m.rec[0][3], 211);

    // A reference outside the list's size group, or a zero value, is refused.
    ScalingListData bad;
    bad.coded[9] = bad.copyMode[9] = true;
    bad.predIdDelta[9] = 2;
    ScalingMatrices untouched;
    untouched.rec[3][0] = 77;
    EXPECT_FALSE(ReconstructScalingMatrices(bad, untouched));
    EXPECT_EQ(untouched.rec[3][0], 77);
    ScalingListData zero;
    zero.coded[2] = true;
    zero.list[2][0] = 248; // 8 + 248 = 256, 0 modulo 256
    EXPECT_FALSE(ReconstructScalingMatrices(zero, untouched));
}

TEST(VvcScalingMatrix, FactorsAreUpSampledAndSubSampled)
{
    ScalingMatrices mats;
    for (int id = 0; id < 28; ++id)
        for (int i = 0; i < 64; ++i)
            mats.rec[id][i] = uint8_t(1 + i); // value 1 + x + y * size
    mats.dcRec[20 - 14] = 200;
    mats.dcRec[14 - 14] = 201;

    struct Case
    {
        int id, w, h;
        int (*expected)(int x, int y);
    };
    const Case cases[] = {
        {8, 8, 8, [](int x, int y) { return 1 + x + y * 8; }},
        {2, 4, 4, [](int x, int y) { return 1 + x + y * 4; }},
        {2, 4, 2, [](int x, int y) { return 1 + x + (2 * y) * 4; }},
        {0, 2, 2, [](int x, int y) { return 1 + x + y * 2; }},
        {20, 32, 8, [](int x, int y) { return (x == 0 && y == 0) ? 200 : 1 + x / 4 + y * 8; }},
        {14, 16, 4, [](int x, int y) { return (x == 0 && y == 0) ? 201 : 1 + x / 2 + (2 * y) * 8; }},
        {26, 64, 64, [](int x, int y) { return (x == 0 && y == 0) ? 16 : 1 + x / 8 + (y / 8) * 8; }},
    };
    for (auto const& c : cases) {
        std::vector<uint8_t> m(size_t(c.w * c.h), 0);
        DeriveScalingFactor(mats, c.id, c.w, c.h, m.data());
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                ASSERT_EQ(m[size_t(y * c.w + x)], c.expected(x, y))
                    << "id " << c.id << " " << c.w << "x" << c.h << " at " << x << "," << y;
    }
    std::vector<uint8_t> flat(16, 0);
    DeriveScalingFactor(mats, -1, 4, 4, flat.data());
    EXPECT_EQ(flat, std::vector<uint8_t>(16, 16));

    // A factor of 32 doubles the scaled coefficient of the flat 16.
    Block levels(16, 0), dFlat(16, 0), dScaled(16, 0);
    levels[5] = 3;
    std::vector<uint8_t> m32(16, 32);
    ScalingParams p;
    p.qp = 30;
    ASSERT_TRUE(ScaleTransformCoefficients(levels.data(), 4, 4, 4, p, dFlat.data(), 4));
    p.m = m32.data();
    ASSERT_TRUE(ScaleTransformCoefficients(levels.data(), 4, 4, 4, p, dScaled.data(), 4));
    EXPECT_EQ(dScaled[5], 2 * dFlat[5]);
}

// ---- Residuals without a transform ----

TEST(VvcResidual, JointCbCrModes)
{
    const Block res = {4, -3, 5, -32768};
    struct Case
    {
        int mode;
        bool sign;
        Block cb, cr;
    };
    const Case cases[] = {
        {1, false, {4, -3, 5, -32768}, {2, -2, 2, -16384}}, {1, true, {4, -3, 5, -32768}, {-2, 1, -3, 16384}},
        {2, false, {4, -3, 5, -32768}, {4, -3, 5, -32768}}, {2, true, {4, -3, 5, -32768}, {-4, 3, -5, 32768}},
        {3, false, {2, -2, 2, -16384}, {4, -3, 5, -32768}}, {3, true, {-2, 1, -3, 16384}, {4, -3, 5, -32768}}};
    for (auto const& c : cases) {
        Block cb(4, 0), cr(4, 0);
        ASSERT_TRUE(JointCbCrResidual(res.data(), 2, 2, 2, c.mode, c.sign, cb.data(), 2, cr.data(), 2));
        EXPECT_EQ(cb, c.cb) << "mode " << c.mode << " sign " << c.sign;
        EXPECT_EQ(cr, c.cr) << "mode " << c.mode << " sign " << c.sign;
    }
    Block cb(4, 0), cr(4, 0);
    EXPECT_FALSE(JointCbCrResidual(res.data(), 2, 2, 2, 0, false, cb.data(), 2, cr.data(), 2));
    Block extreme = {INT32_MIN, INT32_MAX, 0, 0};
    EXPECT_TRUE(JointCbCrResidual(extreme.data(), 2, 2, 2, 2, true, cb.data(), 2, cr.data(), 2));
}

TEST(VvcResidual, StridedBlocksKeepTheirNeighbours)
{
    // 4x2 blocks inside 6-wide buffers: the columns beyond the block are never written.
    Block src = {1, 2, 3, 4, 50, 51, 5, 6, 7, 8, 52, 53};
    Block dst(12, -1);
    TransformSkipResidual(src.data(), 6, 4, 2, dst.data(), 6);
    EXPECT_EQ(dst, (Block{1, 2, 3, 4, -1, -1, 5, 6, 7, 8, -1, -1}));
    Block d(12, 0), res(12, -1);
    d[0] = 64;
    ASSERT_TRUE(InverseTransform(d.data(), 6, 4, 2, kDct2, kDct2, false, 10, res.data(), 6));
    EXPECT_EQ(res[4], -1);
    EXPECT_EQ(res[5], -1);
    EXPECT_EQ(res[10], -1);
    EXPECT_EQ(res[0], res[7]);
}

// ---- The chain ----

TEST(VvcResidual, DcLevelGivesAboutTheStepSizeOverTheBlockSide)
{
    // 8x8 at qP 30 (step 2^((30 - 4) / 6), about 20.2), level 1 at DC: the scaled coefficient is
    // (20480 + 128) >> 8 = 80, the residual (64 * ((64 * 80 + 64) >> 7) + 512) >> 10 = 3 everywhere,
    // about 20.2 / 8.
    Block levels(64, 0), res(64, -1);
    levels[0] = 1;
    ResidualParams p;
    p.scaling.qp = 30;
    ASSERT_TRUE(ReconstructResidual(levels.data(), 8, 8, 8, p, res.data(), 8));
    EXPECT_EQ(res, Block(64, 3));
}

TEST(VvcResidual, ChainIsScalingThenLfnstThenTransform)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> level(-20, 20);
    struct Case
    {
        int w, h;
        bool ts;
        int lfnstIdx, mode, trHor, trVer;
    };
    const Case cases[] = {{16, 16, false, 2, 50, kDct2, kDct2},
                          {4, 8, false, 1, 18, kDct2, kDct2},
                          {8, 16, false, 0, 0, kDst7, kDct8},
                          {8, 8, true, 0, 0, kDct2, kDct2}};
    for (auto const& c : cases) {
        Block levels(size_t(c.w * c.h), 0);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                levels[size_t(y * c.w + x)] = level(rng);
        ResidualParams p;
        p.scaling.qp = 27;
        p.scaling.transformSkip = c.ts;
        p.trTypeHor = c.trHor;
        p.trTypeVer = c.trVer;
        p.lfnstIdx = c.lfnstIdx;
        p.lfnstMode = c.mode;
        Block chained(levels.size(), 0);
        ASSERT_TRUE(ReconstructResidual(levels.data(), c.w, c.w, c.h, p, chained.data(), c.w));

        Block d(levels.size(), 0), res(levels.size(), 0);
        ASSERT_TRUE(ScaleTransformCoefficients(levels.data(), c.w, c.w, c.h, p.scaling, d.data(), c.w));
        if (c.ts) {
            TransformSkipResidual(d.data(), c.w, c.w, c.h, res.data(), c.w);
        } else {
            if (c.lfnstIdx) {
                ASSERT_TRUE(InverseLfnst(d.data(), c.w, c.w, c.h, c.mode, c.lfnstIdx));
            }
            ASSERT_TRUE(
                InverseTransform(d.data(), c.w, c.w, c.h, c.trHor, c.trVer, c.lfnstIdx != 0, 10, res.data(), c.w));
        }
        EXPECT_EQ(chained, res) << c.w << "x" << c.h;
        // In place.
        Block inPlace = levels;
        ASSERT_TRUE(ReconstructResidual(inPlace.data(), c.w, c.w, c.h, p, inPlace.data(), c.w));
        EXPECT_EQ(inPlace, res) << c.w << "x" << c.h;
    }
}

} // namespace
