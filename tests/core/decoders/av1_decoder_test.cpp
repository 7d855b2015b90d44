#include "display/frame.h"
#include "decoders/ze_av1_decoder.h"

#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace ze::nox::core;

namespace {

class Av1Decoder : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        sDir = new QTemporaryDir;
        // The Annex B files are the low-overhead streams framed anew.
        for (char const* clip : {"av1_420p", "av1_420p10"}) {
            const QByteArray s5 = ReadAll(TestMediaPath(QStringLiteral("%1.obu").arg(clip)));
            WriteAll(QDir(sDir->path()).filePath(QStringLiteral("%1.av1").arg(clip)), ToAnnexB(s5));
        }
    }
    static void TearDownTestSuite()
    {
        delete sDir;
        sDir = nullptr;
    }
    static QString tmp(QString const& name) { return QDir(sDir->path()).filePath(name); }
    static QString write(QString const& name, QByteArray const& bytes)
    {
        const QString p = tmp(name);
        EXPECT_TRUE(WriteAll(p, bytes));
        return p;
    }
    static QTemporaryDir* sDir;
};

QTemporaryDir* Av1Decoder::sDir = nullptr;

// Every plane sample of a plane equals `value`.
bool PlaneIs(Frame const& frame, int plane, int value)
{
    AVFrame const* f = frame.avFrame();
    int const bytes = frame.bitDepth() > 8 ? 2 : 1;
    int const w = (f->width + 1) / 2;
    int const h = (f->height + 1) / 2;
    for (int y = 0; y < h; ++y) {
        uint8_t const* row = f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane];
        for (int x = 0; x < w; ++x) {
            int const v = bytes == 1 ? row[x] : reinterpret_cast<uint16_t const*>(row)[x];
            if (v != value)
                return false;
        }
    }
    return true;
}

} // namespace

// Each framing of each kind of stream decodes every picture as ffmpeg's dav1d decode does.
TEST_F(Av1Decoder, DecodesEveryFramingLikeFfmpeg)
{
    struct Case
    {
        QString path;
        int width, height;
        AVPixelFormat fmt;
        int frames;
        QString md5File;
        int planes; // ffmpeg hashes only the luma plane of a monochrome stream
    };
    const Case kCases[] = {
        {TestMediaPath("av1_420p.ivf"), 176, 144, AV_PIX_FMT_YUV420P, 30, "av1_420p.ivf", 3},
        {TestMediaPath("av1_420p.obu"), 176, 144, AV_PIX_FMT_YUV420P, 30, "av1_420p.ivf", 3},
        {tmp("av1_420p.av1"), 176, 144, AV_PIX_FMT_YUV420P, 30, "av1_420p.ivf", 3},
        {TestMediaPath("av1_420p10.ivf"), 99, 51, AV_PIX_FMT_YUV420P10LE, 30, "av1_420p10.ivf", 3},
        {TestMediaPath("av1_420p10.obu"), 99, 51, AV_PIX_FMT_YUV420P10LE, 30, "av1_420p10.ivf", 3},
        {tmp("av1_420p10.av1"), 99, 51, AV_PIX_FMT_YUV420P10LE, 30, "av1_420p10.ivf", 3},
        {TestMediaPath("av1_444p.ivf"), 63, 47, AV_PIX_FMT_YUV444P, 5, "av1_444p.ivf", 3},
        {TestMediaPath("av1_422p10.ivf"), 65, 48, AV_PIX_FMT_YUV422P10LE, 3, "av1_422p10.ivf", 3},
        {TestMediaPath("av1_gray.ivf"), 65, 49, AV_PIX_FMT_YUV420P, 5, "av1_gray.ivf", 1},
    };
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.path.toStdString());
        const QStringList md5s = FrameMd5s(TestMediaPath(c.md5File + ".framemd5"));
        ASSERT_EQ(md5s.size(), c.frames);
        ZeAv1Decoder dec;
        ASSERT_EQ(dec.openFile(c.path, nullptr), ZE_NOX_CORE_OK);
        EXPECT_TRUE(dec.isOpened());
        EXPECT_EQ(dec.streamType(), ZE_STREAM_TYPE_AV1);
        EXPECT_EQ(dec.width(), c.width);
        EXPECT_EQ(dec.height(), c.height);
        EXPECT_EQ(dec.pixelFormat(), c.fmt);
        ASSERT_EQ(dec.getOriginalFrameCount(), c.frames);
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), -1);

        Frame frame;
        for (int i = 0; i < c.frames; ++i) {
            ASSERT_EQ(i ? dec.getNextFrame(frame) : dec.getFirstFrame(frame), ZE_NOX_CORE_OK) << i;
            EXPECT_EQ(dec.curFrameNumber(), i);
            EXPECT_EQ(frame.width(), c.width);
            EXPECT_EQ(frame.height(), c.height);
            EXPECT_EQ(frame.pixelFormat(), c.fmt);
            EXPECT_EQ(PictureMd5(frame, c.planes), md5s[i]) << "frame " << i;
            if (c.planes == 1) {
                EXPECT_TRUE(PlaneIs(frame, 1, 128));
                EXPECT_TRUE(PlaneIs(frame, 2, 128));
            }
        }
        // Past the end: 10, an empty Frame, and the frame number moves on.
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
        EXPECT_FALSE(frame.isValid());
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), c.frames);
    }
}

