#include "decoders/ze_nox_decoder_factory.h"

#include "decoders/ffmpeg_utils.h"
#include "decoders/ze_av1_decoder.h"
#include "decoders/ze_ffmpeg_decoder.h"
#include "decoders/ze_vvc_decoder.h"
#include "decoders/ze_yuv_decoder.h"

#include <QDebug>
#include <QFileInfo>

#include <memory>
#include <new>

namespace ze::nox::core {

namespace {

// An unopened decoder of a known type; null for a type without a decoder or when allocation fails.
ZeNoxDecoder* NewDecoder(ZeStreamType type, QObject* parent)
{
    switch (type) {
    case ZE_STREAM_TYPE_YUV: return new (std::nothrow) ZeYuvDecoder(parent);
    case ZE_STREAM_TYPE_AV1: return new (std::nothrow) ZeAv1Decoder(parent);
    case ZE_STREAM_TYPE_VVC: return new (std::nothrow) ZeVvcDecoder(parent);
    case ZE_STREAM_TYPE_AVC:
    case ZE_STREAM_TYPE_HEVC:
    case ZE_STREAM_TYPE_MJPEG: return new (std::nothrow) ZeFfmpegDecoder(type, parent);
    default: return nullptr;
    }
}

// Asks the callback for a raw YUV file's parameters and opens the decoder again with them.
// Returns the callback's answer when it is not 0, else the result of the second open: the
// decoder's own code, so that the caller can say why the parameters did not open the file.
ZeNoxCoreError AskAndReopenYuv(ZeYuvDecoder* yuv, QString const& fileName, YuvRequiredParamsCallbackFn callback,
                               bool forceDialog)
{
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int frameSize = 0;
    int chromaOrder = 0;
    ImageInfo::IMG_TYPE chromaFormat = ImageInfo::IMG_420;
    YUVFile::Formats planeOrder = YUVFile::FORMAT_PLANAR;
    CropInfo crop;
    const ZeNoxCoreError answer = callback(fileName, width, height, bitDepth, chromaFormat, planeOrder, chromaOrder,
                                           frameSize, crop, forceDialog);
    if (answer != ZE_NOX_CORE_OK)
        return answer;
    yuv->setRequiredYuvParams(width, height, bitDepth, chromaFormat, planeOrder, frameSize, crop, chromaOrder);
    ZeNoxCoreError result = yuv->openFile(fileName, nullptr);
    // Answers without a frame size leave the decoder asking again: they are unusable parameters.
    if (result == ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED)
        result = ZE_NOX_CORE_INVALID_PARAMETERS;
    if (result != ZE_NOX_CORE_OK) {
        yuv->closeFile();
        qWarning().noquote() << QStringLiteral("Raw YUV file %1 (%2x%3, %4 bit, chroma format %5, layout %6):")
                                    .arg(fileName)
                                    .arg(width)
                                    .arg(height)
                                    .arg(bitDepth)
                                    .arg(static_cast<int>(chromaFormat))
                                    .arg(static_cast<int>(planeOrder))
                             << ErrToString(result);
    }
    return result;
}

// The decoder into *decoder, or 3 when it cannot be made.
ZeNoxCoreError MakeDecoder(ZeStreamType type, QObject* parent, ZeNoxDecoder** decoder)
{
    *decoder = NewDecoder(type, parent);
    return *decoder ? ZE_NOX_CORE_OK : ZE_NOX_CORE_INTERNAL_ERROR;
}

} // namespace

ZeNoxCoreError CreateNoxDecoder(ZeNoxDecoder** decoder, ZeStreamType type, QString const& fileName,
                                YuvRequiredParamsCallbackFn callback, bool forceDialog, QObject* parent)
{
    if (!decoder)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    *decoder = nullptr;
    if (type >= ZE_STREAM_TYPE_YUV && type <= ZE_STREAM_TYPE_MJPEG)
        return MakeDecoder(type, parent, decoder);

    // Detection: the first candidate that opens the file wins; only "not detected" moves on.
    for (ZeStreamType candidate : {ZE_STREAM_TYPE_AVC, ZE_STREAM_TYPE_VVC, ZE_STREAM_TYPE_AV1, ZE_STREAM_TYPE_YUV}) {
        std::unique_ptr<ZeNoxDecoder> probe(NewDecoder(candidate, nullptr));
        if (!probe || !callback)
            return ZE_NOX_CORE_INTERNAL_ERROR;
        ZeNoxCoreError result = probe->openFile(fileName, nullptr);
        if (result == ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED && candidate == ZE_STREAM_TYPE_YUV)
            result = AskAndReopenYuv(static_cast<ZeYuvDecoder*>(probe.get()), fileName, callback, forceDialog);
        if (result == ZE_NOX_CORE_OK) {
            probe.reset();
            return MakeDecoder(candidate, nullptr, decoder);
        }
        if (result != ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED)
            return result;
    }
    return ZE_NOX_CORE_UNKNOWN_VIDEO_FORMAT;
}

ZeNoxCoreError OpenNoxDecoderWrapper(ZeNoxDecoder* decoder, QString const& fileName, StreamParams const* params,
                                     YuvRequiredParamsCallbackFn callback, bool forceDialog)
{
    if (!decoder || !callback)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    const ZeNoxCoreError result = decoder->openFile(fileName, params);
    auto* yuv = dynamic_cast<ZeYuvDecoder*>(decoder);
    if (result != ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED || !yuv)
        return result;
    return AskAndReopenYuv(yuv, fileName, callback, forceDialog);
}

ZeOpenedNoxDecoder CreateAndOpenNoxDecoder(ZeStreamType type, QString const& fileName, StreamParams const* params,
                                           YuvRequiredParamsCallbackFn callback, bool forceDialog, bool askForRawParams)
{
    ZeOpenedNoxDecoder opened;
    ZeNoxDecoder* made = nullptr;
    opened.result = CreateNoxDecoder(&made, type, fileName, callback, forceDialog, nullptr);
    std::unique_ptr<ZeNoxDecoder> decoder(made);
    if (opened.result != ZE_NOX_CORE_OK)
        return opened;
    opened.result = askForRawParams ? OpenNoxDecoderWrapper(decoder.get(), fileName, params, callback, forceDialog)
                                    : decoder->openFile(fileName, params);
    if (opened.result == ZE_NOX_CORE_OK)
        opened.decoder = std::move(decoder);
    return opened;
}

ZeNoxCoreError CheckFilesForConsistency(QList<ZeNoxDecoder const*> const& decoders, QString& message)
{
    if (decoders.size() <= 1)
        return ZE_NOX_CORE_OK;
    ZeNoxDecoder const* first = decoders.first();
    if (!first)
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    const QString firstName = QFileInfo(first->filename()).fileName();
    for (int i = 1; i < decoders.size(); ++i) {
        ZeNoxDecoder const* other = decoders[i];
        if (!other)
            return ZE_NOX_CORE_INVALID_PARAMETERS;
        const QString otherName = QFileInfo(other->filename()).fileName();
        if (other->width() != first->width() || other->height() != first->height()) {
            // One substitution pass: a file name holding "%3" stays as it is.
            message = QStringLiteral("%1: %2 (%3x%4) and %5 (%6x%7)")
                          .arg(ErrToString(ZE_NOX_CORE_DIFFERENT_RESOLUTIONS), firstName,
                               QString::number(first->width()), QString::number(first->height()), otherName,
                               QString::number(other->width()), QString::number(other->height()));
            return ZE_NOX_CORE_DIFFERENT_RESOLUTIONS;
        }
        if (other->pixelFormat() != first->pixelFormat()) {
            message = QStringLiteral("%1: %2 (%3) and %4 (%5)")
                          .arg(ErrToString(ZE_NOX_CORE_DIFFERENT_PIXEL_FORMATS), firstName,
                               GetPixFmtName(first->pixelFormat()), otherName, GetPixFmtName(other->pixelFormat()));
            return ZE_NOX_CORE_DIFFERENT_PIXEL_FORMATS;
        }
    }
    return ZE_NOX_CORE_OK;
}

} // namespace ze::nox::core
