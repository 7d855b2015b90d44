// Source files, RD curves and the project with its project file, on the clips of the test media.
#include "decoders/ffmpeg_utils.h"
#include "display/frame.h"
#include "test_support.h"
#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace ze::nox::gui;

namespace {

// Answers the next codec question: picks `choice`, or cancels when it is empty. Records the
// question's preselected item.
class CodecAnswer
{
public:
    explicit CodecAnswer(QString choice) : m_choice(std::move(choice))
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            auto* dlg = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            m_poll.stop();
            m_asked = true;
            m_preselected = dlg->textValue();
            if (m_choice.isEmpty()) {
                dlg->reject();
            } else {
                dlg->setTextValue(m_choice);
                dlg->accept();
            }
        });
        m_poll.start();
    }
    bool asked() const { return m_asked; }
    QString preselected() const { return m_preselected; }

private:
    QString m_choice;
    QTimer m_poll;
    bool m_asked = false;
    QString m_preselected;
};

class Project : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(theApp(), nullptr);
        ASSERT_TRUE(m_dir.isValid());
        prj().close();
    }
    void TearDown() override { prj().close(); }
    ZeNoxGuiProject& prj() { return *theApp()->project(); }
    // A copy of a test clip in the temp folder under another name.
    QString copy(QString const& clip, QString const& name)
    {
        QString const to = m_dir.filePath(name);
        QFile::remove(to);
        EXPECT_TRUE(QFile::copy(TestMediaPath(clip), to)) << clip.toStdString();
        return to;
    }
    QJsonObject readJson(QString const& path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    void writeFile(QString const& path, QByteArray const& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Project, SourceFileOpensByTypeRefusesAndAsks)
{
    { // Known suffixes open without a question, with the stream's geometry.
        struct Case
        {
            char const* clip;
            ze::nox::core::ZeStreamType type;
            int w, h, frames;
        };
        Case const cases[] = {
            {"ff_avc8.h264", ze::nox::core::ZE_STREAM_TYPE_AVC, 200, 120, 30},
            {"ff_hevc8.h265", ze::nox::core::ZE_STREAM_TYPE_HEVC, 200, 120, 30},
            {"av1_420p.ivf", ze::nox::core::ZE_STREAM_TYPE_AV1, 176, 144, 30},
            {"src_176x144_420p.y4m", ze::nox::core::ZE_STREAM_TYPE_YUV, 176, 144, 10},
        };
        for (Case const& c : cases) {
            ZeNoxSourceFile f;
            EXPECT_EQ(f.open(TestMediaPath(c.clip), nullptr), ZE_NOX_GUI_OK) << c.clip;
            EXPECT_EQ(f.openStatusString(), QStringLiteral("Opened")) << c.clip;
            EXPECT_EQ(f.streamType(), c.type) << c.clip;
            EXPECT_EQ(f.width(), c.w) << c.clip;
            EXPECT_EQ(f.height(), c.h) << c.clip;
            EXPECT_EQ(f.frameCount(), c.frames) << c.clip;
            EXPECT_TRUE(f.streamParams().valid);
            EXPECT_GT(f.bitrateKbps(), 0);
            // Opened once: a second open keeps the decoder, the status and the last result.
            ze::nox::core::ZeNoxDecoder const* const decoder = f.decoder();
            EXPECT_EQ(f.open(TestMediaPath(QStringLiteral("ff_hevc8.h265")), nullptr), ZE_NOX_GUI_INTERNAL_ERROR);
            EXPECT_EQ(f.decoder(), decoder);
            EXPECT_EQ(f.openStatus(), ZeNoxSourceFile::Opened) << c.clip;
            EXPECT_EQ(f.lastResult(), ZE_NOX_GUI_OK) << c.clip;
            EXPECT_EQ(f.shortFilename(), QString::fromLatin1(c.clip));
        }
    }
    { // Refused suffix, in capitals: no question.
        CodecAnswer answer(QStringLiteral("HEVC"));
        ZeNoxSourceFile f;
        EXPECT_EQ(f.open(copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("clip.MP4")), nullptr),
                  ZE_NOX_GUI_UNSUPPORTED_FILE_FORMAT);
        EXPECT_EQ(f.openStatus(), ZeNoxSourceFile::NotOpened);
        EXPECT_FALSE(answer.asked());
    }
    { // Unknown suffix: the model asks nothing. Without a type it fails with 6; with the type
        // a view chose it opens as that type.
        QString const bin = copy(QStringLiteral("ff_hevc8.h265"), QStringLiteral("clip.bin"));
        EXPECT_TRUE(ZeNoxSourceFile::needsStreamTypeChoice(bin));
        EXPECT_FALSE(ZeNoxSourceFile::needsStreamTypeChoice(TestMediaPath(QStringLiteral("ff_avc8.h264"))));
        EXPECT_FALSE(ZeNoxSourceFile::needsStreamTypeChoice(m_dir.filePath(QStringLiteral("gone.bin"))));
        CodecAnswer answer(QStringLiteral("HEVC"));
        ZeNoxSourceFile untyped;
        EXPECT_EQ(untyped.open(bin, nullptr), ZE_NOX_GUI_STREAM_TYPE_NOT_DETECTED);
        EXPECT_EQ(untyped.openStatus(), ZeNoxSourceFile::FailedToOpen);
        ZeNoxSourceFile typed;
        EXPECT_EQ(typed.open(bin, nullptr, ze::nox::core::ZE_STREAM_TYPE_HEVC), ZE_NOX_GUI_OK);
        EXPECT_EQ(typed.streamType(), ze::nox::core::ZE_STREAM_TYPE_HEVC);
        QApplication::processEvents();
        EXPECT_FALSE(answer.asked());
        EXPECT_EQ(ZeNoxSourceFile::streamTypeChoices(), (QStringList{"YUV", "AVC", "HEVC", "AV1", "VVC", "MJPEG"}));
    }
    { // Missing file, and a device that would never end a validation or a checksum.
        ZeNoxSourceFile missing;
        EXPECT_EQ(missing.open(m_dir.filePath(QStringLiteral("gone.h264")), nullptr), ZE_NOX_GUI_FILE_DOES_NOT_EXIST);
        EXPECT_EQ(missing.openStatusString(), QStringLiteral("Failed to Open"));
        EXPECT_TRUE(missing.fullFilename().isEmpty());
        EXPECT_EQ(missing.frameCount(), 0);
        EXPECT_FALSE(missing.streamParams().valid);
        ZeNoxSourceFile device;
        EXPECT_EQ(device.open(QStringLiteral("/dev/zero"), nullptr), ZE_NOX_GUI_FAILED_TO_OPEN_FILE);
        EXPECT_TRUE(device.calcFileChecksum(QStringLiteral("/dev/zero")).isEmpty());
    }
    { // Broken stream: failed, no decoder.
        ZeNoxSourceFile f;
        EXPECT_NE(f.open(TestMediaPath(QStringLiteral("ff_random.h264")), nullptr), ZE_NOX_GUI_OK);
        EXPECT_EQ(f.openStatus(), ZeNoxSourceFile::FailedToOpen);
        EXPECT_EQ(f.decoder(), nullptr);
    }
}

