// The measurement driver with a synthetic pull: ordering, end of stream, pull errors,
// argument checks, worker counts, and tiny planes.

#include "metrics/vmaf_adm.h"
#include "metrics/vmaf_driver.h"
#include "metrics/vmaf_motion.h"
#include "metrics/vmaf_ssim.h"
#include "metrics/vmaf_vif.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#ifdef __linux__
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace ze::nox::core;

namespace {

std::string ModelPath()
{
    return (QCoreApplication::applicationDirPath() + "/models/vmaf_v0.6.1.pkl").toStdString();
}

struct Synthetic
{
    int w = 32, h = 24;
    int frames = 10;
    int errorAt = -1; // pull answers 1 at this frame
    bool randomDelays = false;
    int next = 0;
    std::atomic<int> pullsInFlight{0};
    std::atomic<int> deliveriesInFlight{0};
    std::atomic<bool> overlap{false};
    std::mutex mutex;
    std::vector<int> delivered;
    std::vector<std::array<double, 12>> values;
    std::mt19937 rng{7};
    std::mutex rngMutex;
};

// Pulls and deliveries may run at the same time: the generator has its own lock.
void Sleep(Synthetic& s)
{
    if (!s.randomDelays)
        return;
    unsigned delay;
    {
        std::lock_guard<std::mutex> lock(s.rngMutex);
        delay = static_cast<unsigned>(s.rng() % 2000);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
}

void WriteSyntheticFrame(Synthetic const& s, int f, float* ref[4], float* dis[4], int const stride[4])
{
    int const ws[3] = {s.w, (s.w + 1) / 2, (s.w + 1) / 2};
    int const hs[3] = {s.h, (s.h + 1) / 2, (s.h + 1) / 2};
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < hs[p]; ++y) {
            float* r = reinterpret_cast<float*>(reinterpret_cast<char*>(ref[p]) + y * stride[p]);
            float* d = reinterpret_cast<float*>(reinterpret_cast<char*>(dis[p]) + y * stride[p]);
            for (int x = 0; x < ws[p]; ++x) {
                r[x] = static_cast<float>((x * 7 + y * 3 + f * 5 + p * 11) % 256);
                d[x] = std::min(255.0f, r[x] + static_cast<float>((x + y + f) % 5));
            }
        }
}

int SyntheticPull(float* ref[4], float* dis[4], float* [4], int stride[4], void* user)
{
    auto& s = *static_cast<Synthetic*>(user);
    if (s.pullsInFlight.fetch_add(1) != 0)
        s.overlap = true;
    Sleep(s);
    int rc = 0;
    if (s.next == s.errorAt)
        rc = 1;
    else if (s.next >= s.frames)
        rc = 2;
    else {
        WriteSyntheticFrame(s, s.next++, ref, dis, stride);
        EXPECT_EQ(stride[3], 0);
    }
    s.pullsInFlight.fetch_sub(1);
    return rc;
}

void SyntheticDeliver(int frame, double values[3][4], void* user)
{
    auto& s = *static_cast<Synthetic*>(user);
    if (s.deliveriesInFlight.fetch_add(1) != 0)
        s.overlap = true;
    Sleep(s);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.delivered.push_back(frame);
        std::array<double, 12> v{};
        for (int m = 0; m < 3; ++m)
            for (int p = 0; p < 4; ++p)
                v[m * 4 + p] = values[m][p];
        s.values.push_back(v);
    }
    s.deliveriesInFlight.fetch_sub(1);
}

// The split pull: the pull only claims the next frame, the fill writes it later on the worker.
struct SplitSynthetic : Synthetic
{
    std::atomic<int> fillsInFlight{0};
    std::atomic<bool> fillDuringPull{false};
    std::vector<int> fills; // under mutex
};

int ClaimPull(float* [4], float* [4], float* [4], int[4], void* user)
{
    auto& s = *static_cast<SplitSynthetic*>(user);
    s.pullsInFlight.fetch_add(1);
    Sleep(s);
    int rc = 0;
    if (s.next == s.errorAt)
        rc = 1;
    else if (s.next >= s.frames)
        rc = 2;
    else
        ++s.next;
    s.pullsInFlight.fetch_sub(1);
    return rc;
}

