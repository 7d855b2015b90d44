// The quality-metric calculator end to end: files opened by the decoders, measured by the
// driver, delivered in frame order, compared with the reference library's golden values.

#include "test_support.h"

#include "metrics/ze_quality_metric_calculator.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

using namespace ze::nox::core;

namespace {

ZeNoxCoreError NoDialog(QString const&, int&, int&, int&, ImageInfo::IMG_TYPE&, YUVFile::Formats&, int&, int&,
                        CropInfo&, bool)
{
    return ZE_NOX_CORE_CANCELED;
}

QSet<ZeVideoQualityMetric> const kAllMetrics = {ZE_VIDEO_QUALITY_METRIC_PSNR, ZE_VIDEO_QUALITY_METRIC_SSIM,
                                                ZE_VIDEO_QUALITY_METRIC_VMAF};

// How long a test waits for a measurement thread or its frames before it fails.
constexpr int kThreadDeadlineMs = 120000;

QString ModelsDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/models");
}

// Everything a run emitted, collected on the emitting threads.
struct Recorder
{
    QMutex mutex;
    std::vector<int> frames;
    std::map<int, QVector<double>> values;
    std::vector<int> progress;

    void attach(ZeQualityMetricCalculator& calc)
    {
        QObject::connect(
            &calc, &ZeQualityMetricCalculator::frameMetricsReady, &calc,
            [this](int n, QVector<double> const& v) {
                QMutexLocker lock(&mutex);
                frames.push_back(n);
                values[n] = v;
            },
            Qt::DirectConnection);
        QObject::connect(
            &calc, &ZeQualityMetricCalculator::progress, &calc,
            [this](int p) {
                QMutexLocker lock(&mutex);
                progress.push_back(p);
            },
            Qt::DirectConnection);
    }
};

// Runs one whole measurement and waits for it.
void RunToEnd(ZeQualityMetricCalculator& calc, QString const& dis, QString const& ref, int threads, int refFirst = 0,
              int refLast = 1 << 20, int disFirst = 0, int disLast = 1 << 20)
{
    calc.m_vmafModelsDir = ModelsDir();
    ASSERT_EQ(
        calc.start(dis, nullptr, ref, nullptr, threads, refFirst, refLast, disFirst, disLast, kAllMetrics, &NoDialog),
        ZE_NOX_CORE_OK);
    ASSERT_TRUE(calc.wait(kThreadDeadlineMs)) << "the measurement thread did not end within the deadline";
}

void ExpectWeightedMeans(QVector<double> const& v, double wY, double wC)
{
    for (int m = 0; m < 3; ++m)
        EXPECT_DOUBLE_EQ(v[m * 4 + 3], v[m * 4 + 1] * wC + v[m * 4 + 0] * wY + v[m * 4 + 2] * wC);
}

} // namespace

