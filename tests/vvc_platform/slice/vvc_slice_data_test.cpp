// Entropy decoding of slice data: over real conformance streams every intra and inter slice must
// decode to its terminating bin exactly at the end of its data, which any fault in a context,
// a binarization or a syntax condition breaks; damaged data gives an error, never a crash.

#include "bitstream/AnnexBread.h"
#include "bitstream/Syntax.h"
#include "decoding/StreamCheck.h"
#include "slice/SliceParser.h"
#include "vvc_platform/vvc_test_streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

using namespace vvcsyntax;
using Bytes = std::vector<uint8_t>;

namespace {

using vvctest::StreamPath;

// The first intra or inter slice of a stream with everything needed to decode its data again.
struct CodedSlice
{
    SeqParameterSet sps;
    PicParameterSet pps;
    std::map<int, AdaptationParameterSet> aps[3];
    SliceHeaderParams sh;
    Bytes data; // the slice data
    vvcslice::SliceParseResult parse(Bytes const& d) const
    {
        return vvcslice::ParseSliceData(d.data(), d.size(), sps, pps, sh, [this](int type, int id) {
            auto it = aps[type].find(id);
            return it == aps[type].end() ? nullptr : &it->second;
        });
    }
};

CodedSlice FirstSlice(char const* name, bool intra = true)
{
    std::ifstream in(StreamPath(name), std::ios::binary);
    InputByteStream bs(in);
    CodedSlice s;
    std::map<int, SeqParameterSet> spss;
    std::map<int, PicParameterSet> ppss;
    PictureHeaderParams ph;
    bool havePh = false;
    for (;;) {
        InputNALUnit nal;
        AnnexBStats stats;
        byteStreamNALUnit(bs, nal.getBitstream().getFifo(), stats);
        if (nal.getBitstream().getFifo().empty()) {
            if (!in)
                break;
            continue;
        }
        read(nal);
        InputBitstream& b = nal.getBitstream();
        int const t = nal.m_nalUnitType;
        if (t == NAL_UNIT_SPS) {
            SeqParameterSet sps;
            ParseSps(b, sps);
            spss[sps.id] = sps;
        } else if (t == NAL_UNIT_PPS) {
            InputBitstream head = b;
            head.read(6);
            PicParameterSet pps;
            ParsePps(b, pps, spss.at(int(head.read(4))));
            ppss[pps.id] = pps;
        } else if (t == NAL_UNIT_PREFIX_APS || t == NAL_UNIT_SUFFIX_APS) {
            AdaptationParameterSet a;
            ParseAps(b, a);
            s.aps[a.type][a.id] = a;
        } else if (t == NAL_UNIT_PH) {
            PicParameterSet const& pps = ppss.at(PeekPictureHeaderPpsId(b));
            ParsePictureHeader(b, ph, pps, spss.at(pps.spsId));
            havePh = true;
        } else if (nal.isSlice()) {
            InputBitstream head = b;
            bool const phHere = head.readFlag();
            s.pps = ppss.at(phHere ? PeekPictureHeaderPpsId(head) : ph.ppsId);
            s.sps = spss.at(s.pps.spsId);
            ParseSliceHeader(b, s.sh, t, phHere || !havePh ? nullptr : &ph, s.pps, s.sps);
            if ((s.sh.sliceType == 2) != intra)
                continue;
            s.data.assign(b.getFifo().begin() + long(s.sh.sliceDataByte), b.getFifo().end());
            return s;
        }
    }
    ADD_FAILURE() << name << ": no slice of the type";
    return s;
}

} // namespace

TEST(VvcSliceData, EverySliceDecodesToItsEnd)
{
    struct Case
    {
        char const* name;
        int intraSlices, interSlices;
    };
    // All-intra streams of single tools; streams with several slices per picture, wavefront
    // substreams, LMCS and scaling-list APS, long-term references, block copy in inter slices,
    // random access and low delay (P and B slices with the tools of their configurations).
    const Case cases[] = {{"STILL_A_KDDI_1.bit", 1, 0},
                          {"CCLM_A_KDDI_2.bit", 7, 0},
                          {"MIP_A_HHI_3.bit", 39, 0},
                          {"ALF_C_KDDI_3.bit", 4, 0},
                          {"SLICES_A_HUAWEI_3.bit", 91, 364},
                          {"WPP_A_Sharp_3.bit", 2, 47},
                          {"APSLMCS_D_Dolby_1.bit", 1, 31},
                          {"SCALING_B_InterDigital_1.bit", 2, 62},
                          {"LTRP_A_ERICSSON_3.bit", 2, 78},
                          {"RAP_A_HHI_1.bit", 1, 0}, // its inter pictures are RASL of the first CRA: not decoded
                          {"RAP_B_HHI_1.bit", 2, 31},
                          {"DMVR_B_KDDI_4.bit", 6, 5},
                          {"DCI_A_Tencent_3.bit", 1, 1},
                          {"OPI_A_Nokia_1.bit", 1, 16},
                          {"DEBLOCKING_E_Ericsson_3.bit", 1, 7},
                          {"IBC_A_Tencent_2.bit", 1, 16}};
    for (Case const& c : cases) {
        const StreamCheckResult r = CheckStream(StreamPath(c.name));
        EXPECT_EQ(r.hashes.intraSlices, c.intraSlices) << c.name;
        EXPECT_EQ(r.hashes.intraSlicesParsed, c.intraSlices) << c.name << ": " << r.sliceDataError;
        EXPECT_EQ(r.hashes.interSlices, c.interSlices) << c.name;
        EXPECT_EQ(r.hashes.interSlicesParsed, c.interSlices) << c.name << ": " << r.sliceDataError;
    }

    const CodedSlice still = FirstSlice("STILL_A_KDDI_1.bit");
    const vvcslice::SliceParseResult r = still.parse(still.data);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.ctus, 8) << "416x240 in CTUs of 128";
    EXPECT_GT(r.codingUnits, 1000);
}

