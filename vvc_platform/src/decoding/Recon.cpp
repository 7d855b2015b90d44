#include "decoding/Recon.h"

#include "residual/Dequant.h"
#include "intra/IntraPred.h"
#include "intra/Mip.h"
#include "loopfilter/Sao.h"
#include "residual/Transform.h"
#include "residual/TransformKernels.h"
#include "util/WorkerPool.h"

#include <algorithm>
#include <mutex>
#include <cstdio>

using namespace vvcsyntax;
using namespace vvcslice;
using vvcslice::MergeKind;

struct IntraPictureReconstructor::Grids
{
    std::vector<int> done[2];
    std::vector<int16_t> lumaMode;
    std::vector<int32_t> lumaCu;
    std::vector<uint8_t> lumaMip, ibcCell;
    std::vector<vvcibc::BlockVector> bv;
    std::vector<vvcdeblock::BlockUnit> units;
    std::vector<vvcdeblock::EdgeSegment> edges[2];
    vvcinter::MotionGrid motion;
    void swapWith(IntraPictureReconstructor& r)
    {
        for (int k = 0; k < 2; ++k) {
            done[k].swap(r.m_done[k]);
            edges[k].swap(r.m_dbk.edges[k]);
        }
        lumaMode.swap(r.m_lumaMode);
        lumaCu.swap(r.m_lumaCu);
        lumaMip.swap(r.m_lumaMip);
        ibcCell.swap(r.m_ibcCell);
        bv.swap(r.m_bv);
        units.swap(r.m_dbk.units);
        std::swap(motion, r.m_motion.width() ? r.m_motion : r.m_motionSpare);
    }
};

namespace {

std::mutex& gGridsLock = *new std::mutex; // never destroyed, as the grids below

} // namespace

std::vector<std::unique_ptr<IntraPictureReconstructor::Grids>>& IntraPictureReconstructor::freeGrids()
{
    // Never destroyed: a reconstruction may end after the statics at exit.
    static auto* free = new std::vector<std::unique_ptr<Grids>>;
    return *free;
}

void IntraPictureReconstructor::takeGrids()
{
    std::unique_ptr<Grids> g;
    {
        std::lock_guard<std::mutex> lock(gGridsLock);
        if (freeGrids().empty())
            return;
        g = std::move(freeGrids().back());
        freeGrids().pop_back();
    }
    g->swapWith(*this);
}

void IntraPictureReconstructor::returnGrids()
{
    try {
        auto g = std::make_unique<Grids>();
        g->swapWith(*this);
        std::lock_guard<std::mutex> lock(gGridsLock);
        if (freeGrids().size() < vvcutil::KeptPictureBuffers())
            freeGrids().push_back(std::move(g));
    } catch (std::bad_alloc const&) {
        // Not kept: the next picture makes its own.
    }
}

void IntraPictureReconstructor::ReleaseFreeGrids()
{
    std::vector<std::unique_ptr<Grids>> leaving;
    {
        std::lock_guard<std::mutex> lock(gGridsLock);
        leaving.swap(freeGrids());
    }
}

IntraPictureReconstructor::~IntraPictureReconstructor()
{
    waitFilters();
    returnGrids();
}

IntraPictureReconstructor::IntraPictureReconstructor(SeqParameterSet const& sps, PicParameterSet const& pps)
    : m_sps(sps), m_pps(pps), m_chroma(sps.chromaFormatIdc != 0)
{
    takeGrids();
    // Luma with 4:2:0 chroma, or luma alone.
    if (sps.chromaFormatIdc != 0 && sps.chromaFormatIdc != 1)
        fail("chroma format not reconstructed");
    try {
        m_qpTables = DeriveChromaQpTables(sps);
    } catch (Exception const& e) {
        fail(e.what());
    }
    if (!m_pic.create(ChromaFormat(sps.chromaFormatIdc), pps.picWidth, pps.picHeight, sps.bitDepth))
        fail("picture size not usable");
    m_maxTb = sps.maxLumaTransform64 ? 64 : 32;
    m_gridW = (pps.picWidth + 3) >> 2;
    const size_t cells = size_t(m_gridW) * size_t((pps.picHeight + 3) >> 2);
    for (auto& d : m_done)
        d.assign(cells, -1);
    m_lumaMode.assign(cells, 0);
    m_lumaCu.assign(cells, -1);
    m_ctuParams.assign(size_t(pps.picWidthInCtbs) * size_t(pps.picHeightInCtbs), CtuFilterParams());
    m_ctuSlice.assign(m_ctuParams.size(), -1);
    m_lumaMip.assign(cells, 0);
    m_ctuTile.assign(m_ctuParams.size(), 0);
    for (int ty = 0, y0 = 0; ty < pps.numTileRows(); y0 += pps.tileRowHeight[size_t(ty)], ++ty)
        for (int tx = 0, x0 = 0; tx < pps.numTileColumns(); x0 += pps.tileColWidth[size_t(tx)], ++tx)
            for (int y = y0; y < y0 + pps.tileRowHeight[size_t(ty)] && y < pps.picHeightInCtbs; ++y)
                for (int x = x0; x < x0 + pps.tileColWidth[size_t(tx)] && x < pps.picWidthInCtbs; ++x)
                    m_ctuTile[size_t(y) * size_t(pps.picWidthInCtbs) + size_t(x)] = ty * pps.numTileColumns() + tx;
    m_ctuSubpic.assign(m_ctuParams.size(), 0);
    vvcsyntax::SubpicLayout const& sub = sps.subpics;
    for (int i = 1; i < sub.count(); ++i)
        for (int y = sub.y[size_t(i)]; y < sub.y[size_t(i)] + sub.h[size_t(i)] && y < pps.picHeightInCtbs; ++y)
            for (int x = sub.x[size_t(i)]; x < sub.x[size_t(i)] + sub.w[size_t(i)] && x < pps.picWidthInCtbs; ++x)
                m_ctuSubpic[size_t(y) * size_t(pps.picWidthInCtbs) + size_t(x)] = i;
    m_dbk.reset(pps.picWidth, pps.picHeight);
    m_dbk.chromaFormatIdc = sps.chromaFormatIdc;
    m_dbk.bitDepthY = m_dbk.bitDepthC = sps.bitDepth;
    m_dbk.ctbSizeY = sps.ctbSize();
    if (sps.ladf) {
        m_dbk.ladfLowestQpOffset = sps.ladfLowestQpOffset;
        m_dbk.ladfQpOffset = sps.ladfQpOffset;
        m_dbk.ladfLowerBound = sps.ladfLowerBound;
    }
    m_dbk.slices.clear();
    m_tileColumnStart.assign(size_t(pps.picWidthInCtbs), 0);
    for (int tx = 0, x0 = 0; tx < pps.numTileColumns() && x0 < pps.picWidthInCtbs;
         x0 += pps.tileColWidth[size_t(tx)], ++tx)
        m_tileColumnStart[size_t(x0)] = 1;
    if (sps.ibc) {
        m_ibcBuf.create(sps.ctbSize(), 2, 2);
        m_ibcCell.assign(cells, 0);
        m_bv.assign(cells, vvcibc::BlockVector());
    } else {
        m_ibcCell.clear(); // none: no block copy in the picture
        m_bv.clear();
    }
}

