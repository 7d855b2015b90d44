// Pictures of several subpictures: the SPS layout with its inferred positions and sizes, the
// PPS's slices assigned to subpictures and addressed within them by the slice header, and the
// loop filters stopping at the boundaries of subpictures closed to them.

#include "bitstream/AnnexBread.h"
#include "bitstream/ParameterSets.h"
#include "decoding/Recon.h"
#include "decoding/StreamCheck.h"
#include "bitstream/Syntax.h"
#include "vvc_platform/vvc_recon_fixture.h"
#include "vvc_platform/vvc_test_streams.h"
#include "vvc_platform/vvc_test_writer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace vvcsyntax;

namespace {

// A field as written: `bits` 0 for ue(v).
struct Field
{
    uint32_t value;
    int bits;
};

void Write(vvctest::BitWriter& w, std::vector<Field> const& fields)
{
    for (Field const& f : fields) {
        if (f.bits == 0)
            w.ue(f.value);
        else
            w.u(f.value, f.bits);
    }
}

InputBitstream Reader(vvctest::BitWriter const& w)
{
    InputBitstream bs;
    bs.getFifo() = w.data();
    return bs;
}

struct Rect
{
    int x, y, w, h;
    bool operator==(Rect const& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

std::vector<Rect> RectsOf(SubpicLayout const& l)
{
    std::vector<Rect> r;
    for (int i = 0; i < l.count(); ++i)
        r.push_back({l.x[size_t(i)], l.y[size_t(i)], l.w[size_t(i)], l.h[size_t(i)]});
    return r;
}

// An SPS of a 256x128 picture of 64x64 CTUs (4x2 CTUs) with the given subpicture layout.
SeqParameterSet SpsWith(std::vector<Field> const& subpicInfo)
{
    SeqParameterSet sps;
    sps.log2CtuSize = 6;
    sps.picWidthMax = 256;
    sps.picHeightMax = 128;
    sps.subpicInfoPresent = true;
    vvctest::BitWriter w;
    Write(w, subpicInfo);
    w.trailingBits();
    InputBitstream bs = Reader(w);
    ParseSubpicInfo(bs, sps.picWidthMax, sps.picHeightMax, sps.log2CtuSize, sps.subpics);
    sps.numSubpicsMinus1 = sps.subpics.count() - 1;
    sps.subpicIdLenMinus1 = sps.subpics.idLenMinus1;
    return sps;
}

// Two subpictures, the top and the bottom CTU row, independent, IDs of 2 bits (none explicit
// unless `explicitIds`, then left to the PPS).
std::vector<Field> TopAndBottomRows(bool explicitIds = false)
{
    std::vector<Field> f = {{1, 0}, {1, 1}, {0, 1}, {3, 2}, {0, 1}, {0, 2}, {1, 1}, {1, 0}, {explicitIds, 1}};
    if (explicitIds)
        f.push_back({0, 1}); // not in the SPS
    return f;
}

// A PPS of the SPS's size: `partition` holds what follows pps_no_pic_partition_flag (with it)
// up to the slice layout's end; the rest is zeros.
std::vector<uint8_t> PpsRbsp(std::vector<Field> const& partition)
{
    vvctest::BitWriter w;
    Write(w, {{0, 6}, {0, 4}, {0, 1}, {256, 0}, {128, 0}, {0, 1}, {0, 1}, {0, 1}});
    Write(w, partition);
    // cabac init, two default reference counts, rpl1 index, weighted (bi)prediction, wraparound,
    // init QP, cu QP delta, chroma tool offsets, deblocking control, the five "in PH" flags
    // (rpl, SAO, ALF, QP delta), picture and slice header extensions, extension flag.
    Write(w, {{0, 1}, {0, 0}, {0, 0}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 0}, {0, 1}, {0, 1}, {0, 1}});
    Write(w, {{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}});
    w.trailingBits();
    return w.data();
}

PicParameterSet ParsePpsOf(std::vector<Field> const& partition, SeqParameterSet const& sps)
{
    InputBitstream bs;
    bs.getFifo() = PpsRbsp(partition);
    PicParameterSet pps;
    ParsePps(bs, pps, sps);
    return pps;
}

} // namespace

TEST(VvcSubpictures, SpsLayoutWithItsInferredPositionsAndSizes)
{
    // 4x2 CTUs: positions take 2 bits (x) and 1 bit (y), as do the sizes minus one.
    struct Case
    {
        char const* what;
        int width, height;
        std::vector<Field> fields;
        std::vector<Rect> want;
        std::vector<uint8_t> loopFilterAcross;
        bool throws;
    } const cases[] = {
        {"explicit; the last reaches the picture's edges",
         256,
         128,
         {{2, 0}, {1, 1}, {0, 1}, {1, 2}, {1, 1}, {2, 2}, {0, 1}, {1, 2}, {0, 1}, {2, 2}, {1, 1}, {1, 0}, {0, 1}},
         {{0, 0, 2, 2}, {2, 0, 2, 1}, {2, 1, 2, 1}},
         {0, 0, 0},
         false},
        {"equal sizes in raster order, their own flags",
         256,
         128,
         {{3, 0},
          {0, 1},
          {1, 1},
          {1, 2},
          {0, 1},
          {1, 1},
          {1, 1},
          {1, 1},
          {0, 1},
          {0, 1},
          {1, 1},
          {0, 1},
          {1, 1},
          {1, 0},
          {0, 1}},
         {{0, 0, 2, 1}, {2, 0, 2, 1}, {0, 1, 2, 1}, {2, 1, 2, 1}},
         {1, 0, 1, 1},
         false},
        {"one CTU row: no vertical fields",
         256,
         64,
         {{1, 0}, {1, 1}, {0, 1}, {0, 2}, {1, 2}, {0, 0}, {0, 1}},
         {{0, 0, 1, 1}, {1, 0, 3, 1}},
         {0, 0},
         false},
        {"overlapping",
         256,
         128,
         {{1, 0}, {1, 1}, {0, 1}, {2, 2}, {1, 1}, {2, 2}, {0, 1}, {0, 0}, {0, 1}},
         {},
         {},
         true},
        {"a CTU in none",
         256,
         128,
         {{2, 0}, {1, 1}, {0, 1}, {1, 2}, {0, 1}, {2, 2}, {0, 1}, {1, 2}, {0, 1}, {2, 2}, {1, 1}, {1, 0}, {0, 1}},
         {},
         {},
         true},
        {"equal sizes that do not tile the picture",
         256,
         128,
         {{1, 0}, {1, 1}, {1, 1}, {2, 2}, {0, 1}, {1, 0}, {0, 1}},
         {},
         {},
         true},
        {"IDs too short for the count",
         256,
         128,
         {{2, 0}, {1, 1}, {0, 1}, {1, 2}, {1, 1}, {2, 2}, {0, 1}, {1, 2}, {0, 1}, {2, 2}, {1, 1}, {0, 0}, {0, 1}},
         {},
         {},
         true},
    };
    for (Case const& c : cases) {
        vvctest::BitWriter w;
        Write(w, c.fields);
        w.trailingBits();
        InputBitstream bs = Reader(w);
        SubpicLayout l;
        if (c.throws) {
            EXPECT_THROW(ParseSubpicInfo(bs, c.width, c.height, 6, l), Exception) << c.what;
            continue;
        }
        ParseSubpicInfo(bs, c.width, c.height, 6, l);
        EXPECT_EQ(RectsOf(l), c.want) << c.what;
        EXPECT_EQ(l.loopFilterAcross, c.loopFilterAcross) << c.what;
        EXPECT_EQ(bs.bitsLeft(), 8u - (bs.bitPosition() % 8)) << c.what << ": read to its last field";
    }

    // Subpicture IDs signalled in the SPS.
    vvctest::BitWriter w;
    Write(w, {{1, 0}, {1, 1}, {0, 1}, {3, 2}, {0, 1}, {0, 2}, {1, 1}, {2, 0}, {1, 1}, {1, 1}, {5, 3}, {2, 3}});
    InputBitstream bs = Reader(w);
    SubpicLayout l;
    ParseSubpicInfo(bs, 256, 128, 6, l);
    EXPECT_EQ(l.ids, (std::vector<uint32_t>{5, 2}));
}

TEST(VvcSubpictures, PpsSlicesAreAssignedToTheirSubpictures)
{
    // Top and bottom CTU rows as two subpictures; CTU addresses 0..3 above, 4..7 below.
    SeqParameterSet const sps = SpsWith(TopAndBottomRows());
    struct Case
    {
        char const* what;
        std::vector<Field> partition;
        std::vector<std::vector<int>> subpicSlices;
        std::vector<std::vector<int>> sliceCtus;
        bool throws;
    } const cases[] = {
        {"one slice per subpicture: its CTUs",
         {{0, 1}, {0, 1}, {1, 2}, {0, 0}, {0, 0}, {3, 0}, {1, 0}, {1, 1}, {0, 1}},
         {{0}, {1}},
         {{0, 1, 2, 3}, {4, 5, 6, 7}},
         false},
        {"one slice per subpicture of two tiles",
         {{0, 1}, {0, 1}, {1, 2}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {0, 0}, {0, 0}, {1, 1}, {1, 1}, {1, 1}, {0, 1}},
         {{0}, {1}},
         {{0, 1, 2, 3}, {4, 5, 6, 7}},
         false},
        // 2x2 tiles of 2x1 CTUs: a slice per tile above, one slice of both tiles below.
        {"two slices in the first subpicture",
         {{0, 1},
          {0, 1},
          {1, 2},
          {1, 0},
          {1, 0},
          {1, 0},
          {1, 0},
          {0, 0},
          {0, 0},
          {1, 1},
          {1, 1},
          {0, 1},
          {2, 0},
          {0, 1},
          {0, 0},
          {0, 0},
          {0, 1}},
         {{0, 1}, {2}},
         {{0, 1}, {2, 3}, {4, 5, 6, 7}},
         false},
        // One tile of two CTU rows cut into slices of one row each.
        {"slices of CTU rows of a tile",
         {{0, 1}, {0, 1}, {1, 2}, {0, 0}, {0, 0}, {3, 0}, {1, 0}, {0, 1}, {1, 0}, {1, 0}, {0, 0}, {0, 1}},
         {{0}, {1}},
         {{0, 1, 2, 3}, {4, 5, 6, 7}},
         false},
        {"a slice over both subpictures",
         {{0, 1}, {0, 1}, {1, 2}, {0, 0}, {0, 0}, {3, 0}, {1, 0}, {0, 1}, {0, 0}},
         {},
         {},
         true},
        {"no partitions", {{1, 1}, {0, 1}}, {}, {}, true},
        {"raster-scan slices",
         {{0, 1}, {0, 1}, {1, 2}, {1, 0}, {0, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 1}},
         {},
         {},
         true},
    };
    for (Case const& c : cases) {
        if (c.throws) {
            EXPECT_THROW(ParsePpsOf(c.partition, sps), Exception) << c.what;
            continue;
        }
        PicParameterSet const pps = ParsePpsOf(c.partition, sps);
        EXPECT_EQ(pps.subpicSlices, c.subpicSlices) << c.what;
        EXPECT_EQ(pps.sliceCtus, c.sliceCtus) << c.what;
        EXPECT_EQ(pps.subpicIdVal, (std::vector<uint32_t>{0, 1})) << c.what;
    }
}

TEST(VvcSubpictures, SliceHeaderAddressesASliceWithinItsSubpicture)
{
    // Two subpictures (top and bottom rows), 2x2 tiles: the top one holds two slices, the
    // bottom one a single slice. The PPS maps the subpicture IDs to 3 and 1.
    SeqParameterSet const sps = SpsWith(TopAndBottomRows(true));
    std::vector<Field> const partition = {{0, 1}, {1, 1}, {1, 0}, {1, 0}, {3, 2}, {1, 2}, {1, 2},
                                          {1, 0}, {1, 0}, {1, 0}, {1, 0}, {0, 0}, {0, 0}, {1, 1},
                                          {1, 1}, {0, 1}, {2, 0}, {0, 1}, {0, 0}, {0, 0}, {0, 1}};
    PicParameterSet const pps = ParsePpsOf(partition, sps);
    ASSERT_EQ(pps.subpicIdVal, (std::vector<uint32_t>{3, 1}));
    struct Case
    {
        char const* what;
        std::vector<Field> fields; // sh_subpic_id, then sh_slice_address when present
        int subpicIdx;
        std::vector<int> ctus;
        bool throws;
    } const cases[] = {
        {"first slice of the top subpicture", {{3, 2}, {0, 1}}, 0, {0, 1}, false},
        {"second slice of the top subpicture", {{3, 2}, {1, 1}}, 0, {2, 3}, false},
        {"the bottom subpicture's only slice: no address", {{1, 2}}, 1, {4, 5, 6, 7}, false},
        {"an ID no subpicture has", {{0, 2}, {0, 1}}, 0, {}, true},
    };
    PictureHeaderParams ph;
    for (Case const& c : cases) {
        vvctest::BitWriter w;
        w.flag(false); // the picture header is a unit of its own
        Write(w, c.fields);
        w.flag(false); // no output of prior pictures
        w.ue(0);       // slice QP delta
        w.trailingBits();
        w.u(0xA5, 8); // slice data
        InputBitstream bs = Reader(w);
        SliceHeaderParams sh;
        if (c.throws) {
            EXPECT_THROW(ParseSliceHeader(bs, sh, NAL_UNIT_CODED_SLICE_IDR_N_LP, &ph, pps, sps), Exception) << c.what;
            continue;
        }
        ParseSliceHeader(bs, sh, NAL_UNIT_CODED_SLICE_IDR_N_LP, &ph, pps, sps);
        EXPECT_EQ(sh.subpicIdx, c.subpicIdx) << c.what;
        EXPECT_EQ(sh.ctus, c.ctus) << c.what;
        EXPECT_EQ(sh.sliceDataByte + 1, w.data().size()) << c.what;
    }
}

namespace {

// The fixture's picture widened to 128x64, two 64x64 CTUs, each its own slice and, unless
// `oneSubpic`, its own subpicture with the given loop filter flags. Slices and tiles are open to
// the filters.
struct TwoSubpictures : ReconFixture
{
    TwoSubpictures(bool oneSubpic, uint8_t across0, uint8_t across1)
    {
        sps.subpics = WholePictureSubpic(2, 1);
        if (!oneSubpic) {
            sps.subpics.x = {0, 1};
            sps.subpics.y = {0, 0};
            sps.subpics.w = {1, 1};
            sps.subpics.h = {1, 1};
            sps.subpics.treatedAsPic = {1, 1};
            sps.subpics.loopFilterAcross = {across0, across1};
        }
        pps.picWidth = 128;
        pps.picWidthInCtbs = 2;
        pps.tileColWidth = {2};
        pps.loopFilterAcrossSlices = pps.loopFilterAcrossTiles = true;
    }
};

struct FilterCase
{
    char const* what;
    bool oneSubpic;
    uint8_t across0, across1;
};

FilterCase const kFilterCases[] = {
    {"one subpicture", true, 0, 0}, {"both open", false, 1, 1},    {"both closed", false, 0, 0},
    {"left closed", false, 0, 1},   {"right closed", false, 1, 0},
};

} // namespace

TEST(VvcSubpictures, SaoOfACtbClosedToItsNeighbourSubpicture)
{
    // Horizontal edge offset on luma: column 63 (600 among 500) is a local maximum (-5), column
    // 64 (500 right of 600) a concave corner (+3), as is column 62 inside the left CTB. A CTB whose subpicture is
    // closed does not use the other subpicture's samples and keeps its own unchanged; the other CTB's flag does not
    // matter to it.
    for (FilterCase const& c : kFilterCases) {
        TwoSubpictures f(c.oneSubpic, c.across0, c.across1);
        f.sps.sao = true;
        f.sh.deblockingDisabled = true;
        f.sh.saoLuma = true;
        IntraPictureReconstructor recon(f.sps, f.pps);
        ASSERT_TRUE(recon.ok()) << recon.error();
        for (int ctu = 0; ctu < 2; ++ctu) {
            recon.startSlice(f.sh, ctu, nullptr);
            vvcslice::CtuFilterParams p;
            p.ctuAddr = ctu;
            p.saoType[0] = 2;
            p.saoEoClass[0] = 0;
            int const offsets[4] = {7, 3, -2, -5};
            std::copy(std::begin(offsets), std::end(offsets), p.saoOffset[0]);
            recon.ctu(p);
        }
        uint16_t* luma = recon.picture().plane(0);
        int const stride = recon.picture().planeWidth(0);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                luma[y * stride + x] = x == 63 ? 600 : 500;
        recon.finishPicture();
        luma = recon.picture().plane(0); // the filters leave the picture in other planes
        ASSERT_TRUE(recon.ok()) << recon.error();
        bool const leftOpen = c.oneSubpic || c.across0, rightOpen = c.oneSubpic || c.across1;
        for (int y : {0, 31, 63}) {
            EXPECT_EQ(luma[y * stride + 63], leftOpen ? 595 : 600) << c.what;
            EXPECT_EQ(luma[y * stride + 64], rightOpen ? 503 : 500) << c.what;
            EXPECT_EQ(luma[y * stride + 62], 503) << c.what; // its neighbours are on its side
            EXPECT_EQ(luma[y * stride + 65], 500) << c.what;
        }
    }
}

TEST(VvcSubpictures, DeblockingStopsWhereEitherSubpictureIsClosed)
{
    // Two intra coding units without residual, 500 left of the CTU boundary and 540 right of
    // it: the edge between them is filtered only when both subpictures allow it.
    for (FilterCase const& c : kFilterCases) {
        TwoSubpictures f(c.oneSubpic, c.across0, c.across1);
        f.sh.deblockingDisabled = false;
        IntraPictureReconstructor recon(f.sps, f.pps);
        ASSERT_TRUE(recon.ok()) << recon.error();
        for (int ctu = 0; ctu < 2; ++ctu) {
            recon.startSlice(f.sh, ctu, nullptr);
            vvcslice::CtuFilterParams p;
            p.ctuAddr = ctu;
            recon.ctu(p);
            vvcslice::IntraCodingUnit cu;
            cu.x = ctu * 64;
            cu.width = cu.height = 64;
            cu.lumaMode = 1;
            cu.qpY = 37;
            recon.codingUnit(cu);
        }
        ASSERT_TRUE(recon.ok()) << recon.error();
        uint16_t* luma = recon.picture().plane(0);
        int const stride = recon.picture().planeWidth(0);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                luma[y * stride + x] = x < 64 ? 500 : 540;
        recon.finishPicture();
        luma = recon.picture().plane(0); // the filters leave the picture in other planes
        ASSERT_TRUE(recon.ok()) << recon.error();
        bool const filtered = c.oneSubpic || (c.across0 && c.across1);
        for (int y : {0, 31, 63}) {
            EXPECT_EQ(luma[y * stride + 63] != 500, filtered) << c.what << " " << luma[y * stride + 63];
            EXPECT_EQ(luma[y * stride + 64] != 540, filtered) << c.what << " " << luma[y * stride + 64];
        }
    }
}

namespace {

using Bytes = std::vector<uint8_t>;

// Copies the RBSP bits [from, to) into the writer.
void CopyBits(std::vector<uint8_t> const& rbsp, uint64_t from, uint64_t to, vvctest::BitWriter& w)
{
    for (uint64_t i = from; i < to; ++i)
        w.u((rbsp[size_t(i >> 3)] >> (7 - (i & 7))) & 1u, 1);
}

// The position of the last set bit before `end`: a stop bit or byte_alignment's one bit.
uint64_t LastOneBit(std::vector<uint8_t> const& rbsp, uint64_t end)
{
    uint64_t i = end;
    while (i > 0 && !((rbsp[size_t((i - 1) >> 3)] >> (7 - ((i - 1) & 7))) & 1u))
        --i;
    return i - 1;
}

// The first picture of a stream of eleven rectangular slices (15x9 CTUs of 128: five slices in
// the top CTU row, one of rows 1..7, five in the bottom row) rewritten as three subpictures of
// those rows, with 12-bit subpicture IDs given in the SPS: the SPS gains the layout, each slice
// header its subpicture ID and its address within that subpicture.
Bytes AsThreeSubpictures(std::string const& path, bool loopFilterAcross)
{
    uint32_t const ids[3] = {0x123, 0x9AB, 0x456};
    vvctest::StreamBuilder out;
    SeqParameterSet sps;
    PicParameterSet pps;
    PictureHeaderParams ph;
    int pictureHeaders = 0;
    for (Bytes const& unit : vvctest::ReadUnits(path)) {
        InputNALUnit nal;
        nal.getBitstream().getFifo() = unit;
        read(nal);
        InputBitstream& bs = nal.getBitstream();
        std::vector<uint8_t> const& rbsp = bs.getFifo();
        int const type = nal.m_nalUnitType;
        if (type == NAL_UNIT_PH && ++pictureHeaders == 2)
            break;
        if (type == NAL_UNIT_SPS) {
            InputBitstream head = bs;
            ParseSps(head, sps);
            // Up to sps_subpic_info_present_flag.
            head = bs;
            head.read(8);
            int const maxSubLayersMinus1 = int(head.read(3));
            head.read(4);
            if (head.readFlag())
                ParseProfileTierLevel(head, true, maxSubLayersMinus1);
            head.readFlag();
            if (head.readFlag())
                head.readFlag();
            head.readUvlc();
            head.readUvlc();
            if (head.readFlag())
                for (int i = 0; i < 4; ++i)
                    head.readUvlc();
            uint64_t const flagPos = head.bitPosition();
            EXPECT_FALSE(head.readFlag()) << "the stream has no subpictures of its own";
            vvctest::BitWriter w;
            CopyBits(rbsp, 16, flagPos, w);
            // 89 bits in place of the flag: what follows moves by 11 bytes and keeps its alignment.
            uint32_t const across = loopFilterAcross ? 1 : 0;
            Write(w, {{1, 1},      {2, 0}, {0, 1}, {0, 1},      {14, 4}, {0, 4}, {0, 1},
                      {across, 1}, {0, 4}, {1, 4}, {14, 4},     {6, 4},  {0, 1}, {across, 1},
                      {0, 4},      {8, 4}, {0, 1}, {across, 1}, {11, 0}, {1, 1}, {1, 1}});
            for (uint32_t id : ids)
                w.u(id, 12);
            CopyBits(rbsp, flagPos + 1, LastOneBit(rbsp, rbsp.size() * 8), w);
            w.trailingBits();
            out.nal(vvctest::Nal(type, w.data(), nal.m_nuhLayerId, nal.m_temporalId));
            continue;
        }
        if (type == NAL_UNIT_PPS) {
            InputBitstream copy = bs;
            ParsePps(copy, pps, sps);
        } else if (type == NAL_UNIT_PH) {
            InputBitstream copy = bs;
            ParsePictureHeader(copy, ph, pps, sps);
        } else if (nal.isSlice()) {
            InputBitstream copy = bs;
            SliceHeaderParams sh;
            ParseSliceHeader(copy, sh, type, &ph, pps, sps);
            int const subpic = sh.sliceAddress < 5 ? 0 : sh.sliceAddress == 5 ? 1 : 2;
            int const address = sh.sliceAddress - (subpic == 0 ? 0 : subpic == 1 ? 5 : 6);
            vvctest::BitWriter w;
            w.flag(false); // the picture header is a unit of its own
            w.u(ids[subpic], 12);
            if (subpic != 1)
                w.u(uint32_t(address), 3); // five slices in the subpicture
            // The rest of the header after sh_slice_address (4 bits for the eleven slices).
            CopyBits(rbsp, 16 + 1 + 4, LastOneBit(rbsp, sh.sliceDataByte * 8), w);
            w.trailingBits();
            w.bytes(Bytes(rbsp.begin() + std::ptrdiff_t(sh.sliceDataByte), rbsp.end()));
            out.nal(vvctest::Nal(type, w.data(), nal.m_nuhLayerId, nal.m_temporalId));
            continue;
        }
        out.nal(unit);
    }
    return out.bytes();
}

} // namespace

TEST(VvcSubpictures, StreamOfThreeSubpicturesDecodesAsOnePicture)
{
    // Loop filters open across the subpictures: the picture is the original, and matches its
    // hash. Closed: deblocking, SAO and ALF stop at the subpicture boundaries and it no longer
    // does.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (bool across : {true, false}) {
        Bytes const stream = AsThreeSubpictures(vvctest::StreamPath("SLICES_A_HUAWEI_3.bit"), across);
        std::string const path = dir.filePath("subpictures.bit").toStdString();
        {
            std::ofstream f(path, std::ios::binary | std::ios::trunc);
            f.write(reinterpret_cast<char const*>(stream.data()), std::streamsize(stream.size()));
        }
        StreamCheckResult const r = CheckStream(path);
        EXPECT_EQ(r.error, "") << across;
        EXPECT_EQ(r.syntaxErrors, 0) << r.syntaxError;
        EXPECT_EQ(r.sliceDataError, "") << across;
        EXPECT_EQ(r.hashes.pictures, 1) << across;
        EXPECT_EQ(r.hashes.checked, 1) << across;
        EXPECT_EQ(r.hashes.matched, across ? 1 : 0) << across;
    }
}
