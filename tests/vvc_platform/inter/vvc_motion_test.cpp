// Motion derivation on hand-made neighbourhoods: vector rounding and scaling, the history table,
// the regular merge list (pruning, history order, pairwise average, zero candidates), temporal
// candidates, AMVP with AMVR, MMVD, affine inheritance (also across a CTU row boundary),
// subblock vectors, GPM storage and the motion edge strength.

#include "inter/InterPred.h"
#include "inter/MotionDerivation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace vvcinter;

namespace {

MotionCand Uni(int l, int refIdx, Mv mv, uint8_t bcw = 0)
{
    MotionCand c;
    c.interDir = uint8_t(1 << l);
    c.refIdx[l] = int8_t(refIdx);
    c.mv[l] = mv;
    c.bcwIdx = bcw;
    return c;
}

MotionCand Bi(int r0, Mv mv0, int r1, Mv mv1)
{
    MotionCand c;
    c.interDir = 3;
    c.refIdx[0] = int8_t(r0);
    c.refIdx[1] = int8_t(r1);
    c.mv[0] = mv0;
    c.mv[1] = mv1;
    return c;
}

// A slice: current POC 8, list 0 {4, 0}, list 1 {16, 12} (B) or list 1 empty (P).
SliceMotion Slice(bool b)
{
    SliceMotion s;
    s.currPoc = 8;
    s.bSlice = b;
    s.refs.num[0] = 2;
    s.refs.poc[0][0] = 4;
    s.refs.poc[0][1] = 0;
    if (b) {
        s.refs.num[1] = 2;
        s.refs.poc[1][0] = 16;
        s.refs.poc[1][1] = 12;
    }
    s.picWidth = s.picHeight = 128;
    s.log2CtuSize = 6;
    s.maxNumMergeCand = 6;
    s.deriveListProperties();
    return s;
}

vvcslice::CodingUnit Unit(int x, int y, int w, int h)
{
    vvcslice::CodingUnit cu;
    cu.tree = 2;
    cu.predMode = vvcslice::CuPredMode::Inter;
    cu.x = x;
    cu.y = y;
    cu.width = w;
    cu.height = h;
    return cu;
}

// Stores a translational unit into the grid.
void Put(MotionGrid& g, SliceMotion const& s, int x, int y, int w, int h, MotionCand const& c)
{
    CuMotion m;
    m.cand = c;
    g.storeCu(x, y, w, h, m, s.refs);
}

} // namespace

TEST(VvcMotion, RoundingScalingAndWrapping)
{
    struct Case
    {
        int v, shift, expected;
    } const rounding[] = {
        {6, 2, 4},     {-6, 2, -4},  {-2, 2, 0},    {2, 2, 0},     {-10, 2, -8},
        {-8, 4, 0},    {-9, 4, -16},  {-24, 4, -16}, {-25, 4, -32}, {-31, 6, 0},   {-33, 6, -64},
        {5, 0, 5},     {-5, 0, -5},   {0, 0, 0}, // affine 1/16 precision: unchanged
    };
    for (Case const& c : rounding)
        EXPECT_EQ(RoundToPrecision(Mv(c.v, 0), c.shift).x, c.expected) << c.v << " >> " << c.shift;
    // The pairwise average rounds halves toward zero.
    EXPECT_EQ(RoundMv(Mv(3, -3), 1, 0), Mv(1, -1));
    EXPECT_EQ(ScaleMv(Mv(16, -16), 1, 2), Mv(8, -8));
    EXPECT_EQ(ScaleMv(Mv(16, 0), -1, 2), Mv(-8, 0));
    EXPECT_EQ(ScaleMv(Mv(100, 0), 4, 1), Mv(400, 0));
    EXPECT_EQ(ScaleMv(Mv(kMvMax, 0), 127, 1).x, kMvMax); // clipped to 18 bits
    EXPECT_EQ(WrapMv(Mv(kMvMax + 1, kMvMin - 1)), Mv(kMvMin, kMvMax));
}

TEST(VvcMotion, HistoryMovesARepeatToTheNewestAndKeepsFive)
{
    Hmvp h;
    for (int k = 0; k < 3; ++k)
        h.push(Uni(0, 0, Mv(4 * k, 0)));
    h.push(Uni(0, 0, Mv(0, 0), 3)); // same motion, other BCW index: replaces the entry
    ASSERT_EQ(h.size(), 3);
    EXPECT_EQ(h.newest(0).mv[0], Mv(0, 0));
    EXPECT_EQ(h.newest(0).bcwIdx, 3);
    EXPECT_EQ(h.newest(2).mv[0], Mv(4, 0));
    for (int k = 3; k < 7; ++k)
        h.push(Uni(0, 0, Mv(4 * k, 0)));
    ASSERT_EQ(h.size(), Hmvp::kMax);
    EXPECT_EQ(h.newest(4).mv[0], Mv(0, 0)); // (4, 0) and (8, 0) were the oldest
}