TEST_F(Av1Decoder, OpensWithParameters)
{
    ZeAv1Decoder probe;
    ASSERT_EQ(probe.openFile(TestMediaPath("av1_420p10.obu"), nullptr), ZE_NOX_CORE_OK);
    const StreamParams params = probe.params();
    EXPECT_TRUE(params.valid);
    EXPECT_EQ(params.frames, 30);

    ZeAv1Decoder dec;
    ASSERT_EQ(dec.openFile(TestMediaPath("av1_420p10.obu"), &params), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.pixelFormat(), AV_PIX_FMT_YUV420P10LE);
    // A Frame holding planes of another size and format gets planes of this stream.
    Frame frame;
    ASSERT_TRUE(frame.allocatePicture(176, 144, AV_PIX_FMT_YUV420P));
    ASSERT_EQ(dec.getLastFrame(frame), ZE_NOX_CORE_OK);
    EXPECT_EQ(frame.width(), 99);
    EXPECT_EQ(frame.pixelFormat(), AV_PIX_FMT_YUV420P10LE);
    EXPECT_EQ(PictureMd5(frame), FrameMd5s(TestMediaPath("av1_420p10.ivf.framemd5")).last());
    EXPECT_GT(dec.bitrateKbps(25), 0);

    StreamParams none = params;
    none.frames = 0;
    EXPECT_EQ(dec.openFile(TestMediaPath("av1_420p10.obu"), &none), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
    none = params;
    none.pixFmt = AV_PIX_FMT_NONE;
    EXPECT_EQ(dec.openFile(TestMediaPath("av1_420p10.obu"), &none), ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
    EXPECT_FALSE(dec.isOpened());

    // Parameters that promise more frames than the stream has: the stream simply ends.
    StreamParams more = params;
    more.frames = 40;
    ASSERT_EQ(dec.openFile(TestMediaPath("av1_420p10.obu"), &more), ZE_NOX_CORE_OK);
    ASSERT_EQ(dec.getFrame(29, frame), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 29);

    // Parameters that hide a 12-bit stream: its pictures cannot be converted, and no step answers
    // success with the picture that the Frame held before.
    StreamParams hidden = params;
    hidden.width = 64;
    hidden.height = 48;
    hidden.pixFmt = AV_PIX_FMT_YUV420P;
    hidden.frames = 3;
    ASSERT_EQ(dec.openFile(TestMediaPath("av1_420p12.ivf"), &hidden), ZE_NOX_CORE_OK);
    ASSERT_TRUE(frame.allocatePicture(64, 48, AV_PIX_FMT_YUV420P));
    EXPECT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
    EXPECT_FALSE(frame.isValid());
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 1);

    // Parameters of another size (stored for an earlier file of the name): no picture comes out
    // that differs from width() and height().
    StreamParams stale = params;
    stale.width = 176;
    stale.height = 144;
    ASSERT_EQ(dec.openFile(TestMediaPath("av1_420p10.obu"), &stale), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_RESOLUTION_CHANGE);
    EXPECT_FALSE(frame.isValid());
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_RESOLUTION_CHANGE);
    EXPECT_FALSE(frame.isValid());
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 1);

    dec.closeFile();
    EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_NOT_OPENED);
    EXPECT_TRUE(dec.filename().isEmpty());
    EXPECT_EQ(dec.getOriginalFrameCount(), 0);
    EXPECT_EQ(dec.bitrateKbps(25), 0);
}

