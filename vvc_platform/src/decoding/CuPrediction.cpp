#include "decoding/CuPrediction.h"

#include <algorithm>

namespace vvcinter {
namespace {

int ClipComponent(int v) { return std::min(std::max(v, kMvMin), kMvMax); }

// List 0 before and list 1 after the current picture at the same distance, both short-term.
bool SymmetricShortTerm(SlicePrediction const& s, MotionCand const& c)
{
    if (c.interDir != 3 || c.refIdx[0] < 0 || c.refIdx[1] < 0 || c.refIdx[0] >= s.numRefs[0] ||
        c.refIdx[1] >= s.numRefs[1])
        return false;
    int const r0 = c.refIdx[0], r1 = c.refIdx[1];
    if (s.longTerm[0][r0] || s.longTerm[1][r1])
        return false;
    return s.currPoc - s.refPoc[0][r0] == s.refPoc[1][r1] - s.currPoc;
}

template <typename Block>
void Place(Block& b, int x, int y, int w, int h)
{
    b.x = x;
    b.y = y;
    b.width = w;
    b.height = h;
}

bool DefaultWeights(SlicePrediction const& s, MotionCand const& c)
{
    return c.bcwIdx == kBcwDefault && !(s.weighted && (s.weightSignalled[0][c.refIdx[0]] || s.weightSignalled[1][c.refIdx[1]]));
}

} // namespace

void SetSliceReferences(SlicePrediction& s, vvcsyntax::SeqParameterSet const& sps,
                        vvcsyntax::PicParameterSet const& pps, SliceRefs const& refs, int currPoc,
                        ScalingWindow const (*windows)[kMaxRefs])
{
    s.pic = InterPictureOf(sps, pps);
    s.currPoc = currPoc;
    s.weighted = refs.weighted;
    ScalingWindow const current = ScalingWindowOf(sps, pps);
    for (int l = 0; l < 2; l++) {
        s.numRefs[l] = std::min(std::min(refs.numActive[l], int(refs.list[l].size())), kMaxRefs);
        for (int i = 0; i < s.numRefs[l]; i++) {
            RefPicEntry const& e = refs.list[l][size_t(i)];
            s.refPoc[l][i] = e.poc;
            s.longTerm[l][i] = e.longTerm;
            s.refs[l][i] = RefPicture();
            if (e.pic && !e.pic->samples.empty()) {
                PaddedPelStorage const& p = e.pic->samples;
                ScalingWindow w = current;
                if (windows)
                    w = windows[l][i];
                else if (e.pic->seqSet && e.pic->picSet)
                    w = ScalingWindowOf(*e.pic->seqSet, *e.pic->picSet); // the window it was coded with
                else if (p.width(0) != pps.picWidth || p.height(0) != pps.picHeight)
                    w = ScalingWindow{0, 0, p.width(0), p.height(0)};
                s.refs[l][i] = RefPictureOf(p, w);
            }
            s.weightSignalled[l][i] = false;
            if (WeightsOf(refs, l, i, s.weights[l][i]) && size_t(i) < refs.weights[l].size())
                s.weightSignalled[l][i] = refs.weights[l][size_t(i)].lumaFlag || refs.weights[l][size_t(i)].chromaFlag;
        }
    }
}

bool CuPredictor::dmvrApplies(SlicePrediction const& s, vvcslice::CodingUnit const& u, CuMotion const& m)
{
    bool const regularMerge = u.inter.merge == vvcslice::MergeKind::Regular;
    return s.dmvr && regularMerge && m.kind == CuMotion::Translational && !m.ciip && SymmetricShortTerm(s, m.cand) &&
           DefaultWeights(s, m.cand) && u.width >= 8 && u.height >= 8 && u.width * u.height >= 128;
}

bool CuPredictor::bdofApplies(SlicePrediction const& s, vvcslice::CodingUnit const& u, CuMotion const& m)
{
    return s.bdof && m.kind == CuMotion::Translational && !m.ciip && !u.inter.symMvd &&
           SymmetricShortTerm(s, m.cand) && DefaultWeights(s, m.cand) && u.width >= 8 && u.height >= 8 && u.width * u.height >= 128;
}

bool CuPredictor::reference(SlicePrediction const& s, MotionCand const& c, int l, RefPicture const*& ref,
                            WeightParams const*& weights) const
{
    ref = nullptr;
    weights = nullptr;
    if (!c.uses(l))
        return true;
    int const r = c.refIdx[l];
    if (r < 0 || r >= s.numRefs[l] || !s.refs[l][r].planes[0].samples)
        return false;
    ref = &s.refs[l][r];
    if (s.weighted)
        weights = &s.weights[l][r];
    return true;
}

bool CuPredictor::predict(SlicePrediction const& s, vvcslice::CodingUnit const& u, CuMotion const& m, PredBuf const& dst,
                          DmvrResult* dmvr, PredBuf const* intra, int wIntra)
{
    if (dmvr)
        *dmvr = DmvrResult();
    if (m.mode != PredMode::Inter)
        return false;
    int const w = u.width, h = u.height;
    bool ok = true;
    switch (m.kind) {
    case CuMotion::Translational: {
        InterBlock b;
        Place(b, u.x, u.y, w, h);
        for (int l = 0; l < 2; l++) {
            b.useList[l] = m.cand.uses(l);
            b.mv[l] = m.cand.mv[l];
            ok = ok && reference(s, m.cand, l, b.ref[l], b.weights[l]);
        }
        b.altHalfPel = m.cand.hpelIf;
        // A combined inter/intra unit averages its two lists with equal weights; the index it
        // inherited stays in its motion for later merge candidates.
        b.bcwIdx = m.ciip ? kBcwDefault : m.cand.bcwIdx;
        b.dmvr = dmvrApplies(s, u, m);
        b.bdof = bdofApplies(s, u, m);
        ok = ok && m_pred.predict(s.pic, b, dst, dmvr);
        break;
    }
    case CuMotion::Affine: {
        AffineBlock b;
        Place(b, u.x, u.y, w, h);
        size_t const n = size_t(w / 4) * size_t(h / 4);
        if (m.sub.size() < n)
            return false;
        for (int l = 0; l < 2; l++) {
            b.useList[l] = m.cand.uses(l);
            ok = ok && reference(s, m.cand, l, b.ref[l], b.weights[l]);
            if (!b.useList[l])
                continue;
            m_sub[l].resize(n);
            for (size_t k = 0; k < n; k++)
                m_sub[l][k] = m.sub[k].mv[l];
            b.subblockMv[l] = m_sub[l].data();
            b.prof[l] = s.prof && m.profPossible[l];
            b.dHorX[l] = m.dHorX[l];
            b.dHorY[l] = m.dHorY[l];
            b.dVerX[l] = m.dVerX[l];
            b.dVerY[l] = m.dVerY[l];
        }
        b.bcwIdx = m.cand.bcwIdx;
        ok = ok && m_pred.predictAffine(s.pic, b, dst);
        break;
    }
    case CuMotion::SubblockTemporal: {
        int const sw = std::max(4, m.sbW), sh = std::max(4, m.sbH);
        int const cols = w / sw, rows = h / sh;
        if (m.sub.size() < size_t(cols) * size_t(rows))
            return false;
        int const sx = ChromaShiftX(s.pic.chromaFormat), sy = ChromaShiftY(s.pic.chromaFormat);
        for (int j = 0; j < rows && ok; j++)
            for (int i = 0; i < cols && ok; i++) {
                MotionCand const& c = m.sub[size_t(j) * size_t(cols) + size_t(i)];
                InterBlock b;
                Place(b, u.x + i * sw, u.y + j * sh, sw, sh);
                for (int l = 0; l < 2; l++) {
                    b.useList[l] = c.uses(l);
                    b.mv[l] = c.mv[l];
                    ok = ok && reference(s, c, l, b.ref[l], b.weights[l]);
                }
                PredBuf sub;
                for (int k = 0; k < 3; k++) {
                    int const ox = k ? (i * sw) >> sx : i * sw, oy = k ? (j * sh) >> sy : j * sh;
                    sub.samples[k] = dst.samples[k] ? dst.samples[k] + oy * dst.stride[k] + ox : nullptr;
                    sub.stride[k] = dst.stride[k];
                }
                ok = ok && m_pred.predict(s.pic, b, sub);
            }
        break;
    }
    case CuMotion::Gpm: {
        GpmBlock b;
        Place(b, u.x, u.y, w, h);
        b.splitIdx = m.gpmPartition;
        for (int p = 0; p < 2; p++) {
            MotionCand const& c = m.gpmCand[p];
            int const l = c.uses(0) ? 0 : 1;
            WeightParams const* unused = nullptr;
            b.mv[p] = c.mv[l];
            ok = ok && c.uses(l) && reference(s, c, l, b.ref[p], unused);
        }
        ok = ok && m_pred.predictGpm(s.pic, b, dst);
        break;
    }
    }
    if (!ok)
        return false;
    if (s.lmcs && dst.samples[0])
        ForwardMapLuma(*s.lmcs, dst.samples[0], dst.stride[0], w, h);
    if (intra && m.ciip) {
        int const sx = ChromaShiftX(s.pic.chromaFormat), sy = ChromaShiftY(s.pic.chromaFormat);
        for (int c = 0; c < (s.pic.chromaFormat == CHROMA_400 ? 1 : 3); c++)
            if (dst.samples[c] && intra->samples[c] && (c == 0 || CiipBlendsChroma(w >> sx)))
                CiipBlend(dst.samples[c], dst.stride[c], intra->samples[c], intra->stride[c], c ? w >> sx : w,
                          c ? h >> sy : h, wIntra);
    }
    return true;
}

void RefinedMvs(CuMotion const& m, int w, int h, DmvrResult const& dmvr, Mv (*out)[2])
{
    int const cols = w / 4, rows = h / 4;
    int const sbW = dmvr.numX > 0 ? w / dmvr.numX : w, sbH = dmvr.numY > 0 ? h / dmvr.numY : h;
    for (int j = 0; j < rows; j++)
        for (int i = 0; i < cols; i++) {
            Mv d;
            if (dmvr.numX > 0 && dmvr.numY > 0)
                d = dmvr.delta[((j * 4) / sbH) * dmvr.numX + (i * 4) / sbW];
            Mv* o = out[j * cols + i];
            o[0] = Mv(ClipComponent(m.cand.mv[0].x + d.x), ClipComponent(m.cand.mv[0].y + d.y));
            o[1] = Mv(ClipComponent(m.cand.mv[1].x - d.x), ClipComponent(m.cand.mv[1].y - d.y));
        }
}

} // namespace vvcinter