void IntraPictureReconstructor::startSlice(SliceHeaderParams const& sh, int sliceIndex, ApsLookup const& aps,
                                           Picture* current, SliceRefs const* refs)
{
    completeCtu(m_openCtu);
    m_openCtu = -1;
    // What the filters read of the slices changes here.
    waitFilters();
    m_sh = &sh;
    m_slice = sliceIndex;
    m_ibcHistory.clear();
    m_hmvp.clear();
    // The virtual boundaries are the SPS's, or else the picture header's (the same in every slice
    // of the picture).
    m_vbX = m_sps.virtualBoundariesPresent ? m_sps.vbPosX : sh.ph.vbPosX;
    m_vbY = m_sps.virtualBoundariesPresent ? m_sps.vbPosY : sh.ph.vbPosY;
    if (!m_sps.virtualBoundariesEnabled)
        m_vbX.clear(), m_vbY.clear();
    m_scalingList = false;
    if (sh.explicitScalingListUsed) {
        AdaptationParameterSet const* a = aps ? aps(2, sh.ph.scalingListApsId) : nullptr;
        if (!a || a->type != 2) {
            fail("scaling list APS missing");
            return;
        }
        vvcresidual::ScalingListData data;
        ScalingListParams const& sl = a->scaling;
        for (int id = 0; id < 28; ++id) {
            data.copyMode[id] = sl.copyMode[id];
            data.predMode[id] = sl.predMode[id];
            data.predIdDelta[id] = sl.predIdDelta[id];
            data.coded[id] = a->chromaPresent || id % 3 == 2 || id == 27;
            for (size_t i = 0; i < sl.coeff[id].size() && i < 64; ++i)
                data.list[id][i] = sl.coeff[id][i];
            if (id >= 14)
                data.dcCoef[id - 14] = sl.dc[id - 14];
        }
        if (!vvcresidual::ReconstructScalingMatrices(data, m_matrices)) {
            fail("scaling list APS not usable");
            return;
        }
        m_scalingList = true;
    }
    m_lmcs = m_chromaScaling = false;
    if (sh.lmcsUsed) {
        AdaptationParameterSet const* a = aps ? aps(1, sh.ph.lmcsApsId) : nullptr;
        if (!a || a->type != 1) {
            fail("LMCS APS missing");
            return;
        }
        try {
            m_lmcsModel = DeriveLmcs(a->lmcs, m_sps.bitDepth);
        } catch (Exception const& e) {
            fail(e.what());
            return;
        }
        m_lmcs = true;
        m_chromaScaling = sh.ph.chromaResidualScale;
    }
    if (m_sliceLmcs.size() <= size_t(sliceIndex)) {
        m_sliceLmcs.resize(size_t(sliceIndex) + 1, 0);
        m_sliceDeblock.resize(size_t(sliceIndex) + 1, 0);
        m_alfFilters.resize(size_t(sliceIndex) + 1);
        m_dbk.slices.resize(size_t(sliceIndex) + 1);
    }
    m_sliceLmcs[size_t(sliceIndex)] = m_lmcs;
    m_sliceDeblock[size_t(sliceIndex)] = !sh.deblockingDisabled;
    for (int c = 0; c < 3; ++c) {
        m_dbk.slices[size_t(sliceIndex)].betaOffsetDiv2[c] = sh.betaOffsetDiv2[c];
        m_dbk.slices[size_t(sliceIndex)].tcOffsetDiv2[c] = sh.tcOffsetDiv2[c];
    }
    if (sh.alfEnabled) {
        // The filters the slice's CTBs select from: its luma APSs, chroma APS and CC-ALF APSs.
        auto load = [&](int id) -> AlfApsData const* {
            AdaptationParameterSet const* a = aps ? aps(0, id) : nullptr;
            return a && a->type == 0 ? &a->alf : nullptr;
        };
        AlfApsData const* luma[8] = {};
        int const numLuma = std::min(std::max(sh.numAlfApsIdsLuma, 0), kAlfMaxLumaAps);
        bool found = true;
        for (int k = 0; k < numLuma; ++k) {
            luma[k] = load(sh.alfApsIdLuma[k]);
            found = found && luma[k];
        }
        AlfApsData const* chroma = nullptr;
        AlfApsData const* cc[2] = {};
        if (sh.alfCbEnabled || sh.alfCrEnabled) {
            chroma = load(sh.alfApsIdChroma);
            found = found && chroma;
        }
        if (sh.alfCcCbEnabled) {
            cc[0] = load(sh.alfCcCbApsId);
            found = found && cc[0];
        }
        if (sh.alfCcCrEnabled) {
            cc[1] = load(sh.alfCcCrApsId);
            found = found && cc[1];
        }
        auto filters = std::make_unique<AlfSliceFilters>();
        if (!found || BuildAlfSliceFilters(luma, numLuma, chroma, cc, m_sps.bitDepth, m_sps.bitDepth, *filters) !=
                          AlfStatus::Ok) {
            fail("ALF APS missing or not usable");
            return;
        }
        m_alfFilters[size_t(sliceIndex)] = std::move(filters);
    }
    m_sao = m_sao || sh.saoLuma || sh.saoChroma;
    startInterSlice(sh, current, refs);
}

void IntraPictureReconstructor::markReconstructed(int c, int x, int y, int w, int h)
{
    int const x1 = std::min(x + w, m_pps.picWidth), y1 = std::min(y + h, m_pps.picHeight);
    int const xx0 = x >> 2, xx1 = (x1 + 3) >> 2;
    if (xx1 <= xx0)
        return;
    for (int yy = y >> 2; yy < (y1 + 3) >> 2; ++yy) {
        int* row = m_done[c].data() + size_t(yy) * size_t(m_gridW);
        std::fill(row + xx0, row + xx1, m_slice);
    }
}

bool IntraPictureReconstructor::available(int c, int x, int y, int xCur, int yCur) const
{
    if (x < 0 || y < 0 || x >= m_pps.picWidth || y >= m_pps.picHeight)
        return false;
    if (m_done[c][size_t(y >> 2) * size_t(m_gridW) + size_t(x >> 2)] != m_slice)
        return false;
    if (xCur < 0)
        return true;
    // Neighbours in another tile are not used, nor, with the CTU rows decoded in parallel, those
    // in a CTU above and to the right of the current one.
    int const here = ctuAt(xCur, yCur), there = ctuAt(x, y);
    if (here != there && tileOfCtu(here) != tileOfCtu(there))
        return false;
    int const shift = m_sps.log2CtuSize;
    return !(m_sps.entropyCodingSync && (y >> shift) < (yCur >> shift) && (x >> shift) > (xCur >> shift));
}

TransformBlock const* IntraPictureReconstructor::findBlock(IntraCodingUnit const& cu, int cIdx, int x, int y) const
{
    for (TransformBlock const& b : cu.blocks)
        if (b.cIdx == cIdx && b.x == x && b.y == y)
            return &b;
    return nullptr;
}

