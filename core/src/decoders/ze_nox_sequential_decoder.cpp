#include "decoders/ze_nox_sequential_decoder.h"

#include "display/frame.h"

#include <algorithm>

namespace ze::nox::core {

ZeNoxSequentialDecoder::ZeNoxSequentialDecoder(ZeStreamType type, QObject* parent) : ZeNoxDecoder(type, parent) {}

int ZeNoxSequentialDecoder::curFrameNumber() const
{
    return m_firstFrameNumber < 0 ? m_curFrameNumber : m_curFrameNumber - m_firstFrameNumber;
}

int ZeNoxSequentialDecoder::curAbsoluteFrameNumber() const
{
    return m_curFrameNumber;
}

ZeNoxCoreError ZeNoxSequentialDecoder::openValidated(QString const& fileName, StreamParams const* params,
                                                     std::function<ZeNoxCoreError()> const& validationPass)
{
    closeFile();
    ZeNoxCoreError found = ZE_NOX_CORE_OK;
    if (params)
        takeStreamParams(*params);
    else
        found = validationPass();
    return finishOpen(fileName, found);
}

ZeNoxCoreError ZeNoxSequentialDecoder::finishOpen(QString const& fileName, ZeNoxCoreError found)
{
    m_openResult = found == ZE_NOX_CORE_OK && m_frameCount < 1 ? ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED : found;
    if (m_openResult != ZE_NOX_CORE_OK)
        return m_openResult;
    m_fileName = fileName;
    m_curFrameNumber = -1;
    m_openResult = restart();
    return m_openResult;
}

ZeNoxCoreError ZeNoxSequentialDecoder::rewind(Frame& frame)
{
    m_curFrameNumber = -1;
    const ZeNoxCoreError res = restart();
    if (res != ZE_NOX_CORE_OK)
        frame.reset();
    return res;
}

ZeNoxCoreError ZeNoxSequentialDecoder::step(Frame& frame)
{
    if (m_curFrameNumber >= lastFrameNumber()) {
        ++m_curFrameNumber;
        frame.reset();
        return ZE_NOX_CORE_END_OF_FILE;
    }
    return decodeNextPicture(frame);
}

ZeNoxCoreError ZeNoxSequentialDecoder::decodeForwardTo(int target, Frame& frame)
{
    for (;;) {
        int const before = m_curFrameNumber;
        const ZeNoxCoreError res = step(frame);
        bool const movedOn = m_curFrameNumber > before;
        // A picture of another size is refused, but the walk may go on past it to the target.
        if (res == ZE_NOX_CORE_RESOLUTION_CHANGE && movedOn && m_curFrameNumber < target)
            continue;
        if (res == ZE_NOX_CORE_OK && !movedOn) {
            frame.reset();
            return ZE_NOX_CORE_INTERNAL_ERROR; // a picture that is not counted would loop for ever
        }
        if (res != ZE_NOX_CORE_OK || m_curFrameNumber >= target)
            return res;
    }
}

ZeNoxCoreError ZeNoxSequentialDecoder::getFirstFrame(Frame& frame)
{
    const ZeNoxCoreError res = rewind(frame);
    return res != ZE_NOX_CORE_OK ? res : decodeForwardTo(firstFrameNumber(), frame);
}

ZeNoxCoreError ZeNoxSequentialDecoder::getPrevFrame(Frame& frame)
{
    // The picture before the current one; at (or before) the stream's first picture, that one.
    int const target = std::max(0, m_curFrameNumber - 1);
    const ZeNoxCoreError res = rewind(frame);
    return res != ZE_NOX_CORE_OK ? res : decodeForwardTo(target, frame);
}

ZeNoxCoreError ZeNoxSequentialDecoder::getNextFrame(Frame& frame)
{
    return step(frame);
}

ZeNoxCoreError ZeNoxSequentialDecoder::getLastFrame(Frame& frame)
{
    if (!isOpened()) {
        // A failed restart left nothing to decode from: start over.
        const ZeNoxCoreError res = rewind(frame);
        if (res != ZE_NOX_CORE_OK)
            return res;
    }
    int const last = lastFrameNumber();
    return m_curFrameNumber >= last ? step(frame) : decodeForwardTo(last, frame);
}

ZeNoxCoreError ZeNoxSequentialDecoder::getFrame(int n, Frame& frame)
{
    int const first = firstFrameNumber();
    if (n < 0 || n > lastFrameNumber() - first)
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    int const target = first + n;
    // The current picture again only while the Frame still holds it: after a failed step the
    // number has moved on without a picture.
    if (target == m_curFrameNumber && frame.isValid())
        return ZE_NOX_CORE_OK;
    if (target <= m_curFrameNumber || !isOpened()) {
        const ZeNoxCoreError res = rewind(frame);
        if (res != ZE_NOX_CORE_OK)
            return res;
    }
    return decodeForwardTo(target, frame);
}

} // namespace ze::nox::core
