#include "app/ze_nox_gui_errors.h"

#include <QDebug>

namespace ze::nox::gui {

QString ErrToString(ZeNoxGuiError err)
{
    switch (err) {
    case ZE_NOX_GUI_OK: return QStringLiteral("Ok");
    case ZE_NOX_GUI_INTERNAL_ERROR: return QStringLiteral("Internal error");
    case ZE_NOX_GUI_INTERNAL_CORE_ERROR: return QStringLiteral("Internal core error");
    case ZE_NOX_GUI_INVALID_ARGUMENT: return QStringLiteral("Invalid argument");
    case ZE_NOX_GUI_CODEC_NOT_FOUND: return QStringLiteral("Codec not found");
    case ZE_NOX_GUI_STREAM_TYPE_NOT_DETECTED: return QStringLiteral("Stream type was not detected");
    case ZE_NOX_GUI_UNKNOWN_VIDEO_FORMAT: return QStringLiteral("Unknown video format");
    case ZE_NOX_GUI_FAILED_TO_CONSTRUCT: return QStringLiteral("Failed to construct an object");
    case ZE_NOX_GUI_DIFFERENT_RESOLUTIONS: return QStringLiteral("Files have different resolutions");
    case ZE_NOX_GUI_DIFFERENT_PIXEL_FORMATS: return QStringLiteral("Files have different pixel formats");
    case ZE_NOX_GUI_FAILED_TO_OPEN_FILE: return QStringLiteral("Failed to open a file on disk");
    case ZE_NOX_GUI_FAILED_TO_PARSE_FILE: return QStringLiteral("Failed to parse a file");
    case ZE_NOX_GUI_FILE_DOES_NOT_EXIST: return QStringLiteral("File doesn't exist");
    case ZE_NOX_GUI_CANCELED: return QStringLiteral("User has canceled the operation");
    case ZE_NOX_GUI_UNSUPPORTED_VVC_CHROMA:
        return QStringLiteral("Unsupported VVC chroma subsampling. Only 4:2:0 and 4:0:0 are supported for VVC");
    case ZE_NOX_GUI_CORRUPTED_FRAMES: return QStringLiteral("File contains corrupted frame(s)");
    case ZE_NOX_GUI_RESOLUTION_CHANGE:
        return QStringLiteral(
            "Resolution and/or chroma format changes during the stream. This functionality is not supported");
    case ZE_NOX_GUI_INVALID_PROJECT_FILE: return QStringLiteral("Invalid project file");
    case ZE_NOX_GUI_FILE_ALREADY_ADDED: return QStringLiteral("File has been already added to the project");
    case ZE_NOX_GUI_RD_CURVE_NAME_EXISTS: return QStringLiteral("RD Curve with the same name already exists");
    case ZE_NOX_GUI_RD_CURVE_NAME_EMPTY: return QStringLiteral("RD Curve name cannot be empty");
    case ZE_NOX_GUI_CODEC_NOT_SUPPORTED: return QStringLiteral("Codec not supported");
    case ZE_NOX_GUI_CHROMA_FORMAT_NOT_SUPPORTED: return QStringLiteral("Chroma format not supported");
    case ZE_NOX_GUI_CRITICAL_DECODING_ERROR: return QStringLiteral("Critical decoding error");
    case ZE_NOX_GUI_RD_CURVE_NOT_FOUND: return QStringLiteral("RD Curve with this name does not exist");
    case ZE_NOX_GUI_UNSUPPORTED_FILE_FORMAT:
        return QStringLiteral("Unsupported file format. Container files (mp4, mkv, ...) need their video stream "
                              "extracted first.");
    case ZE_NOX_GUI_OPERATION_FAILED: return ze::nox::core::ErrToString(ze::nox::core::ZE_NOX_CORE_OPERATION_FAILED);
    case ZE_NOX_GUI_END_OF_FILE: return ze::nox::core::ErrToString(ze::nox::core::ZE_NOX_CORE_END_OF_FILE);
    case ZE_NOX_GUI_MORE_DATA_REQUIRED:
        return ze::nox::core::ErrToString(ze::nox::core::ZE_NOX_CORE_MORE_DATA_REQUIRED);
    case ZE_NOX_GUI_FAILED_TO_READ_FILE:
        return ze::nox::core::ErrToString(ze::nox::core::ZE_NOX_CORE_FAILED_TO_READ_FILE);
    case ZE_NOX_GUI_INVALID_PARAMETERS:
        return ze::nox::core::ErrToString(ze::nox::core::ZE_NOX_CORE_INVALID_PARAMETERS);
    case ZE_NOX_GUI_UNKNOWN_ERROR: break;
    }
    return QStringLiteral("Unknown error");
}

ZeNoxGuiError ErrFromCoreError(ze::nox::core::ZeNoxCoreError err)
{
    using namespace ze::nox::core;
    switch (err) {
    case ZE_NOX_CORE_OK: return ZE_NOX_GUI_OK;
    case ZE_NOX_CORE_NOT_OPENED:
    case ZE_NOX_CORE_INTERNAL_ERROR: return ZE_NOX_GUI_INTERNAL_CORE_ERROR;
    case ZE_NOX_CORE_CODEC_NOT_FOUND: return ZE_NOX_GUI_CODEC_NOT_FOUND;
    case ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED: return ZE_NOX_GUI_STREAM_TYPE_NOT_DETECTED;
    case ZE_NOX_CORE_FAILED_TO_OPEN_FILE: return ZE_NOX_GUI_FAILED_TO_OPEN_FILE;
    case ZE_NOX_CORE_FAILED_TO_PARSE_FILE: return ZE_NOX_GUI_FAILED_TO_PARSE_FILE;
    case ZE_NOX_CORE_UNKNOWN_VIDEO_FORMAT: return ZE_NOX_GUI_UNKNOWN_VIDEO_FORMAT;
    case ZE_NOX_CORE_CANCELED: return ZE_NOX_GUI_CANCELED;
    case ZE_NOX_CORE_UNSUPPORTED_VVC_CHROMA: return ZE_NOX_GUI_UNSUPPORTED_VVC_CHROMA;
    case ZE_NOX_CORE_CORRUPTED_FRAMES: return ZE_NOX_GUI_CORRUPTED_FRAMES;
    case ZE_NOX_CORE_DIFFERENT_RESOLUTIONS: return ZE_NOX_GUI_DIFFERENT_RESOLUTIONS;
    case ZE_NOX_CORE_DIFFERENT_PIXEL_FORMATS: return ZE_NOX_GUI_DIFFERENT_PIXEL_FORMATS;
    case ZE_NOX_CORE_RESOLUTION_CHANGE: return ZE_NOX_GUI_RESOLUTION_CHANGE;
    case ZE_NOX_CORE_CODEC_NOT_SUPPORTED: return ZE_NOX_GUI_CODEC_NOT_SUPPORTED;
    case ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED: return ZE_NOX_GUI_CHROMA_FORMAT_NOT_SUPPORTED;
    case ZE_NOX_CORE_FAILED_TO_CONSTRUCT: return ZE_NOX_GUI_FAILED_TO_CONSTRUCT;
    case ZE_NOX_CORE_CRITICAL_DECODING_ERROR: return ZE_NOX_GUI_CRITICAL_DECODING_ERROR;
    case ZE_NOX_CORE_OPERATION_FAILED: return ZE_NOX_GUI_OPERATION_FAILED;
    case ZE_NOX_CORE_END_OF_FILE: return ZE_NOX_GUI_END_OF_FILE;
    case ZE_NOX_CORE_MORE_DATA_REQUIRED: return ZE_NOX_GUI_MORE_DATA_REQUIRED;
    case ZE_NOX_CORE_FAILED_TO_READ_FILE: return ZE_NOX_GUI_FAILED_TO_READ_FILE;
    case ZE_NOX_CORE_INVALID_PARAMETERS: return ZE_NOX_GUI_INVALID_PARAMETERS;
    default: break;
    }
    qWarning().noquote() << QStringLiteral("Unhandled core error %1").arg(static_cast<int>(err));
    return ZE_NOX_GUI_INTERNAL_CORE_ERROR;
}

} // namespace ze::nox::gui