TEST(VvcSliceData, DamagedOrCutDataFailsCleanly)
{
    for (CodedSlice const& s : {FirstSlice("MIP_A_HHI_3.bit"), FirstSlice("RAP_B_HHI_1.bit", false)}) {
        SCOPED_TRACE(s.sh.sliceType);
        ASSERT_TRUE(s.parse(s.data).ok);
        // Cut anywhere, the data runs out or the terminating bin is not where the data ends.
        for (size_t len : {size_t(0), size_t(1), size_t(7), s.data.size() / 2, s.data.size() - 1}) {
            const vvcslice::SliceParseResult r = s.parse(Bytes(s.data.begin(), s.data.begin() + long(len)));
            EXPECT_FALSE(r.ok) << len;
            EXPECT_FALSE(r.error.empty()) << len;
        }
        // Flipped bits: an error or, rarely, a parse that still ends right; never a crash.
        std::mt19937 gen(5);
        int failed = 0;
        for (int round = 0; round < 60; ++round) {
            Bytes d = s.data;
            for (int k = 1 + int(gen() % 3); k > 0; --k)
                d[gen() % d.size()] ^= uint8_t(1u << (gen() % 8));
            failed += s.parse(d).ok ? 0 : 1;
        }
        EXPECT_GT(failed, 50);
        // Trailing garbage after the slice's end is no longer the end.
        Bytes longer = s.data;
        longer.push_back(0x80);
        EXPECT_FALSE(s.parse(longer).ok);
    }
}

namespace {

// Collects what the slice data decodes to and checks it as it comes.
struct CoverageSink : vvcslice::SliceDataSink
{
    CoverageSink(int w, int h)
        : width(w), height(h), covered{std::vector<uint8_t>(size_t(w * h)), std::vector<uint8_t>(size_t(w * h))}
    {
    }
    void ctu(vvcslice::CtuFilterParams const& p) override
    {
        ++ctus;
        for (int c = 0; c < 3; ++c)
            saoTypes += p.saoType[c] != 0 ? 1 : 0;
    }
    void codingUnit(vvcslice::IntraCodingUnit const& cu) override
    {
        // A single-tree coding unit covers both trees.
        for (int tree = 0; tree < 2; ++tree)
            if (cu.tree == tree || cu.tree == 2)
                for (int y = cu.y; y < std::min(cu.y + cu.height, height); ++y)
                    for (int x = cu.x; x < std::min(cu.x + cu.width, width); ++x)
                        ++covered[tree][size_t(y * width + x)];
        if (cu.tree != 1 && !cu.mip && (cu.lumaMode < 0 || cu.lumaMode > 66))
            ++badModes;
        if (cu.tree != 0 &&
            !((cu.chromaMode >= 0 && cu.chromaMode <= 66) || (cu.chromaMode >= 81 && cu.chromaMode <= 83)))
            ++badModes;
        for (vvcslice::TransformBlock const& b : cu.blocks) {
            ++blocks;
            int const scale = b.cIdx ? 2 : 1;
            if (b.x * scale < cu.x || b.y * scale < cu.y || (b.x + b.width) * scale > cu.x + cu.width ||
                (b.y + b.height) * scale > cu.y + cu.height || (cu.tree == 0 && b.cIdx != 0) ||
                (cu.tree == 1 && b.cIdx == 0))
                ++blocksOutside;
            bool any = false;
            for (int32_t v : b.levels)
                any = any || v != 0;
            emptyBlocks += any ? 0 : 1;
        }
    }
    int width, height;
    std::vector<uint8_t> covered[2];
    int ctus = 0, saoTypes = 0, badModes = 0, blocks = 0, blocksOutside = 0, emptyBlocks = 0;
};

} // namespace

