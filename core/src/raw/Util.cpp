#include "raw/Util.h"

#include "display/ColorConversion.h"
#include "display/ThreadConverter.h"
#include "metrics/vmaf_plane.h"

#include <QIODevice>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

int64_t Half(int64_t v)
{
    return (v + 1) / 2;
}

// Chroma crop of a plane from the luma crop: halved (rounding down) where the format subsamples.
CropInfo ChromaCrop(CropInfo const& crop, ImageInfo::IMG_TYPE type)
{
    CropInfo c = crop;
    switch (type) {
    case ImageInfo::IMG_400: c = CropInfo{}; break;
    case ImageInfo::IMG_420:
        c.left /= 2;
        c.right /= 2;
        c.top /= 2;
        c.bottom /= 2;
        break;
    case ImageInfo::IMG_422:
        c.left /= 2;
        c.right /= 2;
        break;
    case ImageInfo::IMG_440:
        c.top /= 2;
        c.bottom /= 2;
        break;
    default: break;
    }
    return c;
}

} // namespace

ImageBase::ImageBase(int bytesPerSample) : m_bytesPerSample(bytesPerSample) {}

ImageBase::ImageBase(ImageBase const& other) : m_bytesPerSample(other.m_bytesPerSample)
{
    copyFrom(other);
}

ImageBase::~ImageBase() = default;

void ImageBase::resetPlanes()
{
    for (Plane& p : m_planes)
        p = Plane{};
}

bool ImageBase::newBuffer(int64_t samples)
{
    m_buffer.reset();
    m_capacity = 0;
    int64_t const bytes = static_cast<int64_t>(m_bytesPerSample) * (samples + 16);
    // Zeroed, so margins and slack never hold stale values. Fresh pages from the system are known
    // to be zero and are not cleared again, so a picture costs memory only as it is written (a 1080p
    // picture's clearing at open had taken some 15 ms of a decoder's opening). A large picture is
    // mapped on huge pages: a page fault per 2 MiB instead of per 4 KiB (a 1080p picture's first
    // frame had spent 20-40 ms in page faults); from 4 MiB on, so that the rounding to whole huge
    // pages adds less than half.
    std::size_t const size = static_cast<std::size_t>(bytes);
    if (size >= (std::size_t(4) << 20)) {
        bool zeroed = false;
        auto* data = static_cast<uint8_t*>(ze::nox::core::vmaf::AllocateSamples(size, &zeroed));
        if (!data)
            throw std::bad_alloc();
        if (!zeroed)
            std::memset(data, 0, size);
        m_buffer = std::shared_ptr<uint8_t[]>(data, [size](uint8_t* p) { ze::nox::core::vmaf::FreeSamples(p, size); });
    } else {
        auto* data = static_cast<uint8_t*>(std::calloc(size, 1));
        if (!data)
            throw std::bad_alloc();
        m_buffer = std::shared_ptr<uint8_t[]>(data, [](uint8_t* p) { std::free(p); });
    }
    m_capacity = bytes;
    return true;
}

bool ImageBase::allocate(int width, int height, int lumaBitDepth, int chromaBitDepth, ImageInfo::IMG_TYPE type,
                         CropInfo crop, ImageInfo::IMG_STRUCT structure)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_buffer.reset();
    m_capacity = 0;
    m_size = 0;
    resetPlanes();
    m_type = type;
    m_struct = structure;
    if (type >= ImageInfo::IMG_400 && type <= ImageInfo::IMG_440)
        return allocateYUV(width, height, lumaBitDepth, chromaBitDepth, type, 0, crop);
    if (type == ImageInfo::IMG_RGB || type == ImageInfo::IMG_RGBA)
        return layOutRGB(width, height, lumaBitDepth, 0, crop);
    return true;
}

