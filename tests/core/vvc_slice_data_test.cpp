// Entropy decoding of intra slice data: over real conformance streams every intra slice must
// decode to its terminating bin exactly at the end of its data, which any fault in a context,
// a binarization or a syntax condition breaks; damaged data gives an error, never a crash.

#include "AnnexBread.h"
#include "SliceParser.h"
#include "StreamCheck.h"
#include "Syntax.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>

using namespace vvcsyntax;
using Bytes = std::vector<uint8_t>;

namespace {

std::string StreamPath(char const* name) { return std::string(SERAVIN_VVC_TEST_DATA_DIR "/") + name; }

// The first intra slice of a stream with everything needed to decode its data again.
struct IntraSlice
{
    SeqParameterSet sps;
    PicParameterSet pps;
    std::map<int, AdaptationParameterSet> aps[3];
    SliceHeaderParams sh;
    Bytes data; // the slice data
    vvcslice::SliceParseResult parse(Bytes const& d) const
    {
        return vvcslice::ParseIntraSliceData(d.data(), d.size(), sps, pps, sh, [this](int type, int id) {
            auto it = aps[type].find(id);
            return it == aps[type].end() ? nullptr : &it->second;
        });
    }
};

IntraSlice FirstIntraSlice(char const* name)
{
    std::ifstream in(StreamPath(name), std::ios::binary);
    InputByteStream bs(in);
    IntraSlice s;
    std::map<int, SeqParameterSet> spss;
    std::map<int, PicParameterSet> ppss;
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
        const int t = nal.m_nalUnitType;
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
        } else if (nal.isSlice()) {
            InputBitstream head = b;
            EXPECT_TRUE(head.readFlag()) << "the test streams carry their picture headers in the slices";
            s.pps = ppss.at(PeekPictureHeaderPpsId(head));
            s.sps = spss.at(s.pps.spsId);
            ParseSliceHeader(b, s.sh, t, nullptr, s.pps, s.sps);
            if (s.sh.sliceType != 2)
                continue;
            s.data.assign(b.getFifo().begin() + long(s.sh.sliceDataByte), b.getFifo().end());
            return s;
        }
    }
    ADD_FAILURE() << name << ": no intra slice";
    return s;
}

} // namespace

TEST(VvcSliceData, EveryIntraSliceDecodesToItsEnd)
{
    struct Case
    {
        char const* name;
        int intraSlices;
    };
    // All-intra streams of single tools; intra pictures of streams with several slices per
    // picture, wavefront substreams, LMCS and scaling-list APS, long-term references.
    const Case cases[] = {{"STILL_A_KDDI_1.bit", 1},     {"CCLM_A_KDDI_2.bit", 7},  {"MIP_A_HHI_3.bit", 39},
                          {"ALF_C_KDDI_3.bit", 4},       {"SLICES_A_HUAWEI_3.bit", 91}, {"WPP_A_Sharp_3.bit", 2},
                          {"APSLMCS_D_Dolby_1.bit", 1},  {"SCALING_B_InterDigital_1.bit", 2},
                          {"LTRP_A_ERICSSON_3.bit", 2},  {"RAP_B_HHI_1.bit", 2}, {"DCI_A_Tencent_3.bit", 1},
                          {"OPI_A_Nokia_1.bit", 1}};
    for (Case const& c : cases) {
        const StreamCheckResult r = CheckStream(StreamPath(c.name));
        EXPECT_EQ(r.hashes.intraSlices, c.intraSlices) << c.name;
        EXPECT_EQ(r.hashes.intraSlicesParsed, c.intraSlices) << c.name << ": " << r.sliceDataError;
    }

    const IntraSlice still = FirstIntraSlice("STILL_A_KDDI_1.bit");
    const vvcslice::SliceParseResult r = still.parse(still.data);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.ctus, 8) << "416x240 in CTUs of 128";
    EXPECT_GT(r.codingUnits, 1000);
}

TEST(VvcSliceData, DamagedOrCutDataFailsCleanly)
{
    const IntraSlice s = FirstIntraSlice("MIP_A_HHI_3.bit");
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
