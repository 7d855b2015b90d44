// Subblock motion: the subblock merge list (subblock temporal, inherited and constructed affine,
// zero), affine AMVP, and the subblock vectors of an affine unit from its control points.
#include "inter/MotionDerivation.h"

#include <algorithm>
#include <cstdlib>

namespace vvcinter {

namespace {

int Log2(int v)
{
    int n = 0;
    while ((1 << (n + 1)) <= v)
        ++n;
    return n;
}

Mv RoundClip7(int64_t x, int64_t y)
{
    auto r = [](int64_t v) {
        int64_t const t = (v + 64 - (v >= 0 ? 1 : 0)) >> 7;
        return int32_t(std::min<int64_t>(std::max<int64_t>(t, kMvMin), kMvMax));
    };
    return Mv(r(x), r(y));
}

// An affine model: the vector at the origin (scaled by 128) and its change per sample.
struct Model
{
    int64_t hor = 0, ver = 0, dHorX = 0, dVerX = 0, dHorY = 0, dVerY = 0;
    Mv at(int64_t dx, int64_t dy) const
    {
        return RoundClip7(hor + dHorX * dx + dHorY * dy, ver + dVerX * dx + dVerY * dy);
    }
};

Model ModelOf(Mv const cp[3], bool sixParam, int w, int h)
{
    Model m;
    int const lw = Log2(w), lh = Log2(h);
    m.hor = int64_t(cp[0].x) * 128;
    m.ver = int64_t(cp[0].y) * 128;
    m.dHorX = int64_t(cp[1].x - cp[0].x) * (int64_t(1) << (7 - lw));
    m.dVerX = int64_t(cp[1].y - cp[0].y) * (int64_t(1) << (7 - lw));
    if (sixParam) {
        m.dHorY = int64_t(cp[2].x - cp[0].x) * (int64_t(1) << (7 - lh));
        m.dVerY = int64_t(cp[2].y - cp[0].y) * (int64_t(1) << (7 - lh));
    } else {
        m.dHorY = -m.dVerX;
        m.dVerY = m.dHorX;
    }
    return m;
}

// Control points of the unit (x, y, w, h) inherited from the affine neighbour unit `a`, list l.
// A neighbour in the CTU row above gives its model from the vectors of its bottom 4x4 row
// (what a line buffer keeps), as four parameters.
void InheritCp(MotionGrid const& grid, AffineUnit const& a, int l, int log2Ctu, int x, int y, int w, int h, Mv cp[3])
{
    Model m;
    int const yBottom = a.y + a.h;
    if ((yBottom & ((1 << log2Ctu) - 1)) == 0 && yBottom == y) {
        Mv const left = grid.at(a.x, yBottom - 1).m.mv[l];
        Mv const right = grid.at(a.x + a.w - 1, yBottom - 1).m.mv[l];
        int const lw = Log2(a.w);
        m.hor = int64_t(left.x) * 128;
        m.ver = int64_t(left.y) * 128;
        m.dHorX = int64_t(right.x - left.x) * (int64_t(1) << (7 - lw));
        m.dVerX = int64_t(right.y - left.y) * (int64_t(1) << (7 - lw));
        m.dHorY = -m.dVerX;
        m.dVerY = m.dHorX;
        // The model's origin is the neighbour's bottom-left corner, on the unit's top row.
        cp[0] = m.at(x - a.x, 0);
        cp[1] = m.at(x + w - a.x, 0);
        cp[2] = m.at(x - a.x, h);
        return;
    }
    m = ModelOf(a.cp[l], a.sixParam, a.w, a.h);
    cp[0] = m.at(x - a.x, y - a.y);
    cp[1] = m.at(x + w - a.x, y - a.y);
    cp[2] = m.at(x - a.x, y + h - a.y);
}

// The neighbour positions of the affine candidates of the unit (x, y, w, h), in groups: for the
// inherited candidates (corners false) the left group (A0, A1) and the above group (B0, B1, B2);
// for the constructed ones the corners top-left (B2, B3, A2), top-right (B1, B0) and bottom-left
// (A1, A0). take(g, xn, yn) is called on the positions of each group g in order until it returns
// true.
template <class Take> void ScanNeighbours(bool corners, int x, int y, int w, int h, Take take)
{
    using Pos = std::pair<int, int>;
    Pos const inherited[2][3] = {{{x - 1, y + h}, {x - 1, y + h - 1}},
                                 {{x + w, y - 1}, {x + w - 1, y - 1}, {x - 1, y - 1}}};
    Pos const corner[3][3] = {{{x - 1, y - 1}, {x, y - 1}, {x - 1, y}},
                              {{x + w - 1, y - 1}, {x + w, y - 1}},
                              {{x - 1, y + h - 1}, {x - 1, y + h}}};
    int const inheritedCount[2] = {2, 3}, cornerCount[3] = {3, 2, 2};
    Pos const(*groups)[3] = corners ? corner : inherited;
    int const* count = corners ? cornerCount : inheritedCount;
    for (int g = 0; g < (corners ? 3 : 2); ++g)
        for (int i = 0; i < count[g]; ++i)
            if (take(g, groups[g][i].first, groups[g][i].second))
                break;
}

} // namespace

bool AffineSubblockMvs(Mv const cp[3], bool sixParam, int w, int h, bool bi, Mv* sub, int params[4])
{
    Model const m = ModelOf(cp, sixParam, w, h);
    params[0] = int(m.dHorX);
    params[1] = int(m.dHorY);
    params[2] = int(m.dVerX);
    params[3] = int(m.dVerY);
    // Memory bandwidth limit: a model that spreads a block's reference too far uses the vector
    // at the unit's centre for every subblock.
    int64_t const a = 4 * (2048 + m.dHorX), b = 4 * m.dHorY, c = 4 * m.dVerX, d = 4 * (2048 + m.dVerY);
    auto span = [](int64_t p, int64_t q) {
        int64_t const mx = std::max<int64_t>(0, std::max(p, std::max(q, p + q)));
        int64_t const mn = std::min<int64_t>(0, std::min(p, std::min(q, p + q)));
        return ((mx - mn) >> 11) + 9;
    };
    auto span1 = [](int64_t p) { return ((std::max<int64_t>(0, p) - std::min<int64_t>(0, p)) >> 11) + 9; };
    bool fallback = true;
    if (bi) {
        if (span(a, b) * span(c, d) <= 225)
            fallback = false;
    } else if (span1(a) * span1(c) <= 165 && span1(b) * span1(d) <= 165) {
        fallback = false;
    }
    int const cols = w >> 2, rows = h >> 2;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i)
            sub[j * cols + i] = fallback ? m.at(w >> 1, h >> 1) : m.at(2 + 4 * i, 2 + 4 * j);
    return fallback;
}

