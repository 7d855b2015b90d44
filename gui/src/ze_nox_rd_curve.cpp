#include "ze_nox_rd_curve.h"

#include "ze_nox_source_file.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonValue>

namespace ze::nox::gui {

ZeNoxRdCurve::ZeNoxRdCurve(QObject* parent)
    : QObject(parent)
{
}

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
        entry[QStringLiteral("filename")] = file->fullFilename();
        files.append(entry);
    }
    json[QStringLiteral("sourceFiles")] = files;
}

ZeNoxGuiError ZeNoxRdCurve::read(QJsonObject const& json, QList<ZeNoxSourceFile const*> const& available)
{
    setName(json.value(QStringLiteral("name")).toString());
    QJsonArray const files = json.value(QStringLiteral("sourceFiles")).toArray();
    for (QJsonValue const& v : files) {
        QString const name = v.toObject().value(QStringLiteral("filename")).toString();
        QString const canonical = QFileInfo(name).canonicalFilePath();
        if (canonical.isEmpty()) {
            qWarning().noquote() << ErrToString(ZE_NOX_GUI_INVALID_PROJECT_FILE) + QStringLiteral(". Filename is empty");
            return ZE_NOX_GUI_INVALID_PROJECT_FILE;
        }
        ZeNoxSourceFile const* found = nullptr;
        for (ZeNoxSourceFile const* file : available) {
            if (file && QFileInfo(file->fullFilename()).canonicalFilePath() == canonical) {
                found = file;
                break;
            }
        }
        if (!found) {
            qWarning().noquote() << ErrToString(ZE_NOX_GUI_INVALID_PROJECT_FILE)
                                        + QStringLiteral(". Unable to find source file")
                                 << QStringLiteral("\"%1\"").arg(name) << "in the source file list";
            return ZE_NOX_GUI_INVALID_PROJECT_FILE;
        }
        addSrcFile(found);
    }
    return ZE_NOX_GUI_OK;
}

} // namespace ze::nox::gui
