// Complete high-level syntax of the VVC layer, read from real conformance streams: every unit
// parses to its last bit, the values that name each stream's tool are there, and damaged units
// give exceptions, never a crash.

#include "bitstream/AnnexBread.h"
#include "decoding/DecLib.h"
#include "bitstream/Derived.h"
#include "decoding/StreamCheck.h"
#include "bitstream/Syntax.h"
#include "vvc_platform/vvc_test_streams.h"
#include "vvc_platform/vvc_test_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <string>

using namespace vvcsyntax;
using Bytes = std::vector<uint8_t>;

namespace {

using vvctest::ReadUnits;
using vvctest::StreamPath;

// Parses every unit with the syntax readers, as the decoder does, keeping what the tests look at.
struct Walk
{
    std::map<int, SeqParameterSet> sps;
    std::map<int, PicParameterSet> pps;
    std::vector<AdaptationParameterSet> aps;
    PictureHeaderParams phUnit;
    bool phUnitValid = false;
    int slices = 0, intraSlices = 0, entryPoints = 0, parameterSetUnits = 0;
    int maxSlicesInPps = 0;
    std::string error;

    // Answers whether the unit parsed; the error text is kept otherwise.
    bool unit(Bytes const& bytes)
    {
        InputNALUnit nal;
        nal.getBitstream().getFifo() = bytes;
        try {
            read(nal);
            InputBitstream& bs = nal.getBitstream();
            int const type = nal.m_nalUnitType;
            if (type == NAL_UNIT_SPS) {
                SeqParameterSet s;
                ParseSps(bs, s);
                DeriveChromaQpTables(s);
                sps[s.id] = s;
                ++parameterSetUnits;
            } else if (type == NAL_UNIT_PPS) {
                InputBitstream head = bs;
                head.read(6);
                PicParameterSet p;
                ParsePps(bs, p, sps.at(int(head.read(4))));
                maxSlicesInPps = std::max(maxSlicesInPps, p.numSlicesInPicMinus1 + 1);
                pps[p.id] = p;
                ++parameterSetUnits;
            } else if (type == NAL_UNIT_PREFIX_APS || type == NAL_UNIT_SUFFIX_APS) {
                AdaptationParameterSet a;
                ParseAps(bs, a);
                if (a.type == 1 && !sps.empty())
                    DeriveLmcs(a.lmcs, sps.begin()->second.bitDepth);
                aps.push_back(a);
                ++parameterSetUnits;
            } else if (type == NAL_UNIT_PH) {
                PicParameterSet const& p = pps.at(PeekPictureHeaderPpsId(bs));
                ParsePictureHeader(bs, phUnit, p, sps.at(p.spsId));
                ReadTrailingBits(bs);
                phUnitValid = true;
                ++parameterSetUnits;
            } else if (nal.isSlice()) {
                InputBitstream head = bs;
                bool const phHere = head.readFlag();
                PicParameterSet const& p = pps.at(phHere ? PeekPictureHeaderPpsId(head) : phUnit.ppsId);
                SliceHeaderParams sh;
                ParseSliceHeader(bs, sh, type, phHere || !phUnitValid ? nullptr : &phUnit, p, sps.at(p.spsId));
                ++slices;
                intraSlices += sh.sliceType == 2 ? 1 : 0;
                entryPoints += int(sh.entryPointOffsets.size());
            } else if (type == NAL_UNIT_ACCESS_UNIT_DELIMITER || type == NAL_UNIT_EOS) {
                phUnitValid = false;
            }
        } catch (std::exception const& e) {
            if (error.empty())
                error = e.what();
            return false;
        }
        return true;
    }
};

Walk WalkStream(char const* name)
{
    Walk w;
    for (Bytes const& u : ReadUnits(StreamPath(name)))
        w.unit(u);
    return w;
}

char const* const kStreams[] = {"DCI_A_Tencent_3.bit",
                                "OPI_A_Nokia_1.bit",
                                "RAP_B_HHI_1.bit",
                                "STILL_A_KDDI_1.bit",
                                "CCLM_A_KDDI_2.bit",
                                "MIP_A_HHI_3.bit",
                                "ALF_C_KDDI_3.bit",
                                "APSLMCS_D_Dolby_1.bit",
                                "LTRP_A_ERICSSON_3.bit",
                                "SCALING_B_InterDigital_1.bit",
                                "SLICES_A_HUAWEI_3.bit",
                                "WPP_A_Sharp_3.bit",
                                "DEBLOCKING_E_Ericsson_3.bit",
                                "IBC_A_Tencent_2.bit",
                                "DMVR_B_KDDI_4.bit"};

} // namespace

