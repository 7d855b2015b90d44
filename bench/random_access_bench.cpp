// Random access of the compressed decoders on long 1080p streams with a random-access point every
// 250 frames (bench/gen_random_access_streams.sh OUT_DIR makes them): Last Frame, one Previous
// Frame at the end, 200 Previous Frames in a row from the end and 50 random jumps, each timed
// against the decoding of one random-access period from the start, and the memory of the kept
// pictures against their budget. The period is the median of three decodes, each by a decoder
// opened afresh (a move's restart makes a fresh decoding state as well); the pictures decoded by
// the slowest move are counted, to tell extra decoding from other costs.
// usage: random_access_bench [STREAM...]   (default: the three streams in build/bench_media)
#include "display/frame.h"
#include "decoders/ze_av1_decoder.h"
#include "decoders/ze_ffmpeg_decoder.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <ctime>
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

// The processor time of the calling thread, which the load of other processes on a shared machine
// changes much less than the time that passes. The H.264 and HEVC decoders decode in this thread;
// dav1d decodes in threads of its own, so it tells nothing for AV1.
double CpuNow()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double Seconds(std::function<void()> const& f, double* cpu = nullptr)
{
    double const c0 = CpuNow();
    auto const t0 = std::chrono::steady_clock::now();
    f();
    double const s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (cpu)
        *cpu = CpuNow() - c0;
    return s;
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
    int64_t maxDecoded = 0; // pictures decoded by the slowest move
    double maxCpu = 0;      // the most processor time a move took
    double sum = 0;
    int count = 0;
    int failures = 0;
    int64_t maxKept = 0;
    // Times one move of the decoder.
    ZeNoxCoreError add(ZeNoxSequentialDecoder& dec, std::function<ZeNoxCoreError()> const& move)
    {
        ZeNoxCoreError res = ZE_NOX_CORE_OK;
        int64_t const before = dec.decodedPictureCount();
        double cpu = 0;
        double const s = Seconds([&] { res = move(); }, &cpu);
        maxCpu = std::max(maxCpu, cpu);
        if (s > max) {
            max = s;
            maxDecoded = dec.decodedPictureCount() - before;
        }
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
        maxCpu = std::max(maxCpu, o.maxCpu);
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
    std::vector<double> periods, periodsCpu;
    for (int run = 0; run < 3; ++run) {
        dec = Open(path);
        double cpu = 0;
        periods.push_back(Seconds(
            [&] {
                res = dec->getFirstFrame(frame);
                for (int i = 1; i < kPeriod && res == ZE_NOX_CORE_OK; ++i)
                    res = dec->getNextFrame(frame);
            },
            &cpu));
        periodsCpu.push_back(cpu);
    }
    std::sort(periods.begin(), periods.end());
    std::sort(periodsCpu.begin(), periodsCpu.end());
    double const period = periods[1];
    double const periodCpu = periodsCpu[1];
    std::printf("  open %.3f s, %d frames, %d random-access points after the first, %dx%d\n", openTime, frames, points,
                dec->width(), dec->height());
    std::printf("  one period (%d frames) from the start: median %.3f s (%.3f..%.3f); target per move %.3f s\n",
                kPeriod, period, periods[0], periods[2], period * 1.1);
    std::printf("  processor time of the decoding thread for one period: median %.3f s\n", periodCpu);
    // The periods differ in content: each one's decoding in a forward walk through the stream.
    dec = Open(path);
    std::printf("  each period in a forward walk:");
    res = dec->getFirstFrame(frame);
    for (int start = 0; start < frames && res == ZE_NOX_CORE_OK; start += kPeriod) {
        double const t = Seconds([&] {
            for (int i = start == 0 ? 1 : 0; i < kPeriod && start + i < frames && res == ZE_NOX_CORE_OK; ++i)
                res = dec->getNextFrame(frame);
        });
        std::printf(" %.3f", t);
    }
    std::printf(" s\n");

    dec = Open(path);
    Moves lastMove, prevMove, steps, jumps;
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
    std::printf("  processor time of the decoding thread: most of a move %.3f s (%.2f periods)\n", all.maxCpu, all.maxCpu / periodCpu);
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
