// Checks the metric engine and the driver against the reference library's per-frame,
// per-plane values in the golden files, field by field, and reports the worst differences.

#include "test_support.h"
#include "core/metrics/vmaf_y4m.h"

#include "metrics/vmaf_adm.h"
#include "metrics/vmaf_driver.h"
#include "metrics/vmaf_model.h"
#include "metrics/vmaf_motion.h"
#include "metrics/vmaf_psnr.h"
#include "metrics/vmaf_ssim.h"
#include "metrics/vmaf_vif.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <mutex>

using namespace ze::nox::core;
using namespace ze::nox::core::vmaf;

namespace {

char const* const kPlanes[3] = {"Y", "U", "V"};

struct Tolerance
{
    char const* field;
    double tol;
    bool relative;
};

Tolerance const kStrict[] = {
    {"psnr", 1e-9, false},           {"ssim", 1e-6, false},      {"vmaf", 1e-4, false},      {"adm2", 1e-6, true},
    {"adm_scale0", 1e-6, true},      {"adm_scale1", 1e-6, true}, {"adm_scale2", 1e-6, true}, {"adm_scale3", 1e-6, true},
    {"motion", 1e-6, true},          {"motion2", 1e-6, true},    {"vif_scale0", 2e-6, true}, {"vif_scale1", 2e-6, true},
    {"vif_scale2", 2e-6, true},      {"vif_scale3", 2e-6, true}, {"vif", 2e-6, true},        {"mse", 1e-12, true},
    {"vmaf_unclipped", 1e-4, false},
};

double Difference(double got, double want, bool relative)
{
    double const d = std::fabs(got - want);
    if (!relative)
        return d;
    double const scale = std::fabs(want);
    return scale < 1e-9 ? d : d / scale; // absolute floor for values that are exactly 0
}

QJsonObject LoadGolden(QString const& name)
{
    return QJsonDocument::fromJson(ReadAll(VmafGoldenPath(name))).object();
}

QStringList GoldenFiles()
{
    return QDir(VmafGoldenPath(QString())).entryList({"*.json"}, QDir::Files, QDir::Name);
}

std::string ModelPath()
{
    return (QCoreApplication::applicationDirPath() + "/models/vmaf_v0.6.1.pkl").toStdString();
}

// Worst difference per field over every checked golden file, printed once at the end.
std::map<std::string, double>& Worst()
{
    static std::map<std::string, double> w;
    return w;
}

class WorstReporter : public ::testing::Environment
{
public:
    void TearDown() override
    {
        if (Worst().empty())
            return;
        std::printf("[vmaf] worst difference per field (abs for psnr/ssim/vmaf, else relative):\n");
        for (auto const& [k, v] : Worst())
            std::printf("[vmaf]   %-16s %.3g\n", k.c_str(), v);
    }
};
::testing::Environment* const sReporter = ::testing::AddGlobalTestEnvironment(new WorstReporter);

struct PlaneFeatures
{
    std::map<std::string, double> v;
};

// Runs the engine on one frame of one plane exactly as the driver does.
std::map<std::string, double> EngineFrame(Y4mClip const& ref, Y4mClip const& dis, int f, int p, double peak,
                                          VmafModel const& model)
{
    int const w = ref.planeWidth(p);
    int const h = ref.planeHeight(p);
    auto view = [&](std::vector<float> const& v) { return PlaneView{v.data(), w, h, w}; };
    std::vector<float> const& r8 = ref.planes[f][p];
    std::vector<float> const& d8 = dis.planes[f][p];
    auto offset = [](std::vector<float> v) {
        for (float& x : v)
            x -= 128.0f;
        return v;
    };
    std::vector<float> const r = offset(r8);
    std::vector<float> const d = offset(d8);
    std::map<std::string, double> out;
    out["mse"] = MeanSquaredError(view(r8), view(d8));
    out["psnr"] = PsnrFromMse(out["mse"], peak, 100.0);
    out["ssim"] = Ssim(view(r8), view(d8));
    AdmResult const adm = Adm(view(r), view(d));
    out["adm2"] = adm.den == 0 ? 1.0 : adm.num / adm.den;
    for (int k = 0; k < 4; ++k)
        out["adm_scale" + std::to_string(k)] = adm.numScale[k] / adm.denScale[k];
    VifResult const vif = Vif(view(r), view(d));
    double num = 0, den = 0;
    for (int k = 0; k < 4; ++k) {
        out["vif_scale" + std::to_string(k)] = vif.num[k] / vif.den[k];
        num += vif.num[k];
        den += vif.den[k];
    }
    out["vif"] = num / den;
    auto blur = [&](int frame) {
        std::vector<float> src = offset(ref.planes[frame][p]);
        std::vector<float> b(src.size());
        std::vector<float> tmp(static_cast<std::size_t>(w) + 8);
        MotionBlur(view(src), b.data(), w, tmp.data());
        return b;
    };
    double motion = 0, motion2 = 0;
    if (f > 0) {
        std::vector<float> const b0 = blur(f - 1), b1 = blur(f);
        motion = MotionScore(view(b0), view(b1));
        motion2 = motion;
        if (f + 1 < ref.frames) {
            std::vector<float> const b2 = blur(f + 1);
            motion2 = std::min(motion, MotionScore(view(b1), view(b2)));
        }
    }
    out["motion"] = motion;
    out["motion2"] = motion2;
    std::vector<double> feats = {out["adm2"],       out["motion2"],    out["vif_scale0"],
                                 out["vif_scale1"], out["vif_scale2"], out["vif_scale3"]};
    double score = 0, unclipped = 0;
    EXPECT_TRUE(model.predict(feats, score, &unclipped));
    out["vmaf"] = score;
    out["vmaf_unclipped"] = unclipped;
    return out;
}

} // namespace

