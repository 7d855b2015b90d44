#include "common/ze_stream.h"

#include <QFileInfo>
#include <QHash>

namespace ze::nox::core {

QString GetStreamTypeName(ZeStreamType type)
{
    switch (type) {
    case ZE_STREAM_TYPE_YUV: return QStringLiteral("YUV");
    case ZE_STREAM_TYPE_AVC: return QStringLiteral("AVC");
    case ZE_STREAM_TYPE_HEVC: return QStringLiteral("HEVC");
    case ZE_STREAM_TYPE_AV1: return QStringLiteral("AV1");
    case ZE_STREAM_TYPE_VVC: return QStringLiteral("VVC");
    case ZE_STREAM_TYPE_MJPEG: return QStringLiteral("MJPEG");
    default: return QStringLiteral("Unknown");
    }
}

ZeStreamType GetStreamTypeByName(QString const& name)
{
    for (int t = ZE_STREAM_TYPE_YUV; t <= ZE_STREAM_TYPE_MJPEG; ++t) {
        if (GetStreamTypeName(static_cast<ZeStreamType>(t)) == name)
            return static_cast<ZeStreamType>(t);
    }
    return ZE_STREAM_TYPE_UNKNOWN;
}

ZeStreamType DetectStreamTypeByFilename(QString const& fileName)
{
    // Built once on first use; function-local statics are initialised thread-safely.
    static QHash<QString, ZeStreamType> const kSuffixes = {
        {QStringLiteral("yuv"), ZE_STREAM_TYPE_YUV},     {QStringLiteral("y4m"), ZE_STREAM_TYPE_YUV},
        {QStringLiteral("h264"), ZE_STREAM_TYPE_AVC},    {QStringLiteral("264"), ZE_STREAM_TYPE_AVC},
        {QStringLiteral("avc"), ZE_STREAM_TYPE_AVC},     {QStringLiteral("h265"), ZE_STREAM_TYPE_HEVC},
        {QStringLiteral("265"), ZE_STREAM_TYPE_HEVC},    {QStringLiteral("hevc"), ZE_STREAM_TYPE_HEVC},
        {QStringLiteral("av1"), ZE_STREAM_TYPE_AV1},     {QStringLiteral("obu"), ZE_STREAM_TYPE_AV1},
        {QStringLiteral("ivf"), ZE_STREAM_TYPE_AV1},     {QStringLiteral("vvc"), ZE_STREAM_TYPE_VVC},
        {QStringLiteral("mjpeg"), ZE_STREAM_TYPE_MJPEG},
    };
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return kSuffixes.value(suffix, ZE_STREAM_TYPE_UNKNOWN);
}

AVCodecID GetAvCodecIdFromStreamType(ZeStreamType type)
{
    switch (type) {
    case ZE_STREAM_TYPE_AVC: return AV_CODEC_ID_H264;
    case ZE_STREAM_TYPE_HEVC: return AV_CODEC_ID_HEVC;
    case ZE_STREAM_TYPE_AV1: return AV_CODEC_ID_AV1;
    case ZE_STREAM_TYPE_MJPEG: return AV_CODEC_ID_MJPEG;
    default: return AV_CODEC_ID_NONE;
    }
}

ZeStreamType GetStreamTypeFromAvCodecId(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_MJPEG: return ZE_STREAM_TYPE_MJPEG;
    case AV_CODEC_ID_H264: return ZE_STREAM_TYPE_AVC;
    case AV_CODEC_ID_HEVC: return ZE_STREAM_TYPE_HEVC;
    case AV_CODEC_ID_AV1: return ZE_STREAM_TYPE_AV1;
    default: return ZE_STREAM_TYPE_UNKNOWN;
    }
}

} // namespace ze::nox::core
