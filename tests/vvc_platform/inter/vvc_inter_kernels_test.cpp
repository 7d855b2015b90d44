// The vector inter prediction kernels against the portable ones: the same intermediate
// predictions, DMVR refinements and samples for every fraction, filter, block shape and bit depth
// they take, over random references and intermediate predictions (and their extremes).

#include "inter/InterKernels.h"
#include "inter/InterPred.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

using namespace vvcinter;

namespace {

// Runs `f` with the portable kernels, then with the vector ones; both results must be equal.
template <typename T>
void ExpectSameWithBoth(std::function<void(std::vector<T>&)> const& f, std::string const& what)
{
    std::vector<T> portable, vector;
    InterAllowVectorKernels(false);
    ASSERT_STREQ(InterActiveKernels().name, "portable");
    f(portable);
    InterAllowVectorKernels(true);
    f(vector);
    ASSERT_EQ(vector, portable) << what;
}

// Random samples of bitDepth bits; `extremes` only 0 and the largest value (the widest first pass).
std::vector<uint16_t> RandomSamples(std::mt19937& rng, size_t n, int bitDepth, bool extremes)
{
    std::vector<uint16_t> v(n);
    int const maxVal = (1 << bitDepth) - 1;
    for (auto& s : v)
        s = uint16_t(extremes ? (rng() % 2 ? maxVal : 0) : int(rng() % unsigned(maxVal + 1)));
    return v;
}

struct Shape
{
    int w, h;
};

} // namespace

TEST(VvcInterKernels, InterpolationMatchesPortable)
{
    if (!InterVectorKernels())
        GTEST_SKIP() << "no vector kernels on this processor";
    std::mt19937 rng(41);
    // Luma and chroma block shapes (chroma of 4xN units is 2 wide), DMVR's bilinear search areas
    // (the block and 2 samples around it) and odd widths for the tails.
    Shape const shapes[] = {{4, 4}, {8, 8},  {16, 16},   {8, 4},   {4, 8},    {2, 2},   {2, 4},
                            {4, 2}, {6, 3},  {12, 20},   {32, 8},  {20, 20},  {36, 12}, {64, 64},
                            {1, 5}, {24, 1}, {128, 128}, {68, 68}, {132, 132}};
    int const size = 160;
    enum Kind { kLuma, kAltHalf, kAffine, kChroma, kBilinear };
    int shapeIdx = 0;
    for (int bitDepth : {8, 10, 12})
        for (bool extremes : {false, true}) {
            std::vector<uint16_t> const samples = RandomSamples(rng, size_t(size) * size, bitDepth, extremes);
            RefPlane const plane{samples.data(), size, size, size, 0};
            RefClamp clamp;
            clamp.right = clamp.bottom = size - 1;
            InterpScratch scratch;
            for (int kind = kLuma; kind <= kBilinear; kind++) {
                int const fractions = kind == kChroma ? 32 : 16;
                for (int yFrac = 0; yFrac < fractions; yFrac++)
                    for (int xFrac = 0; xFrac < fractions; xFrac++) {
                        Shape s = shapes[shapeIdx++ % (sizeof(shapes) / sizeof(shapes[0]))];
                        if (kind != kBilinear)
                            s = {std::min(s.w, 128), std::min(s.h, 128)};
                        // Inside the plane and across its edges (the gathered region).
                        int const x = int(rng() % unsigned(size + 24)) - 12, y = int(rng() % unsigned(size + 24)) - 12;
                        ExpectSameWithBoth<int32_t>(
                            [&](std::vector<int32_t>& out) {
                                ptrdiff_t const stride = s.w + 3;
                                out.assign(size_t(stride) * s.h + 8, -12345);
                                switch (kind) {
                                case kChroma:
                                    InterpolateChroma(plane, clamp, x, y, xFrac, yFrac, s.w, s.h, bitDepth, out.data(),
                                                      stride, scratch);
                                    break;
                                case kBilinear:
                                    InterpolateBilinear(plane, clamp, x, y, xFrac, yFrac, s.w, s.h, bitDepth,
                                                        out.data(), stride, scratch);
                                    break;
                                default:
                                    InterpolateLuma(plane, clamp, x, y, xFrac, yFrac, s.w, s.h, bitDepth,
                                                    LumaFilter(kind), out.data(), stride, scratch);
                                }
                            },
                            "kind " + std::to_string(kind) + " bit depth " + std::to_string(bitDepth) + " fraction " +
                                std::to_string(xFrac) + "," + std::to_string(yFrac) + " size " + std::to_string(s.w) +
                                "x" + std::to_string(s.h) + " at " + std::to_string(x) + "," + std::to_string(y));
                    }
            }
        }
    EXPECT_STRNE(InterActiveKernels().name, "portable");
}

