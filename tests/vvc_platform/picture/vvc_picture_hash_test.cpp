// Decoded picture hash: MD5, CRC and checksum of decoded planes, the SEI messages that carry
// them, and the per-picture check.

#include "vvc_platform/vvc_test_writer.h"

#include "decoding/DecLib.h"
#include "picture/PictureHash.h"
#include "decoding/StreamCheck.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

using namespace vvctest;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Hex(std::array<uint8_t, 16> const& d)
{
    static char const* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t b : d) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::string Md5Of(std::string const& text)
{
    Md5 md5;
    md5.update(reinterpret_cast<uint8_t const*>(text.data()), text.size());
    return Hex(md5.finish());
}

// A plane of 16-bit samples with a stride wider than the picture; the padding holds values
// that would change every hash if read.
struct TestPlane
{
    TestPlane(int w, int h, std::vector<uint16_t> const& values)
        : width(w), height(h), samples(size_t(w + 3) * h, 0xBEEF)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                samples[size_t(y) * (w + 3) + x] = values[size_t(y) * w + x];
    }
    PlaneView view() const { return {samples.data(), width + 3, width, height}; }
    int width, height;
    std::vector<uint16_t> samples;
};

std::vector<uint16_t> Text(std::string const& s)
{
    return std::vector<uint16_t>(s.begin(), s.end());
}

Bytes HashSei(int type, std::vector<Bytes> const& planes, bool singleComponent = false)
{
    BitWriter w;
    w.u(132, 8);
    size_t size = 2;
    for (auto const& p : planes)
        size += p.size();
    w.u(uint32_t(size), 8);
    w.u(uint32_t(type), 8);
    w.flag(singleComponent);
    w.u(0, 7);
    for (auto const& p : planes)
        w.bytes(p);
    w.trailingBits();
    return w.data();
}

} // namespace