// Every stored golden pair through decoders, calculator and driver, with 1 and 8 workers.
TEST(QualityMetricCalculator, GoldenPairsEndToEnd)
{
    const QStringList names =
        QDir(VmafGoldenPath(QString())).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    char const* const kPlanes[3] = {"Y", "U", "V"};
    const struct
    {
        char const* field;
        int row;
        double tol;
    } kFields[] = {{"psnr", 0, 1e-9}, {"ssim", 1, 1e-6}, {"vmaf", 2, 1e-4}};
    for (QString const& name : names) {
        const QByteArray golden = ReadAll(VmafGoldenPath(name));
        ASSERT_FALSE(golden.isEmpty());
        const QJsonObject g = QJsonDocument::fromJson(golden).object();
        const QString ref = VmafClipPath(g["reference"].toObject()["file"].toString());
        const QString dis = VmafClipPath(g["distorted"].toObject()["file"].toString());
        const QString pixFmt = g["distorted"].toObject()["pix_fmt"].toString();
        const QJsonArray frames = g["frames"].toArray();
        // The 720p pair is measured once, with 8 workers, to keep the run short.
        const std::vector<int> threadCounts = frames.size() > 20 ? std::vector<int>{8} : std::vector<int>{1, 8};
        std::map<int, QVector<double>> first;
        for (int threads : threadCounts) {
            SCOPED_TRACE(name.toStdString() + " threads " + std::to_string(threads));
            ZeQualityMetricCalculator calc;
            Recorder rec;
            rec.attach(calc);
            RunToEnd(calc, dis, ref, threads);
            EXPECT_TRUE(calc.m_finished);
            EXPECT_FALSE(calc.m_stopRequested);
            ASSERT_EQ(static_cast<int>(rec.frames.size()), frames.size());
            for (int i = 0; i < static_cast<int>(rec.frames.size()); ++i)
                ASSERT_EQ(rec.frames[i], i);
            ASSERT_FALSE(rec.progress.empty());
            EXPECT_EQ(rec.progress.front(), 0);
            EXPECT_EQ(rec.progress.back(), 100);
            double const wY = pixFmt == "yuv420p" || pixFmt == "yuv420p10le" ? 2.0 / 3.0
                              : pixFmt == "yuv422p"                          ? 0.5
                                                                             : 1.0 / 3.0;
            double const wC = pixFmt == "yuv420p" || pixFmt == "yuv420p10le" ? 1.0 / 6.0
                              : pixFmt == "yuv422p"                          ? 0.25
                                                                             : 1.0 / 3.0;
            for (int n = 0; n < frames.size(); ++n) {
                QVector<double> const& v = rec.values[n];
                ASSERT_EQ(v.size(), 12);
                for (int p = 0; p < 3; ++p) {
                    const QJsonObject want = frames[n].toObject()[kPlanes[p]].toObject();
                    for (auto const& fld : kFields)
                        EXPECT_NEAR(v[fld.row * 4 + p], want[fld.field].toDouble(), fld.tol)
                            << "frame " << n << " plane " << kPlanes[p] << " " << fld.field;
                }
                ExpectWeightedMeans(v, wY, wC);
            }
            if (first.empty())
                first = rec.values;
            else
                EXPECT_EQ(first, rec.values) << "1 and 8 workers must give identical values";
        }
    }
}

// Frame ranges: the shorter range decides, frames count from 0 at the range start.
TEST(QualityMetricCalculator, RangesAreClampedAndPaired)
{
    const QString ref = VmafClipPath(QStringLiteral("clips/A_176x144_420p_ref.y4m"));
    const QString dis = VmafClipPath(QStringLiteral("clips/A_176x144_420p_crf23.y4m"));
    const struct
    {
        int refFirst, refLast, disFirst, disLast, expected;
    } kCases[] = {
        {2, 4, 0, 100, 3},     // shorter reference range
        {5, 2, 5, 9, 1},       // last below first: one frame
        {-3, 0, -1, 0, 1},     // negative first starts at 0
        {1000, 1000, 0, 0, 1}, // first past the end clamps to the last frame
    };
    for (auto const& c : kCases) {
        ZeQualityMetricCalculator calc;
        Recorder rec;
        rec.attach(calc);
        RunToEnd(calc, dis, ref, 2, c.refFirst, c.refLast, c.disFirst, c.disLast);
        EXPECT_EQ(static_cast<int>(rec.frames.size()), c.expected) << c.refFirst << ".." << c.refLast;
        EXPECT_TRUE(calc.m_finished);
    }
}

// A size or format mismatch ends at once: a critical line, no progress, finished clear.
TEST(QualityMetricCalculator, MismatchEndsAtOnce)
{
    const QString ref = TestMediaPath(QStringLiteral("calc_300f_64x48_ref.y4m"));
    const struct
    {
        char const* dis;
        char const* message;
    } kCases[] = {
        {"calc_5f_80x48.y4m", "Resolutions are different: 64x48 and 80x48"},
        {"calc_5f_64x48_444.y4m", "Pixel formats are different"},
    };
    for (auto const& c : kCases) {
        MessageCapture capture;
        ZeQualityMetricCalculator calc;
        Recorder rec;
        rec.attach(calc);
        RunToEnd(calc, TestMediaPath(QString::fromLatin1(c.dis)), ref, 2);
        EXPECT_TRUE(rec.progress.empty());
        EXPECT_TRUE(rec.frames.empty());
        EXPECT_FALSE(calc.m_finished);
        const QStringList critical = capture.messages(QtCriticalMsg);
        ASSERT_EQ(critical.size(), 1);
        EXPECT_TRUE(critical[0].contains(QLatin1String(c.message))) << critical[0].toStdString();
    }
}

