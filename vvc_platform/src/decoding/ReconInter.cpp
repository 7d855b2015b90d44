// The inter path of the reconstruction: the slice's motion context and references, a unit's
// motion (the motion stage) and prediction (the prediction stage), CIIP, the storage of its
// motion, and the motion strengths of prediction and subblock edges for the deblocking.
#include "decoding/Recon.h"

#include "intra/IntraPred.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace vvcsyntax;
using namespace vvcslice;
using vvcinter::CuMotion;
using vvcinter::MotionCand;
using vvcinter::MotionInfo;
using vvcinter::Mv;
using vvcinter::PredMode;

namespace {

// Regions of the motion grid: one per slice and tile.
constexpr int kRegionsPerSlice = 1 << 12;

} // namespace

void IntraPictureReconstructor::startInterSlice(SliceHeaderParams const& sh, Picture* current, SliceRefs const* refs)
{
    if (m_motion.width() == 0) {
        std::swap(m_motion, m_motionSpare); // its memory, if any
        if (!m_motion.create(m_pps.picWidth, m_pps.picHeight)) {
            fail("picture size not usable for motion");
            return;
        }
        m_motion.setWavefront(m_sps.entropyCodingSync, m_sps.log2CtuSize);
    }
    m_current = current;
    m_refs = refs;
    m_colWait = false;
    if (current && !current->motion)
        current->motion = std::make_shared<vvcinter::MotionField>();
    vvcinter::SliceMotion& s = m_sliceMotion;
    s = vvcinter::SliceMotion();
    s.currPoc = current ? current->poc : 0;
    s.picWidth = m_pps.picWidth;
    s.picHeight = m_pps.picHeight;
    s.log2CtuSize = m_sps.log2CtuSize;
    s.log2ParMrgLevel = m_sps.log2ParallelMergeLevel;
    s.maxNumMergeCand = m_sps.maxNumMergeCand;
    s.maxNumGpmCand = m_sps.maxNumGpmCand;
    s.sbtmvp = m_sps.sbtmvp && sh.ph.temporalMvp;
    s.affine = m_sps.affine;
    s.sixParamAffine = m_sps.affine6Param;
    s.maxNumSubblockMergeCand = m_sps.affine ? m_sps.maxNumSubblockMergeCand : (s.sbtmvp ? 1 : 0);
    s.bcw = m_sps.bcw;
    s.mmvdFullpelOnly = sh.ph.mmvdFullpelOnly;
    if (!refs || refs->sliceType == 2)
        return;
    s.bSlice = refs->sliceType == 0;
    for (int l = 0; l < 2; ++l) {
        s.refs.num[l] = std::max(std::min({refs->numActive[l], int(refs->list[l].size()), vvcinter::kMaxRefs}), 0);
        for (int i = 0; i < s.refs.num[l]; ++i) {
            s.refs.poc[l][i] = refs->list[l][size_t(i)].poc;
            s.refs.longTerm[l][i] = refs->list[l][size_t(i)].longTerm;
        }
    }
    if (!m_slicePred) {
        m_slicePred = std::make_unique<vvcinter::SlicePrediction>();
        m_cuPred = std::make_unique<vvcinter::CuPredictor>();
    }
    vvcinter::SlicePrediction& sp = *m_slicePred;
    vvcinter::SetSliceReferences(sp, m_sps, m_pps, *refs, s.currPoc);
    // Reads of a reference wait for its rows (it may still be decoded) and note that it was read.
    for (int l = 0; l < 2; ++l)
        for (int i = 0; i < sp.numRefs[l]; ++i) {
            RefRows& rows = m_refRows[l][i];
            rows = RefRows();
            Picture const* pic = refs->list[l][size_t(i)].pic;
            if (!pic)
                continue;
            rows.progress = &pic->progress;
            rows.used = &m_usedRefs;
            for (int c = 0; c < 3; ++c) {
                vvcinter::RefPlane& plane = sp.refs[l][i].planes[c];
                if (plane.samples) {
                    plane.rows = &rows;
                    plane.rowShift = c && m_sps.chromaFormatIdc == 1 ? 1 : 0;
                }
            }
        }
    sp.dmvr = m_sps.dmvr && !sh.ph.dmvrDisabled;
    sp.bdof = m_sps.bdof && !sh.ph.bdofDisabled;
    sp.prof = m_sps.prof && !sh.ph.profDisabled;
    sp.lmcs = m_lmcs ? &m_lmcsModel : nullptr;
    Picture const* col = refs->collocated;
    if (sh.ph.temporalMvp && col && col->motion && !col->motion->empty() &&
        col->motion->lumaWidth() == m_pps.picWidth && col->motion->lumaHeight() == m_pps.picHeight)
    {
        s.colField = col->motion.get();
        m_colRows = RefRows();
        m_colRows.progress = &col->progress;
        m_colRows.used = &m_usedRefs;
        m_colWait = true;
    }
    s.colFromL0 = sh.collocatedFromL0;
    s.deriveListProperties();
}