bool IntraPictureReconstructor::residual(TransformBlock const& b, IntraCodingUnit const& cu, int mode,
                                         int collocatedMode, bool collocatedMip, int qp, std::vector<int32_t>& res)
{
    using namespace vvcresidual;
    ResidualParams rp;
    rp.scaling.qp = qp;
    rp.scaling.bitDepth = m_sps.bitDepth;
    rp.scaling.transformSkip = b.transformSkip;
    rp.scaling.depQuant = m_sh->depQuant;
    rp.scaling.qpPrimeTsMin = 4 + 6 * m_sps.minQpPrimeTs;
    // Luma and chroma blocks each have their own BDPCM flag (both in a single tree).
    if (b.cIdx == 0)
        rp.scaling.bdpcmDir = cu.bdpcm ? (cu.bdpcmVertical ? 1 : 0) : -1;
    else
        rp.scaling.bdpcmDir = cu.bdpcmChroma ? (cu.bdpcmChromaVertical ? 1 : 0) : -1;
    MtsSelection sel;
    sel.cIdx = b.cIdx;
    sel.spsMtsEnabled = m_sps.mts;
    sel.spsExplicitMtsIntra = m_sps.explicitMtsIntra;
    sel.intra = isIntra(cu);
    sel.sbt = isInter(cu) && cu.inter.sbt;
    sel.sbtHorizontal = cu.inter.sbtHorizontal;
    sel.sbtPos = cu.inter.sbtPos != 0;
    sel.isp = cu.isp != 0;
    sel.lfnstIdx = cu.lfnstIdx;
    sel.mip = cu.mip;
    sel.mtsIdx = cu.mtsIdx;
    SelectTransformTypes(sel, b.width, b.height, rp.trTypeHor, rp.trTypeVer);
    // LFNST applies to luma only in a single tree, to the block's own component otherwise.
    bool const lfnst =
        cu.lfnstIdx > 0 && !b.transformSkip && b.width >= 4 && b.height >= 4 && (cu.tree != 2 || b.cIdx == 0);
    if (lfnst) {
        rp.lfnstIdx = cu.lfnstIdx;
        int const nW = cu.isp && b.cIdx == 0 ? cu.width : b.width, nH = cu.isp && b.cIdx == 0 ? cu.height : b.height;
        rp.lfnstMode = LfnstIntraMode(mode, b.cIdx, cu.mip && b.cIdx == 0, collocatedMode, collocatedMip, nW, nH);
    }
    // Scaling matrices: not for transform skip, nor for LFNST blocks when the SPS says so.
    uint8_t m[64 * 64];
    if (m_scalingList && !b.transformSkip && !(lfnst && m_sps.scalingMatrixForLfnstDisabled)) {
        DeriveScalingFactor(m_matrices, ScalingMatrixId(isIntra(cu), b.cIdx, b.width, b.height), b.width, b.height, m);
        rp.scaling.m = m;
    }
    ToolCounts& n = m_counts;
    n.tsLuma += b.transformSkip && b.cIdx == 0;
    n.tsChroma += b.transformSkip && b.cIdx > 0;
    if (!b.transformSkip && b.cIdx == 0 && b.width == 4 && b.height == 4)
        ++(lfnst ? n.lfnst4x4 : rp.trTypeHor == kDst7 ? n.dst4x4 : n.dct4x4);
    n.dq += m_sh->depQuant;
    n.sdh += m_sh->signDataHiding;
    n.bdpcm += rp.scaling.bdpcmDir >= 0;
    (b.cIdx ? n.lfnstChroma : n.lfnstLuma) += lfnst;
    n.mts += b.cIdx == 0 && (rp.trTypeHor != kDct2 || rp.trTypeVer != kDct2) && cu.mtsIdx > 0;
    n.isp += b.cIdx == 0 && cu.isp;
    n.mip += b.cIdx == 0 && cu.mip;
    n.joint[b.jointCbCr & 3] += b.cIdx > 0;
    n.oneD += b.width == 1 || b.height == 1;
    n.scalingList += rp.scaling.m != nullptr;
    res.assign(size_t(b.width) * size_t(b.height), 0);
    return ReconstructResidual(b.levels.data(), b.width, b.width, b.height, rp, res.data(), b.width);
}

void IntraPictureReconstructor::codingUnit(IntraCodingUnit const& cu)
{
    if (!ok() || !m_sh)
        return;
    if (cu.ibc && !blockCopy(cu))
        return;
    if (isInter(cu) && !interPrediction(cu))
        return;
    if (cu.tree != 1 && !isInter(cu))
        storeNonInter(cu);
    // Transform blocks: ISP sub-partitions, the two parts of a subblock transform, or the coding
    // unit split to the largest transform.
    std::vector<Rect>& tbs = m_tbs;
    tbs.clear();
    if (isInter(cu) && cu.inter.sbt) {
        vvcslice::InterUnitData const& d = cu.inter;
        bool const hor = d.sbtHorizontal;
        int const size = hor ? cu.height : cu.width;
        int const coded = d.sbtQuad ? size / 4 : size / 2;
        int const first = d.sbtPos ? size - coded : coded;
        tbs.push_back(hor ? Rect{cu.x, cu.y, cu.width, first} : Rect{cu.x, cu.y, first, cu.height});
        tbs.push_back(hor ? Rect{cu.x, cu.y + first, cu.width, size - first}
                          : Rect{cu.x + first, cu.y, size - first, cu.height});
    } else if (cu.isp) {
        int const parts = (cu.width == 4 && cu.height == 8) || (cu.width == 8 && cu.height == 4) ? 2 : 4;
        for (int p = 0; p < parts; ++p)
            tbs.push_back(cu.isp == 2 ? Rect{cu.x + p * cu.width / parts, cu.y, cu.width / parts, cu.height}
                                      : Rect{cu.x, cu.y + p * cu.height / parts, cu.width, cu.height / parts});
    } else {
        std::vector<Rect>& todo = m_tbTodo;
        todo.assign(1, Rect{cu.x, cu.y, cu.width, cu.height});
        while (!todo.empty()) {
            const Rect r = todo.front();
            todo.erase(todo.begin());
            if (r.w > m_maxTb || r.h > m_maxTb) {
                bool const ver = r.w > m_maxTb && r.w > r.h;
                const Rect a = ver ? Rect{r.x, r.y, r.w / 2, r.h} : Rect{r.x, r.y, r.w, r.h / 2};
                const Rect b = ver ? Rect{r.x + r.w / 2, r.y, r.w / 2, r.h} : Rect{r.x, r.y + r.h / 2, r.w, r.h / 2};
                todo.insert(todo.begin(), b);
                todo.insert(todo.begin(), a);
            } else {
                tbs.push_back(r);
            }
        }
    }
    if (cu.tree != 1) {
        ++m_lumaCuCount;
        // A block copy unit counts as DC for the chroma blocks that look at its mode.
        int16_t const mode = int16_t(cu.ibc ? kDc : isInter(cu) ? kPlanar : cu.lumaMode);
        int const x0 = cu.x >> 2, x1 = std::min(std::min(cu.x + cu.width, m_pps.picWidth + 3) >> 2, m_gridW);
        for (int y = cu.y >> 2; x0 < x1 && y < std::min(cu.y + cu.height, m_pps.picHeight + 3) >> 2; ++y) {
            const size_t row = size_t(y) * size_t(m_gridW);
            if (row + size_t(x1) > m_lumaMode.size())
                break; // below the grid
            std::fill(m_lumaCu.begin() + ptrdiff_t(row) + x0, m_lumaCu.begin() + ptrdiff_t(row) + x1, m_lumaCuCount);
            std::fill(m_lumaMode.begin() + ptrdiff_t(row) + x0, m_lumaMode.begin() + ptrdiff_t(row) + x1, mode);
            std::fill(m_lumaMip.begin() + ptrdiff_t(row) + x0, m_lumaMip.begin() + ptrdiff_t(row) + x1,
                      uint8_t(cu.mip));
        }
    }
    for (size_t i = 0; i < tbs.size(); ++i) {
        if (cu.tree != 1)
            lumaBlock(cu, tbs[i]);
        // Chroma goes with each transform unit, or with the last ISP sub-partition for the whole
        // coding unit.
        if (cu.tree != 0 && m_chroma && (!cu.isp || i + 1 == tbs.size()))
            chromaBlocks(cu, cu.isp ? Rect{cu.x, cu.y, cu.width, cu.height} : tbs[i], cu.lumaMode, cu.mip);
    }
    // Every reconstructed unit is a possible block copy reference.
    if (!m_ibcBuf.empty() && ok())
        for (int c = cu.tree == 1 ? 1 : 0; c <= (cu.tree == 0 || !m_chroma ? 0 : 2); ++c) {
            int const s = c ? 1 : 0;
            m_ibcBuf.store(c, m_pic.plane(c), m_pic.planeWidth(c), cu.x >> s, cu.y >> s, cu.width >> s, cu.height >> s);
        }
}

