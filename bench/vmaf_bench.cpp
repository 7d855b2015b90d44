// The measurement driver (PSNR + SSIM + VMAF on Y, U and V) on the portable kernels against
// the vector kernels, on 720p and 1080p 30-frame pairs with 1 and 8 workers, and each kernel
// alone on one 1080p luma plane with the portable, AVX2 and AVX-512 tables. After the runs the
// speed ratios are printed.
// The pairs are generated into the build tree by bench/gen_vmaf_pair.sh when missing.
//
// vmaf_bench --memory WIDTH HEIGHT FRAMES THREADS measures one run on a pair read from the
// files frame by frame (nothing preloaded) and prints the process's peak resident memory;
// run it under /usr/bin/time -v for the same figure from outside.

#include "core/metrics/vmaf_y4m.h"
#include "metrics/vmaf_driver.h"
#include "metrics/vmaf_kernels.h"
#include "metrics/vmaf_motion.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>

using namespace ze::nox::core;

namespace {

std::string const kDir = std::string(SERAVIN_TEST_MEDIA_DIR) + "/../../bench/media";

std::string PairPath(int w, int h, int frames, bool reference)
{
    return kDir + "/B_" + std::to_string(w) + "x" + std::to_string(h) + "_" + std::to_string(frames) + "f_420p_" +
           (reference ? "ref" : "crf30") + ".y4m";
}

bool EnsurePair(int w, int h, int frames)
{
    if (std::ifstream(PairPath(w, h, frames, true)) && std::ifstream(PairPath(w, h, frames, false)))
        return true;
    std::string const cmd = "bash '" + std::string(SERAVIN_SOURCE_DIR) + "/bench/gen_vmaf_pair.sh' '" + kDir + "' " +
                            std::to_string(w) + " " + std::to_string(h) + " " + std::to_string(frames);
    return std::system(cmd.c_str()) == 0;
}

struct Pair
{
    Y4mClip ref, dis;
};

Pair const* LoadPair(int w, int h)
{
    static std::map<int, std::unique_ptr<Pair>> pairs;
    auto& slot = pairs[w];
    if (!slot) {
        if (!EnsurePair(w, h, 30))
            return nullptr;
        auto p = std::make_unique<Pair>();
        if (!p->ref.load(PairPath(w, h, 30, true)) || !p->dis.load(PairPath(w, h, 30, false)))
            return nullptr;
        slot = std::move(p);
    }
    return slot.get();
}

std::string ModelPath()
{
    char buf[4096];
    ssize_t const n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string exe(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/')) + "/models/vmaf_v0.6.1.pkl";
}

struct Source
{
    Y4mClip const* ref;
    Y4mClip const* dis;
    int next = 0;
    int delivered = 0;
};

void CopyPlane(std::vector<float> const& src, int w, int h, float* dst, int stride)
{
    for (int y = 0; y < h; ++y)
        std::copy_n(src.data() + static_cast<std::size_t>(y) * w, w,
                    reinterpret_cast<float*>(reinterpret_cast<char*>(dst) + static_cast<std::ptrdiff_t>(y) * stride));
}

int Pull(float* ref[4], float* dis[4], float* [4], int stride[4], void* user)
{
    auto* s = static_cast<Source*>(user);
    if (s->next >= s->ref->frames)
        return 2;
    for (int p = 0; p < 3; ++p) {
        CopyPlane(s->ref->planes[s->next][p], s->ref->planeWidth(p), s->ref->planeHeight(p), ref[p], stride[p]);
        CopyPlane(s->dis->planes[s->next][p], s->ref->planeWidth(p), s->ref->planeHeight(p), dis[p], stride[p]);
    }
    ++s->next;
    return 0;
}

void Deliver(int, double[3][4], void* user)
{
    ++static_cast<Source*>(user)->delivered;
}

// Frames per second of each driver run, by (height, threads, vector).
std::map<std::tuple<int, int, int>, double>& Rates()
{
    static std::map<std::tuple<int, int, int>, double> r;
    return r;
}

// Arguments: width, height, threads, vector (0 portable, 1 vector kernels).
void BM_Driver(benchmark::State& state)
{
    int const w = static_cast<int>(state.range(0));
    int const h = static_cast<int>(state.range(1));
    int const threads = static_cast<int>(state.range(2));
    bool const vector = state.range(3) != 0;
    if (vector && !vmaf::VectorKernels()) {
        state.SkipWithError("no vector kernels on this processor");
        return;
    }
    Pair const* pair = LoadPair(w, h);
    if (!pair) {
        state.SkipWithError("pair not available");
        return;
    }
    std::string const model = ModelPath();
    int widths[4] = {pair->ref.planeWidth(0), pair->ref.planeWidth(1), pair->ref.planeWidth(2), 0};
    int heights[4] = {pair->ref.planeHeight(0), pair->ref.planeHeight(1), pair->ref.planeHeight(2), 0};
    int frames = 0;
    auto const start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        Source s{&pair->ref, &pair->dis};
        double pooled = 0;
        int const rc = compute_vmaf(&pooled, "yuv420p", widths, heights, &Pull, &s, model.c_str(), nullptr, nullptr, 0,
                                    vector ? 0 : 1, 0, 0, 1, 1, 0, nullptr, threads, 1, 0, &Deliver);
        if (rc != 0 || s.delivered != pair->ref.frames) {
            state.SkipWithError("measurement failed");
            return;
        }
        frames += s.delivered;
    }
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    Rates()[{h, threads, vector ? 1 : 0}] = frames / seconds;
}

// One kernel on the first frame's luma plane of the 1080p pair (offset by -128).
// Arguments: kernel (0 VIF, 1 ADM, 2 SSIM, 3 motion blur, 4 motion score, 5 MSE), table (0 portable,
// 1 AVX2, 2 AVX-512).
void BM_Kernel(benchmark::State& state)
{
    int const kernel = static_cast<int>(state.range(0));
    int const table = static_cast<int>(state.range(1));
    vmaf::Kernels const* kp = table == 0   ? &vmaf::PortableKernels()
                              : table == 1 ? vmaf::Avx2Kernels()
                                           : vmaf::Avx512Kernels();
    if (!kp) {
        state.SkipWithError("no such vector kernels on this processor");
        return;
    }
    Pair const* pair = LoadPair(1920, 1080);
    if (!pair) {
        state.SkipWithError("pair not available");
        return;
    }
    vmaf::Kernels const& k = *kp;
    int const w = pair->ref.width, h = pair->ref.height;
    std::vector<float> r = pair->ref.planes[0][0], d = pair->dis.planes[0][0];
    for (float& x : r)
        x -= 128.0f;
    for (float& x : d)
        x -= 128.0f;
    vmaf::PlaneView const rv{r.data(), w, h, w}, dv{d.data(), w, h, w};
    std::vector<float> blur(r.size()), tmp(static_cast<std::size_t>(w) + 8);
    for (auto _ : state) {
        switch (kernel) {
        case 0: benchmark::DoNotOptimize(k.vif(rv, dv)); break;
        case 1: benchmark::DoNotOptimize(k.adm(rv, dv)); break;
        case 2: benchmark::DoNotOptimize(k.ssim(rv, dv, 128.0f)); break;
        case 3: k.motionBlur(rv, blur.data(), w, tmp.data()); break;
        case 4: benchmark::DoNotOptimize(k.motionScore(rv, dv)); break;
        default: benchmark::DoNotOptimize(k.mse(rv, dv)); break;
        }
        benchmark::ClobberMemory();
    }
    static char const* const names[] = {"vif", "adm", "ssim", "motion_blur", "motion_score", "mse"};
    state.SetLabel(std::string(names[std::min(kernel, 5)]) + " " + k.name);
}

void PrintRatios()
{
    auto const& r = Rates();
    bool any = false;
    for (int h : {720, 1080})
        for (int t : {1, 8}) {
            auto const p = r.find({h, t, 0});
            auto const v = r.find({h, t, 1});
            if (p == r.end() || v == r.end())
                continue;
            if (!any)
                std::printf("\nDriver speed, vector kernels against portable (fps):\n");
            any = true;
            std::printf("  %4dp %d thread%s: %7.2f -> %7.2f  x%.2f\n", h, t, t > 1 ? "s" : " ", p->second, v->second,
                        v->second / p->second);
        }
}

// ---------------------------------------------------------------- memory mode

// Pull that reads both files frame by frame, so the process holds only the driver's memory.
struct StreamSource
{
    std::ifstream ref, dis;
    int w = 0, h = 0;
    std::vector<unsigned char> raw;
    int delivered = 0;

