// Adaptive loop filter of the VVC layer: the fixed tables, filters derived from APS data, the 4x4
// classification, the luma/chroma diamond filters with clipping, virtual boundaries and boundary
// padding, the cross-component filter, the sample range at 10 bits, and the vector kernels
// (row filters, classification) against the portable ones.

#include "loopfilter/Alf.h"
#include "loopfilter/AlfKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace {

// A 4:2:0 (or 4:0:0) picture with an input and an output copy of each plane.
struct AlfTestPicture
{
    int width, height, ctbSize;
    bool chroma;
    std::vector<uint16_t> in[3], out[3];
    AlfPictureInfo info;

    AlfTestPicture(int w, int h, int ctb, bool withChroma = true)
        : width(w), height(h), ctbSize(ctb), chroma(withChroma)
    {
        for (int c = 0; c < planes(); ++c) {
            in[c].assign(size_t(pw(c)) * size_t(ph(c)), 0);
            out[c].assign(in[c].size(), 0xffff);
        }
        info.chromaFormatIdc = chroma ? 1 : 0;
        info.bitDepthLuma = info.bitDepthChroma = 10;
        info.ctbSize = ctb;
        info.width = w;
        info.height = h;
    }
    int planes() const { return chroma ? 3 : 1; }
    int pw(int c) const { return c ? (width + 1) / 2 : width; }
    int ph(int c) const { return c ? (height + 1) / 2 : height; }
    int ctbCols() const { return (width + ctbSize - 1) / ctbSize; }
    int ctbRows() const { return (height + ctbSize - 1) / ctbSize; }
    uint16_t& src(int c, int x, int y) { return in[c][size_t(y) * size_t(pw(c)) + size_t(x)]; }
    int dst(int c, int x, int y) const { return out[c][size_t(y) * size_t(pw(c)) + size_t(x)]; }
    template <class F>
    void fill(int c, F f)
    {
        for (int y = 0; y < ph(c); ++y)
            for (int x = 0; x < pw(c); ++x)
                src(c, x, y) = uint16_t(f(x, y));
    }
    AlfStatus run(std::vector<AlfCtbParams> const& ctbs)
    {
        AlfPlaneIn pin[3];
        AlfPlaneOut pout[3];
        for (int c = 0; c < planes(); ++c) {
            pin[c] = AlfPlaneIn{in[c].data(), pw(c), pw(c), ph(c)};
            pout[c] = AlfPlaneOut{out[c].data(), pw(c), pw(c), ph(c)};
        }
        return ApplyAlfPicture(info, pin, pout, ctbs);
    }
    // Every CTB with the same control.
    AlfStatus run(AlfCtbParams const& ctb)
    {
        return run(std::vector<AlfCtbParams>(size_t(ctbCols() * ctbRows()), ctb));
    }
};

// One luma filter for all 25 classes: the given taps (index, coefficient), every clip at clipIdx.
AlfLumaFilterSet uniformLuma(std::vector<std::pair<int, int>> const& taps, int clipIdx = 0, int bitDepth = 10)
{
    AlfLumaFilterSet s;
    for (int k = 0; k < kAlfNumClasses; ++k)
        for (int j = 0; j < kAlfLumaTaps; ++j)
            s.clip[k][j] = AlfClipValue(clipIdx, bitDepth);
    for (auto const& t : taps)
        for (int k = 0; k < kAlfNumClasses; ++k)
            s.coeff[k][t.first] = int16_t(t.second);
    return s;
}

AlfChromaFilter chromaFilter(std::vector<std::pair<int, int>> const& taps, int clipIdx = 0)
{
    AlfChromaFilter f;
    for (int j = 0; j < kAlfChromaTaps; ++j)
        f.clip[j] = AlfClipValue(clipIdx, 10);
    for (auto const& t : taps)
        f.coeff[t.first] = int16_t(t.second);
    return f;
}

// Slice filters with one APS luma set (set index 16), one chroma alternative and one CC filter per
// chroma component.
std::unique_ptr<AlfSliceFilters> sliceFilters(AlfLumaFilterSet const& luma, AlfChromaFilter const& chroma = {},
                                              CcAlfFilter const& cc = {})
{
    auto f = std::make_unique<AlfSliceFilters>();
    for (int s = 0; s < kAlfNumFixedSets; ++s)
        AlfFixedFilterSet(s, 10, f->fixedSets[s]);
    f->lumaAps = {luma};
    f->chromaAlt = {chroma};
    f->cc[0] = {cc};
    f->cc[1] = {cc};
    return f;
}

AlfCtbParams ctbParams(AlfSliceFilters const* f, bool y, bool cb, bool cr, int lumaSet = 16, int cc = 0)
{
    AlfCtbParams p;
    p.filters = f;
    p.enabled[0] = y;
    p.enabled[1] = cb;
    p.enabled[2] = cr;
    p.lumaFilterSet = lumaSet;
    p.ccAlfIdc[0] = p.ccAlfIdc[1] = cc;
    return p;
}

int clampPlane(int v)
{
    return v < 0 ? 0 : (v > 1023 ? 1023 : v);
}

// Filters with random coefficients over the whole range and random clipping indices, 10 bits.
AlfLumaFilterSet RandomLumaFilters(std::mt19937& rng)
{
    std::uniform_int_distribution<int> coeff(-128, 127), clip(0, 3);
    AlfLumaFilterSet luma;
    for (int k = 0; k < 25; ++k)
        for (int j = 0; j < 12; ++j) {
            luma.coeff[k][j] = int16_t(coeff(rng));
            luma.clip[k][j] = AlfClipValue(clip(rng), 10);
        }
    return luma;
}

AlfChromaFilter RandomChromaFilter(std::mt19937& rng)
{
    std::uniform_int_distribution<int> coeff(-128, 127), clip(0, 3);
    AlfChromaFilter chroma;
    for (int j = 0; j < 6; ++j) {
        chroma.coeff[j] = int16_t(coeff(rng));
        chroma.clip[j] = AlfClipValue(clip(rng), 10);
    }
    return chroma;
}

} // namespace

