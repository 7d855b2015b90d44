#pragma once

#include "decoders/ze_nox_decoder.h"
#include "decoders/ze_picture_cache.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ze::nox::core {

// A decoder that reaches a picture by decoding forward: from the start of its stream, from one
// of its random-access points (positions from which decoding gives exactly the pictures a decode
// from the start gives), or from the picture it decoded last. Copies of recent pictures are kept
// once the decoder has been moved backwards or made to jump, so that stepping back mostly costs
// a copy; a decoder that only moves forward (a measurement) keeps none.
class ZeNoxSequentialDecoder : public ZeNoxDecoder
{
    Q_OBJECT
public:
    // Where decoding may start other than the stream's beginning.
    struct RandomAccessPoint
    {
        int frame = 0;   // number of the first picture delivered when decoding starts here
        int64_t pos = 0; // byte position of the unit decoding starts with
        int unit = 0;    // that unit's number in decoding order (as the decoder counts units)
        int leading = 0; // units after it that may be output before it
        // Data handed to the decoder before the unit (parameter sets, a sequence header).
        std::shared_ptr<QByteArray const> prefix;
        bool failed = false; // turned out undecodable: not used again
    };
    using RandomAccessIndex = std::vector<RandomAccessPoint>;

    int curFrameNumber() const override;
    int curAbsoluteFrameNumber() const override;
    ZeNoxCoreError getFirstFrame(Frame& frame) override;
    ZeNoxCoreError getPrevFrame(Frame& frame) override;
    ZeNoxCoreError getNextFrame(Frame& frame) override;
    ZeNoxCoreError getLastFrame(Frame& frame) override;
    ZeNoxCoreError getFrame(int n, Frame& frame) override;

    // For tests and benchmarks: the random-access points found (the start not counted), the
    // kept pictures and the decoding steps taken since the decoder was made (each gives one
    // picture or a failure).
    int randomAccessPointCount();
    ZePictureCache const& pictureCache() const { return m_cache; }
    int64_t decodedPictureCount() const { return m_decodedPictures; }

protected:
    ZeNoxSequentialDecoder(ZeStreamType type, QObject* parent);

    // Reopens the file by name (it may have gone or been replaced since) and sets up a fresh
    // decoding state before the first picture. A failure leaves isOpened() false.
    virtual ZeNoxCoreError restart() = 0;
    // Decodes the next picture of the stream into the Frame and counts it in m_curFrameNumber;
    // 10 when the stream holds no more. Never a stale picture in the Frame with a failure.
    virtual ZeNoxCoreError decodeNextPicture(Frame& frame) = 0;
    // The random-access points of the open stream by a pass over it that does not decode;
    // false when none can be told (the stream is then only decoded from its start).
    virtual bool findRandomAccessPoints(RandomAccessIndex& points);
    // Sets up a fresh decoding state at the point: the next picture decoded is number
    // point.frame (m_curFrameNumber is point.frame - 1). A failure leaves nothing to decode from.
    virtual ZeNoxCoreError seekTo(RandomAccessPoint const& point);

    // Ends an open that found the stream's properties (`found` 0) in a record or a validation
    // pass: a stream without frames is 5; else the file is taken and restart() sets up decoding.
    ZeNoxCoreError finishOpen(QString const& fileName, ZeNoxCoreError found);
    // The whole open of a decoder whose properties come from one validation pass: the file is
    // closed, the record is trusted when there is one (the pass is skipped), and finishOpen ends it.
    ZeNoxCoreError openValidated(QString const& fileName, StreamParams const* params,
                                 std::function<ZeNoxCoreError()> const& validationPass);
    // The points a validation pass found, kept for the next open (finishOpen takes them).
    void takeRandomAccessPoints(RandomAccessIndex points);
    // Makes an opened stream ready for navigation: the points of its validation pass (if any)
    // are taken, the kept pictures get the stream's budget.
    void beginStream();
    // Forgets the points and the kept pictures (the stream is closed or another one opened).
    void dropRandomAccess();

    // Absolute number of the picture decoded last (-1 before the first), also when it was refused.
    int m_curFrameNumber = -1;

private:
    enum class IndexState { Unknown, Pending, Known };

    // restart() from number -1; the Frame is emptied when it fails.
    ZeNoxCoreError rewind(Frame& frame);
    // The next picture, or 10 with an empty Frame past the last frame of the range (the number
    // moves on each time).
    ZeNoxCoreError step(Frame& frame);
    // The decoder's next picture as the shown one (the shown number must be the decoder's).
    ZeNoxCoreError advance(Frame& frame);
    // Steps until the picture with absolute number target is current, keeping copies on the way
    // when `keep`. With `firstFailed`, a failing first step is reported there instead of ending
    // the walk with it.
    ZeNoxCoreError decodeForwardTo(int target, Frame& frame, bool keep, bool* firstFailed = nullptr);
    // The picture with absolute number target (within the stream) by the cheapest way: a kept
    // copy, decoding on from the current picture, or from the nearest usable random-access point.
    // `backward`: the caller moves back (or restarts at the same picture); `keep`: a move of a
    // viewer (backwards or a jump), from which on pictures are kept.
    ZeNoxCoreError reach(int target, Frame& frame, bool backward, bool keep);
    // Index of the last usable point whose first picture is not after target; -1 for the start.
    int pointFor(int target) const;
    void ensureIndex();
    void keepShown(Frame const& frame);

    int m_shownFrameNumber = -1; // the picture the caller holds (absolute), may be behind the decoder
    IndexState m_indexState = IndexState::Unknown;
    RandomAccessIndex m_points;
    ZePictureCache m_cache;
    bool m_keepRecent = false;    // set by the first backward move or jump
    bool m_decoderFailed = false; // the last decoding step failed
    int64_t m_decodedPictures = 0;
};

} // namespace ze::nox::core
