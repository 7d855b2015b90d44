#pragma once

#include "app/ze_nox_gui_errors.h"
#include "metrics_panel/ze_nox_rd_curve.h"
#include "project/ze_nox_source_file.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

namespace ze::nox::gui {

// The one project of the application: its source files and RD curves (owned), the anchor curve
// of the BD rates, the name, the project file path and the unsaved-changes flag. Every change is
// announced by signals, on the GUI thread, through direct connections.
class ZeNoxGuiProject : public QObject
{
    Q_OBJECT
public:
    explicit ZeNoxGuiProject(QObject* parent = nullptr);
    ~ZeNoxGuiProject() override;

    // 19 already in the project, 8 no memory, 14 / 26 cancelled or refused (nothing added); any
    // other open result keeps the file (status "Failed to Open") and gives 0. `type` is the
    // stream type the user chose for a name that tells none (ZeNoxSourceFile::open).
    ZeNoxGuiError addSourceFile(QString const& fileName,
                                ze::nox::core::ZeStreamType type = ze::nox::core::ZE_STREAM_TYPE_UNKNOWN);
    // Takes ownership; 4 for null or a file already in the list.
    ZeNoxGuiError addSourceFile(ZeNoxSourceFile* file);
    // Out of every curve, out of the list, srcFileAboutToRemove, deleted. Nothing for a file not
    // in the project.
    void removeSourceFile(ZeNoxSourceFile* file);
    void removeSourceFile(QString const& fileName);

    // 21 empty name, 20 name exists, 8 no memory.
    ZeNoxGuiError addRdCurve(QString const& name);
    // Takes ownership; 4 for null or a curve already in the list.
    ZeNoxGuiError addRdCurve(ZeNoxRdCurve* curve);
    // Curves not (or no longer) in the project are skipped.
    void removeRdCurves(QList<ZeNoxRdCurve*> const& curves);
    // 20 newName exists, 25 no curve oldName.
    ZeNoxGuiError renameRdCurve(QString const& oldName, QString const& newName);
    // A curve of the project with at least one file, or null.
    void setRdCurveAnchor(ZeNoxRdCurve const* curve);

    void setName(QString const& name);
    void setFileName(QString const& fileName) { m_fileName = fileName; }
    void reset();

    // Writes the project file atomically: 0, 4 without a file name, 11 when it cannot be written
    // (`reason` then gets the system's text). On failure the previous file stays intact and the
    // unsaved flag and the signals stay as they were.
    ZeNoxGuiError saveToFile(QString* reason = nullptr);
    // Writes to fileName under the project name `name`; only after a successful write do they
    // become the project's file name and name. Results as saveToFile.
    ZeNoxGuiError saveToFileAs(QString const& fileName, QString const& name, QString* reason = nullptr);
    // 0, 11 unreadable, 12 not JSON, 18 not a project document or of a newer format version.
    // Every failure leaves the current project untouched.
    // `ask` chooses the stream type of an entry whose name tells none and that has no usable
    // stored parameters; without it such an entry fails to open.
    ZeNoxGuiError loadFromFile(QString const& fileName,
                               ZeNoxSourceFile::StreamTypeQuestion const& ask = ZeNoxSourceFile::StreamTypeQuestion());

    // Opens again each of the project's files among `files` that changed on disk since it was
    // opened (ZeNoxSourceFile::reopen); the files that were opened again, whatever the result.
    QList<ZeNoxSourceFile*> reopenChangedFiles(QList<ZeNoxSourceFile const*> const& files);

    ZeNoxSourceFile* srcFileByName(QString const& fileName) const;
    ZeNoxRdCurve* rdCurveByName(QString const& name) const;
    // Files (and their decoders) whose status is in the set; all files for an empty set.
    QList<ZeNoxSourceFile*> sourceFiles(QSet<ZeNoxSourceFile::OpenStatus> const& statuses = {}) const;
    QList<ze::nox::core::ZeNoxDecoder*> getAllDecoders(QSet<ZeNoxSourceFile::OpenStatus> const& statuses) const;
    QList<ZeNoxRdCurve*> rdCurves() const { return m_rdCurves; }
    ZeNoxSourceFile* leftSrcFile() const;
    ZeNoxSourceFile* rightSrcFile() const;
    ZeNoxSourceFile* refSrcFile() const;
    ze::nox::core::ZeNoxDecoder* leftDecoder() const;
    ze::nox::core::ZeNoxDecoder* rightDecoder() const;
    ze::nox::core::ZeNoxDecoder* referenceDecoder() const;
    bool isEmpty() const;
    static QString fileExt() { return m_fileExt; }
    QString name() const { return m_name; }
    QString fileName() const { return m_fileName; }
    bool hasUnsavedChanges() const { return m_hasUnsavedChanges; }
    ZeNoxRdCurve const* rdCurveAnchor() const { return m_rdCurveAnchor; }

public slots:
    void close();

signals:
    void nameChanged();
    void projectChanged(bool hasUnsavedChanges);
    void closed();
    void srcFileAdded(ZeNoxSourceFile* srcFile);
    void srcFileAboutToRemove(ZeNoxSourceFile* srcFile);
    void srcFileChanged(ZeNoxSourceFile const* srcFile);
    void rdCurveAdded(ZeNoxRdCurve* rdCurve);
    void rdCurveAboutToRemove(ZeNoxRdCurve* rdCurve);
    void rdCurveChanged(ZeNoxRdCurve const* rdCurve);

private:
    void markChanged();
    ZeNoxGuiError writeProjectFile(QString const& fileName, QString const& name, QString* reason) const;

    bool m_hasUnsavedChanges = false;
    QString m_fileName;
    QString m_name;
    QList<ZeNoxSourceFile*> m_srcFiles;
    QList<ZeNoxRdCurve*> m_rdCurves;
    ZeNoxRdCurve* m_rdCurveAnchor = nullptr;

    static const QString m_defaultName;
    static const QString m_fileExt;
    static int const m_curProjectFileVersion;
};

} // namespace ze::nox::gui