TEST(VvcAlfTables, FixedFiltersAndClassMappingMatchTheStandardsFigures)
{
    // Rows of AlfFixFiltCoeff and entries of AlfClassToFiltMap, read off the standard's tables.
    int const row0[12] = {0, 0, 2, -3, 1, -4, 1, 7, -1, 1, -1, 5};
    int const row41[12] = {-2, 8, -6, -4, 3, -9, -8, 45, 14, 2, -13, 7};
    int const row63[12] = {1, -1, 12, -15, -7, -2, 3, 6, 6, -1, 7, 30};
    for (int j = 0; j < 12; ++j) {
        EXPECT_EQ(int(kAlfFixedFilterCoeff[0][j]), row0[j]) << j;
        EXPECT_EQ(int(kAlfFixedFilterCoeff[41][j]), row41[j]) << j;
        EXPECT_EQ(int(kAlfFixedFilterCoeff[63][j]), row63[j]) << j;
    }
    struct
    {
        int set, cls, filter;
    } const map[] = {
        {0, 0, 8}, {0, 24, 52}, {1, 5, 30}, {5, 14, 0}, {8, 2, 59}, {11, 20, 63}, {14, 9, 0}, {15, 24, 55},
    };
    for (auto const& m : map)
        EXPECT_EQ(int(kAlfClassToFilter[m.set][m.cls]), m.filter) << m.set << "/" << m.cls;
    for (int s = 0; s < 16; ++s)
        for (int k = 0; k < 25; ++k)
            EXPECT_LT(int(kAlfClassToFilter[s][k]), 64);

    // A fixed set takes its class filters through the mapping and does not clip.
    AlfLumaFilterSet set;
    ASSERT_EQ(AlfFixedFilterSet(3, 10, set), AlfStatus::Ok);
    int const row62[12] = {0, 1, 2, -8, 2, -6, 5, 15, 0, 2, -7, 9}; // set 3, class 9
    for (int j = 0; j < 12; ++j) {
        EXPECT_EQ(set.coeff[9][j], row62[j]);
        EXPECT_EQ(set.clip[9][j], 1024);
    }
    EXPECT_EQ(AlfFixedFilterSet(16, 10, set), AlfStatus::MissingFilter);
}

TEST(VvcAlfTables, ClippingValuesPerBitDepth)
{
    int const at8[4] = {256, 32, 8, 2}, at10[4] = {1024, 128, 32, 8};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(AlfClipValue(i, 8), at8[i]);
        EXPECT_EQ(AlfClipValue(i, 10), at10[i]);
    }
}

TEST(VvcAlfFilters, DerivedFromApsData)
{
    AlfApsData aps;
    aps.lumaSignal = aps.lumaClip = true;
    aps.lumaNumFilters = 2;
    aps.lumaCoeff.resize(2);
    aps.lumaClipIdx.resize(2);
    for (int j = 0; j < 12; ++j) {
        aps.lumaCoeff[0][size_t(j)] = j - 6;
        aps.lumaCoeff[1][size_t(j)] = 10 * j;
        aps.lumaClipIdx[0][size_t(j)] = j % 4;
        aps.lumaClipIdx[1][size_t(j)] = 3 - j % 4;
    }
    for (int k = 0; k < 25; ++k)
        aps.lumaCoeffDeltaIdx[k] = k >= 20 ? 1 : 0;
    AlfLumaFilterSet luma;
    ASSERT_EQ(AlfApsLumaFilterSet(aps, 10, luma), AlfStatus::Ok);
    EXPECT_EQ(luma.coeff[0][0], -6);
    EXPECT_EQ(luma.coeff[19][11], 5);
    EXPECT_EQ(luma.coeff[20][11], 110);
    EXPECT_EQ(luma.clip[0][1], 128); // index 1 at 10 bits
    EXPECT_EQ(luma.clip[24][1], 32); // index 2
    EXPECT_EQ(luma.clip[24][0], 8);  // index 3

    aps.chromaSignal = aps.chromaClip = true;
    aps.chromaNumAltFilters = 2;
    aps.chromaCoeff = {{1, 2, 3, 4, 5, 6}, {-1, -2, -3, -4, -5, -6}};
    aps.chromaClipIdx = {{0, 0, 0, 0, 0, 0}, {3, 2, 1, 0, 3, 2}};
    AlfChromaFilter chroma;
    ASSERT_EQ(AlfApsChromaFilter(aps, 1, 10, chroma), AlfStatus::Ok);
    EXPECT_EQ(chroma.coeff[5], -6);
    EXPECT_EQ(chroma.clip[0], 8);
    EXPECT_EQ(chroma.clip[3], 1024);
    EXPECT_EQ(AlfApsChromaFilter(aps, 2, 10, chroma), AlfStatus::MissingFilter);

    aps.ccCrSignal = true;
    aps.ccNumFilters[1] = 1;
    aps.ccCoeff[1] = {{-64, 32, 0, 1, 2, 4, 8}};
    CcAlfFilter cc;
    ASSERT_EQ(CcAlfApsFilter(aps, 1, 0, cc), AlfStatus::Ok);
    EXPECT_EQ(cc.coeff[0], -64);
    EXPECT_EQ(cc.coeff[6], 8);
    EXPECT_EQ(CcAlfApsFilter(aps, 0, 0, cc), AlfStatus::MissingFilter); // no Cb filters
    EXPECT_EQ(CcAlfApsFilter(aps, 1, 1, cc), AlfStatus::MissingFilter);

    // The slice's lists; an APS named for data it does not carry is refused.
    AlfApsData const* lumaList[2] = {&aps, &aps};
    AlfApsData const* ccList[2] = {nullptr, &aps};
    AlfSliceFilters slice;
    ASSERT_EQ(BuildAlfSliceFilters(lumaList, 2, &aps, ccList, 10, 10, slice), AlfStatus::Ok);
    EXPECT_EQ(slice.lumaAps.size(), 2u);
    EXPECT_EQ(slice.chromaAlt.size(), 2u);
    EXPECT_TRUE(slice.cc[0].empty());
    EXPECT_EQ(slice.cc[1].size(), 1u);
    EXPECT_EQ(slice.fixedSets[0].coeff[0][11], 25); // set 0 class 0 is fixed filter 8
    AlfApsData const* wrongCc[2] = {&aps, nullptr};
    EXPECT_EQ(BuildAlfSliceFilters(lumaList, 2, &aps, wrongCc, 10, 10, slice), AlfStatus::MissingFilter);

    aps.lumaCoeffDeltaIdx[3] = 2; // beyond the signalled filters
    EXPECT_EQ(AlfApsLumaFilterSet(aps, 10, luma), AlfStatus::MissingFilter);
    AlfApsData chromaOnly;
    chromaOnly.chromaSignal = true;
    EXPECT_EQ(AlfApsLumaFilterSet(chromaOnly, 10, luma), AlfStatus::MissingFilter);
}