TEST_F(Project, FrameRangeIsClampedAndSignalled)
{
    ZeNoxSourceFile f;
    ASSERT_EQ(f.open(TestMediaPath(QStringLiteral("ff_avc8.h264")), nullptr), ZE_NOX_GUI_OK);
    QSignalSpy changed(&f, &ZeNoxSourceFile::changed);
    EXPECT_TRUE(f.isFirstFrameNumberDefault());
    EXPECT_TRUE(f.isLastFrameNumberDefault());
    f.setFirstFrameNumber(-5);
    EXPECT_EQ(f.firstFrameNumber(), 0);
    f.setFirstFrameNumber(150);
    EXPECT_EQ(f.firstFrameNumber(), 29);
    f.setFirstFrameNumber(20);
    f.setLastFrameNumber(10);
    EXPECT_EQ(f.lastFrameNumber(), 20);
    f.setLastFrameNumber(1000);
    EXPECT_EQ(f.lastFrameNumber(), 29);
    EXPECT_TRUE(f.isLastFrameNumberDefault());
    f.setFirstFrameNumber(10);
    f.setLastFrameNumber(19);
    EXPECT_EQ(f.frameCount(), 10);
    EXPECT_EQ(changed.count(), 7);
    f.setIsRefFile(true);
    f.setIsRefFile(true);
    EXPECT_EQ(changed.count(), 9);
    // The range reaches the decoder: its first frame is frame 10 of the stream.
    ze::nox::core::Frame frame;
    ASSERT_EQ(f.decoder()->getFirstFrame(frame), ze::nox::core::ZE_NOX_CORE_OK);
    EXPECT_EQ(f.decoder()->curAbsoluteFrameNumber(), 10);
}

TEST_F(Project, RdCurveKeepsOrderAndSignalsChanges)
{
    ZeNoxSourceFile a, b, c;
    ZeNoxRdCurve curve;
    QSignalSpy changed(&curve, &ZeNoxRdCurve::changed);
    curve.setName(QString());
    EXPECT_EQ(changed.count(), 0);
    curve.setName(QStringLiteral("x"));
    curve.setName(QStringLiteral("x"));
    EXPECT_EQ(changed.count(), 2);
    curve.addSrcFile(&a);
    curve.addSrcFile(&a);
    curve.addSrcFile(&b);
    curve.addSrcFile(&c);
    curve.addSrcFile(nullptr);
    EXPECT_EQ(changed.count(), 5);
    curve.removeSrcFiles({&b});
    EXPECT_EQ(curve.srcFiles(), (QList<ZeNoxSourceFile const*>{&a, &c}));
    ZeNoxSourceFile other;
    curve.removeSrcFiles({&other});
    EXPECT_EQ(changed.count(), 6);
    curve.removeSrcFiles({&a, &c});
    EXPECT_EQ(changed.count(), 7);
    EXPECT_TRUE(curve.srcFiles().isEmpty());
}

TEST_F(Project, AddingFilesAndRemovingThemSignalsInOrder)
{
    QSignalSpy changed(&prj(), &ZeNoxGuiProject::projectChanged);
    QSignalSpy added(&prj(), &ZeNoxGuiProject::srcFileAdded);
    QString const avc = TestMediaPath(QStringLiteral("ff_avc8.h264"));
    ASSERT_EQ(prj().addSourceFile(avc), ZE_NOX_GUI_OK);
    EXPECT_EQ(added.count(), 1);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_TRUE(changed.at(0).at(0).toBool());
    EXPECT_TRUE(prj().hasUnsavedChanges());
    // The same file through another path string.
    EXPECT_EQ(prj().addSourceFile(TestMediaPath(QStringLiteral("../media/ff_avc8.h264"))),
              ZE_NOX_GUI_FILE_ALREADY_ADDED);
    EXPECT_EQ(prj().addSourceFile(copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("a.zip"))),
              ZE_NOX_GUI_UNSUPPORTED_FILE_FORMAT);
    EXPECT_EQ(added.count(), 1);
    // A missing file is kept, twice.
    QString const gone = m_dir.filePath(QStringLiteral("gone.h264"));
    EXPECT_EQ(prj().addSourceFile(gone), ZE_NOX_GUI_OK);
    EXPECT_EQ(prj().addSourceFile(gone), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 3);
    EXPECT_EQ(prj().sourceFiles({ZeNoxSourceFile::Opened}).size(), 1);
    EXPECT_EQ(prj().sourceFiles().at(1)->lastResult(), ZE_NOX_GUI_FILE_DOES_NOT_EXIST);

    ZeNoxSourceFile* file = prj().sourceFiles().first();
    file->setIsLeftFile(true);
    EXPECT_EQ(prj().leftSrcFile(), file);
    EXPECT_EQ(prj().leftDecoder(), file->decoder());
    EXPECT_EQ(prj().referenceDecoder(), nullptr);

    ASSERT_EQ(prj().addRdCurve(QStringLiteral("A")), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().addRdCurve(QStringLiteral("a")), ZE_NOX_GUI_OK);
    EXPECT_EQ(prj().addRdCurve(QStringLiteral("A")), ZE_NOX_GUI_RD_CURVE_NAME_EXISTS);
    EXPECT_EQ(prj().addRdCurve(QString()), ZE_NOX_GUI_RD_CURVE_NAME_EMPTY);
    EXPECT_EQ(prj().renameRdCurve(QStringLiteral("a"), QStringLiteral("a")), ZE_NOX_GUI_RD_CURVE_NAME_EXISTS);
    EXPECT_EQ(prj().renameRdCurve(QStringLiteral("zz"), QStringLiteral("b")), ZE_NOX_GUI_RD_CURVE_NOT_FOUND);
    EXPECT_EQ(prj().rdCurveAnchor(), nullptr);
    ZeNoxRdCurve* A = prj().rdCurveByName(QStringLiteral("A"));
    ZeNoxRdCurve* a = prj().rdCurveByName(QStringLiteral("a"));
    prj().setRdCurveAnchor(A); // no files: nothing
    EXPECT_EQ(prj().rdCurveAnchor(), nullptr);
    A->addSrcFile(file);
    a->addSrcFile(file);
    prj().setRdCurveAnchor(A);
    EXPECT_EQ(prj().rdCurveAnchor(), A);

    // Removing a file of two curves: each curve's change, then the announcement, then the change.
    QStringList order;
    auto conns = std::make_shared<QList<QMetaObject::Connection>>();
    conns->append(QObject::connect(&prj(), &ZeNoxGuiProject::rdCurveChanged,
                                   [&](ZeNoxRdCurve const* c) { order << QStringLiteral("curve ") + c->name(); }));
    conns->append(QObject::connect(&prj(), &ZeNoxGuiProject::srcFileAboutToRemove, [&](ZeNoxSourceFile* f) {
        EXPECT_NE(f->decoder(), nullptr); // still usable during the signal
        order << QStringLiteral("about");
    }));
    conns->append(QObject::connect(&prj(), &ZeNoxGuiProject::projectChanged,
                                   [&](bool v) { order << (v ? QStringLiteral("true") : QStringLiteral("false")); }));
    prj().removeSourceFile(file);
    EXPECT_EQ(order, (QStringList{"curve A", "true", "curve a", "true", "about", "true"}));
    order.clear();
    prj().removeRdCurves({A, A}); // listed twice: deleted once
    EXPECT_EQ(prj().rdCurveAnchor(), nullptr);
    EXPECT_EQ(order, (QStringList{"curve A", "true"}));
    for (auto const& c : *conns)
        QObject::disconnect(c);

    changed.clear();
    prj().reset();
    EXPECT_TRUE(prj().isEmpty());
    EXPECT_EQ(prj().name(), QStringLiteral("New Project"));
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_FALSE(changed.last().at(0).toBool());
    EXPECT_FALSE(prj().hasUnsavedChanges());
}