bool ImageBase::allocateYUV(int width, int height, int lumaBitDepth, int chromaBitDepth, ImageInfo::IMG_TYPE type,
                            int size, CropInfo crop)
{
    int64_t const W = int64_t(width) + m_margins[0] + m_margins[1];
    int64_t const H = int64_t(height) + m_margins[2] + m_margins[3];
    if (width < 0 || height < 0 || W < 0 || H < 0 || W > kMaxSamples || H > kMaxSamples)
        return false;

    int64_t chromaStride = W;
    int64_t chromaSize = H * W;
    int64_t cw = width; // visible chroma plane size
    int64_t ch = height;
    switch (type) {
    case ImageInfo::IMG_420:
        chromaStride = Half(W);
        chromaSize = Half(H) * chromaStride;
        cw = Half(width);
        ch = Half(height);
        break;
    case ImageInfo::IMG_422:
        chromaStride = Half(W);
        chromaSize = H * chromaStride;
        cw = Half(width);
        break;
    case ImageInfo::IMG_440:
        chromaSize = Half(H) * W;
        ch = Half(height);
        break;
    case ImageInfo::IMG_400:
        chromaStride = 0;
        chromaSize = 0;
        cw = 0;
        ch = 0;
        break;
    default: break;
    }

    int64_t const needed = W * H + 2 * chromaSize;
    if (needed > kMaxSamples || size < 0 || (size > 0 && size < needed))
        return false;
    m_type = type;
    if (size == 0)
        size = static_cast<int>(needed);
    m_size = size;
    if (size > 0)
        newBuffer(size);

    resetPlanes();
    auto* base = reinterpret_cast<uint8_t*>(m_buffer.get());
    int64_t const bps = m_bytesPerSample;
    Plane& y = m_planes[0];
    y.data = base ? base + (m_margins[2] * W + m_margins[0]) * bps : nullptr;
    y.stride = W;
    y.width = width;
    y.height = height;
    y.bitDepth = static_cast<uint8_t>(lumaBitDepth);
    y.crop = crop;
    CropInfo const cc = ChromaCrop(crop, m_type);
    for (int i = 1; i < 3; ++i) {
        Plane& p = m_planes[i];
        p.data = (base && chromaSize > 0) ? base + (W * H + (i - 1) * chromaSize) * bps : nullptr;
        p.stride = chromaStride;
        p.width = static_cast<int>(cw);
        p.height = static_cast<int>(ch);
        p.bitDepth = static_cast<uint8_t>(chromaBitDepth);
        p.crop = cc;
    }
    return true;
}

bool ImageBase::layOutRGB(int width, int height, int lumaBitDepth, int size, CropInfo crop)
{
    int64_t const W = int64_t(width) + m_margins[0] + m_margins[1];
    int64_t const H = int64_t(height) + m_margins[2] + m_margins[3];
    if (width < 0 || height < 0 || W < 0 || H < 0 || W > kMaxSamples || H > kMaxSamples)
        return false;
    int64_t const needed = 3 * W * H;
    if (needed > kMaxSamples || size < 0 || (size > 0 && size < needed))
        return false;
    if (size == 0)
        size = static_cast<int>(needed);
    m_size = size;
    if (size > 0)
        newBuffer(size);
    resetPlanes();
    auto* base = m_buffer.get();
    Plane& p = m_planes[0];
    p.data = base ? base + (m_margins[2] * 3 * W + m_margins[0]) * m_bytesPerSample : nullptr;
    p.stride = 3 * W;
    p.width = width;
    p.height = height;
    p.bitDepth = static_cast<uint8_t>(lumaBitDepth);
    p.crop = crop;
    m_planes[1].crop = crop;
    m_planes[2].crop = crop;
    return true;
}

void ImageBase::setZero()
{
    if (m_buffer)
        std::memset(m_buffer.get(), 0, static_cast<size_t>(m_capacity));
}

void ImageBase::release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_buffer.reset();
    m_capacity = 0;
    m_size = 0;
    resetPlanes();
}

