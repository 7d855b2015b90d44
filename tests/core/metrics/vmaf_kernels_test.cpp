// Each vector kernel table (AVX2, AVX-512) against the portable kernels: every output must have
// the same bits, on planes of many sizes (odd widths, tiny planes, padded strides) with flat, noisy, equal and
// clipped regions so every branch of the statistics is taken.

#include "metrics/vmaf_kernels.h"
#include "metrics/vmaf_motion.h"
#include "metrics/vmaf_ssim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace ze::nox::core::vmaf;

namespace {

struct PlanePair
{
    int w = 0, h = 0;
    std::ptrdiff_t stride = 0;
    std::vector<float> ref, dis;
    PlaneView refView() const { return {ref.data(), w, h, stride}; }
    PlaneView disView() const { return {dis.data(), w, h, stride}; }
};

// Samples on the 8-bit scale in quarter steps (10-bit input), offset by -128. The picture is
// split into bands: flat, smooth ramp, strong noise, and dis equal to ref, so low-variance,
// high-variance, fully-restored and decoupled branches all occur.
PlanePair MakePair(int w, int h, std::ptrdiff_t stride, unsigned seed)
{
    PlanePair p;
    p.w = w;
    p.h = h;
    p.stride = stride;
    std::size_t const n = static_cast<std::size_t>(stride) * h;
    p.ref.assign(n, -777.0f); // padding must never be read
    p.dis.assign(n, -777.0f);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> any(0, 1023);
    std::uniform_int_distribution<int> small(-6, 6);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int const band = (x * 4 / std::max(w, 1) + y * 3 / std::max(h, 1)) % 4;
            int r = 0;
            switch (band) {
            case 0: r = 512; break;
            case 1: r = (x * 7 + y * 3) % 1024; break;
            default: r = any(rng); break;
            }
            // Band 2 is attenuated and strongly disturbed so the decoupling's angle test fails.
            int d = band == 3   ? r
                    : band == 2 ? std::clamp(r / 2 + small(rng) * 20, 0, 1023)
                                : std::clamp(r + small(rng) * (band + 1), 0, 1023);
            std::size_t const i = static_cast<std::size_t>(y) * stride + x;
            p.ref[i] = r * 0.25f - 128.0f;
            p.dis[i] = d * 0.25f - 128.0f;
        }
    return p;
}

template <typename T>
bool SameBits(T a, T b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Size
{
    int w, h, pad;
};

Size const kSizes[] = {{1, 1, 0},    {2, 3, 5},     {3, 1, 0},     {5, 7, 3},     {8, 8, 0},    {9, 17, 7},
                       {17, 9, 0},   {23, 31, 1},   {33, 40, 8},   {64, 36, 0},   {101, 57, 3}, {130, 75, 6},
                       {255, 64, 1}, {320, 180, 0}, {333, 211, 5}, {480, 270, 0}, {641, 359, 7}};

// The vector tables by name; a table the processor lacks is skipped.
char const* const kTables[] = {"avx2", "avx512"};

Kernels const* TableByName(std::string const& name)
{
    return name == "avx2" ? Avx2Kernels() : name == "avx512" ? Avx512Kernels() : nullptr;
}

class VmafKernels : public ::testing::TestWithParam<std::tuple<char const*, Size>>
{
protected:
    void SetUp() override
    {
        m_vec = TableByName(std::get<0>(GetParam()));
        if (!m_vec)
            GTEST_SKIP() << "no " << std::get<0>(GetParam()) << " kernels on this processor";
        Size const s = std::get<1>(GetParam());
        m_pair = MakePair(s.w, s.h, s.w + s.pad, static_cast<unsigned>(s.w * 131 + s.h));
    }
    Kernels const* m_vec = nullptr;
    PlanePair m_pair;
};

TEST_P(VmafKernels, VifMatchesPortable)
{
    VifResult const a = PortableKernels().vif(m_pair.refView(), m_pair.disView());
    VifResult const b = m_vec->vif(m_pair.refView(), m_pair.disView());
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(SameBits(a.num[k], b.num[k])) << "scale " << k << " " << a.num[k] << " " << b.num[k];
        EXPECT_TRUE(SameBits(a.den[k], b.den[k])) << "scale " << k << " " << a.den[k] << " " << b.den[k];
    }
}

TEST_P(VmafKernels, AdmMatchesPortable)
{
    AdmResult const a = PortableKernels().adm(m_pair.refView(), m_pair.disView());
    AdmResult const b = m_vec->adm(m_pair.refView(), m_pair.disView());
    EXPECT_TRUE(SameBits(a.num, b.num)) << a.num << " " << b.num;
    EXPECT_TRUE(SameBits(a.den, b.den)) << a.den << " " << b.den;
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(SameBits(a.numScale[k], b.numScale[k])) << "scale " << k;
        EXPECT_TRUE(SameBits(a.denScale[k], b.denScale[k])) << "scale " << k;
    }
}