// A missing models folder: the driver fails, the failure is logged, the run is not finished.
TEST(QualityMetricCalculator, MissingModelIsAFailedRun)
{
    QTemporaryDir empty;
    MessageCapture capture;
    ZeQualityMetricCalculator calc;
    Recorder rec;
    rec.attach(calc);
    calc.m_vmafModelsDir = empty.path();
    ASSERT_EQ(calc.start(VmafClipPath(QStringLiteral("clips/F_128x72_420p_1f_crf35.y4m")), nullptr,
                         VmafClipPath(QStringLiteral("clips/F_128x72_420p_1f_ref.y4m")), nullptr, 1, 0, 0, 0, 0,
                         kAllMetrics, &NoDialog),
              ZE_NOX_CORE_OK);
    ASSERT_TRUE(calc.wait(kThreadDeadlineMs)) << "the measurement thread did not end within the deadline";
    EXPECT_FALSE(calc.m_finished);
    EXPECT_TRUE(rec.frames.empty());
    const QStringList critical = capture.messages(QtCriticalMsg);
    ASSERT_EQ(critical.size(), 1);
    EXPECT_TRUE(critical[0].startsWith(QStringLiteral("Failed to run VMAF quality metric calculation. Error code")));
}

// The model follows the reference size: 4K only above 3839 x 2159. The models folder is empty,
// so no 4K picture is measured; the debug line names the model chosen.
TEST(QualityMetricCalculator, ModelChoiceBySize)
{
    QTemporaryDir dir;
    const struct
    {
        int width, height;
        char const* model;
    } kCases[] = {
        {3840, 2160, "vmaf_4k_v0.6.1.pkl"},
        {3839, 2160, "vmaf_v0.6.1.pkl"},
        {3840, 2000, "vmaf_v0.6.1.pkl"},
    };
    for (auto const& c : kCases) {
        // A raw file of one frame of zero samples, written as a hole.
        const QString file = dir.filePath(QStringLiteral("%1x%2.yuv").arg(c.width).arg(c.height));
        QFile raw(file);
        ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
        ASSERT_TRUE(raw.resize(qint64(c.width) * c.height + 2 * qint64((c.width + 1) / 2) * ((c.height + 1) / 2)));
        raw.close();
        StreamParams params;
        params.valid = true;
        params.type = ZE_STREAM_TYPE_YUV;
        params.width = c.width;
        params.height = c.height;
        params.pixFmt = AV_PIX_FMT_YUV420P;
        params.frames = 1;
        MessageCapture capture;
        ZeQualityMetricCalculator calc;
        calc.m_vmafModelsDir = dir.path();
        ASSERT_EQ(calc.start(file, &params, file, &params, 1, 0, 0, 0, 0, kAllMetrics, &NoDialog), ZE_NOX_CORE_OK);
        ASSERT_TRUE(calc.wait(kThreadDeadlineMs)) << "the measurement thread did not end within the deadline";
        const QStringList debug = capture.messages(QtDebugMsg);
        ASSERT_FALSE(debug.isEmpty());
        EXPECT_TRUE(debug.last().startsWith(QStringLiteral("Start VMAF calculation: format = yuv420p , model =")))
            << debug.last().toStdString();
        EXPECT_TRUE(debug.last().endsWith(QLatin1Char('/') + QLatin1String(c.model))) << debug.last().toStdString();
        EXPECT_FALSE(calc.m_finished);
    }
}

// A stop in the middle of a long run returns promptly; what was delivered is contiguous from 0;
// the run is not finished; a final progress(100) still arrives.
TEST(QualityMetricCalculator, StopMidRun)
{
    ZeQualityMetricCalculator calc;
    Recorder rec;
    rec.attach(calc);
    calc.m_vmafModelsDir = ModelsDir();
    ASSERT_EQ(calc.start(TestMediaPath(QStringLiteral("calc_300f_64x48_dis.y4m")), nullptr,
                         TestMediaPath(QStringLiteral("calc_300f_64x48_ref.y4m")), nullptr, 4, 0, -1 + 300, 0, 299,
                         kAllMetrics, &NoDialog),
              ZE_NOX_CORE_OK);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QThread::msleep(5);
        QMutexLocker lock(&rec.mutex);
        if (rec.frames.size() >= 20)
            break;
        ASSERT_FALSE(calc.isFinished()) << "the run ended after " << rec.frames.size() << " frames, before 20 arrived";
        ASSERT_LT(waited.elapsed(), kThreadDeadlineMs)
            << "20 frames did not arrive within the deadline, only " << rec.frames.size();
    }
    calc.stop();
    EXPECT_TRUE(calc.isFinished());
    EXPECT_TRUE(calc.m_stopRequested);
    EXPECT_FALSE(calc.m_finished);
    ASSERT_LT(rec.frames.size(), 300u);
    for (int i = 0; i < static_cast<int>(rec.frames.size()); ++i)
        ASSERT_EQ(rec.frames[i], i);
    ASSERT_FALSE(rec.progress.empty());
    EXPECT_EQ(rec.progress.back(), 100);
}

