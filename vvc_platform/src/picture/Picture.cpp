#include "picture/Picture.h"

bool PelStorage::create(ChromaFormat format, int width, int height, int bitDepth)
{
    destroy();
    if (width <= 0 || height <= 0 || width > kMaxPictureDimension || height > kMaxPictureDimension ||
        int64_t(width) * height > kMaxLumaPictureSize || format < CHROMA_400 || format >= NUM_CHROMA_FORMAT ||
        bitDepth < 8 || bitDepth > 16)
        return false;
    m_format = format;
    m_bitDepth = bitDepth;
    int const sx = format == CHROMA_420 || format == CHROMA_422 ? 1 : 0;
    int const sy = format == CHROMA_420 ? 1 : 0;
    for (int c = 0; c < (format == CHROMA_400 ? 1 : 3); ++c) {
        m_width[c] = c == 0 ? width : (width + sx) >> sx;
        m_height[c] = c == 0 ? height : (height + sy) >> sy;
        m_samples[c].assign(size_t(m_width[c]) * size_t(m_height[c]), uint16_t(1u << (bitDepth - 1)));
    }
    return true;
}

void PelStorage::destroy()
{
    for (int c = 0; c < 3; ++c) {
        std::vector<uint16_t>().swap(m_samples[c]);
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
