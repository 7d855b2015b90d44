#include "decoders/ffmpeg_utils.h"
#include "display/frame.h"
#include "test_support.h"
#include "decoders/ze_ffmpeg_decoder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTextStream>

#include <gtest/gtest.h>

#include <set>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

using namespace ze::nox::core;

namespace {

// Hashes of ffmpeg's own decoding, one per frame, from NAME.framemd5.
QStringList ReferenceMd5(QString const& clip)
{
    return FrameMd5s(TestMediaPath(clip + ".framemd5"));
}

constexpr int kClipFrames = 30;

// Picture md5 after a navigation call, or the call's code when it failed.
QString Step(ZeNoxCoreError res, Frame const& frame)
{
    if (res != ZE_NOX_CORE_OK)
        return QStringLiteral("code %1").arg(res);
    return PictureMd5(frame);
}

} // namespace

TEST(FfmpegDecoder, RefusedStreams)
{
    const struct
    {
        char const* file;
        ZeStreamType type;
        ZeNoxCoreError expected;
    } kCases[] = {
        // Decodable, but the pixel format is not accepted: the refusal, not "not detected".
        {"ff_hevc12.h265", ZE_STREAM_TYPE_HEVC, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"ff_mjpeg422.mjpeg", ZE_STREAM_TYPE_MJPEG, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"ff_mjpeg444.mjpeg", ZE_STREAM_TYPE_MJPEG, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"ff_empty.h264", ZE_STREAM_TYPE_AVC, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {"no_such_file.h264", ZE_STREAM_TYPE_AVC, ZE_NOX_CORE_FAILED_TO_OPEN_FILE},
    };
    for (auto const& c : kCases) {
        SCOPED_TRACE(c.file);
        ZeFfmpegDecoder dec(c.type);
        EXPECT_EQ(dec.openFile(TestMediaPath(c.file), nullptr), c.expected);
        EXPECT_EQ(dec.openResult(), c.expected);
        EXPECT_FALSE(dec.isOpened());
        EXPECT_EQ(dec.bitrateKbps(25.0), 0);
        Frame frame;
        EXPECT_NE(dec.getFirstFrame(frame), ZE_NOX_CORE_OK);
        EXPECT_NE(dec.getNextFrame(frame), ZE_NOX_CORE_OK);
    }
}

TEST(FfmpegDecoder, OpenWithParams)
{
    const QString path = TestMediaPath("ff_hevc10.hevc");
    const QStringList ref = ReferenceMd5("ff_hevc10.hevc");
    StreamParams params;
    {
        ZeFfmpegDecoder probe(ZE_STREAM_TYPE_HEVC);
        ASSERT_EQ(probe.openFile(path, nullptr), ZE_NOX_CORE_OK);
        params = probe.params();
        probe.closeFile();
        EXPECT_FALSE(probe.isOpened());
        EXPECT_EQ(probe.openResult(), ZE_NOX_CORE_NOT_OPENED);
    }
    EXPECT_TRUE(params.valid);
    EXPECT_EQ(params.type, ZE_STREAM_TYPE_HEVC);
    EXPECT_EQ(params.frames, kClipFrames);

    ZeFfmpegDecoder dec(ZE_STREAM_TYPE_HEVC);
    ASSERT_EQ(dec.openFile(path, &params), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getOriginalFrameCount(), kClipFrames);
    Frame frame;
    EXPECT_EQ(Step(dec.getFrame(12, frame), frame), ref[12]);

    // An unaccepted pixel format in the record: validated as if no record had been given.
    StreamParams bad = params;
    bad.pixFmt = AV_PIX_FMT_YUV420P12LE;
    bad.frames = 3;
    ASSERT_EQ(dec.openFile(path, &bad), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getOriginalFrameCount(), kClipFrames);
    EXPECT_EQ(dec.pixelFormat(), AV_PIX_FMT_YUV420P10LE);

    // A record whose size does not match the pictures: refused pictures, no wrong-sized output.
    StreamParams wrongSize = params;
    wrongSize.width = 320;
    ASSERT_EQ(dec.openFile(path, &wrongSize), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_RESOLUTION_CHANGE);
    EXPECT_FALSE(frame.isValid());

    EXPECT_EQ(dec.openFile(TestMediaPath("no_such_file.hevc"), &params), ZE_NOX_CORE_FAILED_TO_OPEN_FILE);
    EXPECT_FALSE(dec.isOpened());
    EXPECT_NE(dec.getFirstFrame(frame), ZE_NOX_CORE_OK);
}

TEST(FfmpegDecoder, SizeChangeMidStreamIsRefused)
{
    ZeFfmpegDecoder dec(ZE_STREAM_TYPE_AVC);
    ASSERT_EQ(dec.openFile(TestMediaPath("ff_size_change.h264"), nullptr), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.width(), 176);
    EXPECT_EQ(dec.height(), 144);
    ASSERT_EQ(dec.getOriginalFrameCount(), 20);
    Frame frame;
    std::vector<ZeNoxCoreError> codes;
    for (int i = 0; i < 21; ++i) {
        const ZeNoxCoreError res = dec.getNextFrame(frame);
        codes.push_back(res);
        if (res == ZE_NOX_CORE_OK) {
            EXPECT_EQ(frame.width(), 176);
            EXPECT_EQ(frame.height(), 144);
        } else {
            EXPECT_FALSE(frame.isValid());
        }
    }
    std::vector<ZeNoxCoreError> expected(10, ZE_NOX_CORE_OK);
    expected.insert(expected.end(), 10, ZE_NOX_CORE_RESOLUTION_CHANGE);
    expected.push_back(ZE_NOX_CORE_END_OF_FILE);
    EXPECT_EQ(codes, expected);
    // Positioning walks past refused pictures to its target.
    EXPECT_EQ(dec.getFrame(15, frame), ZE_NOX_CORE_RESOLUTION_CHANGE);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 15);
    EXPECT_EQ(dec.getFrame(9, frame), ZE_NOX_CORE_OK);
    EXPECT_EQ(frame.width(), 176);
}

