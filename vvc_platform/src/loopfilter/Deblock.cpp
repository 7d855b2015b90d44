#include "loopfilter/Deblock.h"

#include <algorithm>
#include <cstdlib>

namespace vvcdeblock {

namespace {

// beta' for Q = 0..63 and tC' for Q = 0..65.
constexpr uint8_t kBetaTable[64] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
                                    6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 22, 24,
                                    26, 28, 30, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56,
                                    58, 60, 62, 64, 66, 68, 70, 72, 74, 76, 78, 80, 82, 84, 86, 88};

constexpr uint16_t kTcTable[66] = {0,  0,  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,  0,  0,
                                   0,  3,  4,   4,   4,   4,   5,   5,   5,   5,   7,   7,   8,   9,   10, 10, 11,
                                   13, 14, 15,  17,  19,  21,  24,  25,  29,  33,  36,  41,  45,  51,  57, 64, 71,
                                   80, 89, 100, 112, 125, 141, 157, 177, 198, 222, 250, 280, 314, 352, 395};

inline int Clip3(int lo, int hi, int v)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// One line of samples across an edge: q(i) = q_i, p(i) = p_i, counted away from the edge.
struct Line
{
    uint16_t* q0;
    ptrdiff_t o; // step away from the edge on the Q side
    int p(int i) const { return q0[-(i + 1) * o]; }
    int q(int i) const { return q0[i * o]; }
    void setP(int i, int v) const { q0[-(i + 1) * o] = uint16_t(v); }
    void setQ(int i, int v) const { q0[i * o] = uint16_t(v); }
};

// The luma filter lengths a side can have: 1, 2, 3, 5, 7.
int NormaliseLumaLength(int len)
{
    if (len <= 1)
        return 1;
    if (len >= 7)
        return 7;
    if (len >= 5)
        return 5;
    return len >= 3 ? 3 : 2;
}

// Shortens a side's length until the samples its decisions read (len + 1, at least 4) are inside
// the plane; -1 when not even the shortest filter fits.
int FitLength(int len, int available)
{
    while (len > 3 && len + 1 > available)
        len = len == 7 ? 5 : 3;
    return available >= 4 ? len : -1;
}

int SecondDiffP(Line const& l)
{
    return std::abs(l.p(2) - 2 * l.p(1) + l.p(0));
}
int SecondDiffQ(Line const& l)
{
    return std::abs(l.q(2) - 2 * l.q(1) + l.q(0));
}

// Decision for the strong filters on one line; `dpq` is twice that line's second differences.
bool StrongShortLine(Line const& l, int dpq, int beta, int tc)
{
    int const sp = std::abs(l.p(3) - l.p(0));
    int const sq = std::abs(l.q(0) - l.q(3));
    return sp + sq < (beta >> 3) && dpq < (beta >> 2) && std::abs(l.p(0) - l.q(0)) < ((5 * tc + 1) >> 1);
}

bool StrongLongLine(Line const& l, int dpq, int beta, int tc, int lenP, int lenQ, bool largeP, bool largeQ)
{
    int sp = std::abs(l.p(3) - l.p(0));
    int sq = std::abs(l.q(0) - l.q(3));
    if (largeP) {
        if (lenP == 7)
            sp = (sp + std::abs(l.p(4) - l.p(5) - l.p(6) + l.p(7)) + std::abs(l.p(3) - l.p(7)) + 1) >> 1;
        else
            sp = (sp + std::abs(l.p(3) - l.p(5)) + 1) >> 1;
    }
    if (largeQ) {
        if (lenQ == 7)
            sq = (sq + std::abs(l.q(4) - l.q(5) - l.q(6) + l.q(7)) + std::abs(l.q(3) - l.q(7)) + 1) >> 1;
        else
            sq = (sq + std::abs(l.q(3) - l.q(5)) + 1) >> 1;
    }
    return sp + sq < ((3 * beta) >> 5) && dpq < (beta >> 4) && std::abs(l.p(0) - l.q(0)) < ((5 * tc + 1) >> 1);
}

// Long-tap luma filter with lengths lenP, lenQ in {3, 5, 7}, not both 3.
void LongFilterLine(Line const& l, int lenP, int lenQ, int tc, bool writeP, bool writeQ)
{
    static constexpr int kCoef3[3] = {53, 32, 11}, kCoef5[5] = {58, 45, 32, 19, 6},
                         kCoef7[7] = {59, 50, 41, 32, 23, 14, 5};
    static constexpr int kClip3[3] = {6, 4, 2}, kClip5[5] = {6, 5, 4, 3, 2}, kClip7[7] = {6, 5, 4, 3, 2, 1, 1};
    auto coef = [](int len) { return len == 7 ? kCoef7 : (len == 5 ? kCoef5 : kCoef3); };
    auto clip = [](int len) { return len == 7 ? kClip7 : (len == 5 ? kClip5 : kClip3); };

    int p[8], q[8];
    for (int i = 0; i < 8; ++i) {
        p[i] = i <= lenP ? l.p(i) : 0;
        q[i] = i <= lenQ ? l.q(i) : 0;
    }
    int mid;
    if (lenP == lenQ && lenP == 5)
        mid = (2 * (p[0] + q[0] + p[1] + q[1] + p[2] + q[2]) + p[3] + q[3] + p[4] + q[4] + 8) >> 4;
    else if (lenP == lenQ) // 7 and 7
        mid = (2 * (p[0] + q[0]) + p[1] + q[1] + p[2] + q[2] + p[3] + q[3] + p[4] + q[4] + p[5] + q[5] + p[6] + q[6] +
               8) >>
              4;
    else if (std::min(lenP, lenQ) == 5) // 7 and 5
        mid = (2 * (p[0] + q[0] + p[1] + q[1]) + p[2] + q[2] + p[3] + q[3] + p[4] + q[4] + p[5] + q[5] + 8) >> 4;
    else if (std::max(lenP, lenQ) == 7) // 7 and 3: the long side is weighted towards the edge
    {
        int const* a = lenP == 7 ? p : q; // the side of length 7
        int const* b = lenP == 7 ? q : p;
        mid = (2 * a[0] + 3 * b[0] + a[1] + 3 * b[1] + 2 * b[2] + a[2] + a[3] + a[4] + a[5] + a[6] + 8) >> 4;
    } else // 5 and 3
        mid = (p[0] + q[0] + p[1] + q[1] + p[2] + q[2] + p[3] + q[3] + 4) >> 3;

    int const refP = (p[lenP - 1] + p[lenP] + 1) >> 1;
    int const refQ = (q[lenQ - 1] + q[lenQ] + 1) >> 1;
    if (writeP) {
        int const* f = coef(lenP);
        int const* t = clip(lenP);
        for (int i = 0; i < lenP; ++i) {
            int const c = (tc * t[i]) >> 1;
            l.setP(i, Clip3(p[i] - c, p[i] + c, (mid * f[i] + refP * (64 - f[i]) + 32) >> 6));
        }
    }
    if (writeQ) {
        int const* f = coef(lenQ);
        int const* t = clip(lenQ);
        for (int i = 0; i < lenQ; ++i) {
            int const c = (tc * t[i]) >> 1;
            l.setQ(i, Clip3(q[i] - c, q[i] + c, (mid * f[i] + refQ * (64 - f[i]) + 32) >> 6));
        }
    }
}

// Strong (three samples a side) and normal luma filters of one line.
void ShortFilterLine(Line const& l, bool strong, bool filterP1, bool filterQ1, int tc, int maxVal, bool writeP,
                     bool writeQ)
{
    int const p0 = l.p(0), p1 = l.p(1), p2 = l.p(2), p3 = l.p(3);
    int const q0 = l.q(0), q1 = l.q(1), q2 = l.q(2), q3 = l.q(3);
    if (strong) {
        if (writeP) {
            l.setP(0, Clip3(p0 - 3 * tc, p0 + 3 * tc, (p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3));
            l.setP(1, Clip3(p1 - 2 * tc, p1 + 2 * tc, (p2 + p1 + p0 + q0 + 2) >> 2));
            l.setP(2, Clip3(p2 - tc, p2 + tc, (2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3));
        }
        if (writeQ) {
            l.setQ(0, Clip3(q0 - 3 * tc, q0 + 3 * tc, (p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3));
            l.setQ(1, Clip3(q1 - 2 * tc, q1 + 2 * tc, (p0 + q0 + q1 + q2 + 2) >> 2));
            l.setQ(2, Clip3(q2 - tc, q2 + tc, (p0 + q0 + q1 + 3 * q2 + 2 * q3 + 4) >> 3));
        }
        return;
    }
    int delta = (9 * (q0 - p0) - 3 * (q1 - p1) + 8) >> 4;
    if (std::abs(delta) >= tc * 10)
        return;
    delta = Clip3(-tc, tc, delta);
    int const tc2 = tc >> 1;
    if (writeP) {
        l.setP(0, Clip3(0, maxVal, p0 + delta));
        if (filterP1)
            l.setP(1, Clip3(0, maxVal, p1 + Clip3(-tc2, tc2, (((p2 + p0 + 1) >> 1) - p1 + delta) >> 1)));
    }
    if (writeQ) {
        l.setQ(0, Clip3(0, maxVal, q0 - delta));
        if (filterQ1)
            l.setQ(1, Clip3(0, maxVal, q1 + Clip3(-tc2, tc2, (((q2 + q0 + 1) >> 1) - q1 - delta) >> 1)));
    }
}

// A luma edge segment: `lines` lines from `first`, each `lineStep` apart.
void FilterLumaSegment(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, int lines, int lenP, int lenQ, int bS, int qp,
                       SliceOffsets const& off, int bitDepth, bool writeP, bool writeQ)
{
    int const tc = DeriveTc(qp, bS, off.tcOffsetDiv2[0], bitDepth);
    int const beta = DeriveBeta(qp, off.betaOffsetDiv2[0], bitDepth);
    const Line l0{first, o};
    const Line l3{first + lineStep * (lines - 1), o};
    int const maxVal = (1 << bitDepth) - 1;

    int const dp0 = SecondDiffP(l0), dq0 = SecondDiffQ(l0);
    int const dp3 = SecondDiffP(l3), dq3 = SecondDiffQ(l3);
    bool const largeP = lenP > 3, largeQ = lenQ > 3;
    if (largeP || largeQ) {
        auto longP = [](Line const& l) { return std::abs(l.p(5) - 2 * l.p(4) + l.p(3)); };
        auto longQ = [](Line const& l) { return std::abs(l.q(5) - 2 * l.q(4) + l.q(3)); };
        int const dp0L = largeP ? (dp0 + longP(l0) + 1) >> 1 : dp0;
        int const dp3L = largeP ? (dp3 + longP(l3) + 1) >> 1 : dp3;
        int const dq0L = largeQ ? (dq0 + longQ(l0) + 1) >> 1 : dq0;
        int const dq3L = largeQ ? (dq3 + longQ(l3) + 1) >> 1 : dq3;
        if (dp0L + dq0L + dp3L + dq3L < beta &&
            StrongLongLine(l0, 2 * (dp0L + dq0L), beta, tc, lenP, lenQ, largeP, largeQ) &&
            StrongLongLine(l3, 2 * (dp3L + dq3L), beta, tc, lenP, lenQ, largeP, largeQ)) {
            int const nP = largeP ? lenP : 3, nQ = largeQ ? lenQ : 3;
            for (int k = 0; k < lines; ++k)
                LongFilterLine(Line{first + lineStep * k, o}, nP, nQ, tc, writeP, writeQ);
            return;
        }
    }
    if (dp0 + dq0 + dp3 + dq3 >= beta)
        return;
    int const sideThreshold = (beta + (beta >> 1)) >> 3;
    bool const filterP1 = lenP > 1 && lenQ > 1 && dp0 + dp3 < sideThreshold;
    bool const filterQ1 = lenP > 1 && lenQ > 1 && dq0 + dq3 < sideThreshold;
    bool const strong = lenP > 2 && lenQ > 2 && StrongShortLine(l0, 2 * (dp0 + dq0), beta, tc) &&
                        StrongShortLine(l3, 2 * (dp3 + dq3), beta, tc);
    for (int k = 0; k < lines; ++k)
        ShortFilterLine(Line{first + lineStep * k, o}, strong, filterP1, filterQ1, tc, maxVal, writeP, writeQ);
}

// A chroma edge segment. On a horizontal CTB boundary only two rows above the edge are read (p1
// stands in for p2 and p3) and only p0 is modified.
void FilterChromaSegment(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, int lines, int lenP, int lenQ, int bS,
                         int qp, int betaOffsetDiv2, int tcOffsetDiv2, int bitDepth, bool ctbBoundary, bool writeP,
                         bool writeQ)
{
    bool const large = lenP >= 3 && lenQ >= 3;
    if (bS != 2 && !(bS == 1 && large))
        return;
    int const tc = DeriveTc(qp, bS, tcOffsetDiv2, bitDepth);
    int const maxVal = (1 << bitDepth) - 1;
    auto sample = [ctbBoundary](Line const& l, int i) { return l.p(ctbBoundary && i > 1 ? 1 : i); };

    bool strong = false;
    if (large) {
        int const beta = DeriveBeta(qp, betaOffsetDiv2, bitDepth);
        auto dp = [&](Line const& l) { return std::abs(sample(l, 2) - 2 * sample(l, 1) + sample(l, 0)); };
        auto strongLine = [&](Line const& l, int dpq) {
            const int sp = std::abs(sample(l, 3) - sample(l, 0));
            const int sq = std::abs(l.q(0) - l.q(3));
            return sp + sq < (beta >> 3) && dpq < (beta >> 2) && std::abs(l.p(0) - l.q(0)) < ((5 * tc + 1) >> 1);
        };
        const Line l0{first, o};
        const Line l3{first + lineStep * (lines - 1), o};
        int const d0 = dp(l0) + SecondDiffQ(l0), d3 = dp(l3) + SecondDiffQ(l3);
        strong = d0 + d3 < beta && strongLine(l0, 2 * d0) && strongLine(l3, 2 * d3);
    }
    for (int k = 0; k < lines; ++k) {
        const Line l{first + lineStep * k, o};
        int const p0 = l.p(0), p1 = l.p(1), p2 = sample(l, 2), p3 = sample(l, 3);
        int const q0 = l.q(0), q1 = l.q(1), q2 = l.q(2), q3 = l.q(3);
        if (strong) {
            auto clipTc = [tc](int v, int f) { return Clip3(v - tc, v + tc, f); };
            if (writeP) {
                l.setP(0, clipTc(p0, (p3 + p2 + p1 + 2 * p0 + q0 + q1 + q2 + 4) >> 3));
                if (!ctbBoundary) {
                    l.setP(1, clipTc(p1, (2 * p3 + p2 + 2 * p1 + p0 + q0 + q1 + 4) >> 3));
                    l.setP(2, clipTc(p2, (3 * p3 + 2 * p2 + p1 + p0 + q0 + 4) >> 3));
                }
            }
            if (writeQ) {
                l.setQ(0, clipTc(q0, (p2 + p1 + p0 + 2 * q0 + q1 + q2 + q3 + 4) >> 3));
                l.setQ(1, clipTc(q1, (p1 + p0 + q0 + 2 * q1 + q2 + 2 * q3 + 4) >> 3));
                l.setQ(2, clipTc(q2, (p0 + q0 + q1 + 2 * q2 + 3 * q3 + 4) >> 3));
            }
        } else {
            int const delta = Clip3(-tc, tc, ((((q0 - p0) * 4) + p1 - q1 + 4) >> 3));
            if (writeP)
                l.setP(0, Clip3(0, maxVal, p0 + delta));
            if (writeQ)
                l.setQ(0, Clip3(0, maxVal, q0 - delta));
        }
    }
}

int SubWidth(int chromaFormatIdc)
{
    return chromaFormatIdc == 1 || chromaFormatIdc == 2 ? 2 : 1;
}
int SubHeight(int chromaFormatIdc)
{
    return chromaFormatIdc == 1 ? 2 : 1;
}

bool Consistent(DeblockMap const& m, DeblockPlane const planes[3])
{
    if (m.width <= 0 || m.height <= 0 || m.chromaFormatIdc < 0 || m.chromaFormatIdc > 3 || m.bitDepthY < 8 ||
        m.bitDepthY > 16 || m.bitDepthC < 8 || m.bitDepthC > 16 || m.ctbSizeY <= 0 || m.slices.empty())
        return false;
    const size_t n = size_t(m.unitsW()) * size_t(m.unitsH());
    if (m.units.size() != n || m.edges[0].size() != n || m.edges[1].size() != n)
        return false;
    int const numPlanes = m.chromaFormatIdc == 0 ? 1 : 3;
    for (int c = 0; c < numPlanes; ++c) {
        int const sw = c ? SubWidth(m.chromaFormatIdc) : 1, sh = c ? SubHeight(m.chromaFormatIdc) : 1;
        DeblockPlane const& pl = planes[c];
        if (!pl.samples || pl.width != (m.width + sw - 1) / sw || pl.height != (m.height + sh - 1) / sh ||
            pl.stride < pl.width)
            return false;
    }
    return true;
}

// The luma-adaptive QP offset of a luma edge segment from the level of its first and last line.
int LadfQpOffset(DeblockMap const& m, uint16_t const* q0, ptrdiff_t o, ptrdiff_t lastLine)
{
    if (m.ladfQpOffset.empty())
        return 0;
    int const level = (q0[-o] + q0[lastLine - o] + q0[0] + q0[lastLine]) >> 2;
    int offset = m.ladfLowestQpOffset;
    for (size_t i = 0; i < m.ladfQpOffset.size() && i < m.ladfLowerBound.size() && level > m.ladfLowerBound[i]; ++i)
        offset = m.ladfQpOffset[i];
    return offset;
}

void FilterLuma(DeblockMap const& m, DeblockPlane const& pl, EdgeDir dir, int x4, int y4)
{
    EdgeSegment const& e = m.edges[dir][size_t(y4) * size_t(m.unitsW()) + size_t(x4)];
    int const bS = std::min<int>(e.bs[0], 2);
    if (bS == 0)
        return;
    int const x = x4 * 4, y = y4 * 4;
    bool const ver = dir == kEdgeVer;
    int const px4 = ver ? x4 - 1 : x4, py4 = ver ? y4 : y4 - 1;
    BlockUnit const& uq = m.units[size_t(y4) * size_t(m.unitsW()) + size_t(x4)];
    BlockUnit const& up = m.units[size_t(py4) * size_t(m.unitsW()) + size_t(px4)];

    int lenP = NormaliseLumaLength(e.maxLenP), lenQ = NormaliseLumaLength(e.maxLenQ);
    if (!ver && y % m.ctbSizeY == 0)
        lenP = std::min(lenP, 3);
    lenP = FitLength(lenP, ver ? x : y);
    lenQ = FitLength(lenQ, ver ? pl.width - x : pl.height - y);
    int const lines = std::min(4, ver ? pl.height - y : pl.width - x);
    if (lenP < 0 || lenQ < 0 || lines <= 0)
        return;
    SliceOffsets const& off = m.slices[uq.slice < m.slices.size() ? uq.slice : 0];
    uint16_t* first = pl.samples + ptrdiff_t(y) * pl.stride + x;
    int const qp = ((up.qp[0] + uq.qp[0] + 1) >> 1) +
                   LadfQpOffset(m, first, ver ? 1 : pl.stride, (ver ? pl.stride : 1) * (lines - 1));
    FilterLumaSegment(first, ver ? 1 : pl.stride, ver ? pl.stride : 1, lines, lenP, lenQ, bS, qp, off, m.bitDepthY,
                      !(up.noFilter & 1), !(uq.noFilter & 1));
}

void FilterChroma(DeblockMap const& m, DeblockPlane const planes[3], EdgeDir dir, int x4, int y4)
{
    EdgeSegment const& e = m.edges[dir][size_t(y4) * size_t(m.unitsW()) + size_t(x4)];
    if (e.bs[1] == 0 && e.bs[2] == 0)
        return;
    bool const ver = dir == kEdgeVer;
    int const sw = SubWidth(m.chromaFormatIdc), sh = SubHeight(m.chromaFormatIdc);
    int const xc = x4 * 4 / sw, yc = y4 * 4 / sh;
    if ((ver ? xc : yc) % 8 != 0)
        return;
    int const px4 = ver ? x4 - 1 : x4, py4 = ver ? y4 : y4 - 1;
    BlockUnit const& uq = m.units[size_t(y4) * size_t(m.unitsW()) + size_t(x4)];
    BlockUnit const& up = m.units[size_t(py4) * size_t(m.unitsW()) + size_t(px4)];
    SliceOffsets const& off = m.slices[uq.slice < m.slices.size() ? uq.slice : 0];
    bool const ctbBoundary = !ver && (y4 * 4) % m.ctbSizeY == 0;
    int const lenP = e.maxLenCP >= 3 ? 3 : 1, lenQ = e.maxLenCQ >= 3 ? 3 : 1;

    for (int c = 1; c <= 2; ++c) {
        int const bS = std::min<int>(e.bs[c], 2);
        DeblockPlane const& pl = planes[c];
        int const lines = std::min(4 / (ver ? sh : sw), ver ? pl.height - yc : pl.width - xc);
        int const before = ver ? xc : yc, after = ver ? pl.width - xc : pl.height - yc;
        if (bS == 0 || lines <= 0 || before < 4 || after < 4)
            continue;
        int const qp = (up.qp[c] + uq.qp[c] + 1) >> 1;
        uint16_t* first = pl.samples + ptrdiff_t(yc) * pl.stride + xc;
        FilterChromaSegment(first, ver ? 1 : pl.stride, ver ? pl.stride : 1, lines, lenP, lenQ, bS, qp,
                            off.betaOffsetDiv2[c], off.tcOffsetDiv2[c], m.bitDepthC, ctbBoundary,
                            !(up.noFilter & (1 << c)), !(uq.noFilter & (1 << c)));
    }
}

} // namespace

void DeblockMap::reset(int pictureWidth, int pictureHeight)
{
    width = std::max(0, pictureWidth);
    height = std::max(0, pictureHeight);
    const size_t n = size_t(unitsW()) * size_t(unitsH());
    units.assign(n, BlockUnit{});
    edges[0].assign(n, EdgeSegment{});
    edges[1].assign(n, EdgeSegment{});
}

bool DeblockEdges(DeblockMap const& map, DeblockPlane const planes[3], EdgeDir dir, int unitRowBegin, int unitRowEnd,
                  int unitColBegin, int unitColEnd)
{
    if ((dir != kEdgeVer && dir != kEdgeHor) || !Consistent(map, planes))
        return false;
    int const y4Begin = std::max(0, unitRowBegin), y4End = std::min(map.unitsH(), unitRowEnd);
    int const x4Begin = std::max(0, unitColBegin), x4End = std::min(map.unitsW(), unitColEnd);
    bool const chroma = map.chromaFormatIdc != 0;
    for (int y4 = std::max(y4Begin, dir == kEdgeHor ? 1 : 0); y4 < y4End; ++y4) {
        for (int x4 = std::max(x4Begin, dir == kEdgeVer ? 1 : 0); x4 < x4End; ++x4) {
            FilterLuma(map, planes[0], dir, x4, y4);
            if (chroma)
                FilterChroma(map, planes, dir, x4, y4);
        }
    }
    return true;
}

bool DeblockPicture(DeblockMap const& map, DeblockPlane const planes[3])
{
    if (!Consistent(map, planes))
        return false;
    DeblockEdges(map, planes, kEdgeVer, 0, map.unitsH());
    DeblockEdges(map, planes, kEdgeHor, 0, map.unitsH());
    return true;
}

void LumaMaxFilterLengths(int sizeP, int sizeQ, uint8_t& maxLenP, uint8_t& maxLenQ)
{
    if (sizeP <= 4 || sizeQ <= 4) {
        maxLenP = maxLenQ = 1;
        return;
    }
    maxLenP = sizeP >= 32 ? 7 : 3;
    maxLenQ = sizeQ >= 32 ? 7 : 3;
}

void ChromaMaxFilterLengths(int sizeP, int sizeQ, uint8_t& maxLenP, uint8_t& maxLenQ)
{
    maxLenP = maxLenQ = (sizeP >= 8 && sizeQ >= 8) ? 3 : 1;
}

int SubblockEdgeLength(int offset, int size, bool transformEdge4Away, bool transformEdge8Away)
{
    if (transformEdge4Away)
        return 1;
    return offset == 8 || offset + 8 == size || transformEdge8Away ? 2 : 3;
}

int BoundaryStrength(BsSide const& p, BsSide const& q, int cIdx, bool transformEdge, bool predictionEdge, int motionBs)
{
    if (cIdx < 0 || cIdx > 2)
        return 0;
    if (p.intra || q.intra) {
        int const b = cIdx == 0 ? 0 : 1;
        return p.intra && q.intra && p.bdpcm[b] && q.bdpcm[b] ? 0 : 2;
    }
    if (p.ciip || q.ciip)
        return 2;
    if (transformEdge) {
        bool const coded = p.cbf[cIdx] || q.cbf[cIdx] || (cIdx > 0 && (p.jointCbCr || q.jointCbCr));
        if (coded)
            return 1;
    }
    if (cIdx == 0 && predictionEdge)
        return motionBs ? 1 : 0;
    return 0;
}

void AddTransformBlock(DeblockMap& map, TransformBlock const& b)
{
    int const w4 = map.unitsW(), h4 = map.unitsH();
    if (b.w <= 0 || b.h <= 0 || b.x < 0 || b.y < 0 || b.x >= map.width || b.y >= map.height ||
        map.units.size() != size_t(w4) * size_t(h4) || map.edges[0].size() != map.units.size() ||
        map.edges[1].size() != map.units.size())
        return;
    int const ch = b.chroma ? 1 : 0;
    int const sw = b.chroma ? SubWidth(map.chromaFormatIdc) : 1, sh = b.chroma ? SubHeight(map.chromaFormatIdc) : 1;
    const uint8_t tbW = uint8_t(std::min(255, b.w / sw)), tbH = uint8_t(std::min(255, b.h / sh));
    const uint16_t mask = b.chroma ? uint16_t(kIntraC | kBdpcmC | kCbfCb | kCbfCr | kJointCbCr)
                                   : uint16_t(kIntra | kBdpcmY | kCiip | kCbfY);
    uint16_t info = b.intra ? uint16_t(b.chroma ? kIntraC : kIntra) : 0;
    if (b.chroma)
        info |= (b.bdpcm ? kBdpcmC : 0) | (b.cbf[0] ? kCbfCb : 0) | (b.cbf[1] ? kCbfCr : 0) |
                (b.jointCbCr ? kJointCbCr : 0);
    else
        info |= (b.bdpcm ? kBdpcmY : 0) | (b.ciip ? kCiip : 0) | (b.cbf[0] ? kCbfY : 0);
    const uint8_t noFilterBits = b.chroma ? 6 : 1;

    int const x4a = b.x / 4, y4a = b.y / 4;
    int const x4b = std::min(w4, (std::min(b.x + b.w, map.width) + 3) / 4);
    int const y4b = std::min(h4, (std::min(b.y + b.h, map.height) + 3) / 4);
    for (int y4 = y4a; y4 < y4b; ++y4)
        for (int x4 = x4a; x4 < x4b; ++x4) {
            BlockUnit& u = map.unit(x4, y4);
            u.info = uint16_t((u.info & ~mask) | info);
            u.tbW[ch] = tbW;
            u.tbH[ch] = tbH;
            u.slice = b.slice;
            u.noFilter = uint8_t(b.noFilter ? (u.noFilter | noFilterBits) : (u.noFilter & ~noFilterBits));
            if (b.chroma) {
                u.qp[1] = int8_t(Clip3(-64, 63, b.qp[0]));
                u.qp[2] = int8_t(Clip3(-64, 63, b.qp[1]));
            } else
                u.qp[0] = int8_t(Clip3(-64, 63, b.qp[0]));
        }
    const uint8_t kind = b.chroma ? kTransformEdgeC : kTransformEdgeY;
    if (b.filterLeft && b.x > 0 && b.x % 4 == 0)
        for (int y4 = y4a; y4 < y4b; ++y4)
            map.edge(kEdgeVer, x4a, y4).kind |= uint8_t(kind | (b.codingEdgeLeft ? kCodingEdge : 0));
    if (b.filterTop && b.y > 0 && b.y % 4 == 0)
        for (int x4 = x4a; x4 < x4b; ++x4)
            map.edge(kEdgeHor, x4, y4a).kind |= uint8_t(kind | (b.codingEdgeTop ? kCodingEdge : 0));
}

void DeriveEdges(DeblockMap& map)
{
    DeriveEdges(map, 0, map.unitsH());
}

void DeriveEdges(DeblockMap& map, int unitRowBegin, int unitRowEnd)
{
    int const w4 = map.unitsW(), h4 = std::min(map.unitsH(), unitRowEnd);
    if (map.units.size() != size_t(w4) * size_t(map.unitsH()) || map.edges[0].size() != map.units.size() ||
        map.edges[1].size() != map.units.size())
        return;
    // A CIIP unit gives strength 2 on coding block edges only, not on the edges between the
    // transform blocks of a unit larger than the largest transform.
    auto side = [](BlockUnit const& u, bool chroma, bool codingEdge) {
        BsSide s;
        s.intra = u.info & (chroma ? kIntraC : kIntra);
        s.bdpcm[0] = u.info & kBdpcmY;
        s.bdpcm[1] = u.info & kBdpcmC;
        s.ciip = codingEdge && (u.info & kCiip);
        s.cbf[0] = u.info & kCbfY;
        s.cbf[1] = u.info & kCbfCb;
        s.cbf[2] = u.info & kCbfCr;
        s.jointCbCr = u.info & kJointCbCr;
        return s;
    };
    for (int d = 0; d < 2; ++d)
        for (int y4 = std::max(unitRowBegin, d == kEdgeHor ? 1 : 0); y4 < h4; ++y4)
            for (int x4 = d == kEdgeVer ? 1 : 0; x4 < w4; ++x4) {
                EdgeSegment& e = map.edge(EdgeDir(d), x4, y4);
                if (!(e.kind & (kTransformEdgeY | kTransformEdgeC)))
                    continue;
                BlockUnit const& uq = map.unit(x4, y4);
                BlockUnit const& up = d == kEdgeVer ? map.unit(x4 - 1, y4) : map.unit(x4, y4 - 1);
                bool const prediction = e.kind & kPredictionEdge, coding = e.kind & kCodingEdge;
                if (e.kind & kTransformEdgeY) {
                    e.bs[0] = uint8_t(BoundaryStrength(side(up, false, coding), side(uq, false, coding), 0, true, prediction));
                    if (e.maxLenP == 0 && e.maxLenQ == 0)
                        LumaMaxFilterLengths(d == kEdgeVer ? up.tbW[0] : up.tbH[0],
                                             d == kEdgeVer ? uq.tbW[0] : uq.tbH[0], e.maxLenP, e.maxLenQ);
                }
                if (e.kind & kTransformEdgeC) {
                    const BsSide p = side(up, true, coding), q = side(uq, true, coding);
                    e.bs[1] = uint8_t(BoundaryStrength(p, q, 1, true, prediction));
                    e.bs[2] = uint8_t(BoundaryStrength(p, q, 2, true, prediction));
                    if (e.maxLenCP == 0 && e.maxLenCQ == 0)
                        ChromaMaxFilterLengths(d == kEdgeVer ? up.tbW[1] : up.tbH[1],
                                               d == kEdgeVer ? uq.tbW[1] : uq.tbH[1], e.maxLenCP, e.maxLenCQ);
                }
            }
}

int BetaTable(int q)
{
    return kBetaTable[Clip3(0, 63, q)];
}
int TcTable(int q)
{
    return kTcTable[Clip3(0, 65, q)];
}

int DeriveBeta(int qp, int betaOffsetDiv2, int bitDepth)
{
    return BetaTable(qp + 2 * betaOffsetDiv2) * (1 << (bitDepth - 8));
}

int DeriveTc(int qp, int bS, int tcOffsetDiv2, int bitDepth)
{
    int const t = TcTable(qp + 2 * (bS - 1) + 2 * tcOffsetDiv2);
    return bitDepth < 10 ? (t + (1 << (9 - bitDepth))) >> (10 - bitDepth) : t * (1 << (bitDepth - 10));
}

} // namespace vvcdeblock