TEST(VvcMotion, MergeListPrunesSpatialAndOrdersHistoryNewestFirst)
{
    SliceMotion s = Slice(false);
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    MotionCand const a1 = Uni(0, 0, Mv(4, 0)), b0 = Uni(0, 1, Mv(-7, 3));
    Put(g, s, 0, 16, 16, 16, a1);  // covers A1 (15, 31); A0 (15, 32) not decoded
    Put(g, s, 16, 0, 16, 16, a1);  // B1 (31, 15): the first; A1 has the same motion, pruned
    Put(g, s, 32, 0, 16, 16, b0);  // B0 (32, 15)
    Put(g, s, 0, 0, 16, 16, a1);   // B2 (15, 15): same as B1, pruned
    Hmvp h;
    MotionCand const hOld = Uni(0, 1, Mv(-7, 3)), hMid = Uni(0, 0, Mv(40, 8));
    h.push(hOld); // the same as B0, but only the two newest are compared (with B1 and A1)
    h.push(hMid);
    h.push(a1); // newest, the same as B1: skipped
    MotionCand list[6];
    ASSERT_EQ(MergeList(s, g, h, 16, 16, 16, 16, list, 6), 6);
    EXPECT_TRUE(list[0].sameMotion(a1));
    EXPECT_TRUE(list[1].sameMotion(b0));
    EXPECT_TRUE(list[2].sameMotion(hMid));
    EXPECT_TRUE(list[3].sameMotion(hOld));
    // Pairwise: the list 0 vectors of the first two averaged, reference of the first.
    EXPECT_EQ(list[4].interDir, 1);
    EXPECT_EQ(list[4].refIdx[0], 0);
    EXPECT_EQ(list[4].mv[0], Mv(-1, 1)); // (4 - 7) / 2 and (0 + 3) / 2, halves toward zero
    EXPECT_EQ(list[5].mv[0], Mv());
    EXPECT_EQ(list[5].refIdx[0], 0);
    // A0 with the motion of an A1 that was pruned as B1's is pruned too (it is compared with
    // the A1 neighbour, not with what the list kept).
    MotionGrid g3;
    ASSERT_TRUE(g3.create(128, 128));
    Put(g3, s, 0, 16, 16, 32, a1); // A1 and A0
    Put(g3, s, 16, 0, 16, 16, a1); // B1
    ASSERT_EQ(MergeList(s, g3, Hmvp(), 16, 16, 16, 16, list, 2), 2);
    EXPECT_TRUE(list[0].sameMotion(a1));
    EXPECT_FALSE(list[1].sameMotion(a1));
    // Neighbours in the unit's merge estimation region (here 64x64: all of them) are not
    // candidates: only zero candidates remain, with rising reference indices.
    s.log2ParMrgLevel = 6;
    ASSERT_EQ(MergeList(s, g, Hmvp(), 16, 16, 16, 16, list, 3), 3);
    EXPECT_TRUE(list[0].sameMotion(Uni(0, 0, Mv())));
    EXPECT_TRUE(list[1].sameMotion(Uni(0, 1, Mv())));
    EXPECT_TRUE(list[2].sameMotion(Uni(0, 0, Mv())));
}

TEST(VvcMotion, MergeZeroCandidatesCountReferencesAndB2OnlyWhenFewerThanFour)
{
    SliceMotion s = Slice(true);
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    Put(g, s, 0, 0, 32, 32, Uni(0, 0, Mv(8, 0))); // of the neighbours only B2 (31, 31)
    MotionCand list[6];
    ASSERT_EQ(MergeList(s, g, Hmvp(), 32, 32, 16, 16, list, 6), 6);
    EXPECT_TRUE(list[0].sameMotion(Uni(0, 0, Mv(8, 0))));
    // One candidate: no pairwise; then zero candidates with rising reference indices while both
    // lists have them.
    EXPECT_TRUE(list[1].sameMotion(Bi(0, Mv(), 0, Mv())));
    EXPECT_TRUE(list[2].sameMotion(Bi(1, Mv(), 1, Mv())));
    EXPECT_TRUE(list[3].sameMotion(Bi(0, Mv(), 0, Mv())));
    // All of B1, A1, B0, A0 available (in that order): B2 is not looked at.
    MotionGrid g2;
    ASSERT_TRUE(g2.create(128, 128));
    Put(g2, s, 0, 0, 32, 32, Uni(0, 0, Mv(99, 0)));   // B2
    Put(g2, s, 32, 0, 16, 32, Uni(0, 0, Mv(1, 0)));   // B1
    Put(g2, s, 48, 0, 16, 32, Uni(0, 0, Mv(2, 0)));   // B0
    Put(g2, s, 0, 32, 32, 16, Uni(0, 0, Mv(3, 0)));   // A1
    Put(g2, s, 0, 48, 32, 16, Uni(0, 0, Mv(4, 0)));   // A0
    ASSERT_EQ(MergeList(s, g2, Hmvp(), 32, 32, 16, 16, list, 5), 5);
    int const expected[4] = {1, 3, 2, 4};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(list[k].mv[0].x, expected[k]) << k;
    EXPECT_NE(list[4].mv[0].x, 99);
}

TEST(VvcMotion, TemporalCandidateScalesByPocDistanceAndChecksLongTerm)
{
    SliceMotion s = Slice(true);
    MotionField col;
    ASSERT_TRUE(col.create(128, 128));
    col.poc = 16;
    // Bottom-right of the unit (32, 32, 16, 16) at (48, 48): list 0 to POC 0 (distance 16).
    ColMotion& br = col.at(48, 48);
    br.interDir = 1;
    br.mv[0] = Mv(64, -32);
    br.refPoc[0] = 0;
    s.colField = &col;
    Mv mv;
    ASSERT_TRUE(TemporalMv(s, 32, 32, 16, 16, 0, 0, mv));
    EXPECT_EQ(mv, Mv(16, -8)); // current distance 8 - 4 = 4 of 16
    ASSERT_TRUE(TemporalMv(s, 32, 32, 16, 16, 1, 0, mv));
    EXPECT_EQ(mv, Mv(-32, 16)); // to POC 16: distance -8 of 16
    // Small units have no temporal candidate.
    EXPECT_FALSE(TemporalMv(s, 32, 32, 8, 4, 0, 0, mv));
    // A long-term reference on one side only: none.
    s.refs.longTerm[0][0] = true;
    EXPECT_FALSE(TemporalMv(s, 32, 32, 16, 16, 0, 0, mv));
    s.refs.longTerm[0][0] = false;
    // Bottom-right in the next CTU row: the centre (40, 40), intra here, so none.
    EXPECT_FALSE(TemporalMv(s, 32, 48, 16, 16, 0, 0, mv));
    col.at(40, 56).interDir = 2;
    col.at(40, 56).mv[1] = Mv(8, 8);
    col.at(40, 56).refPoc[1] = 24; // distance -8: the current picture's distance to POC 4 is 4
    ASSERT_TRUE(TemporalMv(s, 32, 48, 16, 16, 0, 0, mv));
    EXPECT_EQ(mv, Mv(-4, -4));
}

