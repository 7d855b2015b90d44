// Entropy decoding of P and B slice data against hand-encoded coding units: each case writes the
// bins of one unit with the tests' arithmetic encoder (binarizations and context choices as the
// syntax defines them) and checks the unit record the parse hands out; a wrong context or
// binarization desynchronizes the decoder, so the slice would no longer end at its last bin.

#include "slice/SliceParser.h"
#include "vvc_platform/vvc_cabac_encoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace vvcsyntax;
using vvcslice::CodingUnit;
using vvcslice::MergeKind;

namespace {

// Slice data written bin by bin with the decoder's initial contexts of the slice type.
struct SliceWriter
{
    std::vector<ContextModel> ctx;
    vvctest::Encoder e;
    explicit SliceWriter(int initType) : ctx(vvcslice::InitialContexts(initType, 26)) {}
    void bin(char const* group, int inc, unsigned v)
    {
        int const offset = vvcslice::ContextOffset(group);
        ASSERT_GE(offset, 0) << group;
        e.encodeBin(ctx[size_t(offset + inc)], v);
    }
    void bypass(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            e.encodeBypass((v >> i) & 1);
    }
    // Truncated unary with a context coded first bin.
    void truncUnary(char const* group, int v, int cMax)
    {
        bin(group, 0, v > 0);
        for (int k = 1; k < v; ++k)
            e.encodeBypass(1);
        if (v > 0 && v < cMax)
            e.encodeBypass(0);
    }
    // mvd_coding: greater-than-0 and -1 flags, then per component EG1 of abs - 2 and the sign.
    void mvd(int x, int y)
    {
        int const v[2] = {x, y};
        for (int c : v)
            bin("MVD", 0, c != 0);
        for (int c : v)
            if (c != 0)
                bin("MVD", 1, std::abs(c) > 1);
        for (int c : v) {
            if (c == 0)
                continue;
            if (std::abs(c) > 1) {
                int rest = std::abs(c) - 2, k = 1;
                while (rest >= (1 << k)) {
                    e.encodeBypass(1);
                    rest -= 1 << k;
                    ++k;
                }
                e.encodeBypass(0);
                bypass(uint32_t(rest), k);
            }
            e.encodeBypass(c < 0);
        }
    }
    // A luma residual whose only coefficient is a DC level of 1.
    void dcResidual(int log2W, int log2H)
    {
        static int const prefixCtx[6] = {0, 0, 0, 3, 6, 10};
        if (log2W > 0)
            bin("LASTX_L", prefixCtx[log2W], 0);
        if (log2H > 0)
            bin("LASTY_L", prefixCtx[log2H], 0);
        bin("GT1_L", 0, 0);
        e.encodeBypass(0);
    }
    std::vector<uint8_t> finish()
    {
        e.encodeTerminate(1);
        return e.finish();
    }
};

// One 32x32 CTU in a 4:0:0 picture (no chroma syntax), without splits, SAO or ALF.
struct Fixture
{
    SeqParameterSet sps;
    PicParameterSet pps;
    SliceHeaderParams sh;
    explicit Fixture(int sliceType, int ctus = 1)
    {
        sps.chromaFormatIdc = 0;
        sps.bitDepth = 10;
        sps.log2CtuSize = 5;
        sps.log2MinCbSize = 2;
        sps.maxNumMergeCand = 6;
        pps.picWidth = 32 * ctus;
        pps.picHeight = 32;
        pps.picWidthInCtbs = ctus;
        pps.picHeightInCtbs = 1;
        pps.tileColWidth = {ctus};
        pps.tileRowHeight = {1};
        for (int i = 0; i < ctus; ++i)
            sh.ctus.push_back(i);
        sh.sliceType = sliceType;
        sh.ph.log2DiffMinQtMinCb[2] = 3; // minimum quad-tree node 32: no split
        sh.ph.maxMttDepth[2] = 0;
        // One reference before the picture in each list (two in list 0).
        setRefs(0, {-1, -2});
        setRefs(1, {-1});
    }
    // Short-term references by their POC minus that of the entry before (the current picture
    // for the first one).
    void setRefs(int l, std::vector<int> deltas)
    {
        RefPicListStruct& r = sh.rpl.own[l];
        r = RefPicListStruct();
        r.numRefEntries = int(deltas.size());
        for (int d : deltas) {
            r.interLayer.push_back(false);
            r.shortTerm.push_back(true);
            r.deltaPocSt.push_back(d);
            r.pocLsbLt.push_back(0);
        }
        sh.numRefIdxActive[l] = sh.sliceType == 0 || l == 0 ? int(deltas.size()) : 0;
    }
};

struct Recorder : vvcslice::SliceDataSink
{
    void codingUnit(CodingUnit const& cu) override { units.push_back(cu); }
    std::vector<CodingUnit> units;
};

} // namespace

