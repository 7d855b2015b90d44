#include "project/ze_nox_gui_project.h"

#include "app/ze_nox_gui_app.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <new>

namespace ze::nox::gui {

using ze::nox::core::ZeNoxDecoder;

const QString ZeNoxGuiProject::m_defaultName = QStringLiteral("New Project");
const QString ZeNoxGuiProject::m_fileExt = QStringLiteral("zenxp");
int const ZeNoxGuiProject::m_curProjectFileVersion = 1;

namespace {

// A project file is a few kilobytes per source file; anything far larger is not one of ours and
// is not read into memory.
constexpr qint64 kMaxProjectFileSize = 64LL * 1024 * 1024;

// Arrays of objects where the document has them at all; a missing key is an empty list.
bool IsArrayOfObjects(QJsonObject const& obj, QString const& key)
{
    if (!obj.contains(key))
        return true;
    QJsonValue const v = obj.value(key);
    if (!v.isArray())
        return false;
    for (QJsonValue const& e : v.toArray())
        if (!e.isObject())
            return false;
    return true;
}

// The shape of a project document, checked before anything is opened.
bool IsProjectDocument(QJsonObject const& root)
{
    if (!IsArrayOfObjects(root, QStringLiteral("sourceFiles")) || !IsArrayOfObjects(root, QStringLiteral("rdCurves")))
        return false;
    for (QJsonValue const& c : root.value(QStringLiteral("rdCurves")).toArray())
        if (!IsArrayOfObjects(c.toObject(), QStringLiteral("sourceFiles")))
            return false;
    return true;
}

// File names of a project document resolved against the folder of the project file: a name
// written relative to it (by hand) means a file beside it, not one in the working folder.
QJsonObject WithAbsoluteFileName(QJsonObject entry, QDir const& folder)
{
    QString const name = entry.value(QStringLiteral("filename")).toString();
    if (!name.isEmpty() && QDir::isRelativePath(name))
        entry[QStringLiteral("filename")] = QDir::cleanPath(folder.absoluteFilePath(name));
    return entry;
}

QJsonArray WithAbsoluteFileNames(QJsonArray const& entries, QDir const& folder)
{
    QJsonArray out;
    for (QJsonValue const& v : entries)
        out.append(WithAbsoluteFileName(v.toObject(), folder));
    return out;
}

} // namespace

ZeNoxGuiProject::ZeNoxGuiProject(QObject* parent) : QObject(parent), m_name(m_defaultName)
{
    reset();
}

ZeNoxGuiProject::~ZeNoxGuiProject()
{
    // The window has closed the project before; whatever is left goes quietly.
    qDeleteAll(m_srcFiles);
    qDeleteAll(m_rdCurves);
}

void ZeNoxGuiProject::markChanged()
{
    m_hasUnsavedChanges = true;
    emit projectChanged(true);
}

ZeNoxGuiError ZeNoxGuiProject::addSourceFile(QString const& fileName, ze::nox::core::ZeStreamType type)
{
    if (srcFileByName(fileName))
        return ZE_NOX_GUI_FILE_ALREADY_ADDED;
    auto* file = new (std::nothrow) ZeNoxSourceFile;
    if (!file)
        return ZE_NOX_GUI_FAILED_TO_CONSTRUCT;
    ZeNoxGuiError const res = file->open(fileName, nullptr, type);
    ZeNoxGuiApp::LogFileOpen(fileName, file->decoder(), res);
    if (res == ZE_NOX_GUI_CANCELED || res == ZE_NOX_GUI_UNSUPPORTED_FILE_FORMAT) {
        delete file;
        return res;
    }
    addSourceFile(file);
    return ZE_NOX_GUI_OK;
}

ZeNoxGuiError ZeNoxGuiProject::addSourceFile(ZeNoxSourceFile* file)
{
    if (!file || m_srcFiles.contains(file))
        return ZE_NOX_GUI_INVALID_ARGUMENT;
    connect(
        file, &ZeNoxSourceFile::changed, file,
        [this, file] {
            emit srcFileChanged(file);
            markChanged();
        },
        Qt::DirectConnection);
    // The row shows what playback finds; the project itself does not change.
    connect(
        file, &ZeNoxSourceFile::playbackProblemChanged, file, [this, file] { emit srcFileChanged(file); },
        Qt::DirectConnection);
    m_srcFiles.append(file);
    emit srcFileAdded(file);
    markChanged();
    return ZE_NOX_GUI_OK;
}

void ZeNoxGuiProject::removeSourceFile(ZeNoxSourceFile* file)
{
    if (!file || !m_srcFiles.contains(file))
        return;
    for (ZeNoxRdCurve* curve : m_rdCurves)
        curve->removeSrcFiles({file});
    m_srcFiles.removeAll(file);
    emit srcFileAboutToRemove(file);
    delete file;
    markChanged();
}

void ZeNoxGuiProject::removeSourceFile(QString const& fileName)
{
    removeSourceFile(srcFileByName(fileName));
}

ZeNoxGuiError ZeNoxGuiProject::addRdCurve(QString const& name)
{
    if (name.isEmpty())
        return ZE_NOX_GUI_RD_CURVE_NAME_EMPTY;
    if (rdCurveByName(name))
        return ZE_NOX_GUI_RD_CURVE_NAME_EXISTS;
    auto* curve = new (std::nothrow) ZeNoxRdCurve(nullptr);
    if (!curve)
        return ZE_NOX_GUI_FAILED_TO_CONSTRUCT;
    curve->setName(name);
    return addRdCurve(curve);
}

ZeNoxGuiError ZeNoxGuiProject::addRdCurve(ZeNoxRdCurve* curve)
{
    if (!curve || m_rdCurves.contains(curve))
        return ZE_NOX_GUI_INVALID_ARGUMENT;
    connect(
        curve, &ZeNoxRdCurve::changed, curve,
        [this, curve] {
            emit rdCurveChanged(curve);
            markChanged();
        },
        Qt::DirectConnection);
    m_rdCurves.append(curve);
    emit rdCurveAdded(curve);
    if (!m_rdCurveAnchor)
        setRdCurveAnchor(curve);
    markChanged();
    return ZE_NOX_GUI_OK;
}

void ZeNoxGuiProject::removeRdCurves(QList<ZeNoxRdCurve*> const& curves)
{
    bool removed = false;
    for (ZeNoxRdCurve* curve : curves) {
        // A curve listed twice, or not the project's, must not be deleted (again).
        if (!curve || !m_rdCurves.contains(curve))
            continue;
        m_rdCurves.removeAll(curve);
        emit rdCurveAboutToRemove(curve);
        // The anchor goes with it; the one projectChanged(true) below covers both.
        if (m_rdCurveAnchor == curve) {
            m_rdCurveAnchor = nullptr;
            emit rdCurveChanged(curve);
        }
        delete curve;
        removed = true;
    }
    if (removed)
        markChanged();
}

ZeNoxGuiError ZeNoxGuiProject::renameRdCurve(QString const& oldName, QString const& newName)
{
    if (rdCurveByName(newName))
        return ZE_NOX_GUI_RD_CURVE_NAME_EXISTS;
    ZeNoxRdCurve* curve = rdCurveByName(oldName);
    if (!curve)
        return ZE_NOX_GUI_RD_CURVE_NOT_FOUND;
    curve->setName(newName);
    return ZE_NOX_GUI_OK;
}

void ZeNoxGuiProject::setRdCurveAnchor(ZeNoxRdCurve const* curve)
{
    if (curve == m_rdCurveAnchor)
        return;
    ZeNoxRdCurve* target = nullptr;
    if (curve) {
        for (ZeNoxRdCurve* c : m_rdCurves)
            if (c == curve)
                target = c;
        if (!target || target->srcFiles().isEmpty())
            return;
    }
    ZeNoxRdCurve* const previous = m_rdCurveAnchor;
    m_rdCurveAnchor = target;
    if (previous)
        emit rdCurveChanged(previous);
    if (target)
        emit rdCurveChanged(target);
    markChanged();
}

void ZeNoxGuiProject::setName(QString const& name)
{
    m_name = name;
    emit nameChanged();
}

void ZeNoxGuiProject::reset()
{
    m_name = m_defaultName;
    m_fileName.clear();
    emit nameChanged();
    while (!m_srcFiles.isEmpty())
        removeSourceFile(m_srcFiles.first());
    QList<ZeNoxRdCurve*> const curves = m_rdCurves; // a copy: the list shrinks meanwhile
    removeRdCurves(curves);
    m_hasUnsavedChanges = false;
    emit projectChanged(false);
}

void ZeNoxGuiProject::close()
{
    reset();
    emit closed();
}

ZeNoxGuiError ZeNoxGuiProject::saveToFile(QString* reason)
{
    if (m_fileName.isEmpty()) {
        if (reason)
            *reason = tr("The project has no file name");
        return ZE_NOX_GUI_INVALID_ARGUMENT;
    }
    ZeNoxGuiError const res = writeProjectFile(m_fileName, m_name, reason);
    if (res != ZE_NOX_GUI_OK)
        return res;
    m_hasUnsavedChanges = false;
    emit projectChanged(false);
    return ZE_NOX_GUI_OK;
}

ZeNoxGuiError ZeNoxGuiProject::saveToFileAs(QString const& fileName, QString const& name, QString* reason)
{
    if (fileName.isEmpty()) {
        if (reason)
            *reason = tr("No file name given");
        return ZE_NOX_GUI_INVALID_ARGUMENT;
    }
    ZeNoxGuiError const res = writeProjectFile(fileName, name, reason);
    if (res != ZE_NOX_GUI_OK)
        return res;
    m_fileName = fileName;
    setName(name);
    m_hasUnsavedChanges = false;
    emit projectChanged(false);
    return ZE_NOX_GUI_OK;
}

ZeNoxGuiError ZeNoxGuiProject::writeProjectFile(QString const& fileName, QString const& name, QString* reason) const
{
    // Written beside the target and renamed over it only when complete: a failed save leaves the
    // previous project file as it was.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        ZeNoxGuiApp::LogProjectSave(fileName, file.errorString());
        if (reason)
            *reason = file.errorString();
        return ZE_NOX_GUI_FAILED_TO_OPEN_FILE;
    }

