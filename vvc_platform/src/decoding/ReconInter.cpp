// The inter path of the reconstruction: the slice's motion context and references, a unit's
// motion (the motion stage) and prediction (the prediction stage), CIIP, the storage of its
// motion, and the motion strengths of prediction and subblock edges for the deblocking.
#include "decoding/Recon.h"

#include "inter/PredRefs.h"
#include "intra/IntraPred.h"

#include <algorithm>

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
        if (!m_motion.create(m_pps.picWidth, m_pps.picHeight)) {
            fail("picture size not usable for motion");
            return;
        }
        m_motion.setWavefront(m_sps.entropyCodingSync, m_sps.log2CtuSize);
    }
    m_current = current;
    m_refs = refs;
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
    vvcinter::ScalingWindow const window = vvcinter::ScalingWindowOf(m_sps, m_pps);
    for (int l = 0; l < 2; ++l) {
        int const n = std::min({refs->numActive[l], int(refs->list[l].size()), vvcinter::kMaxRefs});
        s.refs.num[l] = std::max(n, 0);
        for (int i = 0; i < s.refs.num[l]; ++i) {
            RefPicEntry const& e = refs->list[l][size_t(i)];
            s.refs.poc[l][i] = e.poc;
            s.refs.longTerm[l][i] = e.longTerm;
            m_refPic[l][i] = vvcinter::RefPicture();
            if (e.pic && !e.pic->samples.empty()) {
                vvcinter::ScalingWindow w = window;
                if (e.pic->samples.width(0) != m_pps.picWidth || e.pic->samples.height(0) != m_pps.picHeight)
                    w = vvcinter::ScalingWindow{0, 0, e.pic->samples.width(0), e.pic->samples.height(0)};
                m_refPic[l][i] = vvcinter::RefPictureOf(e.pic->samples, w);
            }
            m_weighted[l][i] = vvcinter::WeightsOf(*refs, l, i, m_weights[l][i]);
        }
    }
    Picture const* col = refs->collocated;
    if (sh.ph.temporalMvp && col && col->motion && !col->motion->empty() &&
        col->motion->lumaWidth() == m_pps.picWidth && col->motion->lumaHeight() == m_pps.picHeight)
        s.colField = col->motion.get();
    s.colFromL0 = sh.collocatedFromL0;
    s.deriveListProperties();
    m_interPic = vvcinter::InterPictureOf(m_sps, m_pps);
    if (!m_predictor)
        m_predictor = std::make_unique<vvcinter::InterPredictor>();
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
    if (!m_refs || m_sliceMotion.refs.num[0] == 0 || !m_predictor || m_motion.width() == 0) {
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
    vvcinter::UpdateHistory(m_hmvp, m);
    if (m.kind == CuMotion::Gpm)
        vvcinter::GpmSplit(m.gpmPartition, m.gpmAngle, m.gpmDistance);
    if (!predictMotion(cu, m)) {
        fail("inter prediction failed");
        return false;
    }
    if (m.ciip)
        ciipBlend(cu);
    m_motion.storeCu(cu.x, cu.y, cu.width, cu.height, m, m_sliceMotion.refs,
                     m_refined.empty() ? nullptr : m_refined.data());
    if (m.kind == CuMotion::Affine || m.kind == CuMotion::SubblockTemporal)
        m_subblockUnits.push_back(Rect{cu.x, cu.y, cu.width, cu.height});
    return ok();
}

