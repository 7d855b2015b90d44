#include "app/ze_nox_gui_settings.h"

#include "raw/YUVParameters.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QVector>

#include <algorithm>

namespace ze::nox::gui {

namespace {

// The stored int of `key` when it lies in [lo, hi]; otherwise (absent, or a value no version
// writes) the default, as for a missing key.
int EnumValue(QSettings const& settings, QString const& key, int lo, int hi, int fallback)
{
    if (!settings.contains(key))
        return fallback;
    bool ok = false;
    int const v = settings.value(key).toInt(&ok);
    return ok && v >= lo && v <= hi ? v : fallback;
}

// Fewest bytes one raw frame of this geometry and layout takes, at one byte per value (as the
// raw-parameters dialog counts it); 0 when the combination has no preset to tell.
qint64 MinFrameBytes(qint64 width, qint64 height, ImageInfo::IMG_TYPE type, YUVFile::Formats layout)
{
    double const bpp = YUVParameters::getDefaultPresetFormats(type, layout).bytesPerPixel;
    if (width < 1 || height < 1 || bpp <= 0)
        return width < 1 || height < 1 ? -1 : 0;
    return static_cast<qint64>(bpp * double(width) * double(height));
}

} // namespace

ProjectSettings::ProjectSettings()
{
    m_settings.beginGroup(QStringLiteral("project"));
}

ProjectSettings::~ProjectSettings()
{
    m_settings.endGroup();
}

QString ProjectSettings::getLastOpenedFileDir() const
{
    return m_settings.value(QStringLiteral("lastOpenedFileDir"), QString()).toString();
}

void ProjectSettings::saveLastOpenedFileDir(QString const& dir)
{
    m_settings.setValue(QStringLiteral("lastOpenedFileDir"), dir);
}

ProjectViewSettings::ProjectViewSettings()
{
    m_settings.beginGroup(QStringLiteral("openFilesDialog"));
}

ProjectViewSettings::~ProjectViewSettings()
{
    m_settings.endGroup();
}

bool ProjectViewSettings::getShowHowtoAddFile() const
{
    return m_settings.value(QStringLiteral("showHowtoAddFile"), true).toBool();
}

void ProjectViewSettings::saveShowHowtoAddFile(bool show)
{
    m_settings.setValue(QStringLiteral("showHowtoAddFile"), show);
}

bool ProjectViewSettings::getShowHowtoAddFilesToRdCurve() const
{
    return m_settings.value(QStringLiteral("showHowtoAddFilesToRdCurve"), true).toBool();
}

void ProjectViewSettings::saveShowHowtoAddFilesToRdCurve(bool show)
{
    m_settings.setValue(QStringLiteral("showHowtoAddFilesToRdCurve"), show);
}

bool ProjectViewSettings::getShowHowtoAddRemoveRdCurve() const
{
    return m_settings.value(QStringLiteral("showHowtoAddRemoveRdCurve"), true).toBool();
}

void ProjectViewSettings::saveShowHowtoAddRemoveRdCurve(bool show)
{
    m_settings.setValue(QStringLiteral("showHowtoAddRemoveRdCurve"), show);
}

QString ZeNoxGuiSettings::getLastOpenedInputFileDir() const
{
    return m_settings.value(QStringLiteral("lastOpenedInputFileDir"), QString()).toString();
}

void ZeNoxGuiSettings::saveLastOpenedInputFileDir(QString const& dir)
{
    m_settings.setValue(QStringLiteral("lastOpenedInputFileDir"), dir);
}

QString ZeNoxGuiSettings::getLastOpenFilesFilter() const
{
    return m_settings.value(QStringLiteral("lastOpenFilesFilter"), QString()).toString();
}

void ZeNoxGuiSettings::saveLastOpenFilesFilter(QString const& filter)
{
    m_settings.setValue(QStringLiteral("lastOpenFilesFilter"), filter);
}

QByteArray ZeNoxGuiSettings::getMainWindowGeometry() const
{
    return m_settings.value(QStringLiteral("mainWindowGeometry"), QByteArray()).toByteArray();
}

void ZeNoxGuiSettings::saveMainWindowGeometry(QByteArray const& geometry)
{
    m_settings.setValue(QStringLiteral("mainWindowGeometry"), geometry);
}

QByteArray ZeNoxGuiSettings::getMainWindowState() const
{
    return m_settings.value(QStringLiteral("mainWindowState"), QByteArray()).toByteArray();
}

void ZeNoxGuiSettings::saveMainWindowState(QByteArray const& state)
{
    m_settings.setValue(QStringLiteral("mainWindowState"), state);
}

QByteArray ZeNoxGuiSettings::getMainWindowVerticalSplitterState() const
{
    return m_settings.value(QStringLiteral("mainWindowVerticalSplitterState"), QByteArray()).toByteArray();
}

void ZeNoxGuiSettings::saveMainWindowVerticalSplitterState(QByteArray const& state)
{
    m_settings.setValue(QStringLiteral("mainWindowVerticalSplitterState"), state);
}

bool ZeNoxGuiSettings::getShowProjectView() const
{
    return m_settings.value(QStringLiteral("showProjectView"), true).toBool();
}

void ZeNoxGuiSettings::saveShowProjectView(bool show)
{
    m_settings.setValue(QStringLiteral("showProjectView"), show);
}

bool ZeNoxGuiSettings::getShowMetricsView() const
{
    return m_settings.value(QStringLiteral("showMetricsView"), true).toBool();
}

void ZeNoxGuiSettings::saveShowMetricsView(bool show)
{
    m_settings.setValue(QStringLiteral("showMetricsView"), show);
}

int ZeNoxGuiSettings::getMetricsViewOpenedTabIdx() const
{
    return m_settings.value(QStringLiteral("metricsViewOpenedTabIdx"), 0).toInt();
}

void ZeNoxGuiSettings::saveMetricsViewOpenedTabIdx(int idx)
{
    m_settings.setValue(QStringLiteral("metricsViewOpenedTabIdx"), idx);
}

double ZeNoxGuiSettings::getVericalSplitLineRelPos()
{
    return m_settings.value(QStringLiteral("vericalSplitLineRelPos"), 0.5).toDouble();
}

void ZeNoxGuiSettings::saveVericalSplitLineRelPos(double pos)
{
    m_settings.setValue(QStringLiteral("vericalSplitLineRelPos"), pos);
}

int ZeNoxGuiSettings::getTargetFramerate() const
{
    return m_settings.value(QStringLiteral("targetFramerate"), 25).toInt();
}

void ZeNoxGuiSettings::saveTargetFramerate(int fps)
{
    m_settings.setValue(QStringLiteral("targetFramerate"), fps);
}

int ZeNoxGuiSettings::getViewMode() const
{
    return EnumValue(m_settings, QStringLiteral("viewMode"), 0, 3, 0);
}

void ZeNoxGuiSettings::saveViewMode(int mode)
{
    m_settings.setValue(QStringLiteral("viewMode"), mode);
}

bool ZeNoxGuiSettings::getShowStreamInfo() const
{
    return m_settings.value(QStringLiteral("showStreamInfo"), true).toBool();
}

void ZeNoxGuiSettings::saveShowStreamInfo(bool show)
{
    m_settings.setValue(QStringLiteral("showStreamInfo"), show);
}

int ZeNoxGuiSettings::getShowComponent() const
{
    return EnumValue(m_settings, QStringLiteral("showComponent"), 0, 3, 0);
}

void ZeNoxGuiSettings::saveShowComponent(int component)
{
    m_settings.setValue(QStringLiteral("showComponent"), component);
}

int ZeNoxGuiSettings::getYuvValuesFormat() const
{
    return EnumValue(m_settings, QStringLiteral("yuvValuesFormat"), 0, 1, 0);
}

void ZeNoxGuiSettings::saveYuvValuesFormat(int format)
{
    m_settings.setValue(QStringLiteral("yuvValuesFormat"), format);
}

QStringList ZeNoxGuiSettings::getRecentInputFiles()
{
    return getRecentFiles(QStringLiteral("recentInputFiles"), m_maxRecentInputFiles);
}

void ZeNoxGuiSettings::saveRecentInputFile(QString const& fileName)
{
    saveRecentFile(QStringLiteral("recentInputFiles"), m_maxRecentInputFiles, fileName);
}

QStringList ZeNoxGuiSettings::getRecentReferenceFiles()
{
    return getRecentFiles(QStringLiteral("recentReferenceFiles"), m_maxRecentReferenceFiles);
}

void ZeNoxGuiSettings::saveRecentReferenceFile(QString const& fileName)
{
    saveRecentFile(QStringLiteral("recentReferenceFiles"), m_maxRecentReferenceFiles, fileName);
}

QStringList ZeNoxGuiSettings::getRecentFiles(QString const& key, int limit)
{
    QStringList files;
    int const size = std::min(m_settings.beginReadArray(key), limit);
    for (int i = 0; i < size; ++i) {
        m_settings.setArrayIndex(i);
        files.append(m_settings.value(QStringLiteral("file")).toString());
    }
    m_settings.endArray();
    return files;
}

void ZeNoxGuiSettings::saveRecentFile(QString const& key, int limit, QString const& fileName)
{
    QStringList files{fileName};
    // The stored size comes from a file: only the first `limit` entries can survive (at most one
    // of them is `fileName`), so no more are read whatever size the store claims.
    int const size = std::min(m_settings.beginReadArray(key), limit);
    for (int i = 0; i < size; ++i) {
        m_settings.setArrayIndex(i);
        QString const f = m_settings.value(QStringLiteral("file")).toString();
        if (f != fileName)
            files.append(f);
    }
    m_settings.endArray();

    m_settings.beginWriteArray(key);
    for (int i = 0; i < limit && i < files.size(); ++i) {
        m_settings.setArrayIndex(i);
        m_settings.remove(QString());
        m_settings.setValue(QStringLiteral("file"), files.at(i));
    }
    m_settings.endArray();
}

QString ZeNoxGuiSettings::yuvFileParamsGroup(QString const& fileName)
{
    QString const path = QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
    QByteArray const digest = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Md5).toHex();
    return QStringLiteral("yuvFilesParams/%1").arg(QString::fromLatin1(digest));
}

