// Frames per second of the quality-metric calculator on the 1280x720 and 1920x1080 30-frame pairs
// and a 1920x1080 120-frame pair (a whole stream's throughput: with 30 frames over 8 workers the
// first round, which first touches every buffer, and the last, which leaves workers idle, weigh a
// quarter each) with 1 and 8 workers: Y4M files opened by the raw decoder, both decoded ahead on
// threads of their own, converted and measured by the driver's workers, delivered. After the runs
// the speed-up of 8 workers over 1 is printed per pair, with the process's CPU time per frame of
// each (on a loaded machine wall time says little about scaling, CPU time shows what the extra
// workers cost) and the load average. Compare with vmaf_bench, the driver alone on preloaded planes.

#include "metrics/ze_quality_metric_calculator.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <utility>

using namespace ze::nox::core;

namespace {

const std::string kDir = SERAVIN_TEST_MEDIA_DIR;

ZeNoxCoreError NoDialog(QString const&, int&, int&, int&, ImageInfo::IMG_TYPE&, YUVFile::Formats&, int&, int&,
                        CropInfo&, bool)
{
    return ZE_NOX_CORE_CANCELED;
}

// The pair of a size: 720p is the tests' T pair, 1080p the metric benchmarks' testsrc2 pair of
// `frames` frames.
std::pair<std::string, std::string> EnsurePair(int height, int frames)
{
    std::string cmd;
    std::pair<std::string, std::string> pair;
    if (height == 720) {
        pair = {kDir + "/T_1280x720_420p_ref.y4m", kDir + "/T_1280x720_420p_crf30.y4m"};
        cmd = "mkdir -p '" + kDir + "' && FFMPEG='ffmpeg -nostdin -hide_banner -loglevel error -y' bash '" +
              std::string(SERAVIN_SOURCE_DIR) + "/tests/media/gen_vmaf.sh' '" + kDir + "'";
    } else {
        std::string const dir = kDir + "/../../bench/media";
        std::string const n = std::to_string(frames);
        pair = {dir + "/B_1920x1080_" + n + "f_420p_ref.y4m", dir + "/B_1920x1080_" + n + "f_420p_crf30.y4m"};
        cmd = "bash '" + std::string(SERAVIN_SOURCE_DIR) + "/bench/gen_vmaf_pair.sh' '" + dir + "' 1920 1080 " + n;
    }
    if (QFile::exists(QString::fromStdString(pair.second)) || std::system(cmd.c_str()) == 0)
        return pair;
    return {};
}

struct Figures
{
    double fps = 0.0;
    double cpuMsPerFrame = 0.0;
};

// By height, frames of the pair and workers.
std::map<std::tuple<int, int, int>, Figures>& Results()
{
    static std::map<std::tuple<int, int, int>, Figures> results;
    return results;
}

// User and system CPU seconds of the whole process so far (every thread).
double ProcessCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

void BM_Calculator(benchmark::State& state)
{
    int const height = static_cast<int>(state.range(0));
    int const pairFrames = static_cast<int>(state.range(2));
    auto const [refPath, disPath] = EnsurePair(height, pairFrames);
    if (refPath.empty()) {
        state.SkipWithError("could not generate the pair");
        return;
    }
    const QString ref = QString::fromStdString(refPath);
    const QString dis = QString::fromStdString(disPath);
    int frames = 0;
    double const cpu0 = ProcessCpuSeconds();
    auto const t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ZeQualityMetricCalculator calc;
        calc.m_vmafModelsDir = QCoreApplication::applicationDirPath() + QStringLiteral("/models");
        QObject::connect(
            &calc, &ZeQualityMetricCalculator::frameMetricsReady, &calc,
            [&frames](int, QVector<double> const&) { ++frames; }, Qt::DirectConnection);
        if (calc.start(dis, nullptr, ref, nullptr, static_cast<int>(state.range(1)), 0, 1 << 20, 0, 1 << 20,
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
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double const cpuMsPerFrame = frames > 0 ? (ProcessCpuSeconds() - cpu0) * 1000.0 / frames : 0.0;
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["cpu_ms_per_frame"] = cpuMsPerFrame;
    if (seconds > 0.0)
        Results()[{height, pairFrames, static_cast<int>(state.range(1))}] = {frames / seconds, cpuMsPerFrame};
}
BENCHMARK(BM_Calculator)
    ->ArgNames({"height", "workers", "frames"})
    ->Args({720, 1, 30})
    ->Args({720, 8, 30})
    ->Args({1080, 1, 30})
    ->Args({1080, 8, 30})
    ->Args({1080, 1, 120})
    ->Args({1080, 8, 120})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (auto [height, frames] : {std::pair{720, 30}, std::pair{1080, 30}, std::pair{1080, 120}}) {
        auto const one = Results().find({height, frames, 1});
        auto const eight = Results().find({height, frames, 8});
        if (one != Results().end() && eight != Results().end())
            std::printf("%dp, %d frames: 8 workers %.2f fps, 1 worker %.2f fps, speed-up %.2f; CPU per frame %.1f ms "
                        "and %.1f ms\n",
                        height, frames, eight->second.fps, one->second.fps, eight->second.fps / one->second.fps,
                        eight->second.cpuMsPerFrame, one->second.cpuMsPerFrame);
    }
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}
