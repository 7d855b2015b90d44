#include "decoders/ze_nox_decoder_factory.h"

#include "decoders/ffmpeg_utils.h"
#include "decoders/ze_av1_decoder.h"
#include "decoders/ze_ffmpeg_decoder.h"
#include "decoders/ze_vvc_decoder.h"
#include "decoders/ze_yuv_decoder.h"
#include "readers/annexb.h"
#include "readers/ivf.h"
#include "readers/section5.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
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

// The type of the NAL unit whose header starts at h (two bytes available): the unit types with
// which a conforming stream can begin (parameter sets, delimiters, SEI), checked with the header
// bits each standard fixes, so that the three header layouts do not take each other's units.
ZeStreamType NalStreamType(uint8_t const* h)
{
    if (h[0] & 0x80)
        return ZE_STREAM_TYPE_UNKNOWN; // forbidden_zero_bit
    // H.264: one byte; SEI and delimiters have nal_ref_idc 0, parameter sets not.
    int const avcType = h[0] & 0x1F;
    int const refIdc = h[0] >> 5;
    if (((avcType == 6 || avcType == 9) && refIdc == 0) || ((avcType == 7 || avcType == 8) && refIdc != 0))
        return ZE_STREAM_TYPE_AVC;
    // H.265: type in bits 1..6, layer 0, TemporalId + 1 at least 1.
    int const hevcType = (h[0] >> 1) & 0x3F;
    bool const hevcLayer0 = (h[0] & 1) == 0 && (h[1] >> 3) == 0;
    if (hevcLayer0 && (h[1] & 7) != 0 && ((hevcType >= 32 && hevcType <= 35) || hevcType == 39))
        return ZE_STREAM_TYPE_HEVC;
    // H.266: reserved bit and layer id 0 in the first byte, the type in the high bits of the second.
    int const vvcType = h[1] >> 3;
    if (h[0] == 0 && (h[1] & 7) != 0 &&
        ((vvcType >= 12 && vvcType <= 17) || vvcType == 19 || vvcType == 20 || vvcType == 23))
        return ZE_STREAM_TYPE_VVC;
    return ZE_STREAM_TYPE_UNKNOWN;
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

ZeStreamType DetectStreamTypeByContent(QString const& fileName)
{
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return ZE_STREAM_TYPE_UNKNOWN;
    QByteArray head = file.read(1024);
    if (head.startsWith("YUV4MPEG2"))
        return ZE_STREAM_TYPE_YUV;
    if (head.startsWith("\xFF\xD8\xFF"))
        return ZE_STREAM_TYPE_MJPEG;
    int const got = head.size();
    // The AV1 probes read 1024 bytes; a shorter file is probed against zeros after its end.
    head.append(QByteArray(1024 - got, '\0'));
    auto const* bytes = reinterpret_cast<uint8_t const*>(head.constData());
    if (got > 0 && (ivf_probe(bytes) || annexb_probe(bytes) || section5_probe(bytes)))
        return ZE_STREAM_TYPE_AV1;
    // Annex B byte stream: leading zero bytes, then 00 00 01 and the first NAL unit header.
    int i = 0;
    while (i < got && i < 64 && bytes[i] == 0)
        ++i;
    if (i < 2 || i + 3 > got || bytes[i] != 1)
        return ZE_STREAM_TYPE_UNKNOWN;
    return NalStreamType(bytes + i + 1);
}

qint64 CountPicturesByContent(QString const& fileName, ZeStreamType type)
{
    if (type != ZE_STREAM_TYPE_AVC && type != ZE_STREAM_TYPE_HEVC && type != ZE_STREAM_TYPE_VVC)
        return -1;
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return -1;
    // Whether the NAL unit whose header starts at h (three bytes: the header and the first byte
    // after it) begins a picture.
    auto startsPicture = [type](uint8_t const* h) {
        switch (type) {
        case ZE_STREAM_TYPE_AVC: {
            int const t = h[0] & 0x1F;
            return (t == 1 || t == 5) && (h[1] & 0x80); // first_mb_in_slice 0
        }
        case ZE_STREAM_TYPE_HEVC: {
            int const t = (h[0] >> 1) & 0x3F;
            return (t <= 9 || (t >= 16 && t <= 21)) && (h[2] & 0x80); // first_slice_segment_in_pic_flag
        }
        default: {
            int const t = h[1] >> 3;
            // A picture header unit, or a slice carrying its picture header.
            return t == 19 || (t <= 11 && (h[2] & 0x80));
        }
        }
    };
    constexpr qint64 kChunk = 1 << 20;
    QByteArray carry; // the last bytes of the previous chunk, for units that straddle two
    qint64 pictures = 0;
    for (;;) {
        QByteArray chunk = file.read(kChunk);
        if (chunk.isEmpty())
            break;
        QByteArray const data = carry + chunk;
        auto const* b = reinterpret_cast<uint8_t const*>(data.constData());
        int const n = data.size();
        int i = 0;
        for (; i + 6 <= n; ++i) {
            if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1)
                continue;
            if (startsPicture(b + i + 3))
                ++pictures;
            i += 2;
        }
        carry = data.mid(i);
    }
    return pictures;
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