TEST(VvcMotion, TemporalVectorOfACollocatedUnitWithBothListsFollowsTheCollocatedListFlag)
{
    // The collocated picture (POC 16) has a unit predicting from POC 0 (list 0, distance 16) and
    // POC 24 (list 1, distance -8), and one predicting from POC 24 through list 1 only. The
    // current picture is POC 8: list 0 {4, 0}, list 1 {16, 12}, or {4, 0} in both lists (no
    // reference after it).
    ColMotion bi;
    bi.interDir = 3;
    bi.mv[0] = Mv(32, 0);
    bi.refPoc[0] = 0;
    bi.mv[1] = Mv(-64, 0);
    bi.refPoc[1] = 24;
    ColMotion l1Only = bi;
    l1Only.interDir = 2;
    MotionField field;
    ASSERT_TRUE(field.create(128, 128));
    field.poc = 16;
    // From list 0 (to POC 0): 32 * 4 / 16 = 8; from list 1 (to POC 24): -64 * 4 / -8 = 32, with
    // the current distance 4 to POC 4 (list 0 and, without backward references, list 1 entry 0).
    struct Case
    {
        char const* what;
        ColMotion const* col;
        bool colFromL0, noBackward, sbFlag;
        int l;
        bool available;
        int wantX;
    } const cases[] = {
        {"references on both sides, collocated from list 0: its list 1", &bi, true, false, false, 0, true, 32},
        {"references on both sides, collocated from list 1: its list 0", &bi, false, false, false, 0, true, 8},
        {"no backward reference: the list asked for (0)", &bi, true, true, false, 0, true, 8},
        {"no backward reference: the list asked for (1)", &bi, false, true, false, 1, true, 32},
        {"one list only: that list whatever the flag", &l1Only, false, false, false, 0, true, 32},
        {"subblock rule: the same list, else none", &l1Only, false, false, true, 0, false, 0},
        {"subblock rule, no backward reference: the other list", &l1Only, false, true, true, 0, true, 32},
    };
    for (Case const& c : cases) {
        SliceMotion s = Slice(true);
        if (c.noBackward) {
            s.refs.poc[1][0] = 4;
            s.refs.poc[1][1] = 0;
        }
        s.deriveListProperties();
        ASSERT_EQ(s.noBackwardPred, c.noBackward) << c.what;
        s.colField = &field;
        s.colFromL0 = c.colFromL0;
        Mv mv(99, 99);
        ASSERT_EQ(ColVector(s, *c.col, c.l, 0, c.sbFlag, mv), c.available) << c.what;
        if (c.available)
            EXPECT_EQ(mv, Mv(c.wantX, 0)) << c.what;
    }
}

TEST(VvcMotion, StoredFieldKeepsItsPictureNumberForTheScaling)
{
    // A picture of POC 4 predicted from POC 0: its field scales by that distance of 4 later.
    SliceMotion const prev = [] {
        SliceMotion p;
        p.currPoc = 4;
        p.refs.num[0] = 1;
        p.refs.poc[0][0] = 0;
        return p;
    }();
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    Put(g, prev, 32, 32, 32, 32, Uni(0, 0, Mv(40, -20)));
    MotionField col;
    ASSERT_TRUE(g.storeField(col, 4));
    EXPECT_EQ(col.poc, 4);
    // The current picture (POC 8) to POC 0 is twice as far: the vector doubles.
    SliceMotion s = Slice(false);
    s.colField = &col;
    Mv mv;
    ASSERT_TRUE(TemporalMv(s, 32, 32, 16, 16, 0, 1, mv));
    EXPECT_EQ(mv, Mv(80, -40));
    // To POC 4 (distance 4, as the collocated one): unchanged.
    ASSERT_TRUE(TemporalMv(s, 32, 32, 16, 16, 0, 0, mv));
    EXPECT_EQ(mv, Mv(40, -20));
}

TEST(VvcMotion, StoredFieldGivesLaterPicturesTheRefinedVectors)
{
    // The collocated picture, POC 16, predicted from POC 0; DMVR refined its unit's vector.
    SliceMotion colSlice;
    colSlice.currPoc = 16;
    colSlice.refs.num[0] = 1;
    colSlice.refs.poc[0][0] = 0;
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    CuMotion m;
    m.cand = Uni(0, 0, Mv(64, -32));
    Mv refined[16][2];
    for (auto& r : refined)
        r[0] = Mv(68, -32);
    g.storeCu(48, 48, 16, 16, m, colSlice.refs, refined);
    MotionField field;
    ASSERT_TRUE(g.storeField(field, colSlice.currPoc));
    // POC 8 predicting from POC 4: the refined vector, not the derived one, scaled by 4/16.
    SliceMotion s = Slice(true);
    s.colField = &field;
    Mv mv;
    ASSERT_TRUE(TemporalMv(s, 32, 32, 16, 16, 0, 0, mv));
    EXPECT_EQ(mv, Mv(17, -8));
}

