// The application object: identity, log lines of a run, theApp(), and the raw-parameters callback
// with saved values and with its dialog.
#include "dialogs/yuv_parameters_dlg.h"
#include "app/ze_nox_gui_app.h"
#include "app/ze_nox_gui_settings.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <functional>

using namespace ze::nox::gui;
using ze::nox::core::ZeNoxCoreError;

namespace {

// Text and level tag of each line of a log file.
QList<QPair<QString, QString>> ReadLog(QString const& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text)) << path.toStdString();
    static QRegularExpression const kLine(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}   (\\[....\\])   (.*)$"));
    QList<QPair<QString, QString>> lines;
    for (QString const& l : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QRegularExpressionMatch const m = kLine.match(l);
        EXPECT_TRUE(m.hasMatch()) << l.toStdString();
        lines.append({m.captured(1), m.captured(2)});
    }
    return lines;
}

} // namespace

TEST(App, IdentityAndMembers)
{
    ZeNoxGuiApp* const app = theApp();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app, QCoreApplication::instance());
    EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("Orlenta"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Seravin"));
    // Major, minor, patch and build number, a blank and the (here empty) suffix.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+ $"))
                    .match(QCoreApplication::applicationVersion())
                    .hasMatch())
        << QCoreApplication::applicationVersion().toStdString();
    EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    EXPECT_FALSE(QGuiApplication::windowIcon().isNull());
    ASSERT_NE(app->settings(), nullptr);
    ASSERT_NE(app->project(), nullptr);
    EXPECT_EQ(app->project()->parent(), app);
    EXPECT_EQ(app->vmafModelsDir(), QCoreApplication::applicationDirPath() + QStringLiteral("/models"));

    // The compiled-in images: the window icon in four sizes, the icons and the logo.
    QImageReader ico(QStringLiteral(":/images/icon.ico"));
    EXPECT_EQ(ico.imageCount(), 4);
    QImage const first = ico.read();
    EXPECT_EQ(first.size(), QSize(16, 16));
    EXPECT_TRUE(first.hasAlphaChannel());
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        EXPECT_EQ(QImage(QStringLiteral(":/images/icon_%1.png").arg(size)).size(), QSize(size, size)) << size;
    EXPECT_FALSE(QImage(QStringLiteral(":/images/logo_big.png")).isNull());
}

TEST(App, LogFunctionsWriteTheirLevelAndContext)
{
    QString const marker = QUuid::createUuid().toString(QUuid::WithoutBraces);
    ZeNoxGuiApp* const app = theApp();
    ASSERT_NE(app, nullptr);
    app->debugLog(marker + QStringLiteral(" d"), QStringLiteral("ctx"));
    app->infoLog(marker + QStringLiteral(" i"), QString());
    app->warningLog(marker + QStringLiteral(" w"), QStringLiteral("ctx"));
    app->errorLog(marker + QStringLiteral(" e"), QStringLiteral("open"));
    qCritical("%s", qPrintable(marker + QStringLiteral(" c")));

    QList<QPair<QString, QString>> mine;
    for (auto const& l : ReadLog(QDir::currentPath() + QStringLiteral("/logs/seravin.log")))
        if (l.second.startsWith(marker))
            mine.append(l);
    QList<QPair<QString, QString>> const expected = {
        {QStringLiteral("[DBG ]"), marker + QStringLiteral(" d   [ctx]")},
        {QStringLiteral("[INFO]"), marker + QStringLiteral(" i")},
        {QStringLiteral("[WARN]"), marker + QStringLiteral(" w   [ctx]")},
        {QStringLiteral("[ERR ]"), marker + QStringLiteral(" e   [open]")},
        {QStringLiteral("[ERR ]"), marker + QStringLiteral(" c")},
    };
    EXPECT_EQ(mine, expected);
}

// Run by the test below as a child process without an application object of the test main.
TEST(AppLifecycleChild, ConstructAndDestroy)
{
    if (qEnvironmentVariable("SERAVIN_TEST_NO_APP") != QLatin1String("1"))
        GTEST_SKIP() << "runs only as the child of App.RunsAppendToTheLogOfTheStartFolder";
    EXPECT_EQ(theApp(), nullptr);
    {
        int argc = 1;
        char name[] = "gui_tests";
        char* argv[] = {name, nullptr};
        ZeNoxGuiApp app(argc, argv);
        EXPECT_EQ(theApp(), &app);
        // The models stay beside the executable, whatever the working folder.
        EXPECT_EQ(app.vmafModelsDir(), QCoreApplication::applicationDirPath() + QStringLiteral("/models"));
        EXPECT_FALSE(app.vmafModelsDir().startsWith(QDir::currentPath()));
        app.infoLog(QStringLiteral("child run"), QString());
    }
    EXPECT_EQ(theApp(), nullptr);
}