TEST(VvcSyntax, EveryUnitOfTheConformanceStreamsIsReadToItsEnd)
{
    struct Case
    {
        char const* name;
        int pictures;
        int intraPictures;
    };
    const Case cases[] = {
        {"DCI_A_Tencent_3.bit", 2, 1},    {"OPI_A_Nokia_1.bit", 17, 1},
        {"RAP_B_HHI_1.bit", 33, 2},       {"STILL_A_KDDI_1.bit", 1, 1},
        {"CCLM_A_KDDI_2.bit", 7, 7},      {"MIP_A_HHI_3.bit", 39, 39},
        {"ALF_C_KDDI_3.bit", 4, 4},       {"APSLMCS_D_Dolby_1.bit", 32, 1},
        {"LTRP_A_ERICSSON_3.bit", 80, 2}, {"SCALING_B_InterDigital_1.bit", 64, 2},
        {"SLICES_A_HUAWEI_3.bit", 25, 5}, {"WPP_A_Sharp_3.bit", 49, 2},
    };
    for (Case const& c : cases) {
        const Walk w = WalkStream(c.name);
        EXPECT_EQ(w.error, "") << c.name;
        EXPECT_GT(w.slices, 0) << c.name;
        // The decoder reads the same syntax and counts the pictures whose slices are all intra.
        const StreamCheckResult r = CheckStream(StreamPath(c.name));
        EXPECT_EQ(r.error, "") << c.name;
        EXPECT_EQ(r.syntaxErrors, 0) << c.name << ": " << r.syntaxError;
        EXPECT_EQ(r.hashes.pictures, c.pictures) << c.name;
        EXPECT_EQ(r.hashes.intraPictures, c.intraPictures) << c.name;
    }
}

TEST(VvcSyntax, ValuesOfEachStreamsTool)
{
    const Walk still = WalkStream("STILL_A_KDDI_1.bit");
    ASSERT_EQ(still.sps.size(), 1u);
    SeqParameterSet const& s = still.sps.begin()->second;
    EXPECT_EQ(s.picWidthMax, 416);
    EXPECT_EQ(s.picHeightMax, 240);
    EXPECT_EQ(s.bitDepth, 10);
    EXPECT_EQ(s.chromaFormatIdc, 1);
    EXPECT_EQ(still.slices, still.intraSlices);
    ASSERT_EQ(still.pps.size(), 1u);
    EXPECT_EQ(still.pps.begin()->second.picWidthInCtbs, (416 + s.ctbSize() - 1) / s.ctbSize());

    EXPECT_TRUE(WalkStream("MIP_A_HHI_3.bit").sps.begin()->second.mip);
    EXPECT_TRUE(WalkStream("CCLM_A_KDDI_2.bit").sps.begin()->second.cclm);
    EXPECT_TRUE(WalkStream("LTRP_A_ERICSSON_3.bit").sps.begin()->second.longTermRefPics);

    auto hasAps = [](Walk const& w, int type) {
        return std::any_of(w.aps.begin(), w.aps.end(), [&](AdaptationParameterSet const& a) { return a.type == type; });
    };
    const Walk alf = WalkStream("ALF_C_KDDI_3.bit");
    EXPECT_TRUE(alf.sps.begin()->second.alf);
    EXPECT_TRUE(hasAps(alf, 0));
    const Walk lmcs = WalkStream("APSLMCS_D_Dolby_1.bit");
    EXPECT_TRUE(lmcs.sps.begin()->second.lmcs);
    EXPECT_TRUE(hasAps(lmcs, 1));
    for (AdaptationParameterSet const& a : lmcs.aps) {
        if (a.type == 1) {
            EXPECT_LE(a.lmcs.minBinIdx, a.lmcs.maxBinIdx);
        }
    }
    const Walk scaling = WalkStream("SCALING_B_InterDigital_1.bit");
    EXPECT_TRUE(scaling.sps.begin()->second.explicitScalingMatrix);
    EXPECT_TRUE(hasAps(scaling, 2));

    // Several slices per picture with entry points; wavefronts: one entry point per further CTU row.
    const Walk slices = WalkStream("SLICES_A_HUAWEI_3.bit");
    EXPECT_GT(slices.maxSlicesInPps, 1);
    EXPECT_GT(slices.slices, 25);
    EXPECT_GT(slices.entryPoints, 0);
    const Walk wpp = WalkStream("WPP_A_Sharp_3.bit");
    SeqParameterSet const& ws = wpp.sps.begin()->second;
    EXPECT_TRUE(ws.entropyCodingSync);
    int const rows = (ws.picHeightMax + ws.ctbSize() - 1) / ws.ctbSize();
    EXPECT_EQ(wpp.entryPoints, wpp.slices * (rows - 1));
}

