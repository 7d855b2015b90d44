// Translational motion: temporal candidates from the collocated field, the regular merge list
// (spatial, temporal, history, pairwise average, zero), MMVD, GPM, AMVP with AMVR and SMVD, and
// the unit-level derivation that dispatches to these and to the affine and subblock modes.
#include "inter/MotionDerivation.h"

#include <algorithm>
#include <cstdlib>

namespace vvcinter {

MotionInfo const* InterNeighbour(MotionGrid const& grid, int x, int y)
{
    MotionInfo const* nb = grid.available(x, y);
    return nb && nb->isInter() ? nb : nullptr;
}

MotionInfo const* MergeNeighbour(SliceMotion const& s, MotionGrid const& grid, int x, int y, int xn, int yn)
{
    int const mer = s.log2ParMrgLevel;
    if ((x >> mer) == (xn >> mer) && (y >> mer) == (yn >> mer))
        return nullptr;
    return InterNeighbour(grid, xn, yn);
}

bool ColVector(SliceMotion const& s, ColMotion const& col, int l, int refIdx, bool sbFlag, Mv& mv)
{
    if (!col.interDir || !s.colField || refIdx < 0 || refIdx >= s.refs.num[l] || refIdx >= kMaxRefs)
        return false;
    bool const has0 = col.interDir & 1, has1 = (col.interDir >> 1) & 1;
    int listCol = 0;
    if (sbFlag) {
        // Subblock temporal: the same list, or with no backward reference the other one.
        if ((col.interDir >> l) & 1)
            listCol = l;
        else if (s.noBackwardPred && ((col.interDir >> (1 - l)) & 1))
            listCol = 1 - l;
        else
            return false;
    } else if (!has0) {
        listCol = 1;
    } else if (!has1) {
        listCol = 0;
    } else {
        listCol = s.noBackwardPred ? l : (s.colFromL0 ? 1 : 0);
    }
    bool const lt = s.refs.longTerm[l][refIdx];
    if (lt != col.longTerm[listCol])
        return false;
    int64_t const colPocDiff = int64_t(s.colField->poc) - col.refPoc[listCol];
    int64_t const currPocDiff = int64_t(s.currPoc) - s.refs.poc[l][refIdx];
    Mv const mvCol = col.mv[listCol];
    if (lt || colPocDiff == currPocDiff || colPocDiff == 0)
        mv = ClipMv(mvCol);
    else
        mv = ScaleMv(mvCol, int(std::max<int64_t>(std::min<int64_t>(currPocDiff, 127), -128)),
                     int(std::max<int64_t>(std::min<int64_t>(colPocDiff, 127), -128)));
    return true;
}

// The temporal candidate reads the collocated entry at the bottom-right when it is in the same
// CTU row, inside the bounds and gives a vector, else the one at the centre; none when the slice
// has no temporal candidates or the unit is too small.
bool TemporalMv(SliceMotion const& s, int x, int y, int w, int h, int l, int refIdx, Mv& mv)
{
    if (!s.colField || w * h <= 32)
        return false;
    int const right = s.rightBound >= 0 ? s.rightBound : s.picWidth - 1;
    int const bottom = s.bottomBound >= 0 ? s.bottomBound : s.picHeight - 1;
    int const xBr = x + w, yBr = y + h;
    if ((y >> s.log2CtuSize) == (yBr >> s.log2CtuSize) && yBr <= bottom && xBr <= right &&
        xBr < s.colField->lumaWidth() && yBr < s.colField->lumaHeight() &&
        ColVector(s, s.colField->at((xBr >> 3) << 3, (yBr >> 3) << 3), l, refIdx, false, mv))
        return true;
    int const xC = x + (w >> 1), yC = y + (h >> 1);
    if (xC >= s.colField->lumaWidth() || yC >= s.colField->lumaHeight())
        return false;
    return ColVector(s, s.colField->at((xC >> 3) << 3, (yC >> 3) << 3), l, refIdx, false, mv);
}

static void Normalise(MotionCand& c)
{
    for (int l = 0; l < 2; ++l)
        if (!c.uses(l)) {
            c.refIdx[l] = -1;
            c.mv[l] = Mv();
        }
}

int MergeList(SliceMotion const& s, MotionGrid const& grid, Hmvp const& hmvp, int x, int y, int w, int h,
              MotionCand* list, int count)
{
    count = std::min(count, std::max(s.maxNumMergeCand, 1));
    int n = 0;
    auto spatial = [&](int xn, int yn) { return MergeNeighbour(s, grid, x, y, xn, yn); };
    // B1 first, then A1 (dropped when it repeats B1), B0, A0, B2.
    MotionInfo const* b1 = spatial(x + w - 1, y - 1);
    MotionInfo const* a1 = spatial(x - 1, y + h - 1);
    MotionInfo const* b0 = spatial(x + w, y - 1);
    MotionInfo const* a0 = spatial(x - 1, y + h);
    MotionInfo const* b2 = spatial(x - 1, y - 1);
    auto same = [](MotionInfo const* p, MotionInfo const* q) { return p && q && p->m.sameMotion(q->m); };
    // Each candidate is compared with the neighbours themselves, whether or not these were
    // pruned: A0 equal to an A1 that was dropped as equal to B1 is dropped too.
    MotionInfo const* order[5] = {b1, same(b1, a1) ? nullptr : a1, same(b1, b0) ? nullptr : b0,
                                  same(a1, a0) ? nullptr : a0, same(a1, b2) || same(b1, b2) ? nullptr : b2};
    int const spatialMax = (order[0] && order[1] && order[2] && order[3]) ? 4 : 5;
    for (int k = 0; k < spatialMax && n < count; ++k)
        if (order[k])
            list[n++] = order[k]->m;
    if (n < count && s.colField) {
        MotionCand col;
        Mv mv;
        if (TemporalMv(s, x, y, w, h, 0, 0, mv)) {
            col.interDir |= 1;
            col.refIdx[0] = 0;
            col.mv[0] = mv;
        }
        if (s.bSlice && TemporalMv(s, x, y, w, h, 1, 0, mv)) {
            col.interDir |= 2;
            col.refIdx[1] = 0;
            col.mv[1] = mv;
        }
        if (col.interDir)
            list[n++] = col;
    }
    int const maxNum = std::max(s.maxNumMergeCand, 1);
    for (int k = 0; k < hmvp.size() && n < count && n < maxNum - 1; ++k) {
        MotionCand const& c = hmvp.newest(k);
        // The two newest are compared with the A1 and B1 candidates.
        if (k < 2 && ((a1 && a1->m.sameMotion(c)) || (b1 && b1->m.sameMotion(c))))
            continue;
        list[n++] = c;
    }
    if (n < count && n > 1) {
        MotionCand const& p0 = list[0];
        MotionCand const& p1 = list[1];
        MotionCand avg;
        for (int l = 0; l < 2; ++l) {
            if (p0.uses(l) && p1.uses(l)) {
                avg.refIdx[l] = p0.refIdx[l];
                avg.mv[l] = RoundMv(p0.mv[l] + p1.mv[l], 1, 0);
            } else if (p0.uses(l)) {
                avg.refIdx[l] = p0.refIdx[l];
                avg.mv[l] = p0.mv[l];
            } else if (p1.uses(l)) {
                avg.refIdx[l] = p1.refIdx[l];
                avg.mv[l] = p1.mv[l];
            } else {
                continue;
            }
            avg.interDir |= uint8_t(1 << l);
        }
        avg.hpelIf = p0.hpelIf == p1.hpelIf && p0.hpelIf;
        if (avg.interDir) {
            Normalise(avg);
            list[n++] = avg;
        }
    }
    int const numRef = s.bSlice ? std::min(s.refs.num[0], s.refs.num[1]) : s.refs.num[0];
    for (int zeroIdx = 0; n < count; ++zeroIdx) {
        MotionCand z;
        int const r = zeroIdx < numRef ? zeroIdx : 0;
        z.interDir = s.bSlice ? 3 : 1;
        z.refIdx[0] = int8_t(r);
        z.refIdx[1] = int8_t(s.bSlice ? r : -1);
        list[n++] = z;
    }
    return n;
}

// 8x4 and 4x8 units predict from one list only.
static void RestrictBi(MotionCand& c, int w, int h)
{
    if (c.interDir == 3 && w + h == 12) {
        c.interDir = 1;
        c.refIdx[1] = -1;
        c.mv[1] = Mv();
        c.bcwIdx = kBcwDefault;
    }
}

Mv MmvdOffset(SliceMotion const& s, int distanceIdx, int directionIdx)
{
    int const dist = (1 << std::min(std::max(distanceIdx, 0), 7)) << (s.mmvdFullpelOnly ? 2 : 0);
    int const step = dist << 2; // quarter samples to sixteenths
    switch (directionIdx & 3) {
    case 0:
        return Mv(step, 0);
    case 1:
        return Mv(-step, 0);
    case 2:
        return Mv(0, step);
    default:
        return Mv(0, -step);
    }
}

void ApplyMmvd(SliceMotion const& s, MotionCand& c, Mv offset)
{
    if (c.interDir == 3) {
        int64_t const d0 = int64_t(s.currPoc) - s.refs.poc[0][c.refIdx[0]];
        int64_t const d1 = int64_t(s.currPoc) - s.refs.poc[1][c.refIdx[1]];
        bool const shortTerm = !s.refs.longTerm[0][c.refIdx[0]] && !s.refs.longTerm[1][c.refIdx[1]];
        auto clip = [](int64_t v) { return int(std::min<int64_t>(std::max<int64_t>(v, -128), 127)); };
        Mv off0 = offset, off1 = offset;
        if (d0 != d1) {
            bool const l0Far = std::llabs(d0) >= std::llabs(d1);
            Mv const base = offset;
            Mv other;
            if (shortTerm)
                other = l0Far ? ScaleMv(base, clip(d1), clip(d0)) : ScaleMv(base, clip(d0), clip(d1));
            else
                other = ((d0 > 0) == (d1 > 0)) ? base : Mv(-base.x, -base.y);
            if (l0Far)
                off1 = other;
            else
                off0 = other;
        }
        c.mv[0] = WrapMv(c.mv[0] + off0);
        c.mv[1] = WrapMv(c.mv[1] + off1);
    } else {
        int const l = c.uses(0) ? 0 : 1;
        c.mv[l] = WrapMv(c.mv[l] + offset);
    }
}

// The uni-prediction motion of GPM part candidate idx: the list by the index's parity, or the
// other one where the candidate does not use it. GPM predicts with the regular filters, so the
// candidate's half-sample filter choice is not kept (nor passed on to later merge candidates).
static MotionCand GpmPart(MotionCand const& c, int idx)
{
    int l = idx & 1;
    if (!c.uses(l))
        l = 1 - l;
    MotionCand p;
    p.interDir = uint8_t(1 << l);
    p.refIdx[l] = c.refIdx[l];
    p.mv[l] = c.mv[l];
    return p;
}

MotionCand GpmStoredMotion(CuMotion const& m, int w, int h, int x4, int y4)
{
    static int const kDis[32] = {8,  8,  8,  8,  4,  4,  2,  1,  0, -1, -2, -4, -4, -8, -8, -8,
                                 -8, -8, -8, -8, -4, -4, -2, -1, 0, 1,  2,  4,  4,  8,  8,  8};
    int const angle = m.gpmAngle & 31, distance = m.gpmDistance;
    int const dispX = angle, dispY = (angle + 8) & 31;
    bool const flip = angle >= 13 && angle <= 27;
    bool const shiftHor = !(angle % 16 == 8 || (angle % 16 != 0 && h >= w));
    int offX = -w >> 1, offY = -h >> 1;
    if (!shiftHor)
        offY += angle < 16 ? (distance * h) >> 3 : -((distance * h) >> 3);
    else
        offX += angle < 16 ? (distance * w) >> 3 : -((distance * w) >> 3);
    int const motionIdx = (((4 * x4 + offX) * 2) + 5) * kDis[dispX] + (((4 * y4 + offY) * 2) + 5) * kDis[dispY];
    MotionCand const& a = m.gpmCand[0];
    MotionCand const& b = m.gpmCand[1];
    if (std::abs(motionIdx) < 32) {
        if (a.interDir != b.interDir) {
            MotionCand bi;
            bi.interDir = 3;
            for (MotionCand const* p : {&a, &b}) {
                int const l = p->uses(0) ? 0 : 1;
                bi.refIdx[l] = p->refIdx[l];
                bi.mv[l] = p->mv[l];
            }
            return bi;
        }
        return b;
    }
    // Part A lies where the sample weights favour it: on the negative side of the line when the
    // split is flipped (angles 13 to 27), on the positive side otherwise.
    bool const partA = motionIdx <= 0 ? flip : !flip;
    return partA ? a : b;
}

Mv AmvpPredictor(SliceMotion const& s, MotionGrid const& grid, Hmvp const& hmvp, int x, int y, int w, int h, int l,
                 int refIdx, int mvpIdx, int amvrShift)
{
    if (refIdx < 0 || refIdx >= s.refs.num[l] || refIdx >= kMaxRefs)
        return Mv();
    int32_t const target = s.refs.poc[l][refIdx];
    // The vector of a neighbour (or history entry) that predicts from the target picture, from
    // list l first, then the other list.
    auto pick = [&](MotionCand const& c, Mv& mv) {
        for (int k = 0; k < 2; ++k) {
            int const ll = k ? 1 - l : l;
            int const r = c.refIdx[ll];
            if (c.uses(ll) && r >= 0 && r < s.refs.num[ll] && s.refs.poc[ll][r] == target &&
                s.refs.longTerm[ll][r] == s.refs.longTerm[l][refIdx]) {
                mv = RoundToPrecision(c.mv[ll], amvrShift);
                return true;
            }
        }
        return false;
    };
    auto group = [&](std::initializer_list<std::pair<int, int>> pos, Mv& mv) {
        for (auto const& p : pos) {
            MotionInfo const* nb = InterNeighbour(grid, p.first, p.second);
            if (nb && pick(nb->m, mv))
                return true;
        }
        return false;
    };
    Mv list[2];
    int n = 0;
    Mv a, b;
    bool const hasA = group({{x - 1, y + h}, {x - 1, y + h - 1}}, a);
    bool const hasB = group({{x + w, y - 1}, {x + w - 1, y - 1}, {x - 1, y - 1}}, b);
    if (hasA)
        list[n++] = a;
    if (hasB && !(hasA && a == b))
        list[n++] = b;
    if (n < 2) {
        Mv col;
        if (TemporalMv(s, x, y, w, h, l, refIdx, col))
            list[n++] = RoundToPrecision(col, amvrShift);
    }
    // The four oldest history entries, oldest first; an entry gives its vector of each list that
    // predicts from the target picture (list l first).
    int const oldest = hmvp.size() - 1;
    for (int k = oldest; k >= 0 && k > oldest - 4 && n < 2; --k) {
        MotionCand const& c = hmvp.newest(k);
        for (int t = 0; t < 2 && n < 2; ++t) {
            int const ll = t ? 1 - l : l;
            int const r = c.refIdx[ll];
            if (c.uses(ll) && r >= 0 && r < s.refs.num[ll] && s.refs.poc[ll][r] == target &&
                s.refs.longTerm[ll][r] == s.refs.longTerm[l][refIdx])
                list[n++] = RoundToPrecision(c.mv[ll], amvrShift);
        }
    }
    while (n < 2)
        list[n++] = Mv();
    return list[mvpIdx & 1];
}

bool DeriveCuMotion(SliceMotion const& s, MotionGrid const& grid, Hmvp const& hmvp, vvcslice::CodingUnit const& cu,
                    CuMotion& out)
{
    using vvcslice::MergeKind;
    out = CuMotion();
    out.mode = PredMode::Inter;
    vvcslice::InterUnitData const& d = cu.inter;
    int const x = cu.x, y = cu.y, w = cu.width, h = cu.height;
    auto refOk = [&s](MotionCand const& c) {
        for (int l = 0; l < 2; ++l)
            if (c.uses(l) && (c.refIdx[l] < 0 || c.refIdx[l] >= s.refs.num[l] || c.refIdx[l] >= kMaxRefs))
                return false;
        return c.interDir != 0;
    };
    switch (d.merge) {
    case MergeKind::Subblock:
        return SubblockMerge(s, grid, x, y, w, h, d.mergeIdx, out) && refOk(out.cand);
    case MergeKind::Gpm: {
        MotionCand list[6];
        int const i0 = d.gpmCand[0], i1 = d.gpmCand[1];
        if (i0 < 0 || i1 < 0 || i0 >= 6 || i1 >= 6)
            return false;
        int const n = MergeList(s, grid, hmvp, x, y, w, h, list, std::max(i0, i1) + 1);
        if (i0 >= n || i1 >= n)
            return false;
        out.kind = CuMotion::Gpm;
        out.gpmPartition = d.gpmSplitIdx;
        out.gpmCand[0] = GpmPart(list[i0], i0);
        out.gpmCand[1] = GpmPart(list[i1], i1);
        out.cand = out.gpmCand[0];
        return refOk(out.gpmCand[0]) && refOk(out.gpmCand[1]);
    }
    case MergeKind::Regular:
    case MergeKind::Mmvd:
    case MergeKind::Ciip: {
        bool const mmvd = d.merge == MergeKind::Mmvd;
        int const idx = mmvd ? d.mmvdCandFlag : d.mergeIdx;
        MotionCand list[6];
        if (idx < 0 || idx >= 6)
            return false;
        int const n = MergeList(s, grid, hmvp, x, y, w, h, list, idx + 1);
        if (idx >= n)
            return false;
        MotionCand c = list[idx];
        // The offset comes first: an 8x4 MMVD unit keeps list 0 with the offset as a bi-predicted
        // unit would give it (scaled when list 0 is the nearer reference).
        if (mmvd)
            ApplyMmvd(s, c, MmvdOffset(s, d.mmvdDistanceIdx, d.mmvdDirectionIdx));
        RestrictBi(c, w, h);
        out.cand = c;
        out.ciip = d.merge == MergeKind::Ciip;
        return refOk(c);
    }
    case MergeKind::None:
        break;
    }
    if (d.affine)
        return AffineAmvp(s, grid, cu, out) && refOk(out.cand);
    // AMVP: per list the predictor at the AMVR precision plus the difference.
    MotionCand c;
    c.interDir = InterDirOf(d);
    c.hpelIf = d.halfPelFilter;
    c.bcwIdx = uint8_t(c.interDir == 3 ? d.bcwIdx : kBcwDefault);
    for (int l = 0; l < 2; ++l) {
        if (!c.uses(l))
            continue;
        int const r = d.refIdx[l];
        if (r < 0 || r >= s.refs.num[l] || r >= kMaxRefs)
            return false;
        Mv const p = AmvpPredictor(s, grid, hmvp, x, y, w, h, l, r, d.mvpFlag[l] ? 1 : 0, d.amvrShift);
        c.refIdx[l] = int8_t(r);
        c.mv[l] = WrapMv(p + MvdOf(d, l, 0));
    }
    out.cand = c;
    return refOk(c);
}

void UpdateHistory(SliceMotion const& s, Hmvp& hmvp, vvcslice::CodingUnit const& cu, CuMotion const& m)
{
    // Inside a merge estimation region only the unit that ends it at the bottom right enters.
    int const mer = s.log2ParMrgLevel;
    bool const endsRegion = ((cu.x + cu.width) >> mer) > (cu.x >> mer) && ((cu.y + cu.height) >> mer) > (cu.y >> mer);
    if (m.mode == PredMode::Inter && m.kind == CuMotion::Translational && endsRegion)
        hmvp.push(m.cand);
}

} // namespace vvcinter