// The subblock vectors and PROF conditions of an affine unit whose cand and cp are set.
static void FinishAffine(CuMotion& out, int w, int h)
{
    out.kind = CuMotion::Affine;
    out.sbW = out.sbH = 4;
    int const cols = w >> 2, rows = h >> 2;
    out.sub.assign(size_t(cols) * size_t(rows), out.cand);
    std::vector<Mv> mvs(out.sub.size());
    for (int l = 0; l < 2; ++l) {
        if (!out.cand.uses(l))
            continue;
        int p[4];
        bool const fallback = AffineSubblockMvs(out.cp[l], out.sixParam, w, h, out.cand.interDir == 3, mvs.data(), p);
        out.dHorX[l] = p[0];
        out.dHorY[l] = p[1];
        out.dVerX[l] = p[2];
        out.dVerY[l] = p[3];
        bool const still = out.cp[l][1] == out.cp[l][0] && (!out.sixParam || out.cp[l][2] == out.cp[l][0]);
        out.profPossible[l] = !fallback && !still;
        for (size_t k = 0; k < mvs.size(); ++k)
            out.sub[k].mv[l] = mvs[k];
    }
    out.cand.mv[0] = out.sub.empty() ? Mv() : out.sub[0].mv[0];
    out.cand.mv[1] = out.sub.empty() ? Mv() : out.sub[0].mv[1];
}