TEST(VvcInterKernels, BdofAndAverageMatchPortable)
{
    if (!InterVectorKernels())
        GTEST_SKIP() << "no vector kernels on this processor";
    std::mt19937 rng(42);
    Shape const shapes[] = {{8, 8}, {16, 16}, {8, 16}, {16, 8}, {4, 4}, {12, 8}, {16, 12}, {2, 4}, {6, 2}, {128, 3}};
    for (int bitDepth : {8, 10, 12})
        for (Shape s : shapes)
            for (int pattern = 0; pattern < 4; pattern++) {
                // Intermediate predictions with a 1-sample border: independent (0), list 1 a
                // shifted copy of list 0 with noise (1: realistic flow), smooth ramps (2), the
                // extremes of the intermediate range (3: the clips).
                ptrdiff_t const stride = s.w + 2 + 5;
                size_t const n = size_t(stride) * (s.h + 2);
                std::vector<int32_t> p0(n), p1(n);
                int const lo = -(1 << 13), hi = (1 << 14) + (1 << 13);
                std::uniform_int_distribution<int> any(lo, hi), noise(-40, 40);
                for (size_t i = 0; i < n; i++) {
                    int const x = int(i % size_t(stride)), y = int(i / size_t(stride));
                    switch (pattern) {
                    case 0:
                        p0[i] = any(rng);
                        p1[i] = any(rng);
                        break;
                    case 1:
                        p0[i] = 4000 + 300 * x + 170 * y + noise(rng);
                        p1[i] = p0[i] - 310 + noise(rng) * 5;
                        break;
                    case 2:
                        p0[i] = 16 * (x * x + 7 * y);
                        p1[i] = 16 * (3 * x + y * y);
                        break;
                    default:
                        p0[i] = rng() % 2 ? lo : hi;
                        p1[i] = rng() % 2 ? lo : hi;
                        break;
                    }
                }
                std::string const what = std::to_string(s.w) + "x" + std::to_string(s.h) + " bit depth " +
                                         std::to_string(bitDepth) + " pattern " + std::to_string(pattern);
                ptrdiff_t const dstStride = s.w + 3;
                if (s.w >= 4 && s.w <= 16 && s.h >= 4 && s.h <= 16 && s.w % 4 == 0 && s.h % 4 == 0)
                    ExpectSameWithBoth<uint16_t>(
                        [&](std::vector<uint16_t>& out) {
                            out.assign(size_t(dstStride) * s.h, 0xdead);
                            BdofBlock(p0.data(), p1.data(), stride, s.w, s.h, bitDepth, out.data(), dstStride);
                        },
                        "BDOF " + what);
                ExpectSameWithBoth<uint16_t>(
                    [&](std::vector<uint16_t>& out) {
                        out.assign(size_t(dstStride) * s.h, 0xdead);
                        BiAverage(p0.data(), p1.data(), stride, s.w, s.h, bitDepth, out.data(), dstStride);
                    },
                    "average " + what);
            }
}

TEST(VvcInterKernels, DmvrSearchMatchesPortable)
{
    if (!InterVectorKernels())
        GTEST_SKIP() << "no vector kernels on this processor";
    std::mt19937 rng(43);
    Shape const shapes[] = {{8, 8}, {16, 16}, {8, 16}, {16, 8}};
    for (Shape s : shapes)
        for (int trial = 0; trial < 40; trial++) {
            // Bilinear predictions (10 bits) reaching 2 samples beyond the subblock; list 1 a
            // shifted copy of list 0 with noise of growing strength, so that every offset can win.
            ptrdiff_t const stride = s.w + 4;
            int const dx = int(rng() % 5) - 2, dy = int(rng() % 5) - 2, strength = 1 + trial * 4;
            std::vector<int32_t> p0(size_t(stride) * (s.h + 4)), p1(p0.size());
            for (auto& v : p0)
                v = int(rng() % 1024);
            for (int y = 0; y < s.h + 4; y++)
                for (int x = 0; x < s.w + 4; x++) {
                    int const sx = std::min(std::max(x + dx, 0), s.w + 3), sy = std::min(std::max(y + dy, 0), s.h + 3);
                    p1[size_t(y) * stride + x] = p0[size_t(sy) * stride + sx] + int(rng() % unsigned(strength));
                }
            ExpectSameWithBoth<int>(
                [&](std::vector<int>& out) {
                    DmvrRefinement const r =
                        DmvrSearch(p0.data() + 2 * stride + 2, p1.data() + 2 * stride + 2, stride, s.w, s.h);
                    out = {r.delta.x, r.delta.y, r.minSad};
                },
                std::to_string(s.w) + "x" + std::to_string(s.h) + " trial " + std::to_string(trial));
        }
}
