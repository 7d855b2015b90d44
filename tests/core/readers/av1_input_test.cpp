#include "readers/annexb.h"
#include "readers/input.h"
#include "readers/ivf.h"
#include "readers/section5.h"

#include "test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Opened
{
    DemuxerInstance* in = nullptr;
    int result = 0;
    unsigned frameRate[2] = {0, 0};
    unsigned frameCount = 0;
    unsigned timeBase[2] = {0, 0};
    ~Opened() { input_close(in); }
    explicit Opened(QString const& path, char const* name = nullptr)
    {
        result = input_open(&in, name, path.toUtf8().constData(), frameRate, &frameCount, timeBase);
    }
    char const* name() const { return in ? in->impl->name : ""; }
};

// Sizes of the units the reader hands out until it ends.
std::vector<size_t> ReadUnits(DemuxerInstance* in, QByteArray* first = nullptr)
{
    std::vector<size_t> sizes;
    Dav1dData data{};
    while (sizes.size() < 100000 && input_read(in, &data) == 0) {
        if (first && sizes.empty())
            *first = QByteArray(reinterpret_cast<char const*>(data.data), static_cast<int>(data.sz));
        sizes.push_back(data.sz);
        dav1d_data_unref(&data);
    }
    return sizes;
}

QByteArray IvfHeader(char const* tag, uint32_t rate, uint32_t scale, uint32_t length)
{
    QByteArray h("DKIF", 4);
    h += QByteArray("\0\0\x20\0", 4);
    h += QByteArray(tag, 4);
    h += QByteArray(4, '\0'); // width, height
    for (uint32_t v : {rate, scale, length, 0u})
        for (int i = 0; i < 4; ++i)
            h.append(static_cast<char>((v >> (8 * i)) & 0xff));
    return h;
}

QByteArray IvfFrameHeader(uint32_t size)
{
    QByteArray h;
    for (int i = 0; i < 4; ++i)
        h.append(static_cast<char>((size >> (8 * i)) & 0xff));
    return h + QByteArray(8, '\0');
}

class Av1Input : public ::testing::Test
{
protected:
    QString tmp(QString const& name) const { return QDir(m_dir.path()).filePath(name); }
    QString write(QString const& name, QByteArray const& bytes) const
    {
        const QString p = tmp(name);
        EXPECT_TRUE(WriteAll(p, bytes));
        return p;
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST(Av1Leb128, FieldsAndLimits)
{
    struct Case
    {
        std::vector<uint8_t> bytes;
        int length;
        uint64_t value;
    };
    // clang-format off
    const Case kCases[] = {
        {{0x00}, 1, 0},
        {{0x7f}, 1, 127},
        {{0x80, 0x01}, 2, 128},
        {{0xff, 0xff, 0xff, 0xff, 0x0f}, 5, 0xffffffffull},
        {{0x80, 0x80, 0x80, 0x80, 0x10}, 0, 0},                     // 2^32: too large
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, 8, 0},   // 8 bytes, ends on the 8th
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, 0, 0}, // does not end within 8
        {{0x80}, 0, 0},                                             // runs past the buffer
    };
    // clang-format on
    for (Case const& c : kCases) {
        uint64_t v = 12345;
        EXPECT_EQ(av1_input::ParseLeb128(c.bytes.data(), c.bytes.size(), &v), c.length);
        if (c.length) {
            EXPECT_EQ(v, c.value);
        }
    }
}

// Each framing is found by probing, whatever the suffix, and hands out its own kind of unit.
TEST_F(Av1Input, ProbingPicksEachFraming)
{
    const QByteArray s5 = ReadAll(TestMediaPath("av1_420p.obu"));
    ASSERT_FALSE(s5.isEmpty());
    const QString annexb = write("stream.bin", ToAnnexB(s5));
    const QString section5 = write("stream.dat", s5);
    const QString ivf = TestMediaPath("av1_420p.ivf");

    struct Case
    {
        QString path;
        char const* name;
        size_t units;
        unsigned frames;
    };
    const size_t obuCount = SplitObus(s5).size();
    const Case kCases[] = {{ivf, "ivf", 30, 30}, {annexb, "annexb", obuCount, 30}, {section5, "section5", 30, 30}};
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.name);
        Opened o(c.path);
        ASSERT_EQ(o.result, 0);
        EXPECT_STREQ(o.name(), c.name);
        EXPECT_EQ(o.frameCount, c.frames);
        QByteArray first;
        const std::vector<size_t> units = ReadUnits(o.in, &first);
        EXPECT_EQ(units.size(), c.units);
        if (std::string(c.name) != "ivf") {
            // Annex B hands out one OBU, the temporal delimiter first; Section 5 a whole temporal
            // unit starting with it.
            ASSERT_GE(first.size(), 2);
            EXPECT_EQ((static_cast<uint8_t>(first[0]) >> 3) & 0xf, 2);
            EXPECT_EQ(first.size() == 2, std::string(c.name) == "annexb");
        }
    }
    EXPECT_GT(obuCount, 60u);
}

