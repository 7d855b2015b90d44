#include "app/ze_nox_gui_app.h"

#include "decoders/ffmpeg_utils.h"
#include "dialogs/yuv_parameters_dlg.h"
#include "decoders/ze_nox_decoder.h"
#include "app/ze_nox_gui_settings.h"
#include "ze_nox_gui_version.h"
#include "common/ze_stream.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QSysInfo>
#include <QUrl>

#include <climits>

// The compiled-in images live in the static GUI library: registering them here makes the linker
// keep them. Outside any namespace, as the registration function is global.
static void sInitResources()
{
    Q_INIT_RESOURCE(seravin);
}

namespace ze::nox::gui {

namespace {

// The log folder: "logs" below the working directory the program was started from.
const QString sLogDir = QStringLiteral("%1/logs").arg(QDir::currentPath());

const QString kOrganizationDomain = QStringLiteral("orlenta.com");
const QString sDocumentationUrl = QStringLiteral("https://www.orlenta.com/seravin/user-guide");

} // namespace

ZeNoxGuiApp::ZeNoxGuiApp(int& argc, char** argv)
    : QApplication(argc, argv), m_log(false, sLogDir, QStringLiteral("%1.log").arg(QStringLiteral("seravin"))),
      m_project(this)
{
    sInitResources();

    setOrganizationName(QStringLiteral("Orlenta"));
    setOrganizationDomain(kOrganizationDomain);
    setApplicationName(QStringLiteral("Seravin"));
    setApplicationVersion(QStringLiteral("%1.%2.%3.%4 %5")
                              .arg(SERAVIN_VERSION_MAJOR)
                              .arg(SERAVIN_VERSION_MINOR)
                              .arg(SERAVIN_VERSION_PATCH)
                              .arg(SERAVIN_BUILD_NUMBER)
                              .arg(QStringLiteral(SERAVIN_VERSION_SUFFIX)));
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.ico")));
    setQuitOnLastWindowClosed(true);

    // The store is addressed by the names set above.
    m_settings = new ZeNoxGuiSettings;

    infoLog(QString());
    infoLog(QString());
    infoLog(QString());
    infoLog(QString(80, QLatin1Char('=')));
    infoLog(QStringLiteral("Application started"));
    infoLog(QStringLiteral("  %1 by %2 (%3)").arg(applicationName(), organizationName(), organizationDomain()));
    infoLog(QStringLiteral("  Version: %1").arg(applicationVersion()));
    infoLog(QStringLiteral("  Copyright (c) %1 %2. All rights reserved.")
                .arg(SERAVIN_COPYRIGHT_YEAR)
                .arg(organizationName()));
    infoLog(QStringLiteral("System information: %1, %2 %3 %4")
                .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                     QSysInfo::currentCpuArchitecture()));
    infoLog(QString());
}

ZeNoxGuiApp::~ZeNoxGuiApp()
{
    delete m_settings;
    m_settings = nullptr;
    infoLog(QString());
    infoLog(QStringLiteral("Application ended"));
}

void ZeNoxGuiApp::debugLog(QString const& text, QString const& context)
{
    m_log.log(ze::nox::core::ZE_LOG_MSG_DEBUG, text, context);
}

void ZeNoxGuiApp::infoLog(QString const& text, QString const& context)
{
    m_log.log(ze::nox::core::ZE_LOG_MSG_INFO, text, context);
}

void ZeNoxGuiApp::warningLog(QString const& text, QString const& context)
{
    m_log.log(ze::nox::core::ZE_LOG_MSG_WARNING, text, context);
}

void ZeNoxGuiApp::errorLog(QString const& text, QString const& context)
{
    m_log.log(ze::nox::core::ZE_LOG_MSG_ERROR, text, context);
}

QString ZeNoxGuiApp::vmafModelsDir() const
{
    return QStringLiteral("%1/models").arg(QCoreApplication::applicationDirPath());
}

QString ZeNoxGuiApp::documentationUrl()
{
    return sDocumentationUrl;
}

bool ZeNoxGuiApp::openDocumentation() const
{
    bool const opened = QDesktopServices::openUrl(QUrl(sDocumentationUrl, QUrl::TolerantMode));
    if (!opened)
        const_cast<ZeNoxGuiApp*>(this)->warningLog(
            QStringLiteral("Documentation: no browser could open %1").arg(sDocumentationUrl));
    return opened;
}

