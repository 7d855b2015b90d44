// Values derived from the VVC high-level syntax: chroma QP mapping tables.

#include "bitstream/Derived.h"

#include <gtest/gtest.h>

#include <vector>

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
    const Point points[] = {{17, 17}, {18, 18}, {19, 19}, {20, 21}, {21, 22}, {22, 23},  {23, 24},
                            {28, 29}, {34, 35}, {35, 36}, {36, 36}, {37, 37}, {40, 38},  {41, 39},
                            {42, 39}, {43, 40}, {63, 60}, {16, 16}, {0, 0},   {-12, -12}};
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

TEST(VvcDerived, LmcsNeighbourAverage)
{
    // A 12x6 plane: column 3 holds 100 + 10 y, row 1 holds 200 + x; the 8x8 area at (4, 2)
    // reaches past the bottom (rows 2..5 inside) and the right edge (columns 4..11 inside, so
    // exactly 8 wide) of the plane.
    int const w = 12, h = 6;
    std::vector<uint16_t> plane(size_t(w * h), 0);
    for (int y = 0; y < h; ++y)
        plane[size_t(y * w + 3)] = uint16_t(100 + 10 * y);
    for (int x = 0; x < w; ++x)
        plane[size_t(w + x)] = uint16_t(200 + x);
    // Left: rows 2..5, then row 5 four more times: 120 + 130 + 140 + 150 + 4 * 150 = 1140.
    EXPECT_EQ(LmcsModel::neighbourAverage(plane.data(), w, w, h, 4, 2, 8, true, false, 10), (1140 + 4) / 8);
    // Top: columns 4..11 of row 1: 204 + ... + 211 = 1660.
    EXPECT_EQ(LmcsModel::neighbourAverage(plane.data(), w, w, h, 4, 2, 8, false, true, 10), (1660 + 4) / 8);
    EXPECT_EQ(LmcsModel::neighbourAverage(plane.data(), w, w, h, 4, 2, 8, true, true, 10), (1140 + 1660 + 8) / 16);
    // The top row of an area 8 wide at x = 8 repeats column 11 for columns 12..15.
    int const topRight = 208 + 209 + 210 + 211 + 4 * 211;
    EXPECT_EQ(LmcsModel::neighbourAverage(plane.data(), w, w, h, 8, 2, 8, false, true, 10), (topRight + 4) / 8);
    EXPECT_EQ(LmcsModel::neighbourAverage(plane.data(), w, w, h, 4, 2, 8, false, false, 10), 512);
}

TEST(VvcDerived, LmcsModel)
{
    // Unchanged codewords: both mappings and the chroma scaling are the identity.
    LmcsParams flat;
    const LmcsModel id = DeriveLmcs(flat, 10);
    for (int v : {0, 1, 63, 64, 500, 1023}) {
        EXPECT_EQ(id.forward(v), v);
        EXPECT_EQ(id.inverse(v), v);
    }
    EXPECT_EQ(id.chromaScale(512), 1 << 11);
    EXPECT_EQ(LmcsModel::scaleChromaResidual(-37, 1 << 11, 10), -37);

    // Bin 5 widened by 32 codewords, bin 6 narrowed by 32; bins outside 2..13 unused.
    LmcsParams p;
    p.minBinIdx = 2;
    p.maxBinIdx = 13;
    p.deltaCw[5] = 32;
    p.deltaCw[6] = -32;
    p.deltaCrs = 4;
    const LmcsModel m = DeriveLmcs(p, 10);
    EXPECT_EQ(m.lmcsPivot[2], 0) << "unused bins have no codewords";
    EXPECT_EQ(m.lmcsPivot[6], 3 * 64 + 96);
    EXPECT_EQ(m.scaleCoeff[5], 3072);
    EXPECT_EQ(m.invScaleCoeff[5], 64 * 2048 / 96);
    // 330 lies 10 into bin 5: 192 + (3072 * 10 + 1024) >> 11 = 207; and back.
    EXPECT_EQ(m.forward(330), 207);
    EXPECT_EQ(m.inverse(207), 330);
    EXPECT_EQ(m.inverseIndex(287), 5);
    EXPECT_EQ(m.inverseIndex(288), 6);
    // Mapped values at or above the last pivot (12 bins of 64: 768) fall into the empty bin after
    // the last used one: they map back to its input pivot and their chroma is not scaled.
    EXPECT_EQ(m.inverseIndex(767), 13);
    EXPECT_EQ(m.inverseIndex(768), 14);
    EXPECT_EQ(m.inverseIndex(5000), 14);
    EXPECT_EQ(m.inverse(800), 14 * 64);
    EXPECT_EQ(m.inverse(1023), 14 * 64);
    EXPECT_EQ(m.chromaScale(800), 1 << 11);
    p.maxBinIdx = 15;
    EXPECT_EQ(DeriveLmcs(p, 10).inverseIndex(5000), 15) << "never past the last bin";
    p.maxBinIdx = 13;
    EXPECT_EQ(m.chromaScaleCoeff[5], 64 * 2048 / 100);
    // The lookup tables agree with the pivots over the whole range, at each bit depth.
    for (int bitDepth : {8, 10, 12}) {
        LmcsParams q = p;
        q.deltaCw[5] = (32 << 2) >> (12 - bitDepth);
        q.deltaCw[6] = -q.deltaCw[5];
        const LmcsModel t = DeriveLmcs(q, bitDepth);
        ASSERT_EQ(t.inverseTable.size(), size_t(1) << bitDepth);
        ASSERT_EQ(t.forwardTable.size(), size_t(1) << bitDepth);
        for (int v = 0; v < 1 << bitDepth; ++v) {
            ASSERT_EQ(t.forward(v), t.computeForward(v)) << bitDepth << " bits, value " << v;
            ASSERT_EQ(t.inverse(v), t.computeInverse(v)) << bitDepth << " bits, value " << v;
            ASSERT_EQ(t.inverseIndex(v), t.computeInverseIndex(v)) << bitDepth << " bits, value " << v;
        }
    }
    EXPECT_EQ(m.chromaScaleCoeff[0], 2048);
    EXPECT_EQ(LmcsModel::scaleChromaResidual(-100, m.chromaScaleCoeff[5], 10), -((100 * 1310 + 1024) >> 11));
    // Residuals beyond the sample range are clipped to it before scaling.
    EXPECT_EQ(LmcsModel::scaleChromaResidual(5000, 4096, 10), 1023 * 2);
    EXPECT_EQ(LmcsModel::scaleChromaResidual(-5000, 4096, 10), -1024 * 2);

    LmcsParams tooWide;
    tooWide.deltaCw[0] = 600;
    EXPECT_THROW(DeriveLmcs(tooWide, 10), Exception) << "a codeword above 8 times the original";
    LmcsParams tooNarrow;
    tooNarrow.deltaCw[3] = -60;
    EXPECT_THROW(DeriveLmcs(tooNarrow, 10), Exception) << "a codeword below an eighth of the original";
    LmcsParams badChroma = p;
    badChroma.deltaCrs = -7;
    badChroma.deltaCw[7] = -56;
    EXPECT_THROW(DeriveLmcs(badChroma, 10), Exception) << "chroma scaling of a codeword below the limit";
}
