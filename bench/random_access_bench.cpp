// Random access of the compressed decoders on long 1080p streams with a random-access point every
// 250 frames (bench/gen_random_access_streams.sh OUT_DIR makes them): Last Frame, one Previous
// Frame at the end, 200 Previous Frames in a row from the end and 50 random jumps, each timed
// against the decoding of one random-access period from the start, and the memory of the kept
// pictures against their budget.
// usage: random_access_bench [STREAM...]   (default: the three streams in build/bench_media)
#include "display/frame.h"
#include "decoders/ze_av1_decoder.h"
#include "decoders/ze_ffmpeg_decoder.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

using namespace ze::nox::core;

namespace {

constexpr int kPeriod = 250;

double Seconds(std::function<void()> const& f)
{
    auto const t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::unique_ptr<ZeNoxSequentialDecoder> Open(QString const& path)
{
    std::unique_ptr<ZeNoxSequentialDecoder> dec;
    if (path.endsWith(QLatin1String(".ivf")))
        dec = std::make_unique<ZeAv1Decoder>();
    else
        dec = std::make_unique<ZeFfmpegDecoder>(path.endsWith(QLatin1String(".h265")) ? ZE_STREAM_TYPE_HEVC
                                                                                      : ZE_STREAM_TYPE_AVC);
    if (dec->openFile(path, nullptr) != ZE_NOX_CORE_OK)
        return nullptr;
    return dec;
}

struct Moves
{
    double max = 0;
    double sum = 0;
    int count = 0;
    int failures = 0;
    int64_t maxKept = 0;
    void add(double s, ZeNoxCoreError res, ZeNoxSequentialDecoder const& dec)
    {
        max = std::max(max, s);
        sum += s;
        ++count;
        failures += res != ZE_NOX_CORE_OK;
        maxKept = std::max(maxKept, dec.pictureCache().bytes());
    }
};

void Run(QString const& path)
{
    std::printf("%s\n", qPrintable(QFileInfo(path).fileName()));
    double openTime = 0;
    std::unique_ptr<ZeNoxSequentialDecoder> dec;
    openTime = Seconds([&] { dec = Open(path); });
    if (!dec) {
        std::printf("  cannot open\n");
        return;
    }
    int const frames = dec->getOriginalFrameCount();
    int const last = frames - 1;
    Frame frame;
    ZeNoxCoreError res = ZE_NOX_CORE_OK;
    // One random-access period decoded from the start: the yardstick of every move.
    double const period = Seconds([&] {
        res = dec->getFirstFrame(frame);
        for (int i = 1; i < kPeriod && res == ZE_NOX_CORE_OK; ++i)
            res = dec->getNextFrame(frame);
    });
    int const points = dec->randomAccessPointCount();
    std::printf("  open %.3f s, %d frames, %d random-access points after the first, %dx%d\n", openTime, frames, points,
                dec->width(), dec->height());
    std::printf("  one period (%d frames) from the start: %.3f s; target per move %.3f s\n", kPeriod, period,
                period * 1.1);

    dec = Open(path);
    Moves lastMove, prevMove, steps, jumps;
    double s = Seconds([&] { res = dec->getLastFrame(frame); });
    lastMove.add(s, res, *dec);
    s = Seconds([&] { res = dec->getPrevFrame(frame); });
    prevMove.add(s, res, *dec);
    std::printf("  Last Frame %.3f s; one Previous Frame at the end %.3f s\n", lastMove.max, prevMove.max);

    dec = Open(path);
    dec->getLastFrame(frame);
    for (int i = 0; i < 200; ++i) {
        s = Seconds([&] { res = dec->getPrevFrame(frame); });
        steps.add(s, res, *dec);
    }
    std::printf("  200 Previous Frames from the end: average %.1f ms, slowest %.3f s, now at %d, failures %d\n",
                steps.sum / steps.count * 1000, steps.max, dec->curAbsoluteFrameNumber(), steps.failures);

    dec = Open(path);
    std::mt19937 random(50);
    for (int i = 0; i < 50; ++i) {
        int const n = std::uniform_int_distribution<int>(0, last)(random);
        s = Seconds([&] { res = dec->getFrame(n, frame); });
        jumps.add(s, res, *dec);
    }
    std::printf("  50 random jumps: average %.3f s, slowest %.3f s, failures %d\n", jumps.sum / jumps.count, jumps.max,
                jumps.failures);
    int64_t const kept = std::max({lastMove.maxKept, prevMove.maxKept, steps.maxKept, jumps.maxKept});
    std::printf("  kept pictures: at most %.1f MB of a budget of %.1f MB\n", kept / 1048576.0,
                dec->pictureCache().budget() / 1048576.0);
    double const slowest = std::max({lastMove.max, prevMove.max, steps.max, jumps.max});
    std::printf("  targets: slowest move %.3f s %s %.3f s; 200 steps %.1f ms %s 30 ms; memory %s budget\n", slowest,
                slowest <= period * 1.1 ? "<=" : ">", period * 1.1, steps.sum / steps.count * 1000,
                steps.sum / steps.count < 0.030 ? "<" : ">=", kept <= dec->pictureCache().budget() ? "within" : "over");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    QStringList streams;
    for (int i = 1; i < argc; ++i)
        streams << QString::fromLocal8Bit(argv[i]);
    if (streams.isEmpty()) {
        const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../bench_media/");
        for (char const* name : {"ra_1080p_1500f.h264", "ra_1080p_1500f.h265", "ra_1080p_1500f.ivf"})
            streams << dir + QLatin1String(name);
    }
    for (QString const& s : streams)
        Run(s);
    return 0;
}