bool IntraPictureReconstructor::predictMotion(CodingUnit const& cu, CuMotion& m)
{
    int const w = cu.width, h = cu.height;
    int const wc = m_chroma ? w / 2 : 0, hc = m_chroma ? h / 2 : 0;
    m_unitPred[0].assign(size_t(w) * size_t(h), 0);
    m_unitPred[1].assign(size_t(wc) * size_t(hc), 0);
    m_unitPred[2].assign(size_t(wc) * size_t(hc), 0);
    auto bufAt = [&](int x, int y) {
        vvcinter::PredBuf b;
        b.samples[0] = m_unitPred[0].data() + size_t(y) * size_t(w) + size_t(x);
        b.stride[0] = w;
        for (int c = 1; c <= 2 && m_chroma; ++c) {
            b.samples[c] = m_unitPred[c].data() + size_t(y / 2) * size_t(wc) + size_t(x / 2);
            b.stride[c] = wc;
        }
        return b;
    };
    vvcinter::SliceMotion const& s = m_sliceMotion;
    auto ref = [&](int l, int r) -> vvcinter::RefPicture const* {
        return r >= 0 && r < s.refs.num[l] && m_refPic[l][r].planes[0].samples ? &m_refPic[l][r] : nullptr;
    };
    auto weights = [&](int l, int r) -> vvcinter::WeightParams const* {
        return r >= 0 && r < s.refs.num[l] && m_weighted[l][r] ? &m_weights[l][r] : nullptr;
    };
    // Whether a reference has explicit weights coded (not only the defaults of a weighted slice).
    auto coded = [&](int l, int r) {
        return m_refs->weighted && r >= 0 && size_t(r) < m_refs->weights[l].size() &&
               (m_refs->weights[l][size_t(r)].lumaFlag || m_refs->weights[l][size_t(r)].chromaFlag);
    };
    // Bi-prediction from one picture before and one after at the same distance, both short-term,
    // equal weights, with the size DMVR and BDOF need.
    auto symmetric = [&](MotionCand const& c) {
        if (c.interDir != 3 || w < 8 || h < 8 || w * h < 128 || c.bcwIdx != vvcinter::kBcwDefault)
            return false;
        int const r0 = c.refIdx[0], r1 = c.refIdx[1];
        return int64_t(s.currPoc) - s.refs.poc[0][r0] == int64_t(s.refs.poc[1][r1]) - s.currPoc &&
               s.refs.poc[0][r0] != s.currPoc && !s.refs.longTerm[0][r0] && !s.refs.longTerm[1][r1] &&
               !coded(0, r0) && !coded(1, r1);
    };
    auto block = [&](MotionCand const& c, int x, int y, int bw, int bh) {
        vvcinter::InterBlock b;
        b.x = cu.x + x;
        b.y = cu.y + y;
        b.width = bw;
        b.height = bh;
        for (int l = 0; l < 2; ++l)
            if (c.uses(l)) {
                b.useList[l] = true;
                b.mv[l] = c.mv[l];
                b.ref[l] = ref(l, c.refIdx[l]);
                b.weights[l] = weights(l, c.refIdx[l]);
            }
        b.altHalfPel = c.hpelIf;
        b.bcwIdx = c.interDir == 3 ? c.bcwIdx : 0;
        b.chroma = m_chroma;
        return b;
    };
    m_refined.clear();
    bool done = false;
    switch (m.kind) {
    case CuMotion::Translational: {
        vvcinter::InterBlock b = block(m.cand, 0, 0, w, h);
        bool const sym = symmetric(m.cand);
        b.dmvr = sym && m_sps.dmvr && !m_sh->ph.dmvrDisabled && cu.inter.merge == MergeKind::Regular;
        b.bdof = sym && m_sps.bdof && !m_sh->ph.bdofDisabled && !m.ciip;
        vvcinter::DmvrResult dr;
        done = m_predictor->predict(m_interPic, b, bufAt(0, 0), b.dmvr ? &dr : nullptr);
        if (done && b.dmvr && dr.numX > 0 && dr.numY > 0) {
            // Each 4x4 area keeps the refinement of its 16x16 subblock (for later pictures).
            int const n4w = w / 4, n4h = h / 4;
            int const sbW = std::max(w / dr.numX, 1), sbH = std::max(h / dr.numY, 1);
            m_refined.resize(size_t(n4w) * size_t(n4h) * 2);
            for (int j = 0; j < n4h; ++j)
                for (int i = 0; i < n4w; ++i) {
                    int const k = std::min(j * 4 / sbH, dr.numY - 1) * dr.numX + std::min(i * 4 / sbW, dr.numX - 1);
                    Mv const d = dr.delta[std::min(k, 63)];
                    m_refined[(size_t(j) * size_t(n4w) + size_t(i)) * 2] = m.cand.mv[0] + d;
                    m_refined[(size_t(j) * size_t(n4w) + size_t(i)) * 2 + 1] = m.cand.mv[1] - d;
                }
        }
        break;
    }
    case CuMotion::SubblockTemporal: {
        done = true;
        int const cols = w / m.sbW;
        for (int y = 0; y < h && done; y += m.sbH)
            for (int x = 0; x < w && done; x += m.sbW) {
                MotionCand const& c = m.sub[size_t(y / m.sbH) * size_t(cols) + size_t(x / m.sbW)];
                done = m_predictor->predict(m_interPic, block(c, x, y, m.sbW, m.sbH), bufAt(x, y));
            }
        break;
    }
    case CuMotion::Affine: {
        vvcinter::AffineBlock a;
        a.x = cu.x;
        a.y = cu.y;
        a.width = w;
        a.height = h;
        bool const prof = m_sps.prof && !m_sh->ph.profDisabled;
        for (int l = 0; l < 2; ++l) {
            if (!m.cand.uses(l))
                continue;
            m_affineMv[l].resize(m.sub.size());
            for (size_t k = 0; k < m.sub.size(); ++k)
                m_affineMv[l][k] = m.sub[k].mv[l];
            a.useList[l] = true;
            a.ref[l] = ref(l, m.cand.refIdx[l]);
            a.weights[l] = weights(l, m.cand.refIdx[l]);
            a.subblockMv[l] = m_affineMv[l].data();
            a.prof[l] = prof && m.profPossible[l];
            a.dHorX[l] = m.dHorX[l];
            a.dHorY[l] = m.dHorY[l];
            a.dVerX[l] = m.dVerX[l];
            a.dVerY[l] = m.dVerY[l];
        }
        a.bcwIdx = m.cand.interDir == 3 ? m.cand.bcwIdx : 0;
        a.chroma = m_chroma;
        done = m_predictor->predictAffine(m_interPic, a, bufAt(0, 0));
        break;
    }
    case CuMotion::Gpm: {
        vvcinter::GpmBlock g;
        g.x = cu.x;
        g.y = cu.y;
        g.width = w;
        g.height = h;
        g.splitIdx = m.gpmPartition;
        for (int k = 0; k < 2; ++k) {
            MotionCand const& c = m.gpmCand[k];
            int const l = c.uses(0) ? 0 : 1;
            g.mv[k] = c.mv[l];
            g.ref[k] = ref(l, c.refIdx[l]);
        }
        done = m_predictor->predictGpm(m_interPic, g, bufAt(0, 0));
        break;
    }
    }
    if (!done)
        return false;
    // With LMCS the luma prediction goes to the mapped domain the residual is coded in.
    if (m_lmcs)
        vvcinter::ForwardMapLuma(m_lmcsModel, m_unitPred[0].data(), w, w, h);
    return true;
}

