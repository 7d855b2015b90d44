// Persistent settings: defaults on a fresh store, round trips under their exact keys, the per-file
// raw parameters, the recent lists and the colour pool. The store is the test run's own.
#include "app/ze_nox_gui_settings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace ze::nox::gui;

namespace {

class Settings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Every QSettings of the process on this store sees the clear at once.
        QSettings().clear();
    }
    void TearDown() override { QSettings().clear(); }

    // The record group of a file, computed here from the path rules.
    static QString RecordGroup(QString const& path)
    {
        QByteArray const native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toUtf8();
        return QStringLiteral("yuvFilesParams/") +
               QString::fromLatin1(QCryptographicHash::hash(native, QCryptographicHash::Md5).toHex());
    }

    ZeNoxGuiSettings m_settings;
    QSettings m_store;
};

} // namespace

TEST_F(Settings, DefaultsAndRoundTripsUnderTheirKeys)
{
    struct Case
    {
        char const* key; // full key in the store
        QVariant defaultValue;
        QVariant saved;
        std::function<QVariant(ZeNoxGuiSettings&)> get;
        std::function<void(ZeNoxGuiSettings&, QVariant const&)> save;
    };
    using S = ZeNoxGuiSettings;
    QByteArray const blob("\x01\x00\xff geometry", 12);
    std::vector<Case> const cases = {
        {"lastOpenedInputFileDir", QString(), QStringLiteral("/data/in"),
         [](S& s) { return QVariant(s.getLastOpenedInputFileDir()); },
         [](S& s, QVariant const& v) { s.saveLastOpenedInputFileDir(v.toString()); }},
        {"lastOpenFilesFilter", QString(), QStringLiteral("YUV (*.yuv)"),
         [](S& s) { return QVariant(s.getLastOpenFilesFilter()); },
         [](S& s, QVariant const& v) { s.saveLastOpenFilesFilter(v.toString()); }},
        {"mainWindowGeometry", QByteArray(), blob, [](S& s) { return QVariant(s.getMainWindowGeometry()); },
         [](S& s, QVariant const& v) { s.saveMainWindowGeometry(v.toByteArray()); }},
        {"mainWindowState", QByteArray(), blob, [](S& s) { return QVariant(s.getMainWindowState()); },
         [](S& s, QVariant const& v) { s.saveMainWindowState(v.toByteArray()); }},
        {"mainWindowVerticalSplitterState", QByteArray(), blob,
         [](S& s) { return QVariant(s.getMainWindowVerticalSplitterState()); },
         [](S& s, QVariant const& v) { s.saveMainWindowVerticalSplitterState(v.toByteArray()); }},
        {"showProjectView", true, false, [](S& s) { return QVariant(s.getShowProjectView()); },
         [](S& s, QVariant const& v) { s.saveShowProjectView(v.toBool()); }},
        {"showMetricsView", true, false, [](S& s) { return QVariant(s.getShowMetricsView()); },
         [](S& s, QVariant const& v) { s.saveShowMetricsView(v.toBool()); }},
        {"metricsViewOpenedTabIdx", 0, 2, [](S& s) { return QVariant(s.getMetricsViewOpenedTabIdx()); },
         [](S& s, QVariant const& v) { s.saveMetricsViewOpenedTabIdx(v.toInt()); }},
        {"vericalSplitLineRelPos", 0.5, 0.125, [](S& s) { return QVariant(s.getVericalSplitLineRelPos()); },
         [](S& s, QVariant const& v) { s.saveVericalSplitLineRelPos(v.toDouble()); }},
        {"targetFramerate", 25, 60, [](S& s) { return QVariant(s.getTargetFramerate()); },
         [](S& s, QVariant const& v) { s.saveTargetFramerate(v.toInt()); }},
        {"viewMode", 0, 3, [](S& s) { return QVariant(s.getViewMode()); },
         [](S& s, QVariant const& v) { s.saveViewMode(v.toInt()); }},
        {"showStreamInfo", true, false, [](S& s) { return QVariant(s.getShowStreamInfo()); },
         [](S& s, QVariant const& v) { s.saveShowStreamInfo(v.toBool()); }},
        {"showComponent", 0, 2, [](S& s) { return QVariant(s.getShowComponent()); },
         [](S& s, QVariant const& v) { s.saveShowComponent(v.toInt()); }},
        {"yuvValuesFormat", 0, 1, [](S& s) { return QVariant(s.getYuvValuesFormat()); },
         [](S& s, QVariant const& v) { s.saveYuvValuesFormat(v.toInt()); }},
        {"project/lastOpenedFileDir", QString(), QStringLiteral("/data/projects"),
         [](S& s) { return QVariant(s.projectSettings().getLastOpenedFileDir()); },
         [](S& s, QVariant const& v) { s.projectSettings().saveLastOpenedFileDir(v.toString()); }},
        {"openFilesDialog/showHowtoAddFile", true, false,
         [](S& s) { return QVariant(s.projectViewSettings().getShowHowtoAddFile()); },
         [](S& s, QVariant const& v) { s.projectViewSettings().saveShowHowtoAddFile(v.toBool()); }},
        {"openFilesDialog/showHowtoAddFilesToRdCurve", true, false,
         [](S& s) { return QVariant(s.projectViewSettings().getShowHowtoAddFilesToRdCurve()); },
         [](S& s, QVariant const& v) { s.projectViewSettings().saveShowHowtoAddFilesToRdCurve(v.toBool()); }},
        {"openFilesDialog/showHowtoAddRemoveRdCurve", true, false,
         [](S& s) { return QVariant(s.projectViewSettings().getShowHowtoAddRemoveRdCurve()); },
         [](S& s, QVariant const& v) { s.projectViewSettings().saveShowHowtoAddRemoveRdCurve(v.toBool()); }},
    };

    for (Case const& c : cases)
        EXPECT_EQ(c.get(m_settings), c.defaultValue) << c.key;
    for (Case const& c : cases) {
        c.save(m_settings, c.saved);
        QString const key = QString::fromLatin1(c.key);
        ASSERT_TRUE(m_store.contains(key)) << c.key;
        EXPECT_EQ(c.get(m_settings), c.saved) << c.key;
        // A new settings object reads the same value from the store.
        ZeNoxGuiSettings again;
        EXPECT_EQ(c.get(again), c.saved) << c.key;
    }
    // The byte arrays and strings come back byte for byte after the store is written out.
    m_store.sync();
    EXPECT_EQ(m_settings.getMainWindowGeometry(), blob);
    EXPECT_EQ(m_store.allKeys().size(), int(cases.size()));
}

