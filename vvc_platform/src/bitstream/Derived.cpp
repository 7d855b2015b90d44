#include "bitstream/Derived.h"

#include <algorithm>

namespace vvcsyntax {

ChromaQpTables DeriveChromaQpTables(SeqParameterSet const& sps)
{
    ChromaQpTables out;
    int const bd = 6 * (sps.bitDepth - 8);
    out.qpBdOffset = bd;
    VVC_CHECK(bd < 0 || bd + 64 > int(out.table[0].size()), "Bit depth out of range for chroma QP tables");
    auto clip = [bd](int v) { return std::min(std::max(v, -bd), 63); };
    int const numTables = std::max(1, sps.numQpTables);
    for (int t = 0; t < numTables; ++t) {
        auto& tab = out.table[size_t(t)];
        auto at = [&](int qp) -> int& { return tab[size_t(qp + bd)]; };
        if (sps.numQpTables == 0) {
            // 4:0:0: no table signalled; the identity serves.
            for (int qp = -bd; qp <= 63; ++qp)
                at(qp) = qp;
            continue;
        }
        const size_t points = sps.deltaQpInValMinus1[t].size();
        std::vector<int> in(points + 1), outVal(points + 1);
        in[0] = sps.qpTableStartMinus26[t] + 26;
        outVal[0] = in[0];
        for (size_t j = 0; j < points; ++j) {
            in[j + 1] = in[j] + sps.deltaQpInValMinus1[t][j] + 1;
            outVal[j + 1] = outVal[j] + (sps.deltaQpInValMinus1[t][j] ^ sps.deltaQpDiffVal[t][j]);
        }
        VVC_CHECK(in[0] < -bd || in[0] > 63 || in[points] > 63, "Chroma QP mapping points out of range");
        at(in[0]) = outVal[0];
        for (int k = in[0] - 1; k >= -bd; --k)
            at(k) = clip(at(k + 1) - 1);
        for (size_t j = 0; j < points; ++j) {
            int const steps = sps.deltaQpInValMinus1[t][j] + 1;
            int const sh = steps >> 1;
            for (int k = in[j] + 1, m = 1; k <= in[j + 1]; ++k, ++m)
                at(k) = at(in[j]) + ((outVal[j + 1] - outVal[j]) * m + sh) / steps;
        }
        for (int k = in[points] + 1; k <= 63; ++k)
            at(k) = clip(at(k - 1) + 1);
    }
    for (int t = numTables; t < 3; ++t)
        out.table[size_t(t)] = out.table[0];
    return out;
}

LmcsModel DeriveLmcs(LmcsParams const& p, int bitDepth)
{
    VVC_CHECK(bitDepth < 8 || bitDepth > 16, "Bit depth out of range for LMCS");
    VVC_CHECK(p.minBinIdx < 0 || p.maxBinIdx > 15 || p.minBinIdx > p.maxBinIdx, "LMCS bins out of range");
    LmcsModel m;
    m.bitDepth = bitDepth;
    m.log2OrgCw = bitDepth - 4;
    m.minBinIdx = p.minBinIdx;
    m.maxBinIdx = p.maxBinIdx;
    int const orgCw = 1 << m.log2OrgCw;
    for (int i = 0; i < 16; ++i) {
        m.codewords[i] = i < p.minBinIdx || i > p.maxBinIdx ? 0 : orgCw + p.deltaCw[i];
        VVC_CHECK(m.codewords[i] != 0 && (m.codewords[i] < (orgCw >> 3) || m.codewords[i] > (orgCw << 3) - 1),
                  "LMCS codeword out of range: " << m.codewords[i]);
    }
    for (int i = 0; i <= 16; ++i)
        m.inputPivot[i] = i * orgCw;
    for (int i = 0; i < 16; ++i) {
        int const cw = m.codewords[i];
        m.lmcsPivot[i + 1] = m.lmcsPivot[i] + cw;
        m.scaleCoeff[i] = (cw * (1 << 11) + (1 << (m.log2OrgCw - 1))) >> m.log2OrgCw;
        m.invScaleCoeff[i] = cw == 0 ? 0 : orgCw * (1 << 11) / cw;
        if (cw == 0) {
            m.chromaScaleCoeff[i] = 1 << 11;
        } else {
            int const crs = cw + p.deltaCrs;
            VVC_CHECK(crs < (orgCw >> 3) || crs > (orgCw << 3) - 1, "LMCS chroma scaling out of range");
            m.chromaScaleCoeff[i] = orgCw * (1 << 11) / crs;
        }
    }
    size_t const range = size_t(1) << bitDepth;
    m.inverseTable.resize(range);
    m.pieceTable.resize(range);
    m.forwardTable.resize(range);
    for (size_t v = 0; v < range; ++v) {
        m.forwardTable[v] = m.computeForward(int(v));
        m.inverseTable[v] = uint16_t(m.computeInverse(int(v)));
        m.pieceTable[v] = uint8_t(m.computeInverseIndex(int(v)));
    }
    return m;
}

int LmcsModel::computeForward(int sample) const
{
    int const idx = std::min(std::max(sample >> log2OrgCw, 0), 15);
    return lmcsPivot[idx] + ((scaleCoeff[idx] * (sample - inputPivot[idx]) + (1 << 10)) >> 11);
}

int LmcsModel::computeInverseIndex(int sample) const
{
    // Above the last used bin's pivot the piece is the (empty) bin after it: the inverse mapping
    // gives that bin's input pivot there and the chroma scale is the identity.
    int idx = minBinIdx;
    for (; idx <= maxBinIdx; ++idx)
        if (sample < lmcsPivot[idx + 1])
            break;
    return std::min(idx, 15);
}

int LmcsModel::neighbourAverage(uint16_t const* luma, ptrdiff_t stride, int width, int height, int x0, int y0, int size,
                                bool left, bool top, int bitDepth)
{
    int64_t sum = 0;
    int count = 0;
    if (left) {
        for (int i = 0; i < size; ++i)
            sum += luma[ptrdiff_t(std::min(y0 + i, height - 1)) * stride + (x0 - 1)];
        count += size;
    }
    if (top) {
        for (int i = 0; i < size; ++i)
            sum += luma[ptrdiff_t(y0 - 1) * stride + std::min(x0 + i, width - 1)];
        count += size;
    }
    return count ? int((sum + count / 2) / count) : 1 << (bitDepth - 1);
}

int LmcsModel::computeInverse(int sample) const
{
    int const idx = computeInverseIndex(sample);
    int const v = inputPivot[idx] + ((invScaleCoeff[idx] * (sample - lmcsPivot[idx]) + (1 << 10)) >> 11);
    return std::min(std::max(v, 0), (1 << bitDepth) - 1);
}

} // namespace vvcsyntax