vvcibc::BlockVector const* IntraPictureReconstructor::neighbourVector(int x, int y, int xCur, int yCur) const
{
    if (!available(0, x, y, xCur, yCur))
        return nullptr;
    const size_t cell = size_t(y >> 2) * size_t(m_gridW) + size_t(x >> 2);
    return m_ibcCell[cell] ? &m_bv[cell] : nullptr;
}

bool IntraPictureReconstructor::blockCopy(IntraCodingUnit const& cu)
{
    if (m_ibcBuf.empty() || cu.tree == 1 || cu.width > 64 || cu.height > 64 || cu.x + cu.width > m_pps.picWidth ||
        cu.y + cu.height > m_pps.picHeight) {
        fail("block copy unit not usable");
        return false;
    }
    using vvcibc::BlockVector;
    BlockVector const* a1 = neighbourVector(cu.x - 1, cu.y + cu.height - 1, cu.x, cu.y);
    BlockVector const* b1 = neighbourVector(cu.x + cu.width - 1, cu.y - 1, cu.x, cu.y);
    int const area = cu.width * cu.height;
    BlockVector bv = vvcibc::Candidate(cu.ibcCandIdx, m_sps.maxNumIbcMergeCand, area, a1, b1, m_ibcHistory);
    if (!cu.ibcMerge)
        bv = vvcibc::WithDifference(bv, cu.ibcMvd, cu.ibcAmvrShift);
    // The reference may not cross the bottom of a CTB row of the window.
    int const ctb = m_sps.ctbSize();
    if (((cu.y + (bv.y >> 4)) & (ctb - 1)) + cu.height > ctb) {
        fail("block vector outside the block copy reference");
        return false;
    }
    if (area > 16)
        m_ibcHistory.push(bv);
    for (int y = cu.y >> 2; y < (cu.y + cu.height) >> 2; ++y)
        for (int x = cu.x >> 2; x < (cu.x + cu.width) >> 2; ++x) {
            m_ibcCell[size_t(y) * size_t(m_gridW) + size_t(x)] = 1;
            m_bv[size_t(y) * size_t(m_gridW) + size_t(x)] = bv;
        }
    for (int c = 0; c <= (cu.tree == 2 && m_chroma ? 2 : 0); ++c) {
        int const s = c ? 1 : 0, w = cu.width >> s, h = cu.height >> s;
        m_unitPred[c].resize(size_t(w) * size_t(h));
        m_ibcBuf.predict(c, cu.x >> s, cu.y >> s, w, h, bv, m_unitPred[c].data(), w);
    }
    return true;
}

void IntraPictureReconstructor::lumaBlock(IntraCodingUnit const& cu, Rect const& tb)
{
    PlaneView const view = m_pic.view().planes[0];
    IntraPlane plane;
    plane.samples = view.samples;
    plane.stride = view.stride;
    plane.width = view.width;
    plane.height = view.height;
    auto avail = [this, &tb](int x, int y) { return available(0, x, y, tb.x, tb.y); };
    // Sub-partitions narrower than 4 samples (vertical ISP splits) share one prediction 4 samples
    // wide: it is made from the neighbours when the first of its sub-partitions comes, and each
    // sub-partition takes its own columns of it.
    int const pbW = cu.isp == 2 ? std::max(4, tb.w) : tb.w;
    int const pbX = cu.isp == 2 ? cu.x + (tb.x - cu.x) / pbW * pbW : tb.x;
    // The prediction of the block: read in place from the unit's prediction, or made here.
    uint16_t const* pred = nullptr;
    ptrdiff_t predStride = pbW;
    if (unitPredicted(cu) && !cu.isp) {
        if (m_unitPred[0].size() < size_t(cu.width) * size_t(cu.height)) {
            fail("luma prediction missing");
            return;
        }
        pred = &m_unitPred[0][size_t(tb.y - cu.y) * size_t(cu.width) + size_t(tb.x - cu.x)];
        predStride = cu.width;
    } else if (tb.x == pbX) {
        m_lumaPred.assign(size_t(pbW) * size_t(tb.h), 0);
        bool ok = true;
        if (unitPredicted(cu)) {
            for (int y = 0; y < tb.h; ++y)
                std::copy_n(&m_unitPred[0][size_t(tb.y - cu.y + y) * size_t(cu.width) + size_t(tb.x - cu.x)], tb.w,
                            &m_lumaPred[size_t(y) * size_t(pbW)]);
        } else if (cu.mip) {
            ok = PredictMipBlock(plane, tb.x, tb.y, tb.w, tb.h, cu.mipMode, cu.mipTransposed, m_sps.bitDepth, avail, 4,
                                 m_lumaPred.data(), pbW);
        } else {
            IntraPredParams p;
            p.predModeIntra = cu.lumaMode;
            p.nTbW = pbW;
            p.nTbH = tb.h;
            p.nCbW = cu.width;
            p.nCbH = cu.height;
            p.cIdx = 0;
            // The third reference line (intra_luma_ref_idx 2) is the one 3 samples away.
            p.refIdx = cu.refLine == 3 ? 2 : cu.refLine;
            p.isp = cu.isp != 0;
            p.bdpcm = cu.bdpcm;
            p.bitDepth = m_sps.bitDepth;
            ok = PredictIntra(p, plane, tb.x, tb.y, avail, 4, m_lumaPred.data(), pbW);
        }
        if (!ok) {
            fail("luma prediction failed");
            return;
        }
    } else if (m_lumaPred.size() != size_t(pbW) * size_t(tb.h)) {
        fail("luma prediction missing");
        return;
    }
    if (!pred)
        pred = m_lumaPred.data() + (tb.x - pbX);
    std::vector<int32_t>& res = m_res[0];
    res.clear();
    m_counts.noRes4x4 += tb.w == 4 && tb.h == 4 && !findBlock(cu, 0, tb.x, tb.y);
    if (TransformBlock const* b = findBlock(cu, 0, tb.x, tb.y)) {
        int const qp = cu.qpY + 6 * (m_sps.bitDepth - 8);
        if (!residual(*b, cu, cu.mip ? 0 : cu.lumaMode, 0, false, qp, res)) {
            fail("luma residual failed");
            return;
        }
    }
    addResidual(0, tb.x, tb.y, std::min(tb.w, m_pps.picWidth - tb.x), std::min(tb.h, m_pps.picHeight - tb.y), pred,
                predStride, res.empty() ? nullptr : res.data(), tb.w);
    markReconstructed(0, tb.x, tb.y, tb.w, tb.h);
    bool const cbf[2] = {!res.empty(), false};
    int const qp[2] = {cu.qpY, 0};
    deblockBlock(cu, false, tb.x, tb.y, tb.w, tb.h, cbf, false, qp);
}