TEST_F(Project, SaveAndLoadRoundTrip)
{
    QString const ref = copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("ref.h264"));
    QString const enc = copy(QStringLiteral("ff_hevc8.h265"), QStringLiteral("enc.h265"));
    ASSERT_EQ(prj().addSourceFile(ref), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().addSourceFile(enc), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().addSourceFile(m_dir.filePath(QStringLiteral("gone.h264"))), ZE_NOX_GUI_OK);
    ZeNoxSourceFile* r = prj().sourceFiles().at(0);
    ZeNoxSourceFile* e = prj().sourceFiles().at(1);
    r->setIsRefFile(true);
    e->setIsRightFile(true);
    e->setFirstFrameNumber(3);
    e->setLastFrameNumber(20);
    ASSERT_EQ(prj().addRdCurve(QStringLiteral("hevc")), ZE_NOX_GUI_OK);
    prj().rdCurveByName(QStringLiteral("hevc"))->addSrcFile(e);
    prj().setRdCurveAnchor(prj().rdCurveByName(QStringLiteral("hevc")));

    QString const path = m_dir.filePath(QStringLiteral("p.zenxp"));
    prj().setFileName(path);
    prj().setName(QStringLiteral("p"));
    QSignalSpy changed(&prj(), &ZeNoxGuiProject::projectChanged);
    prj().saveToFile();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_FALSE(changed.at(0).at(0).toBool());
    EXPECT_FALSE(prj().hasUnsavedChanges());

    QJsonObject const root = readJson(path);
    EXPECT_EQ(root.value("projectFileVersion").toInt(), 1);
    EXPECT_EQ(root.value("rdCurveAnchor").toString(), QStringLiteral("hevc"));
    QJsonArray const files = root.value("sourceFiles").toArray();
    ASSERT_EQ(files.size(), 3);
    QJsonObject const f0 = files.at(0).toObject();
    EXPECT_EQ(f0.value("checksum").toString().size(), 32);
    EXPECT_FALSE(f0.contains("firstFrameNumber"));
    EXPECT_FALSE(f0.contains("lastFrameNumber"));
    EXPECT_FALSE(f0.value("params").toObject().contains("crop"));
    EXPECT_EQ(f0.value("params").toObject().value("pixFmt").toString(), QStringLiteral("yuv420p"));
    EXPECT_EQ(files.at(1).toObject().value("firstFrameNumber").toInt(), 3);
    EXPECT_EQ(files.at(1).toObject().value("lastFrameNumber").toInt(), 20);
    EXPECT_EQ(files.at(2).toObject().keys(), (QStringList{"filename", "isLeftFile", "isRefFile", "isRightFile"}));
    // A missing file keeps its name, so the project finds it when it is back.
    EXPECT_EQ(files.at(2).toObject().value("filename").toString(), m_dir.filePath(QStringLiteral("gone.h264")));

    // Change the encoded file (so its checksum differs) and spoil the reference's stored frame
    // count: a changed file is validated again, and so is an unchanged one whose record names
    // fewer frames than the stream holds.
    QJsonObject spoiled = root;
    QJsonArray sf = spoiled.value("sourceFiles").toArray();
    QJsonObject e0 = sf.at(0).toObject();
    QJsonObject p0 = e0.value("params").toObject();
    p0["frames"] = 25;
    e0["params"] = p0;
    sf[0] = e0;
    QJsonObject e1 = sf.at(1).toObject();
    QJsonObject p1 = e1.value("params").toObject();
    p1["frames"] = 7;
    e1["params"] = p1;
    sf[1] = e1;
    spoiled["sourceFiles"] = sf;
    writeFile(path, QJsonDocument(spoiled).toJson());
    QFile::remove(enc);
    ASSERT_TRUE(QFile::copy(TestMediaPath(QStringLiteral("ff_hevc10.hevc")), enc));

    QSignalSpy closed(&prj(), &ZeNoxGuiProject::closed);
    changed.clear();
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(changed.last().at(0).toBool());
    EXPECT_FALSE(prj().hasUnsavedChanges());
    EXPECT_EQ(prj().name(), QStringLiteral("p"));
    ASSERT_EQ(prj().sourceFiles().size(), 3);
    ZeNoxSourceFile* r2 = prj().sourceFiles().at(0);
    ZeNoxSourceFile* e2 = prj().sourceFiles().at(1);
    EXPECT_EQ(r2->originalFrameCount(), 30); // not the stored 25
    EXPECT_EQ(e2->originalFrameCount(), 30); // validated afresh
    EXPECT_EQ(e2->pixelFormatName(), ze::nox::core::GetPixFmtName(AV_PIX_FMT_YUV420P10LE));
    EXPECT_TRUE(r2->isRefFile());
    EXPECT_TRUE(e2->isRightFile());
    EXPECT_EQ(e2->firstFrameNumber(), 3);
    EXPECT_EQ(e2->lastFrameNumber(), 20);
    EXPECT_EQ(prj().sourceFiles().at(2)->openStatus(), ZeNoxSourceFile::FailedToOpen);
    ASSERT_EQ(prj().rdCurves().size(), 1);
    EXPECT_EQ(prj().rdCurves().at(0)->srcFiles(), (QList<ZeNoxSourceFile const*>{e2}));
    EXPECT_EQ(prj().rdCurveAnchor(), prj().rdCurves().at(0));
}