TEST(VvcMotion, StoredFieldKeepsSixSignificantBitsOfEachVector)
{
    // Within [-64, 63] a component is kept as it is; beyond, to six significant bits and the
    // sign, rounded half up (-62.5 sixteenths to -62), also where the rounding carries.
    struct Case
    {
        int32_t in, want;
    } const cases[] = {
        {0, 0},         {31, 31},       {63, 63},     {-64, -64},    {64, 64},      {101, 102},
        {-101, -100},   {-65, -64},     {127, 128},   {-128, -128},  {1000, 1008},  {-1000, -992},
        {131071, 131072}, {-131072, -131072},
    };
    for (Case const& c : cases)
        EXPECT_EQ(CompressMv(Mv(c.in, c.in)), Mv(c.want, c.want)) << c.in;
    // The field of a picture holds the reduced vectors: an unscaled temporal candidate (same
    // distance) gives them back, reduced.
    SliceMotion prev = Slice(false);
    prev.currPoc = 12;
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    Put(g, prev, 32, 32, 32, 32, Uni(0, 1, Mv(1000, -101)));
    MotionField col;
    ASSERT_TRUE(g.storeField(col, 12));
    EXPECT_EQ(col.at(32, 32).mv[0], Mv(1008, -100));
    SliceMotion s = Slice(false);
    s.refs.poc[0][0] = -4; // POC 8 to -4: the collocated distance of 12
    s.colField = &col;
    Mv mv;
    ASSERT_TRUE(TemporalMv(s, 32, 32, 16, 16, 0, 0, mv));
    EXPECT_EQ(mv, Mv(1008, -100));
}

TEST(VvcMotion, AmvpTakesNeighboursOfTheTargetPictureAndRoundsToAmvr)
{
    SliceMotion s = Slice(true);
    s.refs.poc[1][1] = 4; // list 1 entry 1 is the picture of list 0 entry 0
    s.deriveListProperties();
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    // A1: predicts from list 1 entry 1 (POC 4): the target of list 0 entry 0 through the other list.
    Put(g, s, 16, 32, 16, 16, Uni(1, 1, Mv(-6, -10)));
    // B1 predicts from POC 0 only: not a candidate for target POC 4; B0 not decoded; B2 like A1.
    Put(g, s, 32, 16, 16, 16, Uni(0, 1, Mv(100, 0)));
    Put(g, s, 16, 16, 16, 16, Uni(1, 1, Mv(-6, -10)));
    Hmvp h;
    h.push(Uni(0, 0, Mv(-33, 70)));
    // A = (-6, -10) at quarter precision: (-4, -8); B = B2 = the same: pruned; then history.
    EXPECT_EQ(AmvpPredictor(s, g, h, 32, 32, 16, 16, 0, 0, 0, 2), Mv(-4, -8));
    EXPECT_EQ(AmvpPredictor(s, g, h, 32, 32, 16, 16, 0, 0, 1, 2), Mv(-32, 68));
    // Four-sample precision.
    EXPECT_EQ(AmvpPredictor(s, g, h, 32, 32, 16, 16, 0, 0, 1, 6), Mv(-64, 64));
    // The vector: the predictor at the AMVR precision plus the difference (symmetric here).
    vvcslice::CodingUnit cu = Unit(32, 32, 16, 16);
    cu.inter.interPredIdc = vvcslice::kPredBi;
    cu.inter.symMvd = true;
    cu.inter.refIdx[0] = cu.inter.refIdx[1] = 0;
    cu.inter.amvrShift = 4;
    cu.inter.mvd[0][0][0] = 16;
    cu.inter.mvd[0][0][1] = -32;
    cu.inter.mvd[1][0][0] = -16;
    cu.inter.mvd[1][0][1] = 32;
    CuMotion m;
    ASSERT_TRUE(DeriveCuMotion(s, g, h, cu, m));
    EXPECT_EQ(m.cand.refIdx[0], 0);
    EXPECT_EQ(m.cand.mv[0], Mv(0 + 16, -16 - 32)); // A (-6, -10) rounded to whole samples: (0, -16)
    EXPECT_EQ(m.cand.refIdx[1], 0);
    EXPECT_EQ(m.cand.mv[1], Mv(-16, 32)); // no predictor of POC 16: zero, minus the difference
}

TEST(VvcMotion, MmvdMirrorsOrScalesTheOffsetForTheSecondList)
{
    SliceMotion s = Slice(true);
    Mv const off = MmvdOffset(s, 2, 0); // 4 quarter samples to the right
    EXPECT_EQ(off, Mv(16, 0));
    s.mmvdFullpelOnly = true;
    EXPECT_EQ(MmvdOffset(s, 2, 3), Mv(0, -64));
    s.mmvdFullpelOnly = false;
    struct Case
    {
        int r0, r1;
        Mv mv0, mv1;
    } const cases[] = {
        // L0 POC 4 (distance 4), L1 POC 12 (distance -4): mirrored.
        {0, 1, Mv(16, 0), Mv(-16, 0)},
        // L0 POC 0 (8), L1 POC 12 (-4): L0 gets the offset, L1 the scaled one.
        {1, 1, Mv(16, 0), Mv(-8, 0)},
        // L0 POC 4 (4), L1 POC 16 (-8): L1 gets the offset, L0 scaled.
        {0, 0, Mv(-8, 0), Mv(16, 0)},
    };
    for (Case const& c : cases) {
        MotionCand m = Bi(c.r0, Mv(), c.r1, Mv());
        ApplyMmvd(s, m, off);
        EXPECT_EQ(m.mv[0], c.mv0) << c.r0 << "," << c.r1;
        EXPECT_EQ(m.mv[1], c.mv1) << c.r0 << "," << c.r1;
    }
}

