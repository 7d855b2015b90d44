#include "picture/Picture.h"
#include "util/WorkerPool.h"

#include <algorithm>

namespace {

// A picture format the buffers accept: sizes bounded before any arithmetic on them.
bool ValidPictureFormat(ChromaFormat format, int width, int height, int bitDepth)
{
    return width > 0 && height > 0 && width <= kMaxPictureDimension && height <= kMaxPictureDimension &&
           int64_t(width) * height <= kMaxLumaPictureSize && format >= CHROMA_400 && format < NUM_CHROMA_FORMAT &&
           bitDepth >= 8 && bitDepth <= 16;
}

} // namespace

bool PelStorage::create(ChromaFormat format, int width, int height, int bitDepth, bool grey)
{
    destroy();
    if (!ValidPictureFormat(format, width, height, bitDepth))
        return false;
    m_format = format;
    m_bitDepth = bitDepth;
    int const sx = ChromaShiftX(format);
    int const sy = ChromaShiftY(format);
    for (int c = 0; c < (format == CHROMA_400 ? 1 : 3); ++c) {
        m_width[c] = c == 0 ? width : (width + sx) >> sx;
        m_height[c] = c == 0 ? height : (height + sy) >> sy;
        m_samples[c] = vvcpool::TakePlane(size_t(m_width[c]) * size_t(m_height[c]));
        if (m_samples[c].empty()) {
            destroy();
            return false;
        }
        if (grey)
            std::fill(m_samples[c].begin(), m_samples[c].end(), uint16_t(1u << (bitDepth - 1)));
    }
    return true;
}

void PelStorage::destroy()
{
    for (int c = 0; c < 3; ++c) {
        vvcpool::ReturnPlane(std::move(m_samples[c]));
        m_width[c] = m_height[c] = 0;
    }
}

PelUnitBuf PelStorage::view() const
{
    PelUnitBuf buf;
    buf.chromaFormat = m_format;
    buf.width = m_width[0];
    buf.height = m_height[0];
    buf.bitDepth = m_bitDepth;
    for (int c = 0; c < 3; ++c)
        if (!m_samples[c].empty())
            buf.planes[c] = {m_samples[c].data(), m_width[c], m_width[c], m_height[c]};
    return buf;
}

bool PaddedPelStorage::create(ChromaFormat format, int width, int height, int bitDepth)
{
    if (!allocate(format, width, height, bitDepth))
        return false;
    for (int c = 0; c < numPlanes(); ++c)
        std::fill(m_samples[c].begin(), m_samples[c].end(), uint16_t(1u << (bitDepth - 1)));
    return true;
}

bool PaddedPelStorage::allocate(ChromaFormat format, int width, int height, int bitDepth)
{
    destroy();
    if (!ValidPictureFormat(format, width, height, bitDepth))
        return false;
    m_format = format;
    m_bitDepth = bitDepth;
    int const sx = ChromaShiftX(format);
    int const sy = ChromaShiftY(format);
    for (int c = 0; c < numPlanes(); ++c) {
        int const shiftX = c == 0 ? 0 : sx, shiftY = c == 0 ? 0 : sy;
        m_width[c] = (width + shiftX) >> shiftX;
        m_height[c] = (height + shiftY) >> shiftY;
        // One margin for both directions: the smaller subsampled one keeps it a whole number of
        // luma samples in each.
        m_margin[c] = kLumaMargin >> std::max(shiftX, shiftY);
        m_stride[c] = ptrdiff_t(m_width[c]) + 2 * m_margin[c];
        m_offset[c] = m_stride[c] * m_margin[c] + m_margin[c];
        m_samples[c] = vvcpool::TakePlane(size_t(m_stride[c]) * size_t(m_height[c] + 2 * m_margin[c]));
        if (m_samples[c].empty()) {
            destroy();
            return false;
        }
    }
    return true;
}

void PaddedPelStorage::destroy()
{
    for (int c = 0; c < 3; ++c) {
        vvcpool::ReturnPlane(std::move(m_samples[c]));
        m_width[c] = m_height[c] = m_margin[c] = 0;
        m_stride[c] = m_offset[c] = 0;
    }
}

