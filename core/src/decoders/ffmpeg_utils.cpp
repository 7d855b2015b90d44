#include "decoders/ffmpeg_utils.h"

#include <algorithm>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ze::nox::core {

int GetBitDepthFromAvPixFmt(AVPixelFormat fmt)
{
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(fmt);
    if (!desc)
        return 0;
    int depth = 0;
    for (int i = 0; i < std::min<int>(desc->nb_components, 4); ++i)
        depth = std::max(depth, std::max(desc->comp[i].depth, 0));
    return depth;
}

QString GetPixFmtName(AVPixelFormat fmt)
{
    switch (fmt) {
    case AV_PIX_FMT_YUV420P: return QStringLiteral("YUV 4:2:0 8 bit");
    case AV_PIX_FMT_YUYV422: return QStringLiteral("YUV 4:2:2 8 bit packed");
    case AV_PIX_FMT_YUV422P: return QStringLiteral("YUV 4:2:2 8 bit");
    case AV_PIX_FMT_YUV444P: return QStringLiteral("YUV 4:4:4 8 bit");
    case AV_PIX_FMT_YUVJ420P: return QStringLiteral("YUVJ 4:2:0 8 bit");
    case AV_PIX_FMT_NV12: return QStringLiteral("NV12 8 bit");
    case AV_PIX_FMT_YUV420P10LE: return QStringLiteral("YUV 4:2:0 10 bit");
    case AV_PIX_FMT_YUV422P10LE: return QStringLiteral("YUV 4:2:2 10 bit");
    case AV_PIX_FMT_YUV444P10LE: return QStringLiteral("YUV 4:4:4 10 bit");
    case AV_PIX_FMT_P010LE: return QStringLiteral("NV12 10 bit");
    default: break;
    }
    if (!av_pix_fmt_desc_get(fmt))
        return QStringLiteral("-");
    return GetPixFmtAvName(fmt);
}

QString GetPixFmtAvName(AVPixelFormat fmt)
{
    char const* name = av_get_pix_fmt_name(fmt);
    return name ? QString::fromUtf8(name) : QString();
}

AVPixelFormat GetPixFmtFromAvName(QString const& name)
{
    if (name.isEmpty())
        return AV_PIX_FMT_NONE;
    return av_get_pix_fmt(name.toUtf8().constData());
}

} // namespace ze::nox::core
