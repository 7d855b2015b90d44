#pragma once

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QTextStream>

namespace ze::nox::core {

// Level of a log line.
enum ZeLogMsgType : int {
    ZE_LOG_MSG_UNKNOWN = 0,
    ZE_LOG_MSG_DEBUG = 1,
    ZE_LOG_MSG_ERROR = 2,
    ZE_LOG_MSG_WARNING = 3,
    ZE_LOG_MSG_INFO = 4,
};

// The one log of the process: each line goes whole to the log file and to standard output.
// Constructing it installs it as the toolkit's message handler.
class ZeLog : public QFile
{
    Q_OBJECT
public:
    ZeLog(bool truncate, QString const& dir, QString const& fileName);
    ~ZeLog() override;

    // Callable from any thread; never fails.
    void log(ZeLogMsgType type, QString const& text, QString const& context);

    static QHash<ZeLogMsgType, QString> const m_status;

private:
    QMutex m_mutex;
    QTextStream m_fileStream;
    QTextStream m_stdoutStream;
};

} // namespace ze::nox::core
