#pragma once

#include "app/ze_nox_gui_errors.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

namespace ze::nox::gui {

class ZeNoxSourceFile;

// A named rate-distortion curve: an ordered list of the project's source files, each giving one
// point. The files are not owned (the project owns them); no file occurs twice.
class ZeNoxRdCurve : public QObject
{
    Q_OBJECT
public:
    explicit ZeNoxRdCurve(QObject* parent = nullptr);
    ~ZeNoxRdCurve() override;

    QString name() const { return m_name; }
    QList<ZeNoxSourceFile const*> srcFiles() const { return m_srcFiles; }

    // An empty name is ignored; any other is stored and changed() emitted, also when it is the same.
    void setName(QString const& name);
    // Appends a file not yet in the curve (null and present files do nothing).
    void addSrcFile(ZeNoxSourceFile const* file);
    // Removes every listed file; changed() once when anything was removed.
    void removeSrcFiles(QList<ZeNoxSourceFile const*> const& files);
    bool containsSrcFile(ZeNoxSourceFile const* file) const;

    // This curve's entry of the project file, files named by their projectFilename(). read()
    // finds its files among `available` by that name; an entry naming none of them is skipped
    // with a warning in the log.
    void write(QJsonObject& json) const;
    ZeNoxGuiError read(QJsonObject const& json, QList<ZeNoxSourceFile const*> const& available);

signals:
    void changed();

private:
    QString m_name;
    QList<ZeNoxSourceFile const*> m_srcFiles;
};

} // namespace ze::nox::gui