TEST_F(Av1Input, RefusesOtherData)
{
    QByteArray random(4096, '\0');
    uint32_t x = 12345;
    for (char& c : random) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    QByteArray vp9 = ReadAll(TestMediaPath("av1_420p.ivf"));
    memcpy(vp9.data() + 8, "VP90", 4);

    const QString kNone = tmp("missing.ivf");
    struct Case
    {
        QString path;
        int result;
    };
    const Case kCases[] = {
        {TestMediaPath("src_176x144_420p.y4m"), -123},
        {write("random.ivf", random), -123},
        {write("vp9.ivf", vp9), -123},
        {write("empty.obu", QByteArray()), -5},
        {kNone, -ENOENT},
    };
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.path.toStdString());
        Opened o(c.path);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.in, nullptr);
    }
    // Named directly, the IVF reader says why; a name no reader has is refused.
    EXPECT_EQ(Opened(tmp("vp9.ivf"), "ivf").result, -1);
    EXPECT_EQ(Opened(TestMediaPath("av1_420p.ivf"), "mp4").result, -123);
}

TEST(Av1Probe, Headers)
{
    auto ivf = [](int version, int headerSize, char const* tag) {
        std::vector<uint8_t> b(1024, 0);
        memcpy(b.data(), "DKIF", 4);
        b[4] = static_cast<uint8_t>(version);
        b[6] = static_cast<uint8_t>(headerSize);
        memcpy(b.data() + 8, tag, 4);
        return b;
    };
    EXPECT_TRUE(ivf_probe(ivf(0, 32, "AV01").data()));
    EXPECT_FALSE(ivf_probe(ivf(1, 32, "AV01").data()));
    EXPECT_FALSE(ivf_probe(ivf(0, 64, "AV01").data()));
    EXPECT_FALSE(ivf_probe(ivf(0, 32, "VP90").data()));

    // OBU streams: temporal delimiter, then a sequence header (type 1) before the first frame
    // (type 6) or frame header (type 3). Payloads are a few dummy bytes.
    auto s5 = [](std::vector<int> types) {
        std::vector<uint8_t> b(1024, 0);
        size_t pos = 0;
        b[pos++] = 0x12;
        b[pos++] = 0;
        for (int t : types) {
            b[pos++] = static_cast<uint8_t>((t << 3) | 0x02);
            b[pos++] = 3;
            pos += 3;
        }
        return b;
    };
    EXPECT_TRUE(section5_probe(s5({1, 6}).data()));
    EXPECT_TRUE(section5_probe(s5({5, 1, 3}).data()));
    EXPECT_FALSE(section5_probe(s5({6, 1}).data()));
    EXPECT_FALSE(section5_probe(s5({1, 2, 6}).data()));
    EXPECT_FALSE(section5_probe(s5({1, 4}).data()));

    auto annexb = [&](std::vector<int> types) {
        const std::vector<uint8_t> s = s5(types);
        const QByteArray ab =
            ToAnnexB(QByteArray(reinterpret_cast<const char*>(s.data()), static_cast<int>(2 + 5 * types.size())));
        std::vector<uint8_t> b(1024, 0);
        memcpy(b.data(), ab.constData(), static_cast<size_t>(ab.size()));
        return b;
    };
    EXPECT_TRUE(annexb_probe(annexb({1, 6}).data()));
    EXPECT_FALSE(annexb_probe(annexb({6, 1}).data()));
    EXPECT_FALSE(annexb_probe(annexb({1}).data())); // the frame unit ends before a frame
    // An Annex B stream is not a Section 5 one and the other way round.
    EXPECT_FALSE(section5_probe(annexb({1, 6}).data()));
    EXPECT_FALSE(annexb_probe(s5({1, 6}).data()));
}

