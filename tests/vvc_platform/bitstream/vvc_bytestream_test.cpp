// Annex B splitting, emulation prevention and parameter-set parsing of the VVC library layer.

#include "vvc_platform/vvc_test_writer.h"

#include "bitstream/AnnexBread.h"
#include "decoding/DecLib.h"
#include "bitstream/Nal.h"
#include "bitstream/ParameterSets.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

using namespace vvctest;
using Bytes = std::vector<uint8_t>;

namespace {

std::vector<Bytes> Split(Bytes const& data, bool* notAByteStream = nullptr, bool* failedAtEnd = nullptr)
{
    std::istringstream in(std::string(data.begin(), data.end()), std::ios::binary);
    InputByteStream bs(in);
    std::vector<Bytes> units;
    for (int guard = 0; guard < 100 && in; ++guard) {
        Bytes nal;
        AnnexBStats stats;
        byteStreamNALUnit(bs, nal, stats);
        if (nal.empty() && !in)
            break;
        units.push_back(nal);
    }
    if (notAByteStream)
        *notAByteStream = bs.notAByteStream();
    if (failedAtEnd)
        *failedAtEnd = in.fail() && in.eof();
    return units;
}

// A complete SPS: the first unit of each case.
const Bytes kSps = Nal(15, SpsRbsp(SeqParams()));
const Bytes kPh = {0x00, 0x99};

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (auto const& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST(VvcByteStream, SplittingTable)
{
    const Bytes sc3 = {0, 0, 1}, sc4 = {0, 0, 0, 1};
    struct Case
    {
        char const* name;
        Bytes input;
        std::vector<Bytes> units;
    };
    const Case cases[] = {
        {"3-byte start codes",
         Cat({sc3, kSps, {0x11, 0x22}, sc3, kPh, {0x33}}),
         {Cat({kSps, {0x11, 0x22}}), Cat({kPh, {0x33}})}},
        {"4-byte start codes", Cat({sc4, kSps, {0x11}, sc4, kPh, {0x22}}), {Cat({kSps, {0x11}}), Cat({kPh, {0x22}})}},
        {"leading zeros", Cat({{0, 0, 0, 0, 0}, sc3, kSps, {0x11}}), {Cat({kSps, {0x11}})}},
        {"trailing zeros between and at the end",
         Cat({sc3, kSps, {0x11}, {0, 0, 0, 0}, sc3, kPh, {0x22}, {0, 0, 0}}),
         {Cat({kSps, {0x11}}), Cat({kPh, {0x22}})}},
        {"zero bytes inside a unit",
         Cat({sc3, kSps, {0x00, 0x11, 0x00, 0x00, 0x03, 0x00, 0x80}}),
         {Cat({kSps, {0x00, 0x11, 0x00, 0x00, 0x03, 0x00, 0x80}})}},
        {"unit cut by 0x000000", Cat({sc3, kSps, {0x11, 0x00, 0x00, 0x00, 0x01}, kPh}), {Cat({kSps, {0x11}}), kPh}},
        {"empty unit between start codes", Cat({sc3, kSps, sc3, sc3, kPh}), {kSps, {}, kPh}},
        {"start code at the very end", Cat({sc3, kSps, {0x44}, sc3}), {Cat({kSps, {0x44}})}},
        {"only zeros", {0, 0, 0, 0, 0, 0}, {}},
        {"empty", {}, {}},
    };
    for (Case const& c : cases) {
        bool failed = false;
        EXPECT_EQ(Split(c.input, nullptr, &failed), c.units) << c.name;
        EXPECT_TRUE(failed) << c.name << ": the stream reports its end";
    }
}

TEST(VvcByteStream, DataThatIsNotAVvcByteStreamEndsAtOnce)
{
    const Bytes sc4 = {0, 0, 0, 1};
    struct Case
    {
        char const* name;
        Bytes input;
    };
    const Case cases[] = {
        {"bytes before the first start code", Cat({{0x12}, sc4, kSps, {0x11}})},
        {"HEVC VPS", Cat({sc4, {0x40, 0x01, 0x0C, 0x01}, sc4, kSps})},
        {"H.264 SPS", Cat({sc4, {0x67, 0x42, 0x00, 0x1E}, sc4, kSps})},
        {"H.264 AUD", Cat({sc4, {0x09, 0xF0}, sc4, kSps})},
        {"a trailing picture first", Cat({sc4, {0x00, 0x01, 0x80}, sc4, kSps})},
        {"a picture header first", Cat({sc4, kPh, {0x80}, sc4, kSps})},
        {"temporal id above 0", Cat({sc4, {0x00, 0x7A, 0x80}})},
        {"an SPS header on other data", Cat({sc4, {0x00, 0x79, 0xFF, 0x00, 0x12}, sc4, kSps})},
        {"a malformed delimiter", Cat({sc4, {0x00, 0xA1, 0x80, 0x11}})},
        {"IVF signature", {'D', 'K', 'I', 'F', 0, 0, 0x20, 0}},
    };
    for (Case const& c : cases) {
        bool notAByteStream = false;
        EXPECT_TRUE(Split(c.input, &notAByteStream).empty()) << c.name;
        EXPECT_TRUE(notAByteStream) << c.name;
    }
}

namespace {

Bytes Rbsp(std::function<void(BitWriter&)> const& body, bool trailing = true)
{
    BitWriter w;
    body(w);
    if (trailing)
        w.trailingBits();
    return w.data();
}

// profile_tier_level(1, 0) of a Main 10 stream without constraint info.
void Ptl(BitWriter& w)
{
    w.u(1, 7);
    w.flag(false);
    w.u(35, 8);
    w.flag(true);
    w.flag(false);
    w.flag(false); // gci_present_flag
    w.alignZero();
    w.u(0, 8); // no sub-profiles
}

// One SEI message of the given type and payload bytes.
Bytes SeiRbsp(int type, Bytes const& payload)
{
    return Rbsp([&](BitWriter& w) {
        for (int t = type; t >= 0; t -= 255)
            w.u(uint32_t(t >= 255 ? 255 : t), 8);
        for (int n = int(payload.size()); n >= 0; n -= 255)
            w.u(uint32_t(n >= 255 ? 255 : n), 8);
        w.bytes(payload);
    });
}

} // namespace

TEST(VvcByteStream, StreamsMayOpenWithAnyNonPictureUnit)
{
    const Bytes sc4 = {0, 0, 0, 1};
    const Bytes dci = Rbsp([](BitWriter& w) {
        w.u(0, 4);
        w.u(1, 4); // two PTLs
        Ptl(w);
        Ptl(w);
        w.flag(false);
    });
    const Bytes opi = Rbsp([](BitWriter& w) {
        w.flag(true);
        w.ue(0);
        w.flag(true);
        w.u(6, 3);
        w.flag(false);
    });
    const Bytes aud = Rbsp([](BitWriter& w) {
        w.flag(true);
        w.u(2, 3);
    });
    Bytes longHash(300, 0x5A);
    struct Case
    {
        char const* name;
        Bytes first;
        bool detected;
    };
    const Case cases[] = {
        {"DCI", Nal(13, dci), true},
        {"OPI", Nal(12, opi), true},
        {"AUD of an IRAP", Nal(20, aud), true},
        {"AUD with temporal id 2", Nal(20, aud, 0, 2), true},
        {"VPS", Nal(14, Rbsp([](BitWriter& w) {
                        w.u(1, 4);
                        w.u(0, 6);
                        w.u(0, 3);
                        w.u(0, 6);
                    })),
         true},
        {"PPS", Nal(16, PpsRbsp(PicParams())), true},
        {"ALF APS", Nal(17, Rbsp([](BitWriter& w) {
                            w.u(0, 3);
                            w.u(7, 5);
                            w.flag(true);
                            w.u(0x1234, 16);
                        })),
         true},
        {"prefix SEI", Nal(23, SeiRbsp(1, {0x12, 0x34})), true},
        {"suffix SEI of a higher sub-layer", Nal(24, SeiRbsp(132, Bytes(17, 0x11)), 0, 4), true},
        {"SEI with sizes above 255", Nal(23, SeiRbsp(300, longHash)), true},
        {"EOS", Nal(21, {}), true},
        {"EOB", Nal(22, {}), true},
        {"filler data", Nal(25, {0xFF, 0xFF, 0xFF, 0x80}), true},
        {"DCI with a reserved bit set", Nal(13, Rbsp([](BitWriter& w) {
                                                w.u(8, 4);
                                                w.u(0, 4);
                                                Ptl(w);
                                                w.flag(false);
                                            })),
         false},
        {"DCI of sub-layer 1", Nal(13, dci, 0, 1), false},
        {"DCI followed by more data", Nal(13, Rbsp([](BitWriter& w) {
                                              w.u(0, 8);
                                              Ptl(w);
                                              w.flag(false);
                                              w.u(0x5, 8);
                                          })),
         false},
        {"OPI without its stop bit", Nal(12, {0xF8}), false},
        {"AUD of a reserved picture type", Nal(20, Rbsp([](BitWriter& w) {
                                                   w.flag(false);
                                                   w.u(5, 3);
                                               })),
         false},
        {"APS of a reserved type", Nal(17, Rbsp([](BitWriter& w) {
                                           w.u(4, 3);
                                           w.u(0, 5);
                                           w.flag(false);
                                       })),
         false},
        {"LMCS APS id above 3", Nal(17, Rbsp([](BitWriter& w) {
                                        w.u(1, 3);
                                        w.u(4, 5);
                                        w.flag(false);
                                    })),
         false},
        {"SEI payload longer than the unit", Nal(23, {0x05, 0x10, 0x11, 0x80}), false},
        {"SEI without trailing bits", Nal(23, {0x05, 0x01, 0x11}), false},
        {"SEI with an empty payload", Nal(23, {0x05, 0x00, 0x80}), false},
        {"EOS with a payload", Nal(21, {0x80}), false},
        {"EOB of sub-layer 3", Nal(22, {}, 0, 3), false},
        {"filler data with another byte", Nal(25, {0xFF, 0x12, 0x80}), false},
        {"suffix APS", Nal(18, Rbsp([](BitWriter& w) {
                               w.u(0, 3);
                               w.u(0, 5);
                               w.flag(false);
                           })),
         false},
        {"picture header", Nal(19, {0x80}), false},
    };
    for (Case const& c : cases) {
        bool notAByteStream = false;
        const std::vector<Bytes> units = Split(Cat({sc4, c.first, sc4, kSps}), &notAByteStream);
        EXPECT_EQ(!notAByteStream, c.detected) << c.name;
        EXPECT_EQ(units.size(), c.detected ? 2u : 0u) << c.name;
    }
}

TEST(VvcByteStream, BrokenSyntaxAfterTheFirstUnitThrows)
{
    // Non-zero bytes after a unit's terminating zeros are no start code.
    const Bytes data = Cat({{0, 0, 1}, kSps, {0x11, 0x00, 0x00, 0x00, 0x05}});
    EXPECT_THROW(Split(data), Exception);
}

TEST(VvcByteStream, PeekDoesNotMove)
{
    const Bytes data = Cat({{0, 0, 0, 1}, kSps, {0x11}, {0, 0, 1}, kPh, {0x22}});
    std::istringstream in(std::string(data.begin(), data.end()), std::ios::binary);
    InputByteStream bs(in);
    Bytes nal, peeked;
    AnnexBStats stats;
    byteStreamNALUnit(bs, nal, stats);
    ASSERT_TRUE(bs.peekNalUnit(peeked));
    EXPECT_EQ(peeked, Cat({kPh, {0x22}}));
    EXPECT_TRUE(in.good()) << "peeking at the last unit leaves the state alone";
    byteStreamNALUnit(bs, nal, stats);
    EXPECT_EQ(nal, Cat({kPh, {0x22}}));
    EXPECT_TRUE(in.fail());
    EXPECT_FALSE(bs.peekNalUnit(peeked));
}

TEST(VvcByteStream, EmulationPreventionRemoval)
{
    struct Case
    {
        Bytes payload;
        Bytes rbsp;
    };
    // clang-format off
    const Case cases[] = {
        {{0x00, 0x00, 0x03, 0x01}, {0x00, 0x00, 0x01}},
        {{0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {{0x00, 0x03, 0x01}, {0x00, 0x03, 0x01}},
        {{0x00, 0x00, 0x03}, {0x00, 0x00}}, // cabac_zero_word at the end
        {{0x11, 0x00, 0x00, 0x03, 0x03, 0x00, 0x00, 0x03, 0x02}, {0x11, 0x00, 0x00, 0x03, 0x00, 0x00, 0x02}},
    };
    // clang-format on
    for (Case const& c : cases) {
        InputBitstream bs;
        bs.getFifo() = c.payload;
        bs.convertPayloadToRBSP();
        EXPECT_EQ(bs.getFifo(), c.rbsp);
    }
    InputBitstream bad;
    bad.getFifo() = {0x00, 0x00, 0x03, 0x04};
    EXPECT_THROW(bad.convertPayloadToRBSP(), Exception);
}

TEST(VvcByteStream, NalHeader)
{
    InputNALUnit nal;
    nal.getBitstream().getFifo() = {0x05, (1 << 3) | 3, 0x80}; // layer 5, STSA, temporal id 2
    read(nal);
    EXPECT_EQ(nal.m_nuhLayerId, 5);
    EXPECT_EQ(nal.m_nalUnitType, 1);
    EXPECT_EQ(nal.m_temporalId, 2);

    const Bytes bad[] = {{0x80, 0x79}, {0x00, 0x78}, {0x00, (7 << 3) | 2}, {0x00}};
    for (Bytes const& b : bad) {
        InputNALUnit n;
        n.getBitstream().getFifo() = b;
        EXPECT_THROW(read(n), Exception);
    }
}

TEST(VvcParameterSets, SpsAndPpsFields)
{
    SeqParams plain;
    SeqParams tenBitWindow;
    tenBitWindow.width = 1928;
    tenBitWindow.height = 1088;
    tenBitWindow.bitDepth = 10;
    tenBitWindow.window = true;
    tenBitWindow.winLeft = 1;
    tenBitWindow.winRight = 3;
    tenBitWindow.winBottom = 4;
    tenBitWindow.maxDecPicBuffering = 6;
    tenBitWindow.maxNumReorder = 3;
    tenBitWindow.log2MaxPocLsb = 16;
    SeqParams constraintsAndSubLayers = plain;
    constraintsAndSubLayers.gciPresent = true;
    constraintsAndSubLayers.maxSubLayersMinus1 = 2;
    constraintsAndSubLayers.chromaFormat = 2;
    constraintsAndSubLayers.maxNumReorder = 2;
    SeqParams noDpb = plain;
    noDpb.dpbParams = false;
    noDpb.chromaFormat = 3;

    for (SeqParams const& p : {plain, tenBitWindow, constraintsAndSubLayers, noDpb}) {
        InputNALUnit nal;
        nal.getBitstream().getFifo() = Nal(15, SpsRbsp(p));
        read(nal);
        SPS sps;
        parseSPS(nal.getBitstream(), sps);
        EXPECT_EQ(sps.m_chromaFormatIdc, p.chromaFormat);
        EXPECT_EQ(sps.m_maxWidth, p.width);
        EXPECT_EQ(sps.m_maxHeight, p.height);
        EXPECT_EQ(sps.m_bitDepth, p.bitDepth);
        EXPECT_EQ(sps.m_log2MaxPocLsb, p.log2MaxPocLsb);
        EXPECT_EQ(sps.m_maxSubLayers, p.maxSubLayersMinus1 + 1);
        EXPECT_EQ(sps.m_conformanceWindow.getWindowLeftOffset(), p.winLeft);
        EXPECT_EQ(sps.m_conformanceWindow.getWindowRightOffset(), p.winRight);
        EXPECT_EQ(sps.m_conformanceWindow.getWindowTopOffset(), p.winTop);
        EXPECT_EQ(sps.m_conformanceWindow.getWindowBottomOffset(), p.winBottom);
        if (p.dpbParams) {
            for (int tid = 0; tid <= p.maxSubLayersMinus1; ++tid) {
                EXPECT_EQ(sps.getMaxDecPicBuffering(tid), p.maxDecPicBuffering);
                EXPECT_EQ(sps.getMaxNumReorderPics(tid), p.maxNumReorder);
            }
        } else {
            EXPECT_EQ(sps.getMaxDecPicBuffering(0), 16) << "without DPB parameters the largest buffer";
        }

        // A full-size PPS without its own window takes the SPS's; a smaller one keeps its own.
        PicParams full;
        full.width = p.width;
        full.height = p.height;
        PicParams part = full;
        part.width = 32;
        part.height = 16;
        part.window = true;
        part.winRight = 2;
        for (PicParams const& pp : {full, part}) {
            InputNALUnit pn;
            pn.getBitstream().getFifo() = Nal(16, PpsRbsp(pp));
            read(pn);
            PPS pps;
            parsePPS(pn.getBitstream(), pps);
            CheckPpsAgainstSps(pps, sps);
            EXPECT_EQ(pps.m_picWidth, pp.width);
            EXPECT_EQ(pps.m_picHeight, pp.height);
            Window const& w = pps.m_conformanceWindow;
            EXPECT_EQ(w.getWindowLeftOffset(), pp.window ? pp.winLeft : p.winLeft);
            EXPECT_EQ(w.getWindowRightOffset(), pp.window ? pp.winRight : p.winRight);
            EXPECT_EQ(w.getWindowBottomOffset(), pp.window ? pp.winBottom : p.winBottom);
        }
    }
}

TEST(VvcParameterSets, OutOfRangeValuesThrow)
{
    auto parse = [](SeqParams const& p) {
        InputNALUnit nal;
        nal.getBitstream().getFifo() = Nal(15, SpsRbsp(p));
        read(nal);
        SPS sps;
        parseSPS(nal.getBitstream(), sps);
    };
    SeqParams odd;
    odd.width = 66; // not a multiple of 8
    SeqParams huge;
    huge.width = 65536;
    SeqParams windowTooWide;
    windowTooWide.window = true;
    windowTooWide.winLeft = 16;
    windowTooWide.winRight = 16; // 64 samples of 64
    SeqParams reorderAboveBuffer;
    reorderAboveBuffer.maxNumReorder = 4;
    reorderAboveBuffer.maxDecPicBuffering = 2;
    for (SeqParams const& p : {odd, huge, windowTooWide, reorderAboveBuffer})
        EXPECT_THROW(parse(p), Exception);

    // Cut anywhere, the SPS runs out of bits.
    const Bytes sps = Nal(15, SpsRbsp(SeqParams()));
    for (size_t len = 2; len + 2 < sps.size(); ++len) {
        InputNALUnit nal;
        nal.getBitstream().getFifo() = Bytes(sps.begin(), sps.begin() + long(len));
        read(nal);
        SPS out;
        EXPECT_THROW(parseSPS(nal.getBitstream(), out), Exception) << len;
    }
}

