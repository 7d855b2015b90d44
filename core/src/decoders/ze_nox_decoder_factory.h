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

// The stream type that the file's first bytes show: YUV for the YUV4MPEG2 signature, AV1 for an
// IVF, Annex B or Section 5 start, MJPEG for a JPEG start of image, AVC, HEVC or VVC for a start
// code followed by the header of a NAL unit that begins such a stream. 0 when none of these
// signatures is there (a headerless raw YUV file, an empty or unreadable file). Reads at most the
// first kilobyte.
ZeStreamType DetectStreamTypeByContent(QString const& fileName);

// Pictures in an H.264, H.265 or H.266 byte stream, counted from the NAL units that begin a
// picture (a slice that starts one, a picture header), without decoding; -1 for other types or
// an unreadable file. Reads the whole file.
qint64 CountPicturesByContent(QString const& fileName, ZeStreamType type);

// 0 when all decoders show pictures of the same visible size and pixel format; else 15, 16 or 17
// with the message set.
ZeNoxCoreError CheckFilesForConsistency(QList<ZeNoxDecoder const*> const& decoders, QString& message);

} // namespace ze::nox::core