TEST_P(VmafKernels, SsimMatchesPortableOnOffsetAndPlainSamples)
{
    for (float addend : {128.0f, 0.0f}) {
        double const a = PortableKernels().ssim(m_pair.refView(), m_pair.disView(), addend);
        double const b = m_vec->ssim(m_pair.refView(), m_pair.disView(), addend);
        EXPECT_TRUE(SameBits(a, b)) << addend << ": " << a << " " << b;
    }
}

TEST_P(VmafKernels, MotionBlurAndScoresMatchPortable)
{
    PlanePair const& p = m_pair;
    std::size_t const n = static_cast<std::size_t>(p.stride) * p.h;
    std::vector<float> a(n, 0.0f), b(n, 0.0f), tmp(static_cast<std::size_t>(p.w) + 8);
    PortableKernels().motionBlur(p.refView(), a.data(), p.stride, tmp.data());
    m_vec->motionBlur(p.refView(), b.data(), p.stride, tmp.data());
    for (int y = 0; y < p.h; ++y)
        ASSERT_EQ(std::memcmp(a.data() + y * p.stride, b.data() + y * p.stride, sizeof(float) * p.w), 0) << "row " << y;
    PlaneView const va{a.data(), p.w, p.h, p.stride};
    EXPECT_TRUE(SameBits(PortableKernels().motionScore(va, p.disView()), m_vec->motionScore(va, p.disView())));

    // The score blurring as it goes equals the score of the two stored blurs, in every table.
    PortableKernels().motionBlur(p.disView(), b.data(), p.stride, tmp.data());
    double const stored = PortableKernels().motionScore(va, {b.data(), p.w, p.h, p.stride});
    EXPECT_TRUE(SameBits(stored, PortableKernels().blurredMotionScore(p.refView(), p.disView())));
    EXPECT_TRUE(SameBits(stored, m_vec->blurredMotionScore(p.refView(), p.disView())));
}

// The vector sum runs on samples of the quarter grid only; one sample off it (in the vector part,
// in the remainder of a row) or all of them off it must give the portable bits as well.
TEST_P(VmafKernels, MeanSquaredErrorMatchesPortableOnAndOffTheQuarterGrid)
{
    PlanePair p = m_pair;
    std::size_t const first = 0;
    std::size_t const last = static_cast<std::size_t>(p.h - 1) * p.stride + p.w - 1;
    for (int variant = 0; variant < 4; ++variant) {
        if (variant == 1)
            p.dis[first] += 0.1f;
        if (variant == 2) {
            p.dis[first] = m_pair.dis[first];
            p.dis[last] += 0.3f;
        }
        if (variant == 3)
            for (int y = 0; y < p.h; ++y)
                for (int x = 0; x < p.w; ++x)
                    p.dis[static_cast<std::size_t>(y) * p.stride + x] += 0.01f * static_cast<float>(x % 7);
        double const a = PortableKernels().mse(p.refView(), p.disView());
        double const b = m_vec->mse(p.refView(), p.disView());
        EXPECT_TRUE(SameBits(a, b)) << "variant " << variant << ": " << a << " " << b;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, VmafKernels,
                         ::testing::Combine(::testing::ValuesIn(kTables), ::testing::ValuesIn(kSizes)),
                         [](auto const& info) {
                             Size const s = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param)) + "_" + std::to_string(s.w) + "x" +
                                    std::to_string(s.h) + "p" + std::to_string(s.pad);
                         });

// Planes large enough for SSIM to decimate them first (factors 2, 3, 4 and 8; odd sizes and padded
// rows), where the vector code gathers the box taps.
TEST(VmafKernelsEdges, SsimDecimationMatchesPortable)
{
    Size const sizes[] = {{512, 512, 0}, {771, 769, 5}, {1031, 1025, 3}, {2049, 2048, 0}};
    for (char const* table : kTables) {
        Kernels const* vec = TableByName(table);
        if (!vec)
            continue;
        for (Size const& sz : sizes) {
            PlanePair const p = MakePair(sz.w, sz.h, sz.w + sz.pad, static_cast<unsigned>(sz.w));
            for (float addend : {128.0f, 0.0f}) {
                double const a = PortableKernels().ssim(p.refView(), p.disView(), addend);
                double const b = vec->ssim(p.refView(), p.disView(), addend);
                EXPECT_TRUE(SameBits(a, b))
                    << table << " " << sz.w << "x" << sz.h << " " << addend << ": " << a << " " << b;
            }
        }
    }
}

// Odd inputs: zero planes, identical planes and planes at the ends of the range.
TEST(VmafKernelsEdges, ConstantAndIdenticalPlanesMatchPortable)
{
    for (char const* table : kTables) {
        Kernels const* vec = TableByName(table);
        if (!vec)
            continue;
        SCOPED_TRACE(table);
        for (float value : {-128.0f, 0.0f, 127.75f}) {
            int const w = 37, h = 29;
            std::vector<float> r(static_cast<std::size_t>(w) * h, value);
            PlaneView const v{r.data(), w, h, w};
            VifResult const a = PortableKernels().vif(v, v), b = vec->vif(v, v);
            AdmResult const c = PortableKernels().adm(v, v), d = vec->adm(v, v);
            for (int k = 0; k < 4; ++k) {
                EXPECT_TRUE(SameBits(a.num[k], b.num[k]) && SameBits(a.den[k], b.den[k])) << value;
                EXPECT_TRUE(SameBits(c.numScale[k], d.numScale[k]) && SameBits(c.denScale[k], d.denScale[k])) << value;
            }
            EXPECT_TRUE(SameBits(PortableKernels().ssim(v, v, 128.0f), vec->ssim(v, v, 128.0f))) << value;
        }
    }
}