bool ZeNoxGuiSettings::getYuvFileSavedParameters(QString const& fileName, int& width, int& height, int& bitDepth,
                                                 ImageInfo::IMG_TYPE& imgType, YUVFile::Formats& planeOrder,
                                                 int& frameSize, CropInfo& crop, int* chromaOrder) const
{
    QString const group = yuvFileParamsGroup(fileName) + QLatin1Char('/');
    // Each output is written as soon as its key is read, so an incomplete record still pre-fills
    // what it has. A value outside what the key can hold reads as a missing key.
    auto read = [&](char const* key, auto&& accept, auto&& write) {
        QString const full = group + QLatin1String(key);
        if (!m_settings.contains(full))
            return false;
        bool ok = false;
        int const v = m_settings.value(full).toInt(&ok);
        if (!ok || !accept(v))
            return false;
        write(v);
        return true;
    };
    if (chromaOrder) {
        QString const key = group + QStringLiteral("chromaOrder");
        *chromaOrder = m_settings.value(key, 0).toInt() == 1 ? 1 : 0;
    }
    auto any = [](int) { return true; };
    auto chroma = [](int v) { return v >= ImageInfo::IMG_400 && v <= ImageInfo::IMG_RGBA; };
    auto layout = [](int v) { return v >= YUVFile::FORMAT_PLANAR && v <= YUVFile::FORMAT_P010; };
    // The frame size must hold the picture the geometry describes, and no more than the file: a
    // record of another file would split it into nonsense frames or allocate a huge picture.
    auto fitsFile = [&](int v) {
        qint64 const need = MinFrameBytes(width, height, imgType, planeOrder);
        QFileInfo const info(fileName);
        return need >= 0 && v >= 1 && v >= need && (!info.isFile() || qint64(v) <= info.size());
    };
    return read("width", any, [&](int v) { width = v; }) && read("height", any, [&](int v) { height = v; }) &&
           read("bitDepth", any, [&](int v) { bitDepth = v; }) &&
           read("imgType", chroma, [&](int v) { imgType = static_cast<ImageInfo::IMG_TYPE>(v); }) &&
           read("planeOrder", layout, [&](int v) { planeOrder = static_cast<YUVFile::Formats>(v); }) &&
           read("frameSize", fitsFile, [&](int v) { frameSize = v; }) &&
           read("crop/left", any, [&](int v) { crop.left = v; }) &&
           read("crop/top", any, [&](int v) { crop.top = v; }) &&
           read("crop/right", any, [&](int v) { crop.right = v; }) &&
           read("crop/bottom", any, [&](int v) { crop.bottom = v; });
}

