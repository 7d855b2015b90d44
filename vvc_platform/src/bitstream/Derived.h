#pragma once

#include "bitstream/Syntax.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Values derived from the high-level syntax that the reconstruction uses.
namespace vvcsyntax {

// Chroma QP mapping: the chroma QP for each luma-derived QP from -QpBdOffset to 63, per table
// (0 Cb, 1 Cr, 2 joint Cb-Cr); the same table three times when the SPS signals one.
struct ChromaQpTables
{
    int qpBdOffset = 0;
    std::array<std::array<int, 64 + 48>, 3> table = {}; // indexed by qp + qpBdOffset
    int map(int t, int qp) const { return table[size_t(t)][size_t(qp + qpBdOffset)]; }
};

// Throws when the signalled points leave the QP range.
ChromaQpTables DeriveChromaQpTables(SeqParameterSet const& sps);

// Luma mapping with chroma scaling: the piece-wise linear model of an LMCS APS at a bit depth.
struct LmcsModel
{
    int bitDepth = 10;
    int log2OrgCw = 6;
    int minBinIdx = 0, maxBinIdx = 15;
    int codewords[16] = {};
    int inputPivot[17] = {};
    int lmcsPivot[17] = {};
    int scaleCoeff[16] = {};
    int invScaleCoeff[16] = {};
    int chromaScaleCoeff[16] = {};
    // Per mapped value from 0 to 2^bitDepth - 1: its inverse mapping and its piece, filled by
    // DeriveLmcs so that the per-sample inverse mapping is one lookup; per sample value the
    // forward mapping, for the same reason.
    std::vector<uint16_t> inverseTable;
    std::vector<uint8_t> pieceTable;
    std::vector<int32_t> forwardTable;

    // A predicted luma sample into the mapped domain.
    int forward(int sample) const
    {
        return unsigned(sample) < forwardTable.size() ? forwardTable[size_t(sample)] : computeForward(sample);
    }
    int computeForward(int sample) const;
    // A mapped luma sample back (the reconstruction's inverse mapping), clipped to the range.
    int inverse(int sample) const
    {
        return unsigned(sample) < inverseTable.size() ? inverseTable[size_t(sample)] : computeInverse(sample);
    }
    // The piece a mapped luma value falls into (up to 15: one past the last used bin).
    int inverseIndex(int sample) const
    {
        return unsigned(sample) < pieceTable.size() ? pieceTable[size_t(sample)] : computeInverseIndex(sample);
    }
    // The same from the pivots, without the tables.
    int computeInverse(int sample) const;
    int computeInverseIndex(int sample) const;
    // The chroma residual scale for the average of neighbouring mapped luma samples.
    int chromaScale(int averageLuma) const { return chromaScaleCoeff[inverseIndex(averageLuma)]; }
    // Average of the mapped luma samples next to the area of `size` x `size` at (x0, y0): the
    // column left of it and the row above it, each when available, `size` samples per side; where
    // the area reaches past the plane (width x height), the last sample inside is repeated. Half
    // the range when neither side is available.
    static int neighbourAverage(uint16_t const* luma, ptrdiff_t stride, int width, int height, int x0, int y0, int size,
                                bool left, bool top, int bitDepth);
    // The residual is first clipped to [-2^bitDepth, 2^bitDepth - 1].
    static int scaleChromaResidual(int residual, int scale, int bitDepth)
    {
        int const lo = -(1 << bitDepth), hi = (1 << bitDepth) - 1;
        residual = residual < lo ? lo : (residual > hi ? hi : residual);
        int const mag = ((residual < 0 ? -residual : residual) * scale + (1 << 10)) >> 11;
        return residual < 0 ? -mag : mag;
    }
};

// Throws when the codewords break the model's limits.
LmcsModel DeriveLmcs(LmcsParams const& params, int bitDepth);

} // namespace vvcsyntax
