#include "decoders/ze_av1_decoder.h"

#include "decoders/ffmpeg_utils.h"
#include "display/frame.h"
#include "readers/input.h"
#include "common/ze_nox_core_supported_features.h"

#include <QDebug>

#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ze::nox::core {

namespace {

QString Dav1dErrorText(int code)
{
    return QStringLiteral("Error decoding frame. libdav1d error code %1 (%2)")
        .arg(code)
        .arg(QString::fromLocal8Bit(strerror(-code)));
}

// The pixel format of a sequence header; warns about unaccepted ones only when asked.
AVPixelFormat PixFmtFromSeqHdr(Dav1dSequenceHeader const* seqHdr, bool warn)
{
    if (!seqHdr)
        return AV_PIX_FMT_NONE;
    if (seqHdr->hbd > 1) {
        if (warn)
            qWarning().noquote() << QStringLiteral("AV1 decoder: Invalid bit depth (bitdepth code %1").arg(seqHdr->hbd);
        return AV_PIX_FMT_NONE;
    }
    bool const deep = seqHdr->hbd == 1;
    switch (seqHdr->layout) {
    case DAV1D_PIXEL_LAYOUT_I400:
    case DAV1D_PIXEL_LAYOUT_I420: return deep ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
    case DAV1D_PIXEL_LAYOUT_I422: return deep ? AV_PIX_FMT_YUV422P10LE : AV_PIX_FMT_YUV422P;
    case DAV1D_PIXEL_LAYOUT_I444: return deep ? AV_PIX_FMT_YUV444P10LE : AV_PIX_FMT_YUV444P;
    }
    if (warn)
        qWarning().noquote() << QStringLiteral(
                                    "AV1 decoder: Unknown combination of bit depth code=%1 and layut code=%2")
                                    .arg(seqHdr->hbd)
                                    .arg(static_cast<int>(seqHdr->layout));
    return AV_PIX_FMT_NONE;
}

// dav1d's defaults run frame threads with a frame delay: a unit goes in and no picture comes out
// until several more have followed. One picture per step needs a delay of one frame.
void DecoderSettings(Dav1dSettings& settings)
{
    dav1d_default_settings(&settings);
    settings.max_frame_delay = 1;
}

void WarnConversion(ZeNoxCoreError err)
{
    qWarning().noquote() << "Failed to convert dav1d pictire to core frame." << ErrToString(err);
}

// Rows of `bytes` bytes from src (pitch srcStride) to dst (pitch dstStride).
void CopyPlane(uint8_t* dst, int dstStride, uint8_t const* src, ptrdiff_t srcStride, size_t bytes, int rows)
{
    for (int y = 0; y < rows; ++y)
        memcpy(dst + static_cast<ptrdiff_t>(y) * dstStride, src + static_cast<ptrdiff_t>(y) * srcStride, bytes);
}

// Finds the temporal units that start with a shown key frame, from the units the readers hand
// out (a whole temporal unit, or one OBU of it for Annex B; each carries its unit's offset). One
// temporal unit gives one picture, so a unit's number is its first picture's.
class KeyFrameFinder
{
public:
    using Point = ZeNoxSequentialDecoder::RandomAccessPoint;

