#pragma once

#include "raw/ImageInfo.h"
#include "raw/YUVFile.h"

#include <QByteArray>
#include <QColor>
#include <QSettings>
#include <QString>
#include <QStringList>

namespace ze::nox::gui {

// Keys of the group "project".
class ProjectSettings
{
public:
    ProjectSettings();
    ~ProjectSettings();

    QString getLastOpenedFileDir() const;
    void saveLastOpenedFileDir(QString const& dir);

private:
    QSettings m_settings;
};

// Keys of the group "openFilesDialog": the hint-box switches of the project panel.
class ProjectViewSettings
{
public:
    ProjectViewSettings();
    ~ProjectViewSettings();

    bool getShowHowtoAddFile() const;
    void saveShowHowtoAddFile(bool show);
    bool getShowHowtoAddFilesToRdCurve() const;
    void saveShowHowtoAddFilesToRdCurve(bool show);
    bool getShowHowtoAddRemoveRdCurve() const;
    void saveShowHowtoAddRemoveRdCurve(bool show);

private:
    QSettings m_settings;
};

// Every setting the GUI keeps between runs, one getter and one saver per key, in the platform's
// store of the organization and application names (set before this object is made).
// Getters read the store on every call; GUI thread only.
class ZeNoxGuiSettings
{
public:
    ZeNoxGuiSettings() = default;

    ProjectSettings& projectSettings() { return m_projectSettings; }
    ProjectViewSettings& projectViewSettings() { return m_projectViewSettings; }

    QString getLastOpenedInputFileDir() const;
    void saveLastOpenedInputFileDir(QString const& dir);
    QString getLastOpenFilesFilter() const;
    void saveLastOpenFilesFilter(QString const& filter);

    QByteArray getMainWindowGeometry() const;
    void saveMainWindowGeometry(QByteArray const& geometry);
    QByteArray getMainWindowState() const;
    void saveMainWindowState(QByteArray const& state);
    QByteArray getMainWindowVerticalSplitterState() const;
    void saveMainWindowVerticalSplitterState(QByteArray const& state);

    bool getShowProjectView() const;
    void saveShowProjectView(bool show);
    bool getShowMetricsView() const;
    void saveShowMetricsView(bool show);
    int getMetricsViewOpenedTabIdx() const;
    void saveMetricsViewOpenedTabIdx(int idx);

    // Position of the playback area's split line, relative to its width.
    double getVericalSplitLineRelPos();
    void saveVericalSplitLineRelPos(double pos);

    int getTargetFramerate() const;
    void saveTargetFramerate(int fps);
    // Stored values outside their enumeration read as the default, like a missing key.
    int getViewMode() const;
    void saveViewMode(int mode);
    bool getShowStreamInfo() const;
    void saveShowStreamInfo(bool show);
    int getShowComponent() const;
    void saveShowComponent(int component);
    int getYuvValuesFormat() const;
    void saveYuvValuesFormat(int format);

    // Newest first, each name once, at most 10 input and 5 reference files.
    QStringList getRecentInputFiles();
    void saveRecentInputFile(QString const& fileName);
    QStringList getRecentReferenceFiles();
    void saveRecentReferenceFile(QString const& fileName);

    // The raw YUV parameters the user gave for a file, keyed by its absolute path. Outputs are
    // written key by key; false at the first missing key, the outputs before it written. A chroma
    // format or layout outside its enumeration, and a frame size smaller than the geometry needs
    // or larger than the (existing) file, read as missing. The chroma order (0 U before V, 1 V
    // before U) is optional: a record without it reads as 0 and stays complete.
    bool getYuvFileSavedParameters(QString const& fileName, int& width, int& height, int& bitDepth,
                                   ImageInfo::IMG_TYPE& imgType, YUVFile::Formats& planeOrder, int& frameSize,
                                   CropInfo& crop, int* chromaOrder = nullptr) const;
    void saveYuvFileSavedParameters(QString const& fileName, int width, int height, int bitDepth,
                                    ImageInfo::IMG_TYPE imgType, YUVFile::Formats planeOrder, int frameSize,
                                    CropInfo const& crop, int chromaOrder = 0);

    // Display colour `index` of a fixed pool of 13.
    QColor getColorFromPool(int index) const;

private:
    // Group of a file's raw parameters: "yuvFilesParams/" and the MD5 of its absolute native path.
    static QString yuvFileParamsGroup(QString const& fileName);
    QStringList getRecentFiles(QString const& key, int limit);
    void saveRecentFile(QString const& key, int limit, QString const& fileName);

    int m_maxRecentInputFiles = 10;
    int m_maxRecentReferenceFiles = 5;
    QSettings m_settings;
    ProjectSettings m_projectSettings;
    ProjectViewSettings m_projectViewSettings;
};

} // namespace ze::nox::gui
