#pragma once

#include <QList>
#include <QObject>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
}

namespace ze::nox::core {

// Holder of what every decoder accepts; filled once at static initialisation, read-only after.
class ZeNoxCoreSupportedFeatures : public QObject
{
    Q_OBJECT
public:
    explicit ZeNoxCoreSupportedFeatures(QObject* parent = nullptr);

    // First entry AV_PIX_FMT_NONE lets a decoder whose format is not yet known pass the check.
    static QList<AVPixelFormat> const m_pixFmts;
    // Codecs the FFmpeg elementary-stream decoder tries, in this order.
    static QList<AVCodecID> const m_ffmpegCodecs;
};

} // namespace ze::nox::core