TEST(App, RunsAppendToTheLogOfTheStartFolder)
{
    QTemporaryDir start;
    ASSERT_TRUE(start.isValid());
    for (int run = 0; run < 2; ++run) {
        QProcess child;
        child.setWorkingDirectory(start.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SERAVIN_TEST_NO_APP"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=AppLifecycleChild.ConstructAndDestroy")});
        ASSERT_TRUE(child.waitForFinished(60000));
        QByteArray const out = child.readAll();
        ASSERT_EQ(child.exitStatus(), QProcess::NormalExit) << out.toStdString();
        ASSERT_EQ(child.exitCode(), 0) << out.toStdString();
        ASSERT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
    }

    QString const version = QCoreApplication::applicationVersion();
    QStringList const oneRun = {
        QString(),
        QString(),
        QString(),
        QString(80, QLatin1Char('=')),
        QStringLiteral("Application started"),
        QStringLiteral("  Seravin by Orlenta (orlenta.com)"),
        QStringLiteral("  Version: ") + version,
        QStringLiteral("  Copyright (c) 2026 Orlenta. All rights reserved."),
        QStringLiteral("System information: %1, %2 %3 %4")
            .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                 QSysInfo::currentCpuArchitecture()),
        QString(),
        QStringLiteral("child run"),
        QString(),
        QStringLiteral("Application ended"),
    };
    QList<QPair<QString, QString>> const lines = ReadLog(start.filePath(QStringLiteral("logs/seravin.log")));
    QStringList texts;
    for (auto const& l : lines) {
        EXPECT_EQ(l.first, QStringLiteral("[INFO]")) << l.second.toStdString();
        texts.append(l.second);
    }
    EXPECT_EQ(texts, oneRun + oneRun);
}

namespace {

// Raw files and the dialog the callback shows: the dialog is found when it runs modally, its
// starting values are kept, and it is accepted or rejected.
class RawCallback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_NE(theApp(), nullptr);
        QSettings().clear();
        m_file = m_dir.filePath(QStringLiteral("clip.yuv"));
        QFile f(m_file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(64 * 48 * 3 / 2 * 4, '\x40')); // four 64 x 48 4:2:0 frames
    }
    void TearDown() override { QSettings().clear(); }

    ZeNoxGuiSettings& settings() { return *theApp()->settings(); }

    struct Seen
    {
        bool shown = false;
        int width = 0, height = 0, bitDepth = 0;
        ImageInfo::IMG_TYPE type = ImageInfo::IMG_400;
        YUVFile::Formats format = YUVFile::FORMAT_PLANAR;
        CropInfo crop;
        int chromaOrder = -1;
    };

    // Calls the callback; a dialog it shows is answered with `accept` after `edit` ran on it.
    ZeNoxCoreError call(QString const& file, bool forceDialog, bool accept, Seen& seen,
                        std::function<void(YUVParametersDialog&)> edit = nullptr)
    {
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dlg = qobject_cast<YUVParametersDialog*>(QApplication::activeModalWidget());
            if (dlg == nullptr)
                return;
            poll.stop();
            seen.shown = true;
            seen.width = dlg->m_width;
            seen.height = dlg->m_height;
            seen.bitDepth = dlg->m_bitDepth;
            seen.type = dlg->m_colorFormat;
            seen.format = dlg->m_format;
            seen.crop = dlg->m_crop;
            seen.chromaOrder = dlg->m_chromaOrder;
            if (edit)
                edit(*dlg);
            auto* box = dlg->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            box->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        poll.start();
        return ZeNoxGuiApp::GetYuvRequiredParams(file, m_w, m_h, m_depth, m_type, m_format, m_chromaOrder, m_frameSize,
                                                 m_crop, forceDialog);
    }

    QTemporaryDir m_dir;
    QString m_file;
    int m_w = -1, m_h = -1, m_depth = -1, m_frameSize = -1, m_chromaOrder = -1;
    ImageInfo::IMG_TYPE m_type = ImageInfo::IMG_444;
    YUVFile::Formats m_format = YUVFile::FORMAT_Y416;
    CropInfo m_crop{-1, -1, -1, -1};
};

} // namespace

