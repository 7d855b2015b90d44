// Reading 1920x1080 raw 4:2:0 frames through ZeYuvDecoder, forward and backward, against a plain
// seek and read of the same bytes. The clip (8 frames of noise) is written to a temporary folder.
#include "display/frame.h"
#include "decoders/ze_yuv_decoder.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

using namespace ze::nox::core;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 8;

int FrameBytes(bool deep)
{
    return kWidth * kHeight * 3 / 2 * (deep ? 2 : 1);
}

QString MakeClip(QTemporaryDir const& dir, bool deep)
{
    QString const path = dir.filePath(deep ? QStringLiteral("b10.yuv") : QStringLiteral("b8.yuv"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    QByteArray frame(FrameBytes(deep), Qt::Uninitialized);
    unsigned seed = 1;
    for (int i = 0; i < kFrames; ++i) {
        for (int k = 0; k < frame.size(); ++k) {
            seed = seed * 1664525u + 1013904223u;
            // 10-bit samples: the high byte of each word keeps the value below 1024.
            frame[k] = static_cast<char>(deep && (k & 1) ? (seed >> 24) & 3 : seed >> 24);
        }
        f.write(frame);
    }
    return path;
}

void BM_Decoder(benchmark::State& state)
{
    bool const deep = state.range(0) != 0;
    bool const backward = state.range(1) != 0;
    QTemporaryDir dir;
    QString const path = MakeClip(dir, deep);
    ZeYuvDecoder dec;
    StreamParams p;
    p.valid = true;
    p.width = kWidth;
    p.height = kHeight;
    p.pixFmt = deep ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
    if (dec.openFile(path, &p) != ZE_NOX_CORE_OK) {
        state.SkipWithError("open failed");
        return;
    }
    Frame frame;
    int n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(dec.getFrame(backward ? kFrames - 1 - n : n, frame));
        n = (n + 1) % kFrames;
    }
    state.SetBytesProcessed(state.iterations() * int64_t(FrameBytes(deep)));
}

void BM_PlainRead(benchmark::State& state)
{
    bool const deep = state.range(0) != 0;
    QTemporaryDir dir;
    QFile f(MakeClip(dir, deep));
    f.open(QIODevice::ReadOnly);
    std::vector<char> buf(static_cast<size_t>(FrameBytes(deep)));
    int n = 0;
    for (auto _ : state) {
        f.seek(int64_t(n) * FrameBytes(deep));
        benchmark::DoNotOptimize(f.read(buf.data(), FrameBytes(deep)));
        n = (n + 1) % kFrames;
    }
    state.SetBytesProcessed(state.iterations() * int64_t(FrameBytes(deep)));
}

} // namespace

// Arguments: 10-bit samples, backward order.
BENCHMARK(BM_Decoder)->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
