// 4:0:0 intra pictures: slice data without any chroma syntax, encoded here bin by bin, parsed
// and reconstructed (luma only, with deblocking, SAO and ALF), and checked against a one-plane
// hash; the same picture as a whole byte stream through the decoder to its output frame.

#include "test_support.h"
#include "vvc_platform/vvc_cabac_encoder.h"
#include "vvc_platform/vvc_test_writer.h"

#include "display/frame.h"
#include "decoders/ze_vvc_decoder.h"

#include "picture/PictureHash.h"
#include "decoding/Recon.h"
#include "slice/SliceParser.h"
#include "decoding/StreamCheck.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using vvctest::BitWriter;
using vvctest::Encoder;
using vvctest::Nal;

namespace {

// A 16x8 10-bit 4:0:0 picture of one 32x32 CTU: 4x4 minimum blocks, quad-tree splits only,
// SAO of luma and ALF with a fixed filter set on, no other tool.
struct MonoFixture
{
    vvcsyntax::SeqParameterSet sps;
    vvcsyntax::PicParameterSet pps;
    vvcsyntax::SliceHeaderParams sh;
    MonoFixture()
    {
        sps.chromaFormatIdc = 0;
        sps.bitDepth = 10;
        sps.log2CtuSize = 5;
        sps.log2MinCbSize = 2;
        sps.sao = sps.alf = true;
        pps.picWidth = 16;
        pps.picHeight = 8;
        pps.picWidthInCtbs = pps.picHeightInCtbs = 1;
        pps.tileColWidth = {1};
        pps.tileRowHeight = {1};
        sh.ctus = {0};
        sh.saoLuma = true;
        sh.alfEnabled = true;
    }
};

// The contexts the slice uses, with their initValue and shiftIdx, at the slice QP 26.
struct Contexts
{
    ContextModel saoType, alfCtb, split[2], mpm, notPlanar, cbfY, lastX, lastY, gt1;
    Contexts()
    {
        saoType.init(13, 4, 26);
        alfCtb.init(62, 0, 26);
        split[0].init(19, 12, 26);
        split[1].init(28, 13, 26);
        mpm.init(45, 6, 26);
        notPlanar.init(28, 5, 26); // second context: no ISP
        cbfY.init(15, 5, 26);
        lastX.init(13, 8, 26); // 4x4 luma, first prefix bin
        lastY.init(13, 8, 26);
        gt1.init(25, 9, 26); // first coefficient of the block
    }
};

// The slice data: the 8x8 block at (0, 0) split into four 4x4 planar units with the DC levels
// `dc` (-1, 0 or 1; by default only the first has one), then one 8x8 planar unit at (8, 0). No
// chroma mode, chroma coded flags or chroma tree anywhere.
std::vector<uint8_t> MonoSliceData(std::array<int, 4> const& dc = {1, 0, 0, 0})
{
    Contexts c;
    Encoder e;
    e.encodeBin(c.saoType, 0); // SAO off in the CTU
    e.encodeBin(c.alfCtb, 1);  // ALF on, fixed filter set 5
    for (unsigned b : {0u, 1u, 0u, 1u})
        e.encodeBypass(b);
    e.encodeBin(c.split[0], 1); // 8x8 at (0, 0): quad split (implied, the only split allowed)
    for (int k = 0; k < 4; ++k) {
        e.encodeBin(c.mpm, 1);
        e.encodeBin(c.notPlanar, 0);
        e.encodeBin(c.cbfY, dc[size_t(k)] != 0 ? 1 : 0);
        if (dc[size_t(k)] != 0) {
            e.encodeBin(c.lastX, 0);
            e.encodeBin(c.lastY, 0);
            e.encodeBin(c.gt1, 0);             // level 1
            e.encodeBypass(dc[size_t(k)] < 0); // sign
        }
    }
    e.encodeBin(c.split[1], 0); // 8x8 at (8, 0): not split (its left neighbour is smaller)
    e.encodeBin(c.mpm, 1);
    e.encodeBin(c.notPlanar, 0);
    e.encodeBin(c.cbfY, 0);
    e.encodeTerminate(1);
    return e.finish();
}

// Deblocking parameters of a slice header (present when the PPS allows overriding and `params`).
struct SliceDeblocking
{
    bool params = false, disabled = false;
    int beta = 0, tc = 0; // offsets div 2, luma
};

// Deblocking control of the PPS (present when `control`), and the pictures of the stream: IDR
// pictures of POC 0, 1, ..., each with the slice data and these slice header parameters.
struct DeblockingControl
{
    bool control = false, overrideEnabled = false, ppsDisabled = false;
    int ppsBeta = 0, ppsTc = 0;
    std::vector<SliceDeblocking> pictures = std::vector<SliceDeblocking>(1);
    // Luma-adaptive deblocking in the SPS: the lowest interval's QP offset, then per further
    // interval its lower bound (increasing) and QP offset.
    bool ladf = false;
    int ladfLowest = 0;
    std::vector<int> ladfBounds, ladfOffsets;
};

void WriteSe(BitWriter& w, int v)
{
    w.ue(v > 0 ? uint32_t(2 * v - 1) : uint32_t(-2 * v));
}

// The fixture's parameter sets (at `bitDepth`) as the bitstream carries them: SPS, PPS, then the
// IDR slice with its picture header and `sliceData`, and a suffix SEI with the one-plane MD5
// `md5` when given.
std::vector<uint8_t> MonoStream(std::vector<uint8_t> const& sliceData, std::array<uint8_t, 16> const* md5,
                                int bitDepth = 10, DeblockingControl const& dbk = {})
{
    vvctest::StreamBuilder b;
    BitWriter w;
    w.u(0, 4); // SPS id
    w.u(0, 4); // VPS id
    w.u(0, 3); // one sub-layer
    w.u(0, 2); // 4:0:0
    w.u(0, 2); // CTU 32
    w.flag(true);
    w.u(1, 7);     // profile
    w.flag(false); // tier
    w.u(51, 8);    // level
    w.flag(true);  // frame only
    w.flag(false); // multilayer
    w.flag(false); // no general constraints
    w.alignZero();
    w.u(0, 8);     // no sub-profiles
    w.flag(false); // GDR
    w.flag(false); // resampling
    w.ue(16);
    w.ue(8);
    w.flag(false); // conformance window
    w.flag(false); // subpictures
    w.ue(uint32_t(bitDepth - 8));
    w.flag(false); // wavefronts
    w.flag(false); // entry points
    w.u(4, 4);     // 8-bit POC LSB
    w.flag(false); // POC MSB
    w.u(0, 2);
    w.u(0, 2);
    w.ue(0); // DPB: one picture, no reordering, no latency limit
    w.ue(0);
    w.ue(0);
    w.ue(0);       // 4x4 minimum coding block
    w.flag(false); // partition constraints override
    w.ue(0);       // intra: quad-tree down to 4x4, no multi-type splits
    w.ue(0);
    w.ue(0); // inter
    w.ue(0);
    w.flag(false); // transform skip
    w.flag(false); // MTS
    w.flag(false); // LFNST
    w.flag(true);  // SAO
    w.flag(true);  // ALF
    for (int i = 0; i < 5; ++i)
        w.flag(false); // LMCS, weighted prediction, weighted bi-prediction, long-term, IDR lists
    w.flag(true);      // list 1 as list 0
    w.ue(0);           // no lists
    for (int i = 0; i < 6; ++i)
        w.flag(false); // wraparound, TMVP, AMVR, BDOF, SMVD, DMVR
    w.flag(false);     // MMVD
    w.ue(0);           // six merge candidates
    for (int i = 0; i < 5; ++i)
        w.flag(false); // SBT, affine, BCW, CIIP, GPM
    w.ue(0);           // parallel merge level
    for (int i = 0; i < 5; ++i)
        w.flag(false); // ISP, MRL, MIP, palette, IBC
    w.flag(dbk.ladf);
    if (dbk.ladf) {
        w.u(uint32_t(dbk.ladfBounds.size() - 1), 2); // intervals - 2
        WriteSe(w, dbk.ladfLowest);
        int bound = 0;
        for (size_t i = 0; i < dbk.ladfBounds.size(); ++i) {
            WriteSe(w, dbk.ladfOffsets[i]);
            w.ue(uint32_t(dbk.ladfBounds[i] - bound - 1)); // the step to this bound, minus 1
            bound = dbk.ladfBounds[i];
        }
    }
    for (int i = 0; i < 5; ++i)
        w.flag(false); // scaling matrix, DQ, SDH, VB, HRD
    w.flag(false);     // field sequence
    w.flag(false);     // VUI
    w.flag(false);     // extension
    w.trailingBits();
    b.nal(Nal(15, w.data()));

    BitWriter p;
    p.u(0, 6); // PPS id
    p.u(0, 4); // SPS id
    p.flag(false);
    p.ue(16);
    p.ue(8);
    p.flag(false); // conformance window
    p.flag(false); // scaling window
    p.flag(false); // output flag
    p.flag(true);  // no picture partition
    p.flag(false); // subpicture ids
    p.flag(false); // CABAC init
    p.ue(0);
    p.ue(0);
    for (int i = 0; i < 4; ++i)
        p.flag(false); // list 1 index, weighted prediction, weighted bi-prediction, wraparound
    p.ue(0);           // initial QP 26
    p.flag(false);     // CU QP delta
    p.flag(false);     // chroma tool offsets
    p.flag(dbk.control);
    if (dbk.control) {
        p.flag(dbk.overrideEnabled);
        p.flag(dbk.ppsDisabled);
        if (!dbk.ppsDisabled) {
            WriteSe(p, dbk.ppsBeta);
            WriteSe(p, dbk.ppsTc);
        }
    }
    p.flag(false); // picture header extension
    p.flag(false); // slice header extension
    p.flag(false); // extension
    p.trailingBits();
    b.nal(Nal(16, p.data()));

    for (size_t pic = 0; pic < dbk.pictures.size(); ++pic) {
        SliceDeblocking const& sd = dbk.pictures[pic];
        BitWriter s;
        s.flag(true);          // picture header in the slice header
        s.flag(true);          // IRAP
        s.flag(false);         // reference picture
        s.flag(false);         // GDR
        s.flag(false);         // intra slices only
        s.ue(0);               // PPS id
        s.u(uint32_t(pic), 8); // POC LSB
        s.flag(false);         // no output of prior pictures
        s.flag(true);          // ALF on
        s.u(0, 3);             // fixed filter sets only
        s.ue(0);               // slice QP delta
        s.flag(true);          // SAO of luma
        if (dbk.control && dbk.overrideEnabled) {
            s.flag(sd.params);
            if (sd.params) {
                if (!dbk.ppsDisabled)
                    s.flag(sd.disabled);
                if (!sd.disabled) {
                    WriteSe(s, sd.beta);
                    WriteSe(s, sd.tc);
                }
            }
        }
        s.flag(true); // byte alignment
        s.alignZero();
        s.bytes(sliceData);
        b.nal(Nal(8, s.data()));

        if (md5) {
            BitWriter sei;
            sei.u(132, 8);
            sei.u(18, 8);
            sei.u(0, 8);    // MD5
            sei.flag(true); // a single component
            sei.u(0, 7);
            sei.bytes(std::vector<uint8_t>(md5->begin(), md5->end()));
            sei.trailingBits();
            b.nal(Nal(24, sei.data()));
        }
    }
    return b.bytes();
}

std::array<uint8_t, 16> FlatMd5(int value, int bitDepth = 10)
{
    std::vector<uint16_t> const flat(16 * 8, uint16_t(value));
    return ComputePlaneHash(PictureHashType::MD5, PlaneView{flat.data(), 16, 16, 8}, bitDepth).md5;
}

// Keeps the decoded units and hands everything on to the reconstructor.
struct Recorder : vvcslice::SliceDataSink
{
    explicit Recorder(IntraPictureReconstructor& r) : recon(r) {}
    void ctu(vvcslice::CtuFilterParams const& p) override { recon.ctu(p); }
    void codingUnit(vvcslice::IntraCodingUnit const& cu) override
    {
        units.push_back(cu);
        recon.codingUnit(cu);
    }
    IntraPictureReconstructor& recon;
    std::vector<vvcslice::IntraCodingUnit> units;
};

} // namespace

