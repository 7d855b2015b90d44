#include "metrics_panel/ze_nox_rd_curve.h"

#include "project/ze_nox_source_file.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonValue>

namespace ze::nox::gui {

ZeNoxRdCurve::ZeNoxRdCurve(QObject* parent) : QObject(parent) {}

ZeNoxRdCurve::~ZeNoxRdCurve() = default;

void ZeNoxRdCurve::setName(QString const& name)
{
    if (name.isEmpty())
        return;
    m_name = name;
    emit changed();
}

void ZeNoxRdCurve::addSrcFile(ZeNoxSourceFile const* file)
{
    if (!file || m_srcFiles.contains(file))
        return;
    m_srcFiles.append(file);
    emit changed();
}

void ZeNoxRdCurve::removeSrcFiles(QList<ZeNoxSourceFile const*> const& files)
{
    int removed = 0;
    for (ZeNoxSourceFile const* file : files)
        removed += m_srcFiles.removeAll(file);
    if (removed > 0)
        emit changed();
}

bool ZeNoxRdCurve::containsSrcFile(ZeNoxSourceFile const* file) const
{
    return file && m_srcFiles.contains(file);
}

void ZeNoxRdCurve::write(QJsonObject& json) const
{
    json[QStringLiteral("name")] = m_name;
    QJsonArray files;
    for (ZeNoxSourceFile const* file : m_srcFiles) {
        QJsonObject entry;
        entry[QStringLiteral("filename")] = file->projectFilename();
        files.append(entry);
    }
    json[QStringLiteral("sourceFiles")] = files;
}

ZeNoxGuiError ZeNoxRdCurve::read(QJsonObject const& json, QList<ZeNoxSourceFile const*> const& available)
{
    setName(json.value(QStringLiteral("name")).toString());
    QJsonArray const files = json.value(QStringLiteral("sourceFiles")).toArray();
    // An entry that names no file of the project is skipped: one lost file must not make the
    // whole project unopenable.
    for (QJsonValue const& v : files) {
        QString const name = v.toObject().value(QStringLiteral("filename")).toString();
        if (name.isEmpty()) {
            qWarning().noquote()
                << QStringLiteral("RD Curve \"%1\": an entry without file name is skipped").arg(m_name);
            continue;
        }
        // An existing file is compared by its canonical path, a missing one by the absolute name
        // its source entry keeps.
        QString key = QFileInfo(name).canonicalFilePath();
        if (key.isEmpty())
            key = QFileInfo(name).absoluteFilePath();
        ZeNoxSourceFile const* found = nullptr;
        for (ZeNoxSourceFile const* file : available) {
            if (file && file->projectFilename() == key) {
                found = file;
                break;
            }
        }
        if (!found) {
            qWarning().noquote() << QStringLiteral("RD Curve \"%1\": file \"%2\" is not in the source file list; "
                                                   "skipped")
                                        .arg(m_name, name);
            continue;
        }
        addSrcFile(found);
    }
    return ZE_NOX_GUI_OK;
}

} // namespace ze::nox::gui