void ZeNoxGuiSettings::saveYuvFileSavedParameters(QString const& fileName, int width, int height, int bitDepth,
                                                  ImageInfo::IMG_TYPE imgType, YUVFile::Formats planeOrder,
                                                  int frameSize, CropInfo const& crop, int chromaOrder)
{
    QString const group = yuvFileParamsGroup(fileName);
    m_settings.beginGroup(group);
    m_settings.setValue(QStringLiteral("width"), width);
    m_settings.setValue(QStringLiteral("height"), height);
    m_settings.setValue(QStringLiteral("bitDepth"), bitDepth);
    m_settings.setValue(QStringLiteral("imgType"), static_cast<int>(imgType));
    m_settings.setValue(QStringLiteral("planeOrder"), static_cast<int>(planeOrder));
    m_settings.setValue(QStringLiteral("frameSize"), frameSize);
    m_settings.setValue(QStringLiteral("chromaOrder"), chromaOrder == 1 ? 1 : 0);
    m_settings.endGroup();
    m_settings.beginGroup(group + QStringLiteral("/crop"));
    m_settings.setValue(QStringLiteral("left"), crop.left);
    m_settings.setValue(QStringLiteral("top"), crop.top);
    m_settings.setValue(QStringLiteral("right"), crop.right);
    m_settings.setValue(QStringLiteral("bottom"), crop.bottom);
    m_settings.endGroup();
}

QColor ZeNoxGuiSettings::getColorFromPool(int index) const
{
    static QVector<QColor> const kPool = {
        QColor(Qt::blue),    QColor(0x03, 0xac, 0x13), QColor(Qt::darkGray),  QColor(Qt::cyan),     QColor(Qt::magenta),
        QColor(Qt::darkRed), QColor(Qt::darkYellow),   QColor(Qt::darkCyan),  QColor(Qt::darkBlue), QColor(Qt::black),
        QColor(Qt::red),     QColor(Qt::darkMagenta),  QColor(Qt::darkGreen),
    };
    int const n = kPool.size();
    // A negative index wraps as well instead of reading before the table.
    return kPool.at(((index % n) + n) % n);
}

} // namespace ze::nox::gui