namespace {

// An affine list 0 unit with its subblock vectors, as the derivation leaves it.
CuMotion AffineUnitMotion(Mv cp0, Mv cp1, int w, int h)
{
    CuMotion m;
    m.kind = CuMotion::Affine;
    m.cand = Uni(0, 0, Mv());
    m.cp[0][0] = cp0;
    m.cp[0][1] = cp1;
    std::vector<Mv> mvs(size_t(w / 4) * size_t(h / 4));
    int params[4];
    AffineSubblockMvs(m.cp[0], false, w, h, false, mvs.data(), params);
    for (Mv const& v : mvs)
        m.sub.push_back(Uni(0, 0, v));
    return m;
}

} // namespace

TEST(VvcMotion, AffineSubblockVectorsAndTheBandwidthFallback)
{
    Mv const cp[3] = {Mv(0, 0), Mv(16, 0), Mv()};
    Mv sub[16];
    int p[4];
    EXPECT_FALSE(AffineSubblockMvs(cp, false, 16, 16, true, sub, p));
    EXPECT_EQ(p[0], 128); // the change per sample (one sixteenth) scaled by 128
    EXPECT_EQ(p[3], 128);
    EXPECT_EQ(sub[0], Mv(2, 2)); // the vector at each subblock's centre (a zoom)
    EXPECT_EQ(sub[7], Mv(14, 6));
    EXPECT_EQ(sub[15], Mv(14, 14));
    // A zoom that would make each subblock read far apart: every subblock takes the centre's.
    Mv const zoom[3] = {Mv(0, 0), Mv(2048, 0), Mv()};
    for (bool bi : {false, true}) {
        EXPECT_TRUE(AffineSubblockMvs(zoom, false, 16, 16, bi, sub, p));
        EXPECT_EQ(sub[0], Mv(1024, 1024));
        EXPECT_EQ(sub[15], Mv(1024, 1024));
    }
}

TEST(VvcMotion, InheritedAffineAcrossACtuRowUsesTheBottomRowAbove)
{
    // Neighbour: 32x16 at (0, 48), a zoom (cp0 (0, 0), cp1 (64, 0)); its bottom 4x4 row holds
    // (4, 28) at the left and (60, 28) at the right. Current unit: 16x16 at (8, 64).
    struct Case
    {
        int log2Ctu;
        Mv cp0, cp1;
    } const cases[] = {
        {6, Mv(18, 28), Mv(46, 28)}, // y 64 starts a CTU row: four parameters from the bottom row
        {7, Mv(16, 32), Mv(48, 32)}, // inside a CTU: the neighbour's control points
    };
    for (Case const& c : cases) {
        SliceMotion s = Slice(false);
        s.log2CtuSize = c.log2Ctu;
        s.affine = true;
        s.maxNumSubblockMergeCand = 5;
        MotionGrid g;
        ASSERT_TRUE(g.create(128, 128));
        g.storeCu(0, 48, 32, 16, AffineUnitMotion(Mv(0, 0), Mv(64, 0), 32, 16), s.refs);
        ASSERT_EQ(g.at(0, 63).m.mv[0], Mv(4, 28));
        ASSERT_EQ(g.at(31, 63).m.mv[0], Mv(60, 28));
        vvcslice::CodingUnit cu = Unit(8, 64, 16, 16);
        cu.inter.merge = vvcslice::MergeKind::Subblock;
        CuMotion m;
        ASSERT_TRUE(DeriveCuMotion(s, g, Hmvp(), cu, m));
        EXPECT_EQ(m.kind, CuMotion::Affine);
        EXPECT_FALSE(m.sixParam);
        EXPECT_EQ(m.cp[0][0], c.cp0) << c.log2Ctu;
        EXPECT_EQ(m.cp[0][1], c.cp1) << c.log2Ctu;
    }
}

TEST(VvcMotion, SubblockMergeSkipsNeighboursInTheMergeEstimationRegion)
{
    // An affine unit 8x16 at (16, 16) left of the current 8x8 unit at (24, 16). With 4x4
    // regions it is inherited; with 16x16 regions both lie in one region, the left and corner
    // neighbours drop out and only the zero candidate is left.
    struct Case
    {
        int log2ParMrgLevel;
        Mv cp0;
    } const cases[] = {{2, Mv(32, 0)}, {4, Mv()}};
    for (Case const& c : cases) {
        SliceMotion s = Slice(false);
        s.affine = true;
        s.maxNumSubblockMergeCand = 5;
        s.log2ParMrgLevel = c.log2ParMrgLevel;
        MotionGrid g;
        ASSERT_TRUE(g.create(128, 128));
        g.storeCu(16, 16, 8, 16, AffineUnitMotion(Mv(0, 0), Mv(32, 0), 8, 16), s.refs);
        vvcslice::CodingUnit cu = Unit(24, 16, 8, 8);
        cu.inter.merge = vvcslice::MergeKind::Subblock;
        CuMotion m;
        ASSERT_TRUE(DeriveCuMotion(s, g, Hmvp(), cu, m));
        EXPECT_EQ(m.kind, CuMotion::Affine);
        EXPECT_EQ(m.cp[0][0], c.cp0) << c.log2ParMrgLevel;
    }
}