TEST(VvcSliceData, DecodedUnitsCoverThePictureOnce)
{
    for (char const* name : {"STILL_A_KDDI_1.bit", "MIP_A_HHI_3.bit", "CCLM_A_KDDI_2.bit", "ALF_C_KDDI_3.bit",
                             "DEBLOCKING_E_Ericsson_3.bit", "IBC_A_Tencent_2.bit"}) {
        const CodedSlice s = FirstSlice(name);
        CoverageSink sink(s.pps.picWidth, s.pps.picHeight);
        const vvcslice::SliceParseResult r = vvcslice::ParseSliceData(
            s.data.data(), s.data.size(), s.sps, s.pps, s.sh,
            [&s](int type, int id) {
                auto it = s.aps[type].find(id);
                return it == s.aps[type].end() ? nullptr : &it->second;
            },
            &sink);
        ASSERT_TRUE(r.ok) << name << ": " << r.error;
        EXPECT_EQ(sink.ctus, r.ctus) << name;
        // Each tree of the dual tree covers every luma position exactly once.
        for (int tree = 0; tree < 2; ++tree)
            EXPECT_TRUE(
                std::all_of(sink.covered[tree].begin(), sink.covered[tree].end(), [](uint8_t c) { return c == 1; }))
                << name << " tree " << tree;
        EXPECT_EQ(sink.badModes, 0) << name;
        EXPECT_GT(sink.blocks, 0) << name;
        EXPECT_EQ(sink.blocksOutside, 0) << name;
        EXPECT_EQ(sink.emptyBlocks, 0) << name << ": a coded block has a nonzero level";
    }
}

TEST(VvcSliceData, MostProbableModesAreSixDistinctModes)
{
    for (int a = 0; a <= 66; ++a)
        for (int b = 0; b <= 66; ++b) {
            int mpm[6];
            vvcslice::MostProbableModes(a, b, mpm);
            std::vector<int> sorted(mpm, mpm + 6);
            std::sort(sorted.begin(), sorted.end());
            ASSERT_TRUE(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) << a << " " << b;
            ASSERT_TRUE(sorted.front() >= 0 && sorted.back() <= 66) << a << " " << b;
            ASSERT_EQ(mpm[0], vvcslice::kPlanar);
            if (a > 1) {
                ASSERT_NE(std::find(mpm, mpm + 6, a), mpm + 6) << a << " " << b;
            }
            if (b > 1) {
                ASSERT_NE(std::find(mpm, mpm + 6, b), mpm + 6) << a << " " << b;
            }
        }
    // Both neighbours planar or DC: the fixed list.
    int mpm[6];
    vvcslice::MostProbableModes(0, 1, mpm);
    EXPECT_EQ(std::vector<int>(mpm, mpm + 6), std::vector<int>({0, 1, 50, 18, 46, 54}));
    // One angular neighbour: it and its nearest angular modes.
    vvcslice::MostProbableModes(0, 50, mpm);
    EXPECT_EQ(std::vector<int>(mpm, mpm + 6), std::vector<int>({0, 50, 49, 51, 48, 52}));
}

TEST(VvcSliceData, IntraPicturesMatchTheirHash)
{
    // The stream's picture hash checks every intra picture sample by sample.
    struct Case
    {
        char const* name;
        int intraPictures;
    };
    const Case cases[] = {
        {"DMVR_B_KDDI_4.bit", 6},     // deblocking, SAO and ALF off
        {"LTRP_A_ERICSSON_3.bit", 2}, // ISP coding units of 1- and 2-wide sub-partitions
        {"MIP_A_HHI_3.bit", 39},      // planar and DC chroma blocks of 8x2 and 16x2
        {"STILL_A_KDDI_1.bit", 1},    // LMCS, deblocking and SAO
        {"CCLM_A_KDDI_2.bit", 7},     {"RAP_B_HHI_1.bit", 2}, {"IBC_A_Tencent_2.bit", 1}, // block copy units
    };
    for (Case const& c : cases) {
        const StreamCheckResult r = CheckStream(StreamPath(c.name));
        EXPECT_EQ(r.error, "") << c.name;
        EXPECT_EQ(r.hashes.intraPictures, c.intraPictures) << c.name;
        // Inter pictures are checked too now (their reconstruction has tests of its own).
        EXPECT_GE(r.hashes.checked, c.intraPictures) << c.name;
        EXPECT_GE(r.hashes.matched, c.intraPictures) << c.name;
    }
}

TEST(VvcSliceData, QuantizationGroupQpPrediction)
{
    using vvcslice::kNoQp;
    struct Case
    {
        int prev, left, above;
        bool aboveInCtu, firstInTileRow;
        int expected;
    };
    const Case cases[] = {
        {20, 30, 35, true, false, 33},     // mean of left and above, rounded up
        {20, kNoQp, 35, true, false, 28},  // no left: the previous group's QP instead
        {20, 30, 35, false, false, 25},    // above in another CTU: the previous group's QP instead
        {20, 30, kNoQp, false, false, 25}, // no above
        {20, kNoQp, 35, false, true, 35},  // first group of a CTU row of a tile: the QP above
        {20, kNoQp, kNoQp, false, true, 20},
    };
    for (Case const& c : cases) {
        vvcslice::QgNeighbours q;
        q.prev = c.prev;
        q.left = c.left;
        q.above = c.above;
        q.aboveInCtu = c.aboveInCtu;
        q.firstInTileRow = c.firstInTileRow;
        EXPECT_EQ(vvcslice::PredictQpY(q), c.expected)
            << c.prev << " " << c.left << " " << c.above << " " << c.aboveInCtu << c.firstInTileRow;
    }
}
