#include "display/frame.h"
#include "test_support.h"
#include "decoders/ze_yuv_decoder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

using namespace ze::nox::core;

namespace {

// Picture md5 after a navigation call, or the call's code when it failed.
QString Step(ZeNoxCoreError res, Frame const& frame)
{
    if (res != ZE_NOX_CORE_OK)
        return QStringLiteral("code %1").arg(res);
    return PictureMd5(frame.avFrame());
}

StreamParams Record(int width, int height, AVPixelFormat fmt, CropInfo crop = {})
{
    StreamParams p;
    p.valid = true;
    p.type = ZE_STREAM_TYPE_YUV;
    p.width = width;
    p.height = height;
    p.pixFmt = fmt;
    p.crop = crop;
    return p;
}

// Samples of a cropped picture that differ from the uncropped one: luma moves by the crop,
// chroma by the crop shifted by the subsampling.
int CropMismatches(Frame const& cropped, Frame const& full, CropInfo const& crop, int sw, int sh)
{
    int mismatches = 0;
    for (int y = 0; y < cropped.height(); ++y)
        for (int x = 0; x < cropped.width(); ++x) {
            PixelValues const v = cropped.pixel(x, y);
            PixelValues const l = full.pixel(x + crop.left, y + crop.top);
            PixelValues const c =
                full.pixel(((x >> sw) + (crop.left >> sw)) << sw, ((y >> sh) + (crop.top >> sh)) << sh);
            mismatches += !v.valid || v.c0 != l.c0 || v.c1 != c.c1 || v.c2 != c.c2;
        }
    return mismatches;
}

struct Clip
{
    char const* file;
    char const* md5; // framemd5 of ffmpeg's reading
    AVPixelFormat fmt;
    int width;
    int height;
    bool y4m; // opened without a record
};

const Clip kClips[] = {
    {"yd_yuv420p_176x144.yuv", "yd_yuv420p_176x144.yuv.framemd5", AV_PIX_FMT_YUV420P, 176, 144, false},
    {"yd_yuv420p10le_176x144.yuv", "yd_yuv420p10le_176x144.yuv.framemd5", AV_PIX_FMT_YUV420P10LE, 176, 144, false},
    {"yd_yuv422p_176x144.yuv", "yd_yuv422p_176x144.yuv.framemd5", AV_PIX_FMT_YUV422P, 176, 144, false},
    {"yd_yuv422p10le_176x144.yuv", "yd_yuv422p10le_176x144.yuv.framemd5", AV_PIX_FMT_YUV422P10LE, 176, 144, false},
    {"yd_yuv444p_176x144.yuv", "yd_yuv444p_176x144.yuv.framemd5", AV_PIX_FMT_YUV444P, 176, 144, false},
    {"yd_yuv444p10le_176x144.yuv", "yd_yuv444p10le_176x144.yuv.framemd5", AV_PIX_FMT_YUV444P10LE, 176, 144, false},
    {"yd_nv12_176x144.yuv", "yd_nv12_176x144.yuv.framemd5", AV_PIX_FMT_NV12, 176, 144, false},
    {"yd_p010le_176x144.yuv", "yd_p010le_176x144.yuv.framemd5", AV_PIX_FMT_P010LE, 176, 144, false},
    // Odd sizes: chroma planes of rounded-up halved sides.
    {"yd_yuv420p_175x143.yuv", "yd_yuv420p_175x143.yuv.framemd5", AV_PIX_FMT_YUV420P, 175, 143, false},
    {"yd_yuv422p_175x143.yuv", "yd_yuv422p_175x143.yuv.framemd5", AV_PIX_FMT_YUV422P, 175, 143, false},
    {"yd_yuv444p10le_175x143.yuv", "yd_yuv444p10le_175x143.yuv.framemd5", AV_PIX_FMT_YUV444P10LE, 175, 143, false},
    {"yd_nv12_175x143.yuv", "yd_nv12_175x143.yuv.framemd5", AV_PIX_FMT_NV12, 175, 143, false},
    {"yd_420p_176x144.y4m", "yd_420p_176x144.y4m.framemd5", AV_PIX_FMT_YUV420P, 176, 144, true},
    {"yd_420p10_176x144.y4m", "yd_420p10_176x144.y4m.framemd5", AV_PIX_FMT_YUV420P10LE, 176, 144, true},
    {"yd_422p10_176x144.y4m", "yd_422p10_176x144.y4m.framemd5", AV_PIX_FMT_YUV422P10LE, 176, 144, true},
    {"yd_444p_176x144.y4m", "yd_444p_176x144.y4m.framemd5", AV_PIX_FMT_YUV444P, 176, 144, true},
    {"yd_444p10_176x144.y4m", "yd_444p10_176x144.y4m.framemd5", AV_PIX_FMT_YUV444P10LE, 176, 144, true},
    {"yd_420p_175x143.y4m", "yd_420p_175x143.y4m.framemd5", AV_PIX_FMT_YUV420P, 175, 143, true},
    {"yd_422p_175x143.y4m", "yd_422p_175x143.y4m.framemd5", AV_PIX_FMT_YUV422P, 175, 143, true},
    // Y4M under a raw suffix: recognised by its signature, no parameters asked.
    {"yd_y4m_named.yuv", "yd_420p_176x144.y4m.framemd5", AV_PIX_FMT_YUV420P, 176, 144, true},
};

constexpr int kFrames = 10;
char const kRaw420[] = "yd_yuv420p_176x144.yuv";
constexpr int kRaw420FrameSize = 176 * 144 * 3 / 2;

} // namespace