TEST(VvcAlfFilters, TakenOverFromTheParsersStructures)
{
    // The parser's ALF data of one APS, as a slice selects it.
    AlfApsData aps;
    aps.lumaSignal = true;
    aps.chromaSignal = true;
    aps.ccCrSignal = true;
    aps.lumaClip = true;
    aps.lumaNumFilters = 1;
    aps.lumaCoeff = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}};
    aps.lumaClipIdx = {{3}};
    aps.chromaNumAltFilters = 1;
    aps.chromaCoeff = {{-1, 0, 0, 0, 0, 9}};
    aps.chromaClipIdx = {{0}};
    aps.ccNumFilters[1] = 1;
    aps.ccCoeff[1] = {{0, 0, 0, 0, 0, 0, -16}};
    AlfSliceFilters slice;
    AlfApsData const* luma[1] = {&aps};
    AlfApsData const* cc[2] = {nullptr, &aps};
    ASSERT_EQ(BuildAlfSliceFilters(luma, 1, &aps, cc, 10, 10, slice), AlfStatus::Ok);
    EXPECT_EQ(slice.lumaAps[0].coeff[24][11], 12);
    EXPECT_EQ(slice.lumaAps[0].clip[24][0], 8);
    EXPECT_EQ(slice.chromaAlt[0].coeff[5], 9);
    EXPECT_EQ(slice.cc[1][0].coeff[6], -16);

    struct CtuControl
    {
        bool alf[3] = {true, false, true};
        bool alfUseAps = true;
        int alfFilterIdx = 2;
        int alfAltIdx[2] = {0, 3};
        int ccAlfIdc[2] = {1, 0};
    } ctu;
    AlfCtbParams p = AlfCtbParamsFrom(ctu, &slice, kAlfEdgeTop);
    EXPECT_EQ(p.lumaFilterSet, 18);
    EXPECT_TRUE(p.enabled[0] && !p.enabled[1] && p.enabled[2]);
    EXPECT_EQ(p.chromaAltIdx[1], 3);
    EXPECT_EQ(p.ccAlfIdc[0], 1);
    EXPECT_EQ(p.noCross, kAlfEdgeTop);
    ctu.alfUseAps = false;
    ctu.alfFilterIdx = 11;
    EXPECT_EQ(AlfCtbParamsFrom(ctu, &slice, 0).lumaFilterSet, 11);
}

TEST(VvcAlfClassification, DirectionActivityAndTranspose)
{
    // Textures of amplitude a on 500 at 10 bits; the class of an inner 4x4 block. The sums over the
    // 32 subsampled positions are 64a for each direction the texture varies in, activity
    // (sumH + sumV) * 64 >> 14.
    enum Pattern { Flat, VerticalStripes, HorizontalStripes, AntiDiagonal, Diagonal };
    struct Case
    {
        Pattern pattern;
        int amplitude;
        int filtIdx;
        int transposeIdx;
    } const cases[] = {
        {Flat, 0, 0, 3},
        {VerticalStripes, 40, 23, 3}, // activity 10 -> 3, strong horizontal gradient
        {VerticalStripes, 8, 22, 3},  // activity 2 -> 2
        {VerticalStripes, 4, 21, 3},  // activity 1 -> 1
        {HorizontalStripes, 40, 23, 2},
        {AntiDiagonal, 40, 13, 1}, // constant along x + y: only the 135-degree gradient
        {Diagonal, 40, 13, 3},     // constant along x - y: only the 45-degree gradient
    };
    for (auto const& tc : cases) {
        AlfTestPicture p(64, 64, 64, false);
        int const a = tc.amplitude;
        p.fill(0, [&](int x, int y) {
            switch (tc.pattern) {
            case VerticalStripes: return 500 + (x & 1) * a;
            case HorizontalStripes: return 500 + (y & 1) * a;
            case AntiDiagonal: return 500 + ((x + y) % 4 == 0 ? a : 0);
            case Diagonal: return 500 + (((x - y) % 4 + 4) % 4 == 0 ? a : 0);
            default: return 500;
            }
        });
        AlfBlockClass cls[16 * 16];
        AlfPlaneIn luma{p.in[0].data(), 64, 64, 64};
        ASSERT_EQ(AlfClassifyLuma(p.info, luma, 0, 0, 0, 0, 0, 64, 64, cls, 16), AlfStatus::Ok);
        for (int b : {4 * 16 + 4, 6 * 16 + 9}) {
            EXPECT_EQ(cls[b].filtIdx, tc.filtIdx) << "pattern " << tc.pattern << " amplitude " << a;
            EXPECT_EQ(cls[b].transposeIdx, tc.transposeIdx) << "pattern " << tc.pattern;
        }
    }
}

