#include "decoders/ze_yuv_decoder.h"

#include "display/frame.h"
#include "common/ze_nox_core_supported_features.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <climits>
#include <new>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
}

namespace ze::nox::core {

namespace {

int64_t Half(int64_t v)
{
    return (v + 1) / 2;
}

// Bytes of one frame as the raw readers consume it; -1 for a bad size or format.
int64_t FrameBytes(int64_t width, int64_t height, int bitDepth, ImageInfo::IMG_TYPE type)
{
    if (width < 1 || height < 1)
        return -1;
    int64_t samples = 0;
    switch (type) {
    case ImageInfo::IMG_400: samples = width * height; break;
    case ImageInfo::IMG_420: samples = width * height + 2 * Half(width) * Half(height); break;
    case ImageInfo::IMG_422: samples = width * height + 2 * Half(width) * height; break;
    case ImageInfo::IMG_444:
    case ImageInfo::IMG_RGB: samples = 3 * width * height; break;
    case ImageInfo::IMG_440: samples = width * height + 2 * width * Half(height); break;
    case ImageInfo::IMG_RGBA: samples = 4 * width * height; break;
    default: return -1;
    }
    return bitDepth > 8 ? 2 * samples : samples;
}

// The bound FFmpeg puts on the pictures it allocates: a size outside it can never reach a Frame.
bool SizeFitsPicture(int64_t width, int64_t height)
{
    return width >= 1 && height >= 1 && (width + 128) * (height + 128) < INT_MAX / 8;
}

bool CropFits(CropInfo const& c, int64_t width, int64_t height)
{
    return c.left >= 0 && c.right >= 0 && c.top >= 0 && c.bottom >= 0 && int64_t(c.left) + c.right < width &&
           int64_t(c.top) + c.bottom < height;
}

// One row of 16-bit samples as bytes (their low byte) or as 16-bit words.
template <typename D>
void CopyRow(D* dst, short const* src, int n)
{
    for (int i = 0; i < n; ++i)
        dst[i] = static_cast<D>(src[i]);
}

// Two rows of chroma samples as one row of U, V pairs.
template <typename D>
void InterleaveRow(D* dst, short const* u, short const* v, int n)
{
    for (int i = 0; i < n; ++i) {
        dst[2 * i] = static_cast<D>(u[i]);
        dst[2 * i + 1] = static_cast<D>(v[i]);
    }
}

// One row of Y, U, Y, V groups; a last group without its second luma sample repeats the first.
void PackYuyvRow(uint8_t* dst, short const* y, short const* u, short const* v, int width, int chromaCount)
{
    int const groups = (width + 1) / 2;
    for (int i = 0; i < groups; ++i) {
        int const x = 2 * i;
        dst[4 * i] = static_cast<uint8_t>(y[x]);
        dst[4 * i + 1] = static_cast<uint8_t>(i < chromaCount ? u[i] : 0);
        dst[4 * i + 2] = static_cast<uint8_t>(x + 1 < width ? y[x + 1] : y[x]);
        dst[4 * i + 3] = static_cast<uint8_t>(i < chromaCount ? v[i] : 0);
    }
}

template <typename D>
D* DstRow(AVFrame* f, int plane, int y)
{
    return reinterpret_cast<D*>(f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane]);
}

// Rows [top, top + rows) and columns [left, left + cols) of a picture plane into a Frame plane.
template <typename D>
void CopyPlane(AVFrame* f, int dstPlane, ImageType<short> const& picture, int srcPlane, int left, int top, int cols,
               int rows)
{
    for (int y = 0; y < rows; ++y)
        CopyRow(DstRow<D>(f, dstPlane, y), picture.row(srcPlane, top + y) + left, cols);
}

template <typename D>
void CopyInterleaved(AVFrame* f, ImageType<short> const& picture, int left, int top, int cols, int rows)
{
    for (int y = 0; y < rows; ++y)
        InterleaveRow(DstRow<D>(f, 1, y), picture.row(1, top + y) + left, picture.row(2, top + y) + left, cols);
}

} // namespace

ZeYuvDecoder::ZeYuvDecoder(QObject* parent) : ZeNoxDecoder(ZE_STREAM_TYPE_YUV, parent), m_file(new QFile(this)) {}

ZeYuvDecoder::~ZeYuvDecoder()
{
    closeFile();
}

