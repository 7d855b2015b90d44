#include "common/ze_nox_core_supported_features.h"

namespace ze::nox::core {

QList<AVPixelFormat> const ZeNoxCoreSupportedFeatures::m_pixFmts = {
    AV_PIX_FMT_NONE,        AV_PIX_FMT_YUV420P,     AV_PIX_FMT_NV12,     AV_PIX_FMT_P010LE,
    AV_PIX_FMT_YUV422P,     AV_PIX_FMT_YUYV422,     AV_PIX_FMT_YUV444P,  AV_PIX_FMT_YUV420P10LE,
    AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_YUVJ420P,
};

QList<AVCodecID> const ZeNoxCoreSupportedFeatures::m_ffmpegCodecs = {
    AV_CODEC_ID_MJPEG,
    AV_CODEC_ID_H264,
    AV_CODEC_ID_HEVC,
};

ZeNoxCoreSupportedFeatures::ZeNoxCoreSupportedFeatures(QObject* parent) : QObject(parent) {}

} // namespace ze::nox::core