void SyntheticFill(int frame, float* ref[4], float* dis[4], int stride[4], void* user)
{
    auto& s = *static_cast<SplitSynthetic*>(user);
    s.fillsInFlight.fetch_add(1);
    Sleep(s);
    if (s.pullsInFlight.load() != 0)
        s.fillDuringPull = true;
    WriteSyntheticFrame(s, frame, ref, dis, stride);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.fills.push_back(frame);
    }
    s.fillsInFlight.fetch_sub(1);
}

int Measure(Synthetic& s, int threads, char const* fmt = "yuv420p", std::string model = ModelPath(), int disableAvx = 0)
{
    int widths[4] = {s.w, (s.w + 1) / 2, (s.w + 1) / 2, 0};
    int heights[4] = {s.h, (s.h + 1) / 2, (s.h + 1) / 2, 0};
    double pooled = -1;
    return compute_vmaf(&pooled, fmt, widths, heights, &SyntheticPull, &s, model.c_str(), nullptr, nullptr, 0,
                        disableAvx, 0, 0, 1, 1, 0, nullptr, threads, 1, 0, &SyntheticDeliver);
}

int MeasureSplit(SplitSynthetic& s, int threads, FillFrameCallbackFn fill = &SyntheticFill)
{
    int widths[4] = {s.w, (s.w + 1) / 2, (s.w + 1) / 2, 0};
    int heights[4] = {s.h, (s.h + 1) / 2, (s.h + 1) / 2, 0};
    double pooled = -1;
    return compute_vmaf(&pooled, "yuv420p", widths, heights, &ClaimPull, &s, ModelPath().c_str(), nullptr, nullptr, 0,
                        0, 0, 0, 1, 1, 0, nullptr, threads, 1, 0, &SyntheticDeliver, fill);
}

std::vector<int> Range(int n)
{
    std::vector<int> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[i] = i;
    return v;
}

} // namespace

TEST(VmafDriver, EightWorkersWithRandomDelaysDeliverInOrderWithoutOverlap)
{
    Synthetic s;
    s.frames = 200;
    s.randomDelays = true;
    ASSERT_EQ(Measure(s, 8), 0);
    EXPECT_EQ(s.delivered, Range(200));
    EXPECT_FALSE(s.overlap);
    for (auto const& v : s.values)
        for (double x : v)
            EXPECT_TRUE(std::isfinite(x));
}

TEST(VmafDriver, EndOfStreamAndPullErrors)
{
    struct Case
    {
        int frames;
        int errorAt;
        int expectedDeliveries;
    } const cases[] = {
        {0, -1, 0}, // first pull: no more frames
        {10, 0, 0}, // first pull fails
        {10, 5, 5}, // error at frame 5: frames 0..4 are still measured
        {1, -1, 1}, // one frame
    };
    for (Case const& c : cases) {
        for (int threads : {1, 8}) {
            Synthetic s;
            s.frames = c.frames;
            s.errorAt = c.errorAt;
            EXPECT_EQ(Measure(s, threads), 0);
            EXPECT_EQ(s.delivered, Range(c.expectedDeliveries)) << c.frames << "/" << c.errorAt << "/" << threads;
        }
    }
}

TEST(VmafDriver, OneAndEightWorkersGiveIdenticalValues)
{
    Synthetic a, b;
    a.frames = b.frames = 12;
    ASSERT_EQ(Measure(a, 1), 0);
    ASSERT_EQ(Measure(b, 8), 0);
    EXPECT_EQ(a.values, b.values);
    // Identical planes: PSNR at the cap on frame 0 would need equal pictures; here it is finite.
    EXPECT_LT(a.values[0][0], 100.0);
}

// A frame's pieces are measured by whichever workers are free, with fewer frames in flight than
// workers: at every worker count, with pulls and deliveries of random lengths, each frame comes
// out once, in order, with every piece of its own pictures in it (the values of one worker).
TEST(VmafDriver, EveryWorkerCountGivesTheValuesOfOneWorker)
{
    Synthetic one;
    one.frames = 24;
    ASSERT_EQ(Measure(one, 1), 0);
    for (int threads : {2, 3, 5, 8}) {
        Synthetic s;
        s.frames = 24;
        s.randomDelays = true;
        ASSERT_EQ(Measure(s, threads), 0);
        EXPECT_EQ(s.delivered, Range(24)) << threads;
        EXPECT_EQ(s.values, one.values) << threads;
        EXPECT_FALSE(s.overlap) << threads;
    }
}

