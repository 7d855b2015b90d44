#include "ze_nox_gui_utils.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTime>

namespace ze::nox::gui::utils {

QString msToString(qint64 ms)
{
    // Checked on the full value: a count past 32 bits must not wrap into the day.
    constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;
    if (ms < 0 || ms >= kMsPerDay)
        return QString();
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)).toString(QStringLiteral("hh:mm:ss.zzz"));
}

QString GetFileMd5(QString const& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // Hashed in chunks: a video file may be larger than fits in memory, and a read error must
    // not pass for the digest of a shorter file.
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace ze::nox::gui::utils