TEST(VvcAlfClassification, WindowStopsAtTheVirtualBoundary)
{
    // Flat rows above `stripesFrom`, vertical stripes of amplitude 4 from there on; the class of the
    // block at (32, blockY). Next to the virtual boundary (4 rows above a CTB's bottom) the block
    // above it does not see the stripes below, and the block below it weighs its six-row window
    // with 96 instead of 64.
    struct Case
    {
        int stripesFrom, blockY;
        int filtIdx;
    } const cases[] = {
        {28, 24, 15}, // no virtual boundary near: the window's last two rows see the stripes
        {60, 56, 0},  // block at CTB height - 8: the rows from the boundary on are not read
        {60, 60, 21}, // block at CTB height - 4: activity 1 only with the 96 weight
    };
    for (auto const& tc : cases) {
        AlfTestPicture p(64, 128, 64, false);
        p.fill(0, [&](int x, int y) { return y < tc.stripesFrom ? 500 : 500 + (x & 1) * 4; });
        AlfBlockClass cls[16 * 16];
        AlfPlaneIn luma{p.in[0].data(), 64, 64, 128};
        ASSERT_EQ(AlfClassifyLuma(p.info, luma, 0, 0, 0, 0, 0, 64, 64, cls, 16), AlfStatus::Ok);
        EXPECT_EQ(cls[(tc.blockY / 4) * 16 + 8].filtIdx, tc.filtIdx) << "stripes from " << tc.stripesFrom;
    }
}

TEST(VvcAlfFiltering, FlatPicturesStayFlatAndZeroFiltersChangeNothing)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> ccCoeff(-6, 6);
    AlfLumaFilterSet const strong = RandomLumaFilters(rng);
    AlfChromaFilter const chroma = RandomChromaFilter(rng);
    CcAlfFilter cc;
    for (int j = 0; j < 7; ++j)
        cc.coeff[j] = int16_t(ccCoeff(rng) == 0 ? 0 : (ccCoeff(rng) > 0 ? 1 : -1) * (1 << (rng() % 7)));
    auto filters = sliceFilters(strong, chroma, cc);
    auto zero = sliceFilters(AlfLumaFilterSet{}, AlfChromaFilter{}, CcAlfFilter{});

    // Sizes with partial CTBs, a last CTB row too short for the virtual boundary, several CTB sizes.
    struct Size
    {
        int w, h, ctb;
    } const sizes[] = {{64, 64, 32}, {72, 40, 32}, {136, 120, 64}, {128, 136, 128}};
    for (auto const& s : sizes) {
        for (int lumaSet : {0, 7, 15, 16}) {
            AlfTestPicture p(s.w, s.h, s.ctb);
            p.fill(0, [](int, int) { return 700; });
            p.fill(1, [](int, int) { return 300; });
            p.fill(2, [](int, int) { return 900; });
            ASSERT_EQ(p.run(ctbParams(filters.get(), true, true, true, lumaSet, 1)), AlfStatus::Ok);
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(p.out[c], p.in[c]) << s.w << "x" << s.h << " plane " << c << " set " << lumaSet;
        }
        // A textured picture through all-zero filters (and fixed sets on flat areas do nothing else).
        AlfTestPicture p(s.w, s.h, s.ctb);
        for (int c = 0; c < 3; ++c)
            p.fill(c, [&](int, int) { return int(rng() % 1024); });
        ASSERT_EQ(p.run(ctbParams(zero.get(), true, true, true, 16, 1)), AlfStatus::Ok);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(p.out[c], p.in[c]) << s.w << "x" << s.h << " plane " << c;
    }
}

TEST(VvcAlfFiltering, TransposeTurnsTheFilterWithTheTexture)
{
    // Vertical stripes 500/540 (transpose 3). A filter on the canonical horizontal +-1 taps (11) is
    // turned to run along the stripes and changes nothing; one on the vertical +-1 taps (6) is
    // turned across them: 500 + (64 * 40 + 64) >> 7 = 520, 540 + (-64 * 40 + 64) >> 7 = 520.
    struct Case
    {
        int tap;
        int even, odd;
    } const cases[] = {{11, 500, 540}, {6, 520, 520}};
    for (auto const& tc : cases) {
        AlfTestPicture p(64, 64, 64, false);
        p.fill(0, [](int x, int) { return 500 + (x & 1) * 40; });
        auto f = sliceFilters(uniformLuma({{tc.tap, 32}}));
        ASSERT_EQ(p.run(ctbParams(f.get(), true, false, false)), AlfStatus::Ok);
        for (int y = 8; y < 48; ++y)
            for (int x = 8; x < 56; ++x)
                ASSERT_EQ(p.dst(0, x, y), (x & 1) ? tc.odd : tc.even) << "tap " << tc.tap << " at " << x << "," << y;
    }
}

TEST(VvcAlfFiltering, ClippingLimitsTheContributionOfEachNeighbour)
{
    // A 900 impulse on flat 500. Luma: +-1 cross taps (6 and 11, the same under every transpose) at
    // 16; chroma: horizontal +-1 tap (5) at 32. Differences of 400 are clipped to the clipping value
    // of the index (10 bits: 1024, 128, 32, 8).
    struct Case
    {
        int plane, clipIdx, centre, right;
    } const cases[] = {
        {0, 0, 700, 550}, {0, 1, 836, 516}, {0, 2, 884, 504}, {0, 3, 896, 501}, {1, 0, 700, 600}, {1, 3, 896, 502},
    };
    for (auto const& tc : cases) {
        AlfTestPicture p(64, 64, 64);
        for (int c = 0; c < 3; ++c)
            p.fill(c, [](int, int) { return 500; });
        int const x0 = tc.plane ? 10 : 21, y0 = tc.plane ? 10 : 22;
        p.src(tc.plane, x0, y0) = 900;
        auto f = sliceFilters(uniformLuma({{6, 16}, {11, 16}}, tc.clipIdx), chromaFilter({{5, 32}}, tc.clipIdx));
        ASSERT_EQ(p.run(ctbParams(f.get(), tc.plane == 0, tc.plane == 1, false)), AlfStatus::Ok);
        EXPECT_EQ(p.dst(tc.plane, x0, y0), tc.centre) << "plane " << tc.plane << " clip " << tc.clipIdx;
        EXPECT_EQ(p.dst(tc.plane, x0 + 1, y0), tc.right) << "plane " << tc.plane << " clip " << tc.clipIdx;
        EXPECT_EQ(p.dst(tc.plane, x0 + 2, y0), 500);
    }
}