void IntraPictureReconstructor::chromaBlocks(IntraCodingUnit const& cu, Rect const& tbL, int lumaMode, bool lumaMip)
{
    int const xC = tbL.x / 2, yC = tbL.y / 2, w = tbL.w / 2, h = tbL.h / 2;
    m_counts.cclm += cu.chromaMode >= kModeLtCclm;
    // The luma block at the centre (for CCLM's LFNST mode).
    int const cx = std::min(cu.x + cu.width / 2, m_pps.picWidth - 1),
              cy = std::min(cu.y + cu.height / 2, m_pps.picHeight - 1);
    const size_t cell = size_t(cy >> 2) * size_t(m_gridW) + size_t(cx >> 2);
    int const colMode = cu.tree == 2 ? lumaMode : m_lumaMode[cell];
    bool const colMip = cu.tree == 2 ? lumaMip : m_lumaMip[cell] != 0;
    // Chroma QPs: QpY mapped through the chroma table, then the PPS, slice and CU offsets.
    int const bd = 6 * (m_sps.bitDepth - 8);
    int const qpi = std::min(std::max(cu.qpY, -bd), 63);
    auto chromaQp = [&](int table, int offset) {
        return std::min(std::max(m_qpTables.map(table, qpi) + offset, -bd), 63) + bd;
    };
    std::vector<int32_t>* res = m_res;
    res[1].clear();
    res[2].clear();
    TransformBlock const* blocks[3] = {nullptr, findBlock(cu, 1, xC, yC), findBlock(cu, 2, xC, yC)};
    for (int c = 1; c <= 2; ++c) {
        TransformBlock const* b = blocks[c];
        if (!b)
            continue;
        int qp;
        // The joint Cb-Cr QP is for the residual shared with both signs (both flags); with one
        // flag the residual is scaled as a block of its own component.
        if (b->jointCbCr == 3)
            qp = chromaQp(2, m_pps.jointCbCrQpOffset + m_sh->jointCbCrQpOffset + cu.chromaQpOffset[2]);
        else
            qp = chromaQp(c - 1, c == 1 ? m_pps.cbQpOffset + m_sh->cbQpOffset + cu.chromaQpOffset[0]
                                        : m_pps.crQpOffset + m_sh->crQpOffset + cu.chromaQpOffset[1]);
        if (!residual(*b, cu, cu.chromaMode, colMode, colMip, qp, res[c])) {
            fail("chroma residual failed");
            return;
        }
        if (b->jointCbCr) {
            // TuCResMode: 2 with both flags, 1 with Cb only, 3 with Cr only.
            int const mode = b->jointCbCr == 3 ? 2 : b->jointCbCr == 2 ? 1 : 3;
            std::vector<int32_t>& cb = m_jointRes[0];
            std::vector<int32_t>& cr = m_jointRes[1];
            cb.assign(size_t(w) * size_t(h), 0);
            cr.assign(size_t(w) * size_t(h), 0);
            if (!vvcresidual::JointCbCrResidual(res[c].data(), w, w, h, mode, m_sh->ph.jointCbCrSign, cb.data(), w,
                                                cr.data(), w)) {
                fail("joint Cb-Cr residual failed");
                return;
            }
            res[1].swap(cb);
            res[2].swap(cr);
            break;
        }
    }
    // Luma-dependent chroma residual scaling.
    if (m_chromaScaling && w * h > 4 && (!res[1].empty() || !res[2].empty())) {
        int const scale = chromaResidualScale(cu, xC, yC);
        for (int c = 1; c <= 2; ++c)
            for (int32_t& r : res[c])
                r = vvcsyntax::LmcsModel::scaleChromaResidual(r, scale, m_sps.bitDepth);
    }
    PelUnitBuf const buf = m_pic.view();
    IntraPlane luma{buf.planes[0].samples, buf.planes[0].stride, buf.planes[0].width, buf.planes[0].height};
    for (int c = 1; c <= 2; ++c) {
        IntraPlane plane{buf.planes[c].samples, buf.planes[c].stride, buf.planes[c].width, buf.planes[c].height};
        auto avail = [this, &tbL](int x, int y) { return available(1, x * 2, y * 2, tbL.x, tbL.y); };
        std::vector<uint16_t>& pred = m_chromaPred;
        bool ok = true;
        if (unitPredicted(cu)) {
            // The unit's prediction is used in place.
            int const cw = cu.width / 2;
            if (m_unitPred[c].size() < size_t(cw) * size_t(cu.height / 2)) {
                fail("chroma prediction missing");
                return;
            }
            addResidual(c, xC, yC, std::min(w, m_pic.planeWidth(c) - xC), std::min(h, m_pic.planeHeight(c) - yC),
                        &m_unitPred[c][size_t(yC - cu.y / 2) * size_t(cw) + size_t(xC - cu.x / 2)], cw,
                        res[c].empty() ? nullptr : res[c].data(), w);
            continue;
        }
        pred.assign(size_t(w) * size_t(h), 0);
        if (cu.chromaMode >= kModeLtCclm) {
            CclmParams p;
            p.predModeIntra = cu.chromaMode;
            p.xTbC = xC;
            p.yTbC = yC;
            p.nTbW = w;
            p.nTbH = h;
            p.verticalCollocated = m_sps.chromaVerCollocated;
            p.ctbSizeY = m_sps.ctbSize();
            p.bitDepth = m_sps.bitDepth;
            ok = PredictCclm(p, luma, plane, avail, pred.data(), w);
        } else {
            IntraPredParams p;
            p.predModeIntra = cu.chromaMode;
            p.nTbW = w;
            p.nTbH = h;
            p.nCbW = cu.width / 2;
            p.nCbH = cu.height / 2;
            p.cIdx = c;
            p.bdpcm = cu.bdpcmChroma;
            p.bitDepth = m_sps.bitDepth;
            ok = PredictIntra(p, plane, xC, yC, avail, 2, pred.data(), w);
        }
        if (!ok) {
            fail("chroma prediction failed");
            return;
        }
        addResidual(c, xC, yC, std::min(w, m_pic.planeWidth(c) - xC), std::min(h, m_pic.planeHeight(c) - yC),
                    pred.data(), w, res[c].empty() ? nullptr : res[c].data(), w);
    }
    markReconstructed(1, tbL.x, tbL.y, tbL.w, tbL.h);
    bool const joint = (blocks[1] && blocks[1]->jointCbCr) || (blocks[2] && blocks[2]->jointCbCr);
    bool const jointBoth = (blocks[1] && blocks[1]->jointCbCr == 3) || (blocks[2] && blocks[2]->jointCbCr == 3);
    bool const cbf[2] = {blocks[1] != nullptr || joint, blocks[2] != nullptr || joint};
    int const qpJoint = chromaQp(2, m_pps.jointCbCrQpOffset + m_sh->jointCbCrQpOffset + cu.chromaQpOffset[2]) - bd;
    int const qp[2] = {
        jointBoth ? qpJoint : chromaQp(0, m_pps.cbQpOffset + m_sh->cbQpOffset + cu.chromaQpOffset[0]) - bd,
        jointBoth ? qpJoint : chromaQp(1, m_pps.crQpOffset + m_sh->crQpOffset + cu.chromaQpOffset[1]) - bd};
    deblockBlock(cu, true, tbL.x, tbL.y, tbL.w, tbL.h, cbf, joint, qp);
}

void IntraPictureReconstructor::addResidual(int c, int x0, int y0, int w, int h, uint16_t const* pred,
                                            ptrdiff_t predStride, int32_t const* res, ptrdiff_t resStride)
{
    if (w <= 0 || h <= 0)
        return;
    ResidualAddArgs a;
    a.dst = m_pic.plane(c) + size_t(y0) * size_t(m_pic.planeWidth(c)) + size_t(x0);
    a.dstStride = m_pic.planeWidth(c);
    a.pred = pred;
    a.predStride = predStride;
    a.res = res;
    a.resStride = resStride;
    a.w = w;
    a.h = h;
    a.maxVal = (1 << m_sps.bitDepth) - 1;
    TransformActiveKernels().addResidual(a);
}