// The subblock temporal candidate: the collocated motion displaced by the left neighbour's
// vector, per 8x8 subblock.
static bool SubblockTemporal(SliceMotion const& s, MotionGrid const& grid, int x, int y, int w, int h, CuMotion& out)
{
    if (!s.sbtmvp || !s.colField || w < 8 || h < 8)
        return false;
    MotionField const& col = *s.colField;
    Mv temp;
    if (MotionInfo const* a1 = MergeNeighbour(s, grid, x, y, x - 1, y + h - 1)) {
        for (int l = 0; l < (s.bSlice ? 2 : 1); ++l) {
            int const r = a1->m.refIdx[l];
            if (a1->m.uses(l) && r >= 0 && r < s.refs.num[l] && s.refs.poc[l][r] == col.poc) {
                temp = a1->m.mv[l];
                break;
            }
        }
    }
    // The displacement in whole samples, rounded to the nearest (halves toward zero).
    temp = RoundMv(temp, 4, 0);
    int const ctb = 1 << s.log2CtuSize;
    int const xCtb = (x >> s.log2CtuSize) << s.log2CtuSize, yCtb = (y >> s.log2CtuSize) << s.log2CtuSize;
    int const right = std::min(s.rightBound >= 0 ? s.rightBound : s.picWidth - 1, col.lumaWidth() - 1);
    int const bottom = std::min(s.bottomBound >= 0 ? s.bottomBound : s.picHeight - 1, col.lumaHeight() - 1);
    auto colAt = [&](int xs, int ys) -> ColMotion const& {
        int const xc = std::min(std::max(xs + temp.x, xCtb), std::min(right, xCtb + ctb + 3));
        int const yc = std::min(std::max(ys + temp.y, yCtb), std::min(bottom, yCtb + ctb - 1));
        return col.at((xc >> 3) << 3, (yc >> 3) << 3);
    };
    int const lists = s.bSlice ? 2 : 1;
    MotionCand ctr;
    ColMotion const& c = colAt(x + w / 2, y + h / 2);
    if (!c.interDir)
        return false;
    for (int l = 0; l < lists; ++l) {
        Mv mv;
        if (ColVector(s, c, l, 0, true, mv)) {
            ctr.interDir |= uint8_t(1 << l);
            ctr.refIdx[l] = 0;
            ctr.mv[l] = mv;
        }
    }
    if (!ctr.interDir)
        return false;
    out.kind = CuMotion::SubblockTemporal;
    out.cand = ctr;
    out.sbW = out.sbH = 8;
    int const cols = w >> 3, rows = h >> 3;
    out.sub.assign(size_t(cols) * size_t(rows), ctr);
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            ColMotion const& e = colAt(x + i * 8 + 4, y + j * 8 + 4);
            if (!e.interDir)
                continue;
            MotionCand sb;
            for (int l = 0; l < lists; ++l) {
                Mv mv;
                if (ColVector(s, e, l, 0, true, mv)) {
                    sb.interDir |= uint8_t(1 << l);
                    sb.refIdx[l] = 0;
                    sb.mv[l] = mv;
                }
            }
            if (sb.interDir)
                out.sub[size_t(j) * size_t(cols) + size_t(i)] = sb;
        }
    return true;
}