ze::nox::core::ZeNoxCoreError ZeNoxGuiApp::GetYuvRequiredParams(QString const& fileName, int& width, int& height,
                                                                int& bitDepth, ImageInfo::IMG_TYPE& imgType,
                                                                YUVFile::Formats& planeOrder, int& chromaOrder,
                                                                int& frameSize, CropInfo& crop, bool forceDialog)
{
    using namespace ze::nox::core;
    width = 0;
    height = 0;
    bitDepth = 0;
    imgType = ImageInfo::IMG_420;
    planeOrder = YUVFile::FORMAT_PLANAR;
    chromaOrder = 0;
    frameSize = 0;
    crop = CropInfo{};

    ZeNoxGuiApp* const app = theApp();
    if (app == nullptr || app->settings() == nullptr)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    ZeNoxGuiSettings* const settings = app->settings();

    bool const complete = settings->getYuvFileSavedParameters(fileName, width, height, bitDepth, imgType, planeOrder,
                                                              frameSize, crop, &chromaOrder);
    if (!forceDialog && complete && width > 0 && height > 0 && bitDepth > 0)
        return ZE_NOX_CORE_OK;

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return ZE_NOX_CORE_FAILED_TO_OPEN_FILE;

    YUVParametersDialog dlg(nullptr, &file, width, height, bitDepth, imgType, planeOrder, crop, chromaOrder);
    if (dlg.exec() != QDialog::Accepted)
        return ZE_NOX_CORE_CANCELED;

    width = dlg.m_width;
    height = dlg.m_height;
    bitDepth = dlg.m_bitDepth;
    imgType = dlg.m_colorFormat;
    planeOrder = dlg.m_format;
    chromaOrder = dlg.m_chromaOrder;
    // The dialog counts in 64 bits; a size the int cannot hold reads as none, which the decoder
    // refuses, rather than as a wrapped number.
    frameSize = (dlg.m_frameSize > 0 && dlg.m_frameSize <= INT_MAX) ? static_cast<int>(dlg.m_frameSize) : 0;
    crop = dlg.m_crop;
    settings->saveYuvFileSavedParameters(fileName, width, height, bitDepth, imgType, planeOrder, frameSize, crop,
                                         chromaOrder);
    return ZE_NOX_CORE_OK;
}

ZeNoxGuiApp* theApp()
{
    return dynamic_cast<ZeNoxGuiApp*>(QCoreApplication::instance());
}

// ---- log lines of actions ----

namespace {

void InfoLine(QString const& text)
{
    if (ZeNoxGuiApp* app = theApp())
        app->infoLog(text);
}

void WarningLine(QString const& text)
{
    if (ZeNoxGuiApp* app = theApp())
        app->warningLog(text);
}

QString SizeText(QString const& fileName)
{
    QFileInfo const info(fileName);
    return info.exists() ? QStringLiteral("%1 bytes").arg(info.size()) : QStringLiteral("no such file");
}

QString RunText(ZeNoxGuiApp::MeasurementRun const& run)
{
    return QStringLiteral("%1 against %2 | frames %3-%4 against %5-%6 | %7 threads")
        .arg(run.distortedFile, run.referenceFile)
        .arg(run.distortedFirst)
        .arg(run.distortedLast)
        .arg(run.referenceFirst)
        .arg(run.referenceLast)
        .arg(run.threads);
}

} // namespace

void ZeNoxGuiApp::LogFileOpen(QString const& fileName, core::ZeNoxDecoder const* dec, ZeNoxGuiError result)
{
    if (result == ZE_NOX_GUI_OK && dec) {
        InfoLine(QStringLiteral("File opened: %1 | %2 | %3 | %4x%5 %6 | %7 frames")
                     .arg(fileName, core::GetStreamTypeName(dec->streamType()), SizeText(fileName))
                     .arg(dec->width())
                     .arg(dec->height())
                     .arg(core::GetPixFmtName(dec->pixelFormat()))
                     .arg(dec->getOriginalFrameCount()));
        return;
    }
    WarningLine(QStringLiteral("File not opened: %1 | %2 | %3").arg(fileName, SizeText(fileName), ErrToString(result)));
}

void ZeNoxGuiApp::LogProjectLoad(QString const& fileName, ZeNoxGuiError result, int fileCount, int rdCurveCount)
{
    if (result == ZE_NOX_GUI_OK)
        InfoLine(QStringLiteral("Project loaded: %1 | %2 files, %3 RD curves")
                     .arg(fileName)
                     .arg(fileCount)
                     .arg(rdCurveCount));
    else
        WarningLine(QStringLiteral("Project not loaded: %1 | %2").arg(fileName, ErrToString(result)));
}

void ZeNoxGuiApp::LogProjectSave(QString const& fileName, QString const& error)
{
    if (error.isEmpty())
        InfoLine(QStringLiteral("Project saved: %1").arg(fileName));
    else
        WarningLine(QStringLiteral("Project not saved: %1 | %2").arg(fileName, error));
}

void ZeNoxGuiApp::LogMeasurementStart(MeasurementRun const& run, core::ZeNoxCoreError startResult)
{
    if (startResult == core::ZE_NOX_CORE_OK)
        InfoLine(QStringLiteral("Measurement started: %1").arg(RunText(run)));
    else
        WarningLine(
            QStringLiteral("Measurement not started: %1 | %2").arg(RunText(run), core::ErrToString(startResult)));
}

void ZeNoxGuiApp::LogMeasurementEnd(MeasurementRun const& run, int framesMeasured, qint64 elapsedMs,
                                    QString const& result)
{
    double const seconds = elapsedMs / 1000.0;
    double const fps = elapsedMs > 0 ? framesMeasured / seconds : 0.0;
    QString const text = QStringLiteral("Measurement ended: %1 | %2 frames measured in %3 s, %4 frames/s | %5")
                             .arg(RunText(run))
                             .arg(framesMeasured)
                             .arg(seconds, 0, 'f', 2)
                             .arg(fps, 0, 'f', 1)
                             .arg(result);
    if (result == QLatin1String("failed"))
        WarningLine(text);
    else
        InfoLine(text);
}

} // namespace ze::nox::gui