bool ZeYuvDecoder::openSrcFile(QString const& fileName)
{
    m_fileName = fileName;
    m_file->setFileName(fileName);
    return m_file->open(QIODevice::ReadOnly);
}

void ZeYuvDecoder::closeSrcFile()
{
    m_file->close();
}

void ZeYuvDecoder::closeFile()
{
    closeSrcFile();
    m_image.release();
    m_openResult = ZE_NOX_CORE_NOT_OPENED;
}

bool ZeYuvDecoder::isOpened() const
{
    return m_file->isOpen();
}

StreamParams ZeYuvDecoder::params() const
{
    StreamParams p;
    p.valid = true;
    p.type = streamType();
    p.width = m_width;
    p.height = m_height;
    p.pixFmt = pixelFormat();
    p.frames = getOriginalFrameCount();
    p.crop = m_cropInfo;
    p.chromaOrder = m_chromaOrder;
    return p;
}

int ZeYuvDecoder::width() const
{
    return m_width - m_cropInfo.left - m_cropInfo.right;
}

int ZeYuvDecoder::height() const
{
    return m_height - m_cropInfo.top - m_cropInfo.bottom;
}

int ZeYuvDecoder::curFrameNumber() const
{
    return m_rangeFrameNumber;
}

int ZeYuvDecoder::curAbsoluteFrameNumber() const
{
    return m_firstFrameNumber >= 0 ? m_rangeFrameNumber + m_firstFrameNumber : m_rangeFrameNumber;
}

qint64 ZeYuvDecoder::getFrameSize(int width, int height, int bitDepth, ImageInfo::IMG_TYPE chromaFormat) const
{
    return FrameBytes(width, height, bitDepth, chromaFormat);
}

bool ZeYuvDecoder::getZeParamsFromAvPixFmt(AVPixelFormat pixFmt, int& bitDepth, ImageInfo::IMG_TYPE& chromaFormat,
                                           YUVFile::Formats& planeOrder) const
{
    struct Entry
    {
        AVPixelFormat fmt;
        YUVFile::Formats order;
        ImageInfo::IMG_TYPE type;
        int depth;
    };
    static const Entry kRecordFormats[] = {
        {AV_PIX_FMT_YUV420P, YUVFile::FORMAT_PLANAR, ImageInfo::IMG_420, 8},
        {AV_PIX_FMT_YUYV422, YUVFile::FORMAT_SEMI_PLANAR, ImageInfo::IMG_422, 8},
        {AV_PIX_FMT_YUV422P, YUVFile::FORMAT_PLANAR, ImageInfo::IMG_422, 8},
        {AV_PIX_FMT_YUV444P, YUVFile::FORMAT_PLANAR, ImageInfo::IMG_444, 8},
        {AV_PIX_FMT_NV12, YUVFile::FORMAT_SEMI_PLANAR, ImageInfo::IMG_420, 8},
        {AV_PIX_FMT_YUV420P10LE, YUVFile::FORMAT_PLANAR, ImageInfo::IMG_420, 10},
        {AV_PIX_FMT_YUV422P10LE, YUVFile::FORMAT_PLANAR, ImageInfo::IMG_422, 10},
        {AV_PIX_FMT_YUV444P10LE, YUVFile::FORMAT_PLANAR, ImageInfo::IMG_444, 10},
        {AV_PIX_FMT_P010LE, YUVFile::FORMAT_SEMI_PLANAR, ImageInfo::IMG_420, 10},
    };
    for (Entry const& e : kRecordFormats) {
        if (e.fmt == pixFmt) {
            planeOrder = e.order;
            chromaFormat = e.type;
            bitDepth = e.depth;
            return true;
        }
    }
    return false;
}

