// Per-frame display work at 1080p: difference picture, heat map and colour conversion, and
// one heat-map playback step of two sides (argument 0: 8-bit, 1: 10-bit pictures).
#include "display/frame.h"

#include <QImage>

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/frame.h>
}

using namespace ze::nox::core;

namespace {

void FillNoise(Frame& f, int w, int h, AVPixelFormat fmt, unsigned seed)
{
    f.allocatePicture(w, h, fmt);
    AVFrame* a = f.avFrame();
    int const maxValue = f.bitDepth() > 8 ? 1023 : 255;
    for (int p = 0; p < 3; ++p) {
        int const pw = p ? (w + 1) / 2 : w;
        int const ph = p ? (h + 1) / 2 : h;
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                seed = seed * 1664525u + 1013904223u;
                int const v = static_cast<int>((seed >> 8) % (maxValue + 1));
                uint8_t* row = a->data[p] + static_cast<ptrdiff_t>(y) * a->linesize[p];
                if (maxValue > 255)
                    reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>(v);
                else
                    row[x] = static_cast<uint8_t>(v);
            }
    }
}

AVPixelFormat FormatOf(benchmark::State const& state)
{
    return state.range(0) ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
}

void BM_GetDiff(benchmark::State& state)
{
    Frame a, b, target;
    FillNoise(a, 1920, 1080, FormatOf(state), 1);
    FillNoise(b, 1920, 1080, FormatOf(state), 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(Frame::getDiff(target, a, b));
}

void BM_HeatMap(benchmark::State& state)
{
    Frame f;
    FillNoise(f, 1920, 1080, FormatOf(state), 3);
    QImage image;
    const Component component = static_cast<Component>(state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(f.fillImageAsHeatMap(image, component, 127));
}

void BM_FillImage(benchmark::State& state)
{
    Frame f;
    FillNoise(f, 1920, 1080, FormatOf(state), 4);
    QImage image;
    const Component component = static_cast<Component>(state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(f.fillImage(image, component));
}

// One playback step of the side-by-side heat-map view at 1080p: for the left and the right
// picture, the difference to the reference, its heat map and the picture in colour.
void BM_HeatMapStep(benchmark::State& state)
{
    Frame left, right, ref, leftDiff, rightDiff;
    FillNoise(left, 1920, 1080, FormatOf(state), 5);
    FillNoise(right, 1920, 1080, FormatOf(state), 6);
    FillNoise(ref, 1920, 1080, FormatOf(state), 7);
    QImage leftImage, rightImage, leftHeat, rightHeat;
    int const maximum = state.range(0) ? 1023 : 255;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Frame::getDiff(leftDiff, left, ref));
        benchmark::DoNotOptimize(leftDiff.fillImageAsHeatMap(leftHeat, COMPONENT_YUV, maximum));
        benchmark::DoNotOptimize(left.fillImage(leftImage, COMPONENT_YUV));
        benchmark::DoNotOptimize(Frame::getDiff(rightDiff, right, ref));
        benchmark::DoNotOptimize(rightDiff.fillImageAsHeatMap(rightHeat, COMPONENT_YUV, maximum));
        benchmark::DoNotOptimize(right.fillImage(rightImage, COMPONENT_YUV));
    }
    state.counters["steps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_GetDiff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeatMap)
    ->Args({0, COMPONENT_Y})
    ->Args({0, COMPONENT_YUV})
    ->Args({1, COMPONENT_YUV})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillImage)
    ->Args({0, COMPONENT_Y})
    ->Args({0, COMPONENT_YUV})
    ->Args({1, COMPONENT_YUV})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeatMapStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
