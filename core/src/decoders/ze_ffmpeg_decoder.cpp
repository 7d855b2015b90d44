#include "decoders/ze_ffmpeg_decoder.h"

#include "decoders/ffmpeg_utils.h"
#include "decoders/ze_random_access_points.h"
#include "display/frame.h"
#include "common/ze_nox_core_supported_features.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace ze::nox::core {

namespace {

constexpr int kValidateChunkSize = 1 << 20;
// Consecutive failures after which the data in hand is skipped (parser) or decoding gives up
// (errors after the flush packet).
constexpr int kMaxParserErrors = 16;
constexpr int kMaxDrainErrors = 256;
constexpr qint64 kMinParserLookahead = 1024;
constexpr qint64 kCompactThreshold = 65537;

// Owns what one validation pass allocates.
struct ValidationState
{
    AVPacket* packet = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVCodecContext* context = nullptr;
    AVFrame* picture = nullptr;
    ~ValidationState()
    {
        av_parser_close(parser);
        avcodec_free_context(&context);
        av_frame_free(&picture);
        av_packet_free(&packet);
    }
};

// Cuts the packets of an elementary stream into pictures for the point finder: the kind of a
// packet's first VCL NAL unit (H.264, HEVC), every MJPEG picture a point of its own, and the
// parameter sets before it. The packet must start where the file holds a start code (or a JPEG
// start of image), so decoding can begin at its offset.
class PacketClassifier
{
public:
    explicit PacketClassifier(AVCodecID codec) : m_codec(codec) {}

    void add(uint8_t const* data, int size, int64_t offset)
    {
        using Kind = ZeRandomAccessPointFinder::Kind;
        if (m_codec == AV_CODEC_ID_MJPEG) {
            if (size < 2 || data[0] != 0xFF || data[1] != 0xD8)
                m_finder.fail();
            m_finder.addPicture(Kind::Idr, offset);
            return;
        }
        if (size < 4 || data[0] != 0 || data[1] != 0)
            m_finder.fail();
        bool const avc = m_codec == AV_CODEC_ID_H264;
        int vclType = -1;
        std::vector<std::pair<uint8_t const*, int>> paramSets;
        ForEachNal(data, size, [&](uint8_t const* nal, int nalSize) {
            int const type = avc ? nal[0] & 0x1F : (nal[0] >> 1) & 0x3F;
            if (avc ? type == 7 || type == 8 || type == 13 || type == 15 : type >= 32 && type <= 34)
                paramSets.emplace_back(nal, nalSize);
            else if (!avc && type == 36)
                m_finder.endOfSequence();
            if (avc ? type >= 1 && type <= 5 : type <= 31) {
                vclType = type;
                return false;
            }
            return true;
        });
        Kind kind = Kind::Trailing;
        if (vclType < 0)
            m_finder.fail();
        else if (avc)
            kind = vclType == 5 ? Kind::Idr : Kind::Trailing;
        else if (vclType >= 16 && vclType <= 18)
            kind = Kind::Bla;
        else if (vclType == 19 || vclType == 20)
            kind = Kind::Idr;
        else if (vclType == 21)
            kind = Kind::Cra;
        else if (vclType == 8 || vclType == 9)
            kind = Kind::Rasl;
        else if (vclType == 6 || vclType == 7)
            kind = Kind::Radl;
        else if (vclType >= 10)
            m_finder.fail(); // reserved types
        m_finder.addPicture(kind, offset);
        for (auto const& ps : paramSets)
            m_finder.addParameterSet(ps.first, ps.second);
    }

