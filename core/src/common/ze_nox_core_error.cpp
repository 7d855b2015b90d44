#include "common/ze_nox_core_error.h"

namespace ze::nox::core {

QString ErrToString(ZeNoxCoreError err)
{
    // Index = code; an empty entry (code 2) has no text of its own.
    static char const* const kTexts[] = {
        "Ok",
        "Operation failed",
        nullptr,
        "Internal error",
        "Codec not found",
        "Stream type was not detected",
        "Failed to open a file",
        "Failed to parse a file",
        "Unknown video format",
        "User has canceled the operation",
        "End of file reached",
        "More data is required",
        "Unsupported VVC chroma subsampling. Only 4:2:0 and 4:0:0 are supported for VVC",
        "Failed to read a file",
        "File has corrupted frame(s)",
        "Invalid parameters provided",
        "Files have different resolutions",
        "Files have different pixel formats",
        "Resolution and/or chroma format changes during the stream",
        "Codec not supported",
        "Chroma format not supported",
        "Failed to construct an object",
        "Critical decoding error",
    };
    int const code = static_cast<int>(err);
    int const count = static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]));
    if (code < 0 || code >= count || kTexts[code] == nullptr)
        return QStringLiteral("Unknown error");
    return QString::fromLatin1(kTexts[code]);
}

} // namespace ze::nox::core