TEST(YuvDecoder, DecodesEveryFrameLikeFfmpeg)
{
    for (Clip const& c : kClips) {
        SCOPED_TRACE(c.file);
        QString const path = TestMediaPath(c.file);
        QStringList const ref = FrameMd5s(TestMediaPath(c.md5));
        ASSERT_EQ(ref.size(), kFrames);

        ZeYuvDecoder dec;
        EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_NOT_OPENED);
        StreamParams const record = Record(c.width, c.height, c.fmt);
        ASSERT_EQ(dec.openFile(path, c.y4m ? nullptr : &record), ZE_NOX_CORE_OK);
        EXPECT_TRUE(dec.isOpened());
        EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_OK);
        EXPECT_EQ(dec.filename(), path);
        EXPECT_EQ(dec.streamType(), ZE_STREAM_TYPE_YUV);
        EXPECT_EQ(dec.width(), c.width);
        EXPECT_EQ(dec.height(), c.height);
        EXPECT_EQ(dec.pixelFormat(), c.fmt);
        EXPECT_EQ(dec.getOriginalFrameCount(), kFrames);
        EXPECT_EQ(dec.curFrameNumber(), -1);
        qint64 const size = QFileInfo(path).size();
        EXPECT_EQ(dec.bitrateKbps(25.0), static_cast<int>(size * 8 * 25 / (kFrames * 1000.0)));
        StreamParams const p = dec.params();
        EXPECT_TRUE(p.valid);
        EXPECT_EQ(p.type, ZE_STREAM_TYPE_YUV);
        EXPECT_EQ(p.width, c.width);
        EXPECT_EQ(p.height, c.height);
        EXPECT_EQ(p.pixFmt, c.fmt);
        EXPECT_EQ(p.frames, kFrames);

        Frame frame;
        for (int i = 0; i < kFrames; ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(Step(dec.getNextFrame(frame), frame), ref[i]);
            EXPECT_EQ(frame.width(), c.width);
            EXPECT_EQ(frame.height(), c.height);
            EXPECT_EQ(frame.pixelFormat(), c.fmt);
            EXPECT_EQ(dec.curFrameNumber(), i);
        }
        // Past the end: 13, the picture and the current frame unchanged.
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_FAILED_TO_READ_FILE);
        EXPECT_EQ(PictureMd5(frame.avFrame()), ref[kFrames - 1]);
        EXPECT_EQ(dec.curFrameNumber(), kFrames - 1);
    }
}