AVPixelFormat ZeYuvDecoder::pixelFormatOf(int bitDepth, ImageInfo::IMG_TYPE chromaFormat, YUVFile::Formats planeOrder,
                                          QString* why)
{
    auto none = [why](QString const& text) {
        if (why)
            *why = text;
        return AV_PIX_FMT_NONE;
    };
    if (planeOrder != YUVFile::FORMAT_PLANAR && planeOrder != YUVFile::FORMAT_SEMI_PLANAR)
        return none(QStringLiteral("Only planar and semi-planar layouts can be decoded."));
    if (bitDepth != 8 && bitDepth != 10)
        return none(QStringLiteral("Only 8-bit and 10-bit samples can be decoded."));
    bool const deep = bitDepth == 10;
    if (planeOrder == YUVFile::FORMAT_PLANAR) {
        switch (chromaFormat) {
        case ImageInfo::IMG_420: return deep ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
        case ImageInfo::IMG_422: return deep ? AV_PIX_FMT_YUV422P10LE : AV_PIX_FMT_YUV422P;
        case ImageInfo::IMG_444: return deep ? AV_PIX_FMT_YUV444P10LE : AV_PIX_FMT_YUV444P;
        default: break;
        }
    } else if (chromaFormat == ImageInfo::IMG_420) {
        return deep ? AV_PIX_FMT_P010LE : AV_PIX_FMT_NV12;
    } else if (chromaFormat == ImageInfo::IMG_422 && !deep) {
        return AV_PIX_FMT_YUYV422;
    }
    static char const* const kNames[] = {"4:0:0", "4:2:0", "4:2:2", "4:4:4", "4:4:0"};
    QString const name = chromaFormat >= ImageInfo::IMG_400 && chromaFormat <= ImageInfo::IMG_440
                             ? QString::fromLatin1(kNames[chromaFormat])
                             : QStringLiteral("This chroma format");
    if (chromaFormat == ImageInfo::IMG_400 || chromaFormat == ImageInfo::IMG_440 ||
        (chromaFormat != ImageInfo::IMG_420 && chromaFormat != ImageInfo::IMG_422 &&
         chromaFormat != ImageInfo::IMG_444))
        return none(QStringLiteral("%1 has no pixel format the decoder hands out.").arg(name));
    return none(QStringLiteral("%1 %2-bit has no semi-planar pixel format.").arg(name).arg(bitDepth));
}

AVPixelFormat ZeYuvDecoder::getAvPixFmtFromZeParams(int bitDepth, ImageInfo::IMG_TYPE chromaFormat,
                                                    YUVFile::Formats planeOrder) const
{
    if (planeOrder != YUVFile::FORMAT_PLANAR && planeOrder != YUVFile::FORMAT_SEMI_PLANAR) {
        qWarning().noquote() << QStringLiteral("Invalid plane order %1").arg(static_cast<int>(planeOrder));
        return AV_PIX_FMT_NONE;
    }
    if (bitDepth != 8 && bitDepth != 10) {
        qWarning().noquote() << QStringLiteral("Invalid bit depth %1").arg(bitDepth);
        return AV_PIX_FMT_NONE;
    }
    AVPixelFormat const fmt = pixelFormatOf(bitDepth, chromaFormat, planeOrder);
    if (fmt == AV_PIX_FMT_NONE)
        qWarning().noquote() << QStringLiteral("Unknown combination of bit depth=%1, image type=%2 and plane order=%3")
                                    .arg(bitDepth)
                                    .arg(static_cast<int>(chromaFormat))
                                    .arg(static_cast<int>(planeOrder));
    return fmt;
}

int ZeYuvDecoder::setRequiredYuvParams(int width, int height, int bitDepth, ImageInfo::IMG_TYPE chromaFormat,
                                       YUVFile::Formats planeOrder, int frameSize, CropInfo const& crop,
                                       int chromaOrder)
{
    m_width = width;
    m_height = height;
    m_bitDepth = bitDepth;
    m_chromaFormat = chromaFormat;
    m_planeOrder = planeOrder;
    m_frameSize = frameSize;
    m_cropInfo = crop;
    m_chromaOrder = chromaOrder == 1 ? 1 : 0;
    m_paramsFromY4M = false;
    setReader();
    m_pixFmt = getAvPixFmtFromZeParams(bitDepth, chromaFormat, planeOrder);
    return m_pixFmt;
}

void ZeYuvDecoder::setReader()
{
    m_yuvFile.m_format = m_planeOrder;
    m_yuvFile.m_imgType = m_chromaFormat;
    m_yuvFile.m_bitDepth = m_bitDepth;
}

ZeNoxCoreError ZeYuvDecoder::fail(ZeNoxCoreError err)
{
    closeFile();
    m_openResult = err;
    return err;
}

