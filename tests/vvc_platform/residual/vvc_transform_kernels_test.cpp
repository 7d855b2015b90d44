// The vector inverse transform stages against the portable ones: the same residual for every
// block size, transform type pair, bit depth and shape of the non-zero coefficient region.

#include "residual/Transform.h"
#include "residual/TransformKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using namespace vvcresidual;

namespace {

// Coefficients of an nTbW x nTbH block: `pattern` 0 fills the whole block at random, 1 only a
// random top-left region (and a sparse scatter in it), 2 the extremes of the range (worst case
// for the accumulators).
std::vector<int32_t> Coefficients(std::mt19937& rng, int nTbW, int nTbH, int pattern)
{
    std::vector<int32_t> d(size_t(nTbW * nTbH), 0);
    std::uniform_int_distribution<int> any(-32768, 32767), small(-300, 300);
    int const w = 1 + int(rng() % unsigned(nTbW)), h = 1 + int(rng() % unsigned(nTbH));
    for (int y = 0; y < nTbH; ++y)
        for (int x = 0; x < nTbW; ++x) {
            int32_t& v = d[size_t(y * nTbW + x)];
            switch (pattern) {
            case 0: v = any(rng); break;
            case 1: v = (x < w && y < h && rng() % 3 == 0) ? small(rng) : 0; break;
            default: v = rng() % 2 ? -32768 : 32767; break;
            }
        }
    return d;
}

} // namespace

TEST(VvcTransformKernels, VectorStagesMatchPortable)
{
    if (!TransformVectorKernels())
        GTEST_SKIP() << "no vector kernels on this processor";
    std::mt19937 rng(30);
    int const sizes[] = {1, 2, 4, 8, 16, 32, 64};
    for (int nTbW : sizes)
        for (int nTbH : sizes)
            for (int trHor : {kDct2, kDst7, kDct8})
                for (int trVer : {kDct2, kDst7, kDct8})
                    for (bool lfnst : {false, true})
                        for (int bitDepth : {8, 10, 12, 16})
                            for (int pattern = 0; pattern < 3; ++pattern) {
                                if ((trHor != kDct2 && (nTbW < 4 || nTbW > 32)) ||
                                    (trVer != kDct2 && (nTbH < 4 || nTbH > 32)) || (nTbW == 1 && nTbH == 1))
                                    continue;
                                const std::vector<int32_t> d = Coefficients(rng, nTbW, nTbH, pattern);
                                std::vector<int32_t> portable(d.size(), -7), vector(d.size(), -7);
                                TransformAllowVectorKernels(false);
                                EXPECT_STREQ(TransformActiveKernels().name, "portable");
                                const bool okPortable = InverseTransform(d.data(), nTbW, nTbW, nTbH, trHor, trVer,
                                                                         lfnst, bitDepth, portable.data(), nTbW);
                                TransformAllowVectorKernels(true);
                                const bool okVector = InverseTransform(d.data(), nTbW, nTbW, nTbH, trHor, trVer,
                                                                       lfnst, bitDepth, vector.data(), nTbW);
                                ASSERT_TRUE(okPortable && okVector);
                                ASSERT_EQ(vector, portable) << nTbW << "x" << nTbH << " types " << trHor << "/"
                                                            << trVer << " lfnst " << lfnst << " bit depth "
                                                            << bitDepth << " pattern " << pattern;
                            }
    EXPECT_STRNE(TransformActiveKernels().name, "portable");
}

// The vector residual add against the portable one: every block width up to 64 (the vector
// bodies and their tails), prediction strides wider than the block, residuals at the extremes
// that clip at both ends, the prediction alone, and the bit depths of the sample range.
TEST(VvcTransformKernels, VectorResidualAddMatchesPortable)
{
    if (!TransformVectorKernels())
        GTEST_SKIP() << "no vector kernels on this processor";
    std::mt19937 rng(31);
    for (int bitDepth : {8, 10, 12, 16})
        for (int w = 1; w <= 64; ++w)
            for (int h : {1, 2, 4, 7, 64})
                for (bool withRes : {false, true}) {
                    int const maxVal = (1 << bitDepth) - 1;
                    const ptrdiff_t predStride = w + 5, dstStride = w + 9;
                    // Predictions also above the range (a clip the add must apply).
                    std::vector<uint16_t> pred(size_t(predStride * h));
                    for (uint16_t& v : pred)
                        v = uint16_t(rng() % (rng() % 8 == 0 ? 65536u : unsigned(maxVal + 1)));
                    std::vector<int32_t> res(size_t(w * h));
                    std::uniform_int_distribution<int32_t> any(-2 * maxVal - 2, 2 * maxVal + 2);
                    for (int32_t& r : res)
                        r = any(rng);
                    std::vector<uint16_t> portable(size_t(dstStride * h), 0xBEEF), vector = portable;
                    ResidualAddArgs a;
                    a.pred = pred.data();
                    a.predStride = predStride;
                    a.res = withRes ? res.data() : nullptr;
                    a.resStride = w;
                    a.dstStride = dstStride;
                    a.w = w;
                    a.h = h;
                    a.maxVal = maxVal;
                    a.dst = portable.data();
                    TransformPortableKernels().addResidual(a);
                    a.dst = vector.data();
                    TransformVectorKernels()->addResidual(a);
                    ASSERT_EQ(vector, portable) << w << "x" << h << " bit depth " << bitDepth << " res " << withRes;
                    // The portable add is the clipped sum, and leaves the samples right of the block.
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < dstStride; ++x) {
                            int want = 0xBEEF;
                            if (x < w) {
                                int const v = pred[size_t(y * predStride + x)] + (withRes ? res[size_t(y * w + x)] : 0);
                                want = std::min(std::max(v, 0), maxVal);
                            }
                            ASSERT_EQ(portable[size_t(y * dstStride + x)], want) << w << "x" << h << " at " << x;
                        }
                }
}