TEST(VvcMonochrome, SliceDataWithoutChromaParsesAndReconstructsLumaOnly)
{
    MonoFixture f;
    std::vector<uint8_t> const data = MonoSliceData();
    IntraPictureReconstructor recon(f.sps, f.pps);
    ASSERT_TRUE(recon.ok()) << recon.error();
    recon.startSlice(f.sh, 0, nullptr);
    Recorder rec(recon);
    vvcslice::SliceParseResult const r =
        vvcslice::ParseIntraSliceData(data.data(), data.size(), f.sps, f.pps, f.sh, nullptr, &rec);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.ctus, 1);

    // Four 4x4 units (no chroma unit after them: the split keeps its single tree) and one 8x8.
    struct Unit
    {
        int x, y, w;
        size_t blocks;
    } const expected[] = {{0, 0, 4, 1}, {4, 0, 4, 0}, {0, 4, 4, 0}, {4, 4, 4, 0}, {8, 0, 8, 0}};
    ASSERT_EQ(rec.units.size(), std::size(expected));
    for (size_t i = 0; i < rec.units.size(); ++i) {
        vvcslice::IntraCodingUnit const& cu = rec.units[i];
        EXPECT_EQ(cu.tree, 2) << i;
        EXPECT_EQ(cu.x, expected[i].x) << i;
        EXPECT_EQ(cu.y, expected[i].y) << i;
        EXPECT_EQ(cu.width, expected[i].w) << i;
        EXPECT_EQ(cu.lumaMode, vvcslice::kPlanar) << i;
        EXPECT_EQ(cu.lfnstIdx, 0) << i;
        ASSERT_EQ(cu.blocks.size(), expected[i].blocks) << i;
    }
    vvcslice::TransformBlock const& b = rec.units[0].blocks[0];
    EXPECT_EQ(b.cIdx, 0);
    std::vector<int32_t> levels(16, 0);
    levels[0] = 1;
    EXPECT_EQ(b.levels, levels);

    recon.finishPicture();
    ASSERT_TRUE(recon.ok()) << recon.error();
    PelUnitBuf const pic = recon.picture().view();
    EXPECT_EQ(pic.chromaFormat, CHROMA_400);
    EXPECT_EQ(pic.plane(1).samples, nullptr);
    EXPECT_EQ(pic.plane(2).samples, nullptr);
    // The DC level scales to 408 at QP 26 (38 with the 10-bit offset) and transforms to a
    // residual of 13 on the mid-grey prediction; every later unit predicts planar from it and the
    // filters keep the picture flat.
    PlaneView const y = pic.plane(0);
    ASSERT_EQ(y.width, 16);
    ASSERT_EQ(y.height, 8);
    for (int yy = 0; yy < 8; ++yy)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(y.samples[yy * y.stride + x], 525) << x << "," << yy;

    // Its hash SEI has one plane.
    PictureHash hash;
    hash.numPlanes = 1;
    hash.planes[0].md5 = FlatMd5(525);
    PlaneView const planes[3] = {pic.plane(0), pic.plane(1), pic.plane(2)};
    int const depth[3] = {10, 10, 10};
    EXPECT_EQ(CheckPictureHash(hash, planes, depth), -1);
}