// The raw decoder's own navigation: its position counts from the range's first frame, failed
// reads keep picture and number, backward steps go below the range down to the stream's start.
TEST(YuvDecoder, ReadsAnyFrameAtItsPlaceInsideTheRange)
{
    QStringList const ref = FrameMd5s(TestMediaPath(QStringLiteral("yd_yuv420p_176x144.yuv.framemd5")));
    ASSERT_EQ(ref.size(), kFrames);
    ZeYuvDecoder dec;
    StreamParams const record = Record(176, 144, AV_PIX_FMT_YUV420P);
    ASSERT_EQ(dec.openFile(TestMediaPath(kRaw420), &record), ZE_NOX_CORE_OK);
    dec.setLastFrameNumber(7);
    dec.setFirstFrameNumber(2);
    Frame frame;

    // Right after the open the next frame is the first of the range.
    EXPECT_EQ(Step(dec.getNextFrame(frame), frame), ref[2]);
    EXPECT_EQ(dec.curFrameNumber(), 0);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 2);

    EXPECT_EQ(Step(dec.getLastFrame(frame), frame), ref[7]);
    EXPECT_EQ(dec.curFrameNumber(), 5);
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_FAILED_TO_READ_FILE);
    EXPECT_EQ(PictureMd5(frame.avFrame()), ref[7]);
    EXPECT_EQ(dec.curFrameNumber(), 5);

    // Out-of-range indexes: 3 outside the stream, 13 inside it but beyond the range.
    EXPECT_EQ(dec.getFrame(-1, frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(dec.getFrame(kFrames, frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(dec.getFrame(6, frame), ZE_NOX_CORE_FAILED_TO_READ_FILE);
    EXPECT_EQ(dec.curFrameNumber(), 5);
    EXPECT_EQ(PictureMd5(frame.avFrame()), ref[7]);

    // Backward steps are not held at the first frame of the range, only at the stream's start.
    EXPECT_EQ(Step(dec.getFirstFrame(frame), frame), ref[2]);
    EXPECT_EQ(Step(dec.getPrevFrame(frame), frame), ref[1]);
    EXPECT_EQ(Step(dec.getPrevFrame(frame), frame), ref[0]);
    EXPECT_EQ(dec.curFrameNumber(), -2);
    EXPECT_EQ(dec.getPrevFrame(frame), ZE_NOX_CORE_FAILED_TO_READ_FILE);
    EXPECT_EQ(PictureMd5(frame.avFrame()), ref[0]);

    // The index outlives a close, the navigation does not.
    dec.closeFile();
    EXPECT_FALSE(dec.isOpened());
    EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_NOT_OPENED);
    EXPECT_EQ(dec.getFrame(0, frame), ZE_NOX_CORE_NOT_OPENED);
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_NOT_OPENED);
    EXPECT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_NOT_OPENED);
    EXPECT_EQ(PictureMd5(frame.avFrame()), ref[0]);
}

TEST(YuvDecoder, RawFileWithoutParametersAsksForThem)
{
    QStringList const ref = FrameMd5s(TestMediaPath(QStringLiteral("yd_yuv420p_176x144.yuv.framemd5")));
    ASSERT_EQ(ref.size(), kFrames);
    ZeYuvDecoder dec;
    Frame frame;
    EXPECT_EQ(dec.openFile(TestMediaPath(QStringLiteral("yd_missing.yuv")), nullptr), ZE_NOX_CORE_FAILED_TO_OPEN_FILE);
    EXPECT_FALSE(dec.isOpened());

    // Not detected: the file stays open for the parameters question, but yields no frames.
    EXPECT_EQ(dec.openFile(TestMediaPath(kRaw420), nullptr), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
    EXPECT_TRUE(dec.isOpened());
    EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_NOT_OPENED);
    // A record of a pixel format the decoder does not read tells nothing either.
    StreamParams const rgb = Record(176, 144, AV_PIX_FMT_RGB24);
    EXPECT_EQ(dec.openFile(TestMediaPath(kRaw420), &rgb), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);

    EXPECT_EQ(dec.setRequiredYuvParams(176, 144, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, kRaw420FrameSize, {}),
              AV_PIX_FMT_YUV420P);
    ASSERT_EQ(dec.openFile(TestMediaPath(kRaw420), nullptr), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getOriginalFrameCount(), kFrames);
    EXPECT_EQ(dec.pixelFormat(), AV_PIX_FMT_YUV420P);
    for (int i : {3, 0, 9})
        EXPECT_EQ(Step(dec.getFrame(i, frame), frame), ref[i]) << i;
    // The parameters stay with the decoder for later opens.
    ASSERT_EQ(dec.openFile(TestMediaPath(kRaw420), nullptr), ZE_NOX_CORE_OK);
    EXPECT_EQ(Step(dec.getNextFrame(frame), frame), ref[0]);
}