TEST(VvcPictureHash, Md5OfKnownTexts)
{
    EXPECT_EQ(Md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Of("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(Md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    // 80 bytes: the length crosses a block and the padding needs a block of its own.
    const std::string digits = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    EXPECT_EQ(Md5Of(digits), "57edf4a22be3c955ac49da2e2107b67a");
    // Fed in pieces of every size, the digest is the same.
    for (size_t piece : {1u, 7u, 63u, 64u, 65u}) {
        Md5 md5;
        for (size_t at = 0; at < digits.size(); at += piece)
            md5.update(reinterpret_cast<uint8_t const*>(digits.data()) + at, std::min(piece, digits.size() - at));
        EXPECT_EQ(Hex(md5.finish()), "57edf4a22be3c955ac49da2e2107b67a") << piece;
    }
    // Several whole blocks in one piece after a partly filled block, and from the start.
    const std::string four = digits + digits + digits + digits;
    for (size_t first : {0u, 5u, 64u, 70u}) {
        Md5 md5;
        md5.update(reinterpret_cast<uint8_t const*>(four.data()), first);
        md5.update(reinterpret_cast<uint8_t const*>(four.data()) + first, four.size() - first);
        EXPECT_EQ(Hex(md5.finish()), "cf1878fdfc491e1ac2aa39048f728f32") << first;
    }
}

TEST(VvcPictureHash, PlaneHashesFollowTheirDefinitions)
{
    // 8 bits: one byte per sample, rows without their padding.
    const TestPlane abc(3, 1, Text("abc"));
    EXPECT_EQ(Hex(ComputePlaneHash(PictureHashType::MD5, abc.view(), 8).md5), "900150983cd24fb0d6963f7d28e17f72");
    const TestPlane fox(9, 5, Text("The quick brown fox jumps over the lazy dog.."));
    EXPECT_EQ(Hex(ComputePlaneHash(PictureHashType::MD5, fox.view(), 8).md5),
              Md5Of("The quick brown fox jumps over the lazy dog.."));
    // Above 8 bits: two bytes per sample, the low byte first.
    const TestPlane ten(2, 1, {0x261, 0x362});
    EXPECT_EQ(Hex(ComputePlaneHash(PictureHashType::MD5, ten.view(), 10).md5), Md5Of("a\x02"
                                                                                     "b\x03"));

    // CRC: polynomial 0x1021 from 0xFFFF with 16 zero bits appended; over "123456789" that is
    // the well-known check value 0xE5CC.
    const TestPlane digits(3, 3, Text("123456789"));
    EXPECT_EQ(ComputePlaneHash(PictureHashType::CRC, digits.view(), 8).value, 0xE5CCu);
    EXPECT_EQ(ComputePlaneHash(PictureHashType::CRC, TestPlane(2, 1, {0x231, 0x332}).view(), 10).value,
              ComputePlaneHash(PictureHashType::CRC, TestPlane(4, 1, {0x31, 0x02, 0x32, 0x03}).view(), 8).value)
        << "a 10-bit sample counts as its low byte, then its high byte";

    // Checksum: each byte XORed with a mask of the sample position.
    struct Case
    {
        char const* name;
        TestPlane plane;
        int bitDepth;
        uint32_t sum;
    };
    const Case cases[] = {
        {"2x2, masks 0 1 1 0", TestPlane(2, 2, {1, 2, 3, 4}), 8, 1 + 3 + 2 + 4},
        {"10 bit: low and high byte with the same mask", TestPlane(1, 1, {0x2F1}), 10, 0xF1 + 0x02},
        {"x from 256 on adds x >> 8 to the mask", TestPlane(257, 1, std::vector<uint16_t>(257, 0)), 8, 32640 + 1},
        {"y from 256 on likewise", TestPlane(1, 257, std::vector<uint16_t>(257, 0)), 8, 32640 + 1},
    };
    for (Case const& c : cases)
        EXPECT_EQ(ComputePlaneHash(PictureHashType::CHECKSUM, c.plane.view(), c.bitDepth).value, c.sum) << c.name;
}

TEST(VvcPictureHash, PlaneHashesEqualTheirBytewiseDefinitionsAtEverySize)
{
    // Each hash against its definition over the plane's byte string, bit by bit for the CRC:
    // tiny planes, rows that end inside a 64-byte block or fill it exactly, rows longer than the
    // pieces converted at a time, all 16 bits of a sample set and extreme values.
    struct Case
    {
        int width, height, bitDepth;
        char const* values; // "random", "zero" or "max"
    } const cases[] = {
        {1, 1, 8, "random"},   {1, 1, 10, "max"},      {3, 1, 8, "max"},        {7, 3, 10, "random"},
        {31, 3, 8, "random"},  {32, 2, 10, "random"},  {33, 5, 10, "zero"},     {64, 3, 8, "random"},
        {1, 70, 10, "random"}, {9000, 2, 8, "random"}, {4097, 3, 10, "random"}, {4096, 2, 10, "max"},
    };
    uint32_t seed = 11;
    for (Case const& k : cases) {
        std::vector<uint16_t> values(size_t(k.width) * size_t(k.height));
        for (uint16_t& v : values) {
            seed = seed * 1664525u + 1013904223u;
            // Above 8 bits all 16 bits count; at 8 bits only the low byte does.
            uint16_t const max = k.bitDepth > 8 ? 0xFFFF : 0xFF;
            v = k.values[0] == 'z' ? 0 : k.values[0] == 'm' ? max : uint16_t(seed >> 9);
        }
        TestPlane const plane(k.width, k.height, values);
        bool const two = k.bitDepth > 8;
        Bytes bytes;
        uint32_t sum = 0;
        for (int y = 0; y < k.height; ++y)
            for (int x = 0; x < k.width; ++x) {
                uint16_t const v = values[size_t(y) * size_t(k.width) + size_t(x)];
                uint32_t const mask = uint32_t((x & 0xFF) ^ (y & 0xFF) ^ (x >> 8) ^ (y >> 8));
                bytes.push_back(uint8_t(v));
                sum += (v & 0xFFu) ^ mask;
                if (two) {
                    bytes.push_back(uint8_t(v >> 8));
                    sum += uint32_t(v >> 8) ^ mask;
                }
            }
        uint32_t crc = 0xFFFF;
        bytes.push_back(0);
        bytes.push_back(0);
        for (uint8_t byte : bytes)
            for (int bit = 7; bit >= 0; --bit) {
                uint32_t const msb = crc >> 15;
                crc = (((crc << 1) | ((byte >> bit) & 1u)) & 0xFFFF) ^ (msb ? 0x1021 : 0);
            }
        bytes.resize(bytes.size() - 2);
        Md5 md5;
        md5.update(bytes.data(), bytes.size());
        std::string const name = std::to_string(k.width) + "x" + std::to_string(k.height) + " at " +
                                 std::to_string(k.bitDepth) + " bits, " + k.values;
        EXPECT_EQ(ComputePlaneHash(PictureHashType::MD5, plane.view(), k.bitDepth).md5, md5.finish()) << name;
        EXPECT_EQ(ComputePlaneHash(PictureHashType::CRC, plane.view(), k.bitDepth).value, crc) << name;
        EXPECT_EQ(ComputePlaneHash(PictureHashType::CHECKSUM, plane.view(), k.bitDepth).value, sum) << name;
    }
}

TEST(VvcPictureHash, PictureCheckNamesTheFirstPlaneThatDiffers)
{
    const TestPlane y(4, 2, {1, 2, 3, 4, 5, 6, 7, 8}), u(2, 1, {9, 10}), v(2, 1, {11, 12});
    const PlaneView planes[3] = {y.view(), u.view(), v.view()};
    int const depth[3] = {10, 10, 10};
    for (PictureHashType type : {PictureHashType::MD5, PictureHashType::CRC, PictureHashType::CHECKSUM}) {
        PictureHash hash;
        hash.type = type;
        for (int c = 0; c < 3; ++c)
            hash.planes[c] = ComputePlaneHash(type, planes[c], 10);
        EXPECT_EQ(CheckPictureHash(hash, planes, depth), -1);
        PictureHash wrongV = hash;
        wrongV.planes[2].md5[3] ^= 1;
        wrongV.planes[2].value ^= 1;
        EXPECT_EQ(CheckPictureHash(wrongV, planes, depth), 2);
        PictureHash lumaOnly = wrongV;
        lumaOnly.numPlanes = 1;
        EXPECT_EQ(CheckPictureHash(lumaOnly, planes, depth), -1) << "a single-component hash covers luma only";
        const PlaneView monochrome[3] = {y.view(), PlaneView(), PlaneView()};
        EXPECT_EQ(CheckPictureHash(lumaOnly, monochrome, depth), -1) << "a 4:0:0 picture and its one-plane hash";
        EXPECT_EQ(CheckPictureHash(hash, monochrome, depth), 1) << "a three-plane hash never fits a 4:0:0 picture";
        PictureHash wrongY = lumaOnly;
        wrongY.planes[0].md5[0] ^= 1;
        wrongY.planes[0].value ^= 1;
        EXPECT_EQ(CheckPictureHash(wrongY, monochrome, depth), 0);
        const TestPlane u2(2, 1, {9, 11});
        const PlaneView changed[3] = {y.view(), u2.view(), v.view()};
        EXPECT_EQ(CheckPictureHash(hash, changed, depth), 1);
        const PlaneView missing[3] = {y.view(), PlaneView(), v.view()};
        EXPECT_EQ(CheckPictureHash(hash, missing, depth), 1) << "no samples never match";
    }
}

TEST(VvcPictureHash, PlanesHashedInStepGiveTheirOwnDigests)
{
    // Planes of many blocks, rows not a whole number of blocks, of different lengths (the longer
    // one goes on alone), 8 and 10 bits; the reference is each plane's byte string in one piece.
    struct Case
    {
        int lumaW, lumaH, chromaW, chromaH, bitDepth, numPlanes;
    } const cases[] = {
        {70, 9, 35, 5, 10, 3}, {64, 4, 32, 2, 10, 3}, {33, 40, 17, 20, 8, 3}, {100, 3, 50, 2, 10, 1},
        {8, 2, 40, 30, 10, 3}, // the chroma planes outlast luma
        {48, 20, 48, 20, 10, 3}, // planes of the same size
        {9000, 2, 4500, 1, 8, 3}, // rows longer than the pieces converted at a time
    };
    uint32_t seed = 7;
    auto plane = [&seed](int w, int h, int bitDepth) {
        std::vector<uint16_t> v(size_t(w) * size_t(h));
        for (uint16_t& s : v) {
            seed = seed * 1664525u + 1013904223u;
            s = uint16_t((seed >> 8) & ((1u << bitDepth) - 1));
        }
        return TestPlane(w, h, v);
    };
    for (Case const& k : cases) {
        TestPlane const planes[3] = {plane(k.lumaW, k.lumaH, k.bitDepth), plane(k.chromaW, k.chromaH, k.bitDepth),
                                     plane(k.chromaW, k.chromaH, k.bitDepth)};
        PlaneView const views[3] = {planes[0].view(), planes[1].view(), planes[2].view()};
        int const depth[3] = {k.bitDepth, k.bitDepth, k.bitDepth};
        PictureHash hash;
        hash.numPlanes = k.numPlanes;
        for (int c = 0; c < 3; ++c) {
            std::vector<uint8_t> bytes;
            for (int y = 0; y < planes[c].height; ++y)
                for (int x = 0; x < planes[c].width; ++x) {
                    uint16_t const v = planes[c].samples[size_t(y) * size_t(planes[c].width + 3) + size_t(x)];
                    bytes.push_back(uint8_t(v & 0xFF));
                    if (k.bitDepth > 8)
                        bytes.push_back(uint8_t(v >> 8));
                }
            Md5 md5;
            md5.update(bytes.data(), bytes.size());
            hash.planes[c].md5 = md5.finish();
            EXPECT_EQ(ComputePlaneHash(PictureHashType::MD5, views[c], k.bitDepth), hash.planes[c]) << c;
        }
        EXPECT_EQ(CheckPictureHash(hash, views, depth), -1) << k.lumaW << "x" << k.lumaH;
        for (int c = 0; c < k.numPlanes; ++c) {
            PictureHash wrong = hash;
            wrong.planes[c].md5[15] ^= 0x80;
            EXPECT_EQ(CheckPictureHash(wrong, views, depth), c) << k.lumaW << "x" << k.lumaH;
        }
    }
}

TEST(VvcPictureHash, SeiMessagesAndHashPayloads)
{
    const Bytes md5(16, 0xA5);
    InputBitstream bs;
    // Two messages: a hash with three MD5 digests, then one of another type.
    Bytes rbsp = HashSei(0, {md5, Bytes(16, 0x5A), Bytes(16, 0x11)});
    rbsp.pop_back(); // its trailing bits go to the end of the unit
    rbsp.insert(rbsp.end(), {0x05, 0x02, 0x12, 0x34, 0x80});
    bs.getFifo() = rbsp;
    const std::vector<SeiMessage> messages = ParseSeiMessages(bs);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].payloadType, 132);
    EXPECT_EQ(messages[1].payloadType, 5);
    EXPECT_EQ(messages[1].payload, Bytes({0x12, 0x34}));
    PictureHash hash;
    ASSERT_TRUE(ParsePictureHash(messages[0].payload, hash));
    EXPECT_EQ(hash.type, PictureHashType::MD5);
    EXPECT_EQ(hash.numPlanes, 3);
    EXPECT_EQ(hash.planes[1].md5[0], 0x5A);
    EXPECT_EQ(hash.planes[2].md5[15], 0x11);

    // CRC and checksum values are big-endian; a single-component message has one.
    ASSERT_TRUE(ParsePictureHash({1, 0x80, 0xE5, 0xCC}, hash));
    EXPECT_EQ(hash.type, PictureHashType::CRC);
    EXPECT_EQ(hash.numPlanes, 1);
    EXPECT_EQ(hash.planes[0].value, 0xE5CCu);
    ASSERT_TRUE(ParsePictureHash({2, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0x12, 0x34, 0x56, 0x78}, hash));
    EXPECT_EQ(hash.planes[0].value, 1u);
    EXPECT_EQ(hash.planes[1].value, 256u);
    EXPECT_EQ(hash.planes[2].value, 0x12345678u);

    EXPECT_FALSE(ParsePictureHash({3, 0, 1, 2, 3, 4, 5, 6}, hash)) << "reserved hash type";
    EXPECT_FALSE(ParsePictureHash({0, 0, 1, 2, 3}, hash)) << "digests cut short";
    EXPECT_FALSE(ParsePictureHash({2}, hash));

    for (Bytes const& bad :
         {Bytes{0x84, 0x30, 0x00, 0x80}, Bytes{0xFF, 0xFF}, Bytes{0x05, 0x01, 0x12}, Bytes{0x05, 0x01, 0x12, 0x81}}) {
        InputBitstream b;
        b.getFifo() = bad;
        EXPECT_THROW(ParseSeiMessages(b), Exception);
    }
}