TEST(VvcMonochrome, OtherChromaFormatsAreRefused)
{
    // 4:2:2 and 4:4:4 are neither parsed nor reconstructed: both say so instead of misreading.
    for (int format : {2, 3}) {
        MonoFixture f;
        f.sps.chromaFormatIdc = format;
        std::vector<uint8_t> const data = MonoSliceData();
        vvcslice::SliceParseResult const r =
            vvcslice::ParseIntraSliceData(data.data(), data.size(), f.sps, f.pps, f.sh, nullptr, nullptr);
        EXPECT_FALSE(r.ok) << format;
        EXPECT_FALSE(r.error.empty()) << format;
        IntraPictureReconstructor recon(f.sps, f.pps);
        EXPECT_FALSE(recon.ok()) << format;
    }
}

TEST(VvcMonochrome, StreamMatchesItsHashAndOutputsNeutralChroma)
{
    // The picture of the slice data test as a byte stream: its hash SEI matches (a wrong one
    // does not, and the picture is then not output), and the decoder gives it as 4:2:0 with
    // the luma samples and mid-grey chroma. At 8 bits the DC level makes a residual of 3.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::array<uint8_t, 16> const right10 = FlatMd5(525), wrong10 = FlatMd5(524), right8 = FlatMd5(131, 8);
    struct Case
    {
        char const* name;
        int bitDepth;
        std::array<uint8_t, 16> const* md5;
        int checked, matched;
        AVPixelFormat fmt;
        int luma, chroma;
    } const cases[] = {
        {"right.vvc", 10, &right10, 1, 1, AV_PIX_FMT_YUV420P10LE, 525, 512},
        {"wrong.vvc", 10, &wrong10, 1, 0, AV_PIX_FMT_YUV420P10LE, 0, 0},
        {"nohash.vvc", 10, nullptr, 0, 0, AV_PIX_FMT_YUV420P10LE, 525, 512},
        {"8bit.vvc", 8, &right8, 1, 1, AV_PIX_FMT_YUV420P, 131, 128},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        QString const path = QDir(dir.path()).filePath(QLatin1String(c.name));
        ASSERT_TRUE(WriteAll(path, MonoStream(MonoSliceData(), c.md5, c.bitDepth)));
        StreamCheckResult const r = CheckStream(path.toStdString());
        EXPECT_EQ(r.syntaxErrors, 0) << r.syntaxError;
        EXPECT_TRUE(r.sliceDataError.empty()) << r.sliceDataError;
        EXPECT_TRUE(r.error.empty()) << r.error;
        EXPECT_EQ(r.chromaFormatIdc, 0);
        EXPECT_EQ(r.hashes.pictures, 1);
        EXPECT_EQ(r.hashes.checked, c.checked);
        EXPECT_EQ(r.hashes.matched, c.matched);

        ze::nox::core::ZeVvcDecoder dec;
        ASSERT_EQ(dec.openFile(path, nullptr), ze::nox::core::ZE_NOX_CORE_OK);
        EXPECT_EQ(dec.width(), 16);
        EXPECT_EQ(dec.height(), 8);
        EXPECT_EQ(dec.pixelFormat(), c.fmt);
        ASSERT_EQ(dec.getOriginalFrameCount(), 1);
        ze::nox::core::Frame frame;
        if (c.matched != c.checked) {
            EXPECT_NE(dec.getFirstFrame(frame), ze::nox::core::ZE_NOX_CORE_OK) << "a mismatching picture is not shown";
            continue;
        }
        ASSERT_EQ(dec.getFirstFrame(frame), ze::nox::core::ZE_NOX_CORE_OK);
        AVFrame const* f = frame.avFrame();
        ASSERT_EQ(f->format, c.fmt);
        for (int p = 0; p < 3; ++p) {
            int const w = p ? 8 : 16, h = p ? 4 : 8, want = p ? c.chroma : c.luma;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    uint8_t const* row = f->data[p] + y * f->linesize[p];
                    int const v = c.bitDepth > 8 ? reinterpret_cast<uint16_t const*>(row)[x] : row[x];
                    ASSERT_EQ(v, want) << "plane " << p << " at " << x << "," << y;
                }
        }
    }
}