// Three calculators at once, each with its own decoders and workers (run under the sanitizers).
TEST(QualityMetricCalculator, SeveralCalculatorsAtOnce)
{
    const QString ref = VmafClipPath(QStringLiteral("clips/A_176x144_420p_ref.y4m"));
    const QString dis[3] = {VmafClipPath(QStringLiteral("clips/A_176x144_420p_crf23.y4m")),
                            VmafClipPath(QStringLiteral("clips/A_176x144_420p_crf40.y4m")), ref};
    std::unique_ptr<ZeQualityMetricCalculator> calcs[3];
    Recorder recs[3];
    for (int i = 0; i < 3; ++i) {
        calcs[i] = std::make_unique<ZeQualityMetricCalculator>();
        recs[i].attach(*calcs[i]);
        calcs[i]->m_vmafModelsDir = ModelsDir();
        ASSERT_EQ(calcs[i]->start(dis[i], nullptr, ref, nullptr, 3, 0, 1 << 20, 0, 1 << 20, kAllMetrics, &NoDialog),
                  ZE_NOX_CORE_OK);
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(calcs[i]->wait(kThreadDeadlineMs))
            << "measurement thread " << i << " did not end within the deadline";
        EXPECT_TRUE(calcs[i]->m_finished);
        EXPECT_EQ(recs[i].frames.size(), 10u);
    }
    // The identical pair: PSNR at the 100 dB cap on every plane.
    for (auto const& [n, v] : recs[2].values)
        EXPECT_DOUBLE_EQ(v[0], 100.0) << n;
}

TEST(QualityMetricCalculator, StartFailuresAndBitrate)
{
    ZeQualityMetricCalculator calc;
    EXPECT_EQ(calc.getAvgBitrateKbps(), 0);
    EXPECT_EQ(calc.getVmafColorFormatName(), QString());
    // A raw file without known parameters: the callback's cancel comes back unchanged.
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("x.yuv"));
    ASSERT_TRUE(WriteAll(raw, QByteArray(1000, '\0')));
    const QString ref = VmafClipPath(QStringLiteral("clips/A_176x144_420p_ref.y4m"));
    EXPECT_EQ(calc.start(raw, nullptr, ref, nullptr, 1, 0, 0, 0, 0, kAllMetrics, &NoDialog), ZE_NOX_CORE_CANCELED);
    EXPECT_EQ(calc.getAvgBitrateKbps(), 0);
    EXPECT_EQ(calc.start(ref, nullptr, dir.filePath(QStringLiteral("missing.y4m")), nullptr, 1, 0, 0, 0, 0, kAllMetrics,
                         &NoDialog),
              ZE_NOX_CORE_FAILED_TO_OPEN_FILE);
    EXPECT_EQ(calc.getAvgBitrateKbps(), 0);
    // A reference whose type cannot be made out: the opened distorted decoder goes too.
    const QString unknown = dir.filePath(QStringLiteral("x.bin"));
    QFile::copy(raw, unknown);
    EXPECT_EQ(calc.start(ref, nullptr, unknown, nullptr, 1, 0, 0, 0, 0, kAllMetrics, &NoDialog), ZE_NOX_CORE_CANCELED);
    EXPECT_EQ(calc.getAvgBitrateKbps(), 0);
    EXPECT_EQ(calc.getVmafColorFormatName(), QString());
    EXPECT_EQ(GetZeVideoQualityMetricName(static_cast<ZeVideoQualityMetric>(3)), QString());
}

namespace {

// Raw planar frames turned into their semi-planar twin: luma plane, then U and V interleaved.
// Words are shifted up by `shift` (6 gives P010's high-aligned samples).
QByteArray ToSemiPlanar(QByteArray const& planar, int frames, int w, int h, int cw, int ch, int bytes, int shift)
{
    QByteArray out;
    int const luma = int(w) * h * bytes;
    int const chroma = int(cw) * ch * bytes;
    int const frame = luma + 2 * chroma;
    auto word = [&](char const* p) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        v = static_cast<uint16_t>(v << shift);
        return QByteArray(reinterpret_cast<const char*>(&v), 2);
    };
    for (int f = 0; f < frames; ++f) {
        char const* src = planar.constData() + f * frame;
        for (int i = 0; i < luma; i += bytes)
            out += bytes == 2 ? word(src + i) : QByteArray(src + i, 1);
        for (int i = 0; i < chroma; i += bytes) {
            for (char const* plane : {src + luma, src + luma + chroma})
                out += bytes == 2 ? word(plane + i) : QByteArray(plane + i, 1);
        }
    }
    return out;
}