TEST(VvcInterParse, UnitsDecodeToTheirRecords)
{
    enum { B = 0, P = 1 };
    struct Case
    {
        char const* name;
        int sliceType;
        std::function<void(Fixture&)> setUp;
        std::function<void(SliceWriter&)> write;
        std::function<void(CodingUnit const&)> check;
        vvcslice::CuPredMode mode = vvcslice::CuPredMode::Inter;
    };
    auto residualBlock = [](CodingUnit const& cu, int y, int h) {
        ASSERT_EQ(cu.blocks.size(), 1u);
        EXPECT_EQ(cu.blocks[0].y, y);
        EXPECT_EQ(cu.blocks[0].height, h);
        EXPECT_EQ(cu.blocks[0].width, 32);
        EXPECT_EQ(cu.blocks[0].levels[0], 1);
    };
    const Case cases[] = {
        {"skipped regular merge", P, [](Fixture&) {},
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 1);
             w.truncUnary("MERGE_IDX", 3, 5);
         },
         [](CodingUnit const& cu) {
             EXPECT_EQ(cu.inter.merge, MergeKind::Regular);
             EXPECT_TRUE(cu.inter.skip);
             EXPECT_EQ(cu.inter.mergeIdx, 3);
             EXPECT_FALSE(cu.inter.cuCoded);
             EXPECT_TRUE(cu.blocks.empty());
         }},
        {"skipped subblock merge, last candidate", P,
         [](Fixture& f) {
             f.sps.affine = true;
             f.sps.maxNumSubblockMergeCand = 5;
         },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 1);
             w.bin("SUBBLOCK_MERGE", 0, 1);
             w.truncUnary("AFF_MERGE_IDX", 4, 4);
         },
         [](CodingUnit const& cu) {
             EXPECT_EQ(cu.inter.merge, MergeKind::Subblock);
             EXPECT_EQ(cu.inter.mergeIdx, 4);
             EXPECT_TRUE(cu.inter.affine);
         }},
        {"skipped MMVD", B, [](Fixture& f) { f.sps.mmvd = true; },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 1);
             w.bin("MMVD_FLAG", 0, 1);
             w.bin("MMVD_IDX", 0, 1);
             w.truncUnary("MMVD_STEP", 5, 7);
             w.bypass(2, 2);
         },
         [](CodingUnit const& cu) {
             EXPECT_EQ(cu.inter.merge, MergeKind::Mmvd);
             EXPECT_EQ(cu.inter.mmvdCandFlag, 1);
             EXPECT_EQ(cu.inter.mmvdDistanceIdx, 5);
             EXPECT_EQ(cu.inter.mmvdDirectionIdx, 2);
         }},
        {"GPM: the second candidate skips the first", B,
         [](Fixture& f) {
             f.sps.gpm = f.sps.ciip = true;
             f.sps.maxNumGpmCand = 5;
         },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 0);
             w.bin("PRED_MODE", 0, 0);
             w.bin("MERGE_FLAG", 0, 1);
             w.bin("REG_MERGE", 1, 0);
             w.bin("CIIP", 0, 0);
             w.bypass(37, 6);
             w.truncUnary("MERGE_IDX", 2, 4);
             w.truncUnary("MERGE_IDX", 2, 3);
             w.dcResidual(5, 5); // merged: coded, luma flag inferred
         },
         [&](CodingUnit const& cu) {
             EXPECT_EQ(cu.inter.merge, MergeKind::Gpm);
             EXPECT_EQ(cu.inter.gpmSplitIdx, 37);
             EXPECT_EQ(cu.inter.gpmCand[0], 2);
             EXPECT_EQ(cu.inter.gpmCand[1], 3);
             EXPECT_TRUE(cu.inter.cuCoded);
             residualBlock(cu, 0, 32);
         }},
        {"CIIP has no SBT", B,
         [](Fixture& f) {
             f.sps.gpm = f.sps.ciip = f.sps.sbt = true;
             f.sps.maxNumGpmCand = 5;
         },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 0);
             w.bin("PRED_MODE", 0, 0);
             w.bin("MERGE_FLAG", 0, 1);
             w.bin("REG_MERGE", 1, 0);
             w.bin("CIIP", 0, 1);
             w.truncUnary("MERGE_IDX", 1, 5);
             w.dcResidual(5, 5);
         },
         [&](CodingUnit const& cu) {
             EXPECT_EQ(cu.inter.merge, MergeKind::Ciip);
             EXPECT_EQ(cu.inter.mergeIdx, 1);
             EXPECT_FALSE(cu.inter.sbt);
             residualBlock(cu, 0, 32);
         }},
        {"bi-prediction, list-1 differences zero, four-sample precision, BCW of low delay", B,
         [](Fixture& f) {
             f.sps.amvr = f.sps.bcw = f.sps.smvd = true;
             f.sh.ph.mvdL1Zero = true;
         },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 0);
             w.bin("PRED_MODE", 0, 0);
             w.bin("MERGE_FLAG", 0, 0);
             w.bin("INTER_DIR", 2, 1); // 32x32: depth context 7 - (11 >> 1)
             w.bin("REF_IDX", 0, 1);   // list 0: index 1 of 2
             w.mvd(1, -5);
             w.bin("MVP", 0, 0);
             w.bin("MVP", 0, 1); // list 1: no index, no difference
             w.bin("AMVR", 0, 1);
             w.bin("AMVR", 4, 1);
             w.bin("AMVR", 1, 1);
             w.truncUnary("BCW", 3, 4); // no reference after the picture: five weights
             w.bin("ROOT_CBF", 0, 0);
         },
         [](CodingUnit const& cu) {
             auto const& d = cu.inter;
             EXPECT_EQ(d.merge, MergeKind::None);
             EXPECT_EQ(d.interPredIdc, vvcslice::kPredBi);
             EXPECT_EQ(d.refIdx[0], 1);
             EXPECT_EQ(d.refIdx[1], 0);
             EXPECT_EQ(d.mvd[0][0][0], 64);
             EXPECT_EQ(d.mvd[0][0][1], -320);
             EXPECT_EQ(d.mvd[1][0][0], 0);
             EXPECT_EQ(d.mvd[1][0][1], 0);
             EXPECT_FALSE(d.mvpFlag[0]);
             EXPECT_TRUE(d.mvpFlag[1]);
             EXPECT_EQ(d.amvrShift, 6);
             EXPECT_FALSE(d.halfPelFilter);
             EXPECT_FALSE(d.symMvd);
             EXPECT_EQ(d.bcwIdx, 3);
             EXPECT_FALSE(d.cuCoded);
         }},
        {"symmetric differences, half-sample precision, BCW of random access", B,
         [](Fixture& f) {
             f.sps.amvr = f.sps.bcw = f.sps.smvd = true;
             f.setRefs(0, {-1, 2}); // before, then after the picture
             f.setRefs(1, {1});
         },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 0);
             w.bin("PRED_MODE", 0, 0);
             w.bin("MERGE_FLAG", 0, 0);
             w.bin("INTER_DIR", 2, 1);
             w.bin("SMVD", 0, 1);
             w.mvd(3, 0);
             w.bin("MVP", 0, 0);
             w.bin("MVP", 0, 1);
             w.bin("AMVR", 0, 1);
             w.bin("AMVR", 4, 0);
             w.truncUnary("BCW", 2, 2); // references on both sides: three weights
             w.bin("ROOT_CBF", 0, 0);
         },
         [](CodingUnit const& cu) {
             auto const& d = cu.inter;
             EXPECT_TRUE(d.symMvd);
             EXPECT_EQ(d.refIdx[0], 0);
             EXPECT_EQ(d.refIdx[1], 0);
             EXPECT_EQ(d.mvd[0][0][0], 24);
             EXPECT_EQ(d.mvd[1][0][0], -24);
             EXPECT_EQ(d.amvrShift, 3);
             EXPECT_TRUE(d.halfPelFilter);
             EXPECT_EQ(d.bcwIdx, 2);
         }},
        {"6-parameter affine of list 1, whole-sample precision", B,
         [](Fixture& f) {
             f.sps.affine = f.sps.affine6Param = f.sps.amvr = f.sps.affineAmvr = true;
             f.sps.maxNumSubblockMergeCand = 5;
         },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 0);
             w.bin("PRED_MODE", 0, 0);
             w.bin("MERGE_FLAG", 0, 0);
             w.bin("INTER_DIR", 2, 0);
             w.bin("INTER_DIR", 5, 1);
             w.bin("AFFINE", 0, 1);
             w.bin("AFFINE_TYPE", 0, 1);
             w.mvd(1, 0);
             w.mvd(0, 0);
             w.mvd(0, -2);
             w.bin("MVP", 0, 0);
             w.bin("AMVR", 2, 1);
             w.bin("AMVR", 3, 1);
             w.bin("ROOT_CBF", 0, 0);
         },
         [](CodingUnit const& cu) {
             auto const& d = cu.inter;
             EXPECT_EQ(d.interPredIdc, vvcslice::kPredL1);
             EXPECT_EQ(d.refIdx[0], -1);
             EXPECT_TRUE(d.affine);
             EXPECT_TRUE(d.affine6);
             EXPECT_EQ(d.mvd[1][0][0], 16);
             EXPECT_EQ(d.mvd[1][1][0], 0);
             EXPECT_EQ(d.mvd[1][2][1], -32);
             EXPECT_EQ(d.amvrShift, 4);
         }},
        {"SBT: the bottom quarter has the residual", P, [](Fixture& f) { f.sps.sbt = true; },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 0);
             w.bin("PRED_MODE", 0, 0);
             w.bin("MERGE_FLAG", 0, 0);
             w.bin("REF_IDX", 0, 0);
             w.mvd(0, 0);
             w.bin("MVP", 0, 1);
             w.bin("ROOT_CBF", 0, 1);
             w.bin("SBT", 0, 1); // larger than 256 samples
             w.bin("SBT_QUAD", 0, 1);
             w.bin("SBT_HOR", 0, 1); // square
             w.bin("SBT_POS", 0, 1);
             w.dcResidual(5, 3); // 32x8, its luma flag inferred
         },
         [&](CodingUnit const& cu) {
             auto const& d = cu.inter;
             EXPECT_TRUE(d.sbt);
             EXPECT_TRUE(d.sbtQuad);
             EXPECT_TRUE(d.sbtHorizontal);
             EXPECT_EQ(d.sbtPos, 1);
             EXPECT_EQ(d.amvrShift, 2);
             residualBlock(cu, 24, 8);
         }},
        {"block copy in a P slice", P,
         [](Fixture& f) {
             f.sps.ibc = f.sps.amvr = true;
             f.sps.maxNumIbcMergeCand = 6;
         },
         [](SliceWriter& w) {
             w.bin("SKIP", 0, 0);
             w.bin("PRED_MODE", 0, 0);
             w.bin("IBC", 0, 1);
             w.bin("MERGE_FLAG", 0, 0);
             w.mvd(-8, 0);
             w.bin("MVP", 0, 1);
             w.bin("AMVR", 1, 1); // four samples
             w.bin("ROOT_CBF", 0, 0);
         },
         [](CodingUnit const& cu) {
             EXPECT_TRUE(cu.ibc);
             EXPECT_FALSE(cu.ibcMerge);
             EXPECT_EQ(cu.ibcMvd[0], -8);
             EXPECT_EQ(cu.ibcCandIdx, 1);
             EXPECT_EQ(cu.ibcAmvrShift, 6);
         },
         vvcslice::CuPredMode::Ibc},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.sliceType);
        c.setUp(f);
        SliceWriter w(c.sliceType == P ? 1 : 2);
        c.write(w);
        std::vector<uint8_t> const data = w.finish();
        Recorder rec;
        vvcslice::SliceParseResult const r =
            vvcslice::ParseSliceData(data.data(), data.size(), f.sps, f.pps, f.sh, nullptr, &rec);
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(rec.units.size(), 1u);
        EXPECT_EQ(rec.units[0].predMode, c.mode);
        EXPECT_EQ(rec.units[0].tree, 2);
        c.check(rec.units[0]);
    }
}