TEST_F(Project, ALostFileNeverMakesTheProjectUnopenable)
{
    QString const a = copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("a.h264"));
    QString const b = copy(QStringLiteral("ff_hevc8.h265"), QStringLiteral("b.h265"));
    ASSERT_EQ(prj().addSourceFile(a), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().addSourceFile(b), ZE_NOX_GUI_OK);
    ZeNoxSourceFile* fb = prj().sourceFiles().at(1);
    fb->setIsRightFile(true);
    fb->setFirstFrameNumber(2);
    fb->setLastFrameNumber(12);
    ASSERT_EQ(prj().addRdCurve(QStringLiteral("c")), ZE_NOX_GUI_OK);
    prj().rdCurveByName(QStringLiteral("c"))->addSrcFile(prj().sourceFiles().at(0));
    prj().rdCurveByName(QStringLiteral("c"))->addSrcFile(fb);
    prj().setRdCurveAnchor(prj().rdCurveByName(QStringLiteral("c")));
    QString const path = m_dir.filePath(QStringLiteral("lost.zenxp"));
    prj().setFileName(path);
    prj().saveToFile();
    QJsonObject const saved = readJson(path);
    QJsonObject const savedB = saved.value("sourceFiles").toArray().at(1).toObject();

    // One encode of the curve goes away: the project still loads, with the file failed and kept
    // in its curve by the name it had.
    QString const aside = m_dir.filePath(QStringLiteral("aside.h265"));
    ASSERT_TRUE(QFile::rename(b, aside));
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 2);
    ZeNoxSourceFile* lost = prj().sourceFiles().at(1);
    EXPECT_EQ(lost->openStatus(), ZeNoxSourceFile::FailedToOpen);
    EXPECT_EQ(lost->projectFilename(), QFileInfo(b).absoluteFilePath());
    ASSERT_EQ(prj().rdCurves().size(), 1);
    EXPECT_EQ(prj().rdCurves().at(0)->srcFiles(), (QList<ZeNoxSourceFile const*>{prj().sourceFiles().at(0), lost}));
    EXPECT_EQ(prj().rdCurveAnchor(), prj().rdCurves().at(0));

    // Saved while it is away, the entry keeps its name, roles, range and stored parameters.
    prj().addRdCurve(QStringLiteral("other"));
    prj().saveToFile();
    ASSERT_FALSE(prj().hasUnsavedChanges());
    QJsonObject const resaved = readJson(path);
    EXPECT_EQ(resaved.value("sourceFiles").toArray().at(1).toObject(), savedB);
    EXPECT_EQ(resaved.value("rdCurves").toArray().at(0), saved.value("rdCurves").toArray().at(0));

    // Back on disk, everything is as before: opened from the stored record, in the curve, with
    // its role and range.
    ASSERT_TRUE(QFile::rename(aside, b));
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 2);
    ZeNoxSourceFile* back = prj().sourceFiles().at(1);
    EXPECT_EQ(back->openStatus(), ZeNoxSourceFile::Opened);
    EXPECT_TRUE(back->isRightFile());
    EXPECT_EQ(back->firstFrameNumber(), 2);
    EXPECT_EQ(back->lastFrameNumber(), 12);
    EXPECT_TRUE(prj().rdCurveByName(QStringLiteral("c"))->containsSrcFile(back));

    // Curve entries that name no file of the project are skipped, the rest loads.
    QString const doc = QStringLiteral(R"({"projectFileVersion": 1, "sourceFiles": [{"filename": "%1"}],
        "rdCurves": [{"name": "c", "sourceFiles": [{"filename": ""}, {"filename": "%2"}, {"filename": "%1"},
        {"filename": "%3"}]}], "rdCurveAnchor": "c"})")
                            .arg(a, b, m_dir.filePath(QStringLiteral("never.h264")));
    writeFile(path, doc.toUtf8());
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().rdCurves().size(), 1);
    EXPECT_EQ(prj().rdCurves().at(0)->srcFiles(), (QList<ZeNoxSourceFile const*>{prj().sourceFiles().at(0)}));
    EXPECT_EQ(prj().rdCurveAnchor(), prj().rdCurves().at(0));
}

TEST_F(Project, AMissingFilesEntryIsWrittenBackUnchanged)
{
    QString const clip = TestMediaPath(QStringLiteral("ff_avc8.h264"));
    QJsonObject entry{
        {"filename", m_dir.filePath(QStringLiteral("gone.h264"))},
        {"isLeftFile", false},
        {"isRightFile", true},
        {"isRefFile", false},
        {"checksum", QStringLiteral("0123456789abcdef0123456789abcdef")},
        {"params", QJsonObject{{"type", 1},
                               {"width", 200},
                               {"height", 120},
                               {"pixFmt", "yuv420p"},
                               {"frames", 30},
                               {"crop", QJsonObject{{"left", 2}, {"right", 0}, {"top", 0}, {"bottom", 4}}}}},
        {"firstFrameNumber", 4},
        {"lastFrameNumber", 9}};
    QJsonObject relative = entry;
    relative["filename"] = QStringLiteral("relative/gone too.h264");
    QJsonObject const root{{"name", "m"},
                           {"projectFileVersion", 1},
                           {"sourceFiles", QJsonArray{QJsonObject{{"filename", clip}}, entry, relative}},
                           {"rdCurves", QJsonArray{}}};
    QString const path = m_dir.filePath(QStringLiteral("missing.zenxp"));
    writeFile(path, QJsonDocument(root).toJson());
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 3);
    // The model holds no role for a file it cannot show.
    EXPECT_EQ(prj().rightSrcFile(), nullptr);
    prj().sourceFiles().at(0)->setIsLeftFile(true);
    prj().saveToFile();
    QJsonArray const files = readJson(path).value("sourceFiles").toArray();
    ASSERT_EQ(files.size(), 3);
    EXPECT_EQ(files.at(1).toObject(), entry);
    relative["filename"] = m_dir.filePath(QStringLiteral("relative/gone too.h264"));
    EXPECT_EQ(files.at(2).toObject(), relative);

    // A file deleted after it opened keeps its name, role and range (its checksum cannot be had).
    QString const later = copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("later.h264"));
    ASSERT_EQ(prj().addSourceFile(later), ZE_NOX_GUI_OK);
    ZeNoxSourceFile* f = prj().sourceFiles().last();
    f->setIsRefFile(true);
    f->setFirstFrameNumber(5);
    ASSERT_TRUE(QFile::remove(later));
    prj().saveToFile();
    QJsonObject const deleted = readJson(path).value("sourceFiles").toArray().at(3).toObject();
    EXPECT_EQ(deleted.value("filename").toString(), QFileInfo(later).absoluteFilePath());
    EXPECT_TRUE(deleted.value("isRefFile").toBool());
    EXPECT_EQ(deleted.value("firstFrameNumber").toInt(), 5);
    EXPECT_FALSE(deleted.contains("checksum"));
}

