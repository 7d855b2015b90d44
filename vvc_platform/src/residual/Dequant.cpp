#include "residual/Dequant.h"

#include "residual/Transform.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace vvcresidual {

namespace {

constexpr int kLevelScale[2][6] = {{40, 45, 51, 57, 64, 72}, {57, 64, 72, 80, 90, 102}};

int Log2Of(int n)
{
    for (int l = 0; l <= 6; ++l)
        if (n == (1 << l))
            return l;
    return -1;
}

// Up-right diagonal scan of a size x size block (size 2, 4 or 8): scan[i] = x + y * size.
struct DiagScan
{
    uint8_t pos[64];
};

DiagScan MakeDiagScan(int size)
{
    DiagScan d{};
    int i = 0;
    for (int s = 0; s < 2 * size - 1; ++s)
        for (int y = s; y >= 0; --y) {
            int const x = s - y;
            if (x < size && y < size)
                d.pos[i++] = uint8_t(x + y * size);
        }
    return d;
}

int MatrixSize(int id)
{
    return id < 2 ? 2 : (id < 8 ? 4 : 8);
}
int GroupStart(int id)
{
    return id < 2 ? 0 : (id < 8 ? 2 : 8);
}

} // namespace

int DepQuantNextState(int state, int absLevel)
{
    static int const kTrans[4][2] = {{0, 2}, {2, 0}, {1, 3}, {3, 1}};
    return kTrans[state & 3][absLevel & 1];
}

int32_t CoefficientLevel(int absLevel, bool sign, bool depQuant, int state)
{
    if (absLevel <= 0)
        return 0;
    int64_t v = depQuant ? 2 * int64_t(absLevel) - (state > 1 ? 1 : 0) : int64_t(absLevel);
    if (sign)
        v = -v;
    return int32_t(std::min<int64_t>(std::max<int64_t>(v, kCoeffMin), kCoeffMax));
}

ScalingMatrices::ScalingMatrices()
{
    for (auto& r : rec)
        std::fill(std::begin(r), std::end(r), uint8_t(16));
    std::fill(std::begin(dcRec), std::end(dcRec), uint8_t(16));
}

bool ReconstructScalingMatrices(ScalingListData const& data, ScalingMatrices& out)
{
    ScalingMatrices m;
    DiagScan const scans[3] = {MakeDiagScan(2), MakeDiagScan(4), MakeDiagScan(8)};
    for (int id = 0; id < 28; ++id) {
        if (!data.coded[id])
            continue;
        int const size = MatrixSize(id);
        int const n = size * size;
        DiagScan const& scan = scans[size == 2 ? 0 : (size == 4 ? 1 : 2)];
        uint8_t pred[64];
        int dcPred = 16;
        bool const copy = data.copyMode[id];
        if (!copy && !data.predMode[id]) {
            std::fill(pred, pred + n, uint8_t(8));
            dcPred = 8;
        } else if (data.predIdDelta[id] == 0) {
            std::fill(pred, pred + n, uint8_t(16));
            dcPred = 16;
        } else {
            int const refId = id - data.predIdDelta[id];
            if (data.predIdDelta[id] < 0 || refId < GroupStart(id))
                return false;
            std::copy(m.rec[refId], m.rec[refId] + n, pred);
            dcPred = refId > 13 ? m.dcRec[refId - 14] : m.rec[refId][0];
        }
        for (int i = 0; i < n; ++i) {
            int const p = scan.pos[i];
            int const v = (pred[p] + (copy ? 0 : data.list[id][i])) & 255;
            if (v == 0)
                return false;
            m.rec[id][p] = uint8_t(v);
        }
        if (id > 13) {
            int const dc = (dcPred + (copy ? 0 : data.dcCoef[id - 14])) & 255;
            if (dc == 0)
                return false;
            m.dcRec[id - 14] = uint8_t(dc);
        }
    }
    out = m;
    return true;
}

int ScalingMatrixId(bool intra, int cIdx, int nTbW, int nTbH)
{
    if (cIdx < 0 || cIdx > 2)
        return -1;
    int const maxSize = std::max(nTbW, nTbH);
    switch (maxSize) {
    case 2: return (!intra && cIdx > 0) ? cIdx - 1 : -1;
    case 4: return 2 + (intra ? 0 : 3) + cIdx;
    case 8: return 8 + (intra ? 0 : 3) + cIdx;
    case 16: return 14 + (intra ? 0 : 3) + cIdx;
    case 32: return 20 + (intra ? 0 : 3) + cIdx;
    case 64: return cIdx == 0 ? (intra ? 26 : 27) : 20 + (intra ? 0 : 3) + cIdx;
    default: return -1;
    }
}