// A deterministic distortion of planar samples that stays inside the sample range.
QByteArray Distort(QByteArray planar, int bytes, int maxValue)
{
    for (int i = 0; i + bytes <= planar.size(); i += bytes) {
        int v = bytes == 2 ? (uint8_t(planar[i]) | uint8_t(planar[i + 1]) << 8) : uint8_t(planar[i]);
        v = std::clamp(v + int((i / bytes * 37) % 9) - 4, 0, maxValue);
        planar[i] = char(v & 0xff);
        if (bytes == 2)
            planar[i + 1] = char(v >> 8);
    }
    return planar;
}

} // namespace

// Semi-planar and packed pictures are measured as proper planes: each plane's values equal those of
// the same content in planar form.
TEST(QualityMetricCalculator, SemiPlanarAndPackedMatchPlanar)
{
    QTemporaryDir dir;
    const struct
    {
        char const* planarClip;
        AVPixelFormat planarFmt;
        AVPixelFormat semiFmt;
        int bytes, maxValue, chromaHeightDiv, shift;
    } kCases[] = {
        {"raw_420p_176x144.yuv", AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12, 1, 255, 2, 0},
        {"raw_420p10_176x144.yuv", AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_P010LE, 2, 1023, 2, 6},
        {"raw_422p_176x144.yuv", AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUYV422, 1, 255, 1, 0},
    };
    int const w = 176, h = 144, frames = 3;
    for (auto const& c : kCases) {
        SCOPED_TRACE(c.planarClip);
        QFile in(TestMediaPath(QString::fromLatin1(c.planarClip)));
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        int const cw = w / 2, ch = h / c.chromaHeightDiv;
        const QByteArray ref = in.read(qint64(w * h + 2 * cw * ch) * c.bytes * frames);
        const QByteArray dis = Distort(ref, c.bytes, c.maxValue);
        std::map<int, QVector<double>> results[2];
        for (int semi = 0; semi < 2; ++semi) {
            const QString refFile = dir.filePath(QStringLiteral("ref%1.yuv").arg(semi));
            const QString disFile = dir.filePath(QStringLiteral("dis%1.yuv").arg(semi));
            for (auto const& [name, data] : {std::pair{refFile, ref}, std::pair{disFile, dis}}) {
                QFile out(name);
                ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
                out.write(semi ? ToSemiPlanar(data, frames, w, h, cw, ch, c.bytes, c.shift) : data);
            }
            StreamParams params;
            params.valid = true;
            params.type = ZE_STREAM_TYPE_YUV;
            params.width = w;
            params.height = h;
            params.pixFmt = semi ? c.semiFmt : c.planarFmt;
            params.frames = frames;
            ZeQualityMetricCalculator calc;
            Recorder rec;
            rec.attach(calc);
            calc.m_vmafModelsDir = ModelsDir();
            ASSERT_EQ(
                calc.start(disFile, &params, refFile, &params, 2, 0, frames - 1, 0, frames - 1, kAllMetrics, &NoDialog),
                ZE_NOX_CORE_OK);
            ASSERT_TRUE(calc.wait(kThreadDeadlineMs)) << "the measurement thread did not end within the deadline";
            ASSERT_TRUE(calc.m_finished);
            ASSERT_EQ(rec.values.size(), size_t(frames));
            results[semi] = rec.values;
        }
        for (int n = 0; n < frames; ++n) {
            for (int m = 0; m < 3; ++m)
                for (int p = 0; p < 3; ++p)
                    EXPECT_EQ(results[0][n][m * 4 + p], results[1][n][m * 4 + p])
                        << "frame " << n << " metric " << m << " plane " << p;
            // A real distortion was measured.
            EXPECT_LT(results[0][n][0], 60.0);
        }
        // The whole-picture weights follow the distorted format: thirds for these three.
        ExpectWeightedMeans(results[1][0], 1.0 / 3.0, 1.0 / 3.0);
    }
}