TEST_F(RawCallback, CompleteSavedRecordAnswersWithoutDialogOrFile)
{
    // The file does not even exist: the saved values are enough.
    QString const gone = m_dir.filePath(QStringLiteral("gone.yuv"));
    settings().saveYuvFileSavedParameters(gone, 352, 288, 10, ImageInfo::IMG_422, YUVFile::FORMAT_SEMI_PLANAR, 405504,
                                          CropInfo{2, 4, 6, 8});
    Seen seen;
    EXPECT_EQ(call(gone, false, true, seen), ze::nox::core::ZE_NOX_CORE_OK);
    EXPECT_FALSE(seen.shown);
    EXPECT_EQ(m_w, 352);
    EXPECT_EQ(m_h, 288);
    EXPECT_EQ(m_depth, 10);
    EXPECT_EQ(m_type, ImageInfo::IMG_422);
    EXPECT_EQ(m_format, YUVFile::FORMAT_SEMI_PLANAR);
    EXPECT_EQ(m_frameSize, 405504);
    EXPECT_EQ(m_crop.left, 2);
    EXPECT_EQ(m_crop.right, 4);
    EXPECT_EQ(m_crop.top, 6);
    EXPECT_EQ(m_crop.bottom, 8);
    // A record saved before the chroma order was kept reads as U before V.
    EXPECT_EQ(m_chromaOrder, 0);
}

TEST_F(RawCallback, UnusableRecordShowsThePrefilledDialogAndSavesItsAnswer)
{
    struct Case
    {
        char const* what;
        std::function<void(QSettings&, QString const&)> spoil;
    };
    std::vector<Case> const cases = {
        {"frameSize missing", [](QSettings& s, QString const& g) { s.remove(g + QStringLiteral("/frameSize")); }},
        {"width 0", [](QSettings& s, QString const& g) { s.setValue(g + QStringLiteral("/width"), 0); }},
        // A frame size that splits the file into slivers, or a frame larger than the whole file.
        {"frameSize below the picture",
         [](QSettings& s, QString const& g) { s.setValue(g + QStringLiteral("/frameSize"), 100); }},
        {"frameSize beyond the file",
         [](QSettings& s, QString const& g) { s.setValue(g + QStringLiteral("/frameSize"), 64 * 48 * 3 / 2 * 4 + 1); }},
        // Stored enumeration values no version writes.
        {"chroma format 9", [](QSettings& s, QString const& g) { s.setValue(g + QStringLiteral("/imgType"), 9); }},
        {"layout -1", [](QSettings& s, QString const& g) { s.setValue(g + QStringLiteral("/planeOrder"), -1); }},
    };
    QString const group =
        QStringLiteral("yuvFilesParams/") +
        QString::fromLatin1(
            QCryptographicHash::hash(QDir::toNativeSeparators(QFileInfo(m_file).absoluteFilePath()).toUtf8(),
                                     QCryptographicHash::Md5)
                .toHex());
    for (Case const& c : cases) {
        settings().saveYuvFileSavedParameters(m_file, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR,
                                              64 * 48 * 3 / 2, CropInfo{});
        QSettings store;
        ASSERT_TRUE(store.contains(group + QStringLiteral("/width"))) << c.what;
        c.spoil(store, group);

        Seen seen;
        EXPECT_EQ(call(m_file, false, true, seen), ze::nox::core::ZE_NOX_CORE_OK) << c.what;
        EXPECT_TRUE(seen.shown) << c.what;
        if (std::string(c.what) == "frameSize missing") {
            EXPECT_EQ(seen.width, 64);
            EXPECT_EQ(seen.height, 48);
            EXPECT_EQ(seen.format, YUVFile::FORMAT_SEMI_PLANAR);
        }
        // The accepted values come back and are saved as a complete record.
        EXPECT_GT(m_w, 0) << c.what;
        EXPECT_EQ(m_frameSize, m_w * m_h * 3 / 2) << c.what;
        int w = 0, h = 0, depth = 0, frameSize = 0;
        ImageInfo::IMG_TYPE type;
        YUVFile::Formats format;
        CropInfo crop;
        EXPECT_TRUE(settings().getYuvFileSavedParameters(m_file, w, h, depth, type, format, frameSize, crop));
        EXPECT_EQ(w, m_w);
        EXPECT_EQ(h, m_h);
        EXPECT_EQ(frameSize, m_frameSize);
    }
}