TEST_F(Project, CurveNamesAreUniqueAfterLoading)
{
    QString const a = copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("a.h264"));
    QString const b = copy(QStringLiteral("ff_hevc8.h265"), QStringLiteral("b.h265"));
    auto curve = [](QString const& name, QString const& file) {
        return QJsonObject{{"name", name}, {"sourceFiles", QJsonArray{QJsonObject{{"filename", file}}}}};
    };
    QJsonObject const root{
        {"projectFileVersion", 1},
        {"sourceFiles", QJsonArray{QJsonObject{{"filename", a}}, QJsonObject{{"filename", b}}}},
        {"rdCurves", QJsonArray{curve("A", a), curve("A", b), curve("A (2)", b), curve("", a), curve("", b)}},
        {"rdCurveAnchor", "A"}};
    QString const path = m_dir.filePath(QStringLiteral("names.zenxp"));
    writeFile(path, QJsonDocument(root).toJson());
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    QStringList names;
    for (ZeNoxRdCurve const* c : prj().rdCurves())
        names << c->name();
    EXPECT_EQ(names, (QStringList{"A", "A (2)", "A (2) (2)", "RD Curve", "RD Curve (2)"}));
    ZeNoxRdCurve* first = prj().rdCurves().at(0);
    ZeNoxRdCurve* second = prj().rdCurves().at(1);
    EXPECT_EQ(prj().rdCurveAnchor(), first);
    EXPECT_EQ(first->srcFiles(), QList<ZeNoxSourceFile const*>{prj().sourceFiles().at(0)});
    EXPECT_FALSE(prj().hasUnsavedChanges());
    // Renaming the second leaves the first, and the anchor, alone.
    EXPECT_EQ(prj().renameRdCurve(QStringLiteral("A (2)"), QStringLiteral("B")), ZE_NOX_GUI_OK);
    EXPECT_EQ(second->name(), QStringLiteral("B"));
    EXPECT_EQ(first->name(), QStringLiteral("A"));
    EXPECT_EQ(prj().rdCurveAnchor(), first);
}

TEST_F(Project, FailedSaveKeepsThePreviousFile)
{
    QString const path = m_dir.filePath(QStringLiteral("keep.zenxp"));
    ASSERT_EQ(prj().addSourceFile(TestMediaPath(QStringLiteral("ff_avc8.h264"))), ZE_NOX_GUI_OK);
    prj().setFileName(path);
    prj().setName(QStringLiteral("keep"));
    ASSERT_EQ(prj().saveToFile(), ZE_NOX_GUI_OK);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray const before = f.readAll();
    f.close();

    // Targets nobody can write, root included: a folder in the way, a path below a regular file,
    // a path below /proc.
    QDir(m_dir.path()).mkpath(QStringLiteral("folder.zenxp/inner"));
    writeFile(m_dir.filePath(QStringLiteral("plain")), "x");
    QStringList const targets = {m_dir.filePath(QStringLiteral("folder.zenxp")),
                                 m_dir.filePath(QStringLiteral("plain/p.zenxp")),
                                 QStringLiteral("/proc/seravin-project-test.zenxp")};
    int n = 0;
    for (QString const& target : targets) {
        SCOPED_TRACE(target.toStdString());
        prj().addRdCurve(QStringLiteral("c%1").arg(++n));
        QSignalSpy changed(&prj(), &ZeNoxGuiProject::projectChanged);
        QSignalSpy named(&prj(), &ZeNoxGuiProject::nameChanged);
        QString reason;
        prj().setFileName(target);
        EXPECT_EQ(prj().saveToFile(&reason), ZE_NOX_GUI_FAILED_TO_OPEN_FILE);
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_TRUE(prj().hasUnsavedChanges());
        prj().setFileName(path);
        // Save As to it: neither the name nor the path is taken.
        reason.clear();
        EXPECT_EQ(prj().saveToFileAs(target, QStringLiteral("other"), &reason), ZE_NOX_GUI_FAILED_TO_OPEN_FILE);
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_EQ(prj().fileName(), path);
        EXPECT_EQ(prj().name(), QStringLiteral("keep"));
        EXPECT_TRUE(prj().hasUnsavedChanges());
        EXPECT_EQ(changed.count(), 0);
        EXPECT_EQ(named.count(), 0);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before);
        f.close();
    }
    EXPECT_TRUE(QFileInfo(m_dir.filePath(QStringLiteral("folder.zenxp/inner"))).isDir());

    // A successful Save As takes both, and the next Save writes there.
    QString const other = m_dir.filePath(QStringLiteral("other.zenxp"));
    QSignalSpy named(&prj(), &ZeNoxGuiProject::nameChanged);
    ASSERT_EQ(prj().saveToFileAs(other, QStringLiteral("other")), ZE_NOX_GUI_OK);
    EXPECT_EQ(prj().fileName(), other);
    EXPECT_EQ(prj().name(), QStringLiteral("other"));
    EXPECT_EQ(named.count(), 1);
    EXPECT_FALSE(prj().hasUnsavedChanges());
    EXPECT_EQ(readJson(other).value("name").toString(), QStringLiteral("other"));
    EXPECT_EQ(readJson(other).value("rdCurves").toArray().size(), 3);
    prj().setFileName(QString());
    EXPECT_EQ(prj().saveToFile(), ZE_NOX_GUI_INVALID_ARGUMENT);
}