    void add(Dav1dData const& data)
    {
        if (m_units == 0 || data.m.offset != m_unitOffset) {
            ++m_units;
            m_unitOffset = data.m.offset;
            m_frameSeen = false;
            m_headerInUnit = false;
        }
        uint8_t const* p = data.data;
        size_t left = data.sz;
        while (left > 0 && !m_frameSeen) {
            int const type = (p[0] >> 3) & 0xF;
            size_t const header = 1 + ((p[0] >> 2) & 1);
            bool const hasSize = (p[0] >> 1) & 1;
            if (header > left)
                return;
            uint64_t payload = left - header;
            size_t field = 0;
            if (hasSize) {
                field = static_cast<size_t>(av1_input::ParseLeb128(p + header, left - header, &payload));
                if (field == 0 || payload > left - header - field)
                    return;
            }
            uint8_t const* body = p + header + field;
            size_t const obuSize = header + field + static_cast<size_t>(payload);
            if (type == 1 && payload > 0) {
                m_sequenceHeader = std::make_shared<QByteArray const>(reinterpret_cast<char const*>(p), int(obuSize));
                m_reducedStill = (body[0] >> 3) & 1;
                m_headerInUnit = true;
            } else if ((type == 3 || type == 6) && payload > 0) {
                m_frameSeen = true;
                bool const shownKey = m_reducedStill || (!(body[0] & 0x80) && ((body[0] >> 5) & 3) == 0 && (body[0] & 0x10));
                if (shownKey && m_sequenceHeader) {
                    Point point;
                    point.frame = m_units - 1;
                    point.unit = m_units - 1;
                    point.pos = static_cast<int64_t>(m_unitOffset);
                    if (!m_headerInUnit)
                        point.prefix = m_sequenceHeader;
                    m_points.push_back(std::move(point));
                }
            }
            p += obuSize;
            left -= obuSize;
        }
    }

    // The points, or none when the units do not match the pictures one to one.
    std::vector<Point> finish(int pictures)
    {
        if (m_units != pictures)
            m_points.clear();
        return std::move(m_points);
    }

private:
    int m_units = 0;
    size_t m_unitOffset = 0;
    bool m_frameSeen = false;
    bool m_headerInUnit = false;
    bool m_reducedStill = false;
    std::shared_ptr<QByteArray const> m_sequenceHeader;
    std::vector<Point> m_points;
};

} // namespace

ZeAv1Decoder::ZeAv1Decoder(QObject* parent) : ZeNoxSequentialDecoder(ZE_STREAM_TYPE_AV1, parent)
{
    qInfo() << "libdav1d version" << dav1d_version();
}

ZeAv1Decoder::~ZeAv1Decoder()
{
    closeFile();
}

AVPixelFormat ZeAv1Decoder::GetAvPixFmtFromAv1SeqHdr(Dav1dSequenceHeader const* seqHdr)
{
    return PixFmtFromSeqHdr(seqHdr, true);
}

ZeNoxCoreError ZeAv1Decoder::openFile(QString const& fileName, StreamParams const* params)
{
    return openValidated(fileName, params,
                         [&] { return validate(fileName, m_frameCount, m_width, m_height, m_pixFmt); });
}

void ZeAv1Decoder::closeFile()
{
    closeDecoder();
    dropRandomAccess();
    m_fileName.clear();
    m_path.clear();
    m_frameCount = 0;
    m_openResult = ZE_NOX_CORE_NOT_OPENED;
}

bool ZeAv1Decoder::isOpened() const
{
    return m_context != nullptr;
}