TEST(VvcInterParse, FlagContextsFollowTheNeighbours)
{
    // Two CTUs: the second unit's skip and prediction-mode flags take their contexts from the
    // first (left) unit, with sh_cabac_init_flag swapping the P tables for the B ones.
    struct Case
    {
        bool leftSkipped, cabacInit;
    };
    for (Case const c : {Case{true, false}, Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(c.leftSkipped);
        Fixture f(1, 2);
        f.sh.cabacInit = c.cabacInit;
        SliceWriter w(c.cabacInit ? 2 : 1);
        if (c.leftSkipped) {
            w.bin("SKIP", 0, 1);
            w.truncUnary("MERGE_IDX", 0, 5);
        } else {
            // An intra unit: planar, no residual.
            w.bin("SKIP", 0, 0);
            w.bin("PRED_MODE", 0, 1);
            w.bin("MPM", 0, 1);
            w.bin("NOT_PLANAR", 1, 0);
            w.bin("CBF_Y", 0, 0);
        }
        w.bin("SKIP", c.leftSkipped ? 1 : 0, 0);
        w.bin("PRED_MODE", c.leftSkipped ? 0 : 1, 0);
        w.bin("MERGE_FLAG", 0, 1);
        w.truncUnary("MERGE_IDX", 5, 5);
        w.dcResidual(5, 5);
        std::vector<uint8_t> const data = w.finish();
        Recorder rec;
        vvcslice::SliceParseResult const r =
            vvcslice::ParseSliceData(data.data(), data.size(), f.sps, f.pps, f.sh, nullptr, &rec);
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(rec.units.size(), 2u);
        EXPECT_EQ(rec.units[0].predMode, c.leftSkipped ? vvcslice::CuPredMode::Inter : vvcslice::CuPredMode::Intra);
        EXPECT_EQ(rec.units[1].x, 32);
        EXPECT_EQ(rec.units[1].inter.mergeIdx, 5);
        EXPECT_TRUE(rec.units[1].inter.cuCoded);
    }
}

TEST(VvcInterParse, SymmetricReferencesAreTheNearestOnEachSide)
{
    struct Case
    {
        std::vector<int> l0, l1; // POC distances, current minus reference
        std::vector<bool> longTerm0;
        int sym0, sym1;
    };
    const Case cases[] = {
        {{2, -1}, {-1, 3}, {false, false}, 0, 0},
        {{3, 1}, {-4, -2}, {false, false}, 1, 1},
        {{-1}, {1}, {false}, 0, 0},              // the other way round: list 0 after, list 1 before
        {{1, 2}, {-1}, {true, false}, 1, 0},     // long-term references do not count
        {{1, 2}, {1, 2}, {false, false}, -1, -1} // low delay: none after the picture
    };
    for (Case const& c : cases) {
        vvcslice::RefDistances r;
        r.dist[0] = c.l0;
        r.dist[1] = c.l1;
        r.longTerm[0] = c.longTerm0;
        r.longTerm[1].assign(c.l1.size(), false);
        int sym[2];
        vvcslice::SymmetricMvdRefIdx(r, sym);
        EXPECT_EQ(sym[0], c.sym0) << c.l0[0];
        EXPECT_EQ(sym[1], c.sym1) << c.l0[0];
    }
}
