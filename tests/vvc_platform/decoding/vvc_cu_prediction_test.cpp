// The prediction of whole inter coding units from their motion: when DMVR and BDOF apply, and
// the dispatch of subblock temporal, GPM and CIIP units (equal weights for bi-predicted CIIP)
// with the LMCS forward mapping, and the scaling windows the references take.

#include "decoding/CuPrediction.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vvcinter;

namespace {

struct Plane
{
    std::vector<uint16_t> s;
    int w, h;
    Plane(int w_, int h_, uint16_t v) : s(size_t(w_) * h_, v), w(w_), h(h_) {}
    RefPlane view() const { return RefPlane{s.data(), w, w, h, 0}; }
};

// A slice with two references in each list: POC 4 and 12 around the current POC 8 in list 0,
// 12 and 16 in list 1; reference 1 of list 0 is long-term.
struct Slice
{
    Plane y0{64, 64, 100}, c0{32, 32, 300}, y1{64, 64, 200}, c1{32, 32, 400};
    SlicePrediction s;
    Slice()
    {
        s.pic.width = s.pic.height = 64;
        s.pic.bitDepth = 10;
        s.currPoc = 8;
        s.numRefs[0] = s.numRefs[1] = 2;
        int const poc[2][2] = {{4, 12}, {12, 16}};
        for (int l = 0; l < 2; l++)
            for (int i = 0; i < 2; i++) {
                RefPicture& r = s.refs[l][i];
                Plane const& y = l == 0 ? y0 : y1;
                Plane const& c = l == 0 ? c0 : c1;
                r.planes[0] = y.view();
                r.planes[1] = r.planes[2] = c.view();
                s.refPoc[l][i] = poc[l][i];
            }
        s.longTerm[0][1] = true;
        s.dmvr = s.bdof = true;
    }
};

vvcslice::CodingUnit Merge(int w, int h)
{
    vvcslice::CodingUnit u;
    u.predMode = vvcslice::CuPredMode::Inter;
    u.x = u.y = 16;
    u.width = w;
    u.height = h;
    u.inter.merge = vvcslice::MergeKind::Regular;
    return u;
}

CuMotion BiMotion(int ref0, int ref1)
{
    CuMotion m;
    m.cand.interDir = 3;
    m.cand.refIdx[0] = int8_t(ref0);
    m.cand.refIdx[1] = int8_t(ref1);
    return m;
}

} // namespace

TEST(VvcCuPrediction, DmvrAndBdofConditions)
{
    Slice sl;
    struct Case
    {
        char const* what;
        int w, h, ref0, ref1;
        bool mmvd, symMvd, weights;
        int bcw;
        bool dmvr, bdof;
    } const cases[] = {
        {"equal distances, regular merge", 16, 16, 0, 0, false, false, false, 0, true, true},
        {"distances 4 and 8", 16, 16, 0, 1, false, false, false, 0, false, false},
        {"long-term reference", 16, 16, 1, 0, false, false, false, 0, false, false},
        {"8x8 is below 128 samples", 8, 8, 0, 0, false, false, false, 0, false, false},
        {"16x8", 16, 8, 0, 0, false, false, false, 0, true, true},
        {"MMVD keeps BDOF only", 16, 16, 0, 0, true, false, false, 0, false, true},
        {"BCW weights", 16, 16, 0, 0, false, false, false, 1, false, false},
        {"signalled weights", 16, 16, 0, 0, false, false, true, 0, false, false},
    };
    for (Case const& c : cases) {
        vvcslice::CodingUnit u = Merge(c.w, c.h);
        if (c.mmvd)
            u.inter.merge = vvcslice::MergeKind::Mmvd;
        u.inter.symMvd = c.symMvd;
        CuMotion m = BiMotion(c.ref0, c.ref1);
        m.cand.bcwIdx = uint8_t(c.bcw);
        sl.s.weighted = c.weights;
        sl.s.weightSignalled[0][c.ref0] = c.weights;
        EXPECT_EQ(CuPredictor::dmvrApplies(sl.s, u, m), c.dmvr) << c.what;
        EXPECT_EQ(CuPredictor::bdofApplies(sl.s, u, m), c.bdof) << c.what;
        sl.s.weightSignalled[0][c.ref0] = false;
    }
    // AMVP units with symmetric MVD get neither; without the symmetric MVD, BDOF only.
    vvcslice::CodingUnit u = Merge(16, 16);
    u.inter.merge = vvcslice::MergeKind::None;
    EXPECT_FALSE(CuPredictor::dmvrApplies(sl.s, u, BiMotion(0, 0)));
    EXPECT_TRUE(CuPredictor::bdofApplies(sl.s, u, BiMotion(0, 0)));
    u.inter.symMvd = true;
    EXPECT_FALSE(CuPredictor::bdofApplies(sl.s, u, BiMotion(0, 0)));
}