ZeNoxCoreError ZeAv1Decoder::validate(QString const& fileName, int& frameCount, int& width, int& height,
                                      AVPixelFormat& pixFmt)
{
    frameCount = 0;
    width = 0;
    height = 0;
    pixFmt = AV_PIX_FMT_NONE;
    Dav1dSettings settings;
    DecoderSettings(settings);

    const QByteArray path = fileName.toUtf8();
    DemuxerInstance* input = nullptr;
    unsigned frameRate[2] = {0, 0};
    unsigned timeBase[2] = {0, 0};
    unsigned readerFrames = 0;
    if (input_open(&input, nullptr, path.constData(), frameRate, &readerFrames, timeBase) < 0)
        return ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED;
    Dav1dContext* context = nullptr;
    if (dav1d_open(&context, &settings) != 0) {
        input_close(input);
        return ZE_NOX_CORE_INTERNAL_ERROR;
    }
    KeyFrameFinder finder;
    Dav1dData data{};
    auto readUnit = [&] {
        if (input_read(input, &data) < 0)
            return false;
        finder.add(data);
        return true;
    };
    if (!readUnit()) {
        input_close(input);
        dav1d_close(&context);
        return ZE_NOX_CORE_OPERATION_FAILED;
    }

    ZeNoxCoreError result = ZE_NOX_CORE_OK;
    bool haveHeader = false;
    bool stop = false; // a decoding error, a change, or a format that will be refused anyway
    // Counts a picture; false when its size or format differs from the first sequence header.
    auto takePicture = [&](Dav1dPicture& pic) {
        bool same = true;
        if (pic.seq_hdr) {
            const AVPixelFormat fmt = PixFmtFromSeqHdr(pic.seq_hdr, !haveHeader);
            if (!haveHeader) {
                haveHeader = true;
                width = pic.seq_hdr->max_width;
                height = pic.seq_hdr->max_height;
                pixFmt = fmt;
            }
            same = pic.p.w == width && pic.p.h == height && fmt == pixFmt;
        }
        dav1d_picture_unref(&pic);
        if (!same) {
            qWarning().noquote() << "Stream validation as AV1 stream failed:"
                                 << ErrToString(ZE_NOX_CORE_RESOLUTION_CHANGE);
            result = ZE_NOX_CORE_RESOLUTION_CHANGE;
            return false;
        }
        ++frameCount;
        return true;
    };

    do {
        Dav1dPicture pic{};
        int res = dav1d_send_data(context, &data);
        if (res < 0 && res != DAV1D_ERR(EAGAIN)) {
            qWarning().noquote() << Dav1dErrorText(res);
            stop = true;
            break;
        }
        res = dav1d_get_picture(context, &pic);
        if (res == 0) {
            if (!takePicture(pic) || pixFmt == AV_PIX_FMT_NONE) {
                stop = true;
                break;
            }
        } else if (res != DAV1D_ERR(EAGAIN)) {
            qWarning().noquote() << Dav1dErrorText(res);
            stop = true;
            break;
        }
    } while (data.sz > 0 || readUnit());
    if (data.sz > 0)
        dav1d_data_unref(&data);

    // Pictures still inside the decoder.
    for (int errors = 0; !stop && errors < 256;) {
        Dav1dPicture pic{};
        int const res = dav1d_get_picture(context, &pic);
        if (res == DAV1D_ERR(EAGAIN))
            break;
        if (res < 0) {
            qWarning().noquote() << Dav1dErrorText(res);
            ++errors;
            continue;
        }
        if (!takePicture(pic))
            break;
    }

    input_close(input);
    dav1d_close(&context);
    if (result == ZE_NOX_CORE_OK)
        takeRandomAccessPoints(finder.finish(frameCount));
    return result;
}

