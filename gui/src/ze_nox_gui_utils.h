#pragma once

#include <QString>
#include <QtGlobal>

namespace ze::nox::gui::utils {

// A count of milliseconds after midnight as "hh:mm:ss.zzz"; empty outside one day.
QString msToString(qint64 ms);

// MD5 of the whole file as 32 lower-case hexadecimal digits; empty when the file cannot be read.
QString GetFileMd5(QString const& fileName);

} // namespace ze::nox::gui::utils