TEST(VvcAlfFiltering, VirtualBoundaryRowsUseSymmetricPaddingAndTheSmallerWeight)
{
    // Quadratic surfaces r = 100 + (y - v)^2 + (x - m)^2, so a symmetric tap pair at distance d adds
    // 2 d^2 times its coefficient. Luma: taps 0 (vertical +-3) and 9 (horizontal +-3) at 64, the
    // virtual boundary at row 60 of the 64-row CTB; rows next to it reach only d rows across:
    // normal (1152 + 1152 + 64) >> 7 = 18, d = 2: 13, d = 1: 10, d = 0: (1152 + 512) >> 10 = 1.
    // Chroma: taps 0 (vertical +-2) and 4 (horizontal +-2) at 64, boundary at chroma row 30:
    // normal 8, d = 1: 5, d = 0: 1.
    struct Case
    {
        int plane, height, row, delta;
    } const cases[] = {
        {0, 128, 52, 18}, {0, 128, 56, 18}, {0, 128, 57, 13}, {0, 128, 58, 10}, {0, 128, 59, 1},  {0, 128, 60, 1},
        {0, 128, 61, 10}, {0, 128, 62, 13}, {0, 128, 63, 18}, {0, 128, 64, 18}, {0, 128, 68, 18}, {1, 128, 27, 8},
        {1, 128, 28, 5},  {1, 128, 29, 1},  {1, 128, 30, 1},  {1, 128, 31, 5},  {1, 128, 32, 8},
    };
    for (auto const& tc : cases) {
        AlfTestPicture p(64, tc.height, 64);
        int const v = tc.plane ? 30 : 60, m = tc.plane ? 16 : 32;
        for (int c = 0; c < 3; ++c)
            p.fill(c, [&](int x, int y) {
                const int dy = (y - v) * (y - v), dx = (x - m) * (x - m);
                return 100 + std::min(dy, 400) + std::min(dx, 400);
            });
        auto f = sliceFilters(uniformLuma({{0, 64}, {9, 64}}), chromaFilter({{0, 64}, {4, 64}}));
        ASSERT_EQ(p.run(ctbParams(f.get(), tc.plane == 0, tc.plane == 1, false)), AlfStatus::Ok);
        for (int x = m - 8; x <= m + 8; ++x)
            ASSERT_EQ(p.dst(tc.plane, x, tc.row) - p.in[tc.plane][size_t(tc.row) * size_t(p.pw(tc.plane)) + size_t(x)],
                      tc.delta)
                << "plane " << tc.plane << " row " << tc.row << " x " << x;
    }

    // A last CTB row whose boundary row would lie outside the picture has none. Content varying
    // along x only, taps 0 and 9 at 64: (1152 + 64) >> 7 = 9 on every row, the bottom rows included;
    // where the boundary row is inside the picture, rows 59 and 60 take (1152 + 512) >> 10 = 1.
    struct Bottom
    {
        int height, row, delta;
    } const bottom[] = {
        {60, 57, 9}, {60, 58, 9}, {60, 59, 9}, {62, 58, 9}, {62, 59, 1}, {62, 60, 1}, {62, 61, 9},
    };
    for (auto const& tc : bottom) {
        AlfTestPicture p(64, tc.height, 64, false);
        p.fill(0, [](int x, int) { return 100 + std::min((x - 32) * (x - 32), 400); });
        auto f = sliceFilters(uniformLuma({{0, 64}, {9, 64}}));
        ASSERT_EQ(p.run(ctbParams(f.get(), true, false, false)), AlfStatus::Ok);
        EXPECT_EQ(p.dst(0, 32, tc.row) - p.src(0, 32, tc.row), tc.delta) << "height " << tc.height << " row " << tc.row;
    }
}

TEST(VvcAlfFiltering, BoundariesClosedToFilteringArePadded)
{
    // Luma +-1 cross (taps 6 and 11, 16 each), diagonal pair (5 and 7, 16 each) for the corner case.
    // Two 32x32 CTBs side by side, 500 and 900: across an open edge the last column takes
    // (16 * 400 + 64) >> 7 = 50; across a closed one (slice edge or picture virtual boundary) the
    // CTB's own column is repeated and nothing changes.
    struct Case
    {
        uint8_t leftCtbFlags, rightCtbFlags;
        bool virtualBoundary;
        int left, right;
    } const cases[] = {
        {0, 0, false, 550, 850},
        {kAlfEdgeRight, kAlfEdgeLeft, false, 500, 900},
        {0, 0, true, 500, 900},
    };
    for (auto const& tc : cases) {
        AlfTestPicture p(64, 32, 32, false);
        p.fill(0, [](int x, int) { return x < 32 ? 500 : 900; });
        if (tc.virtualBoundary)
            p.info.virtualBoundaryX = {32};
        auto f = sliceFilters(uniformLuma({{6, 16}, {11, 16}}));
        std::vector<AlfCtbParams> ctbs(2, ctbParams(f.get(), true, false, false));
        ctbs[0].noCross = tc.leftCtbFlags;
        ctbs[1].noCross = tc.rightCtbFlags;
        ASSERT_EQ(p.run(ctbs), AlfStatus::Ok);
        for (int y = 0; y < 32; y += 5) {
            EXPECT_EQ(p.dst(0, 31, y), tc.left) << int(tc.leftCtbFlags) << " row " << y;
            EXPECT_EQ(p.dst(0, 32, y), tc.right) << int(tc.rightCtbFlags) << " row " << y;
            EXPECT_EQ(p.dst(0, 30, y), 500);
        }
    }

    // Raster-scan slice corner: the above-left CTB (900) lies in another slice. Sample (32, 32)
    // reads (31, 31) through tap 5: (16 * 400 + 64) >> 7 = 50 when open; with the corner closed it
    // reads (32, 31) of the CTB above instead.
    for (bool closed : {false, true}) {
        AlfTestPicture p(64, 64, 32, false);
        p.fill(0, [](int x, int y) { return x < 32 && y < 32 ? 900 : 500; });
        auto f = sliceFilters(uniformLuma({{5, 16}, {7, 16}}));
        std::vector<AlfCtbParams> ctbs(4, ctbParams(f.get(), true, false, false));
        if (closed)
            ctbs[3].noCross = kAlfEdgeTopLeft;
        ASSERT_EQ(p.run(ctbs), AlfStatus::Ok);
        EXPECT_EQ(p.dst(0, 32, 32), closed ? 500 : 550);
        EXPECT_EQ(p.dst(0, 33, 32), 500);
    }
}