TEST(VvcSyntax, CutParameterSetsAndHeadersThrow)
{
    for (char const* name : kStreams) {
        const std::vector<Bytes> units = ReadUnits(StreamPath(name));
        Walk whole;
        for (Bytes const& u : units) {
            int const type = u.size() >= 2 ? u[1] >> 3 : -1;
            bool const header = type == NAL_UNIT_SPS || type == NAL_UNIT_PPS || type == NAL_UNIT_PREFIX_APS ||
                                type == NAL_UNIT_SUFFIX_APS || type == NAL_UNIT_PH;
            if (header) {
                // Cut anywhere, the unit no longer parses; the walk's state is left alone.
                for (size_t len = 2; len < u.size(); ++len) {
                    Walk cut = whole;
                    EXPECT_FALSE(cut.unit(Bytes(u.begin(), u.begin() + long(len))))
                        << name << " type " << type << " cut at " << len;
                }
            }
            ASSERT_TRUE(whole.unit(u)) << name << ": " << whole.error;
        }
    }
}

TEST(VvcSyntax, DamagedUnitsGiveExceptionsNotCrashes)
{
    std::mt19937 gen(20);
    int noticed = 0, tried = 0;
    for (char const* name : kStreams) {
        const std::vector<Bytes> units = ReadUnits(StreamPath(name));
        // Each of the first units once with a few flipped payload bits, followed by the next ones.
        for (size_t target = 0; target < units.size() && target < 120; ++target) {
            if (units[target].size() <= 2)
                continue;
            ++tried;
            DecLib dec;
            dec.create();
            int skip = 0, last = 0, poc = 0;
            std::list<Picture*>* pictures = nullptr;
            bool threw = false;
            for (size_t i = 0; i < units.size() && i <= target + 3; ++i) {
                Bytes u = units[i];
                if (i == target)
                    for (int f = 1 + int(gen() % 4); f > 0; --f)
                        u[2 + gen() % (u.size() - 2)] ^= uint8_t(1u << (gen() % 8));
                InputNALUnit nal;
                nal.getBitstream().getFifo() = u;
                try {
                    read(nal);
                    if (nal.isSlice())
                        dec.finishPicture(poc, pictures, INFO, false);
                    dec.decode(nal, skip, last, -1, true);
                } catch (Exception const&) {
                    threw = threw || i >= target;
                }
            }
            noticed += threw || dec.syntaxErrorCount() > 0 ? 1 : 0;
            dec.deletePicBuffer();
            dec.destroy();
        }
    }
    EXPECT_GT(tried, 100);
    EXPECT_GT(noticed, tried / 4) << "much of the damage is noticed";
}

TEST(VvcSyntax, PictureHeaderVirtualBoundaries)
{
    // An intra picture header whose SPS enables virtual boundaries without placing them: the
    // picture header gives their positions, in units of 8 luma samples, minus one.
    SeqParameterSet sps;
    sps.virtualBoundariesEnabled = true;
    PicParameterSet pps;
    pps.picWidth = 416;
    pps.picHeight = 240;
    struct Case
    {
        std::vector<uint32_t> ver, hor; // signalled pos_minus1 values
        std::vector<int> wantX, wantY;
        bool throws;
    };
    const Case cases[] = {
        {{}, {}, {}, {}, false},
        {{0, 50}, {3}, {8, 408}, {32}, false},
        {{51}, {}, {}, {}, true}, // 416 would be the picture's right edge
        {{}, {29}, {}, {}, true}, // 240 likewise the bottom edge
    };
    for (Case const& c : cases) {
        vvctest::BitWriter w;
        w.flag(true);  // gdr or irap
        w.flag(false); // non-reference
        w.flag(false); // not GDR
        w.flag(false); // no inter slices
        w.ue(0);       // PPS id
        w.u(0, 4);     // POC LSB
        w.flag(true);  // virtual boundaries present
        w.ue(uint32_t(c.ver.size()));
        for (uint32_t v : c.ver)
            w.ue(v);
        w.ue(uint32_t(c.hor.size()));
        for (uint32_t v : c.hor)
            w.ue(v);
        w.trailingBits();
        InputBitstream bs;
        bs.getFifo() = w.data();
        PictureHeaderParams ph;
        if (c.throws) {
            EXPECT_THROW(ParsePictureHeader(bs, ph, pps, sps), Exception) << c.ver.size() << " " << c.hor.size();
            continue;
        }
        ParsePictureHeader(bs, ph, pps, sps);
        EXPECT_EQ(ph.vbPosX, c.wantX);
        EXPECT_EQ(ph.vbPosY, c.wantY);
    }
}

