#pragma once

#include "decoders/ze_nox_decoder.h"

#include <functional>

namespace ze::nox::core {

// A decoder that reaches a picture only by decoding forward from the start of its stream. The
// navigation is built from two steps of the concrete decoder: restart (back before the first
// picture) and decode the next picture. Backward moves restart and decode forward again.
class ZeNoxSequentialDecoder : public ZeNoxDecoder
{
    Q_OBJECT
public:
    int curFrameNumber() const override;
    int curAbsoluteFrameNumber() const override;
    ZeNoxCoreError getFirstFrame(Frame& frame) override;
    ZeNoxCoreError getPrevFrame(Frame& frame) override;
    ZeNoxCoreError getNextFrame(Frame& frame) override;
    ZeNoxCoreError getLastFrame(Frame& frame) override;
    ZeNoxCoreError getFrame(int n, Frame& frame) override;

protected:
    ZeNoxSequentialDecoder(ZeStreamType type, QObject* parent);

    // Reopens the file by name (it may have gone or been replaced since) and sets up a fresh
    // decoding state before the first picture. A failure leaves isOpened() false.
    virtual ZeNoxCoreError restart() = 0;
    // Decodes the next picture of the stream into the Frame and counts it in m_curFrameNumber;
    // 10 when the stream holds no more. Never a stale picture in the Frame with a failure.
    virtual ZeNoxCoreError decodeNextPicture(Frame& frame) = 0;

    // Ends an open that found the stream's properties (`found` 0) in a record or a validation
    // pass: a stream without frames is 5; else the file is taken and restart() sets up decoding.
    ZeNoxCoreError finishOpen(QString const& fileName, ZeNoxCoreError found);
    // The whole open of a decoder whose properties come from one validation pass: the file is
    // closed, the record is trusted when there is one (the pass is skipped), and finishOpen ends it.
    ZeNoxCoreError openValidated(QString const& fileName, StreamParams const* params,
                                 std::function<ZeNoxCoreError()> const& validationPass);

    // Absolute number of the picture decoded last (-1 before the first), also when it was refused.
    int m_curFrameNumber = -1;

private:
    // restart() from number -1; the Frame is emptied when it fails.
    ZeNoxCoreError rewind(Frame& frame);
    // The next picture, or 10 with an empty Frame past the last frame of the range (the number
    // moves on each time).
    ZeNoxCoreError step(Frame& frame);
    // Steps until the picture with absolute number target is current.
    ZeNoxCoreError decodeForwardTo(int target, Frame& frame);
};

} // namespace ze::nox::core
