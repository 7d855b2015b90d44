#include "common/ze_log.h"

#include <QDateTime>
#include <QDir>
#include <QMutexLocker>

#include <cstdio>

namespace ze::nox::core {

QHash<ZeLogMsgType, QString> const ZeLog::m_status = {
    {ZE_LOG_MSG_UNKNOWN, QStringLiteral("[UNK ]")}, {ZE_LOG_MSG_DEBUG, QStringLiteral("[DBG ]")},
    {ZE_LOG_MSG_ERROR, QStringLiteral("[ERR ]")},   {ZE_LOG_MSG_WARNING, QStringLiteral("[WARN]")},
    {ZE_LOG_MSG_INFO, QStringLiteral("[INFO]")},
};

namespace {

ZeLog* sLog = nullptr;

void sQtLogHandler(QtMsgType type, QMessageLogContext const& /*context*/, QString const& message)
{
    static QHash<int, ZeLogMsgType> const typesMap = {
        {QtDebugMsg, ZE_LOG_MSG_DEBUG},    {QtInfoMsg, ZE_LOG_MSG_INFO},   {QtWarningMsg, ZE_LOG_MSG_WARNING},
        {QtCriticalMsg, ZE_LOG_MSG_ERROR}, {QtFatalMsg, ZE_LOG_MSG_ERROR},
    };
    if (!sLog)
        return;
    sLog->log(typesMap.value(type, ZE_LOG_MSG_UNKNOWN), message, QString());
}

} // namespace

ZeLog::ZeLog(bool truncate, QString const& dir, QString const& fileName) : m_stdoutStream(stdout, QIODevice::WriteOnly)
{
    QDir d(dir);
    if (!d.exists())
        d.mkpath(QStringLiteral("."));

    QMutexLocker lock(&m_mutex);
    setFileName(QDir(dir).filePath(fileName));
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | QIODevice::Text | (truncate ? QIODevice::Truncate : QIODevice::Append);
    if (open(mode)) {
        m_fileStream.setDevice(this);
        m_fileStream.setCodec("UTF-8");
    }
    sLog = this;
    qInstallMessageHandler(sQtLogHandler);
}

ZeLog::~ZeLog()
{
    {
        QMutexLocker lock(&m_mutex);
        m_fileStream.setDevice(nullptr);
        close();
    }
    if (sLog == this)
        sLog = nullptr;
}

void ZeLog::log(ZeLogMsgType type, QString const& text, QString const& context)
{
    QMutexLocker lock(&m_mutex);
    // Concatenated, not substituted: a text holding "%1" must come out as it is.
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    line += QLatin1String("   ");
    line += m_status.value(type);
    line += QLatin1String("   ");
    line += text;
    if (!context.isEmpty()) {
        line += QLatin1String("   [");
        line += context;
        line += QLatin1Char(']');
    }
    line += QLatin1Char('\n');

    if (m_fileStream.device()) {
        m_fileStream << line;
        m_fileStream.flush();
    }
    m_stdoutStream << line;
    m_stdoutStream.flush();
}

} // namespace ze::nox::core