ZeNoxCoreError ZeYuvDecoder::validateRawParams() const
{
    bool const knownType = m_chromaFormat >= ImageInfo::IMG_400 && m_chromaFormat <= ImageInfo::IMG_RGBA;
    bool const knownLayout = m_planeOrder >= YUVFile::FORMAT_PLANAR && m_planeOrder <= YUVFile::FORMAT_P010;
    if (!SizeFitsPicture(m_width, m_height) || !CropFits(m_cropInfo, m_width, m_height) || !knownType || !knownLayout ||
        m_frameSize < 1) {
        qWarning().noquote() << QStringLiteral("Raw YUV parameters %1x%2, crop %3,%4,%5,%6, image type %7, plane "
                                               "order %8, frame size %9:")
                                    .arg(m_width)
                                    .arg(m_height)
                                    .arg(m_cropInfo.left)
                                    .arg(m_cropInfo.right)
                                    .arg(m_cropInfo.top)
                                    .arg(m_cropInfo.bottom)
                                    .arg(static_cast<int>(m_chromaFormat))
                                    .arg(static_cast<int>(m_planeOrder))
                                    .arg(m_frameSize)
                             << ErrToString(ZE_NOX_CORE_INVALID_PARAMETERS);
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    }
    return ZE_NOX_CORE_OK;
}

ZeNoxCoreError ZeYuvDecoder::buildRawIndex()
{
    qint64 const fileSize = m_file->size();
    // No frame at all: a stream without frames, as the compressed decoders answer.
    if (fileSize == 0) {
        qWarning().noquote() << QStringLiteral("Raw YUV file %1 is empty:").arg(m_fileName)
                             << ErrToString(ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
        return ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED;
    }
    // Parameters whose one frame is larger than the file describe another file; refused before
    // the picture of that size is allocated.
    if (fileSize < m_frameSize) {
        qWarning().noquote() << QStringLiteral("Raw YUV file %1 of %2 bytes is shorter than one frame of %3 bytes:")
                                    .arg(m_fileName)
                                    .arg(fileSize)
                                    .arg(m_frameSize)
                             << ErrToString(ZE_NOX_CORE_INVALID_PARAMETERS);
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    }
    qint64 const count = (fileSize + m_frameSize - 1) / m_frameSize;
    if (count > kMaxFrames) {
        qWarning().noquote() << QStringLiteral("Raw YUV file of %1 frames of %2 bytes:").arg(count).arg(m_frameSize)
                             << ErrToString(ZE_NOX_CORE_INVALID_PARAMETERS);
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    }
    m_frameOffsets.clear();
    m_frameOffsets.reserve(static_cast<int>(count));
    for (qint64 offset = 0; offset < fileSize; offset += m_frameSize)
        m_frameOffsets.append(offset);
    m_frameCount = m_frameOffsets.size();
    return ZE_NOX_CORE_OK;
}

bool ZeYuvDecoder::tryToParseY4M(QString const& fileName, Y4MInfo& info)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.read(9) != QByteArrayLiteral("YUV4MPEG2"))
        return false;
    info.header = YUVFile::readY4MHeader(&file);
    YUVFile::Y4MHeader& h = info.header;
    if (h.width < 1 || h.height < 1)
        return false;
    if (h.type < ImageInfo::IMG_400 || h.type > ImageInfo::IMG_440)
        return true;
    int64_t const frameSize = FrameBytes(h.width, h.height, h.bitDepth, h.type);
    if (frameSize < 1 || frameSize > INT_MAX)
        return false;
    info.frameSize = static_cast<int>(frameSize);

    qint64 const fileSize = file.size();
    while (info.offsets.size() < kMaxFrames) {
        QByteArray const tag = file.read(5);
        if (tag.size() < 5)
            break;
        if (tag != QByteArrayLiteral("FRAME"))
            continue;
        YUVFile::Y4MHeader const f = YUVFile::readY4MFrameHeader(&file, &h);
        if (FrameBytes(f.width, f.height, f.bitDepth, f.type) != frameSize)
            break;
        qint64 const pos = file.pos();
        if (pos >= fileSize)
            break;
        // A short last frame is taken only after a complete one: a file holding no complete
        // frame does not back the picture size its header claims (up to 16384 x 16384).
        bool const complete = fileSize - pos >= frameSize;
        if (!complete && info.offsets.isEmpty())
            break;
        info.offsets.append(pos);
        if (!complete || !file.seek(pos + frameSize))
            break;
    }
    return !info.offsets.isEmpty();
}

