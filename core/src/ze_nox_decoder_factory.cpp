#include "ze_nox_decoder_factory.h"

#include "ffmpeg_utils.h"

#include <QFileInfo>

namespace ze::nox::core {

ZeNoxCoreError CheckFilesForConsistency(QList<ZeNoxDecoder const*> const& decoders, QString& message)
{
    if (decoders.size() <= 1)
        return ZE_NOX_CORE_OK;
    const ZeNoxDecoder* first = decoders.first();
    if (!first)
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    const QString firstName = QFileInfo(first->filename()).fileName();
    for (int i = 1; i < decoders.size(); ++i) {
        const ZeNoxDecoder* other = decoders[i];
        if (!other)
            return ZE_NOX_CORE_INVALID_PARAMETERS;
        const QString otherName = QFileInfo(other->filename()).fileName();
        if (other->width() != first->width() || other->height() != first->height()) {
            // One substitution pass: a file name holding "%3" stays as it is.
            message = QStringLiteral("%1: %2 (%3x%4) and %5 (%6x%7)")
                          .arg(ErrToString(ZE_NOX_CORE_DIFFERENT_RESOLUTIONS), firstName,
                               QString::number(first->width()), QString::number(first->height()),
                               otherName, QString::number(other->width()),
                               QString::number(other->height()));
            return ZE_NOX_CORE_DIFFERENT_RESOLUTIONS;
        }
        if (other->pixelFormat() != first->pixelFormat()) {
            message = QStringLiteral("%1: %2 (%3) and %4 (%5)")
                          .arg(ErrToString(ZE_NOX_CORE_DIFFERENT_PIXEL_FORMATS), firstName,
                               GetPixFmtName(first->pixelFormat()), otherName,
                               GetPixFmtName(other->pixelFormat()));
            return ZE_NOX_CORE_DIFFERENT_PIXEL_FORMATS;
        }
    }
    return ZE_NOX_CORE_OK;
}

} // namespace ze::nox::core