TEST_F(Project, BrokenOrNewerProjectFilesLeaveTheCurrentProjectUntouched)
{
    QString const clip = TestMediaPath(QStringLiteral("ff_avc8.h264"));
    struct Case
    {
        char const* what;
        QByteArray bytes;
        ZeNoxGuiError expected;
    };
    std::vector<Case> const cases = {
        {"not JSON", "{ this is not", ZE_NOX_GUI_FAILED_TO_PARSE_FILE},
        {"empty", "", ZE_NOX_GUI_FAILED_TO_PARSE_FILE},
        {"top-level array", "[1, 2]", ZE_NOX_GUI_INVALID_PROJECT_FILE},
        {"empty object", "{}", ZE_NOX_GUI_INVALID_PROJECT_FILE},
        {"newer version", R"({"projectFileVersion": 2, "name": "n", "sourceFiles": [], "rdCurves": [], "x": 1})",
         ZE_NOX_GUI_INVALID_PROJECT_FILE},
        {"version as text", R"({"projectFileVersion": "1", "sourceFiles": []})", ZE_NOX_GUI_INVALID_PROJECT_FILE},
        {"fractional version", R"({"projectFileVersion": 1.5, "sourceFiles": []})", ZE_NOX_GUI_INVALID_PROJECT_FILE},
        {"version 0", R"({"projectFileVersion": 0, "sourceFiles": []})", ZE_NOX_GUI_INVALID_PROJECT_FILE},
        {"sourceFiles not an array", R"({"projectFileVersion": 1, "sourceFiles": 5})", ZE_NOX_GUI_INVALID_PROJECT_FILE},
        {"source entry not an object", R"({"projectFileVersion": 1, "sourceFiles": ["x"]})",
         ZE_NOX_GUI_INVALID_PROJECT_FILE},
        {"curve files not an array", R"({"projectFileVersion": 1, "rdCurves": [{"name": "c", "sourceFiles": {}}]})",
         ZE_NOX_GUI_INVALID_PROJECT_FILE},
    };
    ASSERT_EQ(prj().addSourceFile(clip), ZE_NOX_GUI_OK);
    prj().setName(QStringLiteral("current"));
    QString const current = m_dir.filePath(QStringLiteral("current.zenxp"));
    prj().setFileName(current);
    QSignalSpy closed(&prj(), &ZeNoxGuiProject::closed);
    QSignalSpy changed(&prj(), &ZeNoxGuiProject::projectChanged);
    QString const path = m_dir.filePath(QStringLiteral("bad.zenxp"));
    for (Case const& c : cases) {
        writeFile(path, c.bytes);
        EXPECT_EQ(prj().loadFromFile(path), c.expected) << c.what;
        EXPECT_EQ(prj().sourceFiles().size(), 1) << c.what;
        EXPECT_EQ(prj().name(), QStringLiteral("current")) << c.what;
        EXPECT_EQ(prj().fileName(), current) << c.what;
        EXPECT_TRUE(prj().hasUnsavedChanges()) << c.what;
    }
    EXPECT_EQ(prj().loadFromFile(m_dir.filePath(QStringLiteral("none.zenxp"))), ZE_NOX_GUI_FAILED_TO_OPEN_FILE);
    EXPECT_EQ(prj().sourceFiles().size(), 1);
    EXPECT_EQ(closed.count(), 0);
    EXPECT_EQ(changed.count(), 0);
    // The newer file itself is left as it was.
    writeFile(path, cases[4].bytes);
    EXPECT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_INVALID_PROJECT_FILE);
    QFile newer(path);
    ASSERT_TRUE(newer.open(QIODevice::ReadOnly));
    EXPECT_EQ(newer.readAll(), cases[4].bytes);

    // Hostile numbers: out-of-range values and implausible stored parameters with the right
    // checksum are not trusted; the file is validated instead and the range clamped.
    ZeNoxSourceFile probe;
    QString const md5 = QString::fromLatin1(probe.calcFileChecksum(clip).toHex());
    QString const hostile = QStringLiteral(R"({"projectFileVersion": 1, "sourceFiles": [{"filename": "%1",
        "checksum": "%2", "params": {"type": 99, "width": 1e300, "height": -4, "pixFmt": "nonsense",
        "frames": 2147483647}, "firstFrameNumber": 1e20, "lastFrameNumber": 4000000000}],
        "rdCurveAnchor": "nobody"})")
                                .arg(clip, md5);
    writeFile(path, hostile.toUtf8());
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 1);
    ZeNoxSourceFile* f = prj().sourceFiles().first();
    EXPECT_EQ(f->openStatus(), ZeNoxSourceFile::Opened);
    EXPECT_EQ(f->originalFrameCount(), 30);
    EXPECT_EQ(f->width(), 200);
    EXPECT_TRUE(f->isFirstFrameNumberDefault());
    EXPECT_TRUE(f->isLastFrameNumberDefault());
    EXPECT_EQ(prj().rdCurveAnchor(), nullptr);
}

TEST_F(Project, StoredParametersThatDoNotFitTheFileAreDropped)
{
    ZeNoxSourceFile probe;
    auto md5 = [&probe](QString const& file) { return QString::fromLatin1(probe.calcFileChecksum(file).toHex()); };
    QString const path = m_dir.filePath(QStringLiteral("fit.zenxp"));
    auto load = [&](QJsonObject const& entry) {
        writeFile(path,
                  QJsonDocument(QJsonObject{{"projectFileVersion", 1}, {"sourceFiles", QJsonArray{entry}}}).toJson());
        return prj().loadFromFile(path);
    };

    // An H.264 file stored as AV1 with its right checksum: the record fails to open, so the file
    // is opened as a new file would be.
    QString const avc = copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("avc.h264"));
    QJsonObject const asAv1{{"filename", avc},
                            {"isLeftFile", true},
                            {"checksum", md5(avc)},
                            {"lastFrameNumber", 9},
                            {"params", QJsonObject{{"type", int(ze::nox::core::ZE_STREAM_TYPE_AV1)},
                                                   {"width", 200},
                                                   {"height", 120},
                                                   {"pixFmt", "yuv420p"},
                                                   {"frames", 30}}}};
    ASSERT_EQ(load(asAv1), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 1);
    ZeNoxSourceFile* f = prj().sourceFiles().first();
    EXPECT_EQ(f->openStatus(), ZeNoxSourceFile::Opened);
    EXPECT_EQ(f->lastResult(), ZE_NOX_GUI_OK);
    EXPECT_EQ(f->streamType(), ze::nox::core::ZE_STREAM_TYPE_AVC);
    EXPECT_EQ(f->originalFrameCount(), 30);
    EXPECT_TRUE(f->isLeftFile());
    EXPECT_EQ(f->lastFrameNumber(), 9);

    // A raw record whose one picture is larger than the whole file is not trusted: the file goes
    // to the raw-parameters question like a new raw file (cancelled here), and nothing of that
    // size is allocated.
    QString const tiny = m_dir.filePath(QStringLiteral("tiny.yuv"));
    writeFile(tiny, "x");
    bool asked = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            asked = true;
            dlg->reject();
        }
    });
    poll.start();
    QJsonObject const huge{{"filename", tiny},
                           {"checksum", md5(tiny)},
                           {"params", QJsonObject{{"type", int(ze::nox::core::ZE_STREAM_TYPE_YUV)},
                                                  {"width", 16000},
                                                  {"height", 16000},
                                                  {"pixFmt", "yuv444p10le"},
                                                  {"frames", 1}}}};
    ASSERT_EQ(load(huge), ZE_NOX_GUI_OK);
    poll.stop();
    EXPECT_TRUE(asked);
    ASSERT_EQ(prj().sourceFiles().size(), 1);
    EXPECT_EQ(prj().sourceFiles().first()->decoder(), nullptr);
}