    QJsonObject root;
    root[QStringLiteral("name")] = name;
    root[QStringLiteral("projectFileVersion")] = m_curProjectFileVersion;
    QJsonArray files;
    for (ZeNoxSourceFile const* f : m_srcFiles) {
        QJsonObject entry;
        f->write(entry);
        files.append(entry);
    }
    root[QStringLiteral("sourceFiles")] = files;
    QJsonArray curves;
    for (ZeNoxRdCurve const* c : m_rdCurves) {
        QJsonObject entry;
        c->write(entry);
        curves.append(entry);
    }
    root[QStringLiteral("rdCurves")] = curves;
    if (m_rdCurveAnchor)
        root[QStringLiteral("rdCurveAnchor")] = m_rdCurveAnchor->name();

    QByteArray const bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        ZeNoxGuiApp::LogProjectSave(fileName, file.errorString());
        if (reason)
            *reason = file.errorString();
        return ZE_NOX_GUI_FAILED_TO_OPEN_FILE;
    }
    ZeNoxGuiApp::LogProjectSave(fileName, QString());
    return ZE_NOX_GUI_OK;
}

ZeNoxGuiError ZeNoxGuiProject::loadFromFile(QString const& fileName, ZeNoxSourceFile::StreamTypeQuestion const& ask)
{
    // The document is read and checked before the current project is touched: a file that cannot
    // be loaded leaves the project as it was.
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return ZE_NOX_GUI_FAILED_TO_OPEN_FILE;
    if (file.size() > kMaxProjectFileSize) {
        qWarning() << "Project file" << fileName << "is too large:" << file.size() << "bytes";
        return ZE_NOX_GUI_INVALID_PROJECT_FILE;
    }
    QByteArray const bytes = file.read(kMaxProjectFileSize + 1);
    file.close();
    QJsonDocument const doc = QJsonDocument::fromJson(bytes);
    if (doc.isNull())
        return ZE_NOX_GUI_FAILED_TO_PARSE_FILE;
    if (!doc.isObject() || !IsProjectDocument(doc.object())) {
        qWarning() << "Project file" << fileName << "is not a project document";
        return ZE_NOX_GUI_INVALID_PROJECT_FILE;
    }
    // A newer format may hold what this version would drop on the next save.
    QJsonValue const version = doc.object().value(QStringLiteral("projectFileVersion"));
    if (!version.isDouble() || version.toDouble() != std::floor(version.toDouble()) || version.toDouble() < 1 ||
        version.toDouble() > m_curProjectFileVersion) {
        qWarning() << "Project file" << fileName << "has no supported format version:" << version;
        return ZE_NOX_GUI_INVALID_PROJECT_FILE;
    }

    reset();
    emit closed();
    m_fileName = fileName;
    QJsonObject const root = doc.object();

    m_name = root.value(QStringLiteral("name")).toString();

    QDir const folder = QFileInfo(fileName).absoluteDir();
    for (QJsonValue const& v : WithAbsoluteFileNames(root.value(QStringLiteral("sourceFiles")).toArray(), folder)) {
        QJsonObject const entry = v.toObject();
        // One file under several names (a link, "./") is one source file, as when adding by hand.
        QString const name = entry.value(QStringLiteral("filename")).toString();
        if (ZeNoxSourceFile const* present = srcFileByName(name)) {
            qWarning().noquote() << QStringLiteral("Project file lists \"%1\" again (as \"%2\"); the repeat is dropped")
                                        .arg(present->fullFilename(), name);
            continue;
        }
        auto* srcFile = new (std::nothrow) ZeNoxSourceFile;
        if (!srcFile)
            continue;
        srcFile->read(entry, ask);
        addSourceFile(srcFile);
    }

    QList<ZeNoxSourceFile const*> available;
    for (ZeNoxSourceFile const* f : m_srcFiles)
        available.append(f);
    for (QJsonValue const& v : root.value(QStringLiteral("rdCurves")).toArray()) {
        auto* curve = new (std::nothrow) ZeNoxRdCurve(nullptr);
        if (!curve)
            continue;
        addRdCurve(curve);
        QJsonObject entry = v.toObject();
        entry[QStringLiteral("sourceFiles")] =
            WithAbsoluteFileNames(entry.value(QStringLiteral("sourceFiles")).toArray(), folder);
        curve->read(entry, available);
        // Names identify curves (rename, anchor): a name an earlier curve has, or none, gets a
        // number that makes it unique.
        QString const base = curve->name().isEmpty() ? tr("RD Curve") : curve->name();
        auto taken = [this, curve](QString const& name) {
            return std::any_of(m_rdCurves.begin(), m_rdCurves.end(),
                               [curve, &name](ZeNoxRdCurve const* c) { return c != curve && c->name() == name; });
        };
        if (curve->name().isEmpty() || taken(base)) {
            QString name = base;
            for (int n = 2; taken(name); ++n)
                name = QStringLiteral("%1 (%2)").arg(base).arg(n);
            qWarning().noquote()
                << QStringLiteral("RD Curve \"%1\" of the project file is named \"%2\"").arg(curve->name(), name);
            curve->setName(name);
        }
    }

    QString const anchor = root.value(QStringLiteral("rdCurveAnchor")).toString();
    if (!anchor.isEmpty()) {
        ZeNoxRdCurve* curve = rdCurveByName(anchor);
        if (!curve)
            qWarning() << "Unable to find RD Curve anchor in the RD Curve list";
        else
            setRdCurveAnchor(curve);
    }

    m_hasUnsavedChanges = false;
    emit projectChanged(false);
    return ZE_NOX_GUI_OK;
}