TEST(VvcMotion, SubblockTemporalDisplacementRoundsToTheNearestSample)
{
    // The left neighbour moves 7.75 samples down from the collocated picture: the unit's
    // centre (24, 24) lands at row 32 (not 31), in the collocated rows with motion below the
    // intra ones, so the candidate exists and takes their vector.
    SliceMotion s = Slice(false);
    s.sbtmvp = true;
    s.maxNumSubblockMergeCand = 1;
    MotionField col;
    ASSERT_TRUE(col.create(128, 128));
    col.poc = 4;
    for (int y = 32; y < 128; y += 8)
        for (int x = 0; x < 128; x += 8) {
            ColMotion& e = col.at(x, y);
            e.interDir = 1;
            e.mv[0] = Mv(32, 0);
            e.refPoc[0] = 0;
        }
    s.colField = &col;
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    Put(g, s, 8, 16, 8, 16, Uni(0, 0, Mv(0, 124)));
    vvcslice::CodingUnit cu = Unit(16, 16, 16, 16);
    cu.inter.merge = vvcslice::MergeKind::Subblock;
    CuMotion m;
    ASSERT_TRUE(DeriveCuMotion(s, g, Hmvp(), cu, m));
    ASSERT_EQ(m.kind, CuMotion::SubblockTemporal);
    ASSERT_EQ(m.sub.size(), 4u);
    for (MotionCand const& sb : m.sub)
        EXPECT_EQ(sb.mv[0], Mv(32, 0));
}

TEST(VvcMotion, AffineAmvpFillsUpWithSingleCornersBottomLeftFirst)
{
    // A 4-parameter unit at (32, 32) with translational neighbours at its top-left corner (B2)
    // and left of its bottom-left corner (A1) only: no inherited or constructed predictor, so
    // the list is the bottom-left corner's vector, then the top-left one, each for all points.
    SliceMotion const s = Slice(false);
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    Put(g, s, 28, 28, 4, 4, Uni(0, 0, Mv(16, 0)));
    Put(g, s, 28, 44, 4, 4, Uni(0, 0, Mv(0, 32)));
    vvcslice::CodingUnit cu = Unit(32, 32, 16, 16);
    cu.inter.affine = true;
    cu.inter.refIdx[0] = 0;
    struct Case
    {
        bool mvpFlag;
        Mv expected;
    } const cases[] = {{false, Mv(0, 32)}, {true, Mv(16, 0)}};
    for (Case const& c : cases) {
        cu.inter.mvpFlag[0] = c.mvpFlag;
        CuMotion m;
        ASSERT_TRUE(DeriveCuMotion(s, g, Hmvp(), cu, m));
        ASSERT_EQ(m.kind, CuMotion::Affine);
        EXPECT_EQ(m.cp[0][0], c.expected) << c.mvpFlag;
        EXPECT_EQ(m.cp[0][1], c.expected) << c.mvpFlag;
    }
}

TEST(VvcMotion, SubblockMergeWithoutAffineFallsBackToTheZeroCandidate)
{
    // Only the subblock temporal mode is enabled and it has no candidate here (no collocated
    // field): the list's one entry is the zero candidate, of both lists in a B slice.
    for (bool b : {false, true}) {
        SliceMotion s = Slice(b);
        s.sbtmvp = true;
        s.maxNumSubblockMergeCand = 1;
        MotionGrid g;
        ASSERT_TRUE(g.create(128, 128));
        vvcslice::CodingUnit cu = Unit(32, 32, 16, 8);
        cu.inter.merge = vvcslice::MergeKind::Subblock;
        CuMotion m;
        ASSERT_TRUE(DeriveCuMotion(s, g, Hmvp(), cu, m)) << b;
        EXPECT_EQ(m.cand.interDir, b ? 3 : 1) << b;
        EXPECT_EQ(m.cand.refIdx[0], 0) << b;
        EXPECT_EQ(m.cand.refIdx[1], b ? 0 : -1) << b;
        ASSERT_FALSE(m.sub.empty());
        for (MotionCand const& sb : m.sub)
            EXPECT_EQ(sb.mv[0], Mv()) << b;
    }
}

TEST(VvcMotion, GpmPartsTakeTheListOfTheirParityAndStoreBothOnTheLine)
{
    SliceMotion s = Slice(true);
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    vvcslice::CodingUnit cu = Unit(32, 32, 16, 16);
    cu.inter.merge = vvcslice::MergeKind::Gpm;
    cu.inter.gpmCand[0] = 1; // merge candidate 1: zero, references 1 and 1: list 1 (odd)
    cu.inter.gpmCand[1] = 2; // candidate 2: zero, references 0 and 0: list 0 (even)
    CuMotion m;
    ASSERT_TRUE(DeriveCuMotion(s, g, Hmvp(), cu, m));
    ASSERT_EQ(m.kind, CuMotion::Gpm);
    EXPECT_TRUE(m.gpmCand[0].sameMotion(Uni(1, 1, Mv())));
    EXPECT_TRUE(m.gpmCand[1].sameMotion(Uni(0, 0, Mv())));
    // Angle 0 (a vertical line), distance 0, 16x16: columns B, the line, A, A (the samples of
    // the left column are weighted 0 to part A).
    m.gpmAngle = 0;
    m.gpmDistance = 0;
    m.gpmCand[0] = Uni(0, 0, Mv(16, 0));
    m.gpmCand[1] = Uni(1, 0, Mv(-16, 0));
    EXPECT_TRUE(GpmStoredMotion(m, 16, 16, 0, 2).sameMotion(m.gpmCand[1]));
    EXPECT_TRUE(GpmStoredMotion(m, 16, 16, 1, 2).sameMotion(Bi(0, Mv(16, 0), 0, Mv(-16, 0))));
    EXPECT_TRUE(GpmStoredMotion(m, 16, 16, 2, 0).sameMotion(m.gpmCand[0]));
    EXPECT_TRUE(GpmStoredMotion(m, 16, 16, 3, 3).sameMotion(m.gpmCand[0]));
    // Both parts from list 0: the line keeps part B's.
    m.gpmCand[1] = Uni(0, 1, Mv(-16, 0));
    EXPECT_TRUE(GpmStoredMotion(m, 16, 16, 1, 2).sameMotion(m.gpmCand[1]));
}

