// Random access of the compressed decoders on long 1080p streams with a random-access point every
// 250 frames (bench/gen_random_access_streams.sh OUT_DIR makes them): Last Frame, one Previous
// Frame at the end, 200 Previous Frames in a row from the end and 50 random jumps, each timed
// against the decoding of one random-access period from the start, and the memory of the kept
// pictures against their budget. The period is the median of three decodes, each by a decoder
// opened afresh (a move's restart makes a fresh decoding state as well). The periods of a stream
// differ in content (by a quarter in the HEVC stream), so each move is also set against the
// period its decoding starts in, as a forward walk through the stream decodes it. The pictures
// decoded by the slowest move are counted, to tell extra decoding from other costs.
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
    // The time of each period in a forward walk: a move is also set against the period in which
    // its decoding starts (the periods of a stream differ in content).
    std::vector<double> const* walk = nullptr;
    double max = 0;
    int64_t maxDecoded = 0; // pictures decoded by the slowest move
    double maxOfWalk = 0;   // the largest share of its period's forward walk a move took
    double sum = 0;
    int count = 0;
    int failures = 0;
    int64_t maxKept = 0;
    // Times one move of the decoder.
    ZeNoxCoreError add(ZeNoxSequentialDecoder& dec, std::function<ZeNoxCoreError()> const& move)
    {
        ZeNoxCoreError res = ZE_NOX_CORE_OK;
        int64_t const before = dec.decodedPictureCount();
        double const s = Seconds([&] { res = move(); });
        int64_t const decoded = dec.decodedPictureCount() - before;
        if (s > max) {
            max = s;
            maxDecoded = decoded;
        }
        int64_t const period = (dec.curAbsoluteFrameNumber() - decoded + 1) / kPeriod;
        if (walk && decoded > 0 && period >= 0 && period < static_cast<int64_t>(walk->size()))
            maxOfWalk = std::max(maxOfWalk, s / (*walk)[static_cast<size_t>(period)]);
        sum += s;
        ++count;
        failures += res != ZE_NOX_CORE_OK;
        maxKept = std::max(maxKept, dec.pictureCache().bytes());
        return res;
    }
    void merge(Moves const& o)
    {
        if (o.max > max) {
            max = o.max;
            maxDecoded = o.maxDecoded;
        }
        maxOfWalk = std::max(maxOfWalk, o.maxOfWalk);
        maxKept = std::max(maxKept, o.maxKept);
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
    int const points = dec->randomAccessPointCount();
    // One random-access period decoded from the start: the yardstick of every move.
    std::vector<double> periods;
    for (int run = 0; run < 3; ++run) {
        dec = Open(path);
        periods.push_back(Seconds([&] {
            res = dec->getFirstFrame(frame);
            for (int i = 1; i < kPeriod && res == ZE_NOX_CORE_OK; ++i)
                res = dec->getNextFrame(frame);
        }));
    }
    std::sort(periods.begin(), periods.end());
    double const period = periods[1];
    std::printf("  open %.3f s, %d frames, %d random-access points after the first, %dx%d\n", openTime, frames, points,
                dec->width(), dec->height());
    std::printf("  one period (%d frames) from the start: median %.3f s (%.3f..%.3f); target per move %.3f s\n",
                kPeriod, period, periods[0], periods[2], period * 1.1);
    // The periods differ in content: each one's decoding in a forward walk through the stream.
    dec = Open(path);
    std::vector<double> walk;
    std::printf("  each period in a forward walk:");
    for (int start = 0; start < frames && res == ZE_NOX_CORE_OK; start += kPeriod) {
        walk.push_back(Seconds([&] {
            for (int i = 0; i < kPeriod && start + i < frames && res == ZE_NOX_CORE_OK; ++i)
                res = start + i == 0 ? dec->getFirstFrame(frame) : dec->getNextFrame(frame);
        }));
        std::printf(" %.3f", walk.back());
    }
    std::printf(" s\n");

    dec = Open(path);
    Moves lastMove, prevMove, steps, jumps;
    for (Moves* m : {&lastMove, &prevMove, &steps, &jumps})
        m->walk = &walk;
    lastMove.add(*dec, [&] { return dec->getLastFrame(frame); });
    prevMove.add(*dec, [&] { return dec->getPrevFrame(frame); });
    std::printf("  Last Frame %.3f s; one Previous Frame at the end %.3f s\n", lastMove.max, prevMove.max);

    dec = Open(path);
    dec->getLastFrame(frame);
    for (int i = 0; i < 200; ++i)
        steps.add(*dec, [&] { return dec->getPrevFrame(frame); });
    std::printf("  200 Previous Frames from the end: average %.1f ms, slowest %.3f s, now at %d, failures %d\n",
                steps.sum / steps.count * 1000, steps.max, dec->curAbsoluteFrameNumber(), steps.failures);

    dec = Open(path);
    std::mt19937 random(50);
    for (int i = 0; i < 50; ++i) {
        int const n = std::uniform_int_distribution<int>(0, last)(random);
        jumps.add(*dec, [&] { return dec->getFrame(n, frame); });
    }
    std::printf("  50 random jumps: average %.3f s, slowest %.3f s, failures %d\n", jumps.sum / jumps.count, jumps.max,
                jumps.failures);
    Moves all = lastMove;
    for (Moves const* m : {&prevMove, &steps, &jumps})
        all.merge(*m);
    std::printf("  kept pictures: at most %.1f MB of a budget of %.1f MB\n", all.maxKept / 1048576.0,
                dec->pictureCache().budget() / 1048576.0);
    std::printf("  targets: slowest move %.3f s (%.2f periods, %lld pictures decoded) %s %.3f s; 200 steps %.1f ms %s "
                "30 ms; memory %s budget\n",
                all.max, all.max / period, static_cast<long long>(all.maxDecoded), all.max <= period * 1.1 ? "<=" : ">",
                period * 1.1, steps.sum / steps.count * 1000, steps.sum / steps.count < 0.030 ? "<" : ">=",
                all.maxKept <= dec->pictureCache().budget() ? "within" : "over");
    std::printf("  against its period in the forward walk: slowest move %.2f times it %s 1.10\n", all.maxOfWalk,
                all.maxOfWalk <= 1.1 ? "<=" : ">");
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