TEST(VvcAlfCrossComponent, AddsTheLumaDerivedCorrection)
{
    // Flat luma adds nothing to textured chroma.
    {
        CcAlfFilter cc;
        for (int j = 0; j < 7; ++j)
            cc.coeff[j] = int16_t(j % 2 ? 64 : -32);
        auto f = sliceFilters(AlfLumaFilterSet{}, AlfChromaFilter{}, cc);
        AlfTestPicture p(64, 128, 64);
        p.fill(0, [](int, int) { return 613; });
        p.fill(1, [](int x, int y) { return (x * 37 + y * 11) % 1024; });
        p.fill(2, [](int x, int y) { return (x * 5 + y * 91) % 1024; });
        ASSERT_EQ(p.run(ctbParams(f.get(), false, false, false, 16, 1)), AlfStatus::Ok);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(p.out[c], p.in[c]) << c;
    }
    // Luma ramp 4 y, taps 0 (above) at -64 and 6 (two below) at 64: 64 * 4 + 64 * 8 = 768 and
    // (768 + 64) >> 7 = 6. At luma row 58 the two-below tap stops at row 59 (4: +4), at row 60 (the
    // boundary) every tap stays on the row (+0).
    {
        CcAlfFilter cc;
        cc.coeff[0] = -64;
        cc.coeff[6] = 64;
        auto f = sliceFilters(AlfLumaFilterSet{}, AlfChromaFilter{}, cc);
        AlfTestPicture p(64, 128, 64);
        p.fill(0, [](int, int y) { return 4 * y; });
        p.fill(1, [](int, int) { return 200; });
        p.fill(2, [](int, int) { return 200; });
        ASSERT_EQ(p.run(ctbParams(f.get(), false, false, false, 16, 1)), AlfStatus::Ok);
        struct
        {
            int row, delta;
        } const rows[] = {{20, 6}, {28, 6}, {29, 4}, {30, 0}, {31, 6}, {32, 6}};
        for (auto const& r : rows)
            for (int c = 1; c < 3; ++c)
                EXPECT_EQ(p.dst(c, 10, r.row), 200 + r.delta) << "plane " << c << " row " << r.row;
    }
    // The correction is clipped to 9 bits (+-511 at 10 bits), the result to the sample range; the
    // ALF-filtered chroma is what it is added to.
    {
        CcAlfFilter cc;
        cc.coeff[3] = cc.coeff[4] = cc.coeff[5] = 64; // the three taps one row below
        auto f = sliceFilters(AlfLumaFilterSet{}, AlfChromaFilter{}, cc);
        AlfTestPicture p(64, 64, 64);
        p.fill(0, [](int, int y) { return (y & 1) ? 1023 : 0; });
        p.fill(1, [](int, int) { return 100; });
        p.fill(2, [](int, int) { return 900; });
        ASSERT_EQ(p.run(ctbParams(f.get(), false, false, false, 16, 1)), AlfStatus::Ok);
        EXPECT_EQ(p.dst(1, 8, 8), 611);
        EXPECT_EQ(p.dst(2, 8, 8), 1023);
    }
}

TEST(VvcAlfFiltering, StrongFiltersStayInRangeAtTenBits)
{
    // Random content and extreme random filters over pictures with partial CTBs, closed edges and
    // picture virtual boundaries: every sample stays in range, disabled CTBs come out unchanged.
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> bit(0, 1);
    for (int round = 0; round < 4; ++round) {
        AlfLumaFilterSet const luma = RandomLumaFilters(rng);
        AlfChromaFilter const chroma = RandomChromaFilter(rng);
        CcAlfFilter cc;
        for (int j = 0; j < 7; ++j)
            cc.coeff[j] = int16_t((bit(rng) ? 64 : -64) >> (rng() % 7));
        auto f = sliceFilters(luma, chroma, cc);

        AlfTestPicture p(200, 136, 64);
        for (int c = 0; c < 3; ++c)
            p.fill(c, [&](int, int) { return bit(rng) ? 1023 : int(rng() % 1024); });
        if (round & 1) {
            p.info.virtualBoundaryX = {64, 96};
            p.info.virtualBoundaryY = {64, 104};
        }
        std::vector<AlfCtbParams> ctbs(size_t(p.ctbCols() * p.ctbRows()));
        for (auto& ctb : ctbs) {
            ctb = ctbParams(f.get(), bit(rng), bit(rng), bit(rng), int(rng() % 17), int(rng() % 2));
            ctb.noCross = uint8_t(rng() % 64);
        }
        ctbs[0] = ctbParams(f.get(), false, false, false);
        ASSERT_EQ(p.run(ctbs), AlfStatus::Ok);

        // CTB by CTB in reverse order into another output: the same picture (each CTB writes only
        // its own area and reads only the input).
        std::vector<uint16_t> again[3];
        AlfPlaneIn pin[3];
        AlfPlaneOut pout[3];
        for (int c = 0; c < 3; ++c) {
            again[c].assign(p.out[c].size(), 0xffff);
            pin[c] = AlfPlaneIn{p.in[c].data(), p.pw(c), p.pw(c), p.ph(c)};
            pout[c] = AlfPlaneOut{again[c].data(), p.pw(c), p.pw(c), p.ph(c)};
        }
        for (int i = int(ctbs.size()) - 1; i >= 0; --i)
            ASSERT_EQ(ApplyAlfCtb(p.info, pin, pout, (i % p.ctbCols()) * 64, (i / p.ctbCols()) * 64, ctbs[size_t(i)]),
                      AlfStatus::Ok);
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(again[c], p.out[c]) << "plane " << c;
        for (int c = 0; c < 3; ++c)
            for (size_t i = 0; i < p.out[c].size(); ++i)
                ASSERT_EQ(p.out[c][i], clampPlane(p.out[c][i])) << "plane " << c << " sample " << i;
        for (int c = 0; c < 3; ++c) {
            int const n = c ? 32 : 64;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    ASSERT_EQ(p.dst(c, x, y), p.src(c, x, y)) << "plane " << c;
        }
    }
}

