// Values derived from the VVC high-level syntax: chroma QP mapping tables.

#include "Derived.h"

#include <gtest/gtest.h>

using namespace vvcsyntax;

namespace {

// The common mapping with pivots (17, 17), (22, 23), (34, 35), (42, 39), as an SPS signals it:
// the start, then per pivot the input step less one and its XOR with the output step.
SeqParameterSet PivotSps(int bitDepth, bool sameTable)
{
    SeqParameterSet s;
    s.bitDepth = bitDepth;
    s.numQpTables = sameTable ? 1 : 2;
    for (int t = 0; t < s.numQpTables; ++t) {
        s.qpTableStartMinus26[t] = 17 - 26;
        s.deltaQpInValMinus1[t] = {4, 11, 7};
        s.deltaQpDiffVal[t] = {4 ^ 6, 11 ^ 12, 7 ^ 4};
    }
    if (!sameTable) // the Cr table: the identity from 0 to 63 in one step
        s.qpTableStartMinus26[1] = -26, s.deltaQpInValMinus1[1] = {62}, s.deltaQpDiffVal[1] = {62 ^ 63};
    return s;
}

} // namespace

TEST(VvcDerived, ChromaQpTablesInterpolateBetweenPivots)
{
    const ChromaQpTables t = DeriveChromaQpTables(PivotSps(10, true));
    EXPECT_EQ(t.qpBdOffset, 12);
    struct Point
    {
        int qp, chroma;
    };
    // Pivots; between them rounded steps; below the first one less per QP down to -12, above the
    // last one more per QP.
    const Point points[] = {{17, 17}, {18, 18}, {19, 19}, {20, 21}, {21, 22}, {22, 23}, {23, 24}, {28, 29},
                            {34, 35}, {35, 36}, {36, 36}, {37, 37}, {40, 38}, {41, 39}, {42, 39}, {43, 40},
                            {63, 60}, {16, 16}, {0, 0}, {-12, -12}};
    for (Point const& p : points)
        for (int table = 0; table < 3; ++table)
            EXPECT_EQ(t.map(table, p.qp), p.chroma) << "qp " << p.qp << " table " << table;

    // Separate tables; the joint one is not signalled when the SPS has no joint Cb-Cr coding.
    const ChromaQpTables two = DeriveChromaQpTables(PivotSps(8, false));
    EXPECT_EQ(two.qpBdOffset, 0);
    EXPECT_EQ(two.map(0, 20), 21);
    EXPECT_EQ(two.map(1, 20), 20);
    EXPECT_EQ(two.map(1, 63), 63);
    EXPECT_EQ(two.map(2, 20), 21) << "missing tables repeat the first";

    SeqParameterSet beyond = PivotSps(10, true);
    beyond.deltaQpInValMinus1[0] = {40, 40};
    beyond.deltaQpDiffVal[0] = {0, 0};
    EXPECT_THROW(DeriveChromaQpTables(beyond), Exception) << "pivots beyond QP 63";
}