TEST(YuvDecoder, SemiPlanar422FileGivesPackedFrames)
{
    // A 4:2:2 file of a luma plane and one plane of U,V pairs, made from ffmpeg's planar clip.
    QByteArray const planar = ReadAll(TestMediaPath(QStringLiteral("yd_yuv422p_176x144.yuv")));
    int const luma = 176 * 144;
    int const chroma = 88 * 144;
    int const frameSize = luma + 2 * chroma;
    ASSERT_EQ(planar.size(), kFrames * frameSize);
    QByteArray nv16;
    for (int f = 0; f < kFrames; ++f) {
        char const* src = planar.constData() + f * frameSize;
        nv16.append(src, luma);
        for (int i = 0; i < chroma; ++i) {
            nv16.append(src[luma + i]);
            nv16.append(src[luma + chroma + i]);
        }
    }
    QTemporaryDir dir;
    QString const path = dir.filePath(QStringLiteral("nv16.yuv"));
    ASSERT_TRUE(WriteAll(path, nv16));

    QStringList const ref = FrameMd5s(TestMediaPath(QStringLiteral("yd_yuv422p_176x144_yuyv.framemd5")));
    ASSERT_EQ(ref.size(), kFrames);
    ZeYuvDecoder dec;
    EXPECT_EQ(dec.setRequiredYuvParams(176, 144, 8, ImageInfo::IMG_422, YUVFile::FORMAT_SEMI_PLANAR, frameSize, {}),
              AV_PIX_FMT_YUYV422);
    ASSERT_EQ(dec.openFile(path, nullptr), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.pixelFormat(), AV_PIX_FMT_YUYV422);
    Frame frame;
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(Step(dec.getNextFrame(frame), frame), ref[i]) << i;

    // The record of that stream opens it again the same way.
    ZeYuvDecoder again;
    StreamParams const p = dec.params();
    ASSERT_EQ(again.openFile(path, &p), ZE_NOX_CORE_OK);
    EXPECT_EQ(Step(again.getLastFrame(frame), frame), ref[kFrames - 1]);

    // Crops off the chroma grid, the odd width included.
    for (CropInfo const& crop : {CropInfo{3, 1, 1, 3}, CropInfo{1, 0, 0, 0}, CropInfo{0, 5, 2, 2}}) {
        SCOPED_TRACE(testing::Message() << crop.left << "," << crop.right << "," << crop.top << "," << crop.bottom);
        ZeYuvDecoder cropped;
        cropped.setRequiredYuvParams(176, 144, 8, ImageInfo::IMG_422, YUVFile::FORMAT_SEMI_PLANAR, frameSize, crop);
        ASSERT_EQ(cropped.openFile(path, nullptr), ZE_NOX_CORE_OK);
        Frame part;
        ASSERT_EQ(cropped.getFrame(kFrames - 1, part), ZE_NOX_CORE_OK);
        EXPECT_EQ(part.width(), 176 - crop.left - crop.right);
        EXPECT_EQ(part.height(), 144 - crop.top - crop.bottom);
        EXPECT_EQ(CropMismatches(part, frame, crop, 1, 0), 0);
    }
}

TEST(YuvDecoder, TrailingPartialFrameCountsWithMissingSamplesZero)
{
    QByteArray bytes = ReadAll(TestMediaPath(kRaw420));
    ASSERT_EQ(bytes.size(), kFrames * kRaw420FrameSize);
    for (int i = 0; i < 100; ++i)
        bytes.append(static_cast<char>(i + 1));
    QTemporaryDir dir;
    QString const path = dir.filePath(QStringLiteral("tail.yuv"));
    ASSERT_TRUE(WriteAll(path, bytes));

    ZeYuvDecoder dec;
    StreamParams const record = Record(176, 144, AV_PIX_FMT_YUV420P);
    ASSERT_EQ(dec.openFile(path, &record), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getOriginalFrameCount(), kFrames + 1);
    Frame frame;
    ASSERT_EQ(dec.getLastFrame(frame), ZE_NOX_CORE_OK);
    AVFrame const* f = frame.avFrame();
    int nonZero = 0;
    for (int p = 0; p < 3; ++p) {
        int const w = p ? 88 : 176;
        int const h = p ? 72 : 144;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int const v = f->data[p][y * f->linesize[p] + x];
                int const k = y * w + x;
                if (p == 0 && k < 100)
                    EXPECT_EQ(v, k + 1) << k;
                else
                    nonZero += v != 0;
            }
    }
    EXPECT_EQ(nonZero, 0);
    // The frames before it are whole.
    QStringList const ref = FrameMd5s(TestMediaPath(QStringLiteral("yd_yuv420p_176x144.yuv.framemd5")));
    ASSERT_EQ(ref.size(), kFrames);
    EXPECT_EQ(Step(dec.getPrevFrame(frame), frame), ref[kFrames - 1]);
}

