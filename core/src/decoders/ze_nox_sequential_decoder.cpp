#include "decoders/ze_nox_sequential_decoder.h"

#include "display/frame.h"

#include <QFileInfo>

#include <algorithm>

namespace ze::nox::core {

namespace {

constexpr int kMaxFailedPointsPerMove = 2;

} // namespace

ZeNoxSequentialDecoder::ZeNoxSequentialDecoder(ZeStreamType type, QObject* parent) : ZeNoxDecoder(type, parent) {}

int ZeNoxSequentialDecoder::curFrameNumber() const
{
    return m_firstFrameNumber < 0 ? m_shownFrameNumber : m_shownFrameNumber - m_firstFrameNumber;
}

int ZeNoxSequentialDecoder::curAbsoluteFrameNumber() const
{
    return m_shownFrameNumber;
}

bool ZeNoxSequentialDecoder::findRandomAccessPoints(RandomAccessIndex&)
{
    return false;
}

ZeNoxCoreError ZeNoxSequentialDecoder::seekTo(RandomAccessPoint const&)
{
    return ZE_NOX_CORE_OPERATION_FAILED;
}

int ZeNoxSequentialDecoder::randomAccessPointCount()
{
    ensureIndex();
    return static_cast<int>(m_points.size());
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

void ZeNoxSequentialDecoder::takeRandomAccessPoints(RandomAccessIndex points)
{
    // Ordered by first picture; the start of the stream is not a point of its own.
    std::stable_sort(points.begin(), points.end(),
                     [](RandomAccessPoint const& a, RandomAccessPoint const& b) { return a.frame < b.frame; });
    points.erase(std::remove_if(points.begin(), points.end(), [](RandomAccessPoint const& p) { return p.frame <= 0; }),
                 points.end());
    m_points = std::move(points);
    m_indexState = IndexState::Pending;
}

void ZeNoxSequentialDecoder::dropRandomAccess()
{
    m_points.clear();
    m_indexState = IndexState::Unknown;
    m_cache.clear();
    m_keepRecent = false;
    m_shownFrameNumber = -1;
    m_decoderFailed = false;
}

void ZeNoxSequentialDecoder::beginStream()
{
    // Points found by the validation pass belong to this open; otherwise they are looked for
    // when first needed.
    if (m_indexState == IndexState::Pending)
        m_indexState = IndexState::Known;
    else
        m_points.clear();
    m_cache.setBudget(ZePictureCache::BudgetFor(m_width, m_height, m_pixFmt));
    m_keepRecent = false;
    m_shownFrameNumber = -1;
    m_decoderFailed = false;
}

ZeNoxCoreError ZeNoxSequentialDecoder::finishOpen(QString const& fileName, ZeNoxCoreError found)
{
    m_openResult = found == ZE_NOX_CORE_OK && m_frameCount < 1 ? ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED : found;
    if (m_openResult != ZE_NOX_CORE_OK) {
        dropRandomAccess();
        return m_openResult;
    }
    beginStream();
    m_fileName = fileName;
    m_curFrameNumber = -1;
    m_shownFrameNumber = -1;
    m_openResult = restart();
    return m_openResult;
}

void ZeNoxSequentialDecoder::ensureIndex()
{
    if (m_indexState == IndexState::Known)
        return;
    RandomAccessIndex points;
    if (findRandomAccessPoints(points))
        takeRandomAccessPoints(std::move(points));
    else
        m_points.clear();
    m_indexState = IndexState::Known;
}

int ZeNoxSequentialDecoder::pointFor(int target) const
{
    auto it = std::upper_bound(m_points.begin(), m_points.end(), target,
                               [](int t, RandomAccessPoint const& p) { return t < p.frame; });
    while (it != m_points.begin()) {
        --it;
        if (!it->failed)
            return static_cast<int>(it - m_points.begin());
    }
    return -1;
}

ZeNoxCoreError ZeNoxSequentialDecoder::rewind(Frame& frame)
{
    m_curFrameNumber = -1;
    const ZeNoxCoreError res = restart();
    m_shownFrameNumber = m_curFrameNumber;
    m_decoderFailed = false;
    if (res != ZE_NOX_CORE_OK)
        frame.reset();
    return res;
}

void ZeNoxSequentialDecoder::keepShown(Frame const& frame)
{
    if (m_keepRecent && frame.isValid())
        m_cache.put(m_shownFrameNumber, frame.avFrame(), m_shownFrameNumber);
}

ZeNoxCoreError ZeNoxSequentialDecoder::advance(Frame& frame)
{
    if (m_shownFrameNumber >= lastFrameNumber()) {
        if (m_curFrameNumber == m_shownFrameNumber)
            ++m_curFrameNumber;
        ++m_shownFrameNumber;
        frame.reset();
        return ZE_NOX_CORE_END_OF_FILE;
    }
    const ZeNoxCoreError res = decodeNextPicture(frame);
    ++m_decodedPictures;
    m_shownFrameNumber = m_curFrameNumber;
    if (res != ZE_NOX_CORE_OK && res != ZE_NOX_CORE_RESOLUTION_CHANGE)
        m_decoderFailed = true;
    return res;
}

ZeNoxCoreError ZeNoxSequentialDecoder::step(Frame& frame)
{
    if (m_shownFrameNumber != m_curFrameNumber && m_shownFrameNumber < lastFrameNumber())
        return reach(m_shownFrameNumber + 1, frame, false, false); // away from the decoder after a step back
    const ZeNoxCoreError res = advance(frame);
    if (res == ZE_NOX_CORE_OK)
        keepShown(frame);
    return res;
}

ZeNoxCoreError ZeNoxSequentialDecoder::decodeForwardTo(int target, Frame& frame, bool keep, bool* firstFailed)
{
    m_shownFrameNumber = m_curFrameNumber;
    for (bool first = true;; first = false) {
        int const before = m_curFrameNumber;
        const ZeNoxCoreError res = advance(frame);
        bool const movedOn = m_curFrameNumber > before;
        if (first && firstFailed && res != ZE_NOX_CORE_OK && res != ZE_NOX_CORE_RESOLUTION_CHANGE) {
            *firstFailed = true;
            return res;
        }
        // A picture of another size is refused, but the walk may go on past it to the target.
        if (res == ZE_NOX_CORE_RESOLUTION_CHANGE && movedOn && m_curFrameNumber < target)
            continue;
        if (res == ZE_NOX_CORE_OK && !movedOn) {
            frame.reset();
            return ZE_NOX_CORE_INTERNAL_ERROR; // a picture that is not counted would loop for ever
        }
        if (res == ZE_NOX_CORE_OK && keep)
            m_cache.put(m_curFrameNumber, frame.avFrame(), target);
        if (res != ZE_NOX_CORE_OK || m_curFrameNumber >= target)
            return res;
    }
}

ZeNoxCoreError ZeNoxSequentialDecoder::reach(int target, Frame& frame, bool backward, bool keep)
{
    // Pictures are kept from the first backward move or jump on: a decoder that only moves
    // forward (a measurement) pays nothing for them.
    if (keep)
        m_keepRecent = true;
    keep = m_keepRecent;
    // The cache's memory is made ready while the move decodes towards its first kept picture.
    if (keep)
        m_cache.prepare(m_width, m_height, m_pixFmt, getOriginalFrameCount());
    // A kept picture serves while the stream is open and its file is there; a file that went away
    // is reported as a restart reports it, and a stream closed by a failed restart is reopened.
    if (keep && isOpened() && m_cache.contains(target) && QFileInfo::exists(m_fileName) &&
        m_cache.get(target, frame)) {
        m_shownFrameNumber = target;
        return ZE_NOX_CORE_OK;
    }
    ensureIndex();
    int point = pointFor(target);
    // Decoding on from the current picture costs no more than from the point.
    // A backward move after a failed step starts decoding afresh, as it always did.
    bool onward = isOpened() && m_curFrameNumber < target && !(backward && m_decoderFailed) &&
                  m_curFrameNumber + 1 >= (point < 0 ? 0 : m_points[point].frame);
    for (int failedPoints = 0;;) {
        if (onward)
            return decodeForwardTo(target, frame, keep);
        if (point < 0) {
            const ZeNoxCoreError res = rewind(frame);
            return res != ZE_NOX_CORE_OK ? res : decodeForwardTo(target, frame, keep);
        }
        RandomAccessPoint& p = m_points[point];
        bool firstFailed = false;
        ZeNoxCoreError res = seekTo(p);
        m_shownFrameNumber = m_curFrameNumber;
        m_decoderFailed = false;
        if (res != ZE_NOX_CORE_OK && !isOpened()) {
            frame.reset(); // the file cannot be reopened: no point would do better
            return res;
        }
        if (res == ZE_NOX_CORE_OK)
            res = decodeForwardTo(target, frame, keep, &firstFailed);
        else
            firstFailed = true;
        if (!firstFailed)
            return res;
        // The point cannot be decoded from: the one before it serves, and after a few such
        // points (a stream damaged from here on) the start, so one move costs a few restarts.
        p.failed = true;
        frame.reset();
        point = ++failedPoints < kMaxFailedPointsPerMove ? pointFor(target) : -1;
    }
}

ZeNoxCoreError ZeNoxSequentialDecoder::getFirstFrame(Frame& frame)
{
    int const first = firstFrameNumber();
    return reach(first, frame, true, first < m_shownFrameNumber);
}

ZeNoxCoreError ZeNoxSequentialDecoder::getPrevFrame(Frame& frame)
{
    // The picture before the current one; at (or before) the stream's first picture, that one.
    int const target = std::max(0, m_shownFrameNumber - 1);
    if (target > lastFrameNumber()) {
        // Decoding from the start would run out at the end of the range again.
        m_keepRecent = true;
        m_shownFrameNumber = lastFrameNumber() + 1;
        frame.reset();
        return ZE_NOX_CORE_END_OF_FILE;
    }
    return reach(target, frame, true, true);
}

ZeNoxCoreError ZeNoxSequentialDecoder::getNextFrame(Frame& frame)
{
    return step(frame);
}

ZeNoxCoreError ZeNoxSequentialDecoder::getLastFrame(Frame& frame)
{
    int const last = lastFrameNumber();
    if (isOpened() && m_shownFrameNumber >= last)
        return step(frame);
    return reach(last, frame, false, true);
}

ZeNoxCoreError ZeNoxSequentialDecoder::getFrame(int n, Frame& frame)
{
    int const first = firstFrameNumber();
    if (n < 0 || n > lastFrameNumber() - first)
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    int const target = first + n;
    // The current picture again only while the Frame still holds it: after a failed step the
    // number has moved on without a picture.
    if (target == m_shownFrameNumber && frame.isValid())
        return ZE_NOX_CORE_OK;
    return reach(target, frame, target <= m_shownFrameNumber, true);
}

} // namespace ze::nox::core