    bool readFrame(std::ifstream& in, float* planes[4], int stride[4])
    {
        std::string line;
        if (!std::getline(in, line) || line.rfind("FRAME", 0) != 0)
            return false;
        for (int p = 0; p < 3; ++p) {
            int const pw = p ? (w + 1) / 2 : w, ph = p ? (h + 1) / 2 : h;
            raw.resize(static_cast<std::size_t>(pw));
            for (int y = 0; y < ph; ++y) {
                if (!in.read(reinterpret_cast<char*>(raw.data()), pw))
                    return false;
                float* o = reinterpret_cast<float*>(reinterpret_cast<char*>(planes[p]) +
                                                    static_cast<std::ptrdiff_t>(y) * stride[p]);
                for (int x = 0; x < pw; ++x)
                    o[x] = raw[static_cast<std::size_t>(x)];
            }
        }
        return true;
    }
};

int StreamPull(float* ref[4], float* dis[4], float* [4], int stride[4], void* user)
{
    auto* s = static_cast<StreamSource*>(user);
    if (s->ref.peek() == EOF)
        return 2;
    return s->readFrame(s->ref, ref, stride) && s->readFrame(s->dis, dis, stride) ? 0 : 1;
}

void StreamDeliver(int, double[3][4], void* user)
{
    ++static_cast<StreamSource*>(user)->delivered;
}

int MemoryRun(int w, int h, int frames, int threads, bool vector)
{
    if (!EnsurePair(w, h, frames)) {
        std::fprintf(stderr, "cannot make the %dx%d pair\n", w, h);
        return 1;
    }
    StreamSource s;
    s.w = w;
    s.h = h;
    s.ref.open(PairPath(w, h, frames, true), std::ios::binary);
    s.dis.open(PairPath(w, h, frames, false), std::ios::binary);
    std::string header;
    std::getline(s.ref, header);
    std::getline(s.dis, header);
    int widths[4] = {w, (w + 1) / 2, (w + 1) / 2, 0};
    int heights[4] = {h, (h + 1) / 2, (h + 1) / 2, 0};
    double pooled = 0;
    auto const start = std::chrono::steady_clock::now();
    int const rc = compute_vmaf(&pooled, "yuv420p", widths, heights, &StreamPull, &s, ModelPath().c_str(), nullptr,
                                nullptr, 0, vector ? 0 : 1, 0, 0, 1, 1, 0, nullptr, threads, 1, 0, &StreamDeliver);
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%dx%d, %d frames, %d threads, %s kernels: rc %d, %d frames delivered, %.2f s, peak RSS %.0f MB\n", w,
                h, frames, threads, vector ? "vector" : "portable", rc, s.delivered, seconds, ru.ru_maxrss / 1024.0);
    return rc == 0 && s.delivered == frames ? 0 : 1;
}

} // namespace

BENCHMARK(BM_Driver)
    ->ArgNames({"w", "h", "threads", "vector"})
    ->Args({1280, 720, 1, 0})
    ->Args({1280, 720, 1, 1})
    ->Args({1280, 720, 8, 0})
    ->Args({1280, 720, 8, 1})
    ->Args({1920, 1080, 1, 0})
    ->Args({1920, 1080, 1, 1})
    ->Args({1920, 1080, 8, 0})
    ->Args({1920, 1080, 8, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_Kernel)
    ->ArgNames({"kernel", "table"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--memory") == 0)
        return MemoryRun(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), true);
    if (argc == 7 && std::strcmp(argv[1], "--memory") == 0)
        return MemoryRun(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                         std::strcmp(argv[6], "portable") != 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintRatios();
    return 0;
}