TEST_F(Settings, RawParametersRecord)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString const file = dir.filePath(QStringLiteral("clip.yuv"));
    CropInfo const crop{2, 4, 6, 8};
    m_settings.saveYuvFileSavedParameters(file, 352, 288, 10, ImageInfo::IMG_422, YUVFile::FORMAT_SEMI_PLANAR, 405504,
                                          crop);

    QString const group = RecordGroup(file);
    struct Key
    {
        char const* name;
        int value;
    };
    static Key const kKeys[] = {{"width", 352},    {"height", 288},       {"bitDepth", 10}, {"imgType", 2},
                                {"planeOrder", 1}, {"frameSize", 405504}, {"crop/left", 2}, {"crop/top", 6},
                                {"crop/right", 4}, {"crop/bottom", 8}};
    for (Key const& k : kKeys)
        EXPECT_EQ(m_store.value(group + QLatin1Char('/') + QLatin1String(k.name)).toInt(), k.value) << k.name;

    int w = 0, h = 0, depth = 0, frameSize = 0;
    ImageInfo::IMG_TYPE type = ImageInfo::IMG_420;
    YUVFile::Formats layout = YUVFile::FORMAT_PLANAR;
    CropInfo got;
    ASSERT_TRUE(m_settings.getYuvFileSavedParameters(file, w, h, depth, type, layout, frameSize, got));
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);
    EXPECT_EQ(depth, 10);
    EXPECT_EQ(type, ImageInfo::IMG_422);
    EXPECT_EQ(layout, YUVFile::FORMAT_SEMI_PLANAR);
    EXPECT_EQ(frameSize, 405504);
    EXPECT_EQ(got.left, 2);
    EXPECT_EQ(got.right, 4);
    EXPECT_EQ(got.top, 6);
    EXPECT_EQ(got.bottom, 8);

    // The same file through a relative path has the same record; another spelling has none.
    QString const relative = QDir::current().relativeFilePath(file);
    ASSERT_NE(relative, file);
    int rw = 0;
    int unused = 0;
    CropInfo unusedCrop;
    EXPECT_TRUE(m_settings.getYuvFileSavedParameters(relative, rw, unused, unused, type, layout, unused, unusedCrop));
    EXPECT_EQ(rw, 352);
    EXPECT_FALSE(m_settings.getYuvFileSavedParameters(dir.filePath(QStringLiteral("CLIP.yuv")), rw, unused, unused,
                                                      type, layout, unused, unusedCrop));

    // An incomplete record: the values before the missing key are written, the rest untouched.
    m_store.remove(group + QStringLiteral("/frameSize"));
    w = h = depth = 0;
    type = ImageInfo::IMG_400;
    layout = YUVFile::FORMAT_PLANAR;
    frameSize = -7;
    got = CropInfo{-1, -1, -1, -1};
    EXPECT_FALSE(m_settings.getYuvFileSavedParameters(file, w, h, depth, type, layout, frameSize, got));
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);
    EXPECT_EQ(depth, 10);
    EXPECT_EQ(type, ImageInfo::IMG_422);
    EXPECT_EQ(layout, YUVFile::FORMAT_SEMI_PLANAR);
    EXPECT_EQ(frameSize, -7);
    EXPECT_EQ(got.left, -1);
    EXPECT_EQ(got.bottom, -1);

    // Saving again writes all ten keys.
    m_settings.saveYuvFileSavedParameters(file, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 4608,
                                          CropInfo{});
    EXPECT_TRUE(m_settings.getYuvFileSavedParameters(file, w, h, depth, type, layout, frameSize, got));
    EXPECT_EQ(frameSize, 4608);
    EXPECT_EQ(got.left, 0);
}