TEST_F(RawCallback, ForcedDialogStartsFromTheRecordAndOverwritesIt)
{
    settings().saveYuvFileSavedParameters(m_file, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR,
                                          64 * 48 * 3 / 2, CropInfo{8, 0, 0, 0});
    Seen seen;
    auto widen = [](YUVParametersDialog& dlg) {
        auto* width = dlg.findChild<QSpinBox*>(QStringLiteral("widthLabel"));
        width->setValue(32);
        emit width->editingFinished();
    };
    EXPECT_EQ(call(m_file, true, true, seen, widen), ze::nox::core::ZE_NOX_CORE_OK);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.width, 64);
    EXPECT_EQ(seen.height, 48);
    EXPECT_EQ(seen.bitDepth, 8);
    EXPECT_EQ(seen.type, ImageInfo::IMG_420);
    EXPECT_EQ(seen.crop.left, 8);
    EXPECT_EQ(m_w, 32);
    EXPECT_EQ(m_h, 48);
    EXPECT_EQ(m_frameSize, 32 * 48 * 3 / 2);

    int w = 0, h = 0, depth = 0, frameSize = 0;
    ImageInfo::IMG_TYPE type;
    YUVFile::Formats format;
    CropInfo crop;
    ASSERT_TRUE(settings().getYuvFileSavedParameters(m_file, w, h, depth, type, format, frameSize, crop));
    EXPECT_EQ(w, 32);
    EXPECT_EQ(frameSize, 32 * 48 * 3 / 2);
    EXPECT_EQ(crop.left, m_crop.left);
}

TEST_F(RawCallback, ChromaOrderIsAnsweredSavedAndShownAgain)
{
    Seen seen;
    auto vu = [](YUVParametersDialog& dlg) {
        auto* order = dlg.findChild<QComboBox*>(QStringLiteral("chromaOrderW"));
        order->setCurrentIndex(1);
        QMetaObject::invokeMethod(order, "activated", Q_ARG(int, 1));
    };
    EXPECT_EQ(call(m_file, true, true, seen, vu), ze::nox::core::ZE_NOX_CORE_OK);
    EXPECT_EQ(seen.chromaOrder, 0);
    EXPECT_EQ(m_chromaOrder, 1);
    // Without a dialog the saved order comes back, and a forced dialog starts from it.
    m_chromaOrder = -1;
    EXPECT_EQ(call(m_file, false, true, seen), ze::nox::core::ZE_NOX_CORE_OK);
    EXPECT_EQ(m_chromaOrder, 1);
    Seen again;
    EXPECT_EQ(call(m_file, true, true, again), ze::nox::core::ZE_NOX_CORE_OK);
    EXPECT_TRUE(again.shown);
    EXPECT_EQ(again.chromaOrder, 1);
    EXPECT_EQ(m_chromaOrder, 1);
}

TEST_F(RawCallback, CancelAndUnreadableFile)
{
    // Cancelled without a record: 9, the reset outputs, nothing saved.
    Seen seen;
    EXPECT_EQ(call(m_file, false, false, seen), ze::nox::core::ZE_NOX_CORE_CANCELED);
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(m_w, 0);
    EXPECT_EQ(m_type, ImageInfo::IMG_420);
    EXPECT_EQ(m_format, YUVFile::FORMAT_PLANAR);
    EXPECT_EQ(m_frameSize, 0);
    EXPECT_EQ(m_crop.left, 0);
    EXPECT_TRUE(QSettings().allKeys().isEmpty());

    // Cancelling a forced dialog keeps the saved record as it was.
    settings().saveYuvFileSavedParameters(m_file, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 4608,
                                          CropInfo{});
    Seen forced;
    EXPECT_EQ(call(m_file, true, false, forced,
                   [](YUVParametersDialog& dlg) {
                       auto* width = dlg.findChild<QSpinBox*>(QStringLiteral("widthLabel"));
                       width->setValue(32);
                       emit width->editingFinished();
                   }),
              ze::nox::core::ZE_NOX_CORE_CANCELED);
    EXPECT_EQ(m_w, 64);
    int w = 0, h = 0, depth = 0, frameSize = 0;
    ImageInfo::IMG_TYPE type;
    YUVFile::Formats format;
    CropInfo crop;
    ASSERT_TRUE(settings().getYuvFileSavedParameters(m_file, w, h, depth, type, format, frameSize, crop));
    EXPECT_EQ(w, 64);

    // A path that exists but cannot be read as a file, and a missing one: 6, no dialog.
    for (QString const& path : {m_dir.path(), m_dir.filePath(QStringLiteral("missing.yuv"))}) {
        Seen none;
        EXPECT_EQ(call(path, false, true, none), ze::nox::core::ZE_NOX_CORE_FAILED_TO_OPEN_FILE);
        EXPECT_FALSE(none.shown);
    }
}
