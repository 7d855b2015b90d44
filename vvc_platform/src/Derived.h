#pragma once

#include "Syntax.h"

#include <array>

// Values derived from the high-level syntax that the reconstruction uses.
namespace vvcsyntax {

// Chroma QP mapping: the chroma QP for each luma-derived QP from -QpBdOffset to 63, per table
// (0 Cb, 1 Cr, 2 joint Cb-Cr); the same table three times when the SPS signals one.
struct ChromaQpTables
{
    int qpBdOffset = 0;
    std::array<std::array<int, 64 + 48>, 3> table = {};  // indexed by qp + qpBdOffset
    int map(int t, int qp) const { return table[size_t(t)][size_t(qp + qpBdOffset)]; }
};

// Throws when the signalled points leave the QP range.
ChromaQpTables DeriveChromaQpTables(SeqParameterSet const& sps);

} // namespace vvcsyntax
