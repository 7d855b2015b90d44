#include "loopfilter/Deblock.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace vvcdeblock {

// Deblock_avx2.cpp, and the weights and clipping factors it shares with the long filter here:
// [lengths 3, 5, 7][sample i of the side].
extern int const kLongFilterCoef[3][7];
extern int const kLongFilterClip[3][7];
void LumaShort4Avx2(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, LumaShortFilter const& f);
void LumaLong4Avx2(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, LumaLongFilter const& f);

int const kLongFilterCoef[3][7] = {{53, 32, 11}, {58, 45, 32, 19, 6}, {59, 50, 41, 32, 23, 14, 5}};
int const kLongFilterClip[3][7] = {{6, 4, 2}, {6, 5, 4, 3, 2}, {6, 5, 4, 3, 2, 1, 1}};

namespace {

std::atomic<bool> gAllowVector{true};

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
void LongFilterLine(Line const& l, LumaLongFilter const& lf)
{
    int const lenP = lf.lenP, lenQ = lf.lenQ, tc = lf.tc;
    auto coef = [](int len) { return kLongFilterCoef[(len - 3) / 2]; };
    auto clip = [](int len) { return kLongFilterClip[(len - 3) / 2]; };

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
    if (lf.writeP) {
        int const* f = coef(lenP);
        int const* t = clip(lenP);
        for (int i = 0; i < lenP; ++i) {
            int const c = (tc * t[i]) >> 1;
            l.setP(i, Clip3(p[i] - c, p[i] + c, (mid * f[i] + refP * (64 - f[i]) + 32) >> 6));
        }
    }
    if (lf.writeQ) {
        int const* f = coef(lenQ);
        int const* t = clip(lenQ);
        for (int i = 0; i < lenQ; ++i) {
            int const c = (tc * t[i]) >> 1;
            l.setQ(i, Clip3(q[i] - c, q[i] + c, (mid * f[i] + refQ * (64 - f[i]) + 32) >> 6));
        }
    }
}

// Strong (three samples a side) and normal luma filters of one line.
void ShortFilterLine(Line const& l, LumaShortFilter const& f)
{
    int const tc = f.tc, maxVal = f.maxVal;
    int const p0 = l.p(0), p1 = l.p(1), p2 = l.p(2), p3 = l.p(3);
    int const q0 = l.q(0), q1 = l.q(1), q2 = l.q(2), q3 = l.q(3);
    if (f.strong) {
        if (f.writeP) {
            l.setP(0, Clip3(p0 - 3 * tc, p0 + 3 * tc, (p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3));
            l.setP(1, Clip3(p1 - 2 * tc, p1 + 2 * tc, (p2 + p1 + p0 + q0 + 2) >> 2));
            l.setP(2, Clip3(p2 - tc, p2 + tc, (2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3));
        }
        if (f.writeQ) {
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
    if (f.writeP) {
        l.setP(0, Clip3(0, maxVal, p0 + delta));
        if (f.filterP1)
            l.setP(1, Clip3(0, maxVal, p1 + Clip3(-tc2, tc2, (((p2 + p0 + 1) >> 1) - p1 + delta) >> 1)));
    }
    if (f.writeQ) {
        l.setQ(0, Clip3(0, maxVal, q0 - delta));
        if (f.filterQ1)
            l.setQ(1, Clip3(0, maxVal, q1 + Clip3(-tc2, tc2, (((q2 + q0 + 1) >> 1) - q1 - delta) >> 1)));
    }
}

void ShortFilter4Portable(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, LumaShortFilter const& f)
{
    for (int k = 0; k < 4; ++k)
        ShortFilterLine(Line{first + lineStep * k, o}, f);
}

void LongFilter4Portable(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, LumaLongFilter const& f)
{
    for (int k = 0; k < 4; ++k)
        LongFilterLine(Line{first + lineStep * k, o}, f);
}

// A luma edge segment: `lines` lines from `first`, each `lineStep` apart. `room`: whether both
// sides have 8 samples in the plane (the 4-line kernels may read that far).
void FilterLumaSegment(DeblockKernels const& k, uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, int lines, bool room,
                       int lenP, int lenQ, int bS, int qp, SliceOffsets const& off, int bitDepth, bool writeP,
                       bool writeQ)
{
    int const tc = DeriveTc(qp, bS, off.tcOffsetDiv2[0], bitDepth);
    int const beta = DeriveBeta(qp, off.betaOffsetDiv2[0], bitDepth);
    const Line l0{first, o};
    const Line l3{first + lineStep * (lines - 1), o};

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
            LumaLongFilter const f{largeP ? lenP : 3, largeQ ? lenQ : 3, tc, writeP, writeQ};
            if (lines == 4 && room)
                k.lumaLong4(first, o, lineStep, f);
            else
                for (int i = 0; i < lines; ++i)
                    LongFilterLine(Line{first + lineStep * i, o}, f);
            return;
        }
    }
    if (dp0 + dq0 + dp3 + dq3 >= beta)
        return;
    int const sideThreshold = (beta + (beta >> 1)) >> 3;
    LumaShortFilter f;
    f.filterP1 = lenP > 1 && lenQ > 1 && dp0 + dp3 < sideThreshold;
    f.filterQ1 = lenP > 1 && lenQ > 1 && dq0 + dq3 < sideThreshold;
    f.strong = lenP > 2 && lenQ > 2 && StrongShortLine(l0, 2 * (dp0 + dq0), beta, tc) &&
               StrongShortLine(l3, 2 * (dp3 + dq3), beta, tc);
    f.tc = tc;
    f.maxVal = (1 << bitDepth) - 1;
    f.writeP = writeP;
    f.writeQ = writeQ;
    if (lines == 4)
        k.lumaShort4(first, o, lineStep, f);
    else
        for (int i = 0; i < lines; ++i)
            ShortFilterLine(Line{first + lineStep * i, o}, f);
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

// What the filters of one direction need of the picture, worked out once per call.
struct EdgePass
{
    DeblockMap const& m;
    DeblockPlane const* planes;
    bool ver;
    int sw, sh; // chroma subsampling
    DeblockKernels const& kernels;
    // The offsets of the Q block's slice (the first slice's where the index is out of range).
    SliceOffsets const& offsets(BlockUnit const& uq) const { return m.slices[uq.slice < numSlices ? uq.slice : 0]; }
    size_t numSlices;
};

// Asks for the cache lines of [p, p + bytes) ahead of their use.
void Prefetch(void const* p, size_t bytes)
{
    char const* const c = static_cast<char const*>(p);
    for (size_t i = 0; i < bytes; i += 64)
        __builtin_prefetch(c + i);
    __builtin_prefetch(c + bytes - 1);
}

// ctbRow: a horizontal edge on a CTB row boundary.
void FilterLuma(EdgePass const& ps, EdgeSegment const& e, BlockUnit const& up, BlockUnit const& uq, int x4, int y4,
                bool ctbRow)
{
    DeblockMap const& m = ps.m;
    DeblockPlane const& pl = ps.planes[0];
    int const bS = std::min<int>(e.bs[0], 2);
    int const x = x4 * 4, y = y4 * 4;
    bool const ver = ps.ver;
    int lenP = NormaliseLumaLength(e.maxLenP), lenQ = NormaliseLumaLength(e.maxLenQ);
    if (ctbRow)
        lenP = std::min(lenP, 3);
    lenP = FitLength(lenP, ver ? x : y);
    lenQ = FitLength(lenQ, ver ? pl.width - x : pl.height - y);
    int const lines = std::min(4, ver ? pl.height - y : pl.width - x);
    if (lenP < 0 || lenQ < 0 || lines <= 0)
        return;
    SliceOffsets const& off = ps.offsets(uq);
    uint16_t* first = pl.samples + ptrdiff_t(y) * pl.stride + x;
    int const qp = ((up.qp[0] + uq.qp[0] + 1) >> 1) +
                   LadfQpOffset(m, first, ver ? 1 : pl.stride, (ver ? pl.stride : 1) * (lines - 1));
    int const before = ver ? x : y, after = ver ? pl.width - x : pl.height - y;
    FilterLumaSegment(ps.kernels, first, ver ? 1 : pl.stride, ver ? pl.stride : 1, lines, before >= 8 && after >= 8,
                      lenP, lenQ, bS, qp, off, m.bitDepthY, !(up.noFilter & 1), !(uq.noFilter & 1));
}

// The chroma segment of a luma segment on the chroma 8x8 grid.
void FilterChroma(EdgePass const& ps, EdgeSegment const& e, BlockUnit const& up, BlockUnit const& uq, int x4, int y4,
                  bool ctbBoundary)
{
    DeblockMap const& m = ps.m;
    bool const ver = ps.ver;
    int const sw = ps.sw, sh = ps.sh;
    int const xc = x4 * 4 / sw, yc = y4 * 4 / sh;
    SliceOffsets const& off = ps.offsets(uq);
    int const lenP = e.maxLenCP >= 3 ? 3 : 1, lenQ = e.maxLenCQ >= 3 ? 3 : 1;

    for (int c = 1; c <= 2; ++c) {
        int const bS = std::min<int>(e.bs[c], 2);
        DeblockPlane const& pl = ps.planes[c];
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

DeblockKernels const& DeblockPortableKernels()
{
    static DeblockKernels const k{"portable", &ShortFilter4Portable, &LongFilter4Portable};
    return k;
}

DeblockKernels const* DeblockVectorKernels()
{
#if defined(__x86_64__) || defined(__i386__)
    static bool const sHas = __builtin_cpu_supports("avx2");
    static DeblockKernels const k{"avx2", &LumaShort4Avx2, &LumaLong4Avx2};
    return sHas ? &k : nullptr;
#else
    return nullptr;
#endif
}

void DeblockAllowVectorKernels(bool allow)
{
    gAllowVector = allow;
}

DeblockKernels const& DeblockActiveKernels()
{
    DeblockKernels const* v = gAllowVector ? DeblockVectorKernels() : nullptr;
    return v ? *v : DeblockPortableKernels();
}

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
    bool const ver = dir == kEdgeVer;
    bool const chroma = map.chromaFormatIdc != 0;
    EdgePass const ps{map,
                      planes,
                      ver,
                      SubWidth(map.chromaFormatIdc),
                      SubHeight(map.chromaFormatIdc),
                      DeblockActiveKernels(),
                      map.slices.size()};
    // Chroma edges lie on the 8x8 chroma grid: every (2 * subsampling)-th unit across the edge.
    int const chromaUnits = 2 * (ver ? ps.sw : ps.sh);
    size_t const w4 = size_t(map.unitsW());
    ptrdiff_t const toP = ver ? -1 : -ptrdiff_t(w4);
    int const x4First = std::max(x4Begin, ver ? 1 : 0);
    for (int y4 = std::max(y4Begin, ver ? 0 : 1); y4 < y4End; ++y4) {
        EdgeSegment const* edgeRow = map.edges[dir].data() + size_t(y4) * w4;
        BlockUnit const* unitRow = map.units.data() + size_t(y4) * w4;
        bool const chromaRow = chroma && (ver || y4 % chromaUnits == 0);
        bool const ctbRow = !ver && (y4 * 4) % map.ctbSizeY == 0;
        // Horizontal edges are mostly done in narrow bands of columns down the picture, a stride
        // the hardware does not foresee: the map and the luma rows two unit rows on are asked for.
        if (!ver && y4 + 2 < y4End && x4First < x4End) {
            size_t const ahead = size_t(y4 + 2) * w4 + size_t(x4First), n = size_t(x4End - x4First);
            Prefetch(map.edges[dir].data() + ahead, n * sizeof(EdgeSegment));
            Prefetch(map.units.data() + ahead, n * sizeof(BlockUnit));
            DeblockPlane const& pl = planes[0];
            for (int r = 0; r < 4 && 4 * (y4 + 2) + r < pl.height; ++r)
                Prefetch(pl.samples + ptrdiff_t(4 * (y4 + 2) + r) * pl.stride + 4 * x4First,
                         std::min(size_t(pl.width - 4 * x4First), 4 * n) * sizeof(uint16_t));
        }
        for (int x4 = x4First; x4 < x4End; ++x4) {
            EdgeSegment const& e = edgeRow[x4];
            if ((e.bs[0] | e.bs[1] | e.bs[2]) == 0)
                continue;
            BlockUnit const& uq = unitRow[x4];
            BlockUnit const& up = (&uq)[toP];
            if (e.bs[0])
                FilterLuma(ps, e, up, uq, x4, y4, ctbRow);
            if (chromaRow && (e.bs[1] | e.bs[2]) && (!ver || x4 % chromaUnits == 0))
                FilterChroma(ps, e, up, uq, x4, y4, ctbRow);
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

namespace {

inline int Strength(BsSide const& p, BsSide const& q, int cIdx, bool transformEdge, bool predictionEdge, int motionBs)
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

} // namespace

int BoundaryStrength(BsSide const& p, BsSide const& q, int cIdx, bool transformEdge, bool predictionEdge, int motionBs)
{
    return Strength(p, q, cIdx, transformEdge, predictionEdge, motionBs);
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
    int8_t const qp0 = int8_t(Clip3(-64, 63, b.qp[0])), qp1 = int8_t(Clip3(-64, 63, b.qp[1]));
    // Everything the loop needs in locals, row pointers taken once: the stores below are bytes,
    // which the compiler must assume may change the block's and the vectors' fields.
    bool const chroma = b.chroma;
    uint16_t const slice = b.slice;
    uint8_t const noFilterKeep = uint8_t(b.noFilter ? 0xff : ~noFilterBits),
                  noFilterSet = b.noFilter ? noFilterBits : 0;
    BlockUnit* const units = map.units.data();
    for (int y4 = y4a; y4 < y4b; ++y4) {
        BlockUnit* const row = units + size_t(y4) * size_t(w4);
        for (int x4 = x4a; x4 < x4b; ++x4) {
            BlockUnit& u = row[x4];
            u.info = uint16_t((u.info & ~mask) | info);
            u.tbW[ch] = tbW;
            u.tbH[ch] = tbH;
            u.slice = slice;
            u.noFilter = uint8_t((u.noFilter & noFilterKeep) | noFilterSet);
            if (chroma) {
                u.qp[1] = qp0;
                u.qp[2] = qp1;
            } else
                u.qp[0] = qp0;
        }
    }
    const uint8_t kind = b.chroma ? kTransformEdgeC : kTransformEdgeY;
    if (b.filterLeft && b.x > 0 && b.x % 4 == 0) {
        uint8_t const k = uint8_t(kind | (b.codingEdgeLeft ? kCodingEdge : 0));
        EdgeSegment* const column = map.edges[kEdgeVer].data() + x4a;
        for (int y4 = y4a; y4 < y4b; ++y4)
            column[size_t(y4) * size_t(w4)].kind |= k;
    }
    if (b.filterTop && b.y > 0 && b.y % 4 == 0) {
        uint8_t const k = uint8_t(kind | (b.codingEdgeTop ? kCodingEdge : 0));
        EdgeSegment* const row = map.edges[kEdgeHor].data() + size_t(y4a) * size_t(w4);
        for (int x4 = x4a; x4 < x4b; ++x4)
            row[x4].kind |= k;
    }
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
    BlockUnit const* const units = map.units.data();
    for (int d = 0; d < 2; ++d) {
        bool const ver = d == kEdgeVer;
        ptrdiff_t const toP = ver ? -1 : -ptrdiff_t(w4);
        EdgeSegment* const edges = map.edges[d].data();
        for (int y4 = std::max(unitRowBegin, ver ? 0 : 1); y4 < h4; ++y4) {
            EdgeSegment* const edgeRow = edges + size_t(y4) * size_t(w4);
            BlockUnit const* const unitRow = units + size_t(y4) * size_t(w4);
            for (int x4 = ver ? 1 : 0; x4 < w4; ++x4) {
                EdgeSegment& e = edgeRow[x4];
                uint8_t const kind = e.kind;
                if (!(kind & (kTransformEdgeY | kTransformEdgeC)))
                    continue;
                BlockUnit const& uq = unitRow[x4];
                BlockUnit const& up = (&uq)[toP];
                bool const prediction = kind & kPredictionEdge, coding = kind & kCodingEdge;
                if (kind & kTransformEdgeY) {
                    e.bs[0] =
                        uint8_t(Strength(side(up, false, coding), side(uq, false, coding), 0, true, prediction, 0));
                    if (e.maxLenP == 0 && e.maxLenQ == 0)
                        LumaMaxFilterLengths(ver ? up.tbW[0] : up.tbH[0], ver ? uq.tbW[0] : uq.tbH[0], e.maxLenP,
                                             e.maxLenQ);
                }
                if (kind & kTransformEdgeC) {
                    const BsSide p = side(up, true, coding), q = side(uq, true, coding);
                    e.bs[1] = uint8_t(Strength(p, q, 1, true, prediction, 0));
                    e.bs[2] = uint8_t(Strength(p, q, 2, true, prediction, 0));
                    if (e.maxLenCP == 0 && e.maxLenCQ == 0)
                        ChromaMaxFilterLengths(ver ? up.tbW[1] : up.tbH[1], ver ? uq.tbW[1] : uq.tbH[1], e.maxLenCP,
                                               e.maxLenCQ);
                }
            }
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
    return kBetaTable[Clip3(0, 63, qp + 2 * betaOffsetDiv2)] * (1 << (bitDepth - 8));
}

int DeriveTc(int qp, int bS, int tcOffsetDiv2, int bitDepth)
{
    int const t = kTcTable[Clip3(0, 65, qp + 2 * (bS - 1) + 2 * tcOffsetDiv2)];
    return bitDepth < 10 ? (t + (1 << (9 - bitDepth))) >> (10 - bitDepth) : t * (1 << (bitDepth - 10));
}

} // namespace vvcdeblock