TEST_F(Av1Decoder, RefusesWithCodes)
{
    QByteArray random(3000, '\0');
    for (int i = 0; i < random.size(); ++i)
        random[i] = static_cast<char>((i * 7919 + 13) >> 3);
    const QByteArray ivf = ReadAll(TestMediaPath("av1_420p.ivf"));

    struct Case
    {
        QString path;
        ZeNoxCoreError result;
    };
    const Case kCases[] = {
        {TestMediaPath("av1_420p12.ivf"), ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {TestMediaPath("av1_size_change.obu"), ZE_NOX_CORE_RESOLUTION_CHANGE},
        {TestMediaPath("src_176x144_420p.y4m"), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {write("random.ivf", random), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {write("empty.ivf", QByteArray()), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {tmp("missing.ivf"), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        // A header and no frame: the first read fails.
        {write("header_only.ivf", ivf.left(32)), ZE_NOX_CORE_OPERATION_FAILED},
        // Frames that carry no picture.
        {write("garbage_frames.ivf", ivf.left(32) + QByteArray("\x04\0\0\0\0\0\0\0\0\0\0\0\x12\0\x12\0", 16)),
         ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
    };
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.path.toStdString());
        ZeAv1Decoder dec;
        EXPECT_EQ(dec.openFile(c.path, nullptr), c.result);
        EXPECT_EQ(dec.openResult(), c.result);
        EXPECT_FALSE(dec.isOpened());
        Frame frame;
        EXPECT_NE(dec.getFirstFrame(frame), ZE_NOX_CORE_OK);
        EXPECT_NE(dec.getNextFrame(frame), ZE_NOX_CORE_OK);
    }
}

// Damaged files open or fail with a code, and every step ends without a hang or a stale picture.
TEST_F(Av1Decoder, DamagedInput)
{
    const QByteArray ivf = ReadAll(TestMediaPath("av1_420p.ivf"));
    const QByteArray s5 = ReadAll(TestMediaPath("av1_420p.obu"));
    QByteArray zeroed = ivf;
    zeroed.replace(ivf.size() / 2, 2000, QByteArray(2000, '\0'));
    QByteArray hugeFrame = ivf.left(ivf.size() / 2) + QByteArray("\xf0\xff\xff\xff", 4) + QByteArray(40, '\0');
    QByteArray zeroedS5 = s5;
    zeroedS5.replace(s5.size() / 3, 500, QByteArray(500, '\0'));

    struct Case
    {
        char const* name;
        QByteArray bytes;
    };
    const Case kCases[] = {
        {"cut.ivf", ivf.left(ivf.size() * 2 / 3)},
        {"zeroed.ivf", zeroed},
        {"huge_frame.ivf", hugeFrame},
        {"cut.obu", s5.left(s5.size() / 2 + 3)},
        {"zeroed.obu", zeroedS5},
        {"cut.av1", ToAnnexB(s5).left(s5.size() / 2 + 7)},
    };
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.name);
        ZeAv1Decoder dec;
        const ZeNoxCoreError res = dec.openFile(write(c.name, c.bytes), nullptr);
        if (res != ZE_NOX_CORE_OK) {
            EXPECT_FALSE(dec.isOpened());
            continue;
        }
        int const count = dec.getOriginalFrameCount();
        EXPECT_GT(count, 0);
        EXPECT_LT(count, 30);
        Frame frame;
        int steps = 0;
        for (ZeNoxCoreError r = dec.getFirstFrame(frame); r == ZE_NOX_CORE_OK && steps < 100;
             r = dec.getNextFrame(frame), ++steps)
            EXPECT_TRUE(frame.isValid());
        EXPECT_LE(steps, count);
        EXPECT_EQ(dec.getFrame(0, frame), ZE_NOX_CORE_OK);
    }
}

TEST(Av1PixFmt, FromSequenceHeader)
{
    struct Case
    {
        Dav1dPixelLayout layout;
        int hbd;
        AVPixelFormat fmt;
    };
    const Case kCases[] = {
        {DAV1D_PIXEL_LAYOUT_I400, 0, AV_PIX_FMT_YUV420P}, {DAV1D_PIXEL_LAYOUT_I400, 1, AV_PIX_FMT_YUV420P10LE},
        {DAV1D_PIXEL_LAYOUT_I420, 0, AV_PIX_FMT_YUV420P}, {DAV1D_PIXEL_LAYOUT_I420, 1, AV_PIX_FMT_YUV420P10LE},
        {DAV1D_PIXEL_LAYOUT_I422, 0, AV_PIX_FMT_YUV422P}, {DAV1D_PIXEL_LAYOUT_I422, 1, AV_PIX_FMT_YUV422P10LE},
        {DAV1D_PIXEL_LAYOUT_I444, 0, AV_PIX_FMT_YUV444P}, {DAV1D_PIXEL_LAYOUT_I444, 1, AV_PIX_FMT_YUV444P10LE},
        {DAV1D_PIXEL_LAYOUT_I420, 2, AV_PIX_FMT_NONE},
    };
    for (Case const& c : kCases) {
        Dav1dSequenceHeader hdr{};
        hdr.layout = c.layout;
        hdr.hbd = c.hbd;
        EXPECT_EQ(ZeAv1Decoder::GetAvPixFmtFromAv1SeqHdr(&hdr), c.fmt) << c.layout << " " << c.hbd;
    }
    EXPECT_EQ(ZeAv1Decoder::GetAvPixFmtFromAv1SeqHdr(nullptr), AV_PIX_FMT_NONE);
}