// Every golden file with its clips present, every frame and plane, every field.
TEST(VmafGolden, EngineMatchesReferenceWithinStrictTier)
{
    VmafModel model;
    std::string error;
    ASSERT_TRUE(model.load(ModelPath(), error)) << error;
    ASSERT_EQ(GoldenFiles().size(), 10) << "golden files missing from " << VmafGoldenPath(QString()).toStdString();
    int checkedFiles = 0;
    for (QString const& name : GoldenFiles()) {
        QJsonObject const g = LoadGolden(name);
        ASSERT_FALSE(g.isEmpty()) << name.toStdString();
        QString const refFile = VmafClipPath(g["reference"].toObject()["file"].toString());
        QString const disFile = VmafClipPath(g["distorted"].toObject()["file"].toString());
        ASSERT_TRUE(QFile::exists(refFile) && QFile::exists(disFile)) << refFile.toStdString();
        Y4mClip ref, dis;
        ASSERT_TRUE(ref.load(refFile.toStdString())) << refFile.toStdString();
        ASSERT_TRUE(dis.load(disFile.toStdString())) << disFile.toStdString();
        QJsonArray const frames = g["frames"].toArray();
        ASSERT_EQ(frames.size(), ref.frames) << name.toStdString();
        double const peak = g["psnr_peak"].toDouble();
        std::map<std::string, double> fileWorst;
        for (int f = 0; f < ref.frames; ++f) {
            for (int p = 0; p < 3; ++p) {
                QJsonObject const want = frames[f].toObject()[kPlanes[p]].toObject();
                std::map<std::string, double> const got = EngineFrame(ref, dis, f, p, peak, model);
                for (Tolerance const& t : kStrict) {
                    double const d = Difference(got.at(t.field), want[t.field].toDouble(), t.relative);
                    fileWorst[t.field] = std::max(fileWorst[t.field], d);
                    Worst()[t.field] = std::max(Worst()[t.field], d);
                    EXPECT_LE(d, t.tol) << name.toStdString() << " frame " << f << " plane " << kPlanes[p] << " "
                                        << t.field << ": got " << got.at(t.field) << " want "
                                        << want[t.field].toDouble();
                }
            }
        }
        ++checkedFiles;
    }
    EXPECT_EQ(checkedFiles, GoldenFiles().size());
}

