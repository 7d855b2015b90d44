#include "inter/MotionInfo.h"
#include "util/HugePages.h"

#include <algorithm>
#include <cstdlib>

namespace vvcinter {

namespace {

int32_t Clip18(int64_t v)
{
    return int32_t(std::min<int64_t>(std::max<int64_t>(v, kMvMin), kMvMax));
}

int32_t Wrap18(int64_t v)
{
    int64_t const u = v & 0x3FFFF;
    return int32_t(u >= 0x20000 ? u - 0x40000 : u);
}

int32_t Round1(int32_t v, int rightShift, int leftShift)
{
    // No right shift keeps the value (the rounding term would take 1 from positive values).
    if (rightShift == 0)
        return int32_t(uint32_t(v) << leftShift);
    int32_t const offset = int32_t(1) << (rightShift - 1);
    return int32_t(uint32_t((v + offset - (v >= 0 ? 1 : 0)) >> rightShift) << leftShift);
}

int32_t Compress1(int32_t v)
{
    // Beyond seven bits of two's complement (the sign and six), the lower bits are rounded away.
    uint32_t m = uint32_t(v >= 0 ? v : -(v + 1)) | 31u;
    int bits = 0;
    while (m >>= 1)
        ++bits;
    int const shift = bits - 5;
    if (shift <= 0)
        return v;
    return int32_t(uint32_t((v + (int32_t(1) << (shift - 1))) >> shift) << shift);
}

int32_t Scale1(int32_t v, int distScale)
{
    int64_t const p = int64_t(distScale) * v;
    int64_t const a = (std::llabs(p) + 127) >> 8;
    return Clip18(p < 0 ? -a : a);
}

// The bounds checks of a grid of cells of (1 << log2) luma samples.
bool GridSize(int w, int h, int log2, int& stride, size_t& cells)
{
    constexpr int kMaxSide = 1 << 16;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide)
        return false;
    stride = (w + (1 << log2) - 1) >> log2;
    cells = size_t(stride) * size_t((h + (1 << log2) - 1) >> log2);
    return true;
}

} // namespace

Mv ClipMv(Mv mv)
{
    return Mv(Clip18(mv.x), Clip18(mv.y));
}

Mv WrapMv(Mv mv)
{
    return Mv(Wrap18(mv.x), Wrap18(mv.y));
}

Mv CompressMv(Mv mv)
{
    return Mv(Compress1(mv.x), Compress1(mv.y));
}

Mv RoundMv(Mv mv, int rightShift, int leftShift)
{
    return Mv(Round1(mv.x, rightShift, leftShift), Round1(mv.y, rightShift, leftShift));
}

int DistScaleFactor(int tb, int td)
{
    tb = std::min(std::max(tb, -128), 127);
    td = std::min(std::max(td, -128), 127);
    int const tx = (16384 + (std::abs(td) >> 1)) / td;
    return std::min(std::max((tb * tx + 32) >> 6, -4096), 4095);
}

Mv ScaleMv(Mv mv, int tb, int td)
{
    if (td == 0)
        return ClipMv(mv);
    int const f = DistScaleFactor(tb, td);
    return Mv(Scale1(mv.x, f), Scale1(mv.y, f));
}

bool MotionCand::sameMotion(MotionCand const& o) const
{
    if (interDir != o.interDir)
        return false;
    for (int l = 0; l < 2; ++l)
        if (uses(l) && (refIdx[l] != o.refIdx[l] || mv[l] != o.mv[l]))
            return false;
    return true;
}

void Hmvp::push(MotionCand const& c)
{
    int found = -1;
    for (int i = 0; i < m_n && found < 0; ++i)
        if (m_list[i].sameMotion(c))
            found = i;
    int const remove = found >= 0 ? found : (m_n == kMax ? 0 : -1);
    if (remove >= 0) {
        std::copy(m_list + remove + 1, m_list + m_n, m_list + remove);
        --m_n;
    }
    m_list[m_n++] = c;
}