ZeNoxCoreError ZeYuvDecoder::openFile(QString const& fileName, StreamParams const* params)
{
    closeFile();
    m_rangeFrameNumber = -1;
    m_frameOffsets.clear();
    m_frameCount = 0;
    if (!openSrcFile(fileName))
        return fail(ZE_NOX_CORE_FAILED_TO_OPEN_FILE);

    // Parameters read from a YUV4MPEG2 header describe that file only.
    if (m_paramsFromY4M) {
        m_frameSize = 0;
        m_paramsFromY4M = false;
    }

    if (m_frameSize < 1) {
        Y4MInfo y4m;
        if (tryToParseY4M(fileName, y4m)) {
            m_width = y4m.header.width;
            m_height = y4m.header.height;
            m_bitDepth = y4m.header.bitDepth;
            m_chromaFormat = y4m.header.type;
            m_planeOrder = YUVFile::FORMAT_PLANAR;
            m_frameSize = y4m.frameSize;
            m_cropInfo = CropInfo{};
            m_chromaOrder = 0;
            m_paramsFromY4M = true;
            m_frameOffsets = y4m.offsets;
            m_frameCount = m_frameOffsets.size();
            setReader();
            m_pixFmt = getAvPixFmtFromZeParams(m_bitDepth, m_chromaFormat, m_planeOrder);
            return finishOpen();
        }
        int bitDepth = 0;
        ImageInfo::IMG_TYPE type = ImageInfo::IMG_420;
        YUVFile::Formats order = YUVFile::FORMAT_PLANAR;
        if (!params || !getZeParamsFromAvPixFmt(params->pixFmt, bitDepth, type, order)) {
            // The file stays open until the caller has asked for the parameters.
            m_openResult = ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED;
            return m_openResult;
        }
        int64_t const frameSize = FrameBytes(params->width, params->height, bitDepth, type);
        if (!SizeFitsPicture(params->width, params->height) || !CropFits(params->crop, params->width, params->height) ||
            frameSize < 1 || frameSize > INT_MAX) {
            qWarning().noquote() << QStringLiteral("Stream parameters %1x%2, crop %3,%4,%5,%6:")
                                        .arg(params->width)
                                        .arg(params->height)
                                        .arg(params->crop.left)
                                        .arg(params->crop.right)
                                        .arg(params->crop.top)
                                        .arg(params->crop.bottom)
                                 << ErrToString(ZE_NOX_CORE_INVALID_PARAMETERS);
            return fail(ZE_NOX_CORE_INVALID_PARAMETERS);
        }
        m_width = params->width;
        m_height = params->height;
        m_bitDepth = bitDepth;
        m_chromaFormat = type;
        m_planeOrder = order;
        m_frameSize = static_cast<int>(frameSize);
        m_cropInfo = params->crop;
        m_chromaOrder = params->chromaOrder == 1 ? 1 : 0;
        setReader();
        m_pixFmt = getAvPixFmtFromZeParams(m_bitDepth, m_chromaFormat, m_planeOrder);
    } else {
        ZeNoxCoreError const valid = validateRawParams();
        if (valid != ZE_NOX_CORE_OK)
            return fail(valid);
        setReader();
    }
    ZeNoxCoreError const indexed = buildRawIndex();
    if (indexed != ZE_NOX_CORE_OK) {
        m_frameOffsets.clear();
        m_frameCount = 0;
        return fail(indexed);
    }
    return finishOpen();
}