namespace {

struct PairSource
{
    Y4mClip const* ref = nullptr;
    Y4mClip const* dis = nullptr;
    int next = 0;
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::array<double, 12>> values;
};

int PullPair(float* ref[4], float* dis[4], float* [4], int stride[4], void* user)
{
    auto* s = static_cast<PairSource*>(user);
    if (s->next >= s->ref->frames)
        return 2;
    for (int p = 0; p < 3; ++p) {
        int const w = s->ref->planeWidth(p);
        int const h = s->ref->planeHeight(p);
        for (int y = 0; y < h; ++y) {
            float* r =
                reinterpret_cast<float*>(reinterpret_cast<char*>(ref[p]) + static_cast<std::ptrdiff_t>(y) * stride[p]);
            float* d =
                reinterpret_cast<float*>(reinterpret_cast<char*>(dis[p]) + static_cast<std::ptrdiff_t>(y) * stride[p]);
            std::copy_n(s->ref->planes[s->next][p].data() + static_cast<std::size_t>(y) * w, w, r);
            std::copy_n(s->dis->planes[s->next][p].data() + static_cast<std::size_t>(y) * w, w, d);
        }
    }
    ++s->next;
    return 0;
}

void DeliverPair(int frame, double values[3][4], void* user)
{
    auto* s = static_cast<PairSource*>(user);
    std::lock_guard<std::mutex> lock(s->mutex);
    s->order.push_back(frame);
    std::array<double, 12> v{};
    for (int m = 0; m < 3; ++m)
        for (int p = 0; p < 4; ++p)
            v[m * 4 + p] = values[m][p];
    s->values.push_back(v);
}

} // namespace

// The driver on real clips: ordered deliveries equal to the golden PSNR, SSIM and VMAF,
// identical with 1 and 8 workers.
TEST(VmafGolden, DriverDeliversGoldenValuesInOrderWithOneAndEightWorkers)
{
    for (QString const& name : {QString("A_176x144_420p_crf40.json"), QString("C_352x288_420p10_crf30.json"),
                                QString("E_160x90_422p_crf30.json"), QString("F_128x72_420p_1f_crf35.json")}) {
        QJsonObject const g = LoadGolden(name);
        Y4mClip ref, dis;
        ASSERT_TRUE(ref.load(VmafClipPath(g["reference"].toObject()["file"].toString()).toStdString()));
        ASSERT_TRUE(dis.load(VmafClipPath(g["distorted"].toObject()["file"].toString()).toStdString()));
        QJsonArray const frames = g["frames"].toArray();
        std::vector<std::array<double, 12>> first;
        for (int threads : {1, 8}) {
            PairSource src;
            src.ref = &ref;
            src.dis = &dis;
            int widths[4] = {ref.planeWidth(0), ref.planeWidth(1), ref.planeWidth(2), 0};
            int heights[4] = {ref.planeHeight(0), ref.planeHeight(1), ref.planeHeight(2), 0};
            double pooled = -1;
            char const* fmt = ref.bitDepth > 8 ? "yuv420p10le" : "yuv420p";
            int const rc = compute_vmaf(&pooled, fmt, widths, heights, &PullPair, &src, ModelPath().c_str(), nullptr,
                                        nullptr, 0, 0, 0, 0, 1, 1, 0, nullptr, threads, 1, 0, &DeliverPair);
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(pooled, 0.0);
            ASSERT_EQ(static_cast<int>(src.order.size()), ref.frames) << name.toStdString();
            for (int f = 0; f < ref.frames; ++f) {
                ASSERT_EQ(src.order[f], f);
                for (int p = 0; p < 3; ++p) {
                    QJsonObject const want = frames[f].toObject()[kPlanes[p]].toObject();
                    EXPECT_NEAR(src.values[f][0 * 4 + p], want["psnr"].toDouble(), 1e-9);
                    EXPECT_NEAR(src.values[f][1 * 4 + p], want["ssim"].toDouble(), 1e-6);
                    EXPECT_NEAR(src.values[f][2 * 4 + p], want["vmaf"].toDouble(), 1e-4);
                }
            }
            if (threads == 1)
                first = src.values;
            else
                EXPECT_EQ(first, src.values) << "1 and 8 workers differ";
        }
    }
}
