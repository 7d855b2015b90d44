// 1920x1080 8-bit 4:2:0 picture to 32-bit RGB: the vector kernel, the scalar kernel and
// libswscale on the same frame content. Reported per frame.
#include "display/ColorConversion.h"
#include "raw/Util.h"

#include <QImage>

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;

// A noise picture, and the same samples as 8-bit planes for libswscale.
struct Source
{
    ImageType<short> picture;
    std::vector<uint8_t> planes[3];

    Source()
    {
        picture.allocate(kW, kH, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME);
        std::mt19937 rng(7);
        for (int p = 0; p < 3; ++p) {
            ImageBase::Plane const& pl = picture.m_planes[p];
            planes[p].resize(size_t(pl.width) * pl.height);
            for (int y = 0; y < pl.height; ++y)
                for (int x = 0; x < pl.width; ++x) {
                    uint8_t const v = static_cast<uint8_t>(rng() & 0xff);
                    picture.row(p, y)[x] = v;
                    planes[p][size_t(y) * pl.width + x] = v;
                }
        }
    }
};

Source& TheSource()
{
    static Source sSource;
    return sSource;
}

void Convert(benchmark::State& state, ColorConversion const* conv)
{
    Source& s = TheSource();
    std::vector<unsigned char> out(size_t(kW) * kH * 4);
    for (auto _ : state) {
        conv->convertITU_RGB(&s.picture, out.data(), kW, kH, Util::Krgb[1], 0);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ConvertAvx2(benchmark::State& state)
{
    if (!cpuHasAvx2()) {
        state.SkipWithError("no AVX2 on this processor");
        return;
    }
    Convert(state, getAvx2Convertor());
}

void BM_ConvertScalar(benchmark::State& state)
{
    Convert(state, getScalarConvertor());
}

// The whole image builder as callers use it (lock, image allocation, conversion).
void BM_GetImg(benchmark::State& state)
{
    Source& s = TheSource();
    for (auto _ : state) {
        QImage img = Util::getImg(0, &s.picture, kW, kH, false, 0);
        benchmark::DoNotOptimize(img.constBits());
    }
}

void BM_Swscale(benchmark::State& state)
{
    Source& s = TheSource();
    SwsContext* ctx =
        sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, kW, kH, AV_PIX_FMT_RGB32, SWS_POINT, nullptr, nullptr, nullptr);
    if (ctx == nullptr) {
        state.SkipWithError("sws_getContext failed");
        return;
    }
    std::vector<uint8_t> out(size_t(kW) * kH * 4);
    uint8_t const* src[4] = {s.planes[0].data(), s.planes[1].data(), s.planes[2].data(), nullptr};
    int const srcStride[4] = {kW, kW / 2, kW / 2, 0};
    uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
    int const dstStride[4] = {kW * 4, 0, 0, 0};
    for (auto _ : state) {
        sws_scale(ctx, src, srcStride, 0, kH, dst, dstStride);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    sws_freeContext(ctx);
}

} // namespace

BENCHMARK(BM_ConvertAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swscale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImg)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