TEST(VvcCuPrediction, SubblockTemporalGpmAndCiip)
{
    Slice sl;
    CuPredictor pred;
    std::vector<uint16_t> y(16 * 16), cb(8 * 8), cr(8 * 8);
    PredBuf dst;
    dst.samples[0] = y.data();
    dst.samples[1] = cb.data();
    dst.samples[2] = cr.data();
    dst.stride[0] = 16;
    dst.stride[1] = dst.stride[2] = 8;

    // Subblock temporal: the left 8x8 subblocks from list 0 (100), the right ones from list 1
    // (200).
    CuMotion m;
    m.kind = CuMotion::SubblockTemporal;
    m.sbW = m.sbH = 8;
    m.sub.resize(4);
    for (int k = 0; k < 4; k++) {
        m.sub[size_t(k)].interDir = k % 2 ? 2 : 1;
        m.sub[size_t(k)].refIdx[k % 2] = 0;
    }
    vvcslice::CodingUnit u = Merge(16, 16);
    u.inter.merge = vvcslice::MergeKind::Subblock;
    ASSERT_TRUE(pred.predict(sl.s, u, m, dst));
    EXPECT_EQ(y[0], 100);
    EXPECT_EQ(y[15 * 16 + 15], 200);
    EXPECT_EQ(cb[0], 300);
    EXPECT_EQ(cb[7 * 8 + 7], 400);

    // GPM, partition 0 (vertical split): part A (list 1, 200) on the right, part B (list 0, 100)
    // on the left.
    CuMotion g;
    g.kind = CuMotion::Gpm;
    g.gpmPartition = 0;
    g.gpmCand[0].interDir = 2;
    g.gpmCand[0].refIdx[1] = 0;
    g.gpmCand[1].interDir = 1;
    g.gpmCand[1].refIdx[0] = 0;
    ASSERT_TRUE(pred.predict(sl.s, Merge(16, 16), g, dst));
    EXPECT_EQ(y[4 * 16 + 0], 100);
    EXPECT_EQ(y[4 * 16 + 15], 200);

    // CIIP of a uni-prediction (100) with an intra prediction of 500 at weight 3:
    // (3 * 500 + 100 + 2) >> 2 = 400.
    std::vector<uint16_t> iy(16 * 16, 500), icb(8 * 8, 500), icr(8 * 8, 500);
    PredBuf intra = dst;
    intra.samples[0] = iy.data();
    intra.samples[1] = icb.data();
    intra.samples[2] = icr.data();
    CuMotion c;
    c.ciip = true;
    c.cand.interDir = 1;
    c.cand.refIdx[0] = 0;
    vvcslice::CodingUnit uc = Merge(16, 16);
    uc.inter.merge = vvcslice::MergeKind::Ciip;
    ASSERT_TRUE(pred.predict(sl.s, uc, c, dst, nullptr, &intra, 3));
    EXPECT_EQ(y[0], 400);
    EXPECT_EQ(cb[0], (3 * 500 + 300 + 2) >> 2);
    // A bi-predicted CIIP unit averages its lists equally whatever BCW index it inherited
    // (weights 3 and 5 would give 163): (500 + 3 * 150 + 2) >> 2.
    c.cand = BiMotion(0, 0).cand;
    c.cand.bcwIdx = 1;
    ASSERT_TRUE(pred.predict(sl.s, uc, c, dst, nullptr, &intra, 1));
    EXPECT_EQ(y[0], (500 + 3 * 150 + 2) >> 2);
    EXPECT_EQ(cb[0], (500 + 3 * 350 + 2) >> 2);

    // A reference index beyond the slice's lists is refused.
    CuMotion bad;
    bad.cand.interDir = 1;
    bad.cand.refIdx[0] = 5;
    EXPECT_FALSE(pred.predict(sl.s, Merge(16, 16), bad, dst));
}