TEST_F(Project, LoadingAsksTheCallerForAStreamType)
{
    QString const bin = copy(QStringLiteral("ff_hevc8.h265"), QStringLiteral("clip.bin"));
    QString const path = m_dir.filePath(QStringLiteral("bin.zenxp"));
    writeFile(path, QJsonDocument(QJsonObject{{"projectFileVersion", 1},
                                              {"sourceFiles", QJsonArray{QJsonObject{{"filename", bin}}}}})
                        .toJson());
    QStringList asked;
    auto answer = [&asked](ze::nox::core::ZeStreamType chosen) {
        return [&asked, chosen](QString const& name, ze::nox::core::ZeStreamType& type) {
            asked << name;
            type = chosen;
            return chosen == ze::nox::core::ZE_STREAM_TYPE_UNKNOWN ? ZE_NOX_GUI_CANCELED : ZE_NOX_GUI_OK;
        };
    };
    ASSERT_EQ(prj().loadFromFile(path, answer(ze::nox::core::ZE_STREAM_TYPE_HEVC)), ZE_NOX_GUI_OK);
    EXPECT_EQ(asked, QStringList{bin});
    ASSERT_EQ(prj().sourceFiles().size(), 1);
    EXPECT_EQ(prj().sourceFiles().first()->streamType(), ze::nox::core::ZE_STREAM_TYPE_HEVC);
    // Cancelled: the entry stays in the project, not opened, and is saved back as it was.
    ASSERT_EQ(prj().loadFromFile(path, answer(ze::nox::core::ZE_STREAM_TYPE_UNKNOWN)), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 1);
    EXPECT_EQ(prj().sourceFiles().first()->openStatus(), ZeNoxSourceFile::NotOpened);
    EXPECT_EQ(prj().sourceFiles().first()->shortFilename(), QStringLiteral("clip.bin"));
    // Without a question the entry fails to open with 6.
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    EXPECT_EQ(prj().sourceFiles().first()->lastResult(), ZE_NOX_GUI_STREAM_TYPE_NOT_DETECTED);
}

TEST_F(Project, RawFileAsksForItsParametersAndReusesThemFromTheProjectFile)
{
    QString const raw = copy(QStringLiteral("raw_420p_176x144.yuv"), QStringLiteral("clip_176x144.yuv"));
    std::vector<std::unique_ptr<QTimer>> polls; // none may outlive the test
    auto answerRaw = [&polls](bool accept, bool& shown) {
        polls.push_back(std::make_unique<QTimer>());
        QTimer* poll = polls.back().get();
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [poll, accept, &shown] {
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            poll->stop();
            shown = true;
            accept ? dlg->accept() : dlg->reject();
        });
        poll->start();
    };
    bool shown = false;
    answerRaw(false, shown);
    EXPECT_EQ(prj().addSourceFile(raw), ZE_NOX_GUI_CANCELED);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(prj().sourceFiles().isEmpty());

    shown = false;
    answerRaw(true, shown);
    ASSERT_EQ(prj().addSourceFile(raw), ZE_NOX_GUI_OK);
    EXPECT_TRUE(shown);
    ZeNoxSourceFile* f = prj().sourceFiles().value(0);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->openStatus(), ZeNoxSourceFile::Opened);
    int const width = f->width();
    int const frames = f->originalFrameCount();

    QString const path = m_dir.filePath(QStringLiteral("raw.zenxp"));
    prj().setFileName(path);
    prj().saveToFile();
    // The unchanged file opens from the stored record: no dialog.
    shown = false;
    answerRaw(false, shown);
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    QApplication::processEvents();
    EXPECT_FALSE(shown);
    ASSERT_EQ(prj().sourceFiles().size(), 1);
    EXPECT_EQ(prj().sourceFiles().at(0)->width(), width);
    EXPECT_EQ(prj().sourceFiles().at(0)->originalFrameCount(), frames);
}

// A stored record is used only for the stream type the file itself shows: an H.264 file with its
// right checksum recorded as another type opens as H.264 with all its frames.
TEST_F(Project, StoredStreamTypeMustMatchTheFilesOwn)
{
    ZeNoxSourceFile probe;
    QString const avc = copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("avc.h264"));
    QString const md5 = QString::fromLatin1(probe.calcFileChecksum(avc).toHex());
    QString const path = m_dir.filePath(QStringLiteral("types.zenxp"));
    struct Case
    {
        char const* name;
        ze::nox::core::ZeStreamType type;
        int width, height;
        char const* pixFmt;
        int frames;
    };
    Case const cases[] = {
        {"HEVC", ze::nox::core::ZE_STREAM_TYPE_HEVC, 200, 120, "yuv420p", 30},
        {"VVC", ze::nox::core::ZE_STREAM_TYPE_VVC, 200, 120, "yuv420p", 30},
        {"MJPEG", ze::nox::core::ZE_STREAM_TYPE_MJPEG, 200, 120, "yuvj420p", 30},
        {"raw YUV 16x16", ze::nox::core::ZE_STREAM_TYPE_YUV, 16, 16, "yuv420p", 26},
        {"AVC with too few frames", ze::nox::core::ZE_STREAM_TYPE_AVC, 200, 120, "yuv420p", 12},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject const entry{{"filename", avc},
                                {"isRefFile", true},
                                {"checksum", md5},
                                {"params", QJsonObject{{"type", int(c.type)},
                                                       {"width", c.width},
                                                       {"height", c.height},
                                                       {"pixFmt", c.pixFmt},
                                                       {"frames", c.frames}}}};
        writeFile(path,
                  QJsonDocument(QJsonObject{{"projectFileVersion", 1}, {"sourceFiles", QJsonArray{entry}}}).toJson());
        ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
        ASSERT_EQ(prj().sourceFiles().size(), 1);
        ZeNoxSourceFile const* f = prj().sourceFiles().first();
        EXPECT_EQ(f->openStatus(), ZeNoxSourceFile::Opened);
        EXPECT_EQ(f->streamType(), ze::nox::core::ZE_STREAM_TYPE_AVC);
        EXPECT_EQ(f->originalFrameCount(), 30);
        EXPECT_EQ(f->width(), 200);
        EXPECT_TRUE(f->isRefFile());
        ze::nox::core::Frame frame;
        ASSERT_NE(f->decoder(), nullptr);
        EXPECT_EQ(f->decoder()->getFirstFrame(frame), ze::nox::core::ZE_NOX_CORE_OK);
    }
}