// A raw file without one whole frame holds no stream of these parameters: an empty file is a
// stream without frames (5, as the compressed decoders answer), a shorter one is refused before
// its picture is allocated, whether the parameters were set or come from a record.
TEST(YuvDecoder, FileShorterThanOneFrameIsRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case
    {
        char const* name;
        int bytes;
        int width, height, bitDepth;
        ImageInfo::IMG_TYPE type;
        AVPixelFormat fmt;
        ZeNoxCoreError result;
        int frames;
    };
    int const fs = kRaw420FrameSize;
    Case const cases[] = {
        {"empty", 0, 176, 144, 8, ImageInfo::IMG_420, AV_PIX_FMT_YUV420P, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED, 0},
        {"one byte short", fs - 1, 176, 144, 8, ImageInfo::IMG_420, AV_PIX_FMT_YUV420P, ZE_NOX_CORE_INVALID_PARAMETERS,
         0},
        // 16000 x 16000 4:4:4 at 10 bits: 1.5 GB a frame, a picture of twice that.
        {"huge picture of a 1-byte file", 1, 16000, 16000, 10, ImageInfo::IMG_444, AV_PIX_FMT_YUV444P10LE,
         ZE_NOX_CORE_INVALID_PARAMETERS, 0},
        {"one frame", fs, 176, 144, 8, ImageInfo::IMG_420, AV_PIX_FMT_YUV420P, ZE_NOX_CORE_OK, 1},
        {"one frame and a byte", fs + 1, 176, 144, 8, ImageInfo::IMG_420, AV_PIX_FMT_YUV420P, ZE_NOX_CORE_OK, 2},
    };
    QByteArray const source = ReadAll(TestMediaPath(kRaw420));
    ASSERT_GE(source.size(), fs + 1);
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        QString const path = dir.filePath(QStringLiteral("short.yuv"));
        ASSERT_TRUE(WriteAll(path, source.left(c.bytes)));
        qint64 const frameSize = ZeYuvDecoder().getFrameSize(c.width, c.height, c.bitDepth, c.type);
        ASSERT_GT(frameSize, 0);

        MessageCapture quiet(false);
        ZeYuvDecoder set;
        set.setRequiredYuvParams(c.width, c.height, c.bitDepth, c.type, YUVFile::FORMAT_PLANAR,
                                 static_cast<int>(frameSize), {});
        EXPECT_EQ(set.openFile(path, nullptr), c.result);
        EXPECT_EQ(set.getOriginalFrameCount(), c.frames);
        EXPECT_EQ(set.isOpened(), c.result == ZE_NOX_CORE_OK);

        ZeYuvDecoder withRecord;
        StreamParams const record = Record(c.width, c.height, c.fmt);
        EXPECT_EQ(withRecord.openFile(path, &record), c.result);
        EXPECT_EQ(withRecord.getOriginalFrameCount(), c.frames);
        Frame frame;
        EXPECT_EQ(withRecord.getFirstFrame(frame) == ZE_NOX_CORE_OK, c.result == ZE_NOX_CORE_OK);
    }
}

TEST(YuvDecoder, Y4MIndexFollowsTheFrameHeaders)
{
    QTemporaryDir dir;
    auto write = [&](char const* name, QByteArray const& bytes) {
        QString const path = dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(WriteAll(path, bytes));
        return path;
    };
    QByteArray const samples(12, '\x20'); // one 4x2 4:2:0 frame
    QByteArray const head("YUV4MPEG2 W4 H2 F25:1 C420\n");

    struct Case
    {
        char const* name;
        QByteArray bytes;
        ZeNoxCoreError result;
        int frames;
    };
    Case const cases[] = {
        {"plain.y4m", head + "FRAME\n" + samples + "FRAME\n" + samples, ZE_NOX_CORE_OK, 2},
        // A frame header declaring another size ends the index before that frame.
        {"resized.y4m",
         head + "FRAME\n" + samples + "FRAME\n" + samples + "FRAME W8\n" + QByteArray(24, 'a') + "FRAME\n" + samples,
         ZE_NOX_CORE_OK, 2},
        // A final "FRAME" with no samples after it is no frame; a short last frame is one.
        {"ends_at_header.y4m", head + "FRAME\n" + samples + "FRAME\n", ZE_NOX_CORE_OK, 1},
        {"short_last.y4m", head + "FRAME\n" + samples + "FRAME\n" + samples.left(5), ZE_NOX_CORE_OK, 2},
        // Without a width the file is not taken as Y4M and needs raw parameters.
        {"no_width.y4m", QByteArray("YUV4MPEG2 H2 C420\nFRAME\n") + samples, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED, 0},
        {"no_frames.y4m", head, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED, 0},
        // Formats the decoder cannot hand out.
        {"mono.y4m", QByteArray("YUV4MPEG2 W4 H2 Cmono\nFRAME\n") + QByteArray(8, 'a'),
         ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED, 0},
        {"12bit.y4m", QByteArray("YUV4MPEG2 W4 H2 C420p12\nFRAME\n") + QByteArray(24, 'a'),
         ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED, 0},
        {"411.y4m", QByteArray("YUV4MPEG2 W4 H2 C411\nFRAME\n") + samples, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED, 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ZeYuvDecoder dec;
        EXPECT_EQ(dec.openFile(write(c.name, c.bytes), nullptr), c.result);
        EXPECT_EQ(dec.openResult(), c.result);
        // Only the parameters question keeps the file open.
        EXPECT_EQ(dec.isOpened(), c.result != ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
        if (c.result != ZE_NOX_CORE_OK)
            continue;
        EXPECT_EQ(dec.getOriginalFrameCount(), c.frames);
        Frame frame;
        ASSERT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_OK);
        EXPECT_EQ(frame.avFrame()->data[0][0], 0x20);
        EXPECT_EQ(frame.avFrame()->data[2][1], 0x20);
    }

    // The samples of the short last frame beyond the file read as zero.
    ZeYuvDecoder dec;
    ASSERT_EQ(dec.openFile(dir.filePath(QStringLiteral("short_last.y4m")), nullptr), ZE_NOX_CORE_OK);
    Frame frame;
    ASSERT_EQ(dec.getLastFrame(frame), ZE_NOX_CORE_OK);
    AVFrame const* f = frame.avFrame();
    EXPECT_EQ(f->data[0][f->linesize[0] + 0], 0x20); // sample 4
    EXPECT_EQ(f->data[0][f->linesize[0] + 1], 0);    // sample 5
    EXPECT_EQ(f->data[1][0], 0);

    // A Y4M file opened again by the same decoder is examined again, not read as raw frames.
    QStringList const ref = FrameMd5s(TestMediaPath(QStringLiteral("yd_420p_176x144.y4m.framemd5")));
    ASSERT_EQ(ref.size(), kFrames);
    ZeYuvDecoder y4m;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(y4m.openFile(TestMediaPath(QStringLiteral("yd_420p_176x144.y4m")), nullptr), ZE_NOX_CORE_OK);
        EXPECT_EQ(y4m.getOriginalFrameCount(), kFrames);
        EXPECT_EQ(Step(y4m.getFrame(4, frame), frame), ref[4]);
    }
}