bool MotionField::create(int lumaWidth, int lumaHeight)
{
    size_t cells = 0;
    if (!GridSize(lumaWidth, lumaHeight, 3, m_stride, cells)) {
        *this = MotionField();
        return false;
    }
    m_width = lumaWidth;
    m_height = lumaHeight;
    m_cells.assign(cells, ColMotion());
    return true;
}

bool MotionGrid::create(int lumaWidth, int lumaHeight)
{
    size_t cells = 0;
    if (!GridSize(lumaWidth, lumaHeight, 2, m_stride, cells)) {
        *this = MotionGrid();
        return false;
    }
    m_width = lumaWidth;
    m_height = lumaHeight;
    vvcutil::ReserveLarge(m_cells, cells); // the largest of a picture's grids
    m_cells.assign(cells, MotionInfo());
    m_region.assign(cells, -1);
    m_affine.clear();
    return true;
}

MotionInfo const* MotionGrid::available(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return nullptr;
    size_t const i = index(x, y);
    if (m_region[i] != m_curRegion)
        return nullptr;
    if (m_wavefront && (y >> m_log2Ctu) < (m_yCur >> m_log2Ctu) && (x >> m_log2Ctu) > (m_xCur >> m_log2Ctu))
        return nullptr;
    return &m_cells[i];
}

void MotionGrid::storeIntra(int x, int y, int w, int h, PredMode mode)
{
    MotionInfo info;
    info.mode = mode;
    int const x1 = std::min(x + w, m_width), y1 = std::min(y + h, m_height);
    for (int yy = std::max(y, 0); yy < y1; yy += 4)
        for (int xx = std::max(x, 0); xx < x1; xx += 4) {
            m_cells[index(xx, yy)] = info;
            m_region[index(xx, yy)] = m_curRegion;
        }
}

void MotionGrid::storeCu(int x, int y, int w, int h, CuMotion const& m, RefLists const& refs,
                         Mv const (*refined)[2])
{
    int32_t affineIdx = -1;
    if (m.kind == CuMotion::Affine) {
        AffineUnit a;
        a.x = x;
        a.y = y;
        a.w = w;
        a.h = h;
        a.sixParam = m.sixParam;
        std::copy(&m.cp[0][0], &m.cp[0][0] + 6, &a.cp[0][0]);
        affineIdx = int32_t(m_affine.size());
        m_affine.push_back(a);
    }
    int const sbCols = std::max(w / std::max(m.sbW, 1), 1);
    int const n4w = w >> 2;
    MotionInfo base;
    base.mode = m.mode;
    base.ciip = m.ciip;
    base.subblock = m.kind == CuMotion::Affine || m.kind == CuMotion::SubblockTemporal;
    base.affine = affineIdx;
    auto setRefs = [&refs](MotionInfo& info) {
        for (int l = 0; l < 2; ++l) {
            int const r = info.m.refIdx[l];
            if (info.m.uses(l) && r >= 0 && r < refs.num[l] && r < kMaxRefs) {
                info.refPoc[l] = refs.poc[l][r];
                info.longTerm[l] = refs.longTerm[l][r];
            }
        }
    };
    // One motion for the whole unit (neither subblocks nor GPM parts): its cells differ at most in
    // the refined vectors.
    bool const uniform = !(base.subblock && !m.sub.empty()) && m.kind != CuMotion::Gpm;
    if (uniform) {
        base.m = m.cand;
        setRefs(base);
    }
    for (int yy = 0; yy < h; yy += 4)
        for (int xx = 0; xx < w; xx += 4) {
            if (x + xx < 0 || y + yy < 0 || x + xx >= m_width || y + yy >= m_height)
                continue;
            MotionInfo& info = m_cells[index(x + xx, y + yy)];
            info = base;
            if (!uniform) {
                if (m.kind == CuMotion::Gpm) {
                    info.m = GpmStoredMotion(m, w, h, xx >> 2, yy >> 2);
                } else {
                    size_t const s = size_t(yy / m.sbH) * size_t(sbCols) + size_t(xx / m.sbW);
                    info.m = m.sub[std::min(s, m.sub.size() - 1)];
                }
                setRefs(info);
            }
            for (int l = 0; l < 2; ++l)
                info.mvRefined[l] = refined ? refined[size_t(yy >> 2) * size_t(n4w) + size_t(xx >> 2)][l] : info.m.mv[l];
            m_region[index(x + xx, y + yy)] = m_curRegion;
        }
}

