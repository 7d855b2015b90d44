#pragma once

#include "decoders/ze_nox_sequential_decoder.h"

#include <QByteArray>

// dav1d 1.0 headers carry no C++ linkage of their own.
extern "C" {
#include <dav1d/dav1d.h>
}

struct DemuxerInstance;

namespace ze::nox::core {

// Decoder of AV1 streams in IVF, Annex B or low-overhead OBU framing, decoded by dav1d. Backward
// moves and jumps start at the shown key frame (which resets every reference) nearest before the
// target, with the sequence header in force there.
class ZeAv1Decoder : public ZeNoxSequentialDecoder
{
    Q_OBJECT
public:
    explicit ZeAv1Decoder(QObject* parent = nullptr);
    ~ZeAv1Decoder() override;

    ZeNoxCoreError openFile(QString const& fileName, StreamParams const* params) override;
    void closeFile() override;
    bool isOpened() const override;

    // Pixel format of the pictures of a sequence; AV_PIX_FMT_NONE for a null header, 12 bits or an
    // unknown layout. Monochrome is described as 4:2:0.
    static AVPixelFormat GetAvPixFmtFromAv1SeqHdr(Dav1dSequenceHeader const* seqHdr);

private:
    ZeNoxCoreError validate(QString const& fileName, int& frameCount, int& width, int& height, AVPixelFormat& pixFmt);
    ZeNoxCoreError openDecoder();
    void closeDecoder();
    ZeNoxCoreError restart() override;
    bool findRandomAccessPoints(RandomAccessIndex& points) override;
    ZeNoxCoreError seekTo(RandomAccessPoint const& point) override;
    ZeNoxCoreError decodeNextPicture(Frame& frame) override;
    ZeNoxCoreError copyPicture(Frame& frame);

    QByteArray m_path;
    char const* m_demuxerName = nullptr;
    Dav1dSettings m_settings{};
    DemuxerInstance* m_input = nullptr;
    Dav1dPicture m_picture{};
    Dav1dContext* m_context = nullptr;
    Dav1dData m_data{};
    bool m_inputEnded = false; // the reader has no further unit
    unsigned m_readerFrameCount = 0;
    unsigned m_readerFrameRate[2] = {0, 0};
    unsigned m_readerTimeBase[2] = {0, 0};
};

} // namespace ze::nox::core