bool IntraPictureReconstructor::closedBoundary(int a, int b, bool deblocking) const
{
    if (a == b || a < 0 || b < 0 || size_t(a) >= m_ctuSlice.size() || size_t(b) >= m_ctuSlice.size())
        return false;
    if (!m_pps.loopFilterAcrossSlices && m_ctuSlice[size_t(a)] != m_ctuSlice[size_t(b)])
        return true;
    int const subA = m_ctuSubpic[size_t(a)], subB = m_ctuSubpic[size_t(b)];
    if (subA != subB) {
        // SAO and ALF follow the current CTB's subpicture; an edge is deblocked only when both
        // of its subpictures allow it.
        auto const open = [this](int s) {
            return size_t(s) < m_sps.subpics.loopFilterAcross.size() && m_sps.subpics.loopFilterAcross[size_t(s)];
        };
        if (!open(subA) || (deblocking && !open(subB)))
            return true;
    }
    return !m_pps.loopFilterAcrossTiles && tileOfCtu(a) != tileOfCtu(b);
}

void IntraPictureReconstructor::deblockBlock(IntraCodingUnit const& cu, bool chroma, int x, int y, int w, int h,
                                             bool const cbf[2], bool joint, int const qp[2])
{
    vvcdeblock::TransformBlock b;
    b.chroma = chroma;
    b.x = x;
    b.y = y;
    b.w = w;
    b.h = h;
    b.intra = isIntra(cu);
    b.bdpcm = chroma ? cu.bdpcmChroma : cu.bdpcm;
    b.ciip = isInter(cu) && cu.inter.merge == MergeKind::Ciip;
    b.codingEdgeLeft = x == cu.x;
    b.codingEdgeTop = y == cu.y;
    b.cbf[0] = cbf[0];
    b.cbf[1] = cbf[1];
    b.jointCbCr = joint;
    b.qp[0] = qp[0];
    b.qp[1] = qp[1];
    b.slice = uint16_t(m_slice);
    // The block is the Q side of its left and top edges: they stay unfiltered where its slice
    // turns deblocking off, and on closed slice or tile boundaries and virtual boundaries.
    bool const on = size_t(m_slice) < m_sliceDeblock.size() && m_sliceDeblock[size_t(m_slice)];
    int const here = ctuAt(x, y);
    b.filterLeft = on && x > 0 && !closedBoundary(here, ctuAt(x - 1, y), true);
    b.filterTop = on && y > 0 && !closedBoundary(here, ctuAt(x, y - 1), true);
    for (int v : m_vbX)
        b.filterLeft = b.filterLeft && v != x;
    for (int v : m_vbY)
        b.filterTop = b.filterTop && v != y;
    vvcdeblock::AddTransformBlock(m_dbk, b);
}

namespace {

// Runs body(y0, y1) over [0, height) in bands of `band` rows, the bands in parallel.
template <class Body>
void ParallelRows(int height, int band, Body const& body)
{
    vvcutil::ParallelFor((height + band - 1) / band, [&](int i) { body(i * band, std::min(height, (i + 1) * band)); });
}

} // namespace

void IntraPictureReconstructor::deblockRows(int r0, int r1)
{
    int const unitsW = m_dbk.unitsW(), unitsH = m_dbk.unitsH();
    int const u0 = std::min(unitsH, (r0 << m_sps.log2CtuSize) >> 2), u1 = std::min(unitsH, (r1 << m_sps.log2CtuSize) >> 2);
    if (u0 >= u1)
        return;
    if (std::find(m_sliceLmcs.begin(), m_sliceLmcs.end(), 1) != m_sliceLmcs.end())
        inverseMapLuma(u0, u1);
    if (std::find(m_sliceDeblock.begin(), m_sliceDeblock.end(), 1) == m_sliceDeblock.end())
        return;
    vvcdeblock::DeriveEdges(m_dbk, u0, u1);
    if (m_filterAnyInter)
        motionEdges(u0, u1);
    // Luma edges between two block copy units: the block vector comparison.
    if (!m_ibcCell.empty())
        for (int d = 0; d < 2; ++d)
            for (int y4 = std::max(u0, d); y4 < u1; ++y4)
                for (int x4 = 1 - d; x4 < unitsW; ++x4) {
                    vvcdeblock::EdgeSegment& e = m_dbk.edge(vvcdeblock::EdgeDir(d), x4, y4);
                    const size_t q = size_t(y4) * size_t(m_gridW) + size_t(x4);
                    const size_t p = d == vvcdeblock::kEdgeVer ? q - 1 : q - size_t(m_gridW);
                    if (!(e.kind & vvcdeblock::kTransformEdgeY) || !m_ibcCell[p] || !m_ibcCell[q])
                        continue;
                    e.bs[0] =
                        uint8_t(vvcibc::EdgeStrength((m_dbk.units[p].info & vvcdeblock::kCbfY) != 0,
                                                     (m_dbk.units[q].info & vvcdeblock::kCbfY) != 0, m_bv[p], m_bv[q]));
                }
    vvcdeblock::DeblockPlane planes[3];
    for (int c = 0; c < 3; ++c) {
        planes[c].samples = m_pic.plane(c);
        planes[c].stride = m_pic.planeWidth(c);
        planes[c].width = m_pic.planeWidth(c);
        planes[c].height = m_pic.planeHeight(c);
    }
    // The checks once (an empty range), then the edges in parallel: vertical edges of different
    // unit rows are independent, and horizontal edges of different unit columns. The vertical
    // edges of the rows are done before their horizontal ones (those of the rows above are done).
    if (!vvcdeblock::DeblockEdges(m_dbk, planes, vvcdeblock::kEdgeVer, 0, 0)) {
        fail("deblocking refused the picture");
        return;
    }
    ParallelRows(u1 - u0, 4, [&](int y0, int y1) {
        vvcdeblock::DeblockEdges(m_dbk, planes, vvcdeblock::kEdgeVer, u0 + y0, u0 + y1);
    });
    // Horizontal edges in bands of columns: an edge reads samples that the edge above it may have
    // filtered (4-sample blocks), so within a column they go top to bottom.
    int const bandW = 16, bands = (unitsW + bandW - 1) / bandW;
    vvcutil::ParallelFor(bands, [&](int i) {
        int const x0 = i * bandW;
        vvcdeblock::DeblockEdges(m_dbk, planes, vvcdeblock::kEdgeHor, u0, u1, x0, x0 + bandW);
    });
}

bool IntraPictureReconstructor::filterOutput(char const* filter)
{
    if (m_filtered.planeWidth(0) == m_pic.planeWidth(0) && m_filtered.planeHeight(0) == m_pic.planeHeight(0) &&
        !m_filtered.empty())
        return true;
    if (!m_filtered.create(ChromaFormat(m_sps.chromaFormatIdc), m_pps.picWidth, m_pps.picHeight, m_sps.bitDepth,
                           false)) {
        fail(std::string("no memory for ") + filter);
        return false;
    }
    return true;
}