TEST(FfmpegDecoder, DamagedInputEndsWithKnownCodes)
{
    const struct
    {
        char const* file;
        std::set<ZeNoxCoreError> openCodes;
    } kCases[] = {
        {"ff_avc_cut.h264", {ZE_NOX_CORE_OK}},
        {"ff_avc_zeroed.h264", {ZE_NOX_CORE_OK}},
        {"ff_random.h264", {ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED, ZE_NOX_CORE_CORRUPTED_FRAMES}},
    };
    const std::set<ZeNoxCoreError> kStepCodes{ZE_NOX_CORE_OK, ZE_NOX_CORE_END_OF_FILE, ZE_NOX_CORE_INTERNAL_ERROR,
                                              ZE_NOX_CORE_RESOLUTION_CHANGE};
    for (auto const& c : kCases) {
        SCOPED_TRACE(c.file);
        ZeFfmpegDecoder dec(ZE_STREAM_TYPE_AVC);
        const ZeNoxCoreError opened = dec.openFile(TestMediaPath(c.file), nullptr);
        EXPECT_EQ(c.openCodes.count(opened), 1u) << opened;
        if (opened != ZE_NOX_CORE_OK)
            continue;
        Frame frame;
        int pictures = 0;
        ZeNoxCoreError res = ZE_NOX_CORE_OK;
        for (int i = 0; i <= dec.getOriginalFrameCount() && res != ZE_NOX_CORE_END_OF_FILE; ++i) {
            res = dec.getNextFrame(frame);
            EXPECT_EQ(kStepCodes.count(res), 1u) << res;
            pictures += res == ZE_NOX_CORE_OK;
        }
        EXPECT_EQ(res, ZE_NOX_CORE_END_OF_FILE);
        EXPECT_GT(pictures, 0);
        EXPECT_EQ(Step(dec.getFirstFrame(frame), frame).size(), 32);
    }
}