void IntraPictureReconstructor::storeNonInter(CodingUnit const& cu)
{
    if (m_motion.width() == 0)
        return;
    m_motion.setRegion(m_slice * kRegionsPerSlice + tileOfCtu(ctuAt(cu.x, cu.y)), cu.x, cu.y);
    if (!cu.ibc) {
        m_motion.storeIntra(cu.x, cu.y, cu.width, cu.height);
        return;
    }
    CuMotion m;
    m.mode = PredMode::Ibc;
    m.cand.interDir = 1;
    m.cand.refIdx[0] = 0;
    if (!m_bv.empty()) {
        vvcibc::BlockVector const& bv = m_bv[size_t(cu.y >> 2) * size_t(m_gridW) + size_t(cu.x >> 2)];
        m.cand.mv[0] = Mv(bv.x, bv.y);
    }
    vvcinter::RefLists const none;
    m_motion.storeCu(cu.x, cu.y, cu.width, cu.height, m, none);
}

bool IntraPictureReconstructor::interPrediction(CodingUnit const& cu)
{
    if (!m_refs || m_sliceMotion.refs.num[0] == 0 || !m_cuPred || m_motion.width() == 0) {
        fail("inter unit without reference pictures");
        return false;
    }
    if (cu.tree != 2 || cu.width > vvcinter::kMaxCuSize || cu.height > vvcinter::kMaxCuSize || cu.x < 0 ||
        cu.y < 0 || cu.x + cu.width > m_pps.picWidth || cu.y + cu.height > m_pps.picHeight) {
        fail("inter unit not usable");
        return false;
    }
    m_anyInter = true;
    m_motion.setRegion(m_slice * kRegionsPerSlice + tileOfCtu(ctuAt(cu.x, cu.y)), cu.x, cu.y);
    CuMotion m;
    if (!vvcinter::DeriveCuMotion(m_sliceMotion, m_motion, m_hmvp, cu, m)) {
        fail("inter unit refers to motion the slice does not have");
        return false;
    }
    vvcinter::UpdateHistory(m_sliceMotion, m_hmvp, cu, m);
    ToolCounts& n = m_counts;
    MergeKind const k = cu.inter.merge;
    n.merge += k == MergeKind::Regular;
    n.mmvd += k == MergeKind::Mmvd;
    n.ciip += k == MergeKind::Ciip;
    n.gpm += k == MergeKind::Gpm;
    n.affine += m.kind == CuMotion::Affine;
    n.sbtmvp += m.kind == CuMotion::SubblockTemporal;
    n.amvp += k == MergeKind::None && !cu.inter.affine;
    n.affineAmvp += k == MergeKind::None && cu.inter.affine;
    n.bi += m.cand.interDir == 3;
    n.sbt += cu.inter.sbt;
    n.coded += cu.inter.cuCoded;
    if (m.kind == CuMotion::Translational && m.cand.interDir == 3) {
        bool const frac = ((m.cand.mv[0].x | m.cand.mv[0].y | m.cand.mv[1].x | m.cand.mv[1].y) & 15) != 0;
        n.biFrac += frac;
        n.biInt += !frac;
        n.dmvr += vvcinter::CuPredictor::dmvrApplies(*m_slicePred, cu, m);
        n.bdof += vvcinter::CuPredictor::bdofApplies(*m_slicePred, cu, m);
    }
    n.bcw += m.cand.interDir == 3 && m.cand.bcwIdx != vvcinter::kBcwDefault;
    n.weighted += m_slicePred->weighted;
    if (m.kind == CuMotion::Gpm)
        vvcinter::GpmSplit(m.gpmPartition, m.gpmAngle, m.gpmDistance);
    // The prediction of the whole unit, per plane at the unit's size.
    int const w = cu.width, h = cu.height, wc = m_chroma ? w / 2 : 0, hc = m_chroma ? h / 2 : 0;
    vvcinter::PredBuf dst;
    for (int c = 0; c < 3; ++c) {
        m_unitPred[c].assign(c ? size_t(wc) * size_t(hc) : size_t(w) * size_t(h), 0);
        dst.samples[c] = c && !m_chroma ? nullptr : m_unitPred[c].data();
        dst.stride[c] = c ? wc : w;
    }
    vvcinter::PredBuf intra;
    int wIntra = 1;
    if (m.ciip) {
        wIntra = ciipIntra(cu);
        for (int c = 0; c < 3; ++c) {
            intra.samples[c] = dst.samples[c] ? m_intraPred[c].data() : nullptr;
            intra.stride[c] = dst.stride[c];
        }
    }
    vvcinter::DmvrResult dmvr;
    if (!ok() || !m_cuPred->predict(*m_slicePred, cu, m, dst, &dmvr, m.ciip ? &intra : nullptr, wIntra)) {
        if (std::getenv("SERAVIN_VVC_TRACE"))
            std::fprintf(stderr, "inter unit %d,%d %dx%d kind %d dir %d ref %d/%d: refs %d/%d, samples %d/%d\n", cu.x,
                         cu.y, cu.width, cu.height, int(m.kind), m.cand.interDir, m.cand.refIdx[0], m.cand.refIdx[1],
                         m_slicePred->numRefs[0], m_slicePred->numRefs[1],
                         m_slicePred->refs[0][0].planes[0].samples != nullptr,
                         m_slicePred->refs[1][0].planes[0].samples != nullptr);
        fail("inter prediction failed");
        return false;
    }
    bool const refined = m.kind == CuMotion::Translational && dmvr.numX > 0;
    if (refined)
        vvcinter::RefinedMvs(m, w, h, dmvr, m_refined);
    m_motion.storeCu(cu.x, cu.y, w, h, m, m_sliceMotion.refs, refined ? m_refined : nullptr);
    if (m.kind == CuMotion::Affine || m.kind == CuMotion::SubblockTemporal)
        m_subblockUnits.push_back(Rect{cu.x, cu.y, cu.width, cu.height});
    return ok();
}