QList<ZeNoxSourceFile*> ZeNoxGuiProject::reopenChangedFiles(QList<ZeNoxSourceFile const*> const& files)
{
    QList<ZeNoxSourceFile*> reopened;
    for (ZeNoxSourceFile* f : QList<ZeNoxSourceFile*>(m_srcFiles)) {
        // A file may have left the project through what an earlier reopen set off.
        if (!files.contains(f) || reopened.contains(f) || !m_srcFiles.contains(f) || !f->changedOnDisk())
            continue;
        reopened.append(f);
        f->reopen();
    }
    return reopened;
}

ZeNoxSourceFile* ZeNoxGuiProject::srcFileByName(QString const& fileName) const
{
    QString const canonical = QFileInfo(fileName).canonicalFilePath();
    if (canonical.isEmpty())
        return nullptr;
    for (ZeNoxSourceFile* f : m_srcFiles)
        if (QFileInfo(f->fullFilename()).canonicalFilePath() == canonical)
            return f;
    return nullptr;
}

ZeNoxRdCurve* ZeNoxGuiProject::rdCurveByName(QString const& name) const
{
    for (ZeNoxRdCurve* c : m_rdCurves)
        if (c->name() == name)
            return c;
    return nullptr;
}

QList<ZeNoxSourceFile*> ZeNoxGuiProject::sourceFiles(QSet<ZeNoxSourceFile::OpenStatus> const& statuses) const
{
    if (statuses.isEmpty())
        return m_srcFiles;
    QList<ZeNoxSourceFile*> out;
    for (ZeNoxSourceFile* f : m_srcFiles)
        if (statuses.contains(f->openStatus()))
            out.append(f);
    return out;
}