void IntraPictureReconstructor::ciipBlend(CodingUnit const& cu)
{
    int const w = cu.width, h = cu.height;
    // The weight: from whether the left and the above neighbours are intra units.
    auto intraAt = [&](int x, int y) {
        MotionInfo const* nb = m_motion.available(x, y);
        return nb && nb->mode == PredMode::Intra && available(0, x, y, cu.x, cu.y);
    };
    int const wIntra = vvcinter::CiipWeight(intraAt(cu.x - 1, cu.y + h - 1), intraAt(cu.x + w - 1, cu.y - 1));
    PelUnitBuf const buf = m_pic.view();
    for (int c = 0; c < (m_chroma ? 3 : 1); ++c) {
        int const sub = c ? 1 : 0, cw = w >> sub, ch = h >> sub;
        IntraPlane plane{buf.planes[c].samples, buf.planes[c].stride, buf.planes[c].width, buf.planes[c].height};
        IntraPredParams p;
        p.predModeIntra = kPlanar;
        p.nTbW = p.nCbW = cw;
        p.nTbH = p.nCbH = ch;
        p.cIdx = c;
        p.bitDepth = m_sps.bitDepth;
        auto avail = [&](int x, int y) { return available(sub, x << sub, y << sub, cu.x, cu.y); };
        m_intraPred.assign(size_t(cw) * size_t(ch), 0);
        if (!PredictIntra(p, plane, cu.x >> sub, cu.y >> sub, avail, c ? 2 : 4, m_intraPred.data(), cw)) {
            fail("CIIP intra prediction failed");
            return;
        }
        vvcinter::CiipBlend(m_unitPred[c].data(), cw, m_intraPred.data(), cw, cw, ch, wIntra);
    }
}

void IntraPictureReconstructor::motionEdges()
{
    using namespace vvcdeblock;
    int const w4 = m_dbk.unitsW(), h4 = m_dbk.unitsH();
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
        for (int y4 = d == kEdgeHor ? 1 : 0; y4 < h4; ++y4)
            for (int x4 = d == kEdgeVer ? 1 : 0; x4 < w4; ++x4) {
                EdgeSegment& e = m_dbk.edge(EdgeDir(d), x4, y4);
                if (!(e.kind & kTransformEdgeY))
                    continue;
                strength(EdgeDir(d), x4, y4);
                // Next to subblock edges 8 samples away the coding unit's edge filters 5 at most.
                MotionInfo const& q = info(x4, y4);
                MotionInfo const& p = d == kEdgeVer ? info(x4 - 1, y4) : info(x4, y4 - 1);
                if (p.subblock)
                    e.maxLenP = std::min<uint8_t>(e.maxLenP, 5);
                if (q.subblock)
                    e.maxLenQ = std::min<uint8_t>(e.maxLenQ, 5);
            }
    // Subblock edges of affine and subblock temporal units on the 8x8 grid inside the unit:
    // 3 samples each side, 2 where a transform edge lies 8 samples away.
    auto transformEdge = [&](EdgeDir d, int x4, int y4) {
        return x4 >= 0 && y4 >= 0 && x4 < w4 && y4 < h4 && (m_dbk.edge(d, x4, y4).kind & kTransformEdgeY);
    };
    for (Rect const& r : m_subblockUnits) {
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
                    if (e.kind & kTransformEdgeY)
                        continue;
                    e.kind |= kPredictionEdge;
                    int const step = 2; // 8 samples in units of 4
                    bool const near = d == kEdgeVer ? transformEdge(dir, x4 - step, y4) || transformEdge(dir, x4 + step, y4)
                                                    : transformEdge(dir, x4, y4 - step) || transformEdge(dir, x4, y4 + step);
                    e.maxLenP = e.maxLenQ = near ? 2 : 3;
                    strength(dir, x4, y4);
                }
        }
    }
}