TEST_F(Settings, EnumerationsOutsideTheirRangeReadAsMissing)
{
    // View options: a value no version writes reads as the default.
    struct Case
    {
        char const* key;
        std::function<int(ZeNoxGuiSettings&)> get;
        QList<QVariant> bad;
        int good;
    };
    std::vector<Case> const cases = {
        {"showComponent", [](ZeNoxGuiSettings& s) { return s.getShowComponent(); }, {4, -1, 1000, "x"}, 3},
        {"yuvValuesFormat", [](ZeNoxGuiSettings& s) { return s.getYuvValuesFormat(); }, {2, -1, "hex"}, 1},
        {"viewMode", [](ZeNoxGuiSettings& s) { return s.getViewMode(); }, {4, -7}, 3},
    };
    for (Case const& c : cases) {
        for (QVariant const& v : c.bad) {
            m_store.setValue(QString::fromLatin1(c.key), v);
            EXPECT_EQ(c.get(m_settings), 0) << c.key << " " << v.toString().toStdString();
        }
        m_store.setValue(QString::fromLatin1(c.key), c.good);
        EXPECT_EQ(c.get(m_settings), c.good) << c.key;
    }

    // Raw record: a chroma format or layout out of range stops the read there; a frame size the
    // geometry does not fit, or larger than the file, as well.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString const file = dir.filePath(QStringLiteral("clip.yuv"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(64 * 48 * 3 / 2 * 2, '\x10')); // two 64 x 48 4:2:0 frames
    }
    QString const group = RecordGroup(file);
    struct Spoil
    {
        char const* key;
        QVariant value;
        ImageInfo::IMG_TYPE expectedType; // what the read leaves in the chroma output
    };
    Spoil const spoils[] = {
        {"imgType", 7, ImageInfo::IMG_400},     {"imgType", -1, ImageInfo::IMG_400},
        {"planeOrder", 10, ImageInfo::IMG_420}, {"planeOrder", "planar", ImageInfo::IMG_420},
        {"frameSize", 100, ImageInfo::IMG_420}, {"frameSize", 64 * 48 * 3 / 2 * 2 + 1, ImageInfo::IMG_420},
        {"frameSize", 0, ImageInfo::IMG_420},
    };
    for (Spoil const& sp : spoils) {
        m_settings.saveYuvFileSavedParameters(file, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 4608,
                                              CropInfo{});
        m_store.setValue(group + QLatin1Char('/') + QLatin1String(sp.key), sp.value);
        int w = 0, h = 0, depth = 0, frameSize = -7;
        ImageInfo::IMG_TYPE type = ImageInfo::IMG_400;
        YUVFile::Formats layout = YUVFile::FORMAT_P010;
        CropInfo crop;
        EXPECT_FALSE(m_settings.getYuvFileSavedParameters(file, w, h, depth, type, layout, frameSize, crop))
            << sp.key << " " << sp.value.toString().toStdString();
        EXPECT_EQ(w, 64);
        EXPECT_EQ(type, sp.expectedType) << sp.key;
        EXPECT_EQ(frameSize, -7) << sp.key;
    }
    // The whole file as one frame is still a frame.
    m_settings.saveYuvFileSavedParameters(file, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 9216,
                                          CropInfo{});
    int w = 0, h = 0, depth = 0, frameSize = 0;
    ImageInfo::IMG_TYPE type = ImageInfo::IMG_400;
    YUVFile::Formats layout = YUVFile::FORMAT_P010;
    CropInfo crop;
    EXPECT_TRUE(m_settings.getYuvFileSavedParameters(file, w, h, depth, type, layout, frameSize, crop));
    EXPECT_EQ(frameSize, 9216);
}