void DeriveScalingFactor(ScalingMatrices const& matrices, int id, int nTbW, int nTbH, uint8_t* m)
{
    int const lw = Log2Of(nTbW), lh = Log2Of(nTbH);
    if (!m || lw < 0 || lh < 0)
        return;
    if (id < 0 || id > 27) {
        std::fill(m, m + nTbW * nTbH, uint8_t(16));
        return;
    }
    int const size = MatrixSize(id);
    int const log2Size = Log2Of(size);
    uint8_t const* rec = matrices.rec[id];
    for (int y = 0; y < nTbH; ++y) {
        int const j = (y << log2Size) >> lh;
        for (int x = 0; x < nTbW; ++x)
            m[y * nTbW + x] = rec[((x << log2Size) >> lw) + j * size];
    }
    if (id > 13)
        m[0] = matrices.dcRec[id - 14];
}

bool ScaleTransformCoefficients(int32_t const* levels, ptrdiff_t levelStride, int nTbW, int nTbH,
                                ScalingParams const& p, int32_t* d, ptrdiff_t dStride)
{
    int const lw = Log2Of(nTbW), lh = Log2Of(nTbH);
    if (!levels || !d || lw < 0 || lh < 0 || p.bitDepth < 8 || p.bitDepth > 16 || p.qp < 0 || p.qp > 120 ||
        p.qpPrimeTsMin < 0 || p.qpPrimeTsMin > 120 || p.bdpcmDir < -1 || p.bdpcmDir > 1)
        return false;
    int qP = p.qp, rect = 0, bdShift = 10;
    bool depQuant = false;
    if (p.transformSkip) {
        qP = std::max(p.qpPrimeTsMin, p.qp);
    } else {
        depQuant = p.depQuant;
        rect = (lw + lh) & 1;
        bdShift = p.bitDepth + rect + (lw + lh) / 2 - 5 + (depQuant ? 1 : 0);
    }
    bdShift = std::max(bdShift, 1);
    int const qPs = qP + (depQuant ? 1 : 0);
    const int64_t scale = int64_t(kLevelScale[rect][qPs % 6]) << (qPs / 6);
    const int64_t round = int64_t(1) << (bdShift - 1);

    // Only the top-left 32x32 carries coefficients.
    int const w = std::min(nTbW, 32), h = std::min(nTbH, 32);
    int32_t acc[32 * 32];
    for (int y = 0; y < h; ++y)
        std::copy(levels + y * levelStride, levels + y * levelStride + w, acc + y * 32);
    if (p.bdpcmDir >= 0)
        BdpcmAccumulate(acc, 32, w, h, p.bdpcmDir == 1);

    // The clipped levels, the rows up to the last one holding a non-zero level (the rest scale to
    // zero) and the largest magnitude.
    int rows = 0;
    int32_t maxAbs = 0;
    for (int y = 0; y < h; ++y) {
        int32_t* a = acc + y * 32;
        int32_t rowMax = 0;
        for (int x = 0; x < w; ++x) {
            const int32_t v = std::min(std::max(a[x], kCoeffMin), kCoeffMax);
            a[x] = v;
            rowMax = std::max(rowMax, v < 0 ? -v : v);
        }
        if (rowMax != 0)
            rows = y + 1;
        maxAbs = std::max(maxAbs, rowMax);
    }
    int mMax = 16;
    if (p.m) {
        mMax = 0;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < w; ++x)
                mMax = std::max(mMax, int(p.m[y * nTbW + x]));
    }
    // Where no product can leave 32 bits the scaling is done in 32 bits: the same values, in
    // twice the lanes.
    bool const narrow = int64_t(maxAbs) * int64_t(mMax) * scale + round <= INT32_MAX;

    for (int y = 0; y < rows; ++y) {
        int32_t const* src = acc + y * 32;
        int32_t* dst = d + y * dStride;
        uint8_t const* mRow = p.m ? p.m + y * nTbW : nullptr;
        if (narrow) {
            const int32_t scale32 = int32_t(scale), round32 = int32_t(round);
            for (int x = 0; x < w; ++x) {
                const int32_t ls = (mRow ? int32_t(mRow[x]) : 16) * scale32;
                const int32_t v = (src[x] * ls + round32) >> bdShift;
                dst[x] = std::min(std::max(v, kCoeffMin), kCoeffMax);
            }
        } else {
            for (int x = 0; x < w; ++x) {
                const int64_t ls = (mRow ? mRow[x] : 16) * scale;
                const int64_t v = (int64_t(src[x]) * ls + round) >> bdShift;
                dst[x] = int32_t(std::min<int64_t>(std::max<int64_t>(v, kCoeffMin), kCoeffMax));
            }
        }
        std::fill(dst + w, dst + nTbW, 0);
    }
    for (int y = rows; y < nTbH; ++y)
        std::fill(d + y * dStride, d + y * dStride + nTbW, 0);
    return true;
}

} // namespace vvcresidual
