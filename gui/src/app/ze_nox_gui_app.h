#pragma once

#include "raw/ImageInfo.h"
#include "raw/YUVFile.h"
#include "common/ze_log.h"
#include "common/ze_nox_core_error.h"
#include "app/ze_nox_gui_errors.h"
#include "project/ze_nox_gui_project.h"

#include <QApplication>
#include <QString>

namespace ze::nox::core {
class ZeNoxDecoder;
}

namespace ze::nox::gui {

class ZeNoxGuiSettings;

// The one application object: identity, log, settings and the project. Built by the entry point
// on its stack; everything of the GUI reaches it through theApp().
class ZeNoxGuiApp : public QApplication
{
    Q_OBJECT
public:
    ZeNoxGuiApp(int& argc, char** argv);
    ~ZeNoxGuiApp() override;

    ZeNoxGuiSettings* settings() const { return m_settings; }
    ZeNoxGuiProject* project() { return &m_project; }

    // One log line each; any thread.
    void debugLog(QString const& text, QString const& context = QString());
    void infoLog(QString const& text, QString const& context = QString());
    void warningLog(QString const& text, QString const& context = QString());
    void errorLog(QString const& text, QString const& context = QString());

    // "models" beside the executable.
    QString vmafModelsDir() const;
    // The address of the online user guide.
    static QString documentationUrl();
    // Opens the online user guide in the desktop browser. False when there is none to open it.
    bool openDocumentation() const;

    // The raw-YUV parameters callback of the media core: the values saved for the file, or the
    // raw-parameters dialog (always when forceDialog is set), whose accepted values are saved.
    // Answers 0, 6 (file not openable) or 9 (cancelled). GUI thread, while the object exists.
    static ze::nox::core::ZeNoxCoreError GetYuvRequiredParams(QString const& fileName, int& width, int& height,
                                                              int& bitDepth, ImageInfo::IMG_TYPE& imgType,
                                                              YUVFile::Formats& planeOrder, int& chromaOrder,
                                                              int& frameSize, CropInfo& crop, bool forceDialog);

    // The log's lines of what was done and what came of it. Without the application object
    // they go nowhere.
    // A file opened (name, type, size, picture format, frame count) or not (name, size, reason).
    static void LogFileOpen(QString const& fileName, core::ZeNoxDecoder const* dec, ZeNoxGuiError result);
    static void LogProjectLoad(QString const& fileName, ZeNoxGuiError result, int fileCount, int rdCurveCount);
    // error: empty when the project was saved.
    static void LogProjectSave(QString const& fileName, QString const& error);
    struct MeasurementRun
    {
        QString distortedFile;
        QString referenceFile;
        int distortedFirst = 0;
        int distortedLast = 0;
        int referenceFirst = 0;
        int referenceLast = 0;
        int threads = 0;
    };
    // startResult: the calculator's answer to the start.
    static void LogMeasurementStart(MeasurementRun const& run, core::ZeNoxCoreError startResult);
    // result: "finished", "stopped" or "failed".
    static void LogMeasurementEnd(MeasurementRun const& run, int framesMeasured, qint64 elapsedMs,
                                  QString const& result);

private:
    ZeNoxGuiSettings* m_settings = nullptr;
    ze::nox::core::ZeLog m_log;
    ZeNoxGuiProject m_project;
};

// The application object; null when there is none or it is of another class.
ZeNoxGuiApp* theApp();

} // namespace ze::nox::gui