bool SubblockMerge(SliceMotion const& s, MotionGrid const& grid, int x, int y, int w, int h, int idx, CuMotion& out)
{
    int const maxNum = s.maxNumSubblockMergeCand;
    if (idx < 0 || idx >= maxNum || w < 8 || h < 8)
        return false;
    int n = 0;
    if (SubblockTemporal(s, grid, x, y, w, h, out)) {
        if (n++ == idx)
            return true;
        out = CuMotion();
    }
    auto emit = [&](MotionCand const& c, bool sixParam, Mv const cp[2][3]) {
        if (n++ != idx)
            return false;
        out = CuMotion();
        out.cand = c;
        out.sixParam = sixParam;
        std::copy(&cp[0][0], &cp[0][0] + 6, &out.cp[0][0]);
        FinishAffine(out, w, h);
        return true;
    };
    // Zero candidates fill the list, also where the subblock temporal one is the only mode.
    auto zeroCandidates = [&] {
        MotionCand z;
        z.interDir = s.bSlice ? 3 : 1;
        z.refIdx[0] = 0;
        z.refIdx[1] = int8_t(s.bSlice ? 0 : -1);
        Mv const zero[2][3];
        while (n <= idx)
            if (emit(z, false, zero))
                return true;
        return false;
    };
    if (!s.affine)
        return zeroCandidates();
    // Inherited: the first affine neighbour of A0, A1, then of B0, B1, B2.
    bool done = false;
    ScanNeighbours(false, x, y, w, h, [&](int, int xn, int yn) {
        MotionInfo const* nb = MergeNeighbour(s, grid, x, y, xn, yn);
        if (done || !nb || nb->affine < 0 || size_t(nb->affine) >= grid.affineUnits().size())
            return done;
        AffineUnit const& a = grid.affineUnits()[size_t(nb->affine)];
        Mv cp[2][3];
        for (int l = 0; l < 2; ++l)
            if (nb->m.uses(l))
                InheritCp(grid, a, l, s.log2CtuSize, x, y, w, h, cp[l]);
        done = emit(nb->m, a.sixParam, cp);
        return true;
    });
    if (done)
        return true;
    // Constructed from the corners: top-left (B2, B3, A2), top-right (B1, B0), bottom-left (A1,
    // A0) and the temporal bottom-right.
    MotionCand corner[4];
    bool has[4] = {};
    ScanNeighbours(true, x, y, w, h, [&](int k, int xn, int yn) {
        if (MotionInfo const* nb = MergeNeighbour(s, grid, x, y, xn, yn)) {
            corner[k] = nb->m;
            has[k] = true;
        }
        return has[k];
    });
    if (s.colField) {
        int const right = s.rightBound >= 0 ? s.rightBound : s.picWidth - 1;
        int const bottom = s.bottomBound >= 0 ? s.bottomBound : s.picHeight - 1;
        int const xBr = x + w, yBr = y + h;
        if ((y >> s.log2CtuSize) == (yBr >> s.log2CtuSize) && xBr <= right && yBr <= bottom &&
            xBr < s.colField->lumaWidth() && yBr < s.colField->lumaHeight()) {
            ColMotion const& e = s.colField->at((xBr >> 3) << 3, (yBr >> 3) << 3);
            for (int l = 0; l < (s.bSlice ? 2 : 1); ++l) {
                Mv mv;
                if (ColVector(s, e, l, 0, false, mv)) {
                    corner[3].interDir |= uint8_t(1 << l);
                    corner[3].refIdx[l] = 0;
                    corner[3].mv[l] = mv;
                }
            }
            has[3] = corner[3].interDir != 0;
        }
    }
    static int const kCombos[6][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}, {0, 1, -1}, {0, 2, -1}};
    int const lw = Log2(w), lh = Log2(h);
    for (int k = s.sixParamAffine ? 0 : 4; k < 6; ++k) {
        int const* cmb = kCombos[k];
        int const count = cmb[2] < 0 ? 2 : 3;
        bool ok = true;
        for (int i = 0; i < count; ++i)
            ok = ok && has[cmb[i]];
        if (!ok)
            continue;
        MotionCand c;
        Mv cp[2][3];
        for (int l = 0; l < 2; ++l) {
            bool same = true;
            for (int i = 0; i < count; ++i)
                same = same && corner[cmb[i]].uses(l) && corner[cmb[i]].refIdx[l] == corner[cmb[0]].refIdx[l];
            if (!same)
                continue;
            c.interDir |= uint8_t(1 << l);
            c.refIdx[l] = corner[cmb[0]].refIdx[l];
            Mv const* v[4] = {&corner[0].mv[l], &corner[1].mv[l], &corner[2].mv[l], &corner[3].mv[l]};
            switch (k) {
            case 0:
                cp[l][0] = *v[0], cp[l][1] = *v[1], cp[l][2] = *v[2];
                break;
            case 1:
                cp[l][0] = *v[0], cp[l][1] = *v[1], cp[l][2] = ClipMv(*v[3] + *v[0] - *v[1]);
                break;
            case 2:
                cp[l][0] = *v[0], cp[l][2] = *v[2], cp[l][1] = ClipMv(*v[3] + *v[0] - *v[2]);
                break;
            case 3:
                cp[l][1] = *v[1], cp[l][2] = *v[2], cp[l][0] = ClipMv(*v[1] + *v[2] - *v[3]);
                break;
            case 4:
                cp[l][0] = *v[0], cp[l][1] = *v[1];
                break;
            default: {
                cp[l][0] = *v[0];
                cp[l][2] = *v[2];
                int const sh = 7 + lw - lh;
                int64_t const x1 = int64_t(v[0]->x) * 128 + int64_t(v[2]->y - v[0]->y) * (int64_t(1) << sh);
                int64_t const y1 = int64_t(v[0]->y) * 128 - int64_t(v[2]->x - v[0]->x) * (int64_t(1) << sh);
                cp[l][1] = RoundClip7(x1, y1);
                break;
            }
            }
        }
        if (!c.interDir)
            continue;
        c.bcwIdx = c.interDir == 3 ? corner[cmb[0]].bcwIdx : kBcwDefault;
        if (emit(c, count == 3, cp))
            return true;
    }
    return zeroCandidates();
}