bool MotionGrid::storeField(MotionField& field, int32_t poc) const
{
    if (!field.create(m_width, m_height))
        return false;
    // The temporal candidates scale by the distance from this picture to its references.
    field.poc = poc;
    storeFieldRows(field, 0, m_height);
    return true;
}

void MotionGrid::storeFieldRows(MotionField& field, int y0, int y1) const
{
    if (field.lumaWidth() != m_width || field.lumaHeight() != m_height)
        return;
    for (int y = std::max(y0, 0); y < std::min(y1, m_height); y += 8)
        for (int x = 0; x < m_width; x += 8) {
            MotionInfo const& info = m_cells[index(x, y)];
            ColMotion& c = field.at(x, y);
            c = ColMotion();
            if (!info.isInter() || m_region[index(x, y)] < 0)
                continue;
            c.interDir = info.m.interDir;
            for (int l = 0; l < 2; ++l)
                if (info.m.uses(l)) {
                    c.mv[l] = CompressMv(info.mvRefined[l]);
                    c.refPoc[l] = info.refPoc[l];
                    c.longTerm[l] = info.longTerm[l];
                }
        }
}

int MotionEdgeStrength(MotionInfo const& p, MotionInfo const& q)
{
    auto far = [](Mv a, Mv b) { return std::abs(a.x - b.x) >= 8 || std::abs(a.y - b.y) >= 8; };
    if (p.mode != q.mode)
        return 1;
    if (p.mode == PredMode::Ibc)
        return far(p.m.mv[0], q.m.mv[0]) ? 1 : 0;
    int const np = (p.m.interDir & 1) + (p.m.interDir >> 1), nq = (q.m.interDir & 1) + (q.m.interDir >> 1);
    if (np != nq)
        return 1;
    if (np == 1) {
        int const lp = p.m.uses(0) ? 0 : 1, lq = q.m.uses(0) ? 0 : 1;
        if (p.refPoc[lp] != q.refPoc[lq])
            return 1;
        return far(p.m.mv[lp], q.m.mv[lq]) ? 1 : 0;
    }
    // Two vectors each: the same two reference pictures on both sides.
    int32_t const p0 = p.refPoc[0], p1 = p.refPoc[1], q0 = q.refPoc[0], q1 = q.refPoc[1];
    if (!((p0 == q0 && p1 == q1) || (p0 == q1 && p1 == q0)))
        return 1;
    if (p0 != p1) {
        // Compare the vectors that refer to the same picture.
        if (p0 == q0)
            return far(p.m.mv[0], q.m.mv[0]) || far(p.m.mv[1], q.m.mv[1]) ? 1 : 0;
        return far(p.m.mv[0], q.m.mv[1]) || far(p.m.mv[1], q.m.mv[0]) ? 1 : 0;
    }
    // Both vectors of each side refer to one picture: filtered when both pairings differ.
    bool const straight = far(p.m.mv[0], q.m.mv[0]) || far(p.m.mv[1], q.m.mv[1]);
    bool const crossed = far(p.m.mv[0], q.m.mv[1]) || far(p.m.mv[1], q.m.mv[0]);
    return straight && crossed ? 1 : 0;
}

void SliceMotion::deriveListProperties()
{
    noBackwardPred = true;
    for (int l = 0; l < 2; ++l)
        for (int i = 0; i < refs.num[l] && i < kMaxRefs; ++i)
            if (refs.poc[l][i] > currPoc)
                noBackwardPred = false;
}

} // namespace vvcinter
