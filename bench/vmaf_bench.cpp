// Frames per second of PSNR + SSIM + VMAF on Y, U and V of the 1280x720 30-frame pair,
// through the measurement driver, with 1 and 8 workers (frames in parallel).
// The pair is generated into the build tree by tests/media/gen_vmaf.sh when missing.

#include "core/vmaf_y4m.h"
#include "vmaf_driver.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace ze::nox::core;

namespace {

std::string const kDir = SERAVIN_TEST_MEDIA_DIR;

Y4mClip const* Clip(bool reference)
{
    static Y4mClip ref, dis;
    static bool loaded = false;
    if (!loaded) {
        std::string const r = kDir + "/T_1280x720_420p_ref.y4m";
        std::string const d = kDir + "/T_1280x720_420p_crf30.y4m";
        if (!std::ifstream(r) || !std::ifstream(d)) {
            std::string const cmd = "mkdir -p '" + kDir + "' && FFMPEG='ffmpeg -nostdin -hide_banner -loglevel error -y' bash '"
                + std::string(SERAVIN_SOURCE_DIR) + "/tests/media/gen_vmaf.sh' '" + kDir + "'";
            if (std::system(cmd.c_str()) != 0)
                return nullptr;
        }
        loaded = ref.load(r) && dis.load(d);
        if (!loaded)
            return nullptr;
    }
    return reference ? &ref : &dis;
}

std::string ModelPath()
{
    char buf[4096];
    ssize_t const n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string exe(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/')) + "/models/vmaf_v0.6.1.pkl";
}

struct Source {
    Y4mClip const* ref;
    Y4mClip const* dis;
    int next = 0;
    int delivered = 0;
};

int Pull(float* ref[4], float* dis[4], float*[4], int stride[4], void* user)
{
    auto* s = static_cast<Source*>(user);
    if (s->next >= s->ref->frames)
        return 2;
    for (int p = 0; p < 3; ++p) {
        int const w = s->ref->planeWidth(p);
        for (int y = 0; y < s->ref->planeHeight(p); ++y) {
            std::copy_n(s->ref->planes[s->next][p].data() + static_cast<std::size_t>(y) * w, w,
                        reinterpret_cast<float*>(reinterpret_cast<char*>(ref[p]) + static_cast<std::ptrdiff_t>(y) * stride[p]));
            std::copy_n(s->dis->planes[s->next][p].data() + static_cast<std::size_t>(y) * w, w,
                        reinterpret_cast<float*>(reinterpret_cast<char*>(dis[p]) + static_cast<std::ptrdiff_t>(y) * stride[p]));
        }
    }
    ++s->next;
    return 0;
}

void Deliver(int, double[3][4], void* user) { ++static_cast<Source*>(user)->delivered; }

void BM_VmafPsnrSsimYuv720p(benchmark::State& state)
{
    Y4mClip const* ref = Clip(true);
    Y4mClip const* dis = Clip(false);
    if (!ref || !dis) {
        state.SkipWithError("720p pair not available");
        return;
    }
    std::string const model = ModelPath();
    int widths[4] = {ref->planeWidth(0), ref->planeWidth(1), ref->planeWidth(2), 0};
    int heights[4] = {ref->planeHeight(0), ref->planeHeight(1), ref->planeHeight(2), 0};
    int frames = 0;
    for (auto _ : state) {
        Source s{ref, dis};
        double pooled = 0;
        int const rc = compute_vmaf(&pooled, "yuv420p", widths, heights, &Pull, &s, model.c_str(), nullptr, nullptr,
                                    0, 0, 0, 0, 1, 1, 0, nullptr, static_cast<int>(state.range(0)), 1, 0, &Deliver);
        if (rc != 0 || s.delivered != ref->frames) {
            state.SkipWithError("measurement failed");
            return;
        }
        frames += s.delivered;
    }
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_VmafPsnrSsimYuv720p)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

BENCHMARK_MAIN();
