#include "common/ze_log.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace ze::nox::core;

namespace {

QStringList ReadLines(QString const& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

const QString kStamp = QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}   ");

} // namespace

TEST(Log, LineFormatAndLevels)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("sub/dir/x.log"));
    {
        ZeLog log(false, dir.path() + QStringLiteral("/sub/dir"), QStringLiteral("x.log"));
        log.log(ZE_LOG_MSG_INFO, QStringLiteral("plain"), QString());
        log.log(ZE_LOG_MSG_WARNING, QStringLiteral("with context"), QStringLiteral("ctx"));
        log.log(static_cast<ZeLogMsgType>(9), QStringLiteral("no tag"), QString());
        // Placeholders in text or context are written as they are.
        log.log(ZE_LOG_MSG_ERROR, QStringLiteral("file %1 %2.yuv"), QStringLiteral("%3"));
        log.log(ZE_LOG_MSG_DEBUG, QStringLiteral("d"), QString());
        log.log(ZE_LOG_MSG_UNKNOWN, QStringLiteral("u"), QString());
    }
    const QStringList lines = ReadLines(path);
    const QStringList expected = {
        QStringLiteral("[INFO]   plain"), QStringLiteral("[WARN]   with context   [ctx]"),
        QStringLiteral("   no tag"),      QStringLiteral("[ERR ]   file %1 %2.yuv   [%3]"),
        QStringLiteral("[DBG ]   d"),     QStringLiteral("[UNK ]   u"),
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpression re(kStamp + QRegularExpression::escape(expected[i]) + QLatin1Char('$'));
        EXPECT_TRUE(re.match(lines[i]).hasMatch()) << lines[i].toStdString();
    }
}

TEST(Log, AppendsOrTruncates)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("a.log"));
    {
        ZeLog log(false, dir.path(), QStringLiteral("a.log"));
        log.log(ZE_LOG_MSG_INFO, QStringLiteral("first"), QString());
    }
    {
        ZeLog log(false, dir.path(), QStringLiteral("a.log"));
        log.log(ZE_LOG_MSG_INFO, QStringLiteral("second"), QString());
    }
    EXPECT_EQ(ReadLines(path).size(), 2);
    {
        ZeLog log(true, dir.path(), QStringLiteral("a.log"));
        log.log(ZE_LOG_MSG_INFO, QStringLiteral("third"), QString());
    }
    const QStringList lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("third")));
}

TEST(Log, ToolkitMessagesAreRouted)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("q.log"));
    {
        ZeLog log(false, dir.path(), QStringLiteral("q.log"));
        qWarning("warn %d", 1);
        qCritical() << "crit";
        qInfo() << "info";
        qDebug() << "dbg";
    }
    qWarning("after the log is gone"); // dropped, no crash
    const QStringList lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("[WARN]   warn 1")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("[ERR ]   crit")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("[INFO]   info")));
    EXPECT_TRUE(lines[3].contains(QStringLiteral("[DBG ]   dbg")));
}

TEST(Log, UnwritableFolderStillLogsToStdout)
{
    // A folder below a plain file cannot be created; logging must still work.
    QTemporaryDir dir;
    QFile blocker(QDir(dir.path()).filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString sub = blocker.fileName() + QStringLiteral("/logs");
    {
        ZeLog log(false, sub, QStringLiteral("x.log"));
        log.log(ZE_LOG_MSG_INFO, QStringLiteral("to stdout only"), QString());
    }
    EXPECT_FALSE(QFile::exists(sub + QStringLiteral("/x.log")));
}

TEST(Log, ConcurrentWritersGiveWholeLines)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("c.log"));
    constexpr int kThreads = 6;
    constexpr int kLines = 200;
    {
        ZeLog log(false, dir.path(), QStringLiteral("c.log"));
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back(QThread::create([&log, t] {
                const QString text = QStringLiteral("thread %1 ").arg(t) + QString(100, QLatin1Char('x'));
                for (int i = 0; i < kLines; ++i)
                    log.log(ZE_LOG_MSG_INFO, text, QString::number(i));
            }));
            threads.back()->start();
        }
        for (auto& th : threads)
            th->wait();
    }
    const QStringList lines = ReadLines(path);
    ASSERT_EQ(lines.size(), kThreads * kLines);
    const QRegularExpression re(kStamp + QStringLiteral("\\[INFO\\]   thread \\d x{100}   \\[\\d+\\]$"));
    for (QString const& line : lines)
        ASSERT_TRUE(re.match(line).hasMatch()) << line.toStdString();
}