// The motion stored for a 4x4 block is that of the part whose weight its samples take: part A
// where all 16 samples are predicted from A alone, part B where none is.
TEST(VvcMotion, GpmPartsDropTheHalfSampleFilterOfTheirCandidates)
{
    // B1 of the GPM unit was coded at half-sample precision (alternative filter). GPM predicts
    // with the regular filters, and what it stores gives later merge candidates no such choice.
    SliceMotion s = Slice(false);
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    MotionCand half = Uni(0, 0, Mv(8, 0));
    half.hpelIf = true;
    Put(g, s, 32, 16, 16, 16, half);
    vvcslice::CodingUnit cu = Unit(32, 32, 16, 16);
    cu.inter.merge = vvcslice::MergeKind::Gpm;
    cu.inter.gpmCand[0] = 0;
    cu.inter.gpmCand[1] = 1;
    CuMotion m;
    ASSERT_TRUE(DeriveCuMotion(s, g, Hmvp(), cu, m));
    ASSERT_EQ(m.kind, CuMotion::Gpm);
    EXPECT_EQ(m.gpmCand[0].mv[0], Mv(8, 0));
    EXPECT_FALSE(m.gpmCand[0].hpelIf);
    GpmSplit(0, m.gpmAngle, m.gpmDistance);
    g.storeCu(32, 32, 16, 16, m, s.refs);
    for (int y = 32; y < 48; y += 4)
        for (int x = 32; x < 48; x += 4)
            EXPECT_FALSE(g.at(x, y).m.hpelIf) << x << "," << y;
}

TEST(VvcMotion, GpmStoredPartAgreesWithTheSampleWeights)
{
    CuMotion m;
    m.kind = CuMotion::Gpm;
    m.gpmCand[0] = Uni(0, 0, Mv(16, 0));
    m.gpmCand[1] = Uni(1, 0, Mv(-16, 0));
    int const sizes[][2] = {{8, 8}, {16, 8}, {8, 32}, {32, 32}, {64, 16}};
    for (auto const& sz : sizes)
        for (int split = 0; split < 64; ++split) {
            m.gpmPartition = split;
            GpmSplit(split, m.gpmAngle, m.gpmDistance);
            for (int y4 = 0; y4 < sz[1] / 4; ++y4)
                for (int x4 = 0; x4 < sz[0] / 4; ++x4) {
                    int lo = 8, hi = 0;
                    for (int y = 0; y < 4; ++y)
                        for (int x = 0; x < 4; ++x) {
                            int const wA = GpmWeight(split, sz[0], sz[1], 4 * x4 + x, 4 * y4 + y);
                            lo = std::min(lo, wA);
                            hi = std::max(hi, wA);
                        }
                    MotionCand const stored = GpmStoredMotion(m, sz[0], sz[1], x4, y4);
                    if (lo == 8)
                        EXPECT_TRUE(stored.sameMotion(m.gpmCand[0])) << sz[0] << "x" << sz[1] << " split " << split;
                    if (hi == 0)
                        EXPECT_TRUE(stored.sameMotion(m.gpmCand[1])) << sz[0] << "x" << sz[1] << " split " << split;
                }
        }
}

TEST(VvcMotion, EdgeStrengthComparesPicturesNumbersAndVectors)
{
    auto info = [](MotionCand c, int poc0, int poc1) {
        MotionInfo i;
        i.mode = PredMode::Inter;
        i.m = c;
        i.refPoc[0] = poc0;
        i.refPoc[1] = poc1;
        return i;
    };
    struct Case
    {
        MotionInfo p, q;
        int bs;
        char const* what;
    } const cases[] = {
        {info(Uni(0, 0, Mv(0, 0)), 4, 0), info(Uni(0, 0, Mv(7, -7)), 4, 0), 0, "same picture, < 8"},
        {info(Uni(0, 0, Mv(0, 0)), 4, 0), info(Uni(0, 0, Mv(0, 8)), 4, 0), 1, "same picture, 8"},
        {info(Uni(0, 0, Mv()), 4, 0), info(Uni(1, 0, Mv()), 0, 4), 0, "one picture through either list"},
        {info(Uni(0, 0, Mv()), 4, 0), info(Uni(0, 1, Mv()), 0, 0), 1, "other picture"},
        {info(Uni(0, 0, Mv()), 4, 0), info(Bi(0, Mv(), 0, Mv()), 4, 4), 1, "one vector against two"},
        {info(Bi(0, Mv(1, 0), 0, Mv(20, 0)), 4, 16), info(Bi(0, Mv(20, 0), 0, Mv(1, 0)), 16, 4), 0,
         "two pictures, lists swapped"},
        {info(Bi(0, Mv(0, 0), 0, Mv(8, 0)), 4, 4), info(Bi(0, Mv(8, 0), 0, Mv(0, 0)), 4, 4), 0,
         "one picture twice, the crossed pairing matches"},
        {info(Bi(0, Mv(0, 0), 0, Mv(8, 0)), 4, 4), info(Bi(0, Mv(8, 0), 0, Mv(8, 0)), 4, 4), 1,
         "one picture twice, neither pairing matches"},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(MotionEdgeStrength(c.p, c.q), c.bs) << c.what;
        EXPECT_EQ(MotionEdgeStrength(c.q, c.p), c.bs) << c.what;
    }
    MotionInfo ibc;
    ibc.mode = PredMode::Ibc;
    EXPECT_EQ(MotionEdgeStrength(ibc, cases[0].p), 1);
}

