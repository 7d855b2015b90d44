#include "picture/VideoIOYuv.h"

#include <algorithm>

bool VideoIOYuv::open(std::string const&, bool writeMode, int const fileBitDepth[2], int const[2], int const[2],
                      unsigned char** planes, int const* planeSizes)
{
    close();
    if (!writeMode || !planes || !planeSizes || !planes[0] || planeSizes[0] <= 0)
        return false;
    for (int i = 0; i < 3; ++i) {
        m_planes[i] = planes[i];
        m_planeSizes[i] = planeSizes[i];
    }
    m_fileBitDepth = fileBitDepth ? std::max(fileBitDepth[0], fileBitDepth[1]) : 8;
    m_open = true;
    return true;
}

void VideoIOYuv::close()
{
    m_open = false;
    for (int i = 0; i < 3; ++i) {
        m_planes[i] = nullptr;
        m_planeSizes[i] = 0;
    }
}

bool VideoIOYuv::writePlanes(PelUnitBuf const& pic, PelUnitBuf const* bottom, int confLeft, int confRight, int confTop,
                             int confBottom, bool topFieldFirst)
{
    if (!m_open || pic.empty() ||
        (bottom && (bottom->empty() || bottom->width != pic.width || bottom->height != pic.height ||
                    bottom->chromaFormat != pic.chromaFormat)))
        return false;
    if (confLeft < 0 || confRight < 0 || confTop < 0 || confBottom < 0 || m_fileBitDepth < 1 || m_fileBitDepth > 16)
        return false;
    int const width = pic.width - confLeft - confRight;
    int const fieldHeight = pic.height - confTop - confBottom;
    if (width <= 0 || fieldHeight <= 0)
        return false;
    int const sx = pic.chromaFormat == CHROMA_420 || pic.chromaFormat == CHROMA_422 ? 1 : 0;
    int const sy = pic.chromaFormat == CHROMA_420 ? 1 : 0;
    int const bytes = m_fileBitDepth > 8 ? 2 : 1;
    int const shift = pic.bitDepth - m_fileBitDepth;
    int const maxOut = (1 << m_fileBitDepth) - 1;
    int const numPlanes = pic.chromaFormat == CHROMA_400 ? 1 : 3;
    for (int c = 0; c < numPlanes; ++c) {
        int const cx = c ? sx : 0, cy = c ? sy : 0;
        int const w = (width + cx) >> cx;
        int const h = (fieldHeight + cy) >> cy;
        int const x0 = confLeft >> cx, y0 = confTop >> cy;
        int const rows = bottom ? 2 * h : h;
        PlaneView const& src = pic.planes[c];
        if (!m_planes[c] || !src.samples || x0 + w > src.width || y0 + h > src.height ||
            int64_t(rows) * w * bytes > m_planeSizes[c])
            return false;
        for (int row = 0; row < rows; ++row) {
            // Two fields are interleaved row by row, the first field on the even rows.
            PlaneView const* from = &src;
            int y = row;
            if (bottom) {
                bool const evenRow = (row & 1) == 0;
                from = evenRow == topFieldFirst ? &src : &bottom->planes[c];
                y = row >> 1;
            }
            if (!from->samples || y0 + y >= from->height)
                return false;
            uint16_t const* in = from->samples + ptrdiff_t(y0 + y) * from->stride + x0;
            unsigned char* out = m_planes[c] + ptrdiff_t(row) * w * bytes;
            for (int x = 0; x < w; ++x) {
                int v = in[x];
                v = shift > 0 ? (v + (1 << (shift - 1))) >> shift : v << -shift;
                v = std::min(std::max(v, 0), maxOut);
                if (bytes == 2) {
                    out[2 * x] = uint8_t(v & 0xFF);
                    out[2 * x + 1] = uint8_t(v >> 8);
                } else {
                    out[x] = uint8_t(v);
                }
            }
        }
    }
    // A 4:0:0 picture written to an output with chroma planes gets neutral ones.
    for (int c = numPlanes; c < 3; ++c) {
        if (!m_planes[c] || m_planeSizes[c] <= 0)
            continue;
        int const neutral = 1 << (m_fileBitDepth - 1);
        for (int i = 0; i + bytes <= m_planeSizes[c]; i += bytes) {
            m_planes[c][i] = uint8_t(neutral & 0xFF);
            if (bytes == 2)
                m_planes[c][i + 1] = uint8_t(neutral >> 8);
        }
    }
    return true;
}

bool VideoIOYuv::write(PelUnitBuf const& pic, int, bool packedYuv, int confLeft, int confRight, int confTop,
                       int confBottom, ChromaFormat, bool)
{
    return !packedYuv && writePlanes(pic, nullptr, confLeft, confRight, confTop, confBottom, true);
}

bool VideoIOYuv::write(PelUnitBuf const& top, PelUnitBuf const& bottom, int, bool packedYuv, int confLeft,
                       int confRight, int confTop, int confBottom, ChromaFormat, bool isTff, bool)
{
    return !packedYuv && writePlanes(top, &bottom, confLeft, confRight, confTop, confBottom, isTff);
}