TEST_F(Av1Input, IvfFrameRate)
{
    struct Case
    {
        uint32_t rate, scale, length;
        unsigned frames;
        unsigned num, den;
    };
    const Case kCases[] = {
        {30, 1, 300, 300, 30, 1},
        {30, 1, 0, 300, 0, 0},
        {30000, 1001, 10, 10, 30000, 1001},
        {25, 1, 20, 10, 25, 2}, // length counts time-base units
    };
    for (Case const& c : kCases) {
        QByteArray file = IvfHeader("AV01", c.rate, c.scale, c.length);
        for (unsigned i = 0; i < c.frames; ++i)
            file += IvfFrameHeader(1) + QByteArray(1, 'x');
        Opened o(write("rate.ivf", file));
        ASSERT_EQ(o.result, 0);
        EXPECT_EQ(o.frameCount, c.frames);
        EXPECT_EQ(o.timeBase[0], c.rate);
        EXPECT_EQ(o.timeBase[1], c.scale);
        EXPECT_EQ(o.frameRate[0], c.num);
        EXPECT_EQ(o.frameRate[1], c.den);
    }
}

// Sizes read from the file never claim more than the file holds: a cut trailing unit or a huge
// declared size ends the stream at the units before it.
TEST_F(Av1Input, CutAndOversizedUnits)
{
    const QByteArray ivf = ReadAll(TestMediaPath("av1_420p.ivf"));
    const QByteArray s5 = ReadAll(TestMediaPath("av1_420p.obu"));
    const QByteArray ab = ToAnnexB(s5);
    ASSERT_FALSE(ivf.isEmpty());

    QByteArray hugeIvf = ivf;
    hugeIvf.replace(32, 4, QByteArray("\xf0\xff\xff\xff", 4));
    QByteArray hugeTail = ivf + IvfFrameHeader(0xfffffff0u) + QByteArray(100, 'x');
    // Zeros after the frames read as empty frame headers, which end the stream.
    QByteArray zeroTail = ivf + QByteArray(1200, '\0');
    // In a low-overhead stream they read as invalid OBU headers, which end it.
    QByteArray zeroTailS5 = s5 + QByteArray(1200, '\0');
    // In Annex B they read as empty temporal units, which end the stream too.
    QByteArray zeroTailAb = ab + QByteArray(1200, '\0');
    // A last OBU claiming 4 GiB - 1 bytes.
    QByteArray hugeS5 = s5 + QByteArray("\x12\x00\x32\xff\xff\xff\xff\x0f", 8) + QByteArray(50, 'x');
    // A temporal unit, frame unit and OBU that nest correctly and claim 4 GiB.
    QByteArray hugeAb = ab + QByteArray("\xff\xff\xff\xff\x0f\xf9\xff\xff\xff\x0f\xf3\xff\xff\xff\x0f\x12\x00", 17);

    struct Case
    {
        char const* label;
        QByteArray bytes;
        size_t units; // at least this many units, and never more than `maxUnits`
        size_t maxUnits;
        unsigned frames;
    };
    const size_t abUnits = SplitObus(s5).size();
    const Case kCases[] = {
        {"ivf cut in the last frame", ivf.left(ivf.size() - 5), 29, 29, 29},
        {"ivf huge first frame", hugeIvf, 0, 0, 0},
        {"ivf huge trailing frame", hugeTail, 30, 30, 30},
        {"ivf zeros after the frames", zeroTail, 30, 30, 30},
        {"section5 cut in the last OBU", s5.left(s5.size() - 5), 29, 30, 30},
        {"section5 huge trailing OBU", hugeS5, 30, 31, 31},
        {"section5 zeros after the OBUs", zeroTailS5, 30, 30, 30},
        {"annexb cut in the last OBU", ab.left(ab.size() - 5), abUnits - 1, abUnits - 1, 29},
        {"annexb huge trailing unit", hugeAb, abUnits, abUnits, 30},
        {"annexb zeros after the units", zeroTailAb, abUnits, abUnits, 30},
    };
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.label);
        Opened o(write("damaged", c.bytes));
        ASSERT_EQ(o.result, 0);
        EXPECT_EQ(o.frameCount, c.frames);
        const std::vector<size_t> units = ReadUnits(o.in);
        EXPECT_GE(units.size(), c.units);
        EXPECT_LE(units.size(), c.maxUnits);
        for (size_t sz : units)
            EXPECT_LE(sz, static_cast<size_t>(c.bytes.size()));
    }
}
