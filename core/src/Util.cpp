#include "Util.h"

#include <algorithm>
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
    case ImageInfo::IMG_400:
        c = CropInfo{};
        break;
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
    default:
        break;
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
    // Zeroed, so margins and slack never hold stale values.
    m_buffer = std::shared_ptr<uint8_t[]>(new uint8_t[static_cast<size_t>(bytes)]());
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
    default:
        break;
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
    int64_t const off0 = (src0 - srcBase)
                         + (int64_t(m_originY) * other.m_planes[0].stride + m_originX) * m_bytesPerSample;
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