ZeNoxCoreError ZeAv1Decoder::openDecoder()
{
    if (m_pixFmt == AV_PIX_FMT_NONE || !ZeNoxCoreSupportedFeatures::m_pixFmts.contains(m_pixFmt)) {
        qWarning().noquote() << "Failed to open decoder." << ErrToString(ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
        return ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED;
    }
    int res = input_open(&m_input, m_demuxerName, m_path.constData(), m_readerFrameRate, &m_readerFrameCount,
                         m_readerTimeBase);
    if (res < 0) {
        m_input = nullptr;
        qWarning().noquote() << QStringLiteral("Failed to open %1 for decoding. libdav1d error code %2 (%3)")
                                    .arg(m_fileName)
                                    .arg(res)
                                    .arg(QString::fromLocal8Bit(strerror(-res)));
        return ZE_NOX_CORE_OPERATION_FAILED;
    }
    DecoderSettings(m_settings);
    res = dav1d_open(&m_context, &m_settings);
    if (res < 0) {
        m_context = nullptr;
        input_close(m_input);
        m_input = nullptr;
        qWarning().noquote() << QStringLiteral("Failed to open dav1d decoder. libdav1d error code %1 (%2)")
                                    .arg(res)
                                    .arg(QString::fromLocal8Bit(strerror(-res)));
        return ZE_NOX_CORE_OPERATION_FAILED;
    }
    m_inputEnded = false;
    return ZE_NOX_CORE_OK;
}

void ZeAv1Decoder::closeDecoder()
{
    if (m_data.sz > 0 || m_data.ref)
        dav1d_data_unref(&m_data);
    m_data = Dav1dData{};
    if (m_input)
        input_close(m_input);
    m_input = nullptr;
    dav1d_close(&m_context);
    m_context = nullptr;
    m_demuxerName = nullptr;
    m_curFrameNumber = -1;
    m_inputEnded = false;
}

ZeNoxCoreError ZeAv1Decoder::restart()
{
    closeDecoder();
    if (m_fileName.isEmpty())
        return ZE_NOX_CORE_OPERATION_FAILED;
    m_path = m_fileName.toUtf8();
    // The file may have been renamed or deleted meanwhile: the result tells whether a reader exists.
    return openDecoder();
}

bool ZeAv1Decoder::findRandomAccessPoints(RandomAccessIndex& points)
{
    DemuxerInstance* input = nullptr;
    unsigned frameRate[2] = {0, 0};
    unsigned timeBase[2] = {0, 0};
    unsigned readerFrames = 0;
    if (m_path.isEmpty() || input_open(&input, nullptr, m_path.constData(), frameRate, &readerFrames, timeBase) < 0)
        return false;
    KeyFrameFinder finder;
    for (Dav1dData data{}; input_read(input, &data) == 0;) {
        finder.add(data);
        dav1d_data_unref(&data);
    }
    input_close(input);
    points = finder.finish(m_frameCount);
    return true;
}

ZeNoxCoreError ZeAv1Decoder::seekTo(RandomAccessPoint const& point)
{
    ZeNoxCoreError const res = restart();
    if (res != ZE_NOX_CORE_OK)
        return res;
    if (point.pos < 0 || input_seek(m_input, static_cast<uint64_t>(point.pos)) < 0)
        return ZE_NOX_CORE_OPERATION_FAILED;
    if (point.prefix && !point.prefix->isEmpty()) {
        // The sequence header in force at the key frame, when its unit does not repeat it.
        Dav1dData header{};
        uint8_t* bytes = dav1d_data_create(&header, static_cast<size_t>(point.prefix->size()));
        if (!bytes)
            return ZE_NOX_CORE_FAILED_TO_CONSTRUCT;
        memcpy(bytes, point.prefix->constData(), static_cast<size_t>(point.prefix->size()));
        int const sent = dav1d_send_data(m_context, &header);
        if (header.sz > 0)
            dav1d_data_unref(&header);
        if (sent < 0 && sent != DAV1D_ERR(EAGAIN))
            return ZE_NOX_CORE_OPERATION_FAILED;
    }
    m_curFrameNumber = point.frame - 1;
    return ZE_NOX_CORE_OK;
}

ZeNoxCoreError ZeAv1Decoder::copyPicture(Frame& frame)
{
    Dav1dPicture const& pic = m_picture;
    if (!pic.seq_hdr) {
        WarnConversion(ZE_NOX_CORE_INTERNAL_ERROR);
        return ZE_NOX_CORE_INTERNAL_ERROR;
    }
    const AVPixelFormat fmt = GetAvPixFmtFromAv1SeqHdr(pic.seq_hdr);
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(fmt);
    if (!desc || !ZeNoxCoreSupportedFeatures::m_pixFmts.contains(fmt) || pic.p.w < 1 || pic.p.h < 1) {
        WarnConversion(ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
        return ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED;
    }
    int const w = pic.p.w;
    int const h = pic.p.h;
    // A picture must be what the stream was opened as: parameters stored for another file of
    // the name, or a change after a decoding error, would otherwise reach callers that size
    // their planes by width() and height().
    if (w != m_width || h != m_height || fmt != m_pixFmt) {
        qWarning().noquote() << QStringLiteral("%1: frame %2 is %3x%4 %5, the stream %6x%7 %8")
                                    .arg(ErrToString(ZE_NOX_CORE_RESOLUTION_CHANGE))
                                    .arg(m_curFrameNumber + 1)
                                    .arg(w)
                                    .arg(h)
                                    .arg(GetPixFmtName(fmt))
                                    .arg(m_width)
                                    .arg(m_height)
                                    .arg(GetPixFmtName(m_pixFmt));
        return ZE_NOX_CORE_RESOLUTION_CHANGE;
    }
    if (!frame.allocatePicture(w, h, fmt)) {
        WarnConversion(ZE_NOX_CORE_NOT_OPENED);
        return ZE_NOX_CORE_NOT_OPENED;
    }
    AVFrame* dst = frame.avFrame();
    const size_t sampleBytes = pic.p.bpc > 8 ? 2 : 1;
    int const cw = -((-w) >> desc->log2_chroma_w);
    int const ch = -((-h) >> desc->log2_chroma_h);

    CopyPlane(dst->data[0], dst->linesize[0], static_cast<uint8_t const*>(pic.data[0]), pic.stride[0],
              static_cast<size_t>(w) * sampleBytes, h);
    if (pic.p.layout == DAV1D_PIXEL_LAYOUT_I400) {
        // Monochrome pictures carry no chroma planes: the Frame gets neutral ones.
        int const neutral = 1 << (pic.p.bpc - 1);
        for (int plane = 1; plane <= 2; ++plane) {
            for (int y = 0; y < ch; ++y) {
                uint8_t* row = dst->data[plane] + static_cast<ptrdiff_t>(y) * dst->linesize[plane];
                if (sampleBytes == 1) {
                    memset(row, neutral, static_cast<size_t>(cw));
                } else {
                    uint16_t* row16 = reinterpret_cast<uint16_t*>(row);
                    for (int x = 0; x < cw; ++x)
                        row16[x] = static_cast<uint16_t>(neutral);
                }
            }
        }
    } else {
        for (int plane = 1; plane <= 2; ++plane)
            CopyPlane(dst->data[plane], dst->linesize[plane], static_cast<uint8_t const*>(pic.data[plane]),
                      pic.stride[1], static_cast<size_t>(cw) * sampleBytes, ch);
    }
    return ZE_NOX_CORE_OK;
}

ZeNoxCoreError ZeAv1Decoder::decodeNextPicture(Frame& frame)
{
    if (!m_context || !m_input) {
        frame.reset();
        return ZE_NOX_CORE_OPERATION_FAILED;
    }
    // Feed units until a picture comes out; a unit that dav1d does not take yet is kept.
    for (;;) {
        if (m_data.sz == 0 && !m_inputEnded) {
            if (input_read(m_input, &m_data) < 0 || m_data.sz == 0) {
                if (m_data.ref)
                    dav1d_data_unref(&m_data);
                m_data = Dav1dData{};
                m_inputEnded = true;
            }
        }
        if (m_data.sz > 0) {
            int const res = dav1d_send_data(m_context, &m_data);
            if (res < 0 && res != DAV1D_ERR(EAGAIN)) {
                qWarning().noquote() << Dav1dErrorText(res);
                dav1d_data_unref(&m_data);
                frame.reset();
                return ZE_NOX_CORE_OPERATION_FAILED;
            }
        }
        m_picture = Dav1dPicture{};
        int const res = dav1d_get_picture(m_context, &m_picture);
        if (res == 0)
            break;
        if (res != DAV1D_ERR(EAGAIN)) {
            qWarning().noquote() << Dav1dErrorText(res);
            frame.reset();
            return ZE_NOX_CORE_OPERATION_FAILED;
        }
        if (m_inputEnded && m_data.sz == 0) {
            frame.reset();
            return ZE_NOX_CORE_END_OF_FILE;
        }
    }
    const ZeNoxCoreError err = copyPicture(frame);
    dav1d_picture_unref(&m_picture);
    ++m_curFrameNumber;
    if (err != ZE_NOX_CORE_OK)
        frame.reset(); // never a stale picture with a failure
    return err;
}

} // namespace ze::nox::core