int IntraPictureReconstructor::ciipIntra(CodingUnit const& cu)
{
    int const w = cu.width, h = cu.height;
    PelUnitBuf const buf = m_pic.view();
    for (int c = 0; c < (m_chroma ? 3 : 1); ++c) {
        int const sub = c ? 1 : 0, cw = w >> sub, ch = h >> sub;
        if (c && !vvcinter::CiipBlendsChroma(cw))
            break;
        IntraPlane plane{buf.planes[c].samples, buf.planes[c].stride, buf.planes[c].width, buf.planes[c].height};
        IntraPredParams p;
        p.predModeIntra = kPlanar;
        p.nTbW = p.nCbW = cw;
        p.nTbH = p.nCbH = ch;
        p.cIdx = c;
        p.bitDepth = m_sps.bitDepth;
        auto avail = [&](int x, int y) { return available(sub, x << sub, y << sub, cu.x, cu.y); };
        m_intraPred[c].assign(size_t(cw) * size_t(ch), 0);
        if (!PredictIntra(p, plane, cu.x >> sub, cu.y >> sub, avail, c ? 2 : 4, m_intraPred[c].data(), cw)) {
            fail("CIIP intra prediction failed");
            return 1;
        }
    }
    // The weight: from whether the left and the above neighbours are intra units.
    auto intraAt = [&](int x, int y) {
        MotionInfo const* nb = m_motion.available(x, y);
        return nb && nb->mode == PredMode::Intra && available(0, x, y, cu.x, cu.y);
    };
    return vvcinter::CiipWeight(intraAt(cu.x - 1, cu.y + h - 1), intraAt(cu.x + w - 1, cu.y - 1));
}