bool PaddedPelStorage::assign(PelStorage const& picture)
{
    if (picture.empty() ||
        !allocate(picture.chromaFormat(), picture.planeWidth(0), picture.planeHeight(0), picture.bitDepth()))
        return false;
    if (!copyRows(picture, 0, picture.planeHeight(0))) {
        destroy();
        return false;
    }
    return true;
}

bool PaddedPelStorage::copyRows(PelStorage const& picture, int y0, int y1)
{
    if (empty() || picture.chromaFormat() != m_format || picture.planeWidth(0) != m_width[0] ||
        picture.planeHeight(0) != m_height[0] || y0 < 0 || y1 > m_height[0] || y0 >= y1)
        return false;
    for (int c = 0; c < numPlanes(); ++c) {
        uint16_t const* src = picture.plane(c);
        if (!src || picture.planeWidth(c) != m_width[c] || picture.planeHeight(c) != m_height[c])
            return false;
    }
    int const sy = ChromaShiftY(m_format);
    for (int c = 0; c < numPlanes(); ++c) {
        int const shift = c ? sy : 0;
        // Chroma rows of the luma rows (the last one covers an odd picture height).
        int const r0 = y0 >> shift, r1 = y1 == m_height[0] ? m_height[c] : y1 >> shift;
        uint16_t const* src = picture.plane(c);
        for (int y = r0; y < r1; ++y)
            std::copy_n(src + ptrdiff_t(y) * m_width[c], m_width[c], origin(c) + y * m_stride[c]);
        extendRows(c, r0, r1);
    }
    return true;
}

void PaddedPelStorage::extendRows(int c, int y0, int y1)
{
    if (m_samples[c].empty() || y0 >= y1)
        return;
    int const m = m_margin[c], w = m_width[c], h = m_height[c];
    ptrdiff_t const stride = m_stride[c];
    uint16_t* const o = origin(c);
    for (int y = y0; y < y1; ++y) {
        uint16_t* row = o + y * stride;
        std::fill(row - m, row, row[0]);
        std::fill(row + w, row + w + m, row[w - 1]);
    }
    for (int y = 1; y <= m; ++y) {
        if (y0 == 0)
            std::copy_n(o - m, size_t(stride), o - m - y * stride);
        if (y1 == h)
            std::copy_n(o - m + (h - 1) * stride, size_t(stride), o - m + (h - 1 + y) * stride);
    }
}

void PaddedPelStorage::extendMargins()
{
    for (int c = 0; c < numPlanes(); ++c)
        extendRows(c, 0, m_height[c]);
}

PelUnitBuf PaddedPelStorage::view() const
{
    PelUnitBuf buf;
    buf.chromaFormat = m_format;
    buf.width = m_width[0];
    buf.height = m_height[0];
    buf.bitDepth = m_bitDepth;
    for (int c = 0; c < 3; ++c)
        if (!m_samples[c].empty())
            buf.planes[c] = {origin(c), m_stride[c], m_width[c], m_height[c]};
    return buf;
}

void RowProgress::begin()
{
    m_failed.store(false, std::memory_order_relaxed);
    m_lines.store(0, std::memory_order_release);
}

void RowProgress::setTask(std::shared_ptr<vvcutil::SharedTask> task)
{
    m_task = std::move(task);
}

void RowProgress::publish(int lines)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (lines > m_lines.load(std::memory_order_relaxed))
            m_lines.store(lines, std::memory_order_release);
    }
    m_changed.notify_all();
}

void RowProgress::finish(bool failed)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_failed.store(failed, std::memory_order_relaxed);
        m_lines.store(INT_MAX, std::memory_order_release);
    }
    m_changed.notify_all();
}

void RowProgress::waitFor(int lines) const
{
    if (m_lines.load(std::memory_order_acquire) >= lines)
        return;
    // A picture no worker has taken yet is decoded here: a wait never needs a free worker.
    if (m_task)
        m_task->tryRun();
    vvcutil::BlockedScope const blocked;
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return m_lines.load(std::memory_order_acquire) >= lines; });
}