TEST(VvcMonochrome, DeblockingParametersOfTheSliceHeaderGovernTheSlice)
{
    // A checker of +1 and -1 DC levels, whose 4x4 edges the deblocking filters. Parameters the
    // slice header carries must give the picture that the same parameters in the PPS give: the
    // offsets, the filter turned off, and the filter turned on where the PPS has it off; in a
    // stream of several pictures each picture follows its own slice header.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<uint8_t> const data = MonoSliceData({1, -1, -1, 1});
    auto decode = [&](char const* name, DeblockingControl const& dbk) {
        std::vector<std::vector<uint16_t>> pictures;
        QString const path = QDir(dir.path()).filePath(QLatin1String(name));
        EXPECT_TRUE(WriteAll(path, MonoStream(data, nullptr, 10, dbk)));
        StreamCheckResult const r = CheckStream(path.toStdString());
        EXPECT_EQ(r.syntaxErrors, 0) << name << ": " << r.syntaxError;
        EXPECT_TRUE(r.sliceDataError.empty()) << name << ": " << r.sliceDataError;
        ze::nox::core::ZeVvcDecoder dec;
        EXPECT_EQ(dec.openFile(path, nullptr), ze::nox::core::ZE_NOX_CORE_OK) << name;
        EXPECT_EQ(dec.getOriginalFrameCount(), int(dbk.pictures.size())) << name;
        for (size_t i = 0; i < dbk.pictures.size(); ++i) {
            ze::nox::core::Frame frame;
            if ((i ? dec.getNextFrame(frame) : dec.getFirstFrame(frame)) != ze::nox::core::ZE_NOX_CORE_OK) {
                ADD_FAILURE() << name << ": picture " << i << " not decoded";
                break;
            }
            AVFrame const* f = frame.avFrame();
            if (!f || !f->data[0] || f->format != AV_PIX_FMT_YUV420P10LE || f->width != 16 || f->height != 8) {
                ADD_FAILURE() << name << ": picture " << i << " is not the 16x8 10-bit frame";
                break;
            }
            std::vector<uint16_t> luma;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 16; ++x)
                    luma.push_back(reinterpret_cast<uint16_t const*>(f->data[0] + y * f->linesize[0])[x]);
            pictures.push_back(luma);
        }
        return pictures;
    };
    auto one = [&](char const* name, DeblockingControl const& dbk) {
        auto const p = decode(name, dbk);
        return p.empty() ? std::vector<uint16_t>() : p[0];
    };
    DeblockingControl off, weak;
    off.control = off.ppsDisabled = true;
    weak.control = true;
    weak.ppsBeta = weak.ppsTc = -2;
    std::vector<uint16_t> const plain = one("plain.vvc", {}), unfiltered = one("off.vvc", off),
                                weaker = one("weak.vvc", weak);
    ASSERT_EQ(plain.size(), 128u);
    EXPECT_NE(plain, unfiltered) << "the fixture's edges are filtered";
    EXPECT_NE(plain, weaker) << "the offsets change the filtering";
    EXPECT_NE(weaker, unfiltered);

    SliceDeblocking const none, zero{true, false, 0, 0}, offsets{true, false, -2, -2}, disabled{true, true, 0, 0};
    struct Case
    {
        char const* name;
        bool ppsDisabled;
        int ppsOffset;
        SliceDeblocking slice;
        std::vector<uint16_t> const* expected;
    } const cases[] = {
        {"slice-zero.vvc", false, 0, zero, &plain},          {"slice-offsets.vvc", false, 0, offsets, &weaker},
        {"slice-back-to-zero.vvc", false, -2, zero, &plain}, {"slice-off.vvc", false, 0, disabled, &unfiltered},
        {"slice-on.vvc", true, 0, offsets, &weaker},         {"pps-offsets-kept.vvc", false, -2, none, &weaker},
        {"pps-off-kept.vvc", true, 0, none, &unfiltered},
    };
    DeblockingControl d;
    d.control = d.overrideEnabled = true;
    for (Case const& c : cases) {
        d.ppsDisabled = c.ppsDisabled;
        d.ppsBeta = d.ppsTc = c.ppsOffset;
        d.pictures = {c.slice};
        EXPECT_EQ(one(c.name, d), *c.expected) << c.name;
    }

    // Luma-adaptive deblocking: the QP offset of the interval the luma level at the edges (about
    // 512) lies in; -20 leaves the edges unfiltered.
    DeblockingControl ladf;
    ladf.ladf = true;
    ladf.ladfLowest = -20;
    ladf.ladfBounds = {1000};
    ladf.ladfOffsets = {0};
    EXPECT_EQ(one("ladf-lowest.vvc", ladf), unfiltered);
    ladf.ladfBounds = {100, 1000};
    ladf.ladfOffsets = {0, -20};
    EXPECT_EQ(one("ladf-second.vvc", ladf), plain);

    // Eight pictures alternating between parameters of their own and those of the PPS.
    d.ppsDisabled = false;
    d.ppsBeta = d.ppsTc = 0;
    d.pictures = {offsets, none, disabled, none, offsets, zero, disabled, offsets};
    std::vector<std::vector<uint16_t> const*> const expected = {&weaker, &plain, &unfiltered, &plain,
                                                                &weaker, &plain, &unfiltered, &weaker};
    std::vector<std::vector<uint16_t>> const pictures = decode("alternating.vvc", d);
    ASSERT_EQ(pictures.size(), expected.size());
    for (size_t i = 0; i < pictures.size(); ++i)
        EXPECT_EQ(pictures[i], *expected[i]) << "picture " << i;
}