// With the pull split in two, every claimed frame is filled exactly once, outside the pull
// (fills run while other workers pull), and the values, the order and the ends are those of the
// plain pull.
TEST(VmafDriver, SplitPullFillsEveryClaimedFrameOnceOutsideThePull)
{
    struct Case
    {
        int frames;
        int errorAt;
        int expectedDeliveries;
    } const cases[] = {{40, -1, 40}, {0, -1, 0}, {10, 0, 0}, {10, 5, 5}, {1, -1, 1}};
    for (Case const& c : cases) {
        for (int threads : {1, 8}) {
            Synthetic plain;
            plain.frames = c.frames;
            plain.errorAt = c.errorAt;
            ASSERT_EQ(Measure(plain, threads), 0);
            SplitSynthetic split;
            split.frames = c.frames;
            split.errorAt = c.errorAt;
            split.randomDelays = threads > 1;
            ASSERT_EQ(MeasureSplit(split, threads), 0);
            SCOPED_TRACE(std::to_string(c.frames) + "/" + std::to_string(c.errorAt) + "/" + std::to_string(threads));
            EXPECT_EQ(split.delivered, Range(c.expectedDeliveries));
            EXPECT_EQ(split.values, plain.values);
            std::sort(split.fills.begin(), split.fills.end());
            EXPECT_EQ(split.fills, Range(split.next));
            if (threads > 1 && c.frames == 40) {
                EXPECT_TRUE(split.fillDuringPull);
            }
        }
    }
}

#ifdef __linux__
namespace {

int ThreadNice()
{
    errno = 0;
    return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}

struct NiceSynthetic : SplitSynthetic
{
    std::vector<int> fillNice; // under mutex
};

void NiceFill(int frame, float* ref[4], float* dis[4], int stride[4], void* user)
{
    auto& s = *static_cast<NiceSynthetic*>(user);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.fillNice.push_back(ThreadNice());
    }
    SyntheticFill(frame, ref, dis, stride, user);
}

} // namespace

TEST(VmafDriver, WorkersRunBelowTheCallersPriorityAndLeaveItAsItWas)
{
    // The threads that decode for a run keep the caller's priority; the workers give way to them.
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        NiceSynthetic s;
        s.frames = 6;
        int const before = ThreadNice();
        ASSERT_EQ(MeasureSplit(s, threads, &NiceFill), 0);
        EXPECT_EQ(ThreadNice(), before);
        EXPECT_EQ(s.fillNice, std::vector<int>(6, std::min(19, before + vmaf::kWorkerNiceStep)));
    }
}
#endif

TEST(VmafDriver, ArgumentChecksAndFailures)
{
    testing::internal::CaptureStdout();
    Synthetic s;
    int w0[4] = {0, 1, 1, 0}, h1[4] = {1, 1, 1, 0}, w1[4] = {1, 1, 1, 0}, h0[4] = {1, 0, 1, 0};
    double pooled = 0;
    auto call = [&](int* w, int* h, int threads, int sub, char const* fmt, std::string const& model) {
        return compute_vmaf(&pooled, fmt, w, h, &SyntheticPull, &s, model.c_str(), nullptr, nullptr, 0, 0, 0, 0, 1, 1,
                            0, nullptr, threads, sub, 0, &SyntheticDeliver);
    };
    EXPECT_EQ(call(w0, h1, 1, 1, "yuv420p", ModelPath()), -2);
    EXPECT_EQ(call(w1, h0, 1, 1, "yuv420p", ModelPath()), -2);
    EXPECT_EQ(call(w1, h1, -1, 1, "yuv420p", ModelPath()), -2);
    EXPECT_EQ(call(w1, h1, 1, 0, "yuv420p", ModelPath()), -2);
    EXPECT_EQ(call(w1, h1, 1, 1, "nv12", ModelPath()), -2);
    EXPECT_EQ(call(w1, h1, 1, 1, "yuv420p", "/nonexistent/vmaf_v0.6.1.pkl"), -2);
    std::string const out = testing::internal::GetCapturedStdout();
    for (char const* text : {"Caught VmafException: Invalid width value (must be > 0)\n",
                             "Caught VmafException: Invalid height value (must be > 0)\n",
                             "Caught VmafException: Invalid n_thread value (must be >= 0)\n",
                             "Caught VmafException: Invalid n_subsample value (must be > 0)\n",
                             "Caught VmafException: unknown format nv12.\n",
                             "Input model at /nonexistent/vmaf_v0.6.1.pkl cannot be read successfully.\n",
                             "Caught VmafException: Error loading model (.pkl): "})
        EXPECT_NE(out.find(text), std::string::npos) << text << "\nin:\n" << out;
    EXPECT_TRUE(s.delivered.empty());
}

