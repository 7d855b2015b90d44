#pragma once

#include "decoders/ze_nox_decoder.h"

#include <QList>

#include <memory>

namespace ze::nox::core {

// Makes an unopened decoder for a stream type; type 0 (or above 6) finds the type by opening the
// file with each candidate in turn. The caller owns *decoder, which is set only with 0: a decoder
// that cannot be made is 3.
ZeNoxCoreError CreateNoxDecoder(ZeNoxDecoder** decoder, ZeStreamType type, QString const& fileName,
                                YuvRequiredParamsCallbackFn callback, bool forceDialog, QObject* parent);

// Opens a decoder; a raw YUV file without known geometry is asked for through the callback.
ZeNoxCoreError OpenNoxDecoderWrapper(ZeNoxDecoder* decoder, QString const& fileName, StreamParams const* params,
                                     YuvRequiredParamsCallbackFn callback, bool forceDialog);

// A decoder made and opened by CreateAndOpenNoxDecoder: set only when result is 0.
struct ZeOpenedNoxDecoder
{
    std::unique_ptr<ZeNoxDecoder> decoder;
    ZeNoxCoreError result = ZE_NOX_CORE_INTERNAL_ERROR;
};

// Makes a decoder for the file (CreateNoxDecoder) and opens it: through OpenNoxDecoderWrapper when
// askForRawParams is set, else with openFile and the record alone (nothing is asked). The decoder
// has no parent; one that failed to open is deleted.
ZeOpenedNoxDecoder CreateAndOpenNoxDecoder(ZeStreamType type, QString const& fileName, StreamParams const* params,
                                           YuvRequiredParamsCallbackFn callback, bool forceDialog,
                                           bool askForRawParams);

// 0 when all decoders show pictures of the same visible size and pixel format; else 15, 16 or 17
// with the message set.
ZeNoxCoreError CheckFilesForConsistency(QList<ZeNoxDecoder const*> const& decoders, QString& message);

} // namespace ze::nox::core
