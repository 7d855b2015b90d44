#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Intra block copy: the block vectors of coding units predicted from the already reconstructed
// part of the current picture, and the buffer those predictions read.
namespace vvcibc {

// A block vector in 1/16 luma samples (always a whole number of samples).
struct BlockVector
{
    int x = 0, y = 0;
    bool operator==(BlockVector const& o) const { return x == o.x && y == o.y; }
    bool operator!=(BlockVector const& o) const { return !(*this == o); }
};

// The last block vectors used (at most five, oldest first), emptied at the start of every slice
// and of every CTU row of a tile.
class History
{
public:
    static constexpr int kMax = 5;
    void clear() { m_list.clear(); }
    // Appends `bv` as the newest, moving it there when it is already listed and dropping the
    // oldest when the list is full.
    void push(BlockVector const& bv);
    int size() const { return int(m_list.size()); }
    // k = 0 the newest.
    BlockVector const& newest(int k) const { return m_list[m_list.size() - 1 - size_t(k)]; }

private:
    std::vector<BlockVector> m_list;
};

// Candidate `idx` of the list a coding unit of `area` luma samples selects from (by merge index
// or, for a coded difference, by predictor index): the left (A1) and above (B1) neighbours'
// vectors where they are block copy units (null otherwise; both unused for areas of 16 or
// less), the history from the newest, then zero vectors. The list holds `maxCand` entries.
BlockVector Candidate(int idx, int maxCand, int area, BlockVector const* a1, BlockVector const* b1,
                      History const& history);

// The vector of a unit with a coded difference: the predictor rounded to the precision 1 <<
// amvrShift (4: whole samples, 6: four samples), plus the difference (in that precision), kept
// to 18 bits two's complement.
BlockVector WithDifference(BlockVector pred, int const mvd[2], int amvrShift);

// Boundary strength of a luma edge between two block copy units: 1 when either side has a coded
// luma residual or their vectors differ by 8 sixteenths or more in either direction, else 0.
int EdgeStrength(bool codedP, bool codedQ, BlockVector const& p, BlockVector const& q);

// The block copy reference of a picture: per colour plane a window as high as a CTB and
// 256 * 128 / CtbSizeY luma samples wide (chroma: divided by the subsampling) that holds
// each reconstructed sample (before the in-loop filters) at its position modulo the window.
class ReferenceBuffer
{
public:
    void create(int ctbSizeY, int subW, int subH);
    bool empty() const { return m_width[0] == 0; }
    // Stores the block [x, x + w) x [y, y + h) of plane c (positions in samples of the plane).
    void store(int c, uint16_t const* plane, ptrdiff_t stride, int x, int y, int w, int h);
    // The prediction of the block at (x, y), w x h samples of plane c, displaced by bv.
    void predict(int c, int x, int y, int w, int h, BlockVector const& bv, uint16_t* out, ptrdiff_t outStride) const;
    int width(int c) const { return m_width[c]; }
    int height(int c) const { return m_height[c]; }

private:
    int m_width[3] = {}, m_height[3] = {};
    int m_shiftX[3] = {}, m_shiftY[3] = {};
    std::vector<uint16_t> m_samples[3];
};

} // namespace vvcibc