// The scratch and plane blocks: small ones from the heap, picture-sized ones mapped on huge pages.
// Every size must come back 32-byte aligned and zero-filled up to its last float, keep its samples
// when moved, and go back without disturbing its neighbours (sizes around the 384 KiB and 2 MiB
// boundaries, among them the 1080p chroma plane just under 2 MiB).
TEST(VmafSampleBuffers, AlignedZeroedMovableAtEverySize)
{
    std::size_t const counts[] = {0, 1, 9, 98303, 98304, 98305, 518400, 524288, 524289, 2073600, 2097152 + 1};
    for (std::size_t count : counts) {
        SCOPED_TRACE(count);
        FloatBuffer a;
        ASSERT_TRUE(a.resize(count));
        ASSERT_EQ(a.size(), count);
        ASSERT_NE(a.data(), nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.data()) % 32, 0u);
        EXPECT_TRUE(std::all_of(a.data(), a.data() + count, [](float v) { return v == 0.0f; }));
        for (std::size_t i = 0; i < count; ++i)
            a[i] = static_cast<float>(i % 251);
        FloatBuffer b(std::move(a));
        EXPECT_EQ(a.size(), 0u);
        ASSERT_EQ(b.size(), count);
        if (count > 0)
            EXPECT_EQ(b[count - 1], static_cast<float>((count - 1) % 251));
        // A buffer that is dirty and then grows again reads zero: nothing of the old block shows.
        FloatBuffer c(count / 2 + 1);
        c[0] = 5.0f;
        c = std::move(b);
        ASSERT_TRUE(c.resize(count + 7));
        EXPECT_TRUE(std::all_of(c.data(), c.data() + count + 7, [](float v) { return v == 0.0f; }));
    }
    // The allocator of the kernels' scratch vectors keeps the elements across growth (an element
    // type the vector units do not use, so no instantiation here is shared with them).
    std::vector<std::int64_t, SampleAllocator<std::int64_t>> v;
    for (std::int64_t i = 0; i < 300000; ++i)
        v.push_back(i * 3);
    EXPECT_EQ(v[299999], 299999 * 3);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % 32, 0u);
}

} // namespace

namespace {

// A worker's scratch region: the kernels' scratch of that thread is carved from it (aligned, zero,
// disjoint) until it is full, then comes from the system; giving a carved block back leaves the
// region alone (the region here is an ordinary heap block, so freeing a carved block to the system
// would abort), and the kernels measure on region scratch exactly as on their own.
TEST(VmafSampleBuffers, ThreadScratchRegionServesThenFallsBack)
{
    PlanePair const p = MakePair(203, 61, 211, 7u);
    Kernels const* vec = VectorKernels();
    Kernels const& k = vec ? *vec : PortableKernels();
    VifResult const want = k.vif(p.refView(), p.disView());
    double const wantSsim = k.ssim(p.refView(), p.disView(), 128.0f);

    std::vector<float> region(1 << 18, 0.0f); // 1 MiB
    auto const inRegion = [&](void const* q) {
        auto const a = reinterpret_cast<std::uintptr_t>(q);
        auto const b = reinterpret_cast<std::uintptr_t>(region.data());
        return a >= b && a - b < region.size() * sizeof(float);
    };
    bool carvedOk = false;
    bool fellBack = false;
    bool sameValues = false;
    std::thread worker([&] {
        UseThreadScratchRegion(region.data(), region.size() * sizeof(float));
        std::vector<float, SampleAllocator<float>> a(1000);
        float* s = ThreadScratch(kThreadScratchSlots - 1, 5000);
        carvedOk = inRegion(a.data()) && inRegion(s) && inRegion(s + 4999) &&
                   (s >= a.data() + 1000 || s + 5000 <= a.data()) && reinterpret_cast<std::uintptr_t>(s) % 32 == 0 &&
                   std::all_of(s, s + 5000, [](float v) { return v == 0.0f; });
        std::fill(a.begin(), a.end(), 3.0f);
        // Larger than what is left: from the system, and given back to it.
        std::vector<float, SampleAllocator<float>> big(300000);
        fellBack = !inRegion(big.data()) && big[299999] == 0.0f;
        VifResult const got = k.vif(p.refView(), p.disView());
        sameValues = k.ssim(p.refView(), p.disView(), 128.0f) == wantSsim;
        for (int i = 0; i < 4; ++i)
            sameValues = sameValues && got.num[i] == want.num[i] && got.den[i] == want.den[i];
    });
    worker.join();
    EXPECT_TRUE(carvedOk);
    EXPECT_TRUE(fellBack);
    EXPECT_TRUE(sameValues);
}

} // namespace
