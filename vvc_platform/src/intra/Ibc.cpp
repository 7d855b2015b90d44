#include "intra/Ibc.h"

#include <algorithm>
#include <cstdlib>

namespace vvcibc {

void History::push(BlockVector const& bv)
{
    auto const same = std::find(m_list.begin(), m_list.end(), bv);
    if (same != m_list.end())
        m_list.erase(same);
    else if (m_list.size() >= size_t(kMax))
        m_list.erase(m_list.begin());
    m_list.push_back(bv);
}

BlockVector Candidate(int idx, int maxCand, int area, BlockVector const* a1, BlockVector const* b1,
                      History const& history)
{
    BlockVector list[8];
    int n = 0;
    maxCand = std::min(std::max(maxCand, 1), 6);
    // Units of 16 samples or less use no spatial neighbours.
    if (area > 16) {
        if (a1)
            list[n++] = *a1;
        if (b1 && !(a1 && *a1 == *b1))
            list[n++] = *b1;
    }
    int const spatial = n;
    for (int k = 0; k < history.size() && n < maxCand; ++k) {
        BlockVector const& h = history.newest(k);
        // Only the newest history entry is compared with the spatial candidates.
        if (k == 0 && std::find(list, list + spatial, h) != list + spatial)
            continue;
        list[n++] = h;
    }
    return idx >= 0 && idx < n ? list[idx] : BlockVector();
}

BlockVector WithDifference(BlockVector pred, int const mvd[2], int amvrShift)
{
    auto round = [amvrShift](int v) {
        if (amvrShift <= 0)
            return v;
        int const offset = 1 << (amvrShift - 1);
        return ((v + offset - (v >= 0 ? 1 : 0)) >> amvrShift) * (1 << amvrShift);
    };
    auto wrap = [](int v) {
        int const u = v & 0x3FFFF;
        return u >= 0x20000 ? u - 0x40000 : u;
    };
    int const shift = std::max(amvrShift, 0);
    return BlockVector{wrap(round(pred.x) + mvd[0] * (1 << shift)), wrap(round(pred.y) + mvd[1] * (1 << shift))};
}

int EdgeStrength(bool codedP, bool codedQ, BlockVector const& p, BlockVector const& q)
{
    return codedP || codedQ || std::abs(p.x - q.x) >= 8 || std::abs(p.y - q.y) >= 8 ? 1 : 0;
}

void ReferenceBuffer::create(int ctbSizeY, int subW, int subH)
{
    int const widthY = ctbSizeY > 0 ? 256 * 128 / ctbSizeY : 0;
    for (int c = 0; c < 3; ++c) {
        int const sw = c ? subW : 1, sh = c ? subH : 1;
        m_width[c] = sw > 0 ? widthY / sw : 0;
        m_height[c] = sh > 0 ? ctbSizeY / sh : 0;
        m_shiftX[c] = 4 + (sw == 2 ? 1 : 0);
        m_shiftY[c] = 4 + (sh == 2 ? 1 : 0);
        m_samples[c].assign(size_t(m_width[c]) * size_t(m_height[c]), 0);
    }
}

void ReferenceBuffer::store(int c, uint16_t const* plane, ptrdiff_t stride, int x, int y, int w, int h)
{
    if (c < 0 || c > 2 || !plane || m_width[c] <= 0 || m_height[c] <= 0)
        return;
    // The window sizes are powers of two: positions wrap with a mask.
    int const mx = m_width[c] - 1, my = m_height[c] - 1;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            m_samples[c][size_t((y + j) & my) * size_t(m_width[c]) + size_t((x + i) & mx)] =
                plane[ptrdiff_t(y + j) * stride + (x + i)];
}

void ReferenceBuffer::predict(int c, int x, int y, int w, int h, BlockVector const& bv, uint16_t* out,
                              ptrdiff_t outStride) const
{
    if (c < 0 || c > 2 || !out || m_width[c] <= 0 || m_height[c] <= 0)
        return;
    int const mx = m_width[c] - 1, my = m_height[c] - 1;
    // Chroma moves by the luma vector scaled to its grid, rounded down to whole samples.
    int const rx = x + (bv.x >> m_shiftX[c]), ry = y + (bv.y >> m_shiftY[c]);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            out[ptrdiff_t(j) * outStride + i] =
                m_samples[c][size_t((ry + j) & my) * size_t(m_width[c]) + size_t((rx + i) & mx)];
}

} // namespace vvcibc