TEST(YuvDecoder, CropGivesTheVisiblePictureAndKeepsTheFullSizeInParams)
{
    struct Case
    {
        char const* file;
        int width, height;
        char const* md5;
    };
    // Crops of 8 against ffmpeg's crop filter; the odd width must not change the chroma crop.
    Case const cases[] = {
        {"yd_yuv420p_176x144.yuv", 176, 144, "yd_yuv420p_176x144_crop8.framemd5"},
        {"yd_yuv420p_175x143.yuv", 175, 143, "yd_yuv420p_175x143_crop8.framemd5"},
    };
    CropInfo const crop{8, 8, 8, 8};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.file);
        QStringList const ref = FrameMd5s(TestMediaPath(QString::fromLatin1(c.md5)));
        ASSERT_EQ(ref.size(), kFrames);
        ZeYuvDecoder dec;
        StreamParams const record = Record(c.width, c.height, AV_PIX_FMT_YUV420P, crop);
        ASSERT_EQ(dec.openFile(TestMediaPath(c.file), &record), ZE_NOX_CORE_OK);
        EXPECT_EQ(dec.width(), c.width - 16);
        EXPECT_EQ(dec.height(), c.height - 16);
        EXPECT_EQ(dec.getOriginalFrameCount(), kFrames);
        Frame frame;
        for (int i = 0; i < kFrames; ++i)
            EXPECT_EQ(Step(dec.getNextFrame(frame), frame), ref[i]) << i;

        StreamParams const p = dec.params();
        EXPECT_EQ(p.width, c.width);
        EXPECT_EQ(p.height, c.height);
        EXPECT_EQ(p.crop.left, 8);
        EXPECT_EQ(p.crop.bottom, 8);
        ZeYuvDecoder again;
        ASSERT_EQ(again.openFile(TestMediaPath(c.file), &p), ZE_NOX_CORE_OK);
        EXPECT_EQ(again.width(), dec.width());
        EXPECT_EQ(again.height(), dec.height());
        EXPECT_EQ(again.getOriginalFrameCount(), kFrames);
    }
}