TEST_F(Settings, RecentLists)
{
    m_settings.saveRecentInputFile(QStringLiteral("a"));
    m_settings.saveRecentInputFile(QStringLiteral("b"));
    m_settings.saveRecentInputFile(QStringLiteral("a"));
    EXPECT_EQ(m_settings.getRecentInputFiles(), (QStringList{"a", "b"}));
    EXPECT_EQ(m_store.value(QStringLiteral("recentInputFiles/size")).toInt(), 2);
    // The store numbers array entries from 1.
    EXPECT_EQ(m_store.value(QStringLiteral("recentInputFiles/2/file")).toString(), QStringLiteral("b"));

    QStringList expected;
    for (int i = 0; i < 11; ++i) {
        m_settings.saveRecentInputFile(QStringLiteral("f%1").arg(i));
        expected.prepend(QStringLiteral("f%1").arg(i));
    }
    EXPECT_EQ(m_settings.getRecentInputFiles(), expected.mid(0, 10));

    for (int i = 0; i < 7; ++i)
        m_settings.saveRecentReferenceFile(QStringLiteral("r%1").arg(i));
    EXPECT_EQ(m_settings.getRecentReferenceFiles(), (QStringList{"r6", "r5", "r4", "r3", "r2"}));
    // The input list is a list of its own.
    EXPECT_EQ(m_settings.getRecentInputFiles().size(), 10);

    // A store claiming a huge array is read only up to the limit.
    m_store.setValue(QStringLiteral("recentReferenceFiles/size"), 2000000000);
    m_settings.saveRecentReferenceFile(QStringLiteral("r3"));
    EXPECT_EQ(m_settings.getRecentReferenceFiles(), (QStringList{"r3", "r6", "r5", "r4", "r2"}));
}

TEST(SettingsColorPool, ThirteenColoursInCycle)
{
    ZeNoxGuiSettings const s;
    EXPECT_EQ(s.getColorFromPool(0), QColor(Qt::blue));
    EXPECT_EQ(s.getColorFromPool(13), QColor(Qt::blue));
    EXPECT_EQ(s.getColorFromPool(1), QColor(0x03, 0xac, 0x13));
    EXPECT_EQ(s.getColorFromPool(14), QColor(0x03, 0xac, 0x13));
    EXPECT_EQ(s.getColorFromPool(9), QColor(Qt::black));
    EXPECT_EQ(s.getColorFromPool(12), QColor(Qt::darkGreen));
    // Each of the 13 differs from the others.
    for (int i = 0; i < 13; ++i)
        for (int j = i + 1; j < 13; ++j)
            EXPECT_NE(s.getColorFromPool(i), s.getColorFromPool(j)) << i << " " << j;
    // A negative index stays inside the pool.
    EXPECT_EQ(s.getColorFromPool(-1), QColor(Qt::darkGreen));
    EXPECT_EQ(s.getColorFromPool(-13), QColor(Qt::blue));
}
