// GUI error texts, the mapping of core results, and the two utilities.
#include "app/ze_nox_gui_errors.h"
#include "app/ze_nox_gui_utils.h"

#include "test_support.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QInputDialog>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace ze::nox::gui;
using ze::nox::core::ZeNoxCoreError;

TEST(GuiErrors, Texts)
{
    struct Case
    {
        int code;
        char const* text;
    };
    static Case const kCases[] = {
        {0, "Ok"},
        {1, "Unknown error"},
        {2, "Internal error"},
        {3, "Internal core error"},
        {4, "Invalid argument"},
        {5, "Codec not found"},
        {6, "Stream type was not detected"},
        {7, "Unknown video format"},
        {8, "Failed to construct an object"},
        {9, "Files have different resolutions"},
        {10, "Files have different pixel formats"},
        {11, "Failed to open a file on disk"},
        {12, "Failed to parse a file"},
        {13, "File doesn't exist"},
        {14, "User has canceled the operation"},
        {15, "Unsupported VVC chroma subsampling. Only 4:2:0 and 4:0:0 are supported for VVC"},
        {16, "File contains corrupted frame(s)"},
        {17, "Resolution and/or chroma format changes during the stream. This functionality is not supported"},
        {18, "Invalid project file"},
        {19, "File has been already added to the project"},
        {20, "RD Curve with the same name already exists"},
        {21, "RD Curve name cannot be empty"},
        {22, "Codec not supported"},
        {23, "Chroma format not supported"},
        {24, "Critical decoding error"},
        {25, "RD Curve with this name does not exist"},
        {26, "Unsupported file format. Container files (mp4, mkv, ...) need their video stream extracted first."},
        // Core results without a GUI meaning of their own keep the core's text.
        {27, "Operation failed"},
        {28, "End of file reached"},
        {29, "More data is required"},
        {30, "Failed to read a file"},
        {31, "Invalid parameters provided"},
        {32, "Unknown error"},
        {-1, "Unknown error"},
        {1000, "Unknown error"},
    };
    for (Case const& c : kCases)
        EXPECT_EQ(ErrToString(static_cast<ZeNoxGuiError>(c.code)), QString::fromUtf8(c.text)) << c.code;
}

TEST(GuiErrors, FromCoreErrorWarnsOnlyForUnmappedCodes)
{
    struct Case
    {
        int core;
        int gui;
        bool warns;
    };
    static Case const kCases[] = {
        {0, 0, false},   {1, 27, false},     {2, 3, false},   {3, 3, false},   {4, 5, false},   {5, 6, false},
        {6, 11, false},  {7, 12, false},     {8, 7, false},   {9, 14, false},  {10, 28, false}, {11, 29, false},
        {12, 15, false}, {13, 30, false},    {14, 16, false}, {15, 31, false}, {16, 9, false},  {17, 10, false},
        {18, 17, false}, {19, 22, false},    {20, 23, false}, {21, 8, false},  {22, 24, false}, {23, 3, true},
        {-1, 3, true},   {1 << 30, 3, true},
    };
    for (Case const& c : kCases) {
        MessageCapture capture;
        EXPECT_EQ(ErrFromCoreError(static_cast<ZeNoxCoreError>(c.core)), c.gui) << c.core;
        if (c.warns) {
            ASSERT_EQ(capture.entries().size(), 1) << c.core;
            EXPECT_EQ(capture.entries()[0].type, QtWarningMsg);
            EXPECT_EQ(capture.entries()[0].text, QStringLiteral("Unhandled core error %1").arg(c.core));
        } else {
            EXPECT_TRUE(capture.entries().isEmpty()) << c.core;
        }
    }
}

TEST(GuiUtils, MsToString)
{
    struct Case
    {
        qint64 ms;
        char const* text;
    };
    static Case const kCases[] = {
        {0, "00:00:00.000"},
        {((1 * 60 + 2) * 60 + 3) * 1000LL + 4, "01:02:03.004"},
        {86399999, "23:59:59.999"},
        {86400000, ""},
        {-1, ""},
        // Past 32 bits: must not wrap into the first second of the day.
        {(1LL << 32) + 1000, ""},
        {-(1LL << 32), ""},
    };
    for (Case const& c : kCases)
        EXPECT_EQ(utils::msToString(c.ms), QString::fromLatin1(c.text)) << c.ms;
}

TEST(GuiUtils, FileMd5)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto write = [&](QString const& name, QByteArray const& data) {
        EXPECT_TRUE(WriteAll(dir.filePath(name), data));
        return dir.filePath(name);
    };
    // Published digests of RFC 1321: empty input, "abc", and a million "a" (read in many chunks).
    QString const empty = write(QStringLiteral("empty"), QByteArray());
    EXPECT_EQ(utils::GetFileMd5(empty), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_EQ(utils::GetFileMd5(write(QStringLiteral("abc"), "abc")),
              QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    QString const million = write(QStringLiteral("million"), QByteArray(1000000, 'a'));
    EXPECT_EQ(utils::GetFileMd5(million), QStringLiteral("7707d6ae4e027c70eea2a935c2296f21"));
    EXPECT_EQ(utils::GetFileMd5(million), utils::GetFileMd5(million));

    EXPECT_EQ(utils::GetFileMd5(dir.filePath(QStringLiteral("missing"))), QString());
    EXPECT_EQ(utils::GetFileMd5(dir.path()), QString()); // a folder cannot be read as a file
}

TEST(GuiUtils, ChooseItemIsWideEnoughForItsTitleAndGivesTheChoice)
{
    QString const title = QStringLiteral("Choose codec type");
    QStringList const items = {QStringLiteral("YUV"), QStringLiteral("AVC"), QStringLiteral("HEVC")};
    struct Case
    {
        QString choice; // empty: cancel
        bool ok;
    };
    for (Case c : {Case{QStringLiteral("HEVC"), true}, Case{QString(), false}}) {
        int width = 0;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll.stop();
            width = dialog->width();
            if (c.choice.isEmpty()) {
                dialog->reject();
            } else {
                dialog->setTextValue(c.choice);
                dialog->accept();
            }
        });
        poll.start();
        bool ok = !c.ok;
        QString const chosen = utils::ChooseItem(nullptr, title, QStringLiteral("Codec type for x"), items, &ok);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(chosen, c.choice);
        EXPECT_GT(width, QFontMetrics(QApplication::font()).horizontalAdvance(title) + 100);
    }
}
