// Adaptive loop filter of the VVC layer at 10 bits on one thread: 1080p pictures filtered per
// second with every filter on (luma with classification, chroma, cross-component), and the luma
// classification alone over all CTBs. First argument: 1 the vector kernels, 0 the portable ones;
// second (pictures): 0 a luma filter with clipping from an APS, 1 the fixed filter sets.
#include "loopfilter/Alf.h"
#include "loopfilter/AlfKernels.h"
#include "util/WorkerPool.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kCtb = 128;

struct Picture
{
    std::vector<uint16_t> in[3], out[3];
    AlfPlaneIn pin[3];
    AlfPlaneOut pout[3];
    AlfPictureInfo info;
    AlfSliceFilters filters;
    std::vector<AlfCtbParams> ctbs;

    Picture()
    {
        info.ctbSize = kCtb;
        info.width = kWidth;
        info.height = kHeight;
        unsigned seed = 1;
        auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
        for (int c = 0; c < 3; ++c) {
            int const w = c ? kWidth / 2 : kWidth, h = c ? kHeight / 2 : kHeight;
            in[c].resize(size_t(w) * size_t(h));
            out[c].resize(in[c].size());
            // Gradients with texture and noise, so that the blocks fall into many classes.
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    in[c][size_t(y) * size_t(w) + size_t(x)] =
                        uint16_t((x * 3 + y * 2 + ((x / 7 + y / 5) & 1) * 60 + int((next() >> 8) % 40)) & 1023);
            pin[c] = AlfPlaneIn{in[c].data(), w, w, h};
            pout[c] = AlfPlaneOut{out[c].data(), w, w, h};
        }
        for (int s = 0; s < kAlfNumFixedSets; ++s)
            AlfFixedFilterSet(s, 10, filters.fixedSets[s]);
        AlfLumaFilterSet luma;
        for (int k = 0; k < kAlfNumClasses; ++k)
            for (int j = 0; j < kAlfLumaTaps; ++j) {
                luma.coeff[k][j] = int16_t(int((next() >> 8) % 41) - 20);
                luma.clip[k][j] = AlfClipValue(int((next() >> 8) % 4), 10);
            }
        filters.lumaAps = {luma};
        AlfChromaFilter chroma;
        for (int j = 0; j < kAlfChromaTaps; ++j) {
            chroma.coeff[j] = int16_t(int((next() >> 8) % 41) - 20);
            chroma.clip[j] = AlfClipValue(int((next() >> 8) % 4), 10);
        }
        filters.chromaAlt = {chroma};
        CcAlfFilter cc;
        for (auto& v : cc.coeff)
            v = int16_t(int((next() >> 8) % 17) - 8);
        filters.cc[0] = filters.cc[1] = {cc};
        AlfCtbParams p;
        p.filters = &filters;
        p.enabled[0] = p.enabled[1] = p.enabled[2] = true;
        p.lumaFilterSet = kAlfNumFixedSets;
        p.ccAlfIdc[0] = p.ccAlfIdc[1] = 1;
        ctbs.assign(size_t((kWidth + kCtb - 1) / kCtb) * size_t((kHeight + kCtb - 1) / kCtb), p);
    }
};

Picture& Pic()
{
    static Picture p;
    return p;
}

void BM_AlfPicture(benchmark::State& state)
{
    Picture& p = Pic();
    AlfAllowVectorKernels(state.range(0) != 0);
    vvcutil::SetDecodingThreads(1);
    std::vector<AlfCtbParams> ctbs = p.ctbs;
    if (state.range(1))
        for (size_t i = 0; i < ctbs.size(); ++i)
            ctbs[i].lumaFilterSet = int(i % kAlfNumFixedSets);
    for (auto _ : state) {
        if (ApplyAlfPicture(p.info, p.pin, p.pout, ctbs) != AlfStatus::Ok)
            state.SkipWithError("refused");
        benchmark::DoNotOptimize(p.out[0].data());
    }
    AlfAllowVectorKernels(true);
    state.counters["pictures/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_AlfClassification(benchmark::State& state)
{
    Picture& p = Pic();
    AlfAllowVectorKernels(state.range(0) != 0);
    std::vector<AlfBlockClass> cls(size_t(kCtb / 4) * size_t(kCtb / 4));
    for (auto _ : state) {
        for (int y = 0; y < kHeight; y += kCtb)
            for (int x = 0; x < kWidth; x += kCtb) {
                int const h = (kHeight - y < kCtb ? kHeight - y : kCtb) & ~3;
                AlfClassifyLuma(p.info, p.pin[0], x, y, 0, x, y, kCtb, h, cls.data(), kCtb / 4);
            }
        benchmark::DoNotOptimize(cls.data());
    }
    AlfAllowVectorKernels(true);
    state.counters["pictures/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_AlfPicture)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlfClassification)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