ZeNoxCoreError ZeYuvDecoder::finishOpen()
{
    // A stream whose pixel format is unknown or not accepted is never opened: its frames could
    // not be handed out.
    if (m_pixFmt == AV_PIX_FMT_NONE || !ZeNoxCoreSupportedFeatures::m_pixFmts.contains(m_pixFmt)) {
        qWarning().noquote() << "Failed to open decoder." << ErrToString(ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
        return fail(ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
    }
    bool allocated = false;
    try {
        allocated =
            m_image.allocate(m_width, m_height, m_bitDepth, m_bitDepth, m_chromaFormat, CropInfo{}, ImageInfo::FRAME);
    } catch (std::bad_alloc const&) {
        allocated = false;
    }
    if (!allocated || !m_image.hasSamples()) {
        qWarning().noquote() << QStringLiteral("Failed to allocate a %1x%2 picture.").arg(m_width).arg(m_height);
        return fail(ZE_NOX_CORE_OPERATION_FAILED);
    }
    m_openResult = ZE_NOX_CORE_OK;
    return m_openResult;
}

bool ZeYuvDecoder::readFrameAt(qint64 absolute, ImageType<short>& picture)
{
    if (!m_file->isOpen() || absolute < 0 || absolute >= m_frameOffsets.size() || m_frameSize < 1)
        return false;
    ImageBase::Plane const& p0 = picture.m_planes[0];
    if (!picture.hasSamples() || picture.m_type != m_chromaFormat || p0.width != m_width || p0.height != m_height ||
        p0.bitDepth != m_bitDepth) {
        try {
            if (!picture.allocate(m_width, m_height, m_bitDepth, m_bitDepth, m_chromaFormat, CropInfo{},
                                  ImageInfo::FRAME))
                return false;
        } catch (std::bad_alloc const&) {
            return false;
        }
        if (!picture.hasSamples())
            return false;
    }
    qint64 const offset = m_frameOffsets[static_cast<int>(absolute)];
    qint64 const bytes = std::clamp<qint64>(m_file->size() - offset, 0, m_frameSize);
    if (!m_file->seek(offset))
        return false;
    m_frameData.resize(static_cast<int>(bytes));
    qint64 const got = m_file->read(m_frameData.data(), bytes);
    // Bytes missing at the end of the file read as zero samples.
    m_frameData.resize(static_cast<int>(std::max<qint64>(got, 0)));

    PicSize g;
    g.width = m_width;
    g.height = m_height;
    g.lumaBitDepth = m_bitDepth;
    g.chromaBitDepth = m_bitDepth;
    g.type = m_yuvFile.m_imgType;
    m_yuvFile.readData(picture, m_frameData, 0, g);
    // A file storing V before U: the planes change places, so the picture is always U, V.
    if (m_chromaOrder == 1 && (m_planeOrder == YUVFile::FORMAT_PLANAR || m_planeOrder == YUVFile::FORMAT_SEMI_PLANAR) &&
        picture.m_planes[1].data != nullptr && picture.m_planes[2].data != nullptr) {
        std::lock_guard<std::mutex> lock(picture.m_mutex);
        std::swap(picture.m_planes[1], picture.m_planes[2]);
    }
    return true;
}

bool ZeYuvDecoder::readFrame(qint64 n, ImageType<short>& picture)
{
    if (m_openResult != ZE_NOX_CORE_OK || n < 0)
        return false;
    qint64 const absolute = firstFrameNumber() + n;
    if (absolute > lastFrameNumber())
        return false;
    return readFrameAt(absolute, picture);
}

ZeNoxCoreError ZeYuvDecoder::convertImageToFrame(ImageType<short> const& picture, Frame& frame,
                                                 AVPixelFormat pixelFormat) const
{
    int bitDepth = 0;
    ImageInfo::IMG_TYPE type = ImageInfo::IMG_420;
    YUVFile::Formats order = YUVFile::FORMAT_PLANAR;
    if (pixelFormat == AV_PIX_FMT_NONE) {
        qWarning().noquote() << "Failed to allocate data for image. Error code" << AVERROR(EINVAL);
        return ZE_NOX_CORE_NOT_OPENED;
    }
    // The picture must have the planes the format reads.
    if (!getZeParamsFromAvPixFmt(pixelFormat, bitDepth, type, order) || picture.m_type != type ||
        !picture.hasSamples() || !picture.plane(0) || !picture.plane(1) || !picture.plane(2))
        return ZE_NOX_CORE_INTERNAL_ERROR;

    int const fullW = picture.m_planes[0].width;
    int const fullH = picture.m_planes[0].height;
    CropInfo const& crop = m_cropInfo;
    if (!CropFits(crop, fullW, fullH))
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    int const visW = fullW - crop.left - crop.right;
    int const visH = fullH - crop.top - crop.bottom;
    if (!frame.allocatePicture(visW, visH, pixelFormat))
        return ZE_NOX_CORE_NOT_OPENED;
    AVFrame* f = frame.avFrame();

    // Chroma crop is the luma crop shifted by the subsampling; the copied chroma area is clamped
    // to the Frame's chroma planes whatever the crop.
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(pixelFormat);
    int const sw = desc->log2_chroma_w;
    int const sh = desc->log2_chroma_h;
    int const chromaLeft = crop.left >> sw;
    int const chromaTop = crop.top >> sh;
    int const chromaCols = std::max(0, std::min(AV_CEIL_RSHIFT(visW, sw), picture.m_planes[1].width - chromaLeft));
    int const chromaRows = std::max(0, std::min(AV_CEIL_RSHIFT(visH, sh), picture.m_planes[1].height - chromaTop));
    bool const words = bitDepth > 8;

    switch (pixelFormat) {
    case AV_PIX_FMT_NV12:
    case AV_PIX_FMT_P010LE:
        if (words) {
            CopyPlane<uint16_t>(f, 0, picture, 0, crop.left, crop.top, visW, visH);
            CopyInterleaved<uint16_t>(f, picture, chromaLeft, chromaTop, chromaCols, chromaRows);
        } else {
            CopyPlane<uint8_t>(f, 0, picture, 0, crop.left, crop.top, visW, visH);
            CopyInterleaved<uint8_t>(f, picture, chromaLeft, chromaTop, chromaCols, chromaRows);
        }
        break;
    case AV_PIX_FMT_YUYV422:
        for (int y = 0; y < visH; ++y) {
            int const cy = std::min(chromaTop + y, picture.m_planes[1].height - 1);
            PackYuyvRow(DstRow<uint8_t>(f, 0, y), picture.row(0, crop.top + y) + crop.left,
                        picture.row(1, cy) + chromaLeft, picture.row(2, cy) + chromaLeft, visW, chromaCols);
        }
        break;
    default:
        for (int p = 0; p < 3; ++p) {
            int const left = p == 0 ? crop.left : chromaLeft;
            int const top = p == 0 ? crop.top : chromaTop;
            int const cols = p == 0 ? visW : chromaCols;
            int const rows = p == 0 ? visH : chromaRows;
            if (words)
                CopyPlane<uint16_t>(f, p, picture, p, left, top, cols, rows);
            else
                CopyPlane<uint8_t>(f, p, picture, p, left, top, cols, rows);
        }
        break;
    }
    return ZE_NOX_CORE_OK;
}

ZeNoxCoreError ZeYuvDecoder::decodeAt(qint64 target, int newCurFrame, Frame& frame)
{
    if (!isOpened() || m_openResult != ZE_NOX_CORE_OK)
        return ZE_NOX_CORE_NOT_OPENED;
    if (target < 0 || target >= getOriginalFrameCount() || target > lastFrameNumber())
        return ZE_NOX_CORE_FAILED_TO_READ_FILE;
    if (!readFrameAt(target, m_image))
        return ZE_NOX_CORE_FAILED_TO_READ_FILE;
    m_rangeFrameNumber = newCurFrame;
    return convertImageToFrame(m_image, frame, getAvPixFmtFromZeParams(m_bitDepth, m_chromaFormat, m_planeOrder));
}

ZeNoxCoreError ZeYuvDecoder::getFirstFrame(Frame& frame)
{
    return decodeAt(firstFrameNumber(), 0, frame);
}

ZeNoxCoreError ZeYuvDecoder::getPrevFrame(Frame& frame)
{
    return decodeAt(qint64(firstFrameNumber()) + m_rangeFrameNumber - 1, m_rangeFrameNumber - 1, frame);
}

ZeNoxCoreError ZeYuvDecoder::getNextFrame(Frame& frame)
{
    return decodeAt(qint64(firstFrameNumber()) + m_rangeFrameNumber + 1, m_rangeFrameNumber + 1, frame);
}

ZeNoxCoreError ZeYuvDecoder::getLastFrame(Frame& frame)
{
    return decodeAt(lastFrameNumber(), lastFrameNumber() - firstFrameNumber(), frame);
}

ZeNoxCoreError ZeYuvDecoder::getFrame(int n, Frame& frame)
{
    if (!isOpened() || m_openResult != ZE_NOX_CORE_OK)
        return ZE_NOX_CORE_NOT_OPENED;
    if (n < 0 || n >= getOriginalFrameCount())
        return ZE_NOX_CORE_INTERNAL_ERROR;
    return decodeAt(qint64(firstFrameNumber()) + n, n, frame);
}

} // namespace ze::nox::core