void IntraPictureReconstructor::motionEdges(int y4Begin, int y4End)
{
    using namespace vvcdeblock;
    int const w4 = m_dbk.unitsW(), h4 = m_dbk.unitsH(), rowsEnd = std::min(h4, y4End);
    auto info = [&](int x4, int y4) -> MotionInfo const& { return m_motion.at(x4 * 4, y4 * 4); };
    // Luma edges between units with motion where nothing else decided: the motion comparison
    // (edges between two block copy units are the block copy's own test).
    auto strength = [&](EdgeDir d, int x4, int y4) {
        EdgeSegment& e = m_dbk.edge(d, x4, y4);
        MotionInfo const& q = info(x4, y4);
        MotionInfo const& p = d == kEdgeVer ? info(x4 - 1, y4) : info(x4, y4 - 1);
        if (e.bs[0] != 0 || p.mode == PredMode::Intra || q.mode == PredMode::Intra || p.ciip || q.ciip ||
            (p.mode != PredMode::Inter && q.mode != PredMode::Inter))
            return;
        e.bs[0] = uint8_t(vvcinter::MotionEdgeStrength(p, q));
    };
    for (int d = 0; d < 2; ++d)
        for (int y4 = std::max(y4Begin, d == kEdgeHor ? 1 : 0); y4 < rowsEnd; ++y4)
            for (int x4 = d == kEdgeVer ? 1 : 0; x4 < w4; ++x4) {
                EdgeSegment& e = m_dbk.edge(EdgeDir(d), x4, y4);
                if (!(e.kind & kTransformEdgeY))
                    continue;
                // Transform edges inside a coding unit take their strength from the residual
                // only (subblock edges on them get the motion test below).
                size_t const q4 = size_t(y4) * size_t(m_gridW) + size_t(x4);
                size_t const p4 = d == kEdgeVer ? q4 - 1 : q4 - size_t(m_gridW);
                if (q4 < m_lumaCu.size() && m_lumaCu[p4] != m_lumaCu[q4])
                    strength(EdgeDir(d), x4, y4);
                // Next to subblock edges 8 samples away the coding unit's edge filters 5 at most.
                MotionInfo const& q = info(x4, y4);
                MotionInfo const& p = d == kEdgeVer ? info(x4 - 1, y4) : info(x4, y4 - 1);
                if (p.subblock)
                    e.maxLenP = std::min<uint8_t>(e.maxLenP, 5);
                if (q.subblock)
                    e.maxLenQ = std::min<uint8_t>(e.maxLenQ, 5);
            }
    // Subblock edges of affine and subblock temporal units on the 8x8 grid inside the unit.
    auto transformEdge = [&](EdgeDir d, int x4, int y4) {
        return x4 >= 0 && y4 >= 0 && x4 < w4 && y4 < h4 && (m_dbk.edge(d, x4, y4).kind & kTransformEdgeY);
    };
    for (Rect const& r : m_filterSubblocks) {
        if ((r.y >> 2) < y4Begin || (r.y >> 2) >= y4End)
            continue;
        int const slice = m_done[0][size_t(r.y >> 2) * size_t(m_gridW) + size_t(r.x >> 2)];
        if (slice < 0 || size_t(slice) >= m_sliceDeblock.size() || !m_sliceDeblock[size_t(slice)])
            continue;
        for (int d = 0; d < 2; ++d) {
            EdgeDir const dir = EdgeDir(d);
            int const along = d == kEdgeVer ? r.w : r.h;
            for (int k = 8; k < along; k += 8)
                for (int t = 0; t < (d == kEdgeVer ? r.h : r.w); t += 4) {
                    int const x4 = (r.x + (d == kEdgeVer ? k : t)) >> 2, y4 = (r.y + (d == kEdgeVer ? t : k)) >> 2;
                    if (x4 >= w4 || y4 >= h4)
                        continue;
                    EdgeSegment& e = m_dbk.edge(dir, x4, y4);
                    if (e.kind & kTransformEdgeY) {
                        strength(dir, x4, y4);
                        continue;
                    }
                    e.kind |= kPredictionEdge;
                    auto transformAt = [&](int units) { // a transform edge 4 * units samples across
                        return d == kEdgeVer ? transformEdge(dir, x4 - units, y4) || transformEdge(dir, x4 + units, y4)
                                             : transformEdge(dir, x4, y4 - units) || transformEdge(dir, x4, y4 + units);
                    };
                    e.maxLenP = e.maxLenQ = uint8_t(SubblockEdgeLength(k, along, transformAt(1), transformAt(2)));
                    strength(dir, x4, y4);
                }
        }
    }
}
