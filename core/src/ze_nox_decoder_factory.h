#pragma once

#include "ze_nox_decoder.h"

#include <QList>

namespace ze::nox::core {

// Makes an unopened decoder for a stream type; type 0 (or above 6) finds the type by opening the
// file with each candidate in turn. The caller owns *decoder.
ZeNoxCoreError CreateNoxDecoder(ZeNoxDecoder** decoder, ZeStreamType type, QString const& fileName,
                                YuvRequiredParamsCallbackFn callback, bool forceDialog, QObject* parent);

// Opens a decoder; a raw YUV file without known geometry is asked for through the callback.
ZeNoxCoreError OpenNoxDecoderWrapper(ZeNoxDecoder* decoder, QString const& fileName,
                                     StreamParams const* params, YuvRequiredParamsCallbackFn callback,
                                     bool forceDialog);

// 0 when all decoders show pictures of the same visible size and pixel format; else 15, 16 or 17
// with the message set.
ZeNoxCoreError CheckFilesForConsistency(QList<ZeNoxDecoder const*> const& decoders, QString& message);

} // namespace ze::nox::core
