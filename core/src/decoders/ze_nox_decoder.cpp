#include "decoders/ze_nox_decoder.h"

#include <QFileInfo>

#include <algorithm>
#include <climits>

namespace ze::nox::core {

ZeNoxDecoder::ZeNoxDecoder(QObject* parent) : QObject(parent) {}

ZeNoxDecoder::ZeNoxDecoder(ZeStreamType type, QObject* parent) : QObject(parent), m_streamType(type) {}

ZeNoxDecoder::~ZeNoxDecoder() = default;

void ZeNoxDecoder::takeStreamParams(StreamParams const& params)
{
    m_width = params.width;
    m_height = params.height;
    m_pixFmt = params.pixFmt;
    m_frameCount = params.frames;
}

ZeNoxCoreError ZeNoxDecoder::openResult() const
{
    return m_openResult;
}

QString ZeNoxDecoder::filename() const
{
    return m_fileName;
}

int ZeNoxDecoder::width() const
{
    return m_width;
}

int ZeNoxDecoder::height() const
{
    return m_height;
}

AVPixelFormat ZeNoxDecoder::pixelFormat() const
{
    return m_pixFmt;
}

ZeStreamType ZeNoxDecoder::streamType() const
{
    return m_streamType;
}

int ZeNoxDecoder::getOriginalFrameCount() const
{
    return m_frameCount;
}

ZeNoxCoreError ZeNoxDecoder::getNextFrameRaw(Frame& frame)
{
    return getNextFrame(frame);
}

StreamParams ZeNoxDecoder::params() const
{
    StreamParams p;
    p.valid = true;
    p.type = streamType();
    p.width = width();
    p.height = height();
    p.pixFmt = pixelFormat();
    p.frames = getOriginalFrameCount();
    return p;
}

int ZeNoxDecoder::bitrateKbps(double fps) const
{
    int const frames = getOriginalFrameCount();
    if (!isOpened() || frames <= 0)
        return 0;
    double const bits = static_cast<double>(QFileInfo(filename()).size()) * 8.0;
    double const kbps = bits * fps / (static_cast<double>(frames) * 1000.0);
    // A huge file with few readable frames exceeds an int; a rate that is not positive gives 0.
    if (!(kbps > 0))
        return 0;
    return kbps >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(kbps);
}

int ZeNoxDecoder::firstFrameNumber() const
{
    return m_firstFrameNumber < 0 ? 0 : m_firstFrameNumber;
}

int ZeNoxDecoder::lastFrameNumber() const
{
    return m_lastFrameNumber < 0 ? getOriginalFrameCount() - 1 : m_lastFrameNumber;
}

void ZeNoxDecoder::setFirstFrameNumber(int n)
{
    m_firstFrameNumber = std::clamp(n, 0, std::max(0, lastFrameNumber()));
    emit firstFrameNumberChanged();
}

void ZeNoxDecoder::setLastFrameNumber(int n)
{
    int const first = firstFrameNumber();
    m_lastFrameNumber = std::clamp(n, first, std::max(first, getOriginalFrameCount() - 1));
    emit lastFrameNumberChanged();
}

} // namespace ze::nox::core