bool AffineAmvp(SliceMotion const& s, MotionGrid const& grid, vvcslice::CodingUnit const& cu, CuMotion& out)
{
    vvcslice::InterUnitData const& d = cu.inter;
    int const x = cu.x, y = cu.y, w = cu.width, h = cu.height;
    out = CuMotion();
    out.sixParam = d.affine6;
    MotionCand& c = out.cand;
    c.interDir = InterDirOf(d);
    c.bcwIdx = uint8_t(c.interDir == 3 ? d.bcwIdx : kBcwDefault);
    for (int l = 0; l < 2; ++l) {
        if (!c.uses(l))
            continue;
        int const refIdx = d.refIdx[l];
        if (refIdx < 0 || refIdx >= s.refs.num[l] || refIdx >= kMaxRefs)
            return false;
        c.refIdx[l] = int8_t(refIdx);
        int32_t const target = s.refs.poc[l][refIdx];
        bool const targetLt = s.refs.longTerm[l][refIdx];
        // The list of a neighbour that predicts from the target picture (l first), -1 if none.
        auto listTo = [&](MotionCand const& m) {
            for (int k = 0; k < 2; ++k) {
                int const ll = k ? 1 - l : l;
                int const r = m.refIdx[ll];
                if (m.uses(ll) && r >= 0 && r < s.refs.num[ll] && s.refs.poc[ll][r] == target &&
                    s.refs.longTerm[ll][r] == targetLt)
                    return ll;
            }
            return -1;
        };
        auto round = [&](Mv v) { return RoundToPrecision(v, d.amvrShift); };
        Mv list[2][3];
        int n = 0;
        ScanNeighbours(false, x, y, w, h, [&](int, int xn, int yn) {
            MotionInfo const* nb = InterNeighbour(grid, xn, yn);
            if (!nb || nb->affine < 0 || size_t(nb->affine) >= grid.affineUnits().size())
                return false;
            int const ll = listTo(nb->m);
            if (ll < 0)
                return false;
            Mv cp[3];
            InheritCp(grid, grid.affineUnits()[size_t(nb->affine)], ll, s.log2CtuSize, x, y, w, h, cp);
            for (int k = 0; k < 3; ++k)
                list[n][k] = round(cp[k]);
            ++n;
            return true;
        });
        // Constructed from the corner neighbours predicting from the target picture.
        Mv cpv[3];
        bool has[3] = {};
        ScanNeighbours(true, x, y, w, h, [&](int k, int xn, int yn) {
            MotionInfo const* nb = InterNeighbour(grid, xn, yn);
            int const ll = nb ? listTo(nb->m) : -1;
            if (ll >= 0) {
                cpv[k] = round(nb->m.mv[ll]);
                has[k] = true;
            }
            return has[k];
        });
        if (n < 2 && has[0] && has[1] && (!d.affine6 || has[2])) {
            list[n][0] = cpv[0];
            list[n][1] = cpv[1];
            list[n][2] = cpv[2];
            ++n;
        }
        // Then single corners, each for all control points: bottom-left, top-right, top-left.
        for (int k = 2; k >= 0 && n < 2; --k)
            if (has[k]) {
                list[n][0] = list[n][1] = list[n][2] = cpv[k];
                ++n;
            }
        if (n < 2) {
            Mv col;
            if (TemporalMv(s, x, y, w, h, l, refIdx, col)) {
                list[n][0] = list[n][1] = list[n][2] = round(col);
                ++n;
            }
        }
        while (n < 2) {
            list[n][0] = list[n][1] = list[n][2] = Mv();
            ++n;
        }
        // The differences of the second and third control points are coded relative to the first.
        Mv const* p = list[d.mvpFlag[l] ? 1 : 0];
        for (int k = 0; k < 3; ++k)
            out.cp[l][k] = WrapMv(p[k] + MvdOf(d, l, k) + (k ? MvdOf(d, l, 0) : Mv()));
        if (!d.affine6) {
            // A four-parameter unit's third control point follows from the first two.
            Model const m = ModelOf(out.cp[l], false, w, h);
            out.cp[l][2] = m.at(0, h);
        }
    }
    FinishAffine(out, w, h);
    return true;
}

} // namespace vvcinter
