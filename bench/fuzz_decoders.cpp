// Longer random damage of the broken-file seed clips, for manual runs (not run by ctest):
//   fuzz_decoders [seconds = 60] [seed = time] [output folder = current folder]
// Each case stacks one to four random kinds of damage on a seed clip and walks it like the
// broken-file tests, created by detection and by its type. The case being run is kept as
// fuzz_case_<clip> in the output folder, so a crash leaves it behind; a case that breaks a rule
// without crashing is kept as fuzz_fail_<n>_<clip>. Build with -DSERAVIN_SANITIZE=ON to see
// out-of-bounds reads and leaks. The media come from the build's tests/media folder.

#include "core/broken_files_support.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

using namespace brokenfiles;

namespace {

std::string Judge(Outcome const& o)
{
    if (!IsResultCode(o.create) || !IsResultCode(o.open))
        return "not a result code from create or open";
    for (ZeNoxCoreError e : o.results)
        if (!IsResultCode(e))
            return "not a result code from a step";
    if (o.endless)
        return "more pictures than the frame count";
    return o.badFrame;
}

bool Save(QString const& path, Bytes const& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(reinterpret_cast<char const*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const uint32_t seed = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10))
                                   : uint32_t(QDateTime::currentMSecsSinceEpoch());
    const QString outDir = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral(".");
    const MessageCapture quiet(false);
    av_log_set_level(AV_LOG_QUIET);

    std::vector<Bytes> seeds;
    for (Clip const& clip : Clips()) {
        seeds.push_back(clip.load());
        if (seeds.back().empty()) {
            std::fprintf(stderr, "seed clip %s missing: run the tests once to make the media\n", clip.name.c_str());
            return 2;
        }
    }
    std::printf("seed %u, %.0f s\n", seed, seconds);
    Rng rng(seed);
    QElapsedTimer timer;
    timer.start();
    long cases = 0, opened = 0, failures = 0;
    qint64 slowest = 0;
    while (timer.elapsed() < qint64(seconds * 1000)) {
        const size_t index = rng.below(Clips().size());
        Clip const& clip = Clips()[index];
        Bytes bytes = seeds[index];
        std::string what;
        for (size_t k = 0, n = 1 + rng.below(4); k < n; ++k)
            what += (k ? "; " : "") + Mutate(bytes, rng, static_cast<Mutation>(rng.below(kMutationCount)));
        const QString path = QDir(outDir).filePath(QStringLiteral("fuzz_case_") + QString::fromStdString(clip.name));
        if (!Save(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 2;
        }
        for (bool byType : {false, true}) {
            QElapsedTimer one;
            one.start();
            const Outcome o = Exercise(path, byType ? clip.type : ZE_STREAM_TYPE_UNKNOWN,
                                       clip.withParams ? &clip.params : nullptr);
            slowest = std::max(slowest, one.elapsed());
            ++cases;
            opened += o.open == ZE_NOX_CORE_OK ? 1 : 0;
            const std::string fault = Judge(o);
            if (!fault.empty()) {
                ++failures;
                const QString kept = QDir(outDir).filePath(QStringLiteral("fuzz_fail_%1_").arg(failures) +
                                                           QString::fromStdString(clip.name));
                Save(kept, bytes);
                std::printf("FAIL %s (%s, %s): %s -> %s\n", clip.name.c_str(), byType ? "by type" : "detected",
                            what.c_str(), fault.c_str(), qPrintable(kept));
            }
        }
    }
    for (Clip const& clip : Clips())
        QFile::remove(QDir(outDir).filePath(QStringLiteral("fuzz_case_") + QString::fromStdString(clip.name)));
    std::printf("%ld cases, %ld opened, %ld failures, slowest %lld ms\n", cases, opened, failures,
                static_cast<long long>(slowest));
    return failures ? 1 : 0;
}
