// Decoded picture hash of the VVC layer: bytes hashed per second by MD5 over a byte string, by
// each hash type over one 1080p luma plane at 8 and 10 bits (argument: bit depth), and by the
// whole-picture MD5 check of a 4:2:0 1080p picture, its three planes hashed together.
#include "picture/PictureHash.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

struct Plane
{
    std::vector<uint16_t> samples;
    PlaneView view;
    Plane(int width, int height, int bitDepth, unsigned seed)
    {
        ptrdiff_t const stride = width + 16; // rows apart, as in a decoded picture
        samples.resize(size_t(stride) * size_t(height));
        for (auto& v : samples) {
            seed = seed * 1664525u + 1013904223u;
            v = uint16_t((seed >> 8) & ((1u << bitDepth) - 1));
        }
        view = PlaneView{samples.data(), stride, width, height};
    }
};

// Bytes the hash covers: one per sample at 8 bits, else two.
int64_t HashedBytes(PlaneView const& v, int bitDepth)
{
    return int64_t(v.width) * v.height * (bitDepth > 8 ? 2 : 1);
}

void BM_Md5Bytes(benchmark::State& state)
{
    std::vector<uint8_t> data(size_t(1) << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 131 + (i >> 7));
    for (auto _ : state) {
        Md5 md5;
        md5.update(data.data(), data.size());
        benchmark::DoNotOptimize(md5.finish());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void RunPlane(benchmark::State& state, PictureHashType type)
{
    int const bitDepth = int(state.range(0));
    Plane const plane(1920, 1080, bitDepth, 7);
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputePlaneHash(type, plane.view, bitDepth));
    state.SetBytesProcessed(int64_t(state.iterations()) * HashedBytes(plane.view, bitDepth));
}

void BM_PlaneMd5(benchmark::State& state)
{
    RunPlane(state, PictureHashType::MD5);
}
void BM_PlaneCrc(benchmark::State& state)
{
    RunPlane(state, PictureHashType::CRC);
}
void BM_PlaneChecksum(benchmark::State& state)
{
    RunPlane(state, PictureHashType::CHECKSUM);
}

void BM_PictureMd5Check(benchmark::State& state)
{
    int const bitDepth = int(state.range(0));
    Plane const planes[3] = {Plane(1920, 1080, bitDepth, 1), Plane(960, 540, bitDepth, 2),
                             Plane(960, 540, bitDepth, 3)};
    PlaneView const views[3] = {planes[0].view, planes[1].view, planes[2].view};
    int const depth[3] = {bitDepth, bitDepth, bitDepth};
    PictureHash hash;
    for (int c = 0; c < 3; ++c)
        hash.planes[c] = ComputePlaneHash(PictureHashType::MD5, views[c], bitDepth);
    for (auto _ : state)
        benchmark::DoNotOptimize(CheckPictureHash(hash, views, depth));
    int64_t bytes = 0;
    for (PlaneView const& v : views)
        bytes += HashedBytes(v, bitDepth);
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

} // namespace

BENCHMARK(BM_Md5Bytes);
BENCHMARK(BM_PlaneMd5)->Arg(8)->Arg(10);
BENCHMARK(BM_PlaneCrc)->Arg(8)->Arg(10);
BENCHMARK(BM_PlaneChecksum)->Arg(8)->Arg(10);
BENCHMARK(BM_PictureMd5Check)->Arg(8)->Arg(10);

BENCHMARK_MAIN();