QList<ZeNoxDecoder*> ZeNoxGuiProject::getAllDecoders(QSet<ZeNoxSourceFile::OpenStatus> const& statuses) const
{
    QList<ZeNoxDecoder*> out;
    for (ZeNoxSourceFile* f : sourceFiles(statuses))
        out.append(f->decoder());
    return out;
}

ZeNoxSourceFile* ZeNoxGuiProject::leftSrcFile() const
{
    for (ZeNoxSourceFile* f : m_srcFiles)
        if (f->isLeftFile())
            return f;
    return nullptr;
}

ZeNoxSourceFile* ZeNoxGuiProject::rightSrcFile() const
{
    for (ZeNoxSourceFile* f : m_srcFiles)
        if (f->isRightFile())
            return f;
    return nullptr;
}

ZeNoxSourceFile* ZeNoxGuiProject::refSrcFile() const
{
    for (ZeNoxSourceFile* f : m_srcFiles)
        if (f->isRefFile())
            return f;
    return nullptr;
}

ZeNoxDecoder* ZeNoxGuiProject::leftDecoder() const
{
    ZeNoxSourceFile* f = leftSrcFile();
    return f ? f->decoder() : nullptr;
}

ZeNoxDecoder* ZeNoxGuiProject::rightDecoder() const
{
    ZeNoxSourceFile* f = rightSrcFile();
    return f ? f->decoder() : nullptr;
}

ZeNoxDecoder* ZeNoxGuiProject::referenceDecoder() const
{
    ZeNoxSourceFile* f = refSrcFile();
    return f ? f->decoder() : nullptr;
}

bool ZeNoxGuiProject::isEmpty() const
{
    return m_srcFiles.isEmpty() && m_rdCurves.isEmpty() && !m_rdCurveAnchor;
}

} // namespace ze::nox::gui
