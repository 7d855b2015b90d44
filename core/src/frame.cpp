#include "frame.h"

#include "ffmpeg_utils.h"

#include <QDebug>

extern "C" {
#include <libswscale/swscale.h>
}

namespace ze::nox::core {

QString GetComponentName(Component component)
{
    switch (component) {
    case COMPONENT_Y: return QStringLiteral("Y");
    case COMPONENT_U: return QStringLiteral("U");
    case COMPONENT_V: return QStringLiteral("V");
    case COMPONENT_YUV: return QStringLiteral("YUV");
    default: return QString();
    }
}

const QString Frame::m_origImageJpegFormat = QStringLiteral("JPEG");

Frame::Frame() : m_frame(av_frame_alloc()) {}

Frame::~Frame()
{
    clear();
}

void Frame::clear()
{
    av_frame_free(&m_frame);
    clearRgbFrame();
    clearScaleContext();
}

void Frame::clearRgbFrame()
{
    av_frame_free(&m_rgbFrame);
}

void Frame::clearScaleContext()
{
    sws_freeContext(m_scaleContext);
    m_scaleContext = nullptr;
}

void Frame::reset()
{
    clear();
    m_frame = av_frame_alloc();
}

bool Frame::isValid() const
{
    return m_frame && m_frame->linesize[0] > 0 && m_frame->data[0];
}

int Frame::bitDepth() const
{
    return m_frame ? GetBitDepthFromAvPixFmt(static_cast<AVPixelFormat>(m_frame->format)) : 0;
}

int Frame::width() const
{
    return m_frame ? m_frame->width : 0;
}

int Frame::height() const
{
    return m_frame ? m_frame->height : 0;
}

AVPixelFormat Frame::pixelFormat() const
{
    return m_frame ? static_cast<AVPixelFormat>(m_frame->format) : AV_PIX_FMT_NONE;
}

bool Frame::allocatePicture(int width, int height, AVPixelFormat format)
{
    if (isValid() && m_frame->width == width && m_frame->height == height && m_frame->format == format &&
        av_frame_is_writable(m_frame))
        return true;
    reset();
    if (!m_frame)
        return false;
    m_frame->width = width;
    m_frame->height = height;
    m_frame->format = format;
    const int ret = av_frame_get_buffer(m_frame, 1);
    if (ret < 0) {
        qWarning() << "Failed to allocate data for image. Error code" << ret;
        reset();
        return false;
    }
    return true;
}

} // namespace ze::nox::core