void IntraPictureReconstructor::alfRows(int r0, int r1)
{
    if (!filterOutput("ALF"))
        return;
    // ALF reads the picture after SAO (in m_filtered) and writes back into m_pic, or without SAO
    // from m_pic into m_filtered.
    PelStorage& from = m_planSao ? m_filtered : m_pic;
    PelStorage& to = m_planSao ? m_pic : m_filtered;
    AlfPlaneIn in[3];
    AlfPlaneOut out[3];
    for (int c = 0; c < (m_chroma ? 3 : 1); ++c) {
        if (!from.plane(c) || !to.plane(c)) {
            fail("ALF without its planes");
            return;
        }
        in[c] = AlfPlaneIn{from.plane(c), from.planeWidth(c), from.planeWidth(c), from.planeHeight(c)};
        out[c] = AlfPlaneOut{to.plane(c), to.planeWidth(c), to.planeWidth(c), to.planeHeight(c)};
    }
    AlfPictureInfo info;
    info.chromaFormatIdc = m_sps.chromaFormatIdc;
    info.bitDepthLuma = info.bitDepthChroma = m_sps.bitDepth;
    info.ctbSize = m_sps.ctbSize();
    info.width = m_pps.picWidth;
    info.height = m_pps.picHeight;
    info.virtualBoundaryX = m_vbX;
    info.virtualBoundaryY = m_vbY;
    int const wC = m_pps.picWidthInCtbs, hC = m_pps.picHeightInCtbs;
    m_alfCtbs.resize(size_t(wC) * size_t(hC));
    for (int y = r0; y < r1 && y < hC; ++y)
        for (int x = 0; x < wC; ++x) {
            int const ctu = y * wC + x;
            AlfCtbParams& p = m_alfCtbs[size_t(ctu)];
            p = AlfCtbParams();
            int const slice = m_ctuSlice[size_t(ctu)];
            if (slice < 0 || size_t(slice) >= m_alfFilters.size() || !m_alfFilters[size_t(slice)])
                continue;
            CtuFilterParams const& f = m_ctuParams[size_t(ctu)];
            p.filters = m_alfFilters[size_t(slice)].get();
            for (int c = 0; c < 3; ++c)
                p.enabled[c] = f.alf[c];
            p.lumaFilterSet = f.alfUseAps ? 16 + f.alfFilterIdx : f.alfFilterIdx;
            for (int k = 0; k < 2; ++k) {
                p.chromaAltIdx[k] = f.alfAltIdx[k];
                p.ccAlfIdc[k] = f.ccAlfIdc[k];
            }
            bool const l = x > 0 && closedBoundary(ctu, ctu - 1), r = x + 1 < wC && closedBoundary(ctu, ctu + 1);
            bool const t = y > 0 && closedBoundary(ctu, ctu - wC), b = y + 1 < hC && closedBoundary(ctu, ctu + wC);
            p.noCross = uint8_t((l ? kAlfEdgeLeft : 0) | (r ? kAlfEdgeRight : 0) | (t ? kAlfEdgeTop : 0) |
                                (b ? kAlfEdgeBottom : 0));
            if (!l && !t && x > 0 && y > 0 && closedBoundary(ctu, ctu - wC - 1))
                p.noCross |= kAlfEdgeTopLeft;
            if (!r && !b && x + 1 < wC && y + 1 < hC && closedBoundary(ctu, ctu + wC + 1))
                p.noCross |= kAlfEdgeBottomRight;
        }
    if (ApplyAlfRows(info, in, out, m_alfCtbs, r0, r1) != AlfStatus::Ok)
        fail("ALF refused the picture");
}

void IntraPictureReconstructor::ctu(CtuFilterParams const& p)
{
    completeCtu(m_openCtu);
    m_openCtu = -1;
    if (p.ctuAddr >= 0 && size_t(p.ctuAddr) < m_ctuParams.size()) {
        m_openCtu = p.ctuAddr;
        // The temporal candidates of the CTU read the collocated motion of its CTU row.
        if (m_colWait)
            m_colRows.waitFor((p.ctuAddr / m_pps.picWidthInCtbs + 1) << m_sps.log2CtuSize);
        // The block vector history starts anew with each CTU row of a tile.
        if (m_tileColumnStart[size_t(p.ctuAddr % m_pps.picWidthInCtbs)]) {
            m_ibcHistory.clear();
            m_hmvp.clear();
        }
        m_ctuParams[size_t(p.ctuAddr)] = p;
        m_ctuSlice[size_t(p.ctuAddr)] = m_slice;
    }
}

int IntraPictureReconstructor::chromaResidualScale(IntraCodingUnit const& cu, int xC, int yC) const
{
    // The neighbours are those of the coding unit covering the top-left sample of the block's
    // 64x64 area: a unit larger than the area uses its own top row and left column for each of
    // its areas.
    int const size = std::min(m_sps.ctbSize(), 64);
    int x0 = (xC * 2 / size) * size, y0 = (yC * 2 / size) * size;
    if (x0 >= cu.x && x0 < cu.x + cu.width && y0 >= cu.y && y0 < cu.y + cu.height) {
        x0 = cu.x;
        y0 = cu.y;
    }
    uint16_t const* luma = const_cast<PelStorage&>(m_pic).plane(0);
    const size_t stride = size_t(m_pic.planeWidth(0));
    // The neighbours are used under the intra rules: same slice and tile.
    int const avg = vvcsyntax::LmcsModel::neighbourAverage(luma, ptrdiff_t(stride), m_pps.picWidth, m_pps.picHeight, x0,
                                                           y0, size, available(0, x0 - 1, y0, x0, y0),
                                                           available(0, x0, y0 - 1, x0, y0), m_sps.bitDepth);
    return m_lmcsModel.chromaScale(avg);
}

void IntraPictureReconstructor::inverseMapLuma(int y4Begin0, int y4End0)
{
    if (m_lmcsModel.bitDepth != m_sps.bitDepth)
        return;
    uint16_t* luma = m_pic.plane(0);
    int const stride = m_pic.planeWidth(0);
    // The mapping table covers every sample value of the bit depth.
    uint16_t const* table = m_lmcsModel.inverseTable.data();
    if (m_lmcsModel.inverseTable.size() != size_t(1) << m_sps.bitDepth)
        return;
    int const maxVal = (1 << m_sps.bitDepth) - 1;
    auto const mapped = [this](int slice) {
        return slice >= 0 && size_t(slice) < m_sliceLmcs.size() && m_sliceLmcs[size_t(slice)];
    };
    // 4x4 cells share their slice: each run of cells of mapped slices in a row of cells is mapped
    // over its 4 sample rows. Bands of cell rows run in parallel.
    int const cellRows = (m_pps.picHeight + 3) >> 2;
    y4End0 = std::min(y4End0, cellRows);
    if (y4Begin0 >= y4End0)
        return;
    ParallelRows(y4End0 - y4Begin0, 16, [&](int y4Begin, int y4End) {
        for (int y4 = y4Begin0 + y4Begin; y4 < y4Begin0 + y4End; ++y4) {
            int const* done = m_done[0].data() + size_t(y4) * size_t(m_gridW);
            for (int x4 = 0; x4 < m_gridW;) {
                if (!mapped(done[x4])) {
                    ++x4;
                    continue;
                }
                int end = x4 + 1;
                while (end < m_gridW && mapped(done[end]))
                    ++end;
                int const x0 = x4 * 4, x1 = std::min(end * 4, m_pps.picWidth);
                for (int y = y4 * 4; y < std::min(y4 * 4 + 4, m_pps.picHeight); ++y) {
                    uint16_t* row = luma + size_t(y) * stride;
                    for (int x = x0; x < x1; ++x)
                        row[x] = table[std::min(int(row[x]), maxVal)];
                }
                x4 = end;
            }
        }
    });
}

std::string IntraPictureReconstructor::toolStats() const
{
    ToolCounts const& n = m_counts;
    char text[640];
    std::snprintf(text, sizeof(text),
                  "ts %d/%d bdpcm %d lfnst %d/%d mts %d isp %d mip %d 4x4 dct %d dst %d lfnst %d joint %d/%d/%d 1d %d "
                  "sl %d dq %d sdh %d nores4x4 %d cclm %d; inter merge %d mmvd %d ciip %d gpm %d affine %d sbtmvp %d "
                  "amvp %d affine-amvp %d bi %d sbt %d coded %d; bi int %d frac %d dmvr %d bdof %d bcw %d weighted %d",
                  n.tsLuma, n.tsChroma, n.bdpcm, n.lfnstLuma, n.lfnstChroma, n.mts, n.isp, n.mip, n.dct4x4, n.dst4x4,
                  n.lfnst4x4, n.joint[1], n.joint[2], n.joint[3], n.oneD, n.scalingList, n.dq, n.sdh, n.noRes4x4,
                  n.cclm, n.merge, n.mmvd, n.ciip, n.gpm, n.affine, n.sbtmvp, n.amvp, n.affineAmvp, n.bi, n.sbt, n.coded,
                  n.biInt, n.biFrac, n.dmvr, n.bdof, n.bcw, n.weighted);
    return text;
}