void ImageBase::copyFrom(ImageBase const& other)
{
    if (&other == this)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_buffer.reset();
    m_capacity = 0;
    m_type = other.m_type;
    m_struct = other.m_struct;
    m_bytesPerSample = other.m_bytesPerSample;
    m_originX = other.m_originX;
    m_originY = other.m_originY;
    std::fill(std::begin(m_margins), std::end(m_margins), 0);
    m_size = other.m_size;
    for (int i = 0; i < 3; ++i)
        m_planes[i] = other.m_planes[i];

    bool const known = other.m_type >= ImageInfo::IMG_400 && other.m_type <= ImageInfo::IMG_RGBA;
    if (!known || !other.m_buffer || other.m_size <= 0 || other.m_planes[0].data == nullptr) {
        for (Plane& p : m_planes)
            p.data = nullptr;
        return;
    }

    newBuffer(other.m_size);
    int64_t const bytes = std::min<int64_t>(int64_t(m_bytesPerSample) * other.m_size, other.m_capacity);
    std::memcpy(m_buffer.get(), other.m_buffer.get(), static_cast<size_t>(bytes));

    // Planes keep their distances inside the buffer; plane 0 moves by the origin.
    auto const* srcBase = other.m_buffer.get();
    auto const* src0 = static_cast<uint8_t const*>(other.m_planes[0].data);
    int64_t const off0 =
        (src0 - srcBase) + (int64_t(m_originY) * other.m_planes[0].stride + m_originX) * m_bytesPerSample;
    for (int i = 0; i < 3; ++i) {
        auto const* src = static_cast<uint8_t const*>(other.m_planes[i].data);
        if (src == nullptr) {
            m_planes[i].data = nullptr;
            continue;
        }
        int64_t const off = off0 + (src - src0);
        m_planes[i].data = (off >= 0 && off < m_capacity) ? m_buffer.get() + off : nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Util

// clang-format off
double const Util::Krgb[5][3] = {
    {0.299, 0.587, 0.114},
    {0.2126, 0.7152, 0.0722},
    {0.299, 0.587, 0.114},
    {0.299, 0.587, 0.114},
    {0.2627, 0.678, 0.0593},
};
// clang-format on

ThreadConverter Util::converter;

Util::Util() = default;
Util::~Util() = default;
void Util::init() {}

template <typename T>
QImage Util::getImg(int plane, ImageType<T> const* image, int width, int height, bool, int residualBitDepth)
{
    if (image == nullptr)
        return QImage();
    std::lock_guard<std::mutex> lock(image->m_mutex);
    ImageInfo::IMG_TYPE const type = image->m_type;
    ImageBase::Plane const& p0 = image->m_planes[0];
    if (!image->hasSamples() || p0.data == nullptr || width < 1 || height < 1 || type < ImageInfo::IMG_400 ||
        type > ImageInfo::IMG_RGBA)
        return QImage();
    QImage img(width, height, QImage::Format_ARGB32);
    if (img.isNull())
        return QImage();
    // Sizes past plane 0 are not read: that part of the image stays black.
    int const cw = std::min(width, p0.width);
    int const ch = std::min(height, p0.height);
    if (cw < 1 || ch < 1) {
        img.fill(QColor(0, 0, 0));
        return img;
    }
    bool const whole = cw == width && ch == height;
    QImage part = whole ? QImage() : QImage(cw, ch, QImage::Format_ARGB32);
    QImage& target = whole ? img : part; // one owner, so bits() does not copy
    if (target.isNull())
        return QImage();
    uchar* out = target.bits();
    unsigned const w = static_cast<unsigned>(cw);
    unsigned const h = static_cast<unsigned>(ch);
    if (type == ImageInfo::IMG_RGB || type == ImageInfo::IMG_RGBA)
        ColorConversion::copyRGBToARGB32(image, out, w, h, 0);
    else if (type == ImageInfo::IMG_400 || plane != 0)
        ColorConversion::copyOnePlaneToRGB(image, type == ImageInfo::IMG_400 ? 1 : plane, out, w, h, residualBitDepth);
    else
        getConvertor()->convertITU_RGB(image, out, w, h, Krgb[1], residualBitDepth);
    if (whole)
        return img;
    img.fill(QColor(0, 0, 0));
    for (int y = 0; y < ch; ++y)
        std::memcpy(img.scanLine(y), part.constScanLine(y), static_cast<size_t>(cw) * 4);
    return img;
}

template QImage Util::getImg<short>(int, ImageType<short> const*, int, int, bool, int);
template QImage Util::getImg<int>(int, ImageType<int> const*, int, int, bool, int);

char const* Util::getCodecName(int id)
{
    static char const* const kNames[] = {"HEVC", "VP9", "AVC", "MPEG2", "VP8", "AVS2", "AV1", "YUV", "VVC"};
    return (id >= 1 && id <= 9) ? kNames[id - 1] : "Unknown";
}

char const* Util::getContainerName(int id)
{
    static char const* const kNames[] = {"binary", "mkv", "mp4", "mpeg ts/ps", "ivf", "mmt", "avi"};
    int const c = id >> 16;
    return (c >= 1 && c <= 7) ? kNames[c - 1] : "Unknown";
}

QString Util::colorFormatString(int type)
{
    static char const* const kNames[] = {"4:0:0", "4:2:0", "4:2:2", "4:4:4", "4:4:0"};
    return (type >= 0 && type <= 4) ? QString::fromLatin1(kNames[type]) : QStringLiteral("Unknown");
}

QColor const& Util::getContrastColor(QColor const& color)
{
    static QColor const sBlack(Qt::black);
    static QColor const sWhite(Qt::white);
    double const luma = 0.299 * color.red() + 0.587 * color.green() + 0.114 * color.blue();
    return luma > 130 ? sBlack : sWhite;
}

QString Util::formSize(long long bits)
{
    long long const bytes = bits >> 3;
    if (bits < 65536)
        return QStringLiteral("%1b").arg(bytes);
    long long const k = (bytes + 512) >> 10;
    if (k <= 1024)
        return QStringLiteral("%1k").arg(k);
    return QStringLiteral("%1M").arg((bytes + 524288) >> 20);
}

QString Util::hashString(QByteArray const& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QString Util::getRawBytes(QIODevice* device, long long bitPos, int bitCount)
{
    if (device == nullptr || !device->isOpen() || bitPos < 0)
        return QString();
    if (bitCount <= 0)
        bitCount = 1;
    long long const first = bitPos >> 3;
    long long const lastBit = bitPos + bitCount - 1;
    long long const last = lastBit >> 3;
    long long const count = last - first + 1;
    long long const shown = std::min<long long>(count, 10001);
    QString text = QStringLiteral("(%1)").arg(bitPos & 7);
    auto hex = [](char c) { return QStringLiteral("%1").arg(static_cast<uchar>(c), 2, 16, QLatin1Char('0')); };
    bool ok = device->seek(first);
    QByteArray const bytes = ok ? device->read(shown) : QByteArray();
    for (int i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        text += hex(bytes[i]);
    }
    ok = ok && bytes.size() == shown;
    if (count > shown) {
        text += QStringLiteral("(... truncated)");
        QByteArray tail;
        if (ok && device->seek(last - 2))
            tail = device->read(3);
        for (char c : tail)
            text += QStringLiteral(" %1").arg(hex(c));
        ok = tail.size() == 3;
    } else {
        text += QStringLiteral("(%1)").arg(lastBit & 7);
    }
    if (!ok)
        text += QStringLiteral("IO error reading file");
    return text;
}

void Util::calculatePSNR(ImageType<short> const* a, ImageType<short> const* b, bool useCrop, COMPONENT component,
                         int lumaBitDepth, int chromaBitDepth, double psnr[3])
{
    if (a == nullptr || b == nullptr || psnr == nullptr || !a->hasSamples() || !b->hasSamples())
        return;
    ImageBase::Plane const& a0 = a->m_planes[0];
    ImageBase::Plane const& b0 = b->m_planes[0];
    if (a0.width != b0.width || a0.height != b0.height)
        return;
    for (int p = 0; p < 3; ++p) {
        if (component != COMPONENT_ALL && p != component - 1)
            continue;
        ImageBase::Plane const& pa = a->m_planes[p];
        ImageBase::Plane const& pb = b->m_planes[p];
        CropInfo const ca = useCrop ? pa.crop : CropInfo{};
        CropInfo const cb = useCrop ? pb.crop : CropInfo{};
        int64_t const w = std::min<int64_t>(int64_t(pa.width) - ca.left - ca.right, int64_t(pb.width) - cb.left);
        int64_t const h = std::min<int64_t>(int64_t(pa.height) - ca.top - ca.bottom, int64_t(pb.height) - cb.top);
        if (pa.data == nullptr || pb.data == nullptr || w <= 0 || h <= 0) {
            psnr[p] = 100;
            continue;
        }
        double sum = 0;
        for (int64_t y = 0; y < h; ++y) {
            short const* ra = a->row(p, static_cast<int>(y + ca.top)) + ca.left;
            short const* rb = b->row(p, static_cast<int>(y + cb.top)) + cb.left;
            int64_t s = 0;
            for (int64_t x = 0; x < w; ++x) {
                int64_t const d = int64_t(static_cast<unsigned short>(ra[x])) - static_cast<unsigned short>(rb[x]);
                s += d * d;
            }
            sum += double(s);
        }
        double const peak = std::ldexp(1.0, std::clamp(p == 0 ? lumaBitDepth : chromaBitDepth, 1, 16));
        psnr[p] = sum == 0 ? 100 : 10 * std::log10(peak * peak * double(w) * double(h) / sum);
    }
}

void Util::convertToFormat(ImageType<short>* image, PICTURE_FORMAT format)
{
    if (image == nullptr || !image->hasSamples())
        return;
    int const from = image->m_struct;
    bool const known =
        (from == PICTURE_FRAME && (format == PICTURE_FIELDS_TOP_FIRST || format == PICTURE_FIELDS_BOTTOM_FIRST)) ||
        (from == PICTURE_FIELDS_TOP_FIRST && format == PICTURE_FRAME);
    if (!known)
        return;
    ImageType<short> const copy(*image);
    for (int p = 0; p < 3; ++p) {
        ImageBase::Plane const& pl = image->m_planes[p];
        if (pl.data == nullptr || copy.m_planes[p].data == nullptr)
            continue;
        int const h = pl.height;
        int64_t const rowSamples = (image->m_type == ImageInfo::IMG_RGB || image->m_type == ImageInfo::IMG_RGBA)
                                       ? int64_t(pl.width) * 3
                                       : pl.width;
        int const top = (h + 1) / 2; // even lines
        int const bottom = h / 2;    // odd lines
        for (int line = 0; line < h; ++line) {
            int row = line; // destination row of frame line `line` (or source row for the inverse)
            if (format == PICTURE_FIELDS_BOTTOM_FIRST)
                row = (line & 1) ? line / 2 : bottom + line / 2;
            else
                row = (line & 1) ? top + line / 2 : line / 2;
            short const* src = format == PICTURE_FRAME ? copy.row(p, row) : copy.row(p, line);
            short* dst = format == PICTURE_FRAME ? image->row(p, line) : image->row(p, row);
            std::memcpy(dst, src, static_cast<size_t>(rowSamples) * sizeof(short));
        }
    }
    image->m_struct = static_cast<ImageInfo::IMG_STRUCT>(format);
}

int Util::detectCodecInBinaryStream(unsigned char* data, int size)
{
    if (data == nullptr || size < 4)
        return 0;
    int64_t sps = 0, pps = 0, slices = 0, idr = 0, invalid = 0;
    int64_t seqHeaders = 0, mpegSlices = 0, pictures = 0;
    bool violation = false;
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        unsigned const b = data[i + 3];
        if (b == 0x00 || b >= 0x80)
            violation = true;
        if (b == 0xB3)
            ++seqHeaders;
        else if (b >= 0x01 && b <= 0xAF)
            ++mpegSlices;
        else if (b == 0x00)
            ++pictures;
        if (b >= 0x80)
            continue;
        unsigned const type = b & 0x1f;
        unsigned const refIdc = (b >> 5) & 3;
        switch (type) {
        case 1: ++slices; break;
        case 5:
            ++idr;
            violation = violation || refIdc == 0;
            break;
        case 7:
            ++sps;
            violation = violation || refIdc == 0;
            // reserved_zero_2bits after the constraint flags
            if (i + 5 < size && (data[i + 5] & 0x03) != 0)
                violation = true;
            break;
        case 8:
            ++pps;
            violation = violation || refIdc == 0;
            break;
        case 6:
        case 9:
        case 10:
        case 11:
        case 12: violation = violation || refIdc != 0; break;
        default:
            if (type == 0 || type >= 24)
                ++invalid;
            break;
        }
    }
    bool const mpeg2 = seqHeaders > 0 && mpegSlices > 0 && pictures > 0;
    bool const avc = sps > 0 && pps > 0 && (slices + idr) > 0 && (sps + pps + slices + idr) >= invalid;
    if (avc) {
        if (violation || (mpeg2 && mpegSlices > slices + idr))
            return 4;
        return 3;
    }
    return mpeg2 ? 4 : 0;
}