TEST(VvcAlfFiltering, RefusesWhatItCannotFilterWithoutWriting)
{
    auto f = sliceFilters(uniformLuma({{11, 32}}));
    struct Case
    {
        char const* what;
        AlfStatus expected;
    } const cases[] = {
        {"APS luma set not in the slice", AlfStatus::MissingFilter},
        {"chroma alternative missing", AlfStatus::MissingFilter},
        {"CC filter missing", AlfStatus::MissingFilter},
        {"no filters at all", AlfStatus::MissingFilter},
        {"4:2:2", AlfStatus::UnsupportedFormat},
        {"wrong CTB count", AlfStatus::InvalidArgument},
        {"plane too small", AlfStatus::InvalidArgument},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        AlfTestPicture p(64, 64, 32);
        p.fill(0, [](int x, int y) { return (x * y) % 1024; });
        std::vector<AlfCtbParams> ctbs(4, ctbParams(f.get(), true, true, false));
        switch (i) {
        case 0: ctbs[3].lumaFilterSet = 17; break;
        case 1: ctbs[2].chromaAltIdx[0] = 1; break;
        case 2: ctbs[1].ccAlfIdc[1] = 2; break;
        case 3: ctbs[3].filters = nullptr; break;
        case 4: p.info.chromaFormatIdc = 2; break;
        case 5: ctbs.pop_back(); break;
        case 6: p.info.width = 72; break;
        }
        EXPECT_EQ(p.run(ctbs), cases[i].expected) << cases[i].what;
        for (int c = 0; c < 3; ++c)
            for (uint16_t v : p.out[c])
                ASSERT_EQ(v, 0xffff) << cases[i].what;
    }
}

TEST(VvcAlfKernels, VectorLumaRowsMatchPortable)
{
    AlfKernels const* vec = AlfVectorKernels();
    if (!vec)
        GTEST_SKIP() << "no vector kernels on this processor";
    // Block rows of 1 to 4 rows with both shifts, every width (whole vectors, tails), the bit depths
    // luma may have, samples at random and at the range's ends, the largest coefficients, clipping
    // at random or nowhere (every clipping index 0).
    std::mt19937 rng(99);
    for (int bitDepth : {8, 10, 12, 16})
        for (int width : {1, 3, 4, 7, 8, 15, 16, 17, 31, 64, 129})
            for (int rows = 1; rows <= 4; ++rows) {
                bool const clipping = rows != 3;
                int const maxVal = (1 << bitDepth) - 1, pad = 3;
                auto sample = [&] { return uint16_t(rng() % 2 ? rng() % unsigned(maxVal + 1) : (rng() % 2) * maxVal); };
                std::vector<uint16_t> src[4][7];
                std::vector<uint16_t> outPortable[4], outVector[4];
                std::vector<AlfLumaBlockTaps> taps(size_t((width + 3) / 4));
                for (auto& t : taps)
                    for (int j = 0; j < 12; ++j) {
                        t.coeff[j] = int16_t(rng() % 4 == 0 ? (rng() % 2 ? 127 : -128) : int(rng() % 256) - 128);
                        t.clip[j] = AlfClipValue(clipping ? int(rng() % 4) : 0, bitDepth);
                    }
                AlfLumaRowsArgs a;
                a.rows = rows;
                a.taps = taps.data();
                a.width = width;
                a.maxVal = maxVal;
                for (int r = 0; r < rows; ++r) {
                    for (int k = 0; k < 7; ++k) {
                        src[r][k].resize(size_t(width + 2 * pad + 16));
                        for (auto& v : src[r][k])
                            v = sample();
                        a.src[r][k] = src[r][k].data() + pad;
                    }
                    a.shift[r] = rng() % 2 ? 7 : 10;
                    outPortable[r].assign(size_t(width) + 1, 0xffff);
                    outVector[r] = outPortable[r];
                }
                for (int r = 0; r < rows; ++r)
                    a.dst[r] = outPortable[r].data();
                AlfPortableKernels().lumaRows(a);
                for (int r = 0; r < rows; ++r)
                    a.dst[r] = outVector[r].data();
                vec->lumaRows(a);
                for (int r = 0; r < rows; ++r)
                    ASSERT_EQ(outVector[r], outPortable[r])
                        << "width " << width << " row " << r << " of " << rows << " bit depth " << bitDepth;
            }

    // A whole picture with every filter on (virtual boundaries, CC-ALF from random coefficients),
    // vector kernels allowed and not: the same samples in every plane.
    AlfTestPicture p(200, 136, 64);
    for (int c = 0; c < 3; ++c)
        p.fill(c, [&](int, int) { return int(rng() % 1024); });
    CcAlfFilter cc;
    for (auto& v : cc.coeff)
        v = int16_t(int(rng() % 129) - 64);
    auto f = sliceFilters(RandomLumaFilters(rng), RandomChromaFilter(rng), cc);
    ASSERT_EQ(p.run(ctbParams(f.get(), true, true, true, 16, 1)), AlfStatus::Ok);
    const std::vector<uint16_t> withVector[3] = {p.out[0], p.out[1], p.out[2]};
    AlfAllowVectorKernels(false);
    EXPECT_STREQ(AlfActiveKernels().name, "portable");
    const AlfStatus st = p.run(ctbParams(f.get(), true, true, true, 16, 1));
    AlfAllowVectorKernels(true);
    ASSERT_EQ(st, AlfStatus::Ok);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(p.out[c], withVector[c]) << "plane " << c;
}

