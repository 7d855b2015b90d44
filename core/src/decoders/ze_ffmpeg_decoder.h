#pragma once

#include "decoders/ze_nox_sequential_decoder.h"

#include <QImage>
#include <QString>

#include <set>

extern "C" {
#include <libavcodec/avcodec.h>
}

class QFile;

namespace ze::nox::core {

// Decoder of H.264, HEVC and MJPEG elementary streams (no container): an FFmpeg parser cuts the
// file into coded pictures, the libavcodec decoder of the same codec decodes them.
// Backward moves and jumps start at the nearest random-access point (an H.264 IDR, an HEVC IRAP
// picture, any MJPEG picture) before the target, with the parameter sets seen before it.
class ZeFfmpegDecoder : public ZeNoxSequentialDecoder
{
    Q_OBJECT
public:
    explicit ZeFfmpegDecoder(ZeStreamType type, QObject* parent = nullptr);
    ~ZeFfmpegDecoder() override;

    ZeNoxCoreError openFile(QString const& fileName, StreamParams const* params) override;
    void closeFile() override;
    bool isOpened() const override;

signals:
    void frameReady(QImage image);

private:
    static constexpr int kReadBufferSize = 0x20000;

    AVCodecID getPreferredFfmpegCodec(QString const& fileName) const;
    // With `points`, the random-access points of the stream are collected too (empty when none
    // can be told).
    ZeNoxCoreError validate(AVCodecID codec, QString const& fileName, int& frameCount, int& width, int& height,
                            AVPixelFormat& pixFmt, int& corruptedFrames, int maxDecodedFrames,
                            RandomAccessIndex* points = nullptr) const;
    ZeNoxCoreError openDecoder(AVCodecID codec);
    void closeDecoder();
    // Zeroes the counters and flags of a decoding pass.
    void clearPassState();
    void openSrcFile(QString const& fileName);
    void closeSrcFile();
    void resetFileReader();
    ZeNoxCoreError openFileWithParams(QString const& fileName, StreamParams const& params);
    ZeNoxCoreError restart() override;
    bool findRandomAccessPoints(RandomAccessIndex& points) override;
    ZeNoxCoreError seekTo(RandomAccessPoint const& point) override;
    ZeNoxCoreError decodeNextPicture(Frame& frame) override;
    // Parser turn: tops up the read buffer and cuts the next packet, or enters the end of input.
    void decode();
    bool sendFrameToDecoder(bool flush);
    // 0 a picture in m_decoded, 1 end of stream, 2 no picture yet, 3 an error (logged).
    int getFrameFromDecoder(AVFrame* out, bool flush);
    ZeNoxCoreError deliverPicture(Frame& frame);
    void topUpReadBuffer();

    std::set<AVCodecID> m_candidateCodecs;
    AVCodecID m_codecId = AV_CODEC_ID_NONE;
    AVCodec const* m_codec = nullptr;
    AVCodecParserContext* m_parser = nullptr;
    AVCodecContext* m_codecContext = nullptr;
    AVPacket* m_packet = nullptr;
    int m_sentPacketCount = 0;
    int m_receivedFrameCount = 0;
    QFile* m_file = nullptr;
    // The parser may read past the data: the bytes after m_readEnd are kept zero.
    uint8_t m_readBuffer[kReadBufferSize + AV_INPUT_BUFFER_PADDING_SIZE] = {};
    uint8_t* m_readPos = m_readBuffer;
    uint8_t* m_readEnd = m_readBuffer;
    bool m_endOfInput = false;
    bool m_flushPacketSent = false;
    bool m_decodeFailed = false;

    AVFrame* m_decoded = nullptr; // receives pictures before they move into the Frame
    bool m_packetPending = false; // m_packet holds a parsed packet the decoder has not taken yet
    int m_parserErrors = 0;       // consecutive parser failures
    int m_drainErrors = 0;        // decoding errors after the flush packet
    // Packets are numbered in decoding order (their pts), so a picture tells which packet it
    // came from. After a seek, the first picture must come from the point's packet or one of
    // its leading pictures; m_firstUnit is -1 when nothing is checked.
    int m_nextUnit = 0;
    int m_firstUnit = -1;
    int m_firstUnitLast = -1;
};

} // namespace ze::nox::core