TEST(VvcMotion, HistoryTakesTranslationalUnitsThatEndAMergeRegion)
{
    SliceMotion s = Slice(false);
    s.log2ParMrgLevel = 4; // 16x16 regions
    struct Case
    {
        int x, y, w, h;
        CuMotion::Kind kind;
        bool enters;
    } const cases[] = {
        {0, 0, 8, 8, CuMotion::Translational, false},  // inside the region
        {8, 0, 8, 8, CuMotion::Translational, false},  // reaches its right, not its bottom
        {8, 8, 8, 8, CuMotion::Translational, true},   // its bottom-right corner
        {0, 0, 32, 16, CuMotion::Translational, true}, // larger than the region
        {0, 0, 32, 16, CuMotion::Affine, false},
        {0, 0, 32, 16, CuMotion::Gpm, false},
    };
    for (Case const& c : cases) {
        Hmvp h;
        CuMotion m;
        m.kind = c.kind;
        m.cand = Uni(0, 0, Mv(4, 4));
        vvcinter::UpdateHistory(s, h, Unit(c.x, c.y, c.w, c.h), m);
        EXPECT_EQ(h.size(), c.enters ? 1 : 0) << c.x << "," << c.y << " " << c.w << "x" << c.h << " kind " << c.kind;
    }
}

TEST(VvcMotion, AmvpHistoryFromTheOldestWithBothListsOfAnEntry)
{
    SliceMotion s = Slice(true);
    s.refs.poc[1][1] = 4; // list 1 entry 1 is the picture of list 0 entry 0 (target POC 4)
    s.deriveListProperties();
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    MotionCand const both = Bi(0, Mv(8, 0), 1, Mv(16, 0)); // both lists predict from POC 4
    Hmvp h;
    h.push(both);
    EXPECT_EQ(AmvpPredictor(s, g, h, 32, 32, 16, 16, 0, 0, 0, 2), Mv(8, 0));
    EXPECT_EQ(AmvpPredictor(s, g, h, 32, 32, 16, 16, 0, 0, 1, 2), Mv(16, 0));
    Hmvp older;
    older.push(Uni(0, 0, Mv(40, 0)));
    older.push(both);
    EXPECT_EQ(AmvpPredictor(s, g, older, 32, 32, 16, 16, 0, 0, 0, 2), Mv(40, 0));
    EXPECT_EQ(AmvpPredictor(s, g, older, 32, 32, 16, 16, 0, 0, 1, 2), Mv(8, 0));
    // Only the four oldest entries are read: the newest of five gives nothing.
    Hmvp full;
    for (int k = 0; k < 4; ++k)
        full.push(Uni(0, 1, Mv(4 * k, 0))); // POC 0
    full.push(Uni(0, 0, Mv(40, 0)));
    EXPECT_EQ(AmvpPredictor(s, g, full, 32, 32, 16, 16, 0, 0, 0, 2), Mv());
}

TEST(VvcMotion, MmvdOfAnEightByFourUnitKeepsTheListZeroOffsetOfTheBiPredictedBase)
{
    // No neighbours: the bases are the zero candidates. The first has list 0 POC 4 (distance 4)
    // and list 1 POC 16 (distance -8): bi-predicted, list 1 takes the offset and list 0 the
    // scaled one. The second has list 0 POC 0 (distance 8) and list 1 POC 12 (distance -4): list
    // 0 takes the offset. An 8x4 unit drops list 1 only after the offsets are set, so its list 0
    // keeps what the bi-predicted unit would give it.
    SliceMotion s = Slice(true);
    MotionGrid g;
    ASSERT_TRUE(g.create(128, 128));
    struct Case
    {
        int w, h, base;
        uint8_t interDir;
        Mv mv0, mv1;
    } const cases[] = {
        {16, 16, 0, 3, Mv(-8, 0), Mv(16, 0)},
        {8, 4, 0, 1, Mv(-8, 0), Mv()},
        {4, 8, 0, 1, Mv(-8, 0), Mv()},
        {16, 16, 1, 3, Mv(16, 0), Mv(-8, 0)},
        {8, 4, 1, 1, Mv(16, 0), Mv()},
    };
    for (Case const& c : cases) {
        vvcslice::CodingUnit cu = Unit(32, 32, c.w, c.h);
        cu.inter.merge = vvcslice::MergeKind::Mmvd;
        cu.inter.mmvdCandFlag = c.base;
        cu.inter.mmvdDistanceIdx = 2; // one sample
        cu.inter.mmvdDirectionIdx = 0;
        CuMotion m;
        ASSERT_TRUE(DeriveCuMotion(s, g, Hmvp(), cu, m));
        EXPECT_EQ(m.cand.interDir, c.interDir) << c.w << "x" << c.h << " base " << c.base;
        EXPECT_EQ(m.cand.mv[0], c.mv0) << c.w << "x" << c.h << " base " << c.base;
        EXPECT_EQ(m.cand.mv[1], c.mv1) << c.w << "x" << c.h << " base " << c.base;
    }
}