void IntraPictureReconstructor::RefRows::waitFor(int lumaLines)
{
    if (!noted) {
        noted = true;
        if (std::find(used->begin(), used->end(), progress) == used->end())
            used->push_back(progress);
    }
    progress->waitFor(lumaLines);
}

void IntraPictureReconstructor::decodeInto(Picture* target, bool sao, bool alf)
{
    m_target = target;
    m_planned = true;
    m_planSao = sao;
    m_planAlf = alf;
}

void IntraPictureReconstructor::endSlice()
{
    completeCtu(m_openCtu);
    m_openCtu = -1;
}

void IntraPictureReconstructor::completeCtu(int ctuAddr)
{
    int const w = m_pps.picWidthInCtbs, h = m_pps.picHeightInCtbs;
    if (ctuAddr < 0 || ctuAddr >= w * h)
        return;
    if (m_rowCtus.empty())
        m_rowCtus.assign(size_t(h), 0);
    ++m_rowCtus[size_t(ctuAddr / w)];
    int const before = m_rowsComplete;
    while (m_rowsComplete < h && m_rowCtus[size_t(m_rowsComplete)] >= w)
        ++m_rowsComplete;
    if (m_planned && m_rowsComplete != before)
        startFilters();
}

void IntraPictureReconstructor::startFilters()
{
    waitFilters();
    int const rows = m_rowsComplete;
    try {
        handOverToFilters();
        m_filters.start([this, rows] { advanceRows(rows, false); });
    } catch (std::exception const& e) {
        fail(std::string("loop filters: ") + e.what());
    }
}

void IntraPictureReconstructor::handOverToFilters()
{
    m_filterSubblocks.insert(m_filterSubblocks.end(), m_subblockUnits.begin() + ptrdiff_t(m_subblocksHanded),
                             m_subblockUnits.end());
    m_subblocksHanded = m_subblockUnits.size();
    m_filterAnyInter = m_anyInter;
}

void IntraPictureReconstructor::waitFilters()
{
    try {
        m_filters.wait();
    } catch (std::exception const& e) {
        fail(std::string("loop filters: ") + e.what());
    }
}

void IntraPictureReconstructor::advanceRows(int rowsComplete, bool all)
{
    int const h = m_pps.picHeightInCtbs;
    auto stage = [&](int& done, int to, void (IntraPictureReconstructor::*run)(int, int), bool on) {
        to = std::max(std::min(to, h), done);
        if (on && to > done && ok())
            (this->*run)(done, to);
        if (ok())
            done = to;
    };
    stage(m_rowsDeblocked, all ? h : rowsComplete - 1, &IntraPictureReconstructor::deblockRows, true);
    // The deblocked rows are final but for the last one, whose bottom lines the deblocking of the
    // next row changes. SAO filters the final rows, and with ALF also the first lines of the last
    // deblocked row: ALF of the row above reads a few of them (below its virtual boundary), so
    // that row is filtered and given out one row earlier.
    int const lead = m_planSao && m_planAlf ? kSaoLeadLines : 0;
    int const saoTo = all ? m_pps.picHeight
                          : std::min(m_pps.picHeight, std::max(0, m_rowsDeblocked - 1) * m_sps.ctbSize() +
                                                          (m_rowsDeblocked > 0 ? lead : 0));
    if (m_planSao && saoTo > m_saoLines && ok())
        saoLines(m_saoLines, saoTo);
    if (ok())
        m_saoLines = std::max(m_saoLines, saoTo);
    stage(m_rowsAlf, all ? h : m_rowsDeblocked - 1, &IntraPictureReconstructor::alfRows, m_planAlf);
    stage(m_rowsOut, m_rowsAlf, &IntraPictureReconstructor::outputRows, m_target != nullptr);
}

void IntraPictureReconstructor::outputRows(int r0, int r1)
{
    int const y0 = r0 << m_sps.log2CtuSize, y1 = std::min(m_pps.picHeight, r1 << m_sps.log2CtuSize);
    if (!m_target->samples.copyRows(finalPlanes(), y0, y1)) {
        fail("picture planes not usable");
        return;
    }
    if (m_target->motion && m_motion.width() > 0)
        m_motion.storeFieldRows(*m_target->motion, y0, y1);
    m_target->progress.publish(y1 >= m_pps.picHeight ? INT_MAX - 1 : y1);
}

void IntraPictureReconstructor::finishPicture()
{
    completeCtu(m_openCtu);
    m_openCtu = -1;
    if (!m_planned) {
        m_planned = true;
        m_planSao = m_sao;
        m_planAlf = std::any_of(m_alfFilters.begin(), m_alfFilters.end(), [](auto const& f) { return f != nullptr; });
    }
    // Inverse luma mapping (in the deblocking stage), deblocking, SAO and ALF of the rows left.
    waitFilters();
    try {
        handOverToFilters();
    } catch (std::bad_alloc const&) {
        fail("no memory for the deblocking");
    }
    if (ok())
        advanceRows(m_rowsComplete, true);
    // A picture that read from a picture which failed fails too.
    for (RowProgress const* p : m_usedRefs) {
        p->waitFor(INT_MAX);
        if (p->failed())
            fail("a reference picture was not reconstructed");
    }
    if (!ok())
        return;
    // The picture's planes are those of the final samples.
    if (&finalPlanes() != &m_pic)
        std::swap(m_pic, m_filtered);
    // The motion of the picture for the temporal candidates of later pictures.
    if (!m_target && m_current && m_current->motion && !m_motion.storeField(*m_current->motion, m_current->poc))
        fail("no memory for the motion field");
}

void IntraPictureReconstructor::saoLines(int y0, int y1)
{
    // SAO reads the deblocked picture and writes every sample of its output.
    if (!filterOutput("SAO"))
        return;
    SaoPicture sp;
    sp.width = m_pps.picWidth;
    sp.height = m_pps.picHeight;
    sp.ctbSize = m_sps.ctbSize();
    sp.widthInCtbs = m_pps.picWidthInCtbs;
    sp.bitDepth = m_sps.bitDepth;
    PelUnitBuf const in = m_pic.view();
    for (int c = 0; c < 3; ++c) {
        sp.planes[c] = in.planes[c];
        sp.out[c] = m_filtered.plane(c);
    }
    // Offsets are signalled at up to 10-bit precision and scaled up for deeper samples.
    int const shift = m_sps.bitDepth - std::min(m_sps.bitDepth, 10);
    auto params = [&](int ctu, int c, SaoParams& p) {
        CtuFilterParams const& f = m_ctuParams[size_t(ctu)];
        if (m_ctuSlice[size_t(ctu)] < 0 || f.saoType[c] == 0)
            return false;
        p.typeIdx = f.saoType[c];
        for (int k = 0; k < 4; ++k)
            p.offsetVal[k + 1] = f.saoOffset[c][k] * (1 << shift);
        p.bandPosition = f.saoBandPosition[c];
        p.eoClass = f.saoEoClass[c];
        return true;
    };
    // Neighbours in another slice or tile are not used when filtering across them is off, nor
    // are samples on the other side of a virtual boundary.
    sp.vbX = m_vbX;
    sp.vbY = m_vbY;
    auto closed = [&](int a, int b) { return closedBoundary(a, b); };
    if (!ApplySaoToLines(sp, params, closed, y0, y1))
        fail("SAO refused the picture");
}
