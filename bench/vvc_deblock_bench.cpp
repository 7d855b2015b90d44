// Deblocking of the VVC layer: a 1920x1080 4:2:0 10-bit picture with an edge on every 8x8 luma
// block side (strengths 1 and 2, filter lengths 1 to 7 at random) and smooth content with a
// little noise, so that most edges are filtered. Both passes per iteration as the decoder calls
// them (horizontal edges in bands of 16 unit columns down the picture), with the vector kernels
// (argument 1) or the portable ones (0).
#include "loopfilter/Deblock.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using namespace vvcdeblock;

namespace {

void BM_DeblockPicture(benchmark::State& state)
{
    bool const vector = state.range(0) != 0;
    if (vector && !DeblockVectorKernels()) {
        state.SkipWithError("no vector kernels on this CPU");
        return;
    }
    int const w = 1920, h = 1080;
    DeblockMap map;
    map.reset(w, h);
    std::mt19937 rng(5);
    for (BlockUnit& u : map.units)
        u.qp[0] = u.qp[1] = u.qp[2] = int8_t(30 + rng() % 8);
    uint8_t const lengths[] = {1, 3, 3, 7, 5};
    for (int d = 0; d < 2; ++d)
        for (int y4 = 0; y4 < map.unitsH(); ++y4)
            for (int x4 = 0; x4 < map.unitsW(); ++x4) {
                if ((d == kEdgeVer ? x4 : y4) % 2 != 0)
                    continue;
                EdgeSegment& e = map.edge(EdgeDir(d), x4, y4);
                e.bs[0] = e.bs[1] = e.bs[2] = uint8_t(1 + rng() % 2);
                e.maxLenP = lengths[rng() % 5];
                e.maxLenQ = lengths[rng() % 5];
                e.maxLenCP = e.maxLenCQ = rng() % 2 ? 3 : 1;
            }
    std::vector<uint16_t> source[3], work[3];
    DeblockPlane planes[3];
    for (int c = 0; c < 3; ++c) {
        int const pw = c ? w / 2 : w, ph = c ? h / 2 : h;
        source[c].resize(size_t(pw) * size_t(ph));
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
                source[c][size_t(y) * size_t(pw) + size_t(x)] = uint16_t(400 + (x / 8 + y / 8) % 4 * 5 + rng() % 4);
        work[c] = source[c];
        planes[c] = DeblockPlane{work[c].data(), pw, pw, ph};
    }
    DeblockAllowVectorKernels(vector);
    for (auto _ : state) {
        state.PauseTiming();
        for (int c = 0; c < 3; ++c)
            std::copy(source[c].begin(), source[c].end(), work[c].begin());
        state.ResumeTiming();
        DeblockEdges(map, planes, kEdgeVer, 0, map.unitsH());
        for (int x4 = 0; x4 < map.unitsW(); x4 += 16)
            DeblockEdges(map, planes, kEdgeHor, 0, map.unitsH(), x4, x4 + 16);
        benchmark::DoNotOptimize(work[0].data());
    }
    DeblockAllowVectorKernels(true);
    state.counters["pictures/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_DeblockPicture)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