TEST(YuvDecoder, CropsOffTheSubsamplingGridStayInsideTheChromaPlanes)
{
    struct Case
    {
        char const* file;
        int width, height;
        AVPixelFormat fmt;
    };
    Case const files[] = {
        {"yd_yuv420p_175x143.yuv", 175, 143, AV_PIX_FMT_YUV420P},
        {"yd_nv12_175x143.yuv", 175, 143, AV_PIX_FMT_NV12},
        {"yd_yuv422p_175x143.yuv", 175, 143, AV_PIX_FMT_YUV422P},
        {"yd_p010le_176x144.yuv", 176, 144, AV_PIX_FMT_P010LE},
        {"yd_yuv444p10le_175x143.yuv", 175, 143, AV_PIX_FMT_YUV444P10LE},
    };
    CropInfo const crops[] = {{3, 1, 1, 3}, {1, 1, 1, 1}, {0, 5, 7, 0}};
    for (Case const& c : files) {
        SCOPED_TRACE(c.file);
        ZeYuvDecoder full;
        StreamParams const whole = Record(c.width, c.height, c.fmt);
        ASSERT_EQ(full.openFile(TestMediaPath(c.file), &whole), ZE_NOX_CORE_OK);
        Frame reference;
        ASSERT_EQ(full.getFrame(3, reference), ZE_NOX_CORE_OK);
        AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(c.fmt);
        int const sw = desc->log2_chroma_w;
        int const sh = desc->log2_chroma_h;
        for (CropInfo const& crop : crops) {
            SCOPED_TRACE(testing::Message() << crop.left << "," << crop.right << "," << crop.top << "," << crop.bottom);
            ZeYuvDecoder dec;
            StreamParams const record = Record(c.width, c.height, c.fmt, crop);
            ASSERT_EQ(dec.openFile(TestMediaPath(c.file), &record), ZE_NOX_CORE_OK);
            Frame frame;
            ASSERT_EQ(dec.getFrame(3, frame), ZE_NOX_CORE_OK);
            int const w = c.width - crop.left - crop.right;
            int const h = c.height - crop.top - crop.bottom;
            ASSERT_EQ(frame.width(), w);
            ASSERT_EQ(frame.height(), h);
            EXPECT_EQ(CropMismatches(frame, reference, crop, sw, sh), 0);
        }
    }
}