TEST(VvcCuPrediction, CiipChromaOfNarrowUnits)
{
    // A uni-prediction from list 0 (luma 100, chroma 300) blended with an intra prediction of
    // 500 at weight 3: luma always becomes (3 * 500 + 100 + 2) >> 2 = 400; chroma only where it
    // is 4 samples wide or more, 4xN units keep the inter chroma.
    struct Case
    {
        int w, h;
        int chroma;
    } const cases[] = {
        {4, 16, 300},
        {8, 8, (3 * 500 + 300 + 2) >> 2},
        {16, 4, (3 * 500 + 300 + 2) >> 2},
    };
    Slice sl;
    CuPredictor pred;
    CuMotion c;
    c.ciip = true;
    c.cand.interDir = 1;
    c.cand.refIdx[0] = 0;
    for (Case const& k : cases) {
        int const cw = k.w / 2, ch = k.h / 2;
        std::vector<uint16_t> y(size_t(k.w * k.h)), cb(size_t(cw * ch)), cr(size_t(cw * ch));
        std::vector<uint16_t> iy(y.size(), 500), icb(cb.size(), 500), icr(cr.size(), 500);
        PredBuf dst, intra;
        uint16_t* planes[3] = {y.data(), cb.data(), cr.data()};
        uint16_t* intraPlanes[3] = {iy.data(), icb.data(), icr.data()};
        for (int p = 0; p < 3; p++) {
            dst.samples[p] = planes[p];
            intra.samples[p] = intraPlanes[p];
            dst.stride[p] = intra.stride[p] = p ? cw : k.w;
        }
        vvcslice::CodingUnit u = Merge(k.w, k.h);
        u.inter.merge = vvcslice::MergeKind::Ciip;
        ASSERT_TRUE(pred.predict(sl.s, u, c, dst, nullptr, &intra, 3)) << k.w << "x" << k.h;
        EXPECT_EQ(y[y.size() - 1], 400) << k.w << "x" << k.h;
        EXPECT_EQ(cb[0], k.chroma) << k.w << "x" << k.h;
        EXPECT_EQ(cr[cr.size() - 1], k.chroma) << k.w << "x" << k.h;
    }
}

TEST(VvcCuPredictionReferences, ScalingWindowOfEachReferenceIsItsOwn)
{
    // The current picture (64x32) has no scaling window offsets; the reference of the same size
    // was coded with a window 4 samples in from the left and 2 from the top (in chroma units of
    // 4:2:0: 2 and 1). Its window, not the current one, sets the scaling ratio and offsets.
    auto sps = std::make_shared<vvcsyntax::SeqParameterSet>();
    sps->chromaFormatIdc = 1;
    sps->bitDepth = 10;
    vvcsyntax::PicParameterSet cur;
    cur.picWidth = 64;
    cur.picHeight = 32;
    auto refPps = std::make_shared<vvcsyntax::PicParameterSet>(cur);
    refPps->scalingWin[0] = 2; // left
    refPps->scalingWin[2] = 1; // top
    Picture ref;
    ASSERT_TRUE(ref.samples.create(CHROMA_420, 64, 32, 10));
    ref.seqSet = sps;
    ref.picSet = refPps;
    Picture generated; // a stand-in for a missing picture: no parameter sets
    ASSERT_TRUE(generated.samples.create(CHROMA_420, 64, 32, 10));
    SliceRefs refs;
    refs.sliceType = 1;
    refs.numActive[0] = 2;
    for (Picture* p : {&ref, &generated}) {
        RefPicEntry e;
        e.pic = p;
        refs.list[0].push_back(e);
    }
    SlicePrediction s;
    SetSliceReferences(s, *sps, cur, refs, 1);
    ASSERT_EQ(s.numRefs[0], 2);
    RefPicture const& r = s.refs[0][0];
    EXPECT_EQ(r.scalingLeft, 4);
    EXPECT_EQ(r.scalingTop, 2);
    EXPECT_EQ(r.scalingWidth, 60);
    EXPECT_EQ(r.scalingHeight, 30);
    RefPicture const& g = s.refs[0][1];
    EXPECT_EQ(g.scalingLeft, 0);
    EXPECT_EQ(g.scalingWidth, 64);
    EXPECT_EQ(g.scalingHeight, 32);
    EXPECT_EQ(s.pic.scalingWidth, 64);
}