    ZeNoxSequentialDecoder::RandomAccessIndex finish() { return m_finder.finish(); }

private:
    // Calls f(nal, size) for the NAL units of an Annex B packet while it answers true.
    template <class F>
    static void ForEachNal(uint8_t const* data, int size, F f)
    {
        auto startCode = [&](int from) {
            for (int i = from; i + 2 < size; ++i)
                if (data[i + 2] <= 1 && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
                    return i;
            return -1;
        };
        for (int at = startCode(0); at >= 0;) {
            int const begin = at + 3;
            at = startCode(begin);
            int end = at < 0 ? size : at;
            while (end > begin && data[end - 1] == 0)
                --end; // the zero byte of a four-byte start code
            if (end > begin && !f(data + begin, end - begin))
                return;
        }
    }

    AVCodecID m_codec;
    ZeRandomAccessPointFinder m_finder;
};

} // namespace

ZeFfmpegDecoder::ZeFfmpegDecoder(ZeStreamType type, QObject* parent)
    : ZeNoxSequentialDecoder(type, parent), m_candidateCodecs{AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_MJPEG},
      m_decoded(av_frame_alloc())
{
}

ZeFfmpegDecoder::~ZeFfmpegDecoder()
{
    closeDecoder();
    closeSrcFile();
    av_frame_free(&m_decoded);
}

AVCodecID ZeFfmpegDecoder::getPreferredFfmpegCodec(QString const& fileName) const
{
    static const QStringList kAvcExtentions{"avc", "264", "h264"};
    static const QStringList kHevcExtentions{"hevc", "hvc", "265", "h265"};
    static const QStringList kMjpegExtentions{"mjpeg"};
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (kAvcExtentions.contains(suffix))
        return AV_CODEC_ID_H264;
    if (kHevcExtentions.contains(suffix))
        return AV_CODEC_ID_HEVC;
    if (kMjpegExtentions.contains(suffix))
        return AV_CODEC_ID_MJPEG;
    return AV_CODEC_ID_NONE;
}

ZeNoxCoreError ZeFfmpegDecoder::openFile(QString const& fileName, StreamParams const* params)
{
    closeFile();

    if (params) {
        const ZeNoxCoreError res = openFileWithParams(fileName, *params);
        if (res == ZE_NOX_CORE_OK || res == ZE_NOX_CORE_FAILED_TO_OPEN_FILE) {
            m_openResult = res;
            return res;
        }
        closeFile();
        m_openResult = res;
    }

    std::vector<AVCodecID> candidates;
    const AVCodecID preferred = getPreferredFfmpegCodec(fileName);
    if (preferred != AV_CODEC_ID_NONE)
        candidates.push_back(preferred);
    for (AVCodecID codec : m_candidateCodecs)
        if (codec != preferred)
            candidates.push_back(codec);

    bool hadCorruptedFrames = false;
    // A candidate that decoded the stream but refused its codec or pixel format names the
    // reason better than the failures of the codecs that could not decode it at all.
    ZeNoxCoreError refusal = ZE_NOX_CORE_OK;
    ZeNoxCoreError result = ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED;
    for (AVCodecID codec : candidates) {
        int corrupted = 0;
        RandomAccessIndex points;
        result = validate(codec, fileName, m_frameCount, m_width, m_height, m_pixFmt, corrupted, 1, &points);
        if (result == ZE_NOX_CORE_OK && corrupted == 0) {
            openSrcFile(fileName);
            if (!m_file) {
                closeFile();
                m_openResult = ZE_NOX_CORE_FAILED_TO_OPEN_FILE;
                return m_openResult;
            }
            resetFileReader();
            result = openDecoder(codec);
            if (result == ZE_NOX_CORE_OK) {
                takeRandomAccessPoints(std::move(points));
                beginStream();
                m_openResult = ZE_NOX_CORE_OK;
                return m_openResult;
            }
            if (refusal == ZE_NOX_CORE_OK &&
                (result == ZE_NOX_CORE_CODEC_NOT_SUPPORTED || result == ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED))
                refusal = result;
            closeFile();
        } else if (result == ZE_NOX_CORE_OK) {
            hadCorruptedFrames = true;
            closeFile();
        } else {
            closeFile();
            if (result == ZE_NOX_CORE_FAILED_TO_OPEN_FILE) {
                m_openResult = result;
                return result;
            }
        }
    }
    if (refusal != ZE_NOX_CORE_OK)
        result = refusal;
    else if (hadCorruptedFrames)
        result = ZE_NOX_CORE_CORRUPTED_FRAMES;
    m_openResult = result;
    return result;
}

ZeNoxCoreError ZeFfmpegDecoder::openFileWithParams(QString const& fileName, StreamParams const& params)
{
    takeStreamParams(params);
    // A decoding step must never read from a missing file: refuse the open instead.
    openSrcFile(fileName);
    if (!m_file)
        return ZE_NOX_CORE_FAILED_TO_OPEN_FILE;
    resetFileReader();
    const ZeNoxCoreError res = openDecoder(GetAvCodecIdFromStreamType(params.type));
    if (res == ZE_NOX_CORE_OK)
        beginStream();
    return res;
}

ZeNoxCoreError ZeFfmpegDecoder::validate(AVCodecID codec, QString const& fileName, int& frameCount, int& width,
                                         int& height, AVPixelFormat& pixFmt, int& corruptedFrames,
                                         int maxDecodedFrames, RandomAccessIndex* points) const
{
    if (points)
        points->clear();
    PacketClassifier finder(codec);
    frameCount = 0;
    width = 0;
    height = 0;
    corruptedFrames = 0;
    std::vector<uint8_t> buffer(static_cast<size_t>(kValidateChunkSize) + AV_INPUT_BUFFER_PADDING_SIZE, 0);

    ValidationState s;
    s.packet = av_packet_alloc();
    if (!s.packet)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    AVCodec const* decoder = avcodec_find_decoder(codec);
    if (!decoder) {
        qWarning() << QStringLiteral("Unable to find appropriate codec %1")
                          .arg(GetStreamTypeName(GetStreamTypeFromAvCodecId(codec)));
        return ZE_NOX_CORE_CODEC_NOT_FOUND;
    }
    s.parser = av_parser_init(decoder->id);
    if (!s.parser)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    s.context = avcodec_alloc_context3(decoder);
    if (!s.context)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    if (avcodec_open2(s.context, decoder, nullptr) < 0)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    s.picture = av_frame_alloc();
    if (!s.picture)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return ZE_NOX_CORE_FAILED_TO_OPEN_FILE;

    int decodedFrames = 0;
    auto takePicture = [&](bool ok) {
        if (ok && s.picture->width > 0 && s.picture->height > 0) {
            width = s.picture->width;
            height = s.picture->height;
            pixFmt = static_cast<AVPixelFormat>(s.picture->format);
        } else {
            if (s.context->width > 0)
                width = s.context->width;
            if (s.context->height > 0)
                height = s.context->height;
            pixFmt = s.context->pix_fmt;
        }
        ++decodedFrames;
        av_frame_unref(s.picture);
    };
    auto handlePacket = [&](bool atEnd) {
        if (points)
            finder.add(s.packet->data, s.packet->size, s.parser->frame_offset);
        if (decodedFrames < maxDecodedFrames) {
            if (avcodec_send_packet(s.context, s.packet) < 0) {
                qCritical() << "Failed to send a packet for decoding while validating stream";
                ++corruptedFrames;
            } else {
                for (;;) {
                    const int ret = avcodec_receive_frame(s.context, s.picture);
                    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                        break;
                    if (ret < 0) {
                        if (atEnd)
                            qCritical() << "Error during decoding";
                        else
                            qCritical() << "Error during decoding while validating stream. Error code" << ret;
                        ++corruptedFrames;
                        takePicture(false);
                        break;
                    }
                    takePicture(true);
                }
            }
        }
        if (frameCount < INT_MAX)
            ++frameCount;
        s.packet->data = nullptr;
        s.packet->size = 0;
    };

    while (!file.atEnd()) {
        const qint64 got = file.read(reinterpret_cast<char*>(buffer.data()), kValidateChunkSize);
        if (got <= 0)
            break;
        std::memset(buffer.data() + got, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        uint8_t const* data = buffer.data();
        int left = static_cast<int>(got);
        int stalls = 0;
        while (left > 0) {
            int const used = av_parser_parse2(s.parser, s.context, &s.packet->data, &s.packet->size, data, left,
                                              AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0)
                return ZE_NOX_CORE_INTERNAL_ERROR;
            int const consumed = used < left ? used : left;
            data += consumed;
            left -= consumed;
            if (s.packet->size > 0)
                handlePacket(false);
            // A parser that neither consumes nor puts out anything would loop for ever.
            stalls = (consumed == 0 && s.packet->size == 0) ? stalls + 1 : 0;
            if (stalls > kMaxParserErrors)
                return ZE_NOX_CORE_INTERNAL_ERROR;
        }
    }

    // Flushes the parser's last packet.
    int const used = av_parser_parse2(s.parser, s.context, &s.packet->data, &s.packet->size, buffer.data(), 0,
                                      AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) {
        qCritical() << "Error during parsing";
        return ZE_NOX_CORE_INTERNAL_ERROR;
    }
    if (s.packet->size > 0)
        handlePacket(true);

    if (points)
        *points = finder.finish();
    if ((frameCount > 1 && decodedFrames >= 1) || decodedFrames >= maxDecodedFrames)
        return ZE_NOX_CORE_OK;
    return ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED;
}

ZeNoxCoreError ZeFfmpegDecoder::openDecoder(AVCodecID codec)
{
    closeDecoder();
    if (!ZeNoxCoreSupportedFeatures::m_ffmpegCodecs.contains(codec)) {
        qWarning() << "Failed to open decoder." << ErrToString(ZE_NOX_CORE_CODEC_NOT_SUPPORTED);
        return ZE_NOX_CORE_CODEC_NOT_SUPPORTED;
    }
    if (!ZeNoxCoreSupportedFeatures::m_pixFmts.contains(m_pixFmt)) {
        qWarning() << "Failed to open decoder." << ErrToString(ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
        return ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED;
    }
    m_codecId = codec;
    m_streamType = GetStreamTypeFromAvCodecId(codec);
    m_codec = avcodec_find_decoder(m_codecId);
    if (!m_codec) {
        qCritical() << "Cannot find internal codec with ID" << static_cast<int>(m_codecId);
        return ZE_NOX_CORE_CODEC_NOT_SUPPORTED;
    }
    m_parser = av_parser_init(m_codec->id);
    if (!m_parser) {
        qCritical() << "Failed to initialize parser for codec ID" << static_cast<int>(m_codec->id);
        return ZE_NOX_CORE_OPERATION_FAILED;
    }
    m_codecContext = avcodec_alloc_context3(m_codec);
    if (!m_codecContext) {
        qCritical() << "Failed to allocate video codec context";
        return ZE_NOX_CORE_FAILED_TO_CONSTRUCT;
    }
    if (avcodec_open2(m_codecContext, m_codec, nullptr) < 0) {
        qCritical() << "Failed to open video codec";
        return ZE_NOX_CORE_OPERATION_FAILED;
    }
    m_packet = av_packet_alloc();
    if (!m_packet) {
        qCritical() << "Failed to allocate packet";
        return ZE_NOX_CORE_FAILED_TO_CONSTRUCT;
    }
    return ZE_NOX_CORE_OK;
}

void ZeFfmpegDecoder::closeDecoder()
{
    av_parser_close(m_parser);
    m_parser = nullptr;
    avcodec_free_context(&m_codecContext);
    av_packet_free(&m_packet);
    m_packetPending = false;
    if (m_decoded)
        av_frame_unref(m_decoded);
}

void ZeFfmpegDecoder::clearPassState()
{
    m_curFrameNumber = -1;
    m_sentPacketCount = 0;
    m_receivedFrameCount = 0;
    m_endOfInput = false;
    m_flushPacketSent = false;
    m_decodeFailed = false;
    m_packetPending = false;
    m_parserErrors = 0;
    m_drainErrors = 0;
    m_nextUnit = 0;
    m_firstUnit = -1;
    m_firstUnitLast = -1;
}

void ZeFfmpegDecoder::openSrcFile(QString const& fileName)
{
    closeSrcFile();
    // Kept across a failed reopen, so a later restart can retry.
    m_fileName = fileName;
    m_file = new QFile(fileName);
    if (!m_file->open(QIODevice::ReadOnly)) {
        delete m_file;
        m_file = nullptr;
    }
}

void ZeFfmpegDecoder::closeSrcFile()
{
    if (m_file) {
        m_file->close();
        delete m_file;
        m_file = nullptr;
    }
}

void ZeFfmpegDecoder::resetFileReader()
{
    if (m_file)
        m_file->seek(0);
    std::memset(m_readBuffer, 0, sizeof(m_readBuffer));
    m_readPos = m_readBuffer;
    m_readEnd = m_readBuffer;
}

void ZeFfmpegDecoder::closeFile()
{
    closeDecoder();
    closeSrcFile();
    m_fileName.clear();
    clearPassState();
    dropRandomAccess();
    m_frameCount = 0;
    m_openResult = ZE_NOX_CORE_NOT_OPENED;
}

bool ZeFfmpegDecoder::isOpened() const
{
    return m_file != nullptr;
}

ZeNoxCoreError ZeFfmpegDecoder::restart()
{
    closeDecoder();
    clearPassState();
    // Reopened by name: the file may have been removed or replaced since the last pass.
    const QString name = m_fileName;
    openSrcFile(name);
    if (!m_file) {
        qWarning() << "Failed to reopen" << name;
        return ZE_NOX_CORE_FAILED_TO_OPEN_FILE;
    }
    resetFileReader();
    return openDecoder(m_codecId);
}

bool ZeFfmpegDecoder::findRandomAccessPoints(RandomAccessIndex& points)
{
    int frames = 0, width = 0, height = 0, corrupted = 0;
    AVPixelFormat pixFmt = m_pixFmt;
    // Parsed only: the points of a stream that is not the one the record describes are not used.
    return validate(m_codecId, m_fileName, frames, width, height, pixFmt, corrupted, 0, &points) == ZE_NOX_CORE_OK &&
           frames == m_frameCount;
}

ZeNoxCoreError ZeFfmpegDecoder::seekTo(RandomAccessPoint const& point)
{
    ZeNoxCoreError const res = restart();
    if (res != ZE_NOX_CORE_OK)
        return res;
    int const prefixSize = point.prefix ? point.prefix->size() : 0;
    if (point.pos < 0 || !m_file->seek(point.pos) || prefixSize > kReadBufferSize / 2)
        return ZE_NOX_CORE_OPERATION_FAILED;
    // The parameter sets go in front of the point's packet, in the same packet for the parser.
    if (prefixSize > 0)
        std::memcpy(m_readBuffer, point.prefix->constData(), static_cast<size_t>(prefixSize));
    m_readEnd = m_readBuffer + prefixSize;
    m_nextUnit = point.unit;
    m_firstUnit = point.unit;
    m_firstUnitLast = point.unit + point.leading;
    m_curFrameNumber = point.frame - 1;
    return ZE_NOX_CORE_OK;
}

void ZeFfmpegDecoder::topUpReadBuffer()
{
    uint8_t* const bufferEnd = m_readBuffer + kReadBufferSize;
    const qint64 unparsed = m_readEnd - m_readPos;
    if (unparsed < kMinParserLookahead && m_readPos - m_readBuffer >= kCompactThreshold) {
        std::memmove(m_readBuffer, m_readPos, static_cast<size_t>(unparsed));
        m_readPos = m_readBuffer;
        m_readEnd = m_readBuffer + unparsed;
    }
    const qint64 room = bufferEnd - m_readEnd;
    if (room > 0 && !m_file->atEnd()) {
        const qint64 got = m_file->read(reinterpret_cast<char*>(m_readEnd), room);
        if (got > 0)
            m_readEnd += got;
    }
    std::memset(m_readEnd, 0, AV_INPUT_BUFFER_PADDING_SIZE);
}

void ZeFfmpegDecoder::decode()
{
    topUpReadBuffer();
    int const available = static_cast<int>(m_readEnd - m_readPos);
    int const used = av_parser_parse2(m_parser, m_codecContext, &m_packet->data, &m_packet->size, m_readPos, available,
                                      AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) {
        qCritical() << "Error while parsing";
        // The same data would fail again and again: drop what is buffered after a few tries.
        if (++m_parserErrors >= kMaxParserErrors) {
            m_parserErrors = 0;
            m_readPos = m_readEnd;
        }
        return;
    }
    m_readPos += used < available ? used : available;
    if (available == 0)
        m_endOfInput = true;
    if (m_packet->size > 0) {
        m_packetPending = true;
        m_packet->pts = m_nextUnit++;
        m_packet->dts = AV_NOPTS_VALUE;
    }
    // A parser that neither consumes nor puts out anything is treated like a failing one.
    if (used == 0 && available > 0 && m_packet->size == 0) {
        if (++m_parserErrors >= kMaxParserErrors) {
            m_parserErrors = 0;
            m_readPos = m_readEnd;
        }
    } else {
        m_parserErrors = 0;
    }
}

bool ZeFfmpegDecoder::sendFrameToDecoder(bool flush)
{
    int const ret = avcodec_send_packet(m_codecContext, flush ? nullptr : m_packet);
    if (ret == AVERROR(EAGAIN) && !flush) {
        // The decoder wants its output taken first; the packet may point into the read buffer,
        // so it gets a copy of its own until it is sent again.
        if (av_packet_make_refcounted(m_packet) < 0) {
            qCritical() << "Failed to send a packet for decoding";
            av_packet_unref(m_packet);
            m_packetPending = false;
        }
        return false;
    }
    if (!flush) {
        av_packet_unref(m_packet);
        m_packetPending = false;
    }
    if (ret < 0) {
        qCritical() << "Failed to send a packet for decoding";
        return false;
    }
    ++m_sentPacketCount;
    return true;
}

int ZeFfmpegDecoder::getFrameFromDecoder(AVFrame* out, bool flush)
{
    int const ret = avcodec_receive_frame(m_codecContext, out);
    if (ret == 0)
        return 0;
    if (ret == AVERROR_EOF)
        return 1;
    if (ret == AVERROR(EAGAIN))
        return 2;
    if (flush)
        ++m_drainErrors;
    qCritical() << "Error during decoding";
    return 3;
}

ZeNoxCoreError ZeFfmpegDecoder::deliverPicture(Frame& frame)
{
    ++m_receivedFrameCount;
    ++m_curFrameNumber;
    if (m_decoded->width != m_width || m_decoded->height != m_height || m_decoded->format != m_pixFmt) {
        qWarning().noquote() << QStringLiteral("%1: frame %2 is %3x%4 %5, the stream %6x%7 %8")
                                    .arg(ErrToString(ZE_NOX_CORE_RESOLUTION_CHANGE))
                                    .arg(m_curFrameNumber)
                                    .arg(m_decoded->width)
                                    .arg(m_decoded->height)
                                    .arg(GetPixFmtName(static_cast<AVPixelFormat>(m_decoded->format)))
                                    .arg(m_width)
                                    .arg(m_height)
                                    .arg(GetPixFmtName(m_pixFmt));
        av_frame_unref(m_decoded);
        frame.reset();
        return ZE_NOX_CORE_RESOLUTION_CHANGE;
    }
    if (m_firstUnit >= 0) {
        // The first picture after a seek: from another packet, the point is not what it seemed.
        int64_t const unit = m_decoded->pts;
        // A picture with errors concealed would be concealed otherwise from the start.
        bool const damaged = m_decoded->decode_error_flags != 0 || (m_decoded->flags & AV_FRAME_FLAG_CORRUPT);
        bool const fits = !damaged && (unit == AV_NOPTS_VALUE || (unit >= m_firstUnit && unit <= m_firstUnitLast));
        int const pointUnit = m_firstUnit;
        m_firstUnit = -1;
        if (!fits) {
            qWarning() << "Random access at packet" << pointUnit << "gave" << (damaged ? "a damaged picture" : "the picture")
                       << "of packet" << unit;
            av_frame_unref(m_decoded);
            frame.reset();
            return ZE_NOX_CORE_OPERATION_FAILED;
        }
    }
    AVFrame* target = frame.avFrame();
    if (!target) {
        av_frame_unref(m_decoded);
        return ZE_NOX_CORE_FAILED_TO_CONSTRUCT;
    }
    av_frame_unref(target);
    av_frame_move_ref(target, m_decoded);
    return ZE_NOX_CORE_OK;
}

ZeNoxCoreError ZeFfmpegDecoder::decodeNextPicture(Frame& frame)
{
    if (!m_file)
        return ZE_NOX_CORE_FAILED_TO_OPEN_FILE;
    if (!m_parser || !m_codecContext || !m_packet || !m_decoded)
        return ZE_NOX_CORE_INTERNAL_ERROR;

    for (;;) {
        if (m_decodeFailed)
            return ZE_NOX_CORE_INTERNAL_ERROR;

        // Input for the decoder: the parsed packet not yet taken, then, once the parser is
        // drained, a single flush packet.
        bool refused = false;
        if (m_packetPending) {
            refused = !sendFrameToDecoder(false) && m_packetPending;
        } else if (m_endOfInput && !m_flushPacketSent) {
            m_flushPacketSent = true;
            if (!sendFrameToDecoder(true))
                m_decodeFailed = true;
        }

        int const got = getFrameFromDecoder(m_decoded, m_flushPacketSent);
        if (got == 0)
            return deliverPicture(frame);
        if (got == 3) {
            if (m_drainErrors > kMaxDrainErrors)
                m_decodeFailed = true;
            continue;
        }
        if (got == 1 || (got == 2 && m_flushPacketSent)) {
            // Everything the decoder held has come out: the stream ends before its counted end
            // (pictures were lost to errors).
            ++m_curFrameNumber;
            frame.reset();
            return ZE_NOX_CORE_END_OF_FILE;
        }
        if (refused) {
            // Neither input taken nor output given: drop the packet rather than spin.
            qCritical() << "Failed to send a packet for decoding";
            av_packet_unref(m_packet);
            m_packetPending = false;
        }
        if (!m_endOfInput && !m_packetPending)
            decode();
    }
}

} // namespace ze::nox::core