TEST(VvcPictureHash, DecoderCountsPicturesWithHashes)
{
    // Three pictures, the first two followed by a hash SEI (the second damaged), the third without.
    StreamPlan plan = SimplePlan(3);
    StreamBuilder b;
    b.parameterSets(plan);
    b.picture(plan, plan.pictures[0]);
    b.nal(Nal(24, HashSei(1, {{0x12, 0x34}, {0x56, 0x78}, {0x9A, 0xBC}})));
    b.picture(plan, plan.pictures[1]);
    b.nal(Nal(24, {0x84, 0x30, 0x00, 0x80}));
    b.picture(plan, plan.pictures[2]);

    std::istringstream in(std::string(b.bytes().begin(), b.bytes().end()), std::ios::binary);
    InputByteStream bs(in);
    DecLib dec;
    dec.create();
    dec.setDecodedPictureHashSEIEnabled(1);
    int skip = 0, lastPoc = 0, poc = 0;
    std::list<Picture*>* pictures = nullptr;
    bool pictureOpen = false;
    for (int guard = 0; guard < 100; ++guard) {
        InputNALUnit nal;
        AnnexBStats stats;
        byteStreamNALUnit(bs, nal.getBitstream().getFifo(), stats);
        if (nal.getBitstream().getFifo().empty())
            break;
        read(nal);
        if (nal.isSlice() && pictureOpen)
            dec.finishPicture(poc, pictures, INFO, false);
        dec.decode(nal, skip, lastPoc, 0, true);
        pictureOpen = pictureOpen || nal.isSlice();
    }
    dec.finishPicture(poc, pictures, INFO, false);
    PictureHashStats const& stats = dec.hashStats();
    EXPECT_EQ(stats.pictures, 3);
    EXPECT_EQ(stats.withHash, 1);
    EXPECT_EQ(stats.checked, 0) << "no samples are reconstructed, nothing can be compared";
    EXPECT_EQ(stats.firstMismatch, -1);
    dec.destroy();
}

TEST(VvcPictureHash, ConformanceStreamsCarryAHashPerPicture)
{
    struct Case
    {
        char const* name;
        int pictures;
        int withHash;
    };
    const Case cases[] = {{"STILL_A_KDDI_1.bit", 1, 1},
                          {"RAP_B_HHI_1.bit", 33, 33},
                          {"MIP_A_HHI_3.bit", 39, 39},
                          {"DCI_A_Tencent_3.bit", 2, 0}};
    for (Case const& c : cases) {
        const StreamCheckResult r = CheckStream(std::string(SERAVIN_VVC_TEST_DATA_DIR "/") + c.name);
        EXPECT_EQ(r.error, "") << c.name;
        EXPECT_FALSE(r.notAByteStream) << c.name;
        EXPECT_EQ(r.hashes.pictures, c.pictures) << c.name;
        EXPECT_EQ(r.hashes.withHash, c.withHash) << c.name;
    }
}
