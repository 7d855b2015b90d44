#pragma once

#include "common/ze_nox_core_error.h"

#include <QString>

namespace ze::nox::gui {

// Result of every fallible operation on the GUI side. The numbers are stable: callers compare
// against them and they travel between operations; only ErrToString turns one into text.
enum ZeNoxGuiError : int {
    ZE_NOX_GUI_OK = 0,
    ZE_NOX_GUI_UNKNOWN_ERROR = 1, // returned by nothing, no text of its own
    ZE_NOX_GUI_INTERNAL_ERROR = 2,
    ZE_NOX_GUI_INTERNAL_CORE_ERROR = 3,
    ZE_NOX_GUI_INVALID_ARGUMENT = 4,
    ZE_NOX_GUI_CODEC_NOT_FOUND = 5,
    ZE_NOX_GUI_STREAM_TYPE_NOT_DETECTED = 6,
    ZE_NOX_GUI_UNKNOWN_VIDEO_FORMAT = 7,
    ZE_NOX_GUI_FAILED_TO_CONSTRUCT = 8,
    ZE_NOX_GUI_DIFFERENT_RESOLUTIONS = 9,
    ZE_NOX_GUI_DIFFERENT_PIXEL_FORMATS = 10,
    ZE_NOX_GUI_FAILED_TO_OPEN_FILE = 11,
    ZE_NOX_GUI_FAILED_TO_PARSE_FILE = 12,
    ZE_NOX_GUI_FILE_DOES_NOT_EXIST = 13,
    ZE_NOX_GUI_CANCELED = 14, // the user cancelled: never reported in a message box
    ZE_NOX_GUI_UNSUPPORTED_VVC_CHROMA = 15,
    ZE_NOX_GUI_CORRUPTED_FRAMES = 16,
    ZE_NOX_GUI_RESOLUTION_CHANGE = 17,
    ZE_NOX_GUI_INVALID_PROJECT_FILE = 18,
    ZE_NOX_GUI_FILE_ALREADY_ADDED = 19,
    ZE_NOX_GUI_RD_CURVE_NAME_EXISTS = 20,
    ZE_NOX_GUI_RD_CURVE_NAME_EMPTY = 21,
    ZE_NOX_GUI_CODEC_NOT_SUPPORTED = 22,
    ZE_NOX_GUI_CHROMA_FORMAT_NOT_SUPPORTED = 23,
    ZE_NOX_GUI_CRITICAL_DECODING_ERROR = 24,
    ZE_NOX_GUI_RD_CURVE_NOT_FOUND = 25,
    ZE_NOX_GUI_UNSUPPORTED_FILE_FORMAT = 26,
    // Core results that the GUI shows with the core's own text.
    ZE_NOX_GUI_OPERATION_FAILED = 27,
    ZE_NOX_GUI_END_OF_FILE = 28,
    ZE_NOX_GUI_MORE_DATA_REQUIRED = 29,
    ZE_NOX_GUI_FAILED_TO_READ_FILE = 30,
    ZE_NOX_GUI_INVALID_PARAMETERS = 31,
};

// Text shown to the user; "Unknown error" for 1 and for any value outside the enumeration.
QString ErrToString(ZeNoxGuiError err);

// The GUI code of a core result; every core code has one. A value outside the core's codes is
// logged as a warning and becomes ZE_NOX_GUI_INTERNAL_CORE_ERROR.
ZeNoxGuiError ErrFromCoreError(ze::nox::core::ZeNoxCoreError err);

} // namespace ze::nox::gui
