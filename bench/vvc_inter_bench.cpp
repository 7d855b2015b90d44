// Inter sample prediction of the VVC layer at 10 bits: samples predicted per second for a
// fractional uni-prediction, a bi-prediction, DMVR with BDOF, and affine with PROF, per block
// size (argument: block side).
#include "inter/InterPred.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace vvcinter;

namespace {

struct Reference
{
    std::vector<uint16_t> samples[3];
    RefPicture ref;
    explicit Reference(unsigned seed)
    {
        int const size[3] = {256, 128, 128};
        for (int c = 0; c < 3; c++) {
            samples[c].resize(size_t(size[c]) * size[c]);
            for (auto& v : samples[c]) {
                seed = seed * 1664525u + 1013904223u;
                v = uint16_t((seed >> 8) & 1023);
            }
            ref.planes[c] = RefPlane{samples[c].data(), size[c], size[c], size[c], 0};
        }
    }
};

InterPicture Pic()
{
    InterPicture p;
    p.width = p.height = 256;
    p.bitDepth = 10;
    return p;
}

void Run(benchmark::State& state, bool bi, bool dmvr, bool bdof)
{
    int const n = int(state.range(0));
    static Reference const r0(1), r1(2);
    std::vector<uint16_t> out[3] = {std::vector<uint16_t>(size_t(n) * n), std::vector<uint16_t>(size_t(n) * n / 4),
                                    std::vector<uint16_t>(size_t(n) * n / 4)};
    PredBuf dst;
    for (int c = 0; c < 3; c++) {
        dst.samples[c] = out[c].data();
        dst.stride[c] = c ? n / 2 : n;
    }
    InterBlock b;
    b.x = b.y = 64;
    b.width = b.height = n;
    b.useList[0] = true;
    b.ref[0] = &r0.ref;
    b.mv[0] = Mv(37, -23);
    if (bi) {
        b.useList[1] = true;
        b.ref[1] = &r1.ref;
        b.mv[1] = Mv(-37, 23);
    }
    b.dmvr = dmvr;
    b.bdof = bdof;
    InterPredictor pred;
    InterPicture const pic = Pic();
    for (auto _ : state) {
        pred.predict(pic, b, dst);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.SetItemsProcessed(state.iterations() * n * n);
}

void Uni(benchmark::State& s) { Run(s, false, false, false); }
void Bi(benchmark::State& s) { Run(s, true, false, false); }
void DmvrBdof(benchmark::State& s) { Run(s, true, true, true); }

void AffineProf(benchmark::State& state)
{
    int const n = int(state.range(0));
    static Reference const r0(3);
    std::vector<uint16_t> out[3] = {std::vector<uint16_t>(size_t(n) * n), std::vector<uint16_t>(size_t(n) * n / 4),
                                    std::vector<uint16_t>(size_t(n) * n / 4)};
    PredBuf dst;
    for (int c = 0; c < 3; c++) {
        dst.samples[c] = out[c].data();
        dst.stride[c] = c ? n / 2 : n;
    }
    std::vector<Mv> sub(size_t(n / 4) * (n / 4));
    for (size_t i = 0; i < sub.size(); i++)
        sub[i] = Mv(int(i % 7) * 3 - 9, int(i % 5) * 5 - 11);
    AffineBlock b;
    b.x = b.y = 64;
    b.width = b.height = n;
    b.useList[0] = true;
    b.ref[0] = &r0.ref;
    b.subblockMv[0] = sub.data();
    b.prof[0] = true;
    b.dHorX[0] = 40;
    b.dVerY[0] = 40;
    InterPredictor pred;
    InterPicture const pic = Pic();
    for (auto _ : state) {
        pred.predictAffine(pic, b, dst);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.SetItemsProcessed(state.iterations() * n * n);
}

} // namespace

BENCHMARK(Uni)->Arg(8)->Arg(16)->Arg(64)->Arg(128);
BENCHMARK(Bi)->Arg(8)->Arg(16)->Arg(64)->Arg(128);
BENCHMARK(DmvrBdof)->Arg(16)->Arg(64)->Arg(128);
BENCHMARK(AffineProf)->Arg(16)->Arg(64);
BENCHMARK_MAIN();