TEST(YuvDecoder, InvalidRawParametersAreRefused)
{
    struct Case
    {
        char const* name;
        int width, height, bitDepth;
        int type;
        int order;
        int frameSize;
        CropInfo crop;
        ZeNoxCoreError result;
    };
    int const fs = kRaw420FrameSize;
    Case const cases[] = {
        {"zero width", 0, 144, 8, 1, 0, fs, {}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"zero height", 176, 0, 8, 1, 0, fs, {}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"negative width", -176, 144, 8, 1, 0, fs, {}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"too large", 100000, 100000, 8, 1, 0, fs, {}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"negative crop", 176, 144, 8, 1, 0, fs, {-2, 0, 0, 0}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"crop of the whole width", 176, 144, 8, 1, 0, fs, {88, 88, 0, 0}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"crop of the whole height", 176, 144, 8, 1, 0, fs, {0, 0, 0, 144}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"unknown chroma format", 176, 144, 8, 7, 0, fs, {}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"unknown layout", 176, 144, 8, 1, 10, fs, {}, ZE_NOX_CORE_INVALID_PARAMETERS},
        // Known but without a pixel format the frames could be handed out in.
        {"4:0:0", 176, 144, 8, 0, 0, fs, {}, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"YUY2 layout", 176, 144, 8, 2, 2, fs, {}, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"12 bits", 176, 144, 12, 1, 0, fs, {}, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"4:4:4 semi-planar", 176, 144, 8, 3, 1, fs, {}, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        // No frame size: the parameters count as not set.
        {"no frame size", 176, 144, 8, 1, 0, 0, {}, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
    };
    Frame frame;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ZeYuvDecoder dec;
        dec.setRequiredYuvParams(c.width, c.height, c.bitDepth, static_cast<ImageInfo::IMG_TYPE>(c.type),
                                 static_cast<YUVFile::Formats>(c.order), c.frameSize, c.crop);
        EXPECT_EQ(dec.openFile(TestMediaPath(kRaw420), nullptr), c.result);
        EXPECT_EQ(dec.openResult(), c.result);
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_NOT_OPENED);
        EXPECT_EQ(dec.isOpened(), c.result == ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
    }

    // The same checks on a stream-parameters record.
    struct RecordCase
    {
        char const* name;
        int width, height;
        CropInfo crop;
    };
    RecordCase const records[] = {
        {"zero width", 0, 144, {}},
        {"negative height", 176, -1, {}},
        {"crop of the whole width", 176, 144, {100, 76, 0, 0}},
        {"negative crop", 176, 144, {0, 0, 0, -8}},
    };
    for (RecordCase const& r : records) {
        SCOPED_TRACE(r.name);
        ZeYuvDecoder dec;
        StreamParams const record = Record(r.width, r.height, AV_PIX_FMT_YUV420P, r.crop);
        EXPECT_EQ(dec.openFile(TestMediaPath(kRaw420), &record), ZE_NOX_CORE_INVALID_PARAMETERS);
        EXPECT_FALSE(dec.isOpened());
        EXPECT_EQ(dec.getFrame(0, frame), ZE_NOX_CORE_NOT_OPENED);
    }
}

TEST(YuvDecoder, PixelFormatOfRawParametersWarnsWhenThereIsNone)
{
    ZeYuvDecoder dec;
    struct Case
    {
        int bitDepth, type, order;
        AVPixelFormat fmt;
        char const* warning;
    };
    Case const cases[] = {
        {8, 1, 1, AV_PIX_FMT_NV12, nullptr},
        {10, 1, 1, AV_PIX_FMT_P010LE, nullptr},
        {10, 3, 0, AV_PIX_FMT_YUV444P10LE, nullptr},
        {8, 1, 2, AV_PIX_FMT_NONE, "Invalid plane order 2"},
        {9, 1, 0, AV_PIX_FMT_NONE, "Invalid bit depth 9"},
        {10, 2, 1, AV_PIX_FMT_NONE, "Unknown combination of bit depth=10, image type=2 and plane order=1"},
        {8, 0, 0, AV_PIX_FMT_NONE, "Unknown combination of bit depth=8, image type=0 and plane order=0"},
    };
    for (Case const& c : cases) {
        MessageCapture capture;
        EXPECT_EQ(dec.setRequiredYuvParams(176, 144, c.bitDepth, static_cast<ImageInfo::IMG_TYPE>(c.type),
                                           static_cast<YUVFile::Formats>(c.order), kRaw420FrameSize, {}),
                  c.fmt);
        if (c.warning)
            EXPECT_EQ(capture.messages(), QStringList{QString::fromLatin1(c.warning)});
        else
            EXPECT_TRUE(capture.messages().isEmpty());
    }
}

// Files storing V before U (NV21, YV12) decode, with chroma order 1, to the frames of the same
// samples stored U first, in any order of reading and with a crop.
TEST(YuvDecoder, ChromaOrderVuSwapsThePlanesAfterReading)
{
    struct Pair
    {
        char const* vu;
        char const* uv;
        YUVFile::Formats layout;
    } const pairs[] = {
        {"rd_nv21.yuv", "rd_nv12.yuv", YUVFile::FORMAT_SEMI_PLANAR},
        {"rd_yv12.yuv", "rd_yuv420p.yuv", YUVFile::FORMAT_PLANAR},
    };
    int const frameSize = 176 * 144 * 3 / 2;
    for (CropInfo const crop : {CropInfo{}, CropInfo{8, 8, 8, 8}}) {
        for (Pair const& p : pairs) {
            SCOPED_TRACE(p.vu);
            SCOPED_TRACE(crop.left);
            ZeYuvDecoder vu, uv;
            vu.setRequiredYuvParams(176, 144, 8, ImageInfo::IMG_420, p.layout, frameSize, crop, 1);
            uv.setRequiredYuvParams(176, 144, 8, ImageInfo::IMG_420, p.layout, frameSize, crop, 0);
            ASSERT_EQ(vu.openFile(TestMediaPath(p.vu), nullptr), ZE_NOX_CORE_OK);
            ASSERT_EQ(uv.openFile(TestMediaPath(p.uv), nullptr), ZE_NOX_CORE_OK);
            EXPECT_EQ(vu.chromaOrder(), 1);
            EXPECT_EQ(vu.pixelFormat(), uv.pixelFormat());
            Frame a, b;
            for (int n : {0, 1, 2, 1, 0, 0}) {
                SCOPED_TRACE(n);
                ASSERT_EQ(vu.getFrame(n, a), ZE_NOX_CORE_OK);
                ASSERT_EQ(uv.getFrame(n, b), ZE_NOX_CORE_OK);
                EXPECT_EQ(PictureMd5(a.avFrame()), PictureMd5(b.avFrame()));
            }
            // The decoder's record reopens the file V first: what is measured is what is shown.
            StreamParams const record = vu.params();
            EXPECT_EQ(record.chromaOrder, 1);
            ZeYuvDecoder again;
            ASSERT_EQ(again.openFile(TestMediaPath(p.vu), &record), ZE_NOX_CORE_OK);
            ASSERT_EQ(again.getFrame(2, a), ZE_NOX_CORE_OK);
            ASSERT_EQ(uv.getFrame(2, b), ZE_NOX_CORE_OK);
            EXPECT_EQ(PictureMd5(a.avFrame()), PictureMd5(b.avFrame()));
            EXPECT_EQ(uv.params().chromaOrder, 0);
            // Read U first, the same file gives another picture.
            ZeYuvDecoder plain;
            plain.setRequiredYuvParams(176, 144, 8, ImageInfo::IMG_420, p.layout, frameSize, crop, 0);
            ASSERT_EQ(plain.openFile(TestMediaPath(p.vu), nullptr), ZE_NOX_CORE_OK);
            ASSERT_EQ(plain.getFrame(0, a), ZE_NOX_CORE_OK);
            ASSERT_EQ(uv.getFrame(0, b), ZE_NOX_CORE_OK);
            EXPECT_NE(PictureMd5(a.avFrame()), PictureMd5(b.avFrame()));
        }
    }
}
