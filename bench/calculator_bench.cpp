// Frames per second of the quality-metric calculator on the 1280x720 30-frame pair: Y4M files
// opened by the raw decoder, frames pulled and converted, measured by the driver, delivered.
// Compare with vmaf_bench, the driver alone on preloaded planes.

#include "metrics/ze_quality_metric_calculator.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>

#include <cstdlib>
#include <string>

using namespace ze::nox::core;

namespace {

const std::string kDir = SERAVIN_TEST_MEDIA_DIR;

ZeNoxCoreError NoDialog(QString const&, int&, int&, int&, ImageInfo::IMG_TYPE&, YUVFile::Formats&, int&, int&,
                        CropInfo&, bool)
{
    return ZE_NOX_CORE_CANCELED;
}

bool EnsurePair()
{
    if (QFile::exists(QString::fromStdString(kDir + "/T_1280x720_420p_crf30.y4m")))
        return true;
    const std::string cmd = "mkdir -p '" + kDir +
                            "' && FFMPEG='ffmpeg -nostdin -hide_banner -loglevel error -y' bash '" +
                            std::string(SERAVIN_SOURCE_DIR) + "/tests/media/gen_vmaf.sh' '" + kDir + "'";
    return std::system(cmd.c_str()) == 0;
}

void BM_Calculator720p(benchmark::State& state)
{
    if (!EnsurePair()) {
        state.SkipWithError("could not generate the 720p pair");
        return;
    }
    const QString ref = QString::fromStdString(kDir + "/T_1280x720_420p_ref.y4m");
    const QString dis = QString::fromStdString(kDir + "/T_1280x720_420p_crf30.y4m");
    int frames = 0;
    for (auto _ : state) {
        ZeQualityMetricCalculator calc;
        calc.m_vmafModelsDir = QCoreApplication::applicationDirPath() + QStringLiteral("/models");
        QObject::connect(
            &calc, &ZeQualityMetricCalculator::frameMetricsReady, &calc,
            [&frames](int, QVector<double> const&) { ++frames; }, Qt::DirectConnection);
        if (calc.start(dis, nullptr, ref, nullptr, static_cast<int>(state.range(0)), 0, 1 << 20, 0, 1 << 20,
                       {ZE_VIDEO_QUALITY_METRIC_PSNR, ZE_VIDEO_QUALITY_METRIC_SSIM, ZE_VIDEO_QUALITY_METRIC_VMAF},
                       &NoDialog) != ZE_NOX_CORE_OK) {
            state.SkipWithError("start failed");
            return;
        }
        calc.wait();
        if (!calc.m_finished) {
            state.SkipWithError("measurement did not finish");
            return;
        }
    }
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Calculator720p)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
