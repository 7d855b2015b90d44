// measure_pair REF DIS THREADS: measures a whole pair of streams through the quality-metric
// calculator as the application does (both files decoded, PSNR, SSIM and VMAF on Y, U and V) and
// prints the frame count, the time and the frames per second, then the time to the first frame's
// values and the rate after it (a stream's decoding may take long to give its first pictures).
// Exit code 0 only when every frame of the pair was measured; for timing whole processes against
// other tools. As in the application, each file is first opened as a project's file is (its type
// found, its pictures counted) and the run then opens it with that record; only the run is timed.

#include "decoders/ze_nox_decoder_factory.h"
#include "metrics/ze_quality_metric_calculator.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace ze::nox::core;

namespace {

ZeNoxCoreError NoDialog(QString const&, int&, int&, int&, ImageInfo::IMG_TYPE&, YUVFile::Formats&, int&, int&,
                        CropInfo&, bool)
{
    return ZE_NOX_CORE_CANCELED;
}

// The record a project keeps of the file once it is added, false when it does not open. The type
// comes from the name, or, where the user would be asked, from the file's first bytes.
bool RecordOf(QString const& fileName, StreamParams& params)
{
    ZeStreamType type = DetectStreamTypeByFilename(fileName);
    if (type == ZE_STREAM_TYPE_UNKNOWN)
        type = DetectStreamTypeByContent(fileName);
    ZeOpenedNoxDecoder opened = CreateAndOpenNoxDecoder(type, fileName, nullptr, &NoDialog, false, true);
    if (opened.result != ZE_NOX_CORE_OK)
        return false;
    params = opened.decoder->params();
    return params.valid;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s REF DIS THREADS\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    long const threads = std::strtol(argv[3], &end, 10);
    if (!end || *end != '\0' || threads < 0 || threads > 1024) {
        std::fprintf(stderr, "bad thread count: %s\n", argv[3]);
        return 2;
    }

    QString const ref = QString::fromLocal8Bit(argv[1]);
    QString const dis = QString::fromLocal8Bit(argv[2]);
    StreamParams refParams, disParams;
    if (!RecordOf(ref, refParams) || !RecordOf(dis, disParams)) {
        std::fprintf(stderr, "cannot open the pair\n");
        return 1;
    }

    ZeQualityMetricCalculator calc;
    calc.m_vmafModelsDir = QCoreApplication::applicationDirPath() + QStringLiteral("/models");
    using Clock = std::chrono::steady_clock;
    int frames = 0; // deliveries come one at a time, in frame order
    Clock::time_point first;
    QObject::connect(
        &calc, &ZeQualityMetricCalculator::frameMetricsReady, &calc,
        [&frames, &first](int, QVector<double> const&) {
            if (frames++ == 0)
                first = Clock::now();
        },
        Qt::DirectConnection);

    auto const t0 = Clock::now();
    ZeNoxCoreError const rc = calc.start(
        dis, &disParams, ref, &refParams, static_cast<int>(threads),
        0, 1 << 30, 0, 1 << 30,
        {ZE_VIDEO_QUALITY_METRIC_PSNR, ZE_VIDEO_QUALITY_METRIC_SSIM, ZE_VIDEO_QUALITY_METRIC_VMAF}, &NoDialog);
    if (rc != ZE_NOX_CORE_OK) {
        std::fprintf(stderr, "cannot open the pair (error %d)\n", static_cast<int>(rc));
        return 1;
    }
    calc.wait();
    auto const t1 = Clock::now();
    double const seconds = std::chrono::duration<double>(t1 - t0).count();
    if (!calc.m_finished || frames == 0) {
        std::fprintf(stderr, "measurement did not finish (%d frames delivered)\n", frames);
        return 1;
    }
    double const toFirst = std::chrono::duration<double>(first - t0).count();
    double const after = std::chrono::duration<double>(t1 - first).count();
    std::printf("%d frames, %.3f s, %.2f fps (first frame after %.3f s, then %.2f fps)\n", frames, seconds,
                frames / seconds, toFirst, after > 0 ? (frames - 1) / after : 0.0);
    return 0;
}