// The chroma diamond and the cross-component rows: every width, both shifts, the bit depths
// chroma may have, samples at random and at the range's ends, the largest coefficients.
TEST(VvcAlfKernels, VectorChromaAndCrossComponentRowsMatchPortable)
{
    AlfKernels const* vec = AlfVectorKernels();
    if (!vec)
        GTEST_SKIP() << "no vector kernels on this processor";
    std::mt19937 rng(31);
    for (int bitDepth : {8, 10, 12, 16})
        for (int width : {1, 2, 3, 7, 8, 15, 16, 17, 32, 33, 64, 131}) {
            int const maxVal = (1 << bitDepth) - 1, pad = 2;
            auto sample = [&] { return uint16_t(rng() % 2 ? rng() % unsigned(maxVal + 1) : (rng() % 2) * maxVal); };
            std::vector<uint16_t> rows[5];
            for (auto& r : rows) {
                r.resize(size_t(2 * width + 2 * pad + 16)); // the vector chroma row reads whole vectors
                for (auto& v : r)
                    v = sample();
            }
            std::vector<uint16_t> base(static_cast<size_t>(width));
            for (auto& v : base)
                v = sample();
            for (int shift : {7, 10}) {
                AlfChromaRowArgs a;
                for (int r = 0; r < 5; ++r)
                    a.rows[r] = rows[r].data() + pad;
                for (int j = 0; j < 6; ++j) {
                    a.coeff[j] = rng() % 4 == 0 ? (rng() % 2 ? 127 : -128) : int(rng() % 256) - 128;
                    a.clip[j] = AlfClipValue(int(rng() % 4), bitDepth);
                }
                a.width = width;
                a.shift = shift;
                a.maxVal = maxVal;
                std::vector<uint16_t> outPortable(size_t(width), 0xffff), outVector(size_t(width), 0xffff);
                a.dst = outPortable.data();
                AlfPortableKernels().chromaRow(a);
                a.dst = outVector.data();
                vec->chromaRow(a);
                ASSERT_EQ(outVector, outPortable) << "chroma width " << width << " bit depth " << bitDepth;
            }
            CcAlfRowArgs a;
            for (int r = 0; r < 4; ++r)
                a.luma[r] = rows[r].data() + pad;
            for (auto& c : a.coeff)
                c = rng() % 4 == 0 ? (rng() % 2 ? 64 : -64) : int(rng() % 129) - 64;
            a.width = width;
            a.bitDepth = bitDepth;
            std::vector<uint16_t> outPortable = base, outVector = base;
            a.dst = outPortable.data();
            AlfPortableKernels().ccRow(a);
            a.dst = outVector.data();
            vec->ccRow(a);
            ASSERT_EQ(outVector, outPortable) << "cross-component width " << width << " bit depth " << bitDepth;
        }
}

// The block classification: the vector kernel gives the portable one's classes for every strip
// width (whole vectors, tails, more than one strip), the virtual boundary at and beside each block
// row, the bit depths luma may have, random, flat, extreme and striped samples.
TEST(VvcAlfKernels, VectorClassificationMatchesPortable)
{
    AlfKernels const* vec = AlfVectorKernels();
    if (!vec)
        GTEST_SKIP() << "no vector kernels on this processor";
    std::mt19937 rng(7);
    enum Samples { Random, Extremes, Flat, Stripes, Sparse };
    for (int bitDepth : {8, 10, 12, 16})
        for (int blocksX : {1, 2, 3, 7, 8, 9, 16, 31, 32, 33, 45})
            for (int blocksY : {1, 2, 5, 8})
                for (Samples kind : {Random, Extremes, Flat, Stripes, Sparse}) {
                    int const maxVal = (1 << bitDepth) - 1, margin = 3;
                    int const stride = 4 * blocksX + 2 * margin + 16, rows = 4 * blocksY + 2 * margin;
                    std::vector<uint16_t> plane(size_t(stride) * size_t(rows));
                    for (int y = 0; y < rows; ++y)
                        for (int x = 0; x < stride; ++x) {
                            int v = 0;
                            switch (kind) {
                            case Random: v = int(rng() % unsigned(maxVal + 1)); break;
                            case Extremes: v = (rng() % 2) * maxVal; break;
                            case Flat: v = maxVal / 3; break;
                            case Stripes: v = ((x + y / 2) & 1) * maxVal; break;
                            case Sparse: v = rng() % 16 == 0 ? maxVal : maxVal / 2; break;
                            }
                            plane[size_t(y) * size_t(stride) + size_t(x)] = uint16_t(v);
                        }
                    std::vector<int> vbRows = {kAlfNoVirtualBoundary};
                    for (int vb = 0; vb <= 4 * blocksY + 4; vb += 4)
                        vbRows.push_back(vb);
                    for (int vbRow : vbRows) {
                        int const clsStride = blocksX + 1;
                        std::vector<AlfBlockClass> portable(size_t(clsStride * blocksY), {99, 99});
                        std::vector<AlfBlockClass> vector = portable;
                        AlfClassifyArgs a;
                        a.src = plane.data() + margin * stride + margin;
                        a.stride = stride;
                        a.blocksX = blocksX;
                        a.blocksY = blocksY;
                        a.vbRow = vbRow;
                        a.bitDepth = bitDepth;
                        a.clsStride = clsStride;
                        a.cls = portable.data();
                        AlfPortableKernels().classify(a);
                        a.cls = vector.data();
                        vec->classify(a);
                        for (size_t i = 0; i < portable.size(); ++i) {
                            ASSERT_EQ(vector[i].filtIdx, portable[i].filtIdx)
                                << "block " << i << " of " << blocksX << "x" << blocksY << " samples " << kind
                                << " bit depth " << bitDepth << " boundary " << vbRow;
                            ASSERT_EQ(vector[i].transposeIdx, portable[i].transposeIdx)
                                << "block " << i << " of " << blocksX << "x" << blocksY << " samples " << kind
                                << " bit depth " << bitDepth << " boundary " << vbRow;
                        }
                    }
                }
}