TEST(VvcSyntax, PictureHeaderCollocatedPictureWithItsReferenceLists)
{
    // Reference lists in the picture header, taken from the SPS's two lists of two entries each:
    // the header says where the collocated picture is (list and index), for all its slices.
    SeqParameterSet sps;
    sps.log2MaxPocLsb = 4;
    sps.temporalMvp = true;
    for (int l = 0; l < 2; ++l) {
        RefPicListStruct r;
        r.numRefEntries = 2;
        r.shortTerm = {true, true};
        r.interLayer = {false, false};
        r.deltaPocSt = {1, 1};
        sps.numRefPicLists[l] = 1;
        sps.rpl[l] = {r};
    }
    PicParameterSet pps;
    pps.rplInfoInPh = true;
    struct Case
    {
        bool fromL0;
        uint32_t refIdx;
    } const cases[] = {{true, 0}, {true, 1}, {false, 0}, {false, 1}};
    for (Case const& c : cases) {
        vvctest::BitWriter w;
        w.flag(false); // not gdr or irap
        w.flag(false); // reference picture
        w.flag(true);  // inter slices
        w.flag(true);  // intra slices
        w.ue(0);       // PPS id
        w.u(3, 4);     // POC LSB
        w.flag(true);  // list 0 from the SPS (list 1 follows it)
        w.flag(true);  // temporal candidates
        w.flag(c.fromL0);
        w.ue(c.refIdx);
        w.flag(false); // list 1 differences
        w.trailingBits();
        InputBitstream bs;
        bs.getFifo() = w.data();
        PictureHeaderParams ph;
        ParsePictureHeader(bs, ph, pps, sps);
        EXPECT_TRUE(ph.temporalMvp);
        EXPECT_EQ(ph.collocatedFromL0, c.fromL0) << c.fromL0 << " " << c.refIdx;
        EXPECT_EQ(ph.collocatedRefIdx, int(c.refIdx)) << c.fromL0 << " " << c.refIdx;
        EXPECT_NO_THROW(ReadTrailingBits(bs));
    }
}

TEST(VvcSyntax, PictureHeaderCollocatedPictureInferredOrOutOfRange)
{
    // The picture header's own lists (two short-term entries in list 0, `entries1` in list 1):
    // where a list has one entry no index is sent, an empty list 1 sends no flag (list 0), and
    // the index is bounded by the entries of the list it names.
    SeqParameterSet sps;
    sps.temporalMvp = true;
    PicParameterSet pps;
    pps.rplInfoInPh = true;
    struct Case
    {
        int entries1;
        int fromL0; // signalled flag, -1 when absent
        int refIdx; // signalled index, -1 when absent
        bool wantFromL0;
        int wantRefIdx;
        bool throws;
    };
    const Case cases[] = {
        {1, 0, -1, false, 0, false}, // one entry in list 1: no index
        {0, -1, 1, true, 1, false},  // list 1 empty: list 0 without a flag
        {2, 0, 2, false, 0, true},   // index beyond list 1
    };
    for (Case const& c : cases) {
        vvctest::BitWriter w;
        w.flag(false); // not gdr or irap
        w.flag(false); // non-reference
        w.flag(true);  // inter slices allowed
        w.flag(false); // no intra slices
        w.ue(0);       // PPS id
        w.u(3, 4);     // POC LSB
        for (int entries : {2, c.entries1}) {
            w.ue(uint32_t(entries));
            for (int i = 0; i < entries; ++i) {
                w.ue(uint32_t(i)); // abs_delta_poc_st: POC distance i + 1
                w.flag(false);     // after the current picture
            }
        }
        w.flag(true); // temporal candidates
        if (c.fromL0 >= 0)
            w.flag(c.fromL0 != 0);
        if (c.refIdx >= 0)
            w.ue(uint32_t(c.refIdx));
        if (c.entries1 > 0)
            w.flag(false); // mvd_l1_zero
        w.trailingBits();
        InputBitstream bs;
        bs.getFifo() = w.data();
        PictureHeaderParams ph;
        if (c.throws) {
            EXPECT_THROW(ParsePictureHeader(bs, ph, pps, sps), Exception) << c.refIdx;
            continue;
        }
        ParsePictureHeader(bs, ph, pps, sps);
        EXPECT_TRUE(ph.temporalMvp);
        EXPECT_EQ(ph.collocatedFromL0, c.wantFromL0) << c.entries1 << " " << c.fromL0;
        EXPECT_EQ(ph.collocatedRefIdx, c.wantRefIdx) << c.entries1 << " " << c.fromL0;
        EXPECT_NO_THROW(ReadTrailingBits(bs)) << "the header ends where written";
    }
}