// The same file named directly, through "./" and through a symbolic link is one source file,
// as when it is added by hand; the repeats are dropped with a warning and not saved again.
TEST_F(Project, OneFileListedUnderSeveralNamesLoadsOnce)
{
    QString const clip = copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("a.h264"));
    QString const link = m_dir.filePath(QStringLiteral("link.h264"));
    ASSERT_TRUE(QFile::link(clip, link));
    QString const dotted = m_dir.path() + QStringLiteral("/./a.h264");
    QJsonObject const root{
        {"projectFileVersion", 1},
        {"sourceFiles",
         QJsonArray{QJsonObject{{"filename", clip}, {"isLeftFile", true}}, QJsonObject{{"filename", clip}},
                    QJsonObject{{"filename", dotted}}, QJsonObject{{"filename", link}, {"isRightFile", true}}}},
        {"rdCurves", QJsonArray{QJsonObject{{"name", "c"},
                                            {"sourceFiles", QJsonArray{QJsonObject{{"filename", dotted}},
                                                                       QJsonObject{{"filename", link}}}}}}}};
    QString const path = m_dir.filePath(QStringLiteral("dup.zenxp"));
    writeFile(path, QJsonDocument(root).toJson());
    MessageCapture capture;
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 1);
    EXPECT_EQ(capture.count(QtWarningMsg, QStringLiteral("the repeat is dropped")), 3) << capture.dump();
    ZeNoxSourceFile const* f = prj().sourceFiles().first();
    EXPECT_TRUE(f->isLeftFile());
    EXPECT_FALSE(f->isRightFile()); // the first entry's roles
    ASSERT_EQ(prj().rdCurves().size(), 1);
    EXPECT_EQ(prj().rdCurves().first()->srcFiles(), (QList<ZeNoxSourceFile const*>{f}));
    EXPECT_EQ(prj().addSourceFile(link), ZE_NOX_GUI_FILE_ALREADY_ADDED);

    prj().saveToFile();
    QJsonArray const files = readJson(path).value("sourceFiles").toArray();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files.at(0).toObject().value("filename").toString(), QFileInfo(clip).canonicalFilePath());
}

// Names written relative to the project file (by hand) are files beside it, whatever the
// working folder; they are saved back as the files' paths.
TEST_F(Project, RelativeNamesResolveAgainstTheProjectFilesFolder)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("clips")));
    QString const clip = copy(QStringLiteral("ff_avc8.h264"), QStringLiteral("clips/a.h264"));
    ASSERT_NE(QDir::currentPath(), m_dir.path());
    QJsonObject const root{
        {"projectFileVersion", 1},
        {"sourceFiles", QJsonArray{QJsonObject{{"filename", "clips/a.h264"}, {"isRefFile", true}},
                                   QJsonObject{{"filename", "clips/../missing.h264"}}}},
        {"rdCurves", QJsonArray{QJsonObject{
                         {"name", "c"}, {"sourceFiles", QJsonArray{QJsonObject{{"filename", "./clips/a.h264"}}}}}}}};
    QString const path = m_dir.filePath(QStringLiteral("rel.zenxp"));
    writeFile(path, QJsonDocument(root).toJson());
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    ASSERT_EQ(prj().sourceFiles().size(), 2);
    ZeNoxSourceFile const* f = prj().sourceFiles().first();
    EXPECT_EQ(f->openStatus(), ZeNoxSourceFile::Opened);
    EXPECT_EQ(f->fullFilename(), QFileInfo(clip).canonicalFilePath());
    ASSERT_EQ(prj().rdCurves().size(), 1);
    EXPECT_EQ(prj().rdCurves().first()->srcFiles(), (QList<ZeNoxSourceFile const*>{f}));

    prj().saveToFile();
    QJsonArray const files = readJson(path).value("sourceFiles").toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files.at(0).toObject().value("filename").toString(), QFileInfo(clip).canonicalFilePath());
    EXPECT_EQ(files.at(1).toObject().value("filename").toString(), m_dir.filePath(QStringLiteral("missing.h264")));
}

// A file that goes missing after the project loaded it is saved with the entry it was read
// from: checksum, parameters (a raw file's geometry and chroma order), roles and range, so that
// it opens from them when it is back.
TEST_F(Project, AFileMissingAfterLoadingKeepsItsEntry)
{
    ZeNoxSourceFile probe;
    QString const raw = copy(QStringLiteral("raw_420p_176x144.yuv"), QStringLiteral("clip.yuv"));
    QByteArray const bytes = ReadAll(raw);
    int const frames = (bytes.size() + 176 * 144 * 3 / 2 - 1) / (176 * 144 * 3 / 2);
    ASSERT_GT(frames, 3);
    QJsonObject const entry{{"filename", QFileInfo(raw).canonicalFilePath()},
                            {"isLeftFile", false},
                            {"isRightFile", false},
                            {"isRefFile", true},
                            {"checksum", QString::fromLatin1(probe.calcFileChecksum(raw).toHex())},
                            {"params", QJsonObject{{"type", 1},
                                                   {"width", 176},
                                                   {"height", 144},
                                                   {"pixFmt", "yuv420p"},
                                                   {"frames", frames},
                                                   {"chromaOrder", 1}}},
                            {"firstFrameNumber", 2}};
    QString const path = m_dir.filePath(QStringLiteral("kept.zenxp"));
    writeFile(path, QJsonDocument(QJsonObject{{"projectFileVersion", 1}, {"sourceFiles", QJsonArray{entry}}}).toJson());
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK); // from the record: no dialog
    ASSERT_EQ(prj().sourceFiles().size(), 1);
    ASSERT_EQ(prj().sourceFiles().first()->openStatus(), ZeNoxSourceFile::Opened);
    ASSERT_TRUE(QFile::remove(raw));
    prj().saveToFile();
    QJsonArray const files = readJson(path).value("sourceFiles").toArray();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files.at(0).toObject(), entry);

    // Back unchanged: it opens from the kept record, without asking.
    ASSERT_TRUE(WriteAll(raw, bytes));
    bool asked = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&asked] {
        if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            asked = true;
            dlg->reject();
        }
    });
    poll.start();
    ASSERT_EQ(prj().loadFromFile(path), ZE_NOX_GUI_OK);
    poll.stop();
    EXPECT_FALSE(asked);
    ZeNoxSourceFile const* f = prj().sourceFiles().first();
    EXPECT_EQ(f->openStatus(), ZeNoxSourceFile::Opened);
    EXPECT_EQ(f->streamParams().chromaOrder, 1);
    EXPECT_EQ(f->firstFrameNumber(), 2);
}