TEST(VmafDriver, GeometryHelpers)
{
    EXPECT_EQ(vmaf::PlaneStrideBytes(1), 32);
    EXPECT_EQ(vmaf::PlaneStrideBytes(9), 64);
    EXPECT_EQ(vmaf::PlaneStrideBytes(0), 0);
    int const cpus = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(vmaf::EffectiveThreadCount(0), cpus);
    EXPECT_EQ(vmaf::EffectiveThreadCount(cpus + 1), cpus);
    EXPECT_EQ(vmaf::EffectiveThreadCount(1), 1);
    int w[4] = {5, 3, 3, 0}, h[4] = {4, 2, 2, 0};
    Asset const a(w, h);
    EXPECT_STREQ(a.getFmt(), "yuv420p");
    EXPECT_EQ(a.getWidth(4), 0);
    EXPECT_EQ(a.getHeight(-1), 0);
    DArray d;
    d.set(2500, 1.5);
    EXPECT_EQ(d.get(2500), 1.5);
    EXPECT_EQ(d.get(10), 0.0);
    EXPECT_GE(d.capacity(), 2501u);
}

// Tiny planes: every feature stays finite and in bounds (run under the sanitizer build).
TEST(VmafDriver, TinyPlanesGiveFiniteValues)
{
    for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 3}, std::pair{17, 9}, std::pair{3, 1}}) {
        for (bool flat : {false, true}) {
            std::vector<float> r(static_cast<std::size_t>(w) * h), d(r.size());
            for (std::size_t i = 0; i < r.size(); ++i) {
                r[i] = flat ? 0.0f : static_cast<float>((i * 37) % 200) - 100.0f;
                d[i] = flat ? 0.0f : r[i] + static_cast<float>(i % 3);
            }
            vmaf::PlaneView const rv{r.data(), w, h, w}, dv{d.data(), w, h, w};
            vmaf::AdmResult const adm = vmaf::Adm(rv, dv);
            vmaf::VifResult const vif = vmaf::Vif(rv, dv);
            EXPECT_TRUE(std::isfinite(adm.num) && std::isfinite(adm.den)) << w << "x" << h;
            for (int k = 0; k < 4; ++k)
                EXPECT_TRUE(std::isfinite(vif.num[k]) && std::isfinite(vif.den[k])) << w << "x" << h;
            EXPECT_TRUE(std::isfinite(vmaf::Ssim(rv, dv))) << w << "x" << h;
            std::vector<float> b(r.size()), tmp(static_cast<std::size_t>(w) + 8);
            vmaf::MotionBlur(rv, b.data(), w, tmp.data());
            EXPECT_TRUE(std::isfinite(vmaf::MotionScore(rv, {b.data(), w, h, w})));
        }
        Synthetic s;
        s.w = w;
        s.h = h;
        s.frames = 3;
        ASSERT_EQ(Measure(s, 2), 0);
        ASSERT_EQ(s.delivered, Range(3));
        for (auto const& v : s.values)
            for (double x : v)
                EXPECT_TRUE(std::isfinite(x)) << w << "x" << h;
    }
}

// The whole driver on the vector kernels gives the portable run's values bit for bit, in
// frame order, whatever the worker count and however pulls and deliveries are delayed.
TEST(VmafDriver, VectorKernelsGiveThePortableValues)
{
    for (auto [w, h] : {std::pair{67, 45}, std::pair{160, 90}}) {
        Synthetic portable;
        portable.w = w;
        portable.h = h;
        portable.frames = 7;
        ASSERT_EQ(Measure(portable, 1, "yuv420p", ModelPath(), 1), 0);
        ASSERT_EQ(portable.delivered, Range(7));
        for (int threads : {1, 4}) {
            Synthetic vec;
            vec.w = w;
            vec.h = h;
            vec.frames = 7;
            vec.randomDelays = threads > 1;
            ASSERT_EQ(Measure(vec, threads), 0);
            ASSERT_EQ(vec.delivered, Range(7));
            EXPECT_FALSE(vec.overlap);
            ASSERT_EQ(std::memcmp(vec.values.data(), portable.values.data(), sizeof(double) * 12 * 7), 0)
                << w << "x" << h << " on " << threads << " workers";
        }
    }
}
